#include "soak_traffic.h"

#include "soak_connection.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace corvane::soak {

namespace {

constexpr std::uint64_t kListenerKey = 0;
constexpr std::uint64_t kUnpairedTag = 3;
constexpr int kStepMs = 5;
constexpr int kNewPerStep = 50;  // so that the relay's accept queue never overflows
constexpr std::size_t kMaxFailuresKept = 20;

sockaddr_in Loopback(std::uint16_t port) {
    sockaddr_in sin{};
    sin.sin_family = AF_INET;
    sin.sin_port = htons(port);
    sin.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return sin;
}

}  // namespace

SoakTraffic::SoakTraffic(const TrafficOptions& options) : options_(options), random_(options.seed) {
    epoll_ = ::epoll_create1(EPOLL_CLOEXEC);
}

SoakTraffic::~SoakTraffic() {
    for (auto& [id, c] : conns_) {
        for (Side* s : {&c->client, &c->server}) {
            if (s->fd >= 0) {
                ::close(s->fd);
            }
        }
    }
    for (auto& [fd, bytes] : unpaired_) {
        ::close(fd);
    }
    if (listener_ >= 0) {
        ::close(listener_);
    }
    if (epoll_ >= 0) {
        ::close(epoll_);
    }
}

bool SoakTraffic::Watch(int fd, std::uint64_t key) {
    epoll_event ev{};
    ev.events = EPOLLIN | EPOLLOUT | EPOLLRDHUP | EPOLLET;
    ev.data.u64 = key;
    if (::epoll_ctl(epoll_, EPOLL_CTL_ADD, fd, &ev) == 0) {
        return true;
    }
    return errno == EEXIST && ::epoll_ctl(epoll_, EPOLL_CTL_MOD, fd, &ev) == 0;
}

std::uint16_t SoakTraffic::ListenForServers() {
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    sockaddr_in sin = Loopback(0);
    socklen_t len = sizeof sin;
    if (listener_ < 0 || ::bind(listener_, reinterpret_cast<sockaddr*>(&sin), sizeof sin) != 0 ||
        ::listen(listener_, 4096) != 0 ||
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&sin), &len) != 0 ||
        !Watch(listener_, kListenerKey)) {
        return 0;
    }
    return ntohs(sin.sin_port);
}

void SoakTraffic::Fail(const Conn& c, const std::string& what) {
    ++report_.failures;
    if (report_.firstFailures.size() < kMaxFailuresKept) {
        report_.failedClientPorts.push_back(c.clientPort);
        report_.firstFailures.push_back("Connection " + std::to_string(c.id) + " (ending " +
                                        std::to_string(static_cast<int>(c.ending)) + "): " + what);
    }
}

void SoakTraffic::Begin(std::uint16_t relayPort) {
    auto c = std::make_unique<Conn>();
    c->id = nextId_++;
    c->ending = static_cast<Ending>(random_() % kEndings);
    c->begun = Clock::now();
    std::uniform_int_distribution<std::int64_t> size(0, options_.maxBytesEachWay);
    for (Side* s : {&c->client, &c->server}) {
        s->outSeed = random_();
        s->toSend = size(random_);
        s->slow = static_cast<int>(random_() % 100) < options_.slowReaderPercent;
        s->nextChunk = c->begun;
    }
    c->client.inSeed = c->server.outSeed;
    c->server.inSeed = c->client.outSeed;
    c->client.expected = c->server.toSend;
    c->server.expected = c->client.toSend;
    const auto life = std::chrono::milliseconds(
        200 + static_cast<int>(random_() % static_cast<unsigned>(4 * options_.maxThinkMs + 1)));
    c->resetAt = c->begun + life;
    c->client.pending.assign(reinterpret_cast<const char*>(&c->id), kHeader);

    c->client.fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    const sockaddr_in sin = Loopback(relayPort);
    if (c->client.fd < 0 ||
        (::connect(c->client.fd, reinterpret_cast<const sockaddr*>(&sin), sizeof sin) != 0 &&
         errno != EINPROGRESS) ||
        !Watch(c->client.fd, c->id << 2)) {
        Fail(*c, std::string("cannot connect: ") + std::strerror(errno));
        if (c->client.fd >= 0) {
            ::close(c->client.fd);
        }
        return;
    }
    sockaddr_in local{};
    socklen_t len = sizeof local;
    ::getsockname(c->client.fd, reinterpret_cast<sockaddr*>(&local), &len);
    c->clientPort = ntohs(local.sin_port);
    ++report_.begun;
    conns_.emplace(c->id, std::move(c));
}

