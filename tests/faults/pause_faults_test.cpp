// Peers that end while the relay is paused: nothing is read then, so the end is met at
// Resume, and the Connection must not outlive it.
#include <algorithm>

#include "fault_support.h"
#include "support/event_loop_wait.h"

namespace corvane::faults {
namespace {

using corvane::test::RunEventLoopFor;
using corvane::test::WaitFor;

class PauseFaultTest : public FaultTest {};

TEST_F(PauseFaultTest, ClientResetDuringAPauseEndsTheConnectionAtResume) {
    ASSERT_EQ(StartToServer(), control::StartResult::Started);
    int client = -1;
    int server = -1;
    int n = -1;
    ASSERT_TRUE(ConnectThrough(client, server, n));
    ExpectRelays(client, server);
    const std::string connected = ClientConnected(client);
    control_->Pause();
    Drop(client, true);
    RunEventLoopFor(100);
    EXPECT_EQ(control_->Engine().ConnectionCount(), 1);
    control_->Resume();
    std::string rest;
    ASSERT_TRUE(WaitPeerClosed(server, rest, 5000));
    ASSERT_TRUE(WaitFor([&] { return control_->Engine().ConnectionCount() == 0; }));
    const Lines lines = LinesOf(n);
    ASSERT_GE(lines.size(), 4u);
    EXPECT_EQ((Lines{lines.begin(), lines.begin() + 3}),
              (Lines{connected, "Connecting to Server", "Connected to Server"}));
    EXPECT_EQ(lines.back(), "Disconnected from Server");
    ExpectIdleCounters();
}

TEST_F(PauseFaultTest, ServerResetDuringAPauseEndsTheConnectionAtResume) {
    ASSERT_EQ(StartToServer(), control::StartResult::Started);
    int client = -1;
    int server = -1;
    int n = -1;
    ASSERT_TRUE(ConnectThrough(client, server, n));
    ExpectRelays(client, server);
    const std::string connected = ClientConnected(client);
    control_->Pause();
    Drop(server, true);
    RunEventLoopFor(100);
    EXPECT_EQ(control_->Engine().ConnectionCount(), 1);
    control_->Resume();
    std::string rest;
    ASSERT_TRUE(WaitPeerClosed(client, rest, 5000));
    ASSERT_TRUE(WaitFor([&] { return control_->Engine().ConnectionCount() == 0; }));
    const Lines lines = LinesOf(n);
    ASSERT_GE(lines.size(), 4u);
    EXPECT_EQ((Lines{lines.begin(), lines.begin() + 3}),
              (Lines{connected, "Connecting to Server", "Connected to Server"}));
    EXPECT_EQ(lines.back(), "Disconnected from Client");
    ExpectIdleCounters();
}

// A reset met at Resume is reported with its error text, as it is when the relay is not
// paused (it was once logged as a plain close).
TEST_F(PauseFaultTest, ResetMetAtResumeIsReportedWithItsErrorText) {
    ASSERT_EQ(StartToServer(), control::StartResult::Started);
    int client = -1;
    int server = -1;
    int n = -1;
    ASSERT_TRUE(ConnectThrough(client, server, n));
    control_->Pause();
    Drop(client, true);
    RunEventLoopFor(100);
    control_->Resume();
    ASSERT_TRUE(WaitFor([&] { return control_->Engine().ConnectionCount() == 0; }));
    const Lines lines = LinesOf(n);
    EXPECT_NE(std::find(lines.begin(), lines.end(), "Connection reset by peer"), lines.end());
}

// A peer sends its last bytes and then ends while the relay is paused. Resume's one read
// takes the bytes; the end behind them must still be met, or the Connection stays open for
// good. The parameter: the Client ends (true) or the Server.
class PauseEndFaultTest : public FaultTest, public ::testing::WithParamInterface<bool> {
protected:
    // Through, paused, the last bytes and the end (a close or a reset), then Resume. False
    // when the Connection did not end on both sides in time; got: what the other peer read.
    bool EndDuringAPause(bool reset, std::string& got) {
        int client = -1;
        int server = -1;
        int n = -1;
        EXPECT_EQ(StartToServer(), control::StartResult::Started);
        EXPECT_TRUE(ConnectThrough(client, server, n));
        const int ender = GetParam() ? client : server;
        const int other = GetParam() ? server : client;
        control_->Pause();
        EXPECT_TRUE(SendPeer(ender, "last words"));
        RunEventLoopFor(50);
        Drop(ender, reset);
        RunEventLoopFor(100);
        control_->Resume();
        const bool closed = WaitPeerClosed(other, got, 5000);
        return WaitFor([&] { return control_->Engine().ConnectionCount() == 0; }) && closed;
    }
};

TEST_P(PauseEndFaultTest, BytesAndACloseDuringAPauseAreDeliveredAndEndTheConnection) {
    std::string got;
    EXPECT_TRUE(EndDuringAPause(false, got));
    EXPECT_EQ(got, "last words");
    ExpectIdleCounters();
}

// After bytes and then a reset during a pause, Resume's read returns the bytes and nothing
// but the reset is left to read: the end must still be met (it once was not, and the
// Connection stayed open for good).
TEST_P(PauseEndFaultTest, BytesAndAResetDuringAPauseEndTheConnection) {
    std::string got;
    EXPECT_TRUE(EndDuringAPause(true, got));
    ExpectIdleCounters();
}

INSTANTIATE_TEST_SUITE_P(EitherPeer, PauseEndFaultTest, ::testing::Bool());

}  // namespace
}  // namespace corvane::faults
