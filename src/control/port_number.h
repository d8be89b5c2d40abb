// The integer conversion of the port texts that Start checks.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace corvane::control {

// An optional minus sign followed by one or more decimal digits, nothing else (no blanks,
// no "+", no "0x"), with a value that fits a signed 32-bit integer. Anything else, the
// empty text included, is not an integer: nullopt.
std::optional<std::int32_t> ParseInteger(std::string_view text);

}  // namespace corvane::control
