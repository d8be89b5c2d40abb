#include "log/dump_format.h"

#include <array>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace corvane::log {

namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";

// " XX " for every byte value. Byte columns are written as 4-byte stores 3 columns apart,
// so each store's trailing blank is either overwritten by the next byte's leading blank or
// is the blank that must follow the last byte of a half.
constexpr std::array<std::array<char, 4>, 256> MakeHexTable() {
    std::array<std::array<char, 4>, 256> table{};
    for (int i = 0; i < 256; ++i) {
        table[i] = {' ', kHexDigits[i >> 4], kHexDigits[i & 15], ' '};
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
    out[4] = ' ';
}

// The character column of a full line: the byte itself from blank to tilde, else '.'.
void WriteChars(const unsigned char* bytes, char* out) {
#if defined(__SSE2__)
    const __m128i raw = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes));
    // Shifted into signed order, blank to tilde is -96 to -2.
    const __m128i shifted = _mm_xor_si128(raw, _mm_set1_epi8(static_cast<char>(0x80)));
    const __m128i printable = _mm_and_si128(_mm_cmpgt_epi8(shifted, _mm_set1_epi8(-97)),
                                            _mm_cmplt_epi8(shifted, _mm_set1_epi8(-1)));
    const __m128i chars = _mm_or_si128(_mm_and_si128(printable, raw),
                                       _mm_andnot_si128(printable, _mm_set1_epi8('.')));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), chars);
#else
    for (int i = 0; i < kDumpBytesPerLine; ++i) {
        out[i] = kChar[bytes[i]];
    }
#endif
}

void FormatFullLine(const unsigned char* bytes, int offset, char* out) {
    WriteOffset(offset, out);
    for (int i = 0; i < kDumpBytesPerLine; ++i) {
        std::memcpy(out + HexColumn(i), kHex[bytes[i]].data(), 4);
    }
    out[kDumpCharColumn - 1] = ' ';
    WriteChars(bytes, out + kDumpCharColumn);
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
