// PendingLog stays bounded at every Size, and the view that the queue leaves once drained is
// exactly the view an unbounded queue leaves, also after the cap has been raised.
#include <gtest/gtest.h>

#include <cstdint>
#include <deque>
#include <string>
#include <utility>

#include "log/count_text.h"
#include "log/text_lines.h"
#include "log/traffic_log.h"
#include "log_support.h"

namespace corvane::log {
namespace {

// Holds whole lines, so that deleting the first one costs nothing however many there are.
class LineView final : public LogView {
public:
    std::int64_t TextLength() const override { return length_; }
    void DeleteFirstLine() override {
        length_ -= static_cast<std::int64_t>(lines_.front().second.size());
        lines_.pop_front();
    }
    void AppendRun(std::string_view run, Colour colour) override {
        std::size_t start = 0;
        while (start < run.size()) {
            const std::size_t end = run.find('\n', start) + 1;
            lines_.emplace_back(colour, std::string(run.substr(start, end - start)));
            length_ += static_cast<std::int64_t>(end - start);
            start = end;
        }
        ++runs;
    }
    void ScrollCaretIntoView() override {}
    void Clear() override {
        lines_.clear();
        length_ = 0;
    }
    std::string Text() const {
        std::string text;
        for (const auto& [colour, line] : lines_) {
            text += std::to_string(colour) + ":" + line;
        }
        return text;
    }
    int runs = 0;

private:
    std::deque<std::pair<Colour, std::string>> lines_;
    std::int64_t length_ = 0;
};

// A repeatable mixture of text blocks, binary blocks and messages.
class Traffic {
public:
    explicit Traffic(std::uint32_t seed) : state_(seed) {}

