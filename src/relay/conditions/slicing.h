// Slicing, per direction: each block is passed on in pieces of about a given size (more or
// less a variation drawn evenly for each piece) with a pause between them, each piece on its
// own, so that the peer's framing code meets split reads. Without a pause given the pieces
// are 1 ms apart, enough for each to reach a reading peer as a read of its own.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "relay/conditions/random.h"

namespace corvane::relay {

constexpr std::int64_t kDefaultSlicePauseUs = 1000;

struct Slicing {
    std::int32_t size = 0;  // 0: blocks go whole
    std::int32_t variation = 0;
    std::int64_t pauseUs = kDefaultSlicePauseUs;

    bool On() const { return size > 0; }
    // "SIZE[,VARIATION[,PAUSE]]": sizes in bytes (K, M, G), the pause in ms.
    bool Parse(std::string_view value);
    std::string Format() const;
    // The size of the next piece: size plus or minus a variation drawn for it, at least 1.
    std::int32_t NextSize(Random& random) const;

    bool operator==(const Slicing&) const = default;
};

}  // namespace corvane::relay
