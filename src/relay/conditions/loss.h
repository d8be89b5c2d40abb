// Loss as TCP shows it, per direction: a TCP peer never sees a lost packet as missing bytes,
// only as bytes that come one retransmission time late, and all that follows them with
// them. So with the given probability a piece is held back for one retransmission time (at
// least 200 ms), twice that again when the retransmission is lost too, and so on.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "relay/conditions/random.h"

namespace corvane::relay {

// Linux's shortest retransmission time.
constexpr std::int64_t kRetransmissionNs = 200'000'000;
// A piece is lost at most this many times in a row (the holds then add up to 12.6 s).
constexpr int kMostRetransmissions = 6;

struct Loss {
    std::uint32_t ppm = 0;  // the probability, in parts per million

    bool On() const { return ppm != 0; }
    // "PERCENT"
    bool Parse(std::string_view value);
    std::string Format() const;
    // How long one piece is held back: 0 when it is not lost.
    std::int64_t HoldNs(Random& random) const;

    bool operator==(const Loss&) const = default;
};

}  // namespace corvane::relay
