#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "log/dump_format.h"
#include "log/text_lines.h"
#include "log/traffic_log.h"
#include "log_support.h"
#include "platform/memory.h"

namespace corvane::log {
namespace {

using testing::CrLf;
using testing::RecordingView;
using testing::TempLogName;

std::string DumpLine(const std::string& bytes, int offset) {
    char out[kDumpLineWidth];
    FormatDumpLine(reinterpret_cast<const unsigned char*>(bytes.data()),
                   static_cast<int>(bytes.size()), offset, out);
    return std::string(out, sizeof out);
}

TEST(DumpLine, FullLineOfSixteenBytes) {
    const std::string bytes("Hello\x00\x01\x02\xFF\x7E ABC\r\n", 16);
    EXPECT_EQ(DumpLine(bytes, 0),
              "0000  48 65 6C 6C 6F 00 01 02  FF 7E 20 41 42 43 0D 0A  Hello....~ ABC..");
}

TEST(DumpLine, EveryFullLineMatchesTheLayoutByHand) {
    // Random lines and offsets against the layout spelled out byte by byte, so that a fast
    // path that puts one digit or blank in the wrong column shows.
    std::uint32_t seed = 99;
    for (int n = 0; n < 5000; ++n) {
        std::string bytes(16, '\0');
        for (char& c : bytes) {
            seed = seed * 1103515245u + 12345u;
            c = static_cast<char>(seed >> 16);
        }
        const int offset = static_cast<int>(seed % 0x10000) & ~15;
        char expected[128];
        int at = std::snprintf(expected, sizeof expected, "%04X ", offset);
        for (int i = 0; i < 16; ++i) {
            at += std::snprintf(expected + at, sizeof expected - at, "%s %02X", i == 8 ? " " : "",
                                static_cast<unsigned char>(bytes[i]));
        }
        at += std::snprintf(expected + at, sizeof expected - at, "  ");
        for (char c : bytes) {
            const auto u = static_cast<unsigned char>(c);
            expected[at++] = (u >= 0x20 && u <= 0x7E) ? c : '.';
        }
        ASSERT_EQ(DumpLine(bytes, offset), std::string(expected, at)) << "line " << n;
    }
}

// The byte-by-byte layout of a full line and the one FormatDumpLine uses (byte shuffles where
// the processor has them) give the same line for every byte value in every column.
TEST(DumpLine, ScalarAndShuffledFullLinesAgree) {
    std::string bytes(16, '\0');
    for (int n = 0; n < 256 * 16; ++n) {
        for (int i = 0; i < 16; ++i) {
            bytes[i] = static_cast<char>((n + i * 17) & 0xFF);
        }
        const int offset = (n * 16) & 0xFFFF;
        char scalar[kDumpLineWidth];
        FormatFullDumpLineScalar(reinterpret_cast<const unsigned char*>(bytes.data()), offset,
                                 scalar);
        ASSERT_EQ(std::string(scalar, sizeof scalar), DumpLine(bytes, offset)) << "line " << n;
    }
}

TEST(DumpLine, ShortLineKeepsTheColumns) {
    const std::string line = DumpLine("A", 0x10);
    ASSERT_EQ(line.size(), 72u);
    EXPECT_EQ(line.substr(0, 8), "0010  41");
    EXPECT_EQ(line.substr(8, 48), std::string(48, ' '));
    EXPECT_EQ(line.substr(56), "A" + std::string(15, ' '));
    // Nine bytes: the second half starts after its extra blank at column 30.
    EXPECT_EQ(DumpLine("012345678", 0xABCD),
              "ABCD  30 31 32 33 34 35 36 37  38                       012345678       ");
}

TEST(DumpLine, SixteenBytesGiveOneLineAndSeventeenTwo) {
    const std::string bytes(17, 'z');
    std::string out(2 * kDumpLineLength, '#');
    FormatDump(bytes.data(), 0, 16, out.data());
    EXPECT_EQ(out.substr(kDumpLineLength), std::string(kDumpLineLength, '#'));
    FormatDump(bytes.data(), 0, 17, out.data());
    EXPECT_EQ(out.substr(kDumpLineLength),
              "0010  7A" + std::string(48, ' ') + "z" + std::string(15, ' ') + "\r\n");
    EXPECT_EQ(DumpLineCount(16), 1);
    EXPECT_EQ(DumpLineCount(17), 2);
}

// The three worked examples, through DumpBlock into a text Log File and the queue.
class DumpBlockTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(log.File().OpenLogFile(file.Path()));
        log.SetView(&view);
    }
    void Block(int number, const std::string& bytes, bool fromClient, bool textMode,
               bool httpRequestSeen) {
        LogChain lines;
        int textCount = 0;
        bool incomplete = false;
        const int size = static_cast<int>(bytes.size());
        if (textMode) {
            ASSERT_TRUE(SplitTextLines(bytes.data(), size, lines, textCount, incomplete));
            if (textCount != size) {
                if (fromClient) {
                    FreeChain(lines);
                    textCount = 0;
                } else {
                    KeepHttpResponseHeader(bytes.data(), lines, textCount, httpRequestSeen);
                }
            }
        }
        log.DumpBlock(number, lines, textCount, incomplete,
                      fromClient ? kClientToServer : kServerToClient, size, bytes.data());
        EXPECT_TRUE(lines.Empty());
    }
    std::string FileText() {
        log.File().CloseLogFile();
        return file.Contents();
    }
    std::vector<std::pair<std::string, Colour>> Queued() const {
        std::vector<std::pair<std::string, Colour>> out;
        for (const LogEntry* e = log.Pending().head; e != nullptr; e = e->next) {
            out.emplace_back(std::string(e->View()), e->colour);
        }
        return out;
    }

