// Time Stamps: the stamp's form, the lines that carry it and those that do not, and that it
// is the time of the logging call, not of the moment the line reaches the view.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "log/dump_format.h"
#include "log/text_lines.h"
#include "log/traffic_log.h"
#include "log_support.h"

namespace corvane::log {
namespace {

using testing::CrLf;
using testing::FixedClock;
using testing::RecordingView;
using testing::TempLogName;

class TimeStampTest : public ::testing::Test {
protected:
    void SetUp() override {
        log.TimeStamps = true;
        log.SetStampClock(&FixedClock::Read);
        log.SetView(&view);
    }
    // Everything queued, joined.
    std::string Queued() {
        std::string text;
        for (const LogEntry* e = log.Pending().head; e != nullptr; e = e->next) {
            text.append(e->View());
        }
        return text;
    }
    TrafficLog log;
    RecordingView view;
};

TEST_F(TimeStampTest, StampIsTwoDigitsEachAndThreeForTheMilliseconds) {
    struct Case {
        int h, m, s, ms;
        const char* stamp;
    };
    const Case cases[] = {{0, 0, 0, 0, "00:00:00.000 "},
                          {9, 5, 3, 7, "09:05:03.007 "},
                          {14, 3, 7, 250, "14:03:07.250 "},
                          {23, 59, 59, 999, "23:59:59.999 "}};
    for (const Case& c : cases) {
        FixedClock::Set(c.h, c.m, c.s, c.ms);
        log.LogMessage("Waiting for connections");
        EXPECT_EQ(Queued(), std::string(c.stamp) + "Waiting for connections\r\n");
        log.DiscardPendingLog();
    }
}

TEST_F(TimeStampTest, EveryMessageLineCarriesItTextAndDumpLinesDoNot) {
    FixedClock::Set(14, 3, 7, 250);
    const std::string stamp = "14:03:07.250 ";
    TempLogName file("stamped.txt");
    ASSERT_TRUE(log.File().OpenLogFile(file.Path()));
    struct Case {
        std::function<void()> log;
        std::string expected;  // the lines, each with CR LF
    };
    const std::string request = "GET / HTTP/1.0\r\n\r\n";
    const std::string binary("\x01\x02\x03", 3);
    char dumpLine[kDumpLineWidth];
    FormatDumpLine(reinterpret_cast<const unsigned char*>(binary.data()), 3, 0, dumpLine);
    const Case cases[] = {
        {[&] { log.LogMessage("Local Port (8080) opened"); },
         stamp + "Local Port (8080) opened\r\n"},
        {[&] { log.LogConnectionMessage(18, "Client connected; 127.0.0.1:5000"); },
         stamp + "18: Client connected; 127.0.0.1:5000\r\n"},
        {[&] { log.LogInform("Could not accept connection from Client"); },
         stamp + "Could not accept connection from Client\r\n"},
        {[&] { log.LogConnectionInform(18, "Client disconnected"); },
         stamp + "18: Client disconnected\r\n"},
        {[&] { log.LogError("Stopped by user"); }, stamp + "Stopped by user\r\n"},
        // A block of text lines: the header is stamped, its lines are not.
        {[&] {
             LogChain lines;
             int textCount = 0;
             bool incomplete = false;
             ASSERT_TRUE(SplitTextLines(request.data(), static_cast<int>(request.size()), lines,
                                        textCount, incomplete));
             log.DumpBlock(18, lines, textCount, incomplete, kClientToServer,
                           static_cast<int>(request.size()), request.data());
         },
         stamp + "18: Client to Server (18 bytes)\r\nGET / HTTP/1.0\r\n\r\n"},
        // A dump: the header is stamped, the dump lines are not.
        {[&] {
             LogChain none;
             log.DumpBlock(18, none, 0, false, kServerToClient, 3, binary.data());
         },
         stamp + "18: Server to Client (3 bytes)\r\n" + std::string(dumpLine, sizeof dumpLine) +
             "\r\n"},
        // A data line logged by itself (a dump line by line) is not stamped either.
        {[&] { log.AppendLogLine("0010  41", LogKind::Data, -1, kDetailHigh); }, "0010  41\r\n"},
    };
    std::string all;
    for (const Case& c : cases) {
        c.log();
        EXPECT_EQ(Queued(), c.expected);
        all += c.expected;
        log.DiscardPendingLog();
    }
    log.File().CloseLogFile();
    EXPECT_EQ(file.Contents(), all) << "the Log File carries the same stamps";
}

TEST_F(TimeStampTest, ALineLoggedWhilePausedKeepsTheTimeItWasLogged) {
    log.SetPaused(true);
    FixedClock::Set(10, 0, 0, 125);
    log.LogConnectionMessage(7, "Client to Server (18 bytes)");
    FixedClock::Set(10, 0, 42, 500);  // Resume comes later
    log.SetPaused(false);
    log.CatchUpView();
    ASSERT_EQ(view.runs.size(), 1u);
    EXPECT_EQ(view.runs[0].text, "10:00:00.125 7: Client to Server (18 bytes)\r\n");
}

}  // namespace
}  // namespace corvane::log
