// The terminal's Log Buffer on a real pipe: line ends, colours, the size cap while the
// reader stalls, and a reader that goes away.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <csignal>

#include <string>

#include "app/cli/terminal_output.h"
#include "log/traffic_log.h"

namespace corvane::cli {
namespace {

class Pipe {
public:
    Pipe() { EXPECT_EQ(::pipe2(fds_, O_CLOEXEC), 0); }
    ~Pipe() {
        CloseReadEnd();
        ::close(fds_[1]);
    }
    int WriteEnd() const { return fds_[1]; }
    void CloseReadEnd() {
        if (fds_[0] >= 0) {
            ::close(fds_[0]);
            fds_[0] = -1;
        }
    }
    // Everything that is in the pipe now.
    std::string ReadAvailable() {
        std::string got;
        ::fcntl(fds_[0], F_SETFL, O_NONBLOCK);
        char buffer[65536];
        for (ssize_t n; (n = ::read(fds_[0], buffer, sizeof buffer)) > 0;) {
            got.append(buffer, static_cast<std::size_t>(n));
        }
        return got;
    }

private:
    int fds_[2] = {-1, -1};
};

constexpr log::Colour kMessage = log::ColourOf(log::LogKind::Message);
constexpr log::Colour kData = log::ColourOf(log::LogKind::Data);
constexpr log::Colour kError = log::ColourOf(log::LogKind::Error);

TEST(TerminalOutput, WritesLinesWithLineFeedsAndCountsUnwrittenTextAsTheViewDoes) {
    Pipe pipe;
    TerminalOutput out(pipe.WriteEnd(), false);
    out.AppendRun("1: Connected to Server\r\n", kMessage);
    out.AppendRun("GET / HTTP/1.1\r\n\r\n", kData);
    EXPECT_EQ(out.TextLength(), 24 + 18) << "CR LF counts as two, as in the window";
    EXPECT_TRUE(out.WriteAvailable(1 << 20));
    EXPECT_EQ(out.TextLength(), 0);
    EXPECT_FALSE(out.HasUnwritten());
    EXPECT_EQ(pipe.ReadAvailable(), "1: Connected to Server\nGET / HTTP/1.1\n\n");
}

TEST(TerminalOutput, ColoursEveryLineOfARunAndLeavesDataInTheDefaultColour) {
    Pipe pipe;
    TerminalOutput out(pipe.WriteEnd(), true);
    out.AppendRun("a\r\nb\r\n", kMessage);
    out.AppendRun("data\r\n", kData);
    out.AppendRun("Host: h:1\r\n", log::kPurple);
    out.AppendRun("x\r\n", log::ColourOf(log::LogKind::Inform));
    out.AppendRun("Stopped by user\r\n", kError);
    ASSERT_TRUE(out.WriteAvailable(1 << 20));
    EXPECT_EQ(pipe.ReadAvailable(),
              "\x1b[34ma\x1b[39m\n\x1b[34mb\x1b[39m\ndata\n\x1b[35mHost: h:1\x1b[39m\n"
              "\x1b[31mx\x1b[39m\n\x1b[91mStopped by user\x1b[39m\n");
}

TEST(TerminalOutput, DeleteFirstLineDropsWholeLinesAcrossRuns) {
    Pipe pipe;
    TerminalOutput out(pipe.WriteEnd(), false);
    out.AppendRun("one\r\ntwo\r\n", kData);
    out.AppendRun("three\r\n", kMessage);
    out.DeleteFirstLine();
    EXPECT_EQ(out.TextLength(), 5 + 7);
    out.DeleteFirstLine();
    EXPECT_EQ(out.TextLength(), 7);
    ASSERT_TRUE(out.WriteAvailable(1 << 20));
    EXPECT_EQ(pipe.ReadAvailable(), "three\n");
    EXPECT_EQ(out.DroppedLines(), 2u);
    out.DeleteFirstLine();  // nothing held: nothing happens
    EXPECT_EQ(out.TextLength(), 0);
}

TEST(TerminalOutput, StalledReaderKeepsTheHeldTextWithinBufferSizeAndGetsTheNewestLines) {
    Pipe pipe;
    TerminalOutput out(pipe.WriteEnd(), false);
    log::TrafficLog log;
    log.SetView(&out);
    log.BufferSize = log::kBufferSize32KB;
    // Far more than the pipe (64 KiB) and the cap together; the reader reads nothing.
    constexpr int kLines = 20000;
    for (int i = 0; i < kLines; ++i) {
        log.LogMessage(("line " + std::to_string(i)).c_str());
        while (log.FlushLogRun()) {
        }
        out.WriteAvailable(1 << 20);
        ASSERT_LE(out.TextLength(), log::kBufferSize32KB);
    }
    std::string got = pipe.ReadAvailable();
    for (int round = 0; round < 100 && out.HasUnwritten(); ++round) {
        out.WriteAvailable(1 << 20);
        got += pipe.ReadAvailable();
    }
    EXPECT_FALSE(out.HasUnwritten());
    EXPECT_GT(out.DroppedLines(), 0u);
    // Whole lines, in order, ending with the newest; the oldest waiting ones were dropped.
    ASSERT_FALSE(got.empty());
    EXPECT_EQ(got.rfind("line 0\n", 0), 0u);
    const std::string last = "line " + std::to_string(kLines - 1) + "\n";
    EXPECT_EQ(got.substr(got.size() - last.size()), last);
    int previous = -1;
    std::size_t count = 0;
    for (std::size_t at = 0; at < got.size();) {
        const std::size_t lf = got.find('\n', at);
        ASSERT_NE(lf, std::string::npos);
        ASSERT_EQ(got.compare(at, 5, "line "), 0) << "a broken line at " << at;
        const int number = std::stoi(got.substr(at + 5, lf - at - 5));
        EXPECT_GT(number, previous);
        previous = number;
        ++count;
        at = lf + 1;
    }
    EXPECT_EQ(count + out.DroppedLines(), static_cast<std::size_t>(kLines));
}

TEST(TerminalOutput, ReaderThatGoesAwayMakesTheOutputDropEverythingFromThenOn) {
    // The program ignores SIGPIPE, so that the write fails with EPIPE instead.
    struct sigaction ignore {};
    struct sigaction previous {};
    ignore.sa_handler = SIG_IGN;
    ASSERT_EQ(::sigaction(SIGPIPE, &ignore, &previous), 0);
    Pipe pipe;
    TerminalOutput out(pipe.WriteEnd(), false);
    pipe.CloseReadEnd();
    out.AppendRun("lost\r\n", kData);
    EXPECT_TRUE(out.WriteAvailable(1 << 20)) << "EPIPE ends the output, not the program";
    EXPECT_TRUE(out.Broken());
    out.AppendRun("Could not open Local Port\r\n", kError);
    EXPECT_EQ(out.TextLength(), 0);
    EXPECT_EQ(out.ErrorText(), "Could not open Local Port\n") << "still kept for the report";
    ::sigaction(SIGPIPE, &previous, nullptr);
}

TEST(TerminalOutput, ErrorTextHoldsTheErrorRunsSinceTheLastClear) {
    Pipe pipe;
    TerminalOutput out(pipe.WriteEnd(), false);
    out.AppendRun("Stopped by user\r\n", kError);
    out.Clear();
    out.AppendRun("Resolving Remote Host\r\n", kMessage);
    out.AppendRun("Host not found\r\n", kError);
    EXPECT_EQ(out.ErrorText(), "Host not found\n");
    EXPECT_EQ(out.TextLength(), 23 + 16);
}

}  // namespace
}  // namespace corvane::cli
