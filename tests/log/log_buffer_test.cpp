#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "log/text_lines.h"
#include "log/traffic_log.h"
#include "log_support.h"
#include "platform/memory.h"

namespace corvane::log {
namespace {

using testing::RecordingMenu;
using testing::RecordingView;

constexpr Colour kNavy = ColourOf(LogKind::Message);
constexpr Colour kBlack = ColourOf(LogKind::Data);
constexpr Colour kRed = ColourOf(LogKind::Error);

class LogBuffer : public ::testing::Test {
protected:
    void SetUp() override {
        log.SetView(&view);
        log.SetMenuView(&menu);
        // A clock that stands still: every tick moves all that is queued.
        log.TickClock = [] { return std::chrono::steady_clock::time_point(); };
    }
    // Runs ticks until the queue is empty (bounded).
    int Drain() {
        int ticks = 0;
        while (log.HasPending() && ticks < 1000000) {
            log.OnLogTimer();
            ++ticks;
        }
        return ticks;
    }
    // A line of exactly `length` characters with its CR LF.
    static std::string LineOf(int length, char fill = 'x') {
        return std::string(static_cast<std::size_t>(length - 2), fill);
    }

    RecordingView view;
    RecordingMenu menu;
    TrafficLog log;
};

TEST_F(LogBuffer, OneInsertionPerRunJoinedByColour) {
    log.LogMessage("m1");
    log.LogMessage("m2");
    log.LogError("e1");
    log.LogMessage("m3");
    log.LogMessage("m4");
    log.OnLogTimer();
    ASSERT_EQ(view.runs.size(), 3u);
    EXPECT_EQ(view.runs[0].text, "m1\r\nm2\r\n");
    EXPECT_EQ(view.runs[0].colour, kNavy);
    EXPECT_EQ(view.runs[1].colour, kRed);
    EXPECT_EQ(view.runs[2].text, "m3\r\nm4\r\n");
    EXPECT_FALSE(log.HasPending());
    EXPECT_FALSE(log.LogTimerRunning());  // the last run leaves nothing: stopped
    EXPECT_EQ(log.PendingCharacters(), 0);
}

TEST_F(LogBuffer, RewrittenHostLineGivesFourInsertions) {
    const std::string request = "GET / HTTP/1.0\r\nHost: a\r\nAccept: */*\r\n\r\n";
    LogChain lines;
    int textCount = 0;
    bool incomplete = false;
    ASSERT_TRUE(SplitTextLines(request.data(), static_cast<int>(request.size()), lines, textCount,
                               incomplete));
    lines.head->next->colour = kPurple;  // as the rewrite marks its line
    log.DumpBlock(3, lines, textCount, incomplete, kClientToServer, textCount, request.data());
    Drain();
    ASSERT_EQ(view.runs.size(), 4u);
    EXPECT_EQ(view.runs[1].text, "GET / HTTP/1.0\r\n");
    EXPECT_EQ(view.runs[2].colour, kPurple);
    EXPECT_EQ(view.runs[3].text, "Accept: */*\r\n\r\n");
}

TEST_F(LogBuffer, TrimsWholeLinesFromTheTopBeforeInserting) {
    // 32,000 characters in the view as 320 lines of 100; then a run of 1,000.
    for (int i = 0; i < 320; ++i) {
        log.LogMessage(LineOf(100).c_str());
    }
    log.OnLogTimer();
    ASSERT_EQ(view.text.size(), 32000u);
    log.LogError(LineOf(1000).c_str());
    const std::int64_t before = log.MakeRoom(0);
    EXPECT_EQ(before, 32000);
    log.OnLogTimer();
    // Lines go until at most 31,768 remain: 318 lines, 31,700 characters.
    EXPECT_EQ(view.deletions, 3);
    EXPECT_EQ(view.text.size(), 31700u + 1000u);
    EXPECT_EQ(view.runs.back().text.size(), 1000u);
}

// At exactly BufferSize nothing goes; one character more costs the first line.
TEST_F(LogBuffer, MakeRoomAtTheExactFit) {
    log.BufferSize = 100;
    for (const auto& [needed, deletions, kept] :
         {std::tuple{40, 0, 60}, std::tuple{41, 1, 40}, std::tuple{61, 2, 0}}) {
        view.text = LineOf(20) + "\r\n" + LineOf(40) + "\r\n";  // 20 + 40 characters
        view.deletions = 0;
        EXPECT_EQ(log.MakeRoom(needed), kept) << needed;
        EXPECT_EQ(view.deletions, deletions) << needed;
    }
}

// What the runs behind it would trim before the queue has drained is never inserted, only
// counted for the mark; a line that just fits is inserted. Size 100: a 2-character line, then
// 98 or 99 characters in other colours.
TEST_F(LogBuffer, ASliceInsertsOnlyWhatTheCapCanShow) {
    log.BufferSize = 100;
    for (const auto& [following, first, shown] :
         {std::tuple{98, "\r\n", 100u},
          std::tuple{99, "(1 line not shown: the view fell behind)\r\n", 99u}}) {
        log.ClearLogBuffer();
        view.runs.clear();
        log.LogError("");
        log.LogMessage(LineOf(following - 3).c_str());
        log.LogInform("x");
        log.OnLogTimer();
        ASSERT_EQ(view.runs.size(), 3u) << following;
        EXPECT_EQ(view.runs[0].text, first) << following;
        EXPECT_EQ(view.text.size(), shown) << following;
    }
}

// Further slices follow at once while the view keeps up; once anything was dropped since the
// previous tick began, each waits kLogBehindPause times as long as the slice before took. A
// clock that advances 8 ms at each reading: three runs, 24 ms, a slice.
TEST_F(LogBuffer, SlicesBehindAFloodLeaveTheRelayAsMuchTimeAsTheyTake) {
    auto readings = std::make_shared<int>(0);
    log.TickClock = [readings] {
        return std::chrono::steady_clock::time_point(std::chrono::milliseconds(8 * (*readings)++));
    };
    auto queue = [this](int lines) {
        for (int i = 0; i < lines; ++i) {
            log.AppendLogLine(("line " + std::to_string(i)).c_str(),
                              i % 2 ? LogKind::Data : LogKind::Message, -1, 0);
        }
    };
    log.BufferSize = kUnlimited;
    queue(40);
    log.OnLogTimer();
    EXPECT_TRUE(log.SliceTimerRunning());
    EXPECT_EQ(log.SlicePauseMs(), 0u);
    log.BufferSize = 300;
    queue(100);
    // Skipped at this tick, then dropped since the previous one began, then a quiet period.
    constexpr unsigned kBehind = 24 * kLogBehindPause;
    for (const unsigned pause : {kBehind, kBehind, 0u}) {
        log.OnLogTimer();
        ASSERT_TRUE(log.HasPending());
        EXPECT_TRUE(log.SliceTimerRunning());
        EXPECT_EQ(log.SlicePauseMs(), pause);
    }
}

TEST_F(LogBuffer, RunLongerThanTheCapEmptiesTheViewAndGoesInWhole) {
    log.LogMessage("old line");
    log.OnLogTimer();
    std::string dump(40000, 'D');
    log.HexDump(dump.data(), static_cast<int>(dump.size()), 0);
    log.OnLogTimer();
    EXPECT_EQ(view.text.size(), 2500u * 74u);
    EXPECT_EQ(view.text.substr(0, 4), "0000");
    log.LogMessage("next");
    log.OnLogTimer();
    EXPECT_LE(view.text.size(), 32768u);  // the next insertion trims it again
    EXPECT_EQ(view.text.substr(view.text.size() - 6), "next\r\n");
}

TEST_F(LogBuffer, UnlimitedNeverDeletes) {
    log.SetBufferSize(kUnlimited);
    for (int i = 0; i < 50; ++i) {
        log.LogMessage(LineOf(2000).c_str());
        log.LogError("e");
    }
    Drain();
    EXPECT_EQ(view.deletions, 0);
    EXPECT_EQ(view.text.size(), 50u * (2000u + 3u));
    EXPECT_EQ(menu.sizes.back(), kUnlimited);
}

TEST_F(LogBuffer, SizeChoicesTrimOnlyWhenTheCapShrinks) {
    log.SetBufferSize(kBufferSize2MB);
    for (int i = 0; i < 100; ++i) {
        log.LogMessage(LineOf(1000).c_str());
    }
    Drain();
    EXPECT_EQ(view.text.size(), 100000u);
    log.SetBufferSize(kUnlimited);
    EXPECT_EQ(view.deletions, 0);
    log.SetBufferSize(kBufferSize32KB);  // after Unlimited: trims at once
    EXPECT_EQ(view.text.size(), 32000u);
    log.SetBufferSize(kBufferSize2MB);
    log.SetBufferSize(kBufferSize128KB);  // smaller than before, but everything fits
    EXPECT_EQ(view.text.size(), 32000u);
    log.SetBufferSize(kBufferSize32KB);  // 32 KB after 2 MB: nothing more to cut here
    EXPECT_EQ(view.text.size(), 32000u);
    EXPECT_EQ(menu.sizes,
              (std::vector<std::int32_t>{kBufferSize2MB, kUnlimited, kBufferSize32KB,
                                         kBufferSize2MB, kBufferSize128KB, kBufferSize32KB}));
}

TEST_F(LogBuffer, BufferSizeChecksSnapToMenuValues) {
    const std::vector<std::pair<std::int32_t, std::int32_t>> cases = {
        {-7, -1},           {0, 32768},         {32768, 32768},   {32769, 131072},
        {131072, 131072},   {131073, 524288},   {524288, 524288}, {524289, 2097152},
        {2097152, 2097152}, {99999999, 2097152}};
    for (const auto& [given, snapped] : cases) {
        log.BufferSize = given;
        log.ShowBufferSizeChecks();
        EXPECT_EQ(log.BufferSize, snapped) << given;
        EXPECT_EQ(menu.sizes.back(), snapped) << given;
    }
}

TEST_F(LogBuffer, DetailChecksAndSetShowData) {
    for (std::uint32_t level : {0u, 1u, 2u, 7u}) {
        log.Detail = level;
        log.ShowDetailChecks();
        EXPECT_EQ(log.Detail, level);
    }
    EXPECT_EQ(menu.details, (std::vector<std::uint32_t>{0, 1, 2, 2}));
    log.SetShowData(kDetailLow);
    EXPECT_EQ(log.Detail, kDetailLow);
    EXPECT_EQ(menu.details.back(), kDetailLow);
}

TEST_F(LogBuffer, ClearDuringABurstDropsWhatWasNotShown) {
    for (int i = 0; i < 100; ++i) {
        log.LogMessage("burst");
        log.LogInform("burst");
    }
    log.OnLogTimer();
    log.ClearLogBuffer();
    EXPECT_TRUE(view.text.empty());
    EXPECT_EQ(view.clears, 1);
    EXPECT_FALSE(log.HasPending());
    log.LogError("after");
    Drain();
    EXPECT_EQ(view.text, "after\r\n");
}

TEST_F(LogBuffer, NothingMovesWhilePaused) {
    log.LogMessage("a");
    log.SetPaused(true);
    log.LogError("b");
    log.OnLogTimer();
    EXPECT_TRUE(view.runs.empty());
    EXPECT_FALSE(log.LogTimerRunning());  // the paused tick stopped it
    EXPECT_FALSE(log.FlushLogRun());
    log.LogMessage("c");
    EXPECT_FALSE(log.LogTimerRunning());
    log.SetPaused(false);
    log.CatchUpView();  // a tick's work at once
    EXPECT_EQ(view.runs.size(), 3u);
    EXPECT_FALSE(log.LogTimerRunning());
    EXPECT_EQ(view.text, "a\r\nb\r\nc\r\n");
}

TEST_F(LogBuffer, ScrollsOnlyOnceActivated) {
    log.LogMessage("x");
    log.OnLogTimer();
    EXPECT_EQ(view.scrolls, 0);
    log.SetActivated(true);
    log.LogMessage("y");
    log.OnLogTimer();
    EXPECT_EQ(view.scrolls, 1);
}

TEST_F(LogBuffer, JoinCutShortByShortageLeavesTheRestQueued) {
    for (int i = 0; i < 5; ++i) {
        log.LogMessage(("line" + std::to_string(i)).c_str());
    }
    // The one allocation for the whole run fails, then growth stops after two entries.
    int grows = 0;
    platform::SetAllocationFailure(
        [&grows](std::size_t size) { return size == 5u * 7u || ++grows > 2; });
    EXPECT_TRUE(log.FlushLogRun());
    platform::SetAllocationFailure({});
    EXPECT_EQ(view.runs.at(0).text, "line0\r\nline1\r\n");
    Drain();
    EXPECT_EQ(view.text, "line0\r\nline1\r\nline2\r\nline3\r\nline4\r\n");

    // Not even the head can be copied: the head alone is the run.
    log.LogMessage("p");
    log.LogMessage("q");
    platform::SetAllocationFailure([](std::size_t) { return true; });
    EXPECT_TRUE(log.FlushLogRun());
    platform::SetAllocationFailure({});
    EXPECT_EQ(view.runs.back().text, "p\r\n");
}

TEST_F(LogBuffer, NullViewStillDrains) {
    log.SetView(nullptr);
    log.SetMenuView(nullptr);
    log.LogMessage("x");
    log.SetBufferSize(kBufferSize128KB);
    EXPECT_EQ(Drain(), 1);
    EXPECT_EQ(log.MakeRoom(10), 0);
}

}  // namespace
}  // namespace corvane::log
