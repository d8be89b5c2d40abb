// Network Conditions: what the relay does on purpose to the Connections' bytes and lives, so
// that a Client or a Server can be tried against a slow, thin or breaking network. A plain
// value: the engine takes a whole set at a time (RelayEngine::ReplaceConditions), the command
// line and a conditions file write one in the switch grammar (conditions_text.h), and the
// presets are sets with names (presets.h).
//
// Each condition is one small struct in a file of its own, with one shape: its parameters,
// On() when it does something, Parse and Format of its switch's value, and what it does to a
// block about to be passed on (Latency, Bandwidth, Slicing, Loss, DataLimit) or to a
// Connection's life (ConnectDelay, EndAfter, Stall, SlowClose, Refuse, Share).
#pragma once

#include <cstdint>
#include <optional>

#include "relay/conditions/bandwidth.h"
#include "relay/conditions/connect_delay.h"
#include "relay/conditions/data_limit.h"
#include "relay/conditions/end_after.h"
#include "relay/conditions/latency.h"
#include "relay/conditions/loss.h"
#include "relay/conditions/refuse.h"
#include "relay/conditions/share.h"
#include "relay/conditions/slicing.h"
#include "relay/conditions/slow_close.h"
#include "relay/conditions/stall.h"

namespace corvane::relay {

// The conditions of one direction. Latency, Bandwidth, Slicing and Loss apply to live
// Connections from their next block when the set changes; the Data limit to new ones.
struct DirectionConditions {
    Latency latency;
    Bandwidth bandwidth;
    Slicing slicing;
    Loss loss;
    DataLimit limit;

    bool On() const {
        return latency.On() || bandwidth.On() || slicing.On() || loss.On() || limit.On();
    }
    bool operator==(const DirectionConditions&) const = default;
};

struct Conditions {
    DirectionConditions up;    // Client to Server ("up:")
    DirectionConditions down;  // Server to Client ("down:")
    // Per Connection, taken by new Connections (Stall by live ones too).
    ConnectDelay connectDelay;
    EndAfter endAfter;
    Stall stall;
    SlowClose slowClose;
    // For new Clients.
    Refuse refuse;
    Share share;
    // The run's seed ("-seed"); none: Start draws one. Read by Start only.
    std::optional<std::uint64_t> seed;

    // Any condition at all (a Share or a seed alone changes nothing).
    bool On() const { return ForConnection() || refuse.On(); }
    // A condition that a Connection carries once accepted.
    bool ForConnection() const {
        return up.On() || down.On() || connectDelay.On() || endAfter.On() || stall.On() ||
               slowClose.On();
    }
    bool operator==(const Conditions&) const = default;
};

}  // namespace corvane::relay
