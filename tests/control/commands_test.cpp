// Pause, Resume, Reset, Hex Only and the close of the window, on a live loopback relay.
#include <gtest/gtest.h>

#include "control_fixture.h"
#include "platform/settings_store.h"
#include "support/event_loop_wait.h"

namespace corvane::control::test {
namespace {

using relay::Counter;

TEST_F(ControlTest, PauseHoldsTheDataAndResumeRelaysWhatArrivedMeanwhile) {
    ASSERT_TRUE(StartWithPeers());
    control_->Pause();
    EXPECT_TRUE(control_->Paused());
    EXPECT_EQ(view_.pausedShown, std::vector<bool>{true});

    ASSERT_TRUE(SendPeer(client_, "sent while paused"));
    std::string got;
    EXPECT_FALSE(ReceivePeer(serverEnd_, got, 1, 300)) << "nothing may be read while paused";
    EXPECT_EQ(Shown(Counter::CSTransferred), "0");

    control_->Resume();
    EXPECT_FALSE(control_->Paused());
    EXPECT_EQ(view_.pausedShown, (std::vector<bool>{true, false}));
    EXPECT_TRUE(ReceivePeer(serverEnd_, got, 17));
    EXPECT_EQ(got, "sent while paused");
    EXPECT_EQ(Shown(Counter::CSTransferred), "17");
    EXPECT_TRUE(control_->Running());
}

TEST_F(ControlTest, ResumeShowsTheLinesHeldBackWhilePaused) {
    ASSERT_TRUE(StartWithPeers());
    // Let the lines of the start reach the view first.
    ASSERT_TRUE(corvane::test::WaitFor([&] { return !control_->Log().HasPending(); }));
    control_->Pause();
    control_->Log().LogMessage("held back");
    corvane::test::RunEventLoopFor(250);  // a tick passes: the view must not move
    EXPECT_EQ(logView_.text.find("held back"), std::string::npos);
    control_->Resume();
    EXPECT_NE(logView_.text.find("held back\r\n"), std::string::npos);  // at once, no tick
}

TEST_F(ControlTest, ResetWhilePausedZeroesTransferredOnly) {
    ASSERT_TRUE(StartWithPeers());
    ASSERT_TRUE(SendPeer(client_, "abc"));
    std::string got;
    ASSERT_TRUE(ReceivePeer(serverEnd_, got, 3));
    ASSERT_TRUE(SendPeer(serverEnd_, "answer"));
    got.clear();
    ASSERT_TRUE(ReceivePeer(client_, got, 6));
    ASSERT_EQ(Shown(Counter::CSTransferred), "3");
    ASSERT_EQ(Shown(Counter::SCTransferred), "6");

    control_->Pause();
    relayView_.counters.erase(Counter::CSBuffered);
    control_->Reset();
    EXPECT_EQ(Shown(Counter::CSTransferred), "0");
    EXPECT_EQ(Shown(Counter::SCTransferred), "0");
    EXPECT_EQ(control_->Engine().CSTransferred(), 0);
    EXPECT_EQ(Shown(Counter::CSBuffered), "") << "the Buffered counters are left alone";
    EXPECT_EQ(Shown(Counter::Connections), "1");
    EXPECT_TRUE(control_->Paused());
}

TEST_F(ControlTest, StopWhilePausedClearsPausedAndKeepsTransferred) {
    ASSERT_TRUE(StartWithPeers());
    ASSERT_TRUE(SendPeer(client_, "abcd"));
    std::string got;
    ASSERT_TRUE(ReceivePeer(serverEnd_, got, 4));
    control_->Pause();
    control_->Stop();
    EXPECT_FALSE(control_->Paused());
    EXPECT_FALSE(control_->Running());
    EXPECT_EQ(Shown(Counter::Connections), "0");
    EXPECT_EQ(Shown(Counter::CSBuffered), "0");
    EXPECT_EQ(Shown(Counter::CSTransferred), "4");
    // Stop's own catch-up shows "Stopped by user" at once.
    EXPECT_NE(logView_.text.find("Stopped by user\r\n"), std::string::npos);
}

TEST_F(ControlTest, HexOnlyTogglesAndIsReadAtAccept) {
    control_->ToggleHexOnly();
    EXPECT_EQ(control_->HexOnly(), 1u);
    control_->ToggleHexOnly();
    EXPECT_EQ(control_->HexOnly(), 0u);
    EXPECT_EQ(view_.hexOnlyChecks, (std::vector<bool>{true, false}));
    control_->ToggleHexOnly();
    ASSERT_TRUE(StartWithPeers());
    EXPECT_EQ(control_->Engine().ConnectionList()->DumpMode, relay::kDumpHex);
}

TEST_F(ControlTest, ClosingWhileStoppedAsksNothing) {
    EXPECT_TRUE(control_->CloseQuery());
    EXPECT_EQ(view_.questions, 0);
}

TEST_F(ControlTest, AnsweringNoKeepsTheRelayGoingAndLogsNothing) {
    ASSERT_TRUE(StartWithPeers());
    ASSERT_TRUE(corvane::test::WaitFor([&] { return !control_->Log().HasPending(); }));
    const std::string before = logView_.text;
    view_.answerYes = false;
    EXPECT_FALSE(control_->CloseQuery());
    EXPECT_EQ(view_.questions, 1);
    EXPECT_TRUE(control_->Running());
    EXPECT_FALSE(control_->Log().HasPending());
    EXPECT_EQ(logView_.text, before);
    ASSERT_TRUE(SendPeer(client_, "still"));
    std::string got;
    EXPECT_TRUE(ReceivePeer(serverEnd_, got, 5));
}

TEST_F(ControlTest, AnsweringYesStopsLikeStopAndTheCloseSavesTheSettings) {
    const std::string log = PathOf("closed.txt");
    ASSERT_TRUE(StartWithPeers(log));
    view_.answerYes = true;
    EXPECT_TRUE(control_->CloseQuery());
    EXPECT_EQ(view_.questions, 1);
    EXPECT_FALSE(control_->Running());
    const std::string text = ReadFile(log);
    EXPECT_NE(text.find("Stopped by user\r\nLocal Port closed\r\n"), std::string::npos) << text;

    control_->OnClose(700, 500);
    platform::SettingsKey key;
    std::uint32_t width = 0;
    std::string host;
    EXPECT_TRUE(key.QueryDword("Width", width));
    EXPECT_EQ(width, 700u);
    EXPECT_TRUE(key.QueryString("Remote Host", 64, host));
    EXPECT_EQ(host, "127.0.0.1");
}

TEST_F(ControlTest, ACloseOnASignalAsksNothingButStopsAndEndsTheLogFile) {
    const std::string log = PathOf("signal.htm");
    ASSERT_TRUE(StartWithPeers(log));
    control_->CloseBySignal();
    EXPECT_EQ(view_.closeRequests, 1);
    EXPECT_TRUE(control_->CloseQuery());
    EXPECT_EQ(view_.questions, 0);
    control_->OnClose(630, 410);
    EXPECT_FALSE(control_->Running());
    const std::string html = ReadFile(log);
    EXPECT_NE(html.find("Stopped by user<br />"), std::string::npos);
    EXPECT_NE(html.find("</body>\r\n</html>\r\n"), std::string::npos) << html;
}

}  // namespace
}  // namespace corvane::control::test
