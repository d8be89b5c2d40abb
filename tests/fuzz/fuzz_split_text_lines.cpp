// SplitTextLines over any block: the lines and the text count give back the block's text
// part byte for byte, the first byte after it really ends the text, a shortage of memory
// leaves nothing behind, the scan without lines agrees on whether it is all text, and the
// response rule keeps exactly the header's lines.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_support.h"
#include "log/text_lines.h"

namespace corvane::fuzz {
namespace {

using log::IsTextByte;

struct Split {
    log::LogChain lines;
    int textCount = -1;
    bool incomplete = false;
    bool ok = false;
};

Split RunSplit(std::string_view block) {
    Split s;
    s.ok = log::SplitTextLines(block.data(), static_cast<int>(block.size()), s.lines, s.textCount,
                               s.incomplete);
    return s;
}

// The line ends that the walk over the bytes found, one per entry: where each line's
// terminator ends in the block.
std::vector<int> CheckLinesReproduceText(std::string_view block, const Split& s) {
    std::vector<int> lineEnds;
    std::size_t pos = 0;
    for (const log::LogEntry* e = s.lines.head; e != nullptr; e = e->next) {
        const std::string_view stored = e->View();
        FUZZ_CHECK(stored.size() >= 2);
        FUZZ_CHECK(stored.substr(stored.size() - 2) == "\r\n");
        FUZZ_CHECK_EQ(e->Text()[e->length], '\0');
        FUZZ_CHECK(e->colour == log::ColourOf(log::LogKind::Data));
        const std::string_view text = stored.substr(0, stored.size() - 2);
        for (const char c : text) {
            FUZZ_CHECK(IsTextByte(static_cast<unsigned char>(c)));
        }
        FUZZ_CHECK_EQ(block.substr(pos, text.size()), text);
        pos += text.size();
        if (e->next == nullptr && s.incomplete) {
            // The unfinished last line, its final CR (if any) not shown.
            FUZZ_CHECK(pos == block.size() || (pos + 1 == block.size() && block[pos] == '\r'));
            pos = block.size();
        } else if (pos < block.size() && block[pos] == '\n') {
            pos += 1;
        } else if (pos + 1 < block.size() && block[pos] == '\r' && block[pos + 1] == '\n') {
            pos += 2;
        } else {
            Fail(__FILE__, __LINE__, "a complete line ends in LF or CR LF", Describe(block));
        }
        lineEnds.push_back(static_cast<int>(pos));
    }
    FUZZ_CHECK_EQ(static_cast<int>(pos), s.textCount);
    return lineEnds;
}

// From textCount on, the line that stopped the split holds a byte that is not text or a
// CR that is not followed by LF, before any LF.
void CheckStopIsJustified(std::string_view block, int textCount) {
    std::size_t j = static_cast<std::size_t>(textCount);
    while (j < block.size() && IsTextByte(static_cast<unsigned char>(block[j]))) {
        ++j;
    }
    FUZZ_CHECK(j < block.size());
    const char c = block[j];
    FUZZ_CHECK(c != '\n');
    if (c == '\r') {
        FUZZ_CHECK(j + 1 < block.size() && block[j + 1] != '\n');
    }
}

void CheckShortageLeavesNothing(std::string_view block, int entries, std::uint8_t pick) {
    AllocationFailure failure(pick % entries);
    Split s = RunSplit(block);
    FUZZ_CHECK(!s.ok);
    FUZZ_CHECK(s.lines.Empty());
    FUZZ_CHECK(s.lines.tail == nullptr);
}

// The rule for a Server's block that is not all text, after a request was seen.
void CheckResponseHeaderRule(std::string_view block, const Split& s,
                             const std::vector<int>& lineEnds) {
    std::vector<std::string> before;
    for (const log::LogEntry* e = s.lines.head; e != nullptr; e = e->next) {
        before.emplace_back(e->View());
    }
    {
        Split copy = RunSplit(block);
        log::KeepHttpResponseHeader(block.data(), copy.lines, copy.textCount, false);
        FUZZ_CHECK(copy.lines.Empty());
        FUZZ_CHECK_EQ(copy.textCount, 0);
    }
    Split copy = RunSplit(block);
    log::KeepHttpResponseHeader(block.data(), copy.lines, copy.textCount, true);
    const bool response = !before.empty() && before[0].rfind("HTTP/1.", 0) == 0;
    if (!response) {
        FUZZ_CHECK(copy.lines.Empty());
        FUZZ_CHECK_EQ(copy.textCount, 0);
        return;
    }
    std::size_t kept = before.size();
    int textCount = s.textCount;
    for (std::size_t i = 0; i < before.size(); ++i) {
        if (before[i] == "\r\n") {
            kept = i + 1;
            textCount = lineEnds[i];
            break;
        }
    }
    FUZZ_CHECK_EQ(copy.textCount, textCount);
    FUZZ_CHECK_EQ(ChainSize(copy.lines), static_cast<int>(kept));
    std::size_t i = 0;
    for (const log::LogEntry* e = copy.lines.head; e != nullptr; e = e->next, ++i) {
        FUZZ_CHECK_EQ(e->View(), std::string_view(before[i]));
        if (e->next == nullptr) {
            FUZZ_CHECK(copy.lines.tail == e);
        }
    }
    log::FreeChain(copy.lines);
}

}  // namespace
}  // namespace corvane::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace corvane::fuzz;
    // Blocks are at most a few kilobytes; the splitter takes an int size.
    if (size > 65535) {
        return 0;
    }
    const std::string_view block(reinterpret_cast<const char*>(data), size);
    Split s = RunSplit(block);
    FUZZ_CHECK(s.ok);
    FUZZ_CHECK(s.textCount >= 0 && s.textCount <= static_cast<int>(size));
    const std::vector<int> lineEnds = CheckLinesReproduceText(block, s);
    const bool allText = s.textCount == static_cast<int>(size);
    FUZZ_CHECK_EQ(corvane::log::IsAllText(block.data(), static_cast<int>(size)), allText);
    FUZZ_CHECK_EQ(s.incomplete, allText && size > 0 && block.back() != '\n');
    if (allText) {
        std::size_t lineFeeds = 0;
        for (const char c : block) {
            lineFeeds += c == '\n';
        }
        FUZZ_CHECK_EQ(ChainSize(s.lines), static_cast<int>(lineFeeds + (s.incomplete ? 1 : 0)));
    } else {
        CheckStopIsJustified(block, s.textCount);
        CheckResponseHeaderRule(block, s, lineEnds);
    }
    const int entries = ChainSize(s.lines);
    if (s.lines.head != nullptr) {
        FUZZ_CHECK(s.lines.tail != nullptr && s.lines.tail->next == nullptr);
    }
    corvane::log::FreeChain(s.lines);
    if (entries > 0) {
        CheckShortageLeavesNothing(block, entries, size > 0 ? data[size / 2] : 0);
    }
    return 0;
}
