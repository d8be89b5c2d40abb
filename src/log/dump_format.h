// The layout of a hexadecimal dump line: 72 characters, then CR LF.
//   0000  48 65 6C 6C 6F 00 01 02  FF 7E 20 41 42 43 0D 0A  Hello....~ ABC..
#pragma once

#include <cstdint>

namespace corvane::log {

constexpr int kDumpBytesPerLine = 16;
constexpr int kDumpLineWidth = 72;                   // without the line end
constexpr int kDumpLineLength = kDumpLineWidth + 2;  // with CR LF
constexpr int kDumpCharColumn = 56;

// Lines needed for `count` bytes.
constexpr int DumpLineCount(int count) {
    return (count + kDumpBytesPerLine - 1) / kDumpBytesPerLine;
}

// Writes the 72 characters of one line (no line end, no zero) for `count` (1 to 16) bytes
// whose first byte has block offset `offset`.
void FormatDumpLine(const unsigned char* bytes, int count, int offset, char* out);

// A full line of 16 bytes, laid out byte by byte. FormatDumpLine uses byte shuffles for full
// lines where the processor has them and this otherwise; tests compare the two.
void FormatFullDumpLineScalar(const unsigned char* bytes, int offset, char* out);

// Writes the lines for bytes[start, size) with their CR LF into out, which must hold
// DumpLineCount(size - start) * 74 characters. Offsets count from the block's first byte.
void FormatDump(const char* bytes, int start, int size, char* out);

}  // namespace corvane::log
