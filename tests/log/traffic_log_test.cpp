#include <gtest/gtest.h>
#include <QTest>

#include <string>
#include <vector>

#include "log/traffic_log.h"
#include "log_support.h"
#include "platform/memory.h"

namespace corvane::log {
namespace {

using testing::CrLf;
using testing::RecordingView;
using testing::TempLogName;

std::vector<std::string> QueuedTexts(const TrafficLog& log) {
    std::vector<std::string> out;
    for (const LogEntry* e = log.Pending().head; e != nullptr; e = e->next) {
        out.emplace_back(e->View());
    }
    return out;
}

// Which of a message, a block header (minimum 1) and a data line (minimum 2) are queued.
std::vector<std::string> QueuedAtDetail(std::uint32_t detail) {
    TrafficLog log;
    log.Detail = detail;
    log.AppendLogLine("message", LogKind::Message, -1, 0);
    log.AppendLogLine("header", LogKind::Message, -1, 1);
    log.AppendLogLine("data", LogKind::Data, -1, 2);
    return QueuedTexts(log);
}

TEST(Detail, Table) {
    EXPECT_EQ(QueuedAtDetail(0), (std::vector<std::string>{"message\r\n"}));
    EXPECT_EQ(QueuedAtDetail(1), (std::vector<std::string>{"message\r\n", "header\r\n"}));
    const std::vector<std::string> all = {"message\r\n", "header\r\n", "data\r\n"};
    EXPECT_EQ(QueuedAtDetail(2), all);
    EXPECT_EQ(QueuedAtDetail(5), all);            // above High acts as High
    EXPECT_EQ(QueuedAtDetail(0xFFFFFFFFu), all);  // compared unsigned
}

TEST(Detail, FileReceivesEveryLineAtLow) {
    TempLogName file("low.txt");
    TrafficLog log;
    log.Detail = kDetailLow;
    ASSERT_TRUE(log.File().OpenLogFile(file.Path()));
    log.AppendLogLine("header", LogKind::Message, -1, 1);
    log.AppendLogLine("data!!", LogKind::Data, 4, 2);  // only the length asked for
    log.File().CloseLogFile();
    EXPECT_EQ(file.Contents(), CrLf({"header", "data"}));
    EXPECT_FALSE(log.HasPending());
}

TEST(LogLines, EntriesCarryColourLengthAndZero) {
    TrafficLog log;
    log.LogMessage("m");
    log.LogInform("i");
    log.LogError("e");
    log.LogConnectionInform(-3, "x");
    std::vector<Colour> colours;
    for (const LogEntry* e = log.Pending().head; e != nullptr; e = e->next) {
        colours.push_back(e->colour);
        EXPECT_EQ(e->length, static_cast<std::int32_t>(std::string(e->Text()).size()));
    }
    EXPECT_EQ(colours, (std::vector<Colour>{0x800000, 0x000080, 0x0000FF, 0x000080}));
    EXPECT_EQ(QueuedTexts(log).back(), "-3: x\r\n");
    EXPECT_EQ(log.PendingCharacters(), 3 + 3 + 3 + 7);
}

TEST(LogLines, NumberedLineIsCutAtSeventyNineCharacters) {
    TrafficLog log;
    log.LogConnectionMessage(436, "Connected to Server");
    const std::string longText(200, 'L');
    log.LogConnectionMessage(2147483647, longText.c_str());
    const auto texts = QueuedTexts(log);
    ASSERT_EQ(texts.size(), 2u);
    EXPECT_EQ(texts[0], "436: Connected to Server\r\n");
    EXPECT_EQ(texts[1], "2147483647: " + std::string(79 - 12, 'L') + "\r\n");
}

TEST(LogLines, PausedLineIsInTheFileAtOnceAndShownAfterResume) {
    TempLogName file("paused.txt");
    RecordingView view;
    TrafficLog log;
    log.SetView(&view);
    ASSERT_TRUE(log.File().OpenLogFile(file.Path()));
    log.SetPaused(true);
    log.LogMessage("while paused");
    EXPECT_FALSE(log.LogTimerRunning());
    log.OnLogTimer();
    EXPECT_TRUE(view.text.empty());
    log.File().CloseLogFile();
    EXPECT_EQ(file.Contents(), "while paused\r\n");
    log.SetPaused(false);
    log.CatchUpView();
    EXPECT_EQ(view.text, "while paused\r\n");
    EXPECT_FALSE(log.LogTimerRunning());  // nothing left: no timer needed
}

TEST(LogLines, QueueingStartsTheTimerAndEmptyTickStopsIt) {
    TrafficLog log;
    log.LogMessage("one");
    EXPECT_TRUE(log.LogTimerRunning());
    log.DiscardPendingLog();
    EXPECT_TRUE(log.LogTimerRunning());  // left to stop at its tick
    log.OnLogTimer();
    EXPECT_FALSE(log.LogTimerRunning());
}

// The real timer: its ticks arrive as messages and move one run each, then it stops.
TEST(LogTimer, TicksFromTheEventLoopDrainTheQueue) {
    RecordingView view;
    TrafficLog log;
    log.SetView(&view);
    log.LogMessage("first");
    log.LogError("second");
    EXPECT_TRUE(view.text.empty());  // logging never touches the view itself
    EXPECT_TRUE(QTest::qWaitFor([&] { return !log.LogTimerRunning(); }, 5000));
    EXPECT_EQ(view.runs.size(), 2u);
    EXPECT_EQ(view.text, "first\r\nsecond\r\n");
}

TEST(LogTimer, NoTickReachesADestroyedLog) {
    RecordingView view;
    {
        TrafficLog log;
        log.SetView(&view);
        log.LogMessage("never shown");
        ASSERT_TRUE(log.LogTimerRunning());
    }
    QTest::qWait(450);  // two periods: a tick would reach freed memory
    EXPECT_TRUE(view.runs.empty());
}

// Memory shortage: runs are moved into the view to free memory, as long as that helps.
TEST(LogLines, ShortageMovesRunsThenGivesUp) {
    RecordingView view;
    TrafficLog log;
    log.SetView(&view);
    log.LogMessage("first");
    log.LogError("second");
    int failures = 0;
    // Fail until two runs have been moved, then succeed.
    platform::SetAllocationFailure([&](std::size_t) { return view.runs.size() < 2 && ++failures; });
    EXPECT_TRUE(log.AppendLogLine("third", LogKind::Inform, -1, 0));
    platform::SetAllocationFailure({});
    EXPECT_EQ(view.text, "first\r\nsecond\r\n");
    EXPECT_EQ(QueuedTexts(log), (std::vector<std::string>{"third\r\n"}));

    // Paused, nothing can move: the line is lost from the view only.
    TempLogName file("short.txt");
    ASSERT_TRUE(log.File().OpenLogFile(file.Path()));
    log.SetPaused(true);
    platform::SetAllocationFailure([](std::size_t) { return true; });
    EXPECT_FALSE(log.AppendLogLine("fourth", LogKind::Inform, -1, 0));
    EXPECT_EQ(log.NewEntry("purple", kPurple), nullptr);
    platform::SetAllocationFailure({});
    log.File().CloseLogFile();
    EXPECT_EQ(file.Contents(), "fourth\r\n");
    EXPECT_EQ(QueuedTexts(log).size(), 1u);
}

TEST(LogLines, NewEntryAddsTheLineEnd) {
    TrafficLog log;
    LogEntry* entry = log.NewEntry("Host: 127.0.0.1:80", kPurple);
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(std::string(entry->Text()), "Host: 127.0.0.1:80\r\n");
    EXPECT_EQ(entry->length, 20);
    EXPECT_EQ(entry->colour, kPurple);
    FreeEntry(entry);
}

}  // namespace
}  // namespace corvane::log
