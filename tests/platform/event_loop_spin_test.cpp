// The program's own loop keeps looking at the set for a short while after a pass that sent
// bytes before it blocks: what arrives in that while is delivered like anything else, and a quiet
// loop still goes to sleep.
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "platform/epoll_dispatcher.h"
#include "socket_test_support.h"
#include "support/event_loop_wait.h"

namespace corvane::platform::test {
namespace {

using corvane::test::RunEventLoopFor;
using corvane::test::WaitFor;

double ThreadCpuMs() {
    timespec t{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
}

// Sends byte i, waits for its echo, sends byte i + 1: each echo comes back within tens of
// microseconds, so nearly all of them arrive while the loop is looking rather than waiting.
class PingTarget : public MessageTarget {
public:
    void HandleMessage(UINT, WPARAM wParam, LPARAM lParam) override {
        if (WSAGETSELECTEVENT(lParam) != FD_READ) {
            return;
        }
        char buf[64];
        const int n = recv(static_cast<SOCKET>(wParam), buf, sizeof buf, 0);
        for (int i = 0; i < n; ++i) {
            if (static_cast<unsigned char>(buf[i]) != static_cast<unsigned char>(received)) {
                outOfOrder = true;
            }
            ++received;
        }
        if (n > 0 && received < total) {
            SendNext(static_cast<SOCKET>(wParam));
        }
    }
    void SendNext(SOCKET s) {
        const char byte = static_cast<char>(received);
        if (send(s, &byte, 1, 0) != 1) {
            sendFailed = true;
        }
    }

    int total = 0;
    int received = 0;
    bool outOfOrder = false;
    bool sendFailed = false;
};

class EventLoopSpinTest : public ListenerTest {};

TEST_F(EventLoopSpinTest, EchoesThatArriveWhileTheLoopLooksAreAllDeliveredAndTheQuietLoopSleeps) {
    ASSERT_NE(EpollEventDispatcher::Current(), nullptr) << "the tests' main installs it";
    const int client = RawConnect(port_);
    ASSERT_GE(client, 0);
    raw_.push_back(client);
    PingTarget ping;
    const SOCKET s = AcceptRegistered(rec_, listener_, FD_READ | FD_CLOSE);
    ASSERT_NE(s, INVALID_SOCKET);
    ASSERT_EQ(WSAAsyncSelect(s, &ping, EventRecorder::kMessage, FD_READ | FD_CLOSE), 0);

    constexpr int kRoundTrips = 3000;
    ping.total = kRoundTrips;
    std::atomic<bool> stop{false};
    timeval limit{0, 200'000};  // so that the echo thread sees stop if the test fails
    ASSERT_EQ(::setsockopt(client, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit), 0);
    std::thread echo([&] {
        char buf[64];
        for (int echoed = 0; echoed < kRoundTrips && !stop.load();) {
            const ssize_t n = ::recv(client, buf, sizeof buf, 0);
            if (n == 0) {
                return;
            }
            if (n < 0) {
                continue;  // the receive timeout: look at stop again
            }
            if (!RawWriteAll(client, buf, static_cast<std::size_t>(n))) {
                return;
            }
            echoed += static_cast<int>(n);
        }
    });
    ping.SendNext(s);
    const bool all = WaitFor([&] { return ping.received >= kRoundTrips; }, 30000);
    stop = true;
    echo.join();
    ASSERT_TRUE(all) << "an echo that came while the loop looked was lost: " << ping.received;
    EXPECT_EQ(ping.received, kRoundTrips);
    EXPECT_FALSE(ping.outOfOrder);
    EXPECT_FALSE(ping.sendFailed);

    // Quiet now: the loop looks once more and then blocks, waking only for RunEventLoopFor's
    // own timer. A look that never ended would take the whole 300 ms of processor time.
    const double before = ThreadCpuMs();
    RunEventLoopFor(300);
    EXPECT_LT(ThreadCpuMs() - before, 100.0);
    closesocket(s);
}

}  // namespace
}  // namespace corvane::platform::test
