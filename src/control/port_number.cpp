#include "control/port_number.h"

#include <cstdint>

namespace corvane::control {

std::optional<std::int32_t> ParseInteger(std::string_view text) {
    bool negative = false;
    if (!text.empty() && text.front() == '-') {
        negative = true;
        text.remove_prefix(1);
    }
    if (text.empty()) {
        return std::nullopt;
    }
    // Accumulated as a magnitude in 64 bits; more than 32 bits' worth stops the loop early,
    // so a text of any length cannot overflow the accumulator.
    constexpr std::int64_t kLargestMagnitude = std::int64_t{1} << 31;  // of -2147483648
    std::int64_t magnitude = 0;
    for (const char ch : text) {
        if (ch < '0' || ch > '9') {
            return std::nullopt;
        }
        magnitude = magnitude * 10 + (ch - '0');
        if (magnitude > kLargestMagnitude) {
            return std::nullopt;
        }
    }
    if (!negative && magnitude == kLargestMagnitude) {
        return std::nullopt;
    }
    return static_cast<std::int32_t>(negative ? -magnitude : magnitude);
}

}  // namespace corvane::control
