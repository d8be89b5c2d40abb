#include <gtest/gtest.h>
#include <QTest>

#include <string>

#include "log/log_file.h"
#include "log/text_lines.h"
#include "log/traffic_log.h"
#include "log_support.h"

namespace corvane::log {
namespace {

using testing::CrLf;
using testing::TempLogName;

TEST(IsHtmlLogName, NameTable) {
    // "C:.htm": a drive colon ends the directory part; only the last full stop of the last
    // component counts.
    for (const char* name : {"LOG.HTM", "Log.Html", "C:\\logs\\x.htm", "/var/log/x.html", "C:.htm",
                             "a.b.htm", "x.y.HTML", "dir.v2\\x.htm"}) {
        EXPECT_TRUE(IsHtmlLogName(name)) << name;
    }
    for (const char* name : {"x.htm.txt", "a.htm.b", "x.htmx", "x", "x.", "C:\\dir.htm\\x",
                             "/dir.html/x", "dir.v2/x.txt", "dir.v2/x", ""}) {
        EXPECT_FALSE(IsHtmlLogName(name)) << name;
    }
}

const std::string kHeader = CrLf({
    "<html>",
    "<head>",
    "  <meta name=\"Generator\" content=\"Corvane\">",
    "  <title>Corvane Log File</title>",
    "  <style type=\"text/css\">",
    "    <!--",
    "    span {font-size: 10pt; font-family: \"Courier New\", Courier, monospace}",
    "    span.tserror {color: red}",
    "    span.tsmsg {color: navy}",
    "    span.tsdata {color: black}",
    "    span.tsinform {color: maroon}",
    "    body {background: white; margin-top: 0; margin-right: 0; margin-left: 0; margin-bottom: "
    "0}",
    "    -->",
    "  </style>",
    "</head>",
    "<body>",
});

// The lines of a short run as the relay and Stop log them, with one 9-byte block.
void LogExampleRun(TrafficLog& log) {
    log.LogMessage("Local Port (8080) opened");
    log.LogMessage("Waiting for connections");
    log.LogConnectionMessage(344, "Client connected; 127.0.0.1:1090");
    log.LogConnectionMessage(344, "Connecting to Server");
    log.LogConnectionMessage(344, "Connected to Server");
    const std::string bytes = "a  <b>&\r\n";
    LogChain lines;
    int textCount = 0;
    bool incomplete = false;
    ASSERT_TRUE(SplitTextLines(bytes.data(), 9, lines, textCount, incomplete));
    log.DumpBlock(344, lines, textCount, incomplete, kClientToServer, 9, bytes.data());
    log.DiscardPendingLog();
    log.LogError("Stopped by user");
    log.LogMessage("Local Port closed");
    log.LogConnectionMessage(344, "Disconnected from Client");
    log.LogConnectionMessage(344, "Disconnected from Server");
    log.File().CloseLogFile();
}

TEST(LogFileFormat, HtmlExampleRun) {
    TempLogName file("run.htm");
    TrafficLog log;
    log.Detail = 0;  // the file is the same at every Detail
    ASSERT_TRUE(log.File().OpenLogFile(file.Path()));
    EXPECT_TRUE(log.File().IsHtml());
    LogExampleRun(log);
    EXPECT_FALSE(log.File().IsOpen());
    EXPECT_EQ(file.Contents(),
              kHeader + CrLf({
                            "<span class=\"tsmsg\">Local Port (8080) opened<br />",
                            "Waiting for connections<br />",
                            "344: Client connected; 127.0.0.1:1090<br />",
                            "344: Connecting to Server<br />",
                            "344: Connected to Server<br />",
                            "344: Client to Server (9 bytes)<br />",
                            "</span><span class=\"tsdata\">a &nbsp;&lt;b&gt;&amp;<br />",
                            "</span><span class=\"tserror\">Stopped by user<br />",
                            "</span><span class=\"tsmsg\">Local Port closed<br />",
                            "344: Disconnected from Client<br />",
                            "344: Disconnected from Server<br />",
                            "</span>",
                            "</body>",
                            "</html>",
                        }));
}

TEST(LogFileFormat, TextExampleRun) {
    TempLogName file("run.txt");
    TrafficLog log;
    ASSERT_TRUE(log.File().OpenLogFile(file.Path()));
    EXPECT_FALSE(log.File().IsHtml());
    LogExampleRun(log);
    EXPECT_EQ(file.Contents(), CrLf({
                                   "Local Port (8080) opened",
                                   "Waiting for connections",
                                   "344: Client connected; 127.0.0.1:1090",
                                   "344: Connecting to Server",
                                   "344: Connected to Server",
                                   "344: Client to Server (9 bytes)",
                                   "a  <b>&",
                                   "Stopped by user",
                                   "Local Port closed",
                                   "344: Disconnected from Client",
                                   "344: Disconnected from Server",
                               }));
}

TEST(LogFileFormat, TimeStampsStandAtTheStartOfEachMessageLineInsideItsSpan) {
    testing::FixedClock::Set(14, 3, 7, 250);
    const std::string t = "14:03:07.250 ";
    const auto run = [](const TempLogName& file) {
        TrafficLog log;
        log.TimeStamps = true;
        log.SetStampClock(&testing::FixedClock::Read);
        EXPECT_TRUE(log.File().OpenLogFile(file.Path()));
        LogExampleRun(log);
        return file.Contents();
    };
    TempLogName html("run.htm");
    EXPECT_EQ(run(html),
              kHeader + CrLf({
                            "<span class=\"tsmsg\">" + t + "Local Port (8080) opened<br />",
                            t + "Waiting for connections<br />",
                            t + "344: Client connected; 127.0.0.1:1090<br />",
                            t + "344: Connecting to Server<br />",
                            t + "344: Connected to Server<br />",
                            t + "344: Client to Server (9 bytes)<br />",
                            "</span><span class=\"tsdata\">a &nbsp;&lt;b&gt;&amp;<br />",
                            "</span><span class=\"tserror\">" + t + "Stopped by user<br />",
                            "</span><span class=\"tsmsg\">" + t + "Local Port closed<br />",
                            t + "344: Disconnected from Client<br />",
                            t + "344: Disconnected from Server<br />",
                            "</span>",
                            "</body>",
                            "</html>",
                        }));
    TempLogName text("run.txt");
    EXPECT_EQ(run(text), CrLf({
                             t + "Local Port (8080) opened",
                             t + "Waiting for connections",
                             t + "344: Client connected; 127.0.0.1:1090",
                             t + "344: Connecting to Server",
                             t + "344: Connected to Server",
                             t + "344: Client to Server (9 bytes)",
                             "a  <b>&",
                             t + "Stopped by user",
                             t + "Local Port closed",
                             t + "344: Disconnected from Client",
                             t + "344: Disconnected from Server",
                         }));
}

class HtmlWriter : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(file.OpenLogFile(name.Path())); }
    // The body between the header and the closing lines.
    std::string Body() {
        file.CloseLogFile();
        const std::string all = name.Contents();
        EXPECT_EQ(all.substr(0, kHeader.size()), kHeader);
        return all.substr(kHeader.size());
    }
    TempLogName name{"w.html"};
    LogFile file;
};

