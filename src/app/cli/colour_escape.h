// The terminal's rendering of the log's colours, and whether colour is wanted at all.
#pragma once

#include <string_view>

#include "log/log_kind.h"

namespace corvane::cli {

// The escape sequence that starts a line in this colour: navy blue (34), maroon red (31),
// red bright red (91), purple magenta (35). Black, the Data lines, is the terminal's own
// default colour and needs none: the result is empty then, as for any unknown colour.
std::string_view ColourEscape(log::Colour colour);
// Back to the terminal's default foreground colour.
inline constexpr std::string_view kDefaultColour = "\x1b[39m";

// Colour only on a terminal, and only when NO_COLOR is absent or empty (the common
// convention: any non-empty value turns colour off).
bool WantColour(int fd);

}  // namespace corvane::cli
