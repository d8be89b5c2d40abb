#include "support/loopback_peers.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>

#include "support/event_loop_wait.h"

namespace corvane::test {

namespace {

sockaddr_in Loopback(std::uint16_t port) {
    sockaddr_in sin{};
    sin.sin_family = AF_INET;
    sin.sin_port = htons(port);
    sin.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return sin;
}

void MakeNonBlocking(int fd) {
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
}

}  // namespace

int ListenPeerOn(std::uint16_t port, int backlog) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return -1;
    }
    sockaddr_in sin = Loopback(port);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&sin), sizeof sin) != 0 ||
        ::listen(fd, backlog) != 0) {
        ::close(fd);
        return -1;
    }
    MakeNonBlocking(fd);
    return fd;
}

int ListenPeer(std::uint16_t& port) {
    const int fd = ListenPeerOn(0);
    if (fd >= 0) {
        port = LocalPortOf(fd);
    }
    return fd;
}

int AcceptPeer(int listenFd, int timeoutMs) {
    int fd = -1;
    WaitFor(
        [&] {
            fd = ::accept4(listenFd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
            return fd >= 0;
        },
        timeoutMs);
    return fd;
}

int ConnectPeer(std::uint16_t port) {
    return ConnectPeer(port, 0);
}

int ConnectPeer(std::uint16_t port, int receiveBuffer) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return -1;
    }
    if (receiveBuffer > 0) {
        SetReceiveBuffer(fd, receiveBuffer);
    }
    sockaddr_in sin = Loopback(port);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&sin), sizeof sin) != 0 && errno != EINPROGRESS) {
        ::close(fd);
        return -1;
    }
    return fd;
}

int ConnectedPeer(std::uint16_t port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return -1;
    }
    sockaddr_in sin = Loopback(port);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&sin), sizeof sin) != 0) {
        ::close(fd);
        return -1;
    }
    MakeNonBlocking(fd);
    return fd;
}

bool SendPeer(int fd, std::string_view data, int timeoutMs) {
    std::size_t sent = 0;
    return WaitFor(
        [&] {
            while (sent < data.size()) {
                const ssize_t n = ::send(fd, data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
                if (n <= 0) {
                    return false;
                }
                sent += static_cast<std::size_t>(n);
            }
            return true;
        },
        timeoutMs);
}

bool ReceivePeer(int fd, std::string& into, std::size_t n, int timeoutMs) {
    char buf[65536];
    return WaitFor(
        [&] {
            while (into.size() < n) {
                const ssize_t got = ::recv(fd, buf, sizeof buf, 0);
                if (got <= 0) {
                    return false;
                }
                into.append(buf, static_cast<std::size_t>(got));
            }
            return true;
        },
        timeoutMs);
}

bool WaitPeerClosed(int fd, std::string& into, int timeoutMs) {
    return WaitPeerClosed(fd, into, timeoutMs, nullptr);
}

bool WaitPeerClosed(int fd, std::string& into, int timeoutMs, bool* reset) {
    char buf[65536];
    return WaitFor(
        [&] {
            for (;;) {
                const ssize_t got = ::recv(fd, buf, sizeof buf, 0);
                if (got > 0) {
                    into.append(buf, static_cast<std::size_t>(got));
                    continue;
                }
                if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
                    return false;
                }
                if (reset != nullptr) {
                    *reset = got != 0;  // a reset ends it too
                }
                return true;
            }
        },
        timeoutMs);
}

namespace {

// The kernel's form of a numeric address of either family; false when it is not one.
bool PeerAddress(const char* address, std::uint16_t port, sockaddr_storage& storage,
                 socklen_t& length) {
    storage = {};
    auto& sin = reinterpret_cast<sockaddr_in&>(storage);
    auto& sin6 = reinterpret_cast<sockaddr_in6&>(storage);
    if (::inet_pton(AF_INET, address, &sin.sin_addr) == 1) {
        sin.sin_family = AF_INET;
        sin.sin_port = htons(port);
        length = sizeof sin;
        return true;
    }
    if (::inet_pton(AF_INET6, address, &sin6.sin6_addr) == 1) {
        sin6.sin6_family = AF_INET6;
        sin6.sin6_port = htons(port);
        length = sizeof sin6;
        return true;
    }
    return false;
}

}  // namespace

int ListenPeerAt(const char* address, std::uint16_t& port) {
    sockaddr_storage storage{};
    socklen_t length = 0;
    if (!PeerAddress(address, 0, storage, length)) {
        return -1;
    }
    const int fd = ::socket(storage.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&storage), length) != 0 ||
        ::listen(fd, SOMAXCONN) != 0) {
        if (fd >= 0) {
            ::close(fd);
        }
        return -1;
    }
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&storage), &length);
    port = ntohs(storage.ss_family == AF_INET6 ? reinterpret_cast<sockaddr_in6&>(storage).sin6_port
                                               : reinterpret_cast<sockaddr_in&>(storage).sin_port);
    MakeNonBlocking(fd);
    return fd;
}

int ConnectPeerTo(const char* address, std::uint16_t port) {
    sockaddr_storage storage{};
    socklen_t length = 0;
    if (!PeerAddress(address, port, storage, length)) {
        return -1;
    }
    const int fd = ::socket(storage.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return -1;
    }
    if (::connect(fd, reinterpret_cast<sockaddr*>(&storage), length) != 0 && errno != EINPROGRESS) {
        ::close(fd);
        return -1;
    }
    return fd;
}

bool HaveIPv6Loopback() {
    std::uint16_t port = 0;
    const int fd = ListenPeerAt("::1", port);
    ClosePeer(fd);
    return fd >= 0;
}

void ClosePeer(int fd) {
    if (fd >= 0) {
        ::close(fd);
    }
}

void ResetPeer(int fd) {
    linger l{1, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &l, sizeof l);
    ::close(fd);
}

void SetReceiveBuffer(int fd, int bytes) {
    ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &bytes, sizeof bytes);
}

std::uint16_t RefusingPort() {
    std::uint16_t port = 0;
    const int fd = ListenPeer(port);
    ::close(fd);
    return port;
}

std::uint16_t LocalPortOf(int fd) {
    sockaddr_in sin{};
    socklen_t len = sizeof sin;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&sin), &len);
    return ntohs(sin.sin_port);
}

void ExpectRelays(int client, int server) {
    ASSERT_TRUE(SendPeer(client, "ping"));
    std::string got;
    ASSERT_TRUE(ReceivePeer(server, got, 4));
    EXPECT_EQ(got, "ping");
    ASSERT_TRUE(SendPeer(server, "pong"));
    got.clear();
    ASSERT_TRUE(ReceivePeer(client, got, 4));
    EXPECT_EQ(got, "pong");
}

}  // namespace corvane::test
