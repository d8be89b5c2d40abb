#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "relay_test_support.h"
#include "support/event_loop_wait.h"

namespace corvane::relay::test {

using corvane::test::WaitFor;

void RecordingRelayView::ShowCounter(Counter counter, std::string_view text) {
    labels[counter] = std::string(text);
    shown.emplace_back(counter, std::string(text));
}

std::string RecordingRelayView::Label(Counter counter) const {
    const auto it = labels.find(counter);
    return it == labels.end() ? std::string("0") : it->second;
}

void RecordingLogView::DeleteFirstLine() {
    const auto end = text.find("\r\n");
    text.erase(0, end == std::string::npos ? text.size() : end + 2);
    if (!lines.empty()) {
        lines.erase(lines.begin());
    }
}

void RecordingLogView::AppendRun(std::string_view run, log::Colour colour) {
    text.append(run);
    std::size_t start = 0;
    while (start < run.size()) {
        const auto end = run.find("\r\n", start);
        const auto stop = end == std::string_view::npos ? run.size() : end;
        lines.emplace_back(std::string(run.substr(start, stop - start)), colour);
        start = stop + 2;
    }
}

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

int ListenPeer(std::uint16_t& port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in sin = Loopback(0);
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&sin), sizeof sin) != 0 ||
        ::listen(fd, SOMAXCONN) != 0) {
        return -1;
    }
    socklen_t len = sizeof sin;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&sin), &len);
    port = ntohs(sin.sin_port);
    MakeNonBlocking(fd);
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
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    sockaddr_in sin = Loopback(port);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&sin), sizeof sin) != 0 && errno != EINPROGRESS) {
        ::close(fd);
        return -1;
    }
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
    char buf[65536];
    return WaitFor(
        [&] {
            for (;;) {
                const ssize_t got = ::recv(fd, buf, sizeof buf, 0);
                if (got == 0) {
                    return true;
                }
                if (got < 0) {
                    return errno != EAGAIN && errno != EWOULDBLOCK;  // a reset ends it too
                }
                into.append(buf, static_cast<std::size_t>(got));
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

void RelayFixture::SetUp() {
    ASSERT_EQ(platform::WSAStartup(0x0101), 0);
    log = std::make_unique<log::TrafficLog>();
    log->BufferSize = log::kUnlimited;
    log->Detail = log::kDetailLow;
    log->SetView(&logView);
    engine = std::make_unique<RelayEngine>(*log, relayView);
    serverListen = ListenPeer(serverPort);
    ASSERT_GE(serverListen, 0);
}

void RelayFixture::TearDown() {
    engine.reset();
    log.reset();
    for (int fd : peers) {
        ClosePeer(fd);
    }
    ClosePeer(serverListen);
    platform::WSACleanup();
}

bool RelayFixture::Start(const std::string& remoteHost, std::uint16_t remotePort,
                         std::uint16_t localPort) {
    engine->RemotePortNumber = remotePort;
    engine->LocalPortNumber = localPort;
    if (!engine->BeginRelay(remoteHost)) {
        return false;
    }
    engine->SetRunningState(true);
    engine->ZeroTransferred();
    return true;
}

std::vector<std::string> RelayFixture::Lines(bool withData) {
    while (log->FlushLogRun()) {
    }
    std::vector<std::string> result;
    auto take = [&](const std::string& line, log::Colour colour) {
        if (withData || (colour != log::ColourOf(log::LogKind::Data) && colour != log::kPurple)) {
            result.push_back(line);
        }
    };
    for (const auto& [line, colour] : logView.lines) {
        take(line, colour);
    }
    // While paused the lines wait in the queue.
    for (const log::LogEntry* e = log->Pending().head; e != nullptr; e = e->next) {
        std::string_view run = e->View();
        std::size_t start = 0;
        while (start < run.size()) {
            const auto end = run.find("\r\n", start);
            const auto stop = end == std::string_view::npos ? run.size() : end;
            take(std::string(run.substr(start, stop - start)), e->colour);
            start = stop + 2;
        }
    }
    return result;
}

std::vector<std::string> RelayFixture::LinesOf(int number) {
    const std::string prefix = std::to_string(number) + ": ";
    std::vector<std::string> result;
    for (const std::string& line : Lines()) {
        if (line.rfind(prefix, 0) == 0) {
            result.push_back(line.substr(prefix.size()));
        }
    }
    return result;
}

Connection* RelayFixture::OnlyConnection() {
    Connection* c = engine->ConnectionList();
    EXPECT_NE(c, nullptr);
    EXPECT_TRUE(c == nullptr || c->next == nullptr);
    return c;
}

bool RelayFixture::ConnectThrough(int& client, int& server) {
    const int before = engine->ConnectionCount();
    client = ConnectPeer(engine->LocalPortNumber);
    if (client < 0) {
        return false;
    }
    peers.push_back(client);
    server = AcceptPeer(serverListen);
    if (server < 0) {
        return false;
    }
    peers.push_back(server);
    return WaitFor([&] {
        Connection* c = engine->ConnectionList();
        return engine->ConnectionCount() == before + 1 && c != nullptr && c->connected;
    });
}

std::int64_t RelayFixture::CounterValue(relay::Counter counter) const {
    switch (counter) {
        case relay::Counter::Connections:
            return engine->ConnectionCount();
        case relay::Counter::CSTransferred:
            return engine->CSTransferred();
        case relay::Counter::CSBuffered:
            return engine->CSBuffered();
        case relay::Counter::SCTransferred:
            return engine->SCTransferred();
        case relay::Counter::SCBuffered:
            return engine->SCBuffered();
    }
    return 0;
}

bool RelayFixture::Consistent() const {
    std::int64_t cs = 0;
    std::int64_t sc = 0;
    std::int32_t count = 0;
    for (const Connection* c = engine->ConnectionList(); c != nullptr; c = c->next) {
        cs += c->clientToServer.length;
        sc += c->serverToClient.length;
        ++count;
    }
    return cs == engine->CSBuffered() && sc == engine->SCBuffered() &&
           count == engine->ConnectionCount();
}

}  // namespace corvane::relay::test

namespace corvane::relay::test {

std::uint16_t LocalPortOf(int fd) {
    sockaddr_in sin{};
    socklen_t len = sizeof sin;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&sin), &len);
    return ntohs(sin.sin_port);
}

StuckServer::StuckServer() {
    listenFd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in sin = Loopback(0);
    ::bind(listenFd, reinterpret_cast<sockaddr*>(&sin), sizeof sin);
    ::listen(listenFd, 0);  // room for one connection that is not accepted
    port = LocalPortOf(listenFd);
    MakeNonBlocking(listenFd);
    filler = ConnectPeer(port);
    // The filler is established (and queued) once the connect has finished.
    pollfd p{filler, POLLOUT, 0};
    ::poll(&p, 1, 5000);
}

StuckServer::~StuckServer() {
    ClosePeer(filler);
    ClosePeer(listenFd);
}

int StuckServer::Admit(int timeoutMs) {
    return AcceptPeer(listenFd, timeoutMs);
}

}  // namespace corvane::relay::test

