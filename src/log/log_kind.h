// The kinds of log line. A kind is identified by its colour word (0x00BBGGRR) throughout
// the log: the queue stores colours and the Log File maps a colour back to its class.
#pragma once

#include <cstdint>

namespace corvane::log {

using Colour = std::uint32_t;

enum class LogKind : Colour {
    Message = 0x800000,  // navy
    Inform = 0x000080,   // maroon
    Error = 0x0000FF,    // red
    Data = 0x000000,     // black
};

// The colour of a rewritten "Host: " line in the Log Buffer; it is Data in the Log File.
constexpr Colour kPurple = 0x800080;
// The Log File's mark that no span is open; never the colour of a line.
constexpr Colour kNoSpan = 0xFFFFFF;

constexpr Colour ColourOf(LogKind kind) {
    return static_cast<Colour>(kind);
}

// Detail levels: a line reaches the Log Buffer when its minimum is not greater than
// Detail, compared unsigned, so any Detail above High acts as High.
constexpr std::uint32_t kDetailLow = 0;
constexpr std::uint32_t kDetailMedium = 1;
constexpr std::uint32_t kDetailHigh = 2;

}  // namespace corvane::log
