// The measuring end of the Network Conditions' accuracy benchmark (run.sh): the same client
// and servers for a path through corvane-cli and for a path through the kernel's netem.
//
//   corvane_conditions_accuracy echo PORT          an echo server on 127.0.0.1
//   corvane_conditions_accuracy sink PORT          takes "N" then N bytes, answers one byte
//   corvane_conditions_accuracy pingpong PORT COUNT
//       COUNT round trips of 64 bytes after 20 to warm up; prints every round trip in
//       microseconds, one per line
//   corvane_conditions_accuracy push PORT BYTES
//       sends BYTES as fast as the path takes them and waits for the sink's answer; prints
//       the rate in bytes per second over the time from the first byte sent to the answer
//
// Blocking sockets with TCP_NODELAY, one connection at a time: the figures are the path's,
// not the program's. Loopback only.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

int Usage() {
    std::fprintf(stderr,
                 "usage: corvane_conditions_accuracy echo|sink PORT\n"
                 "       corvane_conditions_accuracy pingpong PORT COUNT\n"
                 "       corvane_conditions_accuracy push PORT BYTES\n");
    return 2;
}

void NoDelay(int fd) {
    const int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

sockaddr_in Loopback(int port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<std::uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return a;
}

bool ReadExactly(int fd, char* p, std::size_t n) {
    while (n > 0) {
        const ssize_t got = ::recv(fd, p, n, 0);
        if (got <= 0) {
            return false;
        }
        p += got;
        n -= static_cast<std::size_t>(got);
    }
    return true;
}

bool WriteAll(int fd, const char* p, std::size_t n) {
    while (n > 0) {
        const ssize_t put = ::send(fd, p, n, MSG_NOSIGNAL);
        if (put <= 0) {
            return false;
        }
        p += put;
        n -= static_cast<std::size_t>(put);
    }
    return true;
}

void Echo(int fd) {
    std::vector<char> buf(1 << 16);
    for (;;) {
        const ssize_t n = ::recv(fd, buf.data(), buf.size(), 0);
        if (n <= 0 || !WriteAll(fd, buf.data(), static_cast<std::size_t>(n))) {
            break;
        }
    }
    ::close(fd);
}

void Sink(int fd) {
    char header[32] = {};
    std::size_t have = 0;
    while (have < sizeof header - 1 && (have == 0 || header[have - 1] != '\n')) {
        if (::recv(fd, header + have, 1, 0) != 1) {
            ::close(fd);
            return;
        }
        ++have;
    }
    unsigned long long left = std::strtoull(header, nullptr, 10);
    std::vector<char> buf(1 << 20);
    while (left > 0) {
        const ssize_t n = ::recv(fd, buf.data(), buf.size(), 0);
        if (n <= 0) {
            ::close(fd);
            return;
        }
        left -= std::min<unsigned long long>(left, static_cast<unsigned long long>(n));
    }
    WriteAll(fd, "!", 1);
    ::close(fd);
}

int Serve(int port, void (*handler)(int)) {
    const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    const int on = 1;
    ::setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    const sockaddr_in a = Loopback(port);
    if (::bind(listener, reinterpret_cast<const sockaddr*>(&a), sizeof a) != 0 ||
        ::listen(listener, 64) != 0) {
        std::perror("listen");
        return 1;
    }
    for (;;) {
        const int fd = ::accept(listener, nullptr, nullptr);
        if (fd >= 0) {
            NoDelay(fd);
            std::thread(handler, fd).detach();
        }
    }
}

int Connect(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    NoDelay(fd);
    const sockaddr_in a = Loopback(port);
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&a), sizeof a) != 0) {
        std::perror("connect");
        std::exit(1);
    }
    return fd;
}

int PingPong(int port, long count) {
    const int fd = Connect(port);
    char message[64];
    std::memset(message, 'p', sizeof message);
    char answer[64];
    constexpr long kWarmUp = 20;
    for (long i = 0; i < kWarmUp + count; ++i) {
        const auto start = Clock::now();
        if (!WriteAll(fd, message, sizeof message) || !ReadExactly(fd, answer, sizeof answer)) {
            std::fprintf(stderr, "the path broke after %ld round trips\n", i);
            return 1;
        }
        const auto us =
            std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - start).count() /
            1000.0;
        if (i >= kWarmUp) {
            std::printf("%.1f\n", us);
        }
    }
    ::close(fd);
    return 0;
}

int Push(int port, unsigned long long bytes) {
    const int fd = Connect(port);
    const std::string header = std::to_string(bytes) + "\n";
    std::vector<char> buf(1 << 20, 'x');
    const auto start = Clock::now();
    if (!WriteAll(fd, header.data(), header.size())) {
        return 1;
    }
    for (unsigned long long left = bytes; left > 0;) {
        const std::size_t n =
            static_cast<std::size_t>(std::min<unsigned long long>(left, buf.size()));
        if (!WriteAll(fd, buf.data(), n)) {
            std::fprintf(stderr, "the path broke\n");
            return 1;
        }
        left -= n;
    }
    char answer = 0;
    if (!ReadExactly(fd, &answer, 1)) {
        std::fprintf(stderr, "no answer from the sink\n");
        return 1;
    }
    const double seconds =
        std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - start).count() / 1e9;
    std::printf("%.1f\n", static_cast<double>(bytes) / seconds);
    ::close(fd);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        return Usage();
    }
    const std::string mode = argv[1];
    const int port = std::atoi(argv[2]);
    if (mode == "echo" && argc == 3) {
        return Serve(port, Echo);
    }
    if (mode == "sink" && argc == 3) {
        return Serve(port, Sink);
    }
    if (mode == "pingpong" && argc == 4) {
        return PingPong(port, std::atol(argv[3]));
    }
    if (mode == "push" && argc == 4) {
        return Push(port, std::strtoull(argv[3], nullptr, 10));
    }
    return Usage();
}
