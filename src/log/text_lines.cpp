#include "log/text_lines.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace corvane::log {

namespace {

enum class SplitState { LineStart, InLine, AfterCr };

bool AppendLine(LogChain& lines, const char* bytes, int start, int end) {
    LogEntry* entry =
        MakeLineEntry(std::string_view(bytes + start, static_cast<std::size_t>(end - start)),
                      ColourOf(LogKind::Data));
    if (entry == nullptr) {
        FreeChain(lines);
        return false;
    }
    AppendEntry(lines, entry);
    return true;
}

}  // namespace

bool SplitTextLines(const char* bytes, int size, LogChain& lines, int& textCount,
                    bool& incomplete) {
    const auto* data = reinterpret_cast<const unsigned char*>(bytes);
    SplitState state = SplitState::LineStart;
    int start = 0;
    int end = -1;  // the CR's offset once one has been seen
    incomplete = false;
    for (int i = 0; i < size; ++i) {
        if (state == SplitState::InLine) {
            // The common case: skip the text bytes of the line at once.
            while (i < size && IsTextByte(data[i])) {
                ++i;
            }
            if (i == size) {
                break;
            }
        }
        const unsigned char c = data[i];
        if (state == SplitState::LineStart) {
            start = i;
            end = -1;
            state = SplitState::InLine;
        }
        if (c == '\n') {
            if (!AppendLine(lines, bytes, start, end < 0 ? i : end)) {
                return false;
            }
            state = SplitState::LineStart;
        } else if (state == SplitState::InLine && c == '\r') {
            end = i;
            state = SplitState::AfterCr;
        } else if (state == SplitState::AfterCr || !IsTextByte(c)) {
            // Not all text: the complete lines before this one stay.
            textCount = start;
            return true;
        }
    }
    if (state != SplitState::LineStart) {
        if (!AppendLine(lines, bytes, start, end < 0 ? size : end)) {
            return false;
        }
        incomplete = true;
    }
    textCount = size;
    return true;
}

bool IsAllText(const char* bytes, int size) {
    const auto* data = reinterpret_cast<const unsigned char*>(bytes);
    constexpr std::uint64_t kOnes = 0x0101010101010101;
    constexpr std::uint64_t kHighs = 0x8080808080808080;
    int i = 0;
    while (i < size) {
        // Eight bytes at a time while none is below blank or above tilde: the common case of
        // a long run of text, looked at without a branch per byte.
        if (size - i >= 8) {
            std::uint64_t word = 0;
            std::memcpy(&word, data + i, sizeof word);
            const std::uint64_t below = (word - 0x20 * kOnes) & ~word & kHighs;
            const std::uint64_t above = ((word + kOnes) | word) & kHighs;
            if ((below | above) == 0) {
                i += 8;
                continue;
            }
        }
        const int end = std::min(size, i + 8);
        for (; i < end; ++i) {
            const unsigned char c = data[i];
            if (IsTextByte(c) || c == '\n') {
                continue;
            }
            if (c != '\r' || (i + 1 < size && data[i + 1] != '\n')) {
                return false;
            }
        }
    }
    return true;
}

void KeepHttpResponseHeader(const char* bytes, LogChain& lines, int& textCount,
                            bool httpRequestSeen) {
    constexpr std::string_view kStatusPrefix = "HTTP/1.";
    const bool isResponse =
        httpRequestSeen && lines.head != nullptr &&
        lines.head->View().substr(0, kStatusPrefix.size()) == kStatusPrefix &&
        lines.head->length - 2 >= static_cast<std::int32_t>(kStatusPrefix.size());
    if (!isResponse) {
        FreeChain(lines);
        textCount = 0;
        return;
    }
    // Walk the lines over the bytes to find where the first empty line's line end stops;
    // every line in the chain is complete, ending in CR LF or a bare LF.
    int offset = 0;
    for (LogEntry* line = lines.head; line != nullptr; line = line->next) {
        offset += line->length - 2;
        if (bytes[offset] == '\r') {
            ++offset;
        }
        ++offset;  // the LF
        if (line->length == 2) {
            LogChain rest{line->next, line->next == nullptr ? nullptr : lines.tail};
            FreeChain(rest);
            line->next = nullptr;
            lines.tail = line;
            textCount = offset;
            return;
        }
    }
}

}  // namespace corvane::log
