#include "relay/conditions/loss.h"

#include "relay/conditions/values.h"

namespace corvane::relay {

bool Loss::Parse(std::string_view value) {
    return ParsePercent(value, ppm);
}

std::string Loss::Format() const {
    return FormatPercent(ppm);
}

std::int64_t Loss::HoldNs(Random& random) const {
    std::int64_t hold = 0;
    std::int64_t timeout = kRetransmissionNs;
    for (int lost = 0; lost < kMostRetransmissions && random.Chance(ppm); ++lost) {
        hold += timeout;
        timeout *= 2;
    }
    return hold;
}

}  // namespace corvane::relay
