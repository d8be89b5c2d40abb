// What the conditions keep for one Connection they apply to: for each direction the
// conditions in force, the Channel's release marks and the pacing state; the Connection's own
// generator; and the events of its life (a delayed connect, an end, a stall, a held close),
// with one slot in the engine's heap for each direction's next release and one for the next
// event of its life.
#pragma once

#include <cstdint>
#include <memory>

#include "relay/conditions/conditions.h"
#include "relay/conditions/due_heap.h"
#include "relay/conditions/random.h"
#include "relay/conditions/release_marks.h"

namespace corvane::relay {

// What a direction may hold before its source waits: the high-water mark, or for a paced
// link what it carries during its latency and 20 ms more (so that a late wake-up of the relay
// does not leave the link idle), up to 16 times the high-water mark.
std::int64_t PacedHeldLimit(const DirectionConditions& set, std::int64_t highWaterMark);

struct DirectionState {
    // Latency, Bandwidth, Slicing and Loss are replaced when the set changes; the Data limit
    // is the one taken when the Client connected.
    DirectionConditions set;
    ReleaseMarks marks;           // the Channel's
    std::int64_t linkFreeNs = 0;  // Bandwidth: when the link has carried what it was given
    std::int64_t lastDueNs = 0;   // no piece goes before the one ahead of it
    std::int64_t passed = 0;      // bytes passed on (Data limit)
    DueSlot release;              // the next piece's due time, while waiting for it

    // Plans the n bytes that end `end` bytes from the Channel's front, read at readNs: cuts
    // them into pieces (Slicing, Bandwidth) and gives each its due time (Bandwidth, Latency,
    // Loss, the pause between slices, the order of the bytes).
    void Plan(std::int32_t end, std::int32_t n, std::int64_t readNs, Random& random);
};

struct ConnectionConditions {
    // set: the conditions in force when they came to apply; startNs: the Client's connect,
    // or the change that made them apply to an older Connection (then only what applies to
    // live Connections is taken).
    ConnectionConditions(Connection& connection, const Conditions& set, std::uint64_t seed,
                         std::int64_t startNs, bool atAccept, std::int64_t highWaterMark);

    // What applies to live Connections when the set changes: the directions' Latency,
    // Bandwidth, Slicing and Loss, and the Stall. highWaterMark: the engine's, from which
    // each direction's held limit follows (PacedHeldLimit).
    void TakeLiveConditions(const Conditions& set, std::int64_t highWaterMark);

    // The next event of the Connection's life after now, or -1 when none waits.
    std::int64_t NextLifeNs() const;
    std::int64_t ConnectAtNs() const { return startNs + connectDelay.us * 1000; }
    std::int64_t EndAtNs() const { return startNs + endAfter.us * 1000; }
    std::int64_t StallAtNs() const { return startNs + stall.afterUs * 1000; }
    std::int64_t StallEndAtNs() const { return StallAtNs() + stall.endUs * 1000; }

    DirectionState toServer;
    DirectionState toClient;
    Random random;
    std::int64_t startNs;
    ConnectDelay connectDelay;
    EndAfter endAfter;
    Stall stall;
    SlowClose slowClose;

    bool connectPending = false;  // the connect to the Server waits for its delay
    bool stalled = false;
    // A peer's close held back by Slow close, carried out at closeAtNs.
    bool closeHeld = false;
    bool closeFromClient = false;
    int closeError = 0;
    std::int64_t closeAtNs = 0;
    // The Data limit was reached towards this side; the end follows from the timer.
    bool limitReached = false;
    bool limitToServer = false;
    DueSlot life;
};

// The Connection's conditions are freed with it.
struct ConnectionConditionsDeleter {
    void operator()(ConnectionConditions* conditions) const;
};
using ConnectionConditionsPtr = std::unique_ptr<ConnectionConditions, ConnectionConditionsDeleter>;

}  // namespace corvane::relay
