#include "relay/conditions/connection_conditions.h"

#include <algorithm>
#include <limits>

namespace corvane::relay {

void DirectionState::Plan(std::int32_t end, std::int32_t n, std::int64_t readNs, Random& random) {
    // One delay for the whole block, as each block is read once.
    const std::int64_t delayNs = set.latency.On() ? set.latency.DelayNs(random) : 0;
    const std::int32_t pieceLimit =
        set.bandwidth.On() ? set.bandwidth.PieceLimit() : std::numeric_limits<std::int32_t>::max();
    const bool sliced = set.slicing.On();
    std::int32_t offset = end - n;
    while (offset < end) {
        const std::int32_t sliceEnd =
            sliced ? offset + std::min(end - offset, set.slicing.NextSize(random)) : end;
        // A slice waits its pause behind the one before it.
        std::int64_t earliest = sliced ? lastDueNs + set.slicing.pauseUs * 1000 : lastDueNs;
        while (offset < sliceEnd) {
            const std::int32_t length = std::min(sliceEnd - offset, pieceLimit);
            std::int64_t due = readNs;
            if (set.bandwidth.On()) {
                due = set.bandwidth.Pace(due, length, linkFreeNs);
            }
            due += delayNs;
            if (set.loss.On()) {
                due += set.loss.HoldNs(random);
            }
            due = std::max(due, earliest);
            earliest = due;
            lastDueNs = due;
            offset += length;
            marks.Add(offset, due, sliced && offset == sliceEnd);
        }
    }
}

std::int64_t PacedHeldLimit(const DirectionConditions& set, std::int64_t highWaterMark) {
    if (!set.bandwidth.On()) {
        return highWaterMark;
    }
    const std::int64_t carriedUs = set.latency.us + set.latency.jitterUs + 20000;
    // rate <= 1e12 and the time <= 2 days: divided first so that the product fits.
    const std::int64_t carried = set.bandwidth.bytesPerSecond / 1000 * carriedUs / 1000;
    return std::clamp(carried, highWaterMark, 16 * highWaterMark);
}

ConnectionConditions::ConnectionConditions(Connection& connection, const Conditions& set,
                                           std::uint64_t seed, std::int64_t startAt, bool atAccept,
                                           std::int64_t highWaterMark)
    : random(seed), startNs(startAt) {
    toServer.release = {&connection, DueKind::ReleaseToServer};
    toClient.release = {&connection, DueKind::ReleaseToClient};
    life = {&connection, DueKind::Life};
    TakeLiveConditions(set, highWaterMark);
    if (atAccept) {
        toServer.set.limit = set.up.limit;
        toClient.set.limit = set.down.limit;
        connectDelay = set.connectDelay;
        endAfter = set.endAfter;
        slowClose = set.slowClose;
        connectPending = connectDelay.On();
    }
}

void ConnectionConditions::TakeLiveConditions(const Conditions& set, std::int64_t highWaterMark) {
    for (auto [state, from] : {std::pair{&toServer, &set.up}, std::pair{&toClient, &set.down}}) {
        state->set.latency = from->latency;
        state->set.bandwidth = from->bandwidth;
        state->set.slicing = from->slicing;
        state->set.loss = from->loss;
        state->marks.heldLimit = PacedHeldLimit(state->set, highWaterMark);
    }
    stall = set.stall;
}

std::int64_t ConnectionConditions::NextLifeNs() const {
    std::int64_t next = -1;
    const auto consider = [&next](bool waiting, std::int64_t at) {
        if (waiting && (next < 0 || at < next)) {
            next = at;
        }
    };
    consider(limitReached, 0);
    consider(connectPending, ConnectAtNs());
    consider(endAfter.On(), EndAtNs());
    consider(stall.On() && !stalled, StallAtNs());
    consider(stall.On() && stall.endUs >= 0, StallEndAtNs());
    consider(closeHeld, closeAtNs);
    return next;
}

void ConnectionConditionsDeleter::operator()(ConnectionConditions* conditions) const {
    delete conditions;
}

}  // namespace corvane::relay
