// End after, per Connection: this long after the Client connected the Connection is closed
// or reset ("Reset by conditions after 5,000 ms"), whatever it is doing; bytes still held are
// dropped. Taken by new Connections.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "relay/conditions/values.h"

namespace corvane::relay {

struct EndAfter {
    std::int64_t us = -1;  // -1: never
    Ending ending = Ending::Close;

    bool On() const { return us >= 0; }
    // "MS[,reset]"
    bool Parse(std::string_view value) { return ParseWithEnding(value, us, ending, true); }
    std::string Format() const { return FormatWithEnding(us, ending, true); }

    bool operator==(const EndAfter&) const = default;
};

}  // namespace corvane::relay
