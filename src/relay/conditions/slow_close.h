// Slow close, per Connection: a peer's close (or reset) reaches the other peer this much
// later. The bytes it sent before closing go on as usual meanwhile; only the end waits.
// Taken by new Connections.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "relay/conditions/values.h"

namespace corvane::relay {

struct SlowClose {
    std::int64_t us = 0;

    bool On() const { return us > 0; }
    // "MS"
    bool Parse(std::string_view value) { return ParseTime(value, us); }
    std::string Format() const { return FormatTime(us); }

    bool operator==(const SlowClose&) const = default;
};

}  // namespace corvane::relay
