// Share: the conditions apply to this percentage of new Connections (all of them by
// default). The choice is drawn for each new Client from the run's generator, whose seed
// Start logs, so that a run repeated with "-seed" makes the same choices in the same order.
// A Connection left out stays out when the conditions change.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "relay/conditions/random.h"
#include "relay/conditions/values.h"

namespace corvane::relay {

struct Share {
    std::uint32_t ppm = 1000000;  // of new Connections, in parts per million

    bool All() const { return ppm >= 1000000; }
    // "PERCENT"
    bool Parse(std::string_view value) { return ParsePercent(value, ppm); }
    std::string Format() const { return FormatPercent(ppm); }
    // Whether the next new Connection is one the conditions apply to. Always draws, so that
    // the choices that follow do not depend on the share.
    bool Chosen(Random& random) const { return random.Chance(ppm); }

    bool operator==(const Share&) const = default;
};

}  // namespace corvane::relay
