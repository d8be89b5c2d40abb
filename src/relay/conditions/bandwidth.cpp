#include "relay/conditions/bandwidth.h"

#include <algorithm>

#include "relay/conditions/values.h"

namespace corvane::relay {

bool Bandwidth::Parse(std::string_view value) {
    return ParseAmount(value, bytesPerSecond);
}

std::string Bandwidth::Format() const {
    return FormatAmount(bytesPerSecond);
}

std::int32_t Bandwidth::PieceLimit() const {
    return static_cast<std::int32_t>(
        std::clamp<std::int64_t>(bytesPerSecond / 100, kSmallestPacedPiece, kLargestPacedPiece));
}

std::int64_t Bandwidth::Pace(std::int64_t readyNs, std::int32_t length,
                             std::int64_t& linkFreeNs) const {
    // A link left idle does not bank its time: a piece starts no earlier than it is ready.
    const std::int64_t start = std::max(readyNs, linkFreeNs);
    // length < 2^31 and 1e9 < 2^30: the product stays within 63 bits.
    linkFreeNs = start + static_cast<std::int64_t>(length) * 1000000000 / bytesPerSecond;
    return linkFreeNs;
}

}  // namespace corvane::relay
