#include "log/dump_format.h"

#include <array>
#include <cstring>

namespace corvane::log {

namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";

// " XX" for every byte value, so that a byte's column costs one 3-byte copy.
constexpr std::array<std::array<char, 3>, 256> MakeHexTable() {
    std::array<std::array<char, 3>, 256> table{};
    for (int i = 0; i < 256; ++i) {
        table[i] = {' ', kHexDigits[i >> 4], kHexDigits[i & 15]};
    }
    return table;
}
constexpr auto kHex = MakeHexTable();

constexpr std::array<char, 256> MakeCharTable() {
    std::array<char, 256> table{};
    for (int i = 0; i < 256; ++i) {
        table[i] = (i >= 0x20 && i <= 0x7E) ? static_cast<char>(i) : '.';
    }
    return table;
}
constexpr auto kChar = MakeCharTable();

// Column of byte i's " XX": the second half starts one blank further on.
constexpr int HexColumn(int i) {
    return 5 + 3 * i + (i >= 8 ? 1 : 0);
}

void WriteOffset(int offset, char* out) {
    out[0] = kHexDigits[(offset >> 12) & 15];
    out[1] = kHexDigits[(offset >> 8) & 15];
    out[2] = kHexDigits[(offset >> 4) & 15];
    out[3] = kHexDigits[offset & 15];
}

void FormatFullLine(const unsigned char* bytes, int offset, char* out) {
    WriteOffset(offset, out);
    for (int i = 0; i < kDumpBytesPerLine; ++i) {
        std::memcpy(out + HexColumn(i), kHex[bytes[i]].data(), 3);
        out[kDumpCharColumn + i] = kChar[bytes[i]];
    }
    out[4] = ' ';
    out[HexColumn(8) - 1] = ' ';
    out[kDumpCharColumn - 2] = ' ';
    out[kDumpCharColumn - 1] = ' ';
}

}  // namespace

void FormatDumpLine(const unsigned char* bytes, int count, int offset, char* out) {
    if (count >= kDumpBytesPerLine) {
        FormatFullLine(bytes, offset, out);
        return;
    }
    std::memset(out, ' ', kDumpLineWidth);
    WriteOffset(offset, out);
    for (int i = 0; i < count; ++i) {
        std::memcpy(out + HexColumn(i), kHex[bytes[i]].data(), 3);
        out[kDumpCharColumn + i] = kChar[bytes[i]];
    }
}

void FormatDump(const char* bytes, int start, int size, char* out) {
    const auto* data = reinterpret_cast<const unsigned char*>(bytes);
    for (int offset = start; offset < size; offset += kDumpBytesPerLine) {
        const int count = size - offset < kDumpBytesPerLine ? size - offset : kDumpBytesPerLine;
        FormatDumpLine(data + offset, count, offset, out);
        out[kDumpLineWidth] = '\r';
        out[kDumpLineWidth + 1] = '\n';
        out += kDumpLineLength;
    }
}

}  // namespace corvane::log
