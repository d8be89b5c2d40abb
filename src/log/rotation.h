// Rotation: the one rule by which the Log File and the Capture File are written in parts,
// each file rotating on its own. A new part begins when the current one holds a given size
// (K, M, G: powers of 1,024), at each wall-clock boundary of a period (s, m, h, d: parts of
// an hour begin at 14:00, 15:00, never at 14:37 + 1 h), or at whichever comes first. Parts
// are named after their start time, and only the newest few are kept. The clock is given, so
// that tests move it instead of waiting.
#pragma once

#include <cstdint>
#include <ctime>
#include <deque>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace corvane::log {

struct RotationRule {
    std::uint64_t partBytes = 0;      // a new part once this many bytes are in one; 0: no size
    std::uint32_t periodSeconds = 0;  // a new part at each boundary of the period; 0: none
    bool Active() const { return partBytes != 0 || periodSeconds != 0; }
};

// "100M" (a number and K, M or G), "1h" (a number and s, m, h or d), or one of each joined by
// a comma in either order ("1h,100M"); the empty text is no rotation. Numbers are positive
// decimal integers; letters are exactly these (m is minutes, M mebibytes). Nothing for any
// other text.
std::optional<RotationRule> ParseRotation(std::string_view text);

// The first boundary of the period after `now`: the moments whose local time, counted in
// seconds from 1970-01-01 00:00 local time, is a multiple of the period. So 1h gives every
// full hour, 15m every quarter, 1d every midnight, whatever the time zone.
std::time_t NextBoundary(std::time_t now, std::uint32_t periodSeconds);

// The name of a part that begins at `start` (local time): the name as a strftime pattern when
// it has a '%' in it ("trace-%Y%m%d-%H.log"), otherwise the name with "-YYYYMMDD-HHMMSS"
// inserted before its extension ("trace.htm" -> "trace-20261209-140000.htm").
std::string PartName(const std::string& name, std::time_t start);

// The name with "-n" before its extension: the nth part of a name that repeats.
std::string RepeatedName(const std::string& name, int n);

// One file's rotation: its rule, its clock, and the parts it has begun.
class Rotation {
public:
    using Clock = timespec (*)();

    // The rule and the number of parts kept (0: all) for the files opened from now on.
    void SetRule(const RotationRule& rule, std::uint32_t partsKept);
    const RotationRule& Rule() const { return rule_; }
    bool Active() const { return rule_.Active(); }
    // The wall clock (null: the real one).
    void SetClock(Clock clock) { clock_ = clock != nullptr ? clock : &RealClock; }
    std::time_t Now() const { return clock_().tv_sec; }

    // Forgets the parts of an earlier file.
    void Reset();
    // The name of a part of `name` that begins now, "-2", "-3", ... added when the name is
    // the previous part's again (a second part in the same second). While the rule is active
    // the part is counted among those kept, and `expired` receives the parts beyond the
    // number kept, oldest first, which are to be deleted.
    std::string NextPart(const std::string& name, std::vector<std::string>& expired);
    // True when the current part is full (at least the rule's size in `partBytes`) or a
    // boundary of the period has passed since it began.
    bool Due(std::uint64_t partBytes) const {
        return (rule_.partBytes != 0 && partBytes >= rule_.partBytes) ||
               (rule_.periodSeconds != 0 && Now() >= boundary_);
    }

private:
    static timespec RealClock();

    RotationRule rule_;
    std::uint32_t partsKept_ = 0;
    Clock clock_ = &RealClock;
    std::time_t boundary_ = 0;
    std::string lastName_;  // the previous part's name before any "-n"
    int repeats_ = 0;
    std::deque<std::string> parts_;  // the parts kept, oldest first
};

}  // namespace corvane::log