    void SendBlock(TrafficLog& log, int number) {
        std::string bytes;
        const std::uint32_t kind = Next() % 4;
        const int size = static_cast<int>(1 + Next() % (kind == 3 ? 300 : 120));
        for (int i = 0; i < size; ++i) {
            if (kind == 3) {
                bytes.push_back(static_cast<char>(Next() & 0xFF));  // dumped
            } else {
                bytes.push_back(Next() % 13 == 0 ? '\n' : static_cast<char>('a' + Next() % 26));
            }
        }
        LogChain lines;
        int textCount = 0;
        bool incomplete = false;
        ASSERT_TRUE(SplitTextLines(bytes.data(), size, lines, textCount, incomplete));
        if (textCount != size) {
            FreeChain(lines);
            textCount = 0;
        }
        log.DumpBlock(number, lines, textCount, incomplete,
                      Next() % 2 ? kClientToServer : kServerToClient, size, bytes.data());
        if (Next() % 50 == 0) {
            log.LogConnectionInform(number, "Could not send data to Server");
        }
    }

private:
    std::uint32_t Next() {
        state_ = state_ * 1664525u + 1013904223u;
        return state_ >> 8;
    }
    std::uint32_t state_;
};

struct Outcome {
    std::string view;
    std::int64_t largestQueue = 0;
    std::int64_t largestEntry = 0;
    int ticks = 0;
};

// Fills the view a little, then queues `blocks` blocks with no tick in between, then drains.
Outcome RunBurst(bool bounded, int blocks, std::int32_t bufferSize, bool pausedDuringBurst) {
    LineView view;
    TrafficLog log;
    log.SetView(&view);
    log.BufferSize = bufferSize;
    log.BoundPending = bounded;
    for (int i = 0; i < 300; ++i) {
        log.LogMessage(("earlier line " + std::to_string(i)).c_str());
    }
    log.OnLogTimer();
    log.SetPaused(pausedDuringBurst);

    Outcome outcome;
    Traffic traffic(12345);
    for (int i = 0; i < blocks; ++i) {
        traffic.SendBlock(log, 4 + i % 7);
        outcome.largestQueue = std::max(outcome.largestQueue, log.PendingCharacters());
        if (log.Pending().tail != nullptr) {
            outcome.largestEntry =
                std::max<std::int64_t>(outcome.largestEntry, log.Pending().tail->length);
        }
    }
    log.SetPaused(false);
    while (log.HasPending() && outcome.ticks < 10000000) {
        log.OnLogTimer();
        ++outcome.ticks;
    }
    outcome.view = view.Text();
    return outcome;
}

TEST(PendingBound, HundredThousandBlocksStayWithinTheCapAndShowTheSameView) {
    const Outcome bounded = RunBurst(true, 100000, kBufferSize32KB, false);
    const Outcome unbounded = RunBurst(false, 100000, kBufferSize32KB, false);
    EXPECT_LE(bounded.largestQueue, kPendingBound + bounded.largestEntry);
    EXPECT_GT(unbounded.largestQueue, 4 * kPendingBound);  // what the bound prevents
    ASSERT_FALSE(bounded.view.empty());
    EXPECT_EQ(bounded.view, unbounded.view);
}

TEST(PendingBound, PausedBurstAndOtherCapsGiveTheSameView) {
    for (std::int32_t cap : {kBufferSize32KB, kBufferSize2MB, 300}) {
        const Outcome bounded = RunBurst(true, 40000, cap, true);
        const Outcome unbounded = RunBurst(false, 40000, cap, true);
        EXPECT_LE(bounded.largestQueue, kPendingBound + bounded.largestEntry) << cap;
        EXPECT_EQ(bounded.view, unbounded.view) << cap;
    }
}

// The queue holds what the largest cap can show, whatever the Size: raising the cap while
// lines wait shows them; at Unlimited the oldest go beyond kPendingBoundUnlimited.
TEST(PendingBound, EverySizeIsBoundedAndARaisedCapShowsWhatWaited) {
    LineView view;
    TrafficLog log;
    log.SetView(&view);
    std::string expected;
    for (int i = 0; i < 10000; ++i) {  // 1 MB, no tick in between
        const std::string line = std::to_string(i) + std::string(94, 'w');
        log.AppendLogLine(line.c_str(), i % 3 ? LogKind::Message : LogKind::Data, -1, 0);
        expected += std::to_string(ColourOf(i % 3 ? LogKind::Message : LogKind::Data)) + ":" +
                    line + "\r\n";
    }
    log.SetBufferSize(kBufferSize2MB);
    for (int ticks = 0; log.HasPending() && ticks < 100000; ++ticks) {
        log.OnLogTimer();
    }
    EXPECT_TRUE(view.Text() == expected)
        << view.Text().size() << " of " << expected.size() << " characters shown";

    log.SetBufferSize(kUnlimited);
    const std::string line(998, 'u');
    for (int i = 0; i < 40000; ++i) {  // 40 MB
        log.LogMessage(line.c_str());
        log.LogError("e");
    }
    EXPECT_LE(log.PendingCharacters(), kPendingBoundUnlimited + 1000);
    EXPECT_GT(log.PendingCharacters(), kPendingBoundUnlimited - 1000);
    EXPECT_EQ(std::string(log.Pending().tail->View()), "e\r\n");
    log.SetBufferSize(kBufferSize32KB);  // from Unlimited to a cap: down to the cap's bound
    EXPECT_LE(log.PendingCharacters(), kPendingBound + 1000);
}

// What the bound drops leaves a mark in the view where the lines would have been, as a run
// of its own in the Error colour; the next run begins with the first line kept. The Log File
// has every line and no mark.
TEST(PendingBound, DroppedLinesLeaveAMarkInTheViewOnly) {
    testing::TempLogName file("marked.txt");
    testing::RecordingView view;
    TrafficLog log;
    log.SetView(&view);
    log.SetBufferSize(kUnlimited);
    ASSERT_TRUE(log.File().OpenLogFile(file.Path()));
    log.SetPaused(true);
    const std::string fill(90, 'n');
    constexpr int kLines = 200000;  // 20 MB, beyond the bound at Unlimited
    for (int i = 0; i < kLines; ++i) {
        log.LogMessage(("line " + std::to_string(i) + " " + fill).c_str());
    }
    log.File().CloseLogFile();
    const std::int64_t dropped = log.DroppedLines();
    ASSERT_GT(dropped, 20000);
    log.SetPaused(false);
    while (log.FlushLogRun()) {
    }
    ASSERT_GE(view.runs.size(), 2u);
    EXPECT_EQ(view.runs[0].text, "(" + std::string(FormatCount(dropped).View()) +
                                     " lines not shown: the view fell behind; the Log File "
                                     "has every line)\r\n");
    EXPECT_EQ(view.runs[0].colour, ColourOf(LogKind::Error));
    EXPECT_EQ(view.runs[1].text.rfind("line " + std::to_string(dropped) + " ", 0), 0u);
    EXPECT_EQ(view.text.substr(view.text.size() - fill.size() - 14, 12), "line 199999 ");
    const std::string logged = file.Contents();
    EXPECT_EQ(logged.find("not shown"), std::string::npos);
    EXPECT_NE(logged.find("\r\nline " + std::to_string(dropped - 1) + " "), std::string::npos);

    // At a cap, one line dropped, no Log File: the mark says so.
    testing::RecordingView capped;
    TrafficLog other;
    other.SetView(&capped);
    other.LogMessage("first");
    other.AppendLogLine(std::string(kPendingBound - 1, 'd').c_str(), LogKind::Data, -1, 0);
    while (other.FlushLogRun()) {
    }
    EXPECT_EQ(capped.runs.at(0).text, "(1 line not shown: the view fell behind)\r\n");
    EXPECT_EQ(capped.runs.at(1).text.size(), static_cast<std::size_t>(kPendingBound + 1));
}

TEST(PendingBound, LogFileStillReceivesEveryLine) {
    testing::TempLogName file("bound.txt");
    TrafficLog log;
    ASSERT_TRUE(log.File().OpenLogFile(file.Path()));
    for (int i = 0; i < 60000; ++i) {
        log.LogMessage(("m" + std::to_string(i)).c_str());
        log.LogError(std::string(30, 'e').c_str());
    }
    log.File().CloseLogFile();
    const std::string text = file.Contents();
    EXPECT_NE(text.find("m0\r\n"), std::string::npos);
    EXPECT_NE(text.find("m59999\r\n"), std::string::npos);
    EXPECT_LT(log.PendingCharacters(), kPendingBound + 40);
}

}  // namespace
}  // namespace corvane::log
