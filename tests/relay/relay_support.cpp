#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <fstream>

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

StuckServer::StuckServer() {
    listenFd = corvane::test::ListenPeerOn(0, 0);  // room for one connection not accepted
    port = LocalPortOf(listenFd);
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

long ResidentKiB() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0) {
            return std::stol(line.substr(6));
        }
    }
    return -1;
}

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
              std::size_t total, int timeoutMs, std::vector<std::size_t>* reads) {
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
                if (reads != nullptr) {
                    reads->push_back(static_cast<std::size_t>(n));
                }
            }
            return got.size() >= total;
        },
        timeoutMs);
}

}  // namespace corvane::relay::test