TEST_F(HtmlWriter, BlankRunsAndALeadingBlank) {
    file.WriteLogText("a   b", LogKind::Message);
    file.WriteLogText("\r\n", LogKind::Message);
    file.WriteLogText("  x\r\n", LogKind::Message);  // a text of its own starts plain
    file.WriteLogText("\"q\"\t\x01\r\n", LogKind::Message);
    EXPECT_EQ(Body(), CrLf({"<span class=\"tsmsg\">a &nbsp;&nbsp;b<br />", " &nbsp;x<br />",
                            "\"q\"\t\x01<br />", "</span>", "</body>", "</html>"}));
}

TEST_F(HtmlWriter, ThreeSpansForMessageDataMessage) {
    file.WriteLogText("m1\r\n", LogKind::Message);
    file.WriteLogText("m2\r\n", LogKind::Message);
    file.WriteLogText("d\r\n", LogKind::Data);
    file.WriteLogText("i\r\n", LogKind::Inform);
    file.WriteLogText("m3\r\n", LogKind::Message);
    EXPECT_EQ(
        Body(),
        CrLf({"<span class=\"tsmsg\">m1<br />", "m2<br />", "</span><span class=\"tsdata\">d<br />",
              "</span><span class=\"tsinform\">i<br />", "</span><span class=\"tsmsg\">m3<br />",
              "</span>", "</body>", "</html>"}));
}

TEST(HtmlDump, BlanksBecomeNbspRuns) {
    TempLogName name("dump.htm");
    TrafficLog log;
    ASSERT_TRUE(log.File().OpenLogFile(name.Path()));
    log.Detail = kDetailLow;
    log.HexDump("A<", 2, 0);
    log.File().CloseLogFile();
    std::string nbsp;
    for (int i = 0; i < 44; ++i) {
        nbsp += "&nbsp;";
    }
    std::string tail;
    for (int i = 0; i < 13; ++i) {
        tail += "&nbsp;";
    }
    EXPECT_EQ(name.Contents(), kHeader + CrLf({"<span class=\"tsdata\">0000 &nbsp;41 3C " + nbsp +
                                                   "A&lt; " + tail + "<br />",
                                               "</span>", "</body>", "</html>"}));
}

