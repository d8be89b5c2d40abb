// Socket messages delivered per second by one busy connection that ping-pongs a byte, with
// and without ten thousand idle registered sockets beside it. The readiness watcher should
// cost per ready socket, not per open socket: the two rates should be close.
//
//   build-platform/bench/platform/corvane_platform_bench
//
// The ratio of the two PingPong items_per_second figures is the measure (aim: above 0.9).
#include <sys/resource.h>

#include <benchmark/benchmark.h>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QTimer>
#include <memory>
#include <vector>

#include "platform/epoll_dispatcher.h"
#include "platform/messages.h"
#include "platform/winsock.h"

namespace corvane::platform {
namespace {

constexpr int kMessagesPerIteration = 2000;
constexpr int kIdleSockets = 10000;  // both ends of 5,000 loopback connections
constexpr int kConnectChunk = 500;

SocketAddress Loopback() {
    return {inet_addr("127.0.0.1"), 0};
}

SOCKET Listen(SocketAddress& bound) {
    SOCKET l = socket(AF_INET_, SOCK_STREAM_, 0);
    bind(l, Loopback());
    listen(l, SOMAXCONN_);
    getsockname(l, bound);
    return l;
}

// Both ends of blocking loopback connections (made before any registration, so connect
// completes from the listen backlog and accept finds it waiting).
bool ConnectPairs(SOCKET listener, const SocketAddress& at, int pairs, std::vector<SOCKET>& out) {
    for (int done = 0; done < pairs;) {
        const int chunk = std::min(kConnectChunk, pairs - done);
        for (int i = 0; i < chunk; ++i) {
            SOCKET c = socket(AF_INET_, SOCK_STREAM_, 0);
            if (c == INVALID_SOCKET || connect(c, at) != 0) {
                return false;
            }
            out.push_back(c);
        }
        for (int i = 0; i < chunk; ++i) {
            SOCKET a = accept(listener, nullptr);
            if (a == INVALID_SOCKET) {
                return false;
            }
            out.push_back(a);
        }
        done += chunk;
    }
    return true;
}

struct CountingTarget : MessageTarget {
    void HandleMessage(UINT, WPARAM, LPARAM) override { ++messages; }
    long messages = 0;
};

// Each FD_READ takes the byte and sends it back over the same socket: the byte travels
// between the two ends for as long as the benchmark runs.
struct PingPong : MessageTarget {
    void HandleMessage(UINT, WPARAM wParam, LPARAM lParam) override {
        ++messages;
        if (WSAGETSELECTEVENT(lParam) == FD_READ) {
            const auto s = static_cast<SOCKET>(wParam);
            char c = 0;
            if (recv(s, &c, 1, 0) == 1) {
                send(s, &c, 1, 0);
            }
        }
    }
    long messages = 0;
};

bool RunUntil(const long& counter, long target) {
    QDeadlineTimer deadline(20000);
    QTimer wake;  // bounds each wait, so that the deadline is kept
    wake.start(5);
    while (counter < target) {
        if (deadline.hasExpired()) {
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    }
    return true;
}

// The idle sockets are made once and stay registered for the rest of the program.
struct IdlePool {
    CountingTarget target;
    std::vector<SOCKET> sockets;
    bool ok = false;
};

IdlePool& Idle() {
    static IdlePool pool;
    if (pool.sockets.empty()) {
        SocketAddress at;
        SOCKET l = Listen(at);
        pool.ok = ConnectPairs(l, at, kIdleSockets / 2, pool.sockets);
        closesocket(l);
        for (SOCKET s : pool.sockets) {
            pool.ok = pool.ok &&
                      WSAAsyncSelect(s, &pool.target, WM_APP, FD_READ | FD_WRITE | FD_CLOSE) == 0;
        }
        // Let the registrations' FD_WRITE messages go by before anything is measured.
        RunUntil(pool.target.messages, static_cast<long>(pool.sockets.size()));
    }
    return pool;
}

void BM_PingPongMessages(benchmark::State& state) {
    if (state.range(0) > 0 && !Idle().ok) {
        state.SkipWithError("could not open the idle sockets (descriptor limit?)");
        return;
    }
    SocketAddress at;
    SOCKET l = Listen(at);
    std::vector<SOCKET> pair;
    PingPong busy;
    if (!ConnectPairs(l, at, 1, pair)) {
        state.SkipWithError("could not connect the busy pair");
        return;
    }
    closesocket(l);
    for (SOCKET s : pair) {
        WSAAsyncSelect(s, &busy, WM_APP, FD_READ | FD_WRITE | FD_CLOSE);
    }
    const int on = 1;
    setsockopt(pair[0], IPPROTO_TCP_, TCP_NODELAY_, &on, sizeof on);
    setsockopt(pair[1], IPPROTO_TCP_, TCP_NODELAY_, &on, sizeof on);
    send(pair[0], "x", 1, 0);
    long delivered = 0;
    for (auto _ : state) {
        if (!RunUntil(busy.messages, busy.messages + kMessagesPerIteration)) {
            state.SkipWithError("the ping-pong stalled");
            break;
        }
        delivered += kMessagesPerIteration;
    }
    state.SetItemsProcessed(delivered);
    state.counters["idle_sockets"] =
        static_cast<double>(state.range(0) > 0 ? Idle().sockets.size() : 0);
    for (SOCKET s : pair) {
        closesocket(s);
    }
    DiscardMessages(&busy);
}

// The queue alone: posted messages handed over per second, batches and re-posts included.
// The last message ends the loop, so no wait at the end is counted.
struct QuittingTarget : MessageTarget {
    void HandleMessage(UINT, WPARAM, LPARAM) override {
        if (++messages == quitAt) {
            loop.quit();
        }
    }
    long messages = 0;
    long quitAt = 0;
    QEventLoop loop;
};

void BM_PostedMessages(benchmark::State& state) {
    QuittingTarget target;
    QTimer limit;  // ends a stalled loop
    limit.setSingleShot(true);
    QObject::connect(&limit, &QTimer::timeout, &target.loop, [&] { target.loop.exit(1); });
    for (auto _ : state) {
        for (int i = 0; i < kMessagesPerIteration; ++i) {
            PostMessage(&target, WM_APP, static_cast<WPARAM>(i), 0);
        }
        target.quitAt = target.messages + kMessagesPerIteration;
        limit.start(20000);
        if (target.loop.exec() != 0) {
            state.SkipWithError("the queue stalled");
            break;
        }
    }
    state.SetItemsProcessed(target.messages);
    DiscardMessages(&target);
}

BENCHMARK(BM_PostedMessages)->UseRealTime();
// Rates are per CPU second of this process (its share of the loopback's kernel work
// included): on a shared machine the wall clock measures the neighbours as well.
BENCHMARK(BM_PingPongMessages)->Arg(0)->Arg(kIdleSockets)->MinTime(2.0);

}  // namespace
}  // namespace corvane::platform

int main(int argc, char** argv) {
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) == 0) {
        limit.rlim_cur = limit.rlim_max;
        setrlimit(RLIMIT_NOFILE, &limit);
    }
    corvane::platform::UseEpollEventLoop();
    QCoreApplication app(argc, argv);
    corvane::platform::WSAStartup(0x0101);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    corvane::platform::WSACleanup();
    return 0;
}
