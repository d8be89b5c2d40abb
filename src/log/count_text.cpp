#include "log/count_text.h"

namespace corvane::log {

CountText FormatCount(std::int64_t value) {
    // Digits are produced from the right into the end of a scratch area, so the widest value
    // (the minimum, whose magnitude needs the unsigned range) takes the same path as any other.
    char scratch[32];
    int pos = static_cast<int>(sizeof scratch);
    std::uint64_t magnitude =
        value < 0 ? 0 - static_cast<std::uint64_t>(value) : static_cast<std::uint64_t>(value);
    int digits = 0;
    do {
        if (digits > 0 && digits % 3 == 0) {
            scratch[--pos] = ',';
        }
        scratch[--pos] = static_cast<char>('0' + magnitude % 10);
        magnitude /= 10;
        ++digits;
    } while (magnitude != 0);
    if (value < 0) {
        scratch[--pos] = '-';
    }
    CountText result;
    result.length = static_cast<int>(sizeof scratch) - pos;
    for (int i = 0; i < result.length; ++i) {
        result.text[i] = scratch[pos + i];
    }
    return result;
}

}  // namespace corvane::log
