// Counts as the window shows them: decimal with ',' between groups of three digits.
#pragma once

#include <cstdint>
#include <string_view>

namespace corvane::log {

// A formatted count, held in place so that showing a counter allocates nothing.
struct CountText {
    char text[32] = {};  // "-9,223,372,036,854,775,808" is the longest, 26 characters
    int length = 0;
    std::string_view View() const { return {text, static_cast<std::size_t>(length)}; }
};

// "%d" with a ',' before every third digit from the right that has a digit before it:
// 1000 gives "1,000", -123456 gives "-123,456" (never a separator after the sign).
CountText FormatCount(std::int64_t value);

}  // namespace corvane::log