void SoakTraffic::AcceptServers() {
    for (;;) {
        const int fd = ::accept4(listener_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) {
            return;
        }
        unpaired_[fd];
        Watch(fd, (static_cast<std::uint64_t>(fd) << 2) | kUnpairedTag);
    }
}

void SoakTraffic::OnEvent(std::uint64_t key, std::uint32_t events) {
    if (key == kListenerKey) {
        AcceptServers();
        return;
    }
    if ((key & 3) == kUnpairedTag) {
        const int fd = static_cast<int>(key >> 2);
        auto at = unpaired_.find(fd);
        if (at == unpaired_.end()) {
            return;
        }
        char buffer[4096];
        for (;;) {
            const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
            if (n > 0) {
                at->second.append(buffer, static_cast<std::size_t>(n));
                if (at->second.size() >= kHeader) {
                    break;
                }
                continue;
            }
            if (n == 0 || errno != EAGAIN) {
                Conn none;
                Fail(none, "a Server connection ended before its Client's id arrived");
                ::close(fd);
                unpaired_.erase(at);
            }
            return;
        }
        std::uint64_t id = 0;
        std::memcpy(&id, at->second.data(), kHeader);
        const std::string rest = at->second.substr(kHeader);
        unpaired_.erase(at);
        auto conn = conns_.find(id);
        if (conn == conns_.end() || conn->second->paired) {
            Conn none;
            Fail(none, "a Server connection with an unknown id " + std::to_string(id));
            ::close(fd);
            return;
        }
        Conn& c = *conn->second;
        c.paired = true;
        c.server.fd = fd;
        c.server.readable = true;
        c.server.writable = true;
        Watch(fd, (c.id << 2) | 1);
        // What came after the id is the first of the Client's stream.
        for (std::size_t i = 0; i < rest.size() && !c.failed; ++i) {
            if (static_cast<std::uint8_t>(rest[i]) !=
                StreamByte(c.server.inSeed, c.server.received + static_cast<std::int64_t>(i))) {
                c.failed = true;
                Fail(c, "the first bytes to the Server differ");
            }
        }
        c.server.received += static_cast<std::int64_t>(rest.size());
        return;
    }
    auto conn = conns_.find(key >> 2);
    if (conn == conns_.end()) {
        return;
    }
    Side& s = (key & 1) != 0 ? conn->second->server : conn->second->client;
    if ((events & (EPOLLIN | EPOLLRDHUP | EPOLLHUP | EPOLLERR)) != 0) {
        s.readable = true;
    }
    if ((events & (EPOLLOUT | EPOLLHUP | EPOLLERR)) != 0) {
        s.writable = true;
    }
}

bool SoakTraffic::Run(std::uint16_t relayPort, Clock::time_point until, int drainMs,
                      const std::function<void()>& onTick) {
    const Clock::time_point giveUp = until + std::chrono::milliseconds(drainMs);
    Clock::time_point lastStep;
    epoll_event events[512];
    for (;;) {
        const Clock::time_point now = Clock::now();
        if (now < until) {
            for (int i = 0; i < kNewPerStep && Open() < options_.concurrent; ++i) {
                Begin(relayPort);
            }
        } else if (conns_.empty()) {
            return true;
        } else if (now >= giveUp) {
            for (auto& [id, c] : conns_) {
                Fail(*c, "still open when the soak ended");
            }
            return false;
        }
        const int n = ::epoll_wait(epoll_, events, 512, kStepMs);
        for (int i = 0; i < n; ++i) {
            OnEvent(events[i].data.u64, events[i].events);
        }
        if (Clock::now() - lastStep >= std::chrono::milliseconds(kStepMs)) {
            lastStep = Clock::now();
            for (auto it = conns_.begin(); it != conns_.end();) {
                Conn& c = *it->second;
                Step(c, lastStep);
                if (c.client.closed && c.paired && c.server.closed) {
                    ++report_.ended;
                    ++report_.endings[static_cast<int>(c.ending)];
                    it = conns_.erase(it);
                } else {
                    ++it;
                }
            }
            if (onTick) {
                onTick();
            }
        }
    }
}

}  // namespace corvane::soak
