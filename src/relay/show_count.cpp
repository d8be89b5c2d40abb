#include "relay/show_count.h"

namespace corvane::relay {

CountText FormatCount(std::int32_t value) {
    // Digits are produced from the right into the end of a scratch area, so the widest value
    // (the minimum, whose magnitude needs 64 bits) takes the same path as any other.
    char scratch[16];
    int pos = static_cast<int>(sizeof scratch);
    std::int64_t magnitude = value < 0 ? -static_cast<std::int64_t>(value) : value;
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

}  // namespace corvane::relay
