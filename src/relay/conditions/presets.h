// The named sets of conditions that both programs and the help offer: "Off" and four typical
// networks. Each is written in the switch grammar (conditions_text.h), the same form in which
// a user's own sets are saved.
#pragma once

#include <optional>
#include <span>
#include <string_view>

#include "relay/conditions/conditions.h"

namespace corvane::relay {

struct ConditionsPreset {
    std::string_view name;  // "Slow mobile"
    std::string_view text;  // "-latency 200\n-bandwidth 50K\n"
};

// "Off", "Slow mobile", "Fast mobile", "Satellite", "Lossy Wi-Fi", in this order.
std::span<const ConditionsPreset> ConditionsPresets();

// The set of the preset with this name (exactly as listed), or nullopt.
std::optional<Conditions> PresetConditions(std::string_view name);

}  // namespace corvane::relay
