#include "log/dump_format.h"

#include <array>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__x86_64__)
#include <tmmintrin.h>
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

}  // namespace

void FormatFullDumpLineScalar(const unsigned char* bytes, int offset, char* out) {
    WriteOffset(offset, out);
    for (int i = 0; i < kDumpBytesPerLine; ++i) {
        std::memcpy(out + HexColumn(i), kHex[bytes[i]].data(), 4);
    }
    out[kDumpCharColumn - 1] = ' ';
    WriteChars(bytes, out + kDumpCharColumn);
}

namespace {

#if defined(__x86_64__)
// The same line with byte shuffles: all sixteen hex pairs are looked up at once, then
// spread over the two halves' columns with their blanks.
__attribute__((target("ssse3"))) void FormatFullLineShuffled(const unsigned char* bytes, int offset,
                                                             char* out) {
    WriteOffset(offset, out);
    const __m128i raw = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes));
    const __m128i digits = _mm_loadu_si128(reinterpret_cast<const __m128i*>(kHexDigits));
    const __m128i nibble = _mm_set1_epi8(0x0F);
    const __m128i high = _mm_shuffle_epi8(digits, _mm_and_si128(_mm_srli_epi16(raw, 4), nibble));
    const __m128i low = _mm_shuffle_epi8(digits, _mm_and_si128(raw, nibble));
    // A half of eight bytes is 24 columns " h l" " h l" ...: its first 16 from pairs 0 to 4
    // and part of 5, its last 8 from the rest; -1 picks a zero that the blank mask fills.
    const __m128i front = _mm_setr_epi8(-1, 0, 1, -1, 2, 3, -1, 4, 5, -1, 6, 7, -1, 8, 9, -1);
    const __m128i back =
        _mm_setr_epi8(10, 11, -1, 12, 13, -1, 14, 15, -1, -1, -1, -1, -1, -1, -1, -1);
    const __m128i frontBlanks =
        _mm_and_si128(_mm_cmplt_epi8(front, _mm_setzero_si128()), _mm_set1_epi8(' '));
    const __m128i backBlanks =
        _mm_and_si128(_mm_cmplt_epi8(back, _mm_setzero_si128()), _mm_set1_epi8(' '));
    const __m128i halves[2] = {_mm_unpacklo_epi8(high, low), _mm_unpackhi_epi8(high, low)};
    for (int h = 0; h < 2; ++h) {
        char* at = out + HexColumn(8 * h);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(at),
                         _mm_or_si128(_mm_shuffle_epi8(halves[h], front), frontBlanks));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(at + 16),
                         _mm_or_si128(_mm_shuffle_epi8(halves[h], back), backBlanks));
    }
    out[HexColumn(8) - 1] = ' ';  // the extra blank between the halves
    out[kDumpCharColumn - 2] = ' ';
    out[kDumpCharColumn - 1] = ' ';
    WriteChars(bytes, out + kDumpCharColumn);
}

void FormatFullLine(const unsigned char* bytes, int offset, char* out) {
    using Formatter = void (*)(const unsigned char*, int, char*);
    static const Formatter format =
        __builtin_cpu_supports("ssse3") ? FormatFullLineShuffled : FormatFullDumpLineScalar;
    format(bytes, offset, out);
}
#else
void FormatFullLine(const unsigned char* bytes, int offset, char* out) {
    FormatFullDumpLineScalar(bytes, offset, out);
}
#endif

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
