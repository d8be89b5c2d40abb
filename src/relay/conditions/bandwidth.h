// Bandwidth, per direction: passing on is paced as a link of this many bytes per second
// would carry the bytes. A piece goes once the link is free and has taken the piece's time
// (its length divided by the rate); pieces are at most a hundredth of a second's worth, so
// that no second carries more than the rate by more than one small piece.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace corvane::relay {

// A piece is never smaller than this (a very thin link would otherwise pass on a byte at a
// time) nor larger than the largest (a fast one could hold back a whole read).
constexpr std::int32_t kSmallestPacedPiece = 64;
constexpr std::int32_t kLargestPacedPiece = 65536;

struct Bandwidth {
    std::int64_t bytesPerSecond = 0;  // 0: unlimited

    bool On() const { return bytesPerSecond > 0; }
    // "RATE": bytes per second, with K, M or G.
    bool Parse(std::string_view value);
    std::string Format() const;
    // The most a piece carries: a hundredth of a second's worth, within the bounds above.
    std::int32_t PieceLimit() const;
    // A piece of `length` bytes ready at readyNs takes the link once it is free (linkFreeNs)
    // for length / rate; returns when its last byte is through, and the link is busy until
    // then.
    std::int64_t Pace(std::int64_t readyNs, std::int32_t length, std::int64_t& linkFreeNs) const;

    bool operator==(const Bandwidth&) const = default;
};

}  // namespace corvane::relay