// A text far larger than the writer's buffer is escaped as if written line by line (each
// line here starts with a letter, so the blank rule does not depend on where texts begin).
TEST(HtmlWriterLarge, LongTextMatchesLineByLine) {
    std::string whole;
    for (int i = 0; i < 30000; ++i) {
        whole += "x" + std::string(static_cast<std::size_t>(i % 5), ' ') + "<y>&z\r\n";
    }
    TempLogName once("once.htm");
    TempLogName lines("lines.htm");
    LogFile a;
    LogFile b;
    ASSERT_TRUE(a.OpenLogFile(once.Path()));
    ASSERT_TRUE(b.OpenLogFile(lines.Path()));
    a.WriteLogText(whole, LogKind::Data);
    for (std::size_t start = 0; start < whole.size();) {
        const std::size_t end = whole.find('\n', start) + 1;
        b.WriteLogText(std::string_view(whole).substr(start, end - start), LogKind::Data);
        start = end;
    }
    a.CloseLogFile();
    b.CloseLogFile();
    const std::string written = once.Contents();
    EXPECT_EQ(written, lines.Contents());
    EXPECT_NE(written.find("x &nbsp;&nbsp;&nbsp;&lt;y&gt;&amp;z<br />\r\n"), std::string::npos);
    EXPECT_GT(written.size(), 3 * LogFile::kBufferBytes);
}

TEST_F(HtmlWriter, NoSpanMeansNoClosingSpan) {
    EXPECT_EQ(Body(), CrLf({"</body>", "</html>"}));
}

TEST(LogFile, ReopeningEmptiesAndLargeTextsArriveWhole) {
    TempLogName name("big.txt");
    LogFile file;
    ASSERT_TRUE(file.OpenLogFile(name.Path()));
    file.WriteLogText("old run\r\n", LogKind::Message);
    file.CloseLogFile();
    ASSERT_TRUE(file.OpenLogFile(name.Path()));
    std::string expected;
    for (int i = 0; i < 3000; ++i) {
        const std::string line = "line " + std::to_string(i) + std::string(i % 97, '.') + "\r\n";
        file.WriteLogText(line, LogKind::Data);
        expected += line;
    }
    const std::string huge(LogFile::kBufferBytes * 3 / 2, 'h');  // more than a buffer at once
    file.WriteLogText(huge, LogKind::Data);
    expected += huge;
    file.CloseLogFile();
    EXPECT_EQ(name.Contents(), expected);
}

TEST(LogFile, ManyBuffersOnTheirWayKeepTheirOrderAndAreAllWrittenAtClose) {
    // Far more than the writer thread may hold at once, in texts of every size, some larger
    // than a buffer; a second file opened at once after the first must not get any of it.
    TempLogName first("first.txt");
    TempLogName second("second.txt");
    LogFile file;
    ASSERT_TRUE(file.OpenLogFile(first.Path()));
    std::string expected;
    std::uint32_t seed = 7;
    for (int i = 0; i < 400; ++i) {
        seed = seed * 1103515245u + 12345u;
        const std::size_t size = 1 + (seed >> 8) % (i % 10 == 0 ? 300000 : 5000);
        std::string text(size, static_cast<char>('a' + i % 26));
        text += std::to_string(i) + "\r\n";
        file.WriteLogText(text, LogKind::Data);
        expected += text;
    }
    ASSERT_TRUE(file.OpenLogFile(second.Path()));
    file.WriteLogText("second run\r\n", LogKind::Message);
    EXPECT_TRUE(first.Contents() == expected) << "the first file is not whole or out of order";
    file.CloseLogFile();
    EXPECT_EQ(second.Contents(), "second run\r\n");
}

// What a quiet relay has logged reaches the file while it stays open, for another process
// (here a reader of its own) to follow; the flush timer hands the buffer over.
TEST(LogFile, BufferedLinesReachTheFileSoonWhileItStaysOpen) {
    TempLogName name("quiet.htm");
    LogFile file;
    ASSERT_TRUE(file.OpenLogFile(name.Path()));
    file.WriteLogText("one quiet line\r\n", LogKind::Message);
    const std::string expected = kHeader + CrLf({"<span class=\"tsmsg\">one quiet line<br />"});
    EXPECT_TRUE(QTest::qWaitFor([&] { return name.Contents() == expected; }, 5000))
        << name.Contents().size() << " bytes on disk";
    EXPECT_TRUE(QTest::qWaitFor([&] { return !file.FlushTimerRunning(); }, 5000));
    file.WriteLogText("and one more\r\n", LogKind::Message);  // starts it again
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return name.Contents() == expected + CrLf({"and one more<br />"}); }, 5000));
    EXPECT_TRUE(file.IsOpen());
}

TEST(LogFile, UnopenableNameFails) {
    LogFile file;
    EXPECT_FALSE(file.OpenLogFile("/nonexistent-dir-corvane/x/log.txt"));
    EXPECT_FALSE(file.IsOpen());
    file.WriteLogText("ignored\r\n", LogKind::Message);  // no file: nothing happens
    file.CloseLogFile();
}

}  // namespace
}  // namespace corvane::log
