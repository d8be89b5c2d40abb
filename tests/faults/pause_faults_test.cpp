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
    ASSERT_TRUE(WaitClosed(server, rest, 5000));
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
    ASSERT_TRUE(WaitClosed(client, rest, 5000));
    ASSERT_TRUE(WaitFor([&] { return control_->Engine().ConnectionCount() == 0; }));
    const Lines lines = LinesOf(n);
    ASSERT_GE(lines.size(), 4u);
    EXPECT_EQ((Lines{lines.begin(), lines.begin() + 3}),
              (Lines{connected, "Connecting to Server", "Connected to Server"}));
    EXPECT_EQ(lines.back(), "Disconnected from Client");
    ExpectIdleCounters();
}

// A reset met at Resume is logged as a plain close: "Client disconnected" and "Disconnected
// from Server", without "Connection reset by peer", so the log hides that the peer reset.
// The read at Resume meets ECONNRESET, which is a failed read with its error text, as it is
// when the relay is not paused. Enabled once the engine reports it.
TEST_F(PauseFaultTest, DISABLED_ResetMetAtResumeIsReportedWithItsErrorText) {
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

}  // namespace
}  // namespace corvane::faults
