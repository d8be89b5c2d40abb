// The raw loopback peers of the fault tests and what they measure of this process.
#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

#include "fault_support.h"
#include "support/event_loop_wait.h"

namespace corvane::faults {

using corvane::test::WaitFor;

// --- Peers ------------------------------------------------------------------------------------

namespace {

sockaddr_in Loopback(std::uint16_t port) {
    sockaddr_in sin{};
    sin.sin_family = AF_INET;
    sin.sin_port = htons(port);
    sin.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return sin;
}

}  // namespace

int Listen(std::uint16_t& port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return -1;
    }
    sockaddr_in sin = Loopback(0);
    socklen_t len = sizeof sin;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&sin), sizeof sin) != 0 || ::listen(fd, 4096) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&sin), &len) != 0) {
        ::close(fd);
        return -1;
    }
    port = ntohs(sin.sin_port);
    return fd;
}

int Accept(int listener, int timeoutMs) {
    int fd = -1;
    WaitFor(
        [&] {
            fd = ::accept4(listener, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
            return fd >= 0;
        },
        timeoutMs);
    return fd;
}

int Connect(std::uint16_t port, int receiveBuffer) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return -1;
    }
    if (receiveBuffer > 0) {
        SetReceiveBuffer(fd, receiveBuffer);
    }
    const sockaddr_in sin = Loopback(port);
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&sin), sizeof sin) != 0 &&
        errno != EINPROGRESS) {
        ::close(fd);
        return -1;
    }
    return fd;
}

bool Send(int fd, std::string_view data, int timeoutMs) {
    std::size_t done = 0;
    return WaitFor(
        [&] {
            while (done < data.size()) {
                const ssize_t n = ::send(fd, data.data() + done, data.size() - done, MSG_NOSIGNAL);
                if (n <= 0) {
                    break;
                }
                done += static_cast<std::size_t>(n);
            }
            return done == data.size();
        },
        timeoutMs);
}

bool Receive(int fd, std::string& into, std::size_t n, int timeoutMs) {
    char buffer[65536];
    return WaitFor(
        [&] {
            for (;;) {
                const ssize_t got = ::recv(fd, buffer, sizeof buffer, 0);
                if (got <= 0) {
                    break;
                }
                into.append(buffer, static_cast<std::size_t>(got));
            }
            return into.size() >= n;
        },
        timeoutMs);
}

bool WaitClosed(int fd, std::string& into, int timeoutMs, bool* reset) {
    char buffer[65536];
    return WaitFor(
        [&] {
            for (;;) {
                const ssize_t got = ::recv(fd, buffer, sizeof buffer, 0);
                if (got > 0) {
                    into.append(buffer, static_cast<std::size_t>(got));
                    continue;
                }
                if (got == 0 || errno == ECONNRESET) {
                    if (reset != nullptr) {
                        *reset = got != 0;
                    }
                    return true;
                }
                return false;
            }
        },
        timeoutMs);
}

void ResetAndClose(int fd) {
    const linger abort{1, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
    ::close(fd);
}

void SetReceiveBuffer(int fd, int bytes) {
    ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &bytes, sizeof bytes);
}

std::uint16_t RefusingPort() {
    std::uint16_t port = 0;
    const int fd = Listen(port);
    ::close(fd);
    return port;
}

std::string ClientConnected(int fd) {
    sockaddr_in sin{};
    socklen_t len = sizeof sin;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&sin), &len);
    return "Client connected; 127.0.0.1:" + std::to_string(ntohs(sin.sin_port));
}

int OpenDescriptors() {
    DIR* dir = ::opendir("/proc/self/fd");
    if (dir == nullptr) {
        return -1;
    }
    int count = 0;
    while (const dirent* entry = ::readdir(dir)) {
        if (entry->d_name[0] != '.') {
            ++count;
        }
    }
    ::closedir(dir);
    return count - 1;  // the directory's own descriptor
}

void ExpectRelays(int client, int server) {
    ASSERT_TRUE(Send(client, "ping"));
    std::string got;
    ASSERT_TRUE(Receive(server, got, 4));
    EXPECT_EQ(got, "ping");
    ASSERT_TRUE(Send(server, "pong"));
    got.clear();
    ASSERT_TRUE(Receive(client, got, 4));
    EXPECT_EQ(got, "pong");
}

std::string DescriptorList() {
    std::string list;
    DIR* dir = ::opendir("/proc/self/fd");
    if (dir == nullptr) {
        return list;
    }
    while (const dirent* entry = ::readdir(dir)) {
        if (entry->d_name[0] == '.') {
            continue;
        }
        char target[256] = {};
        const std::string path = std::string("/proc/self/fd/") + entry->d_name;
        const ssize_t n = ::readlink(path.c_str(), target, sizeof target - 1);
        list += std::string(entry->d_name) + " -> " + (n > 0 ? target : "?") + "\n";
    }
    ::closedir(dir);
    return list;
}

std::string Pattern(std::size_t n, unsigned seed) {
    std::string bytes(n, '\0');
    std::uint32_t x = seed * 2654435761u + 1;
    for (char& c : bytes) {
        x = x * 1664525u + 1013904223u;
        c = static_cast<char>(x >> 24);
    }
    return bytes;
}

std::string Numbered(int number, std::string_view text) {
    return std::to_string(number) + ": " + std::string(text);
}

}  // namespace corvane::faults
