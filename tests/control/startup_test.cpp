// The start-up order: stored settings, the command line over them, the menus' check marks,
// the automatic start at the first idle moment, and what the close writes back.
#include <gtest/gtest.h>
#include <QFileInfo>
#include <csignal>
#include <fstream>

#include "control/conditions_presets.h"
#include "control/relay_control.h"
#include "control/signal_close.h"
#include "control_support.h"
#include "platform/settings_store.h"
#include "platform/winsock.h"
#include "relay/conditions/conditions_text.h"
#include "support/event_loop_wait.h"

namespace corvane::control::test {
namespace {

class StartupTest : public TempStoreTest {
protected:
    void Store(const char* name, std::uint32_t value) {
        platform::SettingsKey key;
        key.SetDword(name, value);
    }
    void Store(const char* name, const std::string& value) {
        platform::SettingsKey key;
        key.SetString(name, value);
    }
    std::uint32_t StoredNumber(const char* name) {
        platform::SettingsKey key;
        std::uint32_t value = 0xDEAD;
        EXPECT_TRUE(key.QueryDword(name, value)) << name;
        return value;
    }
    std::string StoredText(const char* name) {
        platform::SettingsKey key;
        std::string value = "(absent)";
        key.QueryString(name, 256, value);
        return value;
    }
    RelayControl& Make() {
        control_ = std::make_unique<RelayControl>(view_, relayView_, &logView_, &menu_);
        return *control_;
    }
    void TearDown() override { control_.reset(); }

