// PendingLog stays bounded while BufferSize is a cap, and the view that the queue leaves
// once drained is exactly the view an unbounded queue leaves.
#include <gtest/gtest.h>

#include <cstdint>
#include <deque>
#include <string>
#include <utility>

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
    EXPECT_LE(bounded.largestQueue, kBufferSize32KB + bounded.largestEntry);
    EXPECT_GT(unbounded.largestQueue, 100 * kBufferSize32KB);  // what the bound prevents
    EXPECT_LT(bounded.ticks, unbounded.ticks / 100);
    ASSERT_FALSE(bounded.view.empty());
    EXPECT_EQ(bounded.view, unbounded.view);
}

TEST(PendingBound, PausedBurstAndOtherCapsGiveTheSameView) {
    for (std::int32_t cap : {kBufferSize32KB, kBufferSize128KB, 300}) {
        const Outcome bounded = RunBurst(true, 5000, cap, true);
        const Outcome unbounded = RunBurst(false, 5000, cap, true);
        EXPECT_LE(bounded.largestQueue, cap + bounded.largestEntry) << cap;
        EXPECT_EQ(bounded.view, unbounded.view) << cap;
    }
}

TEST(PendingBound, UnlimitedKeepsEverythingQueued) {
    TrafficLog log;
    log.BufferSize = kUnlimited;
    for (int i = 0; i < 2000; ++i) {
        log.LogMessage(std::string(40, 'u').c_str());
        log.LogError("e");
    }
    EXPECT_EQ(log.PendingCharacters(), 2000 * (42 + 3));
}

TEST(PendingBound, NewestRunIsNeverDropped) {
    LineView view;
    TrafficLog log;
    log.SetView(&view);
    log.LogError("older");
    for (int i = 0; i < 2000; ++i) {  // one run far longer than the cap
        log.LogMessage(std::string(98, 'n').c_str());
    }
    EXPECT_EQ(log.PendingCharacters(), 2000 * 100);  // only "older" went
    log.OnLogTimer();
    EXPECT_FALSE(log.HasPending());
    EXPECT_EQ(view.TextLength(), 2000 * 100);
}

TEST(PendingBound, LogFileStillReceivesEveryLine) {
    testing::TempLogName file("bound.txt");
    TrafficLog log;
    ASSERT_TRUE(log.File().OpenLogFile(file.Path()));
    for (int i = 0; i < 3000; ++i) {
        log.LogMessage(("m" + std::to_string(i)).c_str());
        log.LogError(std::string(30, 'e').c_str());
    }
    log.File().CloseLogFile();
    const std::string text = file.Contents();
    EXPECT_NE(text.find("m0\r\n"), std::string::npos);
    EXPECT_NE(text.find("m2999\r\n"), std::string::npos);
    EXPECT_LT(log.PendingCharacters(), kBufferSize32KB + 40);
}

}  // namespace
}  // namespace corvane::log
