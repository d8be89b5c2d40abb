#include "relay/conditions/presets.h"

#include <array>

#include "relay/conditions/conditions_text.h"

namespace corvane::relay {
namespace {

// Where the figures come from. The two mobile sets are the network throttling profiles that
// browsers' developer tools publish: a round-trip time and download and upload rates in
// kbit/s, already reduced for protocol overhead (the slow one 400 kbit/s both ways over a
// 400 ms round trip; the fast one 9 Mbit/s down and 1.5 Mbit/s up at 90%, over 60 ms). Here
// the round trip becomes a one-way latency of half of it in each direction, and the rates
// bytes per second. Satellite is a geostationary consumer link as its operators publish it:
// about 600 ms round trip (the distance alone is 480 ms), 25 Mbit/s down, 3 Mbit/s up, and a
// little loss. Lossy Wi-Fi is a crowded 2.4 GHz network: a few milliseconds that vary as
// much again, about 20 Mbit/s shared, and the 1 to 3% loss that measurements of such networks
// report (2% here).
constexpr std::array<ConditionsPreset, 5> kPresets{{
    {"Off", ""},
    {"Slow mobile",
     "-latency 200\n"
     "-bandwidth 50K\n"},
    {"Fast mobile",
     "-latency 30\n"
     "-bandwidth up:168.75K\n"
     "-bandwidth down:1012.5K\n"},
    {"Satellite",
     "-latency 300,10\n"
     "-bandwidth up:375K\n"
     "-bandwidth down:3.125M\n"
     "-loss 0.1\n"},
    {"Lossy Wi-Fi",
     "-latency 5,5\n"
     "-bandwidth 2.5M\n"
     "-loss 2\n"},
}};

}  // namespace

std::span<const ConditionsPreset> ConditionsPresets() {
    return kPresets;
}

std::optional<Conditions> PresetConditions(std::string_view name) {
    for (const ConditionsPreset& preset : kPresets) {
        if (preset.name == name) {
            TextProblem problem;
            return ParseConditionsText(preset.text, problem);
        }
    }
    return std::nullopt;
}

}  // namespace corvane::relay
