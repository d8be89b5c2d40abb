// Latency, per direction: every block is passed on no earlier than its read time plus the
// latency and the jitter drawn for it. The delay counts from each block's own read time, so
// it never piles up under steady traffic; the order of the bytes is kept (a block whose
// jitter would let it overtake the one before goes right behind it).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "relay/conditions/random.h"

namespace corvane::relay {

enum class JitterShape : std::uint8_t { Uniform, Normal };

struct Latency {
    std::int64_t us = 0;
    // Uniform: up to this much more or less, evenly; Normal: this standard deviation.
    std::int64_t jitterUs = 0;
    JitterShape shape = JitterShape::Uniform;

    bool On() const { return us != 0 || jitterUs != 0; }
    // "MS[,JITTER[,uniform|normal]]"
    bool Parse(std::string_view value);
    std::string Format() const;
    // The delay of one block in nanoseconds: the latency and a jitter drawn for it, never
    // below 0.
    std::int64_t DelayNs(Random& random) const;

    bool operator==(const Latency&) const = default;
};

}  // namespace corvane::relay
