#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "log/text_lines.h"
#include "platform/memory.h"

namespace corvane::log {
namespace {

struct Split {
    bool ok = false;
    int textCount = -1;
    bool incomplete = false;
    std::vector<std::string> lines;  // each with its CR LF
};

Split SplitBytes(const std::string& bytes) {
    Split result;
    LogChain chain;
    result.ok = SplitTextLines(bytes.data(), static_cast<int>(bytes.size()), chain,
                               result.textCount, result.incomplete);
    for (const LogEntry* e = chain.head; e != nullptr; e = e->next) {
        EXPECT_EQ(e->colour, ColourOf(LogKind::Data));
        EXPECT_EQ(e->Text()[e->length], '\0');
        result.lines.emplace_back(e->View());
    }
    FreeChain(chain);
    return result;
}

using Lines = std::vector<std::string>;

TEST(SplitTextLines, AllTextWithIncompleteLastLine) {
    const Split s = SplitBytes("HTTP/1.0 200 OK\r\nX: 1\r\n\r\nhi");
    ASSERT_TRUE(s.ok);
    EXPECT_EQ(s.textCount, 27);
    EXPECT_TRUE(s.incomplete);
    EXPECT_EQ(s.lines, (Lines{"HTTP/1.0 200 OK\r\n", "X: 1\r\n", "\r\n", "hi\r\n"}));
}

TEST(SplitTextLines, BareLfAndCrLfBothEndLinesAndTabIsText) {
    const Split s = SplitBytes("a\tb\nc\r\n\n");
    EXPECT_EQ(s.textCount, 8);
    EXPECT_FALSE(s.incomplete);
    EXPECT_EQ(s.lines, (Lines{"a\tb\r\n", "c\r\n", "\r\n"}));
}

TEST(SplitTextLines, BlockEndingInCrIsIncompleteWithoutTheCr) {
    const Split first = SplitBytes("PING\r");
    EXPECT_EQ(first.textCount, 5);
    EXPECT_TRUE(first.incomplete);
    EXPECT_EQ(first.lines, (Lines{"PING\r\n"}));
    // The LF that follows in the next block gives an empty line there.
    const Split next = SplitBytes("\nPONG\r\n");
    EXPECT_EQ(next.lines, (Lines{"\r\n", "PONG\r\n"}));
    EXPECT_FALSE(next.incomplete);
}

TEST(SplitTextLines, LoneCrAndCrCrLfAreNotText) {
    const Split lone = SplitBytes("ok\r\nab\rcd\r\n");
    EXPECT_EQ(lone.textCount, 4);  // the line holding the lone CR starts at 4
    EXPECT_FALSE(lone.incomplete);
    EXPECT_EQ(lone.lines, (Lines{"ok\r\n"}));

    const Split doubled = SplitBytes("x\r\r\n");
    EXPECT_EQ(doubled.textCount, 0);
    EXPECT_TRUE(doubled.lines.empty());
}

TEST(SplitTextLines, BytesOutsideBlankToTildeAreNotText) {
    for (int c : {0x00, 0x01, 0x1F, 0x7F, 0x80, 0xA0, 0xFF}) {
        std::string bytes = "GET / HTTP/1.0\r\nab";
        bytes.push_back(static_cast<char>(c));
        const Split s = SplitBytes(bytes);
        EXPECT_EQ(s.textCount, 16) << "byte " << c;
        EXPECT_FALSE(s.incomplete);
        EXPECT_EQ(s.lines, (Lines{"GET / HTTP/1.0\r\n"}));
    }
    EXPECT_EQ(SplitBytes(" ~").textCount, 2);
}

// The scan that builds no lines goes eight bytes at a time: each byte that can end the text
// is tried at every place in and across those words, and the answer must be the split's.
TEST(IsAllText, AgreesWithTheSplitWhereverTheDecidingByteFalls) {
    const std::vector<std::string> bytes = {"\t", "\n", "\r", "\r\n", std::string(1, '\0'),
                                            "\x1F", "\x7F", "\x80", "\xFF", "~ "};
    for (const std::string& b : bytes) {
        for (int length = 0; length <= 20; ++length) {
            for (int at = 0; at <= length; ++at) {
                std::string block(static_cast<std::size_t>(length), 'x');
                block.insert(static_cast<std::size_t>(at), b);
                const bool all = SplitBytes(block).textCount == static_cast<int>(block.size());
                EXPECT_EQ(IsAllText(block.data(), static_cast<int>(block.size())), all)
                    << ::testing::PrintToString(block);
            }
        }
    }
}

TEST(SplitTextLines, EmptyBlockGivesNothing) {
    const Split s = SplitBytes("");
    EXPECT_EQ(s.textCount, 0);
    EXPECT_FALSE(s.incomplete);
    EXPECT_TRUE(s.lines.empty());
}

TEST(SplitTextLines, MemoryShortageFreesTheChain) {
    int calls = 0;
    platform::SetAllocationFailure([&calls](std::size_t) { return ++calls == 3; });
    LogChain chain;
    int textCount = -1;
    bool incomplete = false;
    EXPECT_FALSE(SplitTextLines("a\nb\nc\nd\n", 8, chain, textCount, incomplete));
    platform::SetAllocationFailure({});
    EXPECT_TRUE(chain.Empty());
    EXPECT_EQ(chain.tail, nullptr);
}

// The response rule: a Server block that is not all text keeps an HTTP response's header.
Split KeepHeader(const std::string& bytes, bool httpRequestSeen) {
    Split result;
    LogChain chain;
    SplitTextLines(bytes.data(), static_cast<int>(bytes.size()), chain, result.textCount,
                   result.incomplete);
    KeepHttpResponseHeader(bytes.data(), chain, result.textCount, httpRequestSeen);
    for (const LogEntry* e = chain.head; e != nullptr; e = e->next) {
        result.lines.emplace_back(e->View());
        if (e->next == nullptr) {
            EXPECT_EQ(e, chain.tail);
        }
    }
    FreeChain(chain);
    return result;
}

TEST(HttpResponseRule, KeepsLinesUpToTheEmptyLine) {
    const std::string png = std::string("HTTP/1.0 200 OK\r\nX: 1\r\n\r\nab\r\n") + "\x89PNG";
    const Split s = KeepHeader(png, true);
    EXPECT_EQ(s.textCount, 25);
    EXPECT_EQ(s.lines, (Lines{"HTTP/1.0 200 OK\r\n", "X: 1\r\n", "\r\n"}));
}

TEST(HttpResponseRule, OffsetCountsBareLineFeeds) {
    const Split s = KeepHeader(std::string("HTTP/1.1 204 No\nA: b\n\nzz\n") + '\0', true);
    EXPECT_EQ(s.textCount, 22);
    EXPECT_EQ(s.lines.size(), 3u);
}

TEST(HttpResponseRule, WithoutEmptyLineEveryLineAndTheCountStay) {
    const Split s = KeepHeader(std::string("HTTP/1.1 200 OK\r\nA: b\r\nxy") + '\x01', true);
    EXPECT_EQ(s.textCount, 23);
    EXPECT_EQ(s.lines, (Lines{"HTTP/1.1 200 OK\r\n", "A: b\r\n"}));
}

TEST(HttpResponseRule, OtherBlocksAreDumpedWhole) {
    const std::string bytes = std::string("HTTP/1.0 200 OK\r\n\r\n") + '\x80';
    EXPECT_EQ(KeepHeader(bytes, false).textCount, 0);  // no request seen
    EXPECT_TRUE(KeepHeader(bytes, false).lines.empty());
    const std::string other = std::string("HTTP/2.0 200 OK\r\n\r\n") + '\x80';
    EXPECT_EQ(KeepHeader(other, true).textCount, 0);
    const std::string lower = std::string("http/1.0 200 OK\r\n\r\n") + '\x80';
    EXPECT_EQ(KeepHeader(lower, true).textCount, 0);
    EXPECT_EQ(KeepHeader("\x80", true).textCount, 0);  // no line at all
}

}  // namespace
}  // namespace corvane::log
