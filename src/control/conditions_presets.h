// The named sets of Network Conditions that the window offers: the built-in ones
// (relay/conditions/presets.h) and the user's own. A user's preset is a conditions file in the
// settings folder, <settings folder>/conditions/NAME.conditions, one switch per line, so that
// corvane-cli reads the same file with "-conditions".
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "relay/conditions/conditions.h"

namespace corvane::control {

// The longest name of a preset, in characters (the store reads 64 with the terminating zero).
constexpr std::size_t kPresetNameLimit = 63;
// A preset file's name ends in this.
inline constexpr std::string_view kPresetSuffix = ".conditions";

// The folder of the user's presets (made when a preset is saved).
std::string PresetFolder();
// The file of the user's preset `name`.
std::string PresetPath(std::string_view name);

// Why `name` cannot name a preset of the user's own, or "" when it can: it must not be empty,
// longer than kPresetNameLimit, begin with "." or hold "/" or a control character, and it
// must not be a built-in preset's name in any letter case.
std::string CheckPresetName(std::string_view name);

// The names of the user's presets, in the folder's order of names (sorted).
std::vector<std::string> SavedPresetNames();

// The set of a built-in preset or of the user's preset `name`. nullopt with problem when there
// is none of that name, or its file cannot be read or holds a line the grammar does not take
// ("Preset Slow net, line 2: bad value for -latency: soon").
std::optional<relay::Conditions> LoadPreset(std::string_view name, std::string& problem);

// Writes set as the user's preset `name` (a comment line, then one switch per line), through
// a temporary file that replaces the old one whole, so that a relay that watches the file
// never reads half of it. False with problem when the name is not allowed or the file cannot
// be written.
bool SavePreset(std::string_view name, const relay::Conditions& set, std::string& problem);

}  // namespace corvane::control