namespace corvane::relay::test {

std::size_t SendUntil(int from, std::string_view data, const std::function<bool()>& cond,
                      int timeoutMs) {
    std::size_t sent = 0;
    WaitFor(
        [&] {
            if (cond() || sent == data.size()) {
                return true;
            }
            const std::size_t piece = std::min<std::size_t>(data.size() - sent, 65536);
            const ssize_t n = ::send(from, data.data() + sent, piece, MSG_NOSIGNAL);
            if (n > 0) {
                sent += static_cast<std::size_t>(n);
            }
            return false;
        },
        timeoutMs);
    return sent;
}

bool Exchange(int from, std::string_view data, std::size_t offset, int to, std::string& got,
              std::size_t total, int timeoutMs) {
    char buf[65536];
    return WaitFor(
        [&] {
            while (offset < data.size()) {
                const ssize_t n =
                    ::send(from, data.data() + offset,
                           std::min<std::size_t>(data.size() - offset, 65536), MSG_NOSIGNAL);
                if (n <= 0) {
                    break;
                }
                offset += static_cast<std::size_t>(n);
            }
            for (;;) {
                const ssize_t n = ::recv(to, buf, sizeof buf, 0);
                if (n <= 0) {
                    break;
                }
                got.append(buf, static_cast<std::size_t>(n));
            }
            return got.size() >= total;
        },
        timeoutMs);
}

}  // namespace corvane::relay::test
