// Stall, per Connection: this long after the Client connected nothing more is passed on in
// either direction. The bytes are still read and held (up to the high-water mark), so the
// peers' windows fill as with a network that stopped carrying anything. Optionally the
// Connection is closed or reset a given time after the stall began. A change applies to live
// Connections too: one already older than the stall time stalls at once, and one stalled
// goes on when the stall is taken away.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "relay/conditions/values.h"

namespace corvane::relay {

struct Stall {
    std::int64_t afterUs = -1;  // -1: never
    std::int64_t endUs = -1;    // after the stall began; -1: never
    Ending ending = Ending::Close;

    bool On() const { return afterUs >= 0; }
    // "MS[,END[,reset]]"
    bool Parse(std::string_view value);
    std::string Format() const;

    bool operator==(const Stall&) const = default;
};

}  // namespace corvane::relay