    TempLogName file{"dump.txt"};
    RecordingView view;
    TrafficLog log;
};

constexpr Colour kNavy = ColourOf(LogKind::Message);
constexpr Colour kBlack = ColourOf(LogKind::Data);

TEST_F(DumpBlockTest, TextBlockWithIncompleteLastLine) {
    Block(5, "HTTP/1.0 200 OK\r\nX: 1\r\n\r\nhi", false, true, false);
    const std::vector<std::string> expected = {
        "5: Server to Client (27 bytes, Incomplete last line)", "HTTP/1.0 200 OK", "X: 1", "",
        "hi"};
    EXPECT_EQ(FileText(), CrLf(expected));
    const auto queued = Queued();
    ASSERT_EQ(queued.size(), 5u);
    EXPECT_EQ(queued[0], std::make_pair(CrLf({expected[0]}), kNavy));
    EXPECT_EQ(queued[4], std::make_pair(std::string("hi\r\n"), kBlack));
}

TEST_F(DumpBlockTest, HexBlockOfTwentyBytes) {
    const std::string bytes(
        "Hello\x00\x01\x02\xFF\x7E ABC\r\n\t\x7F\x80"
        "1",
        20);
    Block(5, bytes, true, false, false);
    const std::string dump = CrLf({
        "0000  48 65 6C 6C 6F 00 01 02  FF 7E 20 41 42 43 0D 0A  Hello....~ ABC..",
        "0010  09 7F 80 31                                       ...1            ",
    });
    EXPECT_EQ(FileText(), CrLf({"5: Client to Server (20 bytes)"}) + dump);
    const auto queued = Queued();
    ASSERT_EQ(queued.size(), 2u);
    EXPECT_EQ(queued[1], std::make_pair(dump, kBlack));  // one entry for the whole dump
}

TEST_F(DumpBlockTest, ResponseHeaderThenDumpFromItsOffset) {
    const std::string bytes = std::string("HTTP/1.0 200 OK\r\nX: 1\r\n\r\n") + "\x89PNG";
    Block(5, bytes, false, true, true);
    EXPECT_EQ(FileText(),
              CrLf({"5: Server to Client (29 bytes)", "HTTP/1.0 200 OK", "X: 1", "",
                    "0019  89 50 4E 47                                       .PNG            "}));
}

TEST_F(DumpBlockTest, ClientBlockNotAllTextIsDumpedWhole) {
    Block(9, std::string("PING\r\n\0", 7), true, true, false);
    const std::string text = FileText();
    EXPECT_EQ(text.substr(0, text.find('\n') + 1), CrLf({"9: Client to Server (7 bytes)"}));
    EXPECT_NE(text.find("0000  50 49 4E 47 0D 0A 00"), std::string::npos);
}

TEST_F(DumpBlockTest, MediumShowsOnlyTheHeaderAndLowNothing) {
    log.Detail = kDetailMedium;
    Block(7, "GET / HTTP/1.0\r\n\r\nxx", true, true, false);
    Block(7, std::string("\x01\x02", 2), true, false, false);
    ASSERT_EQ(Queued().size(), 2u);
    EXPECT_EQ(Queued()[0].first, "7: Client to Server (20 bytes, Incomplete last line)\r\n");
    EXPECT_EQ(Queued()[1].first, "7: Client to Server (2 bytes)\r\n");
    log.Detail = kDetailLow;
    Block(7, "abc\r\n", true, true, false);
    EXPECT_EQ(Queued().size(), 2u);
    // The file still holds everything.
    const std::string text = FileText();
    EXPECT_NE(text.find("\r\nxx\r\n"), std::string::npos);
    EXPECT_NE(text.find("0000  01 02"), std::string::npos);
    EXPECT_NE(text.find("7: Client to Server (5 bytes)\r\nabc\r\n"), std::string::npos);
}

TEST(HexDump, BuildsNothingThatNoSinkWants) {
    TrafficLog log;
    log.Detail = kDetailMedium;
    int allocations = 0;
    platform::SetAllocationFailure([&allocations](std::size_t) {
        ++allocations;
        return false;
    });
    log.HexDump("abcdef", 6, 0);
    log.Detail = kDetailLow;
    LogChain none;
    log.DumpBlock(3, none, 0, false, kClientToServer, 6, "abcdef");
    platform::SetAllocationFailure({});
    EXPECT_EQ(allocations, 0);
    EXPECT_FALSE(log.HasPending());
}

// Without memory for the whole dump, it goes line by line; a line that cannot be queued
// ends the dump in both sinks, never in the middle of a line: that line is in the Log File
// (written before it was queued), the lines after it are in neither.
TEST_F(DumpBlockTest, ShortageFallsBackToLinesAndStopsWhole) {
    const std::string bytes(80, 'q');  // five lines
    int lineAllocations = 0;
    platform::SetAllocationFailure([&lineAllocations](std::size_t size) {
        if (size > EntryBytes(kDumpLineLength)) {
            return true;  // the whole dump
        }
        return ++lineAllocations > 2;  // room for two single lines only
    });
    log.SetPaused(true);  // nothing can be moved to free memory
    log.HexDump(bytes.data(), 80, 0);
    platform::SetAllocationFailure({});
    const auto queued = Queued();
    ASSERT_EQ(queued.size(), 2u);
    EXPECT_EQ(queued[1].first.substr(0, 4), "0010");
    const std::string text = FileText();
    EXPECT_EQ(text.size(), 3u * kDumpLineLength);
    EXPECT_EQ(text.substr(2 * kDumpLineLength, 4), "0020");
}

}  // namespace
}  // namespace corvane::log
