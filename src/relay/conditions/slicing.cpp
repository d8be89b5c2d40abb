#include "relay/conditions/slicing.h"

#include <algorithm>
#include <limits>
#include <vector>

#include "relay/conditions/values.h"

namespace corvane::relay {

bool Slicing::Parse(std::string_view value) {
    std::vector<std::string_view> fields;
    std::int64_t parsedSize = 0;
    std::int64_t parsedVariation = 0;
    std::int64_t parsedPause = kDefaultSlicePauseUs;
    constexpr std::int64_t kMost = std::numeric_limits<std::int32_t>::max();
    if (!SplitFields(value, 3, fields) || !ParseAmount(fields[0], parsedSize) ||
        (fields.size() > 1 && !ParseAmount(fields[1], parsedVariation)) ||
        (fields.size() > 2 && !ParseTime(fields[2], parsedPause)) || parsedSize > kMost ||
        parsedVariation > kMost) {
        return false;
    }
    size = static_cast<std::int32_t>(parsedSize);
    variation = static_cast<std::int32_t>(parsedVariation);
    pauseUs = parsedPause;
    return true;
}

std::string Slicing::Format() const {
    std::string text = FormatAmount(size);
    if (variation != 0 || pauseUs != kDefaultSlicePauseUs) {
        text += "," + FormatAmount(variation);
    }
    if (pauseUs != kDefaultSlicePauseUs) {
        text += "," + FormatTime(pauseUs);
    }
    return text;
}

std::int32_t Slicing::NextSize(Random& random) const {
    if (variation == 0) {
        return size;
    }
    const std::int64_t span = 2 * static_cast<std::int64_t>(variation) + 1;
    const auto draw = static_cast<std::int64_t>(random.Next() % static_cast<std::uint64_t>(span));
    return static_cast<std::int32_t>(std::clamp<std::int64_t>(
        size - variation + draw, 1, std::numeric_limits<std::int32_t>::max()));
}

}  // namespace corvane::relay