    FakeControlView view_;
    FakeRelayView relayView_;
    FakeLogView logView_;
    FakeLogMenu menu_;
    std::unique_ptr<RelayControl> control_;
};

TEST_F(StartupTest, StoredValuesAreSnappedCheckedAndSavedBack) {
    Store("Buffer Size", 100000u);
    Store("Detail", 5u);
    Store("Remote Host", std::string(63, 'h'));
    Store("Height", 480u);
    RelayControl& control = Make();
    ASSERT_EQ(control.Initialise({}), StartupResult::Ready);
    EXPECT_EQ(menu_.bufferSizes.back(), 131072);
    EXPECT_EQ(menu_.details.back(), 2u);  // the check goes on High
    EXPECT_EQ(control.Log().Detail, 5u);  // but Detail itself stays 5
    EXPECT_EQ(view_.texts[EditBox::RemoteHost], std::string(63, 'h'));
    EXPECT_FALSE(control.LoadResult().WidthRead);
    EXPECT_TRUE(control.LoadResult().HeightRead);
    EXPECT_EQ(control.StartSettings().WindowHeight, 480);
    EXPECT_EQ(control.Running(), false);
    // The local host's address reaches panel 1 once the look-up answers.
    EXPECT_TRUE(corvane::test::WaitFor([&] { return !relayView_.localAddress.empty(); }));

    control.OnClose(630, 480);
    EXPECT_EQ(StoredNumber("Buffer Size"), 131072u);
    EXPECT_EQ(StoredNumber("Detail"), 5u);
    EXPECT_EQ(StoredText("Remote Host"), std::string(63, 'h'));
}

TEST_F(StartupTest, ANegativeBufferSizeIsUnlimitedAndSavedAsMinusOne) {
    Store("Buffer Size", static_cast<std::uint32_t>(-5));
    Store("Remote Host", std::string(64, 'h'));
    RelayControl& control = Make();
    ASSERT_EQ(control.Initialise({}), StartupResult::Ready);
    EXPECT_EQ(menu_.bufferSizes.back(), -1);
    EXPECT_EQ(view_.texts[EditBox::RemoteHost], "");  // 64 characters do not fit: ignored
    control.OnClose(630, 410);
    EXPECT_EQ(StoredNumber("Buffer Size"), 0xFFFFFFFFu);
}

TEST_F(StartupTest, AUsageErrorStartsNothingAndWritesNothing) {
    RelayControl& control = Make();
    EXPECT_EQ(control.Initialise({"host", "80"}), StartupResult::UsageError);
    EXPECT_TRUE(view_.texts.empty());
    EXPECT_TRUE(menu_.bufferSizes.empty());
    control.OnClose(630, 410);  // even a stray close must not write
    EXPECT_FALSE(QFileInfo::exists(StoreFile()));
}

TEST_F(StartupTest, TheCommandLineOverridesTheStoreForTheRunAndBecomesTheStoredSettings) {
    Store("Remote Host", std::string("stored.host"));
    Store("Log File", std::string("stored.txt"));
    const std::string log = (dir_.path() + QStringLiteral("/auto.htm")).toStdString();
    RelayControl& control = Make();
    ASSERT_EQ(control.Initialise({"127.0.0.1", "9", "0", "-auto", "-file", log, "-size", "2MB",
                                  "-detail", "Medium", "-hexonly"}),
              StartupResult::Ready);
    EXPECT_EQ(view_.texts[EditBox::RemoteHost], "127.0.0.1");
    EXPECT_EQ(view_.texts[EditBox::LogFile], log);
    EXPECT_EQ(view_.hexOnlyChecks.back(), true);
    EXPECT_FALSE(control.Running());

    control.OnIdle();
    EXPECT_TRUE(control.Running());
    EXPECT_EQ(control.StartSettings().AutoStart, -1);
    control.OnIdle();
    EXPECT_EQ(relayView_.runningStates, std::vector<bool>{true}) << "the automatic start runs once";

    EXPECT_TRUE(control.CloseQuery());
    EXPECT_EQ(view_.questions, 0) << "a run started with -auto asks nothing";
    EXPECT_TRUE(control.Running());
    control.OnClose(640, 420);
    EXPECT_FALSE(control.Running());
    const std::string html = ReadFile(log);
    EXPECT_NE(html.find("Stopped by user<br />"), std::string::npos) << html;
    EXPECT_NE(html.find("</html>\r\n"), std::string::npos) << html;

    EXPECT_EQ(StoredText("Remote Host"), "127.0.0.1");
    EXPECT_EQ(StoredText("Remote Port"), "9");
    EXPECT_EQ(StoredText("Local Port"), "0");
    EXPECT_EQ(StoredText("Log File"), log);
    EXPECT_EQ(StoredNumber("Buffer Size"), 2097152u);
    EXPECT_EQ(StoredNumber("Detail"), 1u);
    EXPECT_EQ(StoredNumber("Hex Only"), 1u);
    EXPECT_EQ(StoredNumber("Width"), 640u);
}

TEST_F(StartupTest, AFailingAutomaticStartShowsItsMessageAndIsNotRetried) {
    RelayControl& control = Make();
    ASSERT_EQ(control.Initialise({"127.0.0.1", "abc", "0", "-auto"}), StartupResult::Ready);
    control.OnIdle();
    control.OnIdle();
    EXPECT_EQ(view_.errors, std::vector<std::string>{"Remote Port must be a positive integer"});
    EXPECT_EQ(view_.focus, std::vector<EditBox>{EditBox::RemotePort});
    EXPECT_FALSE(control.Running());
}

TEST_F(StartupTest, WithoutAutoNothingStartsByItself) {
    RelayControl& control = Make();
    ASSERT_EQ(control.Initialise({"127.0.0.1", "9", "0"}), StartupResult::Ready);
    control.OnIdle();
    EXPECT_FALSE(control.Running());
    EXPECT_TRUE(view_.errors.empty());
}

TEST_F(StartupTest, AFailedStartOfTheSocketLayerShowsItsTextAndClosesTheWindow) {
    platform::SetStartupFailure(platform::WSASYSNOTREADY);
    RelayControl& control = Make();
    const StartupResult result = control.Initialise({});
    platform::SetStartupFailure(0);
    EXPECT_EQ(result, StartupResult::SocketsFailed);
    EXPECT_EQ(view_.socketErrors, std::vector<std::string>{"Network subsystem is unavailable"});
    EXPECT_EQ(view_.closeRequests, 1);
    // The close that follows saves the settings like any close.
    control.OnClose(630, 410);
    EXPECT_TRUE(QFileInfo::exists(StoreFile()));
}

// The kept preset is in force from the start; condition switches on the command line replace
// it whole while -share and -seed apply to it; a preset that cannot be had gives no conditions.
TEST_F(StartupTest, AKeptPresetIsInForceUnlessTheCommandLineNamesConditions) {
    std::string problem;
    relay::Conditions mine;
    mine.stall.afterUs = 100000;
    ASSERT_TRUE(SavePreset("Mine", mine, problem)) << problem;
    std::ofstream(PresetPath("Broken")) << "-stall 100\n-latency soon\n";
    struct Case {
        const char* preset;
        std::vector<std::string> args;
        const char* expected;
    };
    const std::vector<std::string> noArgs;
    const Case cases[] = {
        {"Slow mobile", noArgs, "-latency 200 -bandwidth 50K"},
        {"Mine", noArgs, "-stall 100"},
        {"Mine", {"h", "1", "2", "-share", "50", "-seed", "7"}, "-stall 100 -share 50 -seed 7"},
        {"Mine", {"h", "1", "2", "-seed", "7", "-latency", "5"}, "-latency 5 -seed 7"},
        {"Broken", noArgs, ""},
        {"Gone", noArgs, ""},
        {"", {"h", "1", "2", "-slowclose", "9"}, "-slowclose 9"},
    };
    for (const Case& c : cases) {
        Store("Conditions Preset", std::string(c.preset));
        RelayControl& control = Make();
        ASSERT_EQ(control.Initialise(c.args), StartupResult::Ready);
        EXPECT_EQ(relay::FormatConditions(control.Conditions(), relay::ConditionsLayout::OneLine),
                  c.expected)
            << c.preset;
        control_.reset();
    }
}

TEST(SignalClose, ASignalRunsTheCallbackFromTheEventLoop) {
    std::vector<int> received;
    {
        SignalClose close([&](int signal) { received.push_back(signal); });
        ASSERT_TRUE(close.Installed());
        ASSERT_EQ(std::raise(SIGTERM), 0);
        EXPECT_TRUE(received.empty()) << "the handler itself must only note the signal";
        EXPECT_TRUE(corvane::test::WaitFor([&] { return received.size() == 1; }));
        ASSERT_EQ(std::raise(SIGINT), 0);
        EXPECT_TRUE(corvane::test::WaitFor([&] { return received.size() == 2; }));
    }
    EXPECT_EQ(received, (std::vector<int>{SIGTERM, SIGINT}));
    struct sigaction now {};
    ASSERT_EQ(::sigaction(SIGTERM, nullptr, &now), 0);
    EXPECT_EQ(now.sa_handler, SIG_DFL) << "the earlier handler is back";
}

}  // namespace
}  // namespace corvane::control::test
