// What the relay tells a list of its Connections (the window's Connections pane, a test's
// recorder): one row per Connection, from its accept to its end, with its state and counts.
//
// The engine never reports per block. It collects what changed and hands it over in one
// batch per tick of its own timer (kConnectionViewTimer, 200 ms, the Log Buffer's period),
// which runs only while a view is set and some Connection is live or a change waits; Stop
// hands over the last batch at once. With no view set (the default) nothing is collected.
//
//   engine --(accept, connect, TLS, state, counts: at most one row per Connection per
//             tick; an ended Connection's final row once)--> ConnectionView::ShowConnections
//
// The view owns its rows: the engine keeps nothing of an ended Connection after its final
// row, and never removes rows (the view drops them at Start or at its own Clear).
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "log/connection_serial.h"

namespace corvane::relay {

enum class ConnectionState : std::uint8_t {
    Connecting,      // accepted; the connect to the Server is under way
    Open,            // relaying both ways
    ClientFinished,  // Half Close: the Client has finished sending, the other way goes on
    ServerFinished,  // Half Close: the Server has finished sending
    Draining,        // one side has ended; what is held for the other still goes out
    Paused,          // relaying is paused (a Connection still connecting or draining is not)
    Closed,          // ended: a close by either peer, by the user, or Stop
    Reset,           // ended: a reset by either peer (or a send it refused), or by the user
    Failed,          // ended: the connect, TLS, a read, a send, or memory failed
};

// "Connecting", "Open", "Client finished", "Server finished", "Draining", "Paused",
// "Closed", "Reset", "Failed".
std::string_view StateText(ConnectionState state);

// Closed, Reset and Failed: the Connection has ended and this row is its last.
constexpr bool IsEnded(ConnectionState state) {
    return state == ConnectionState::Closed || state == ConnectionState::Reset ||
           state == ConnectionState::Failed;
}

struct ConnectionRow {
    log::ConnectionSerial serial = log::kNoConnection;  // the row's identity
    int number = 0;                                     // No.: the number of its log lines
    std::string client;  // the Client's address and port: "127.0.0.1:50312", "[::1]:50312"
    std::string server;  // the Server's, as connected to
    ConnectionState state = ConnectionState::Connecting;
    // When it was accepted: milliseconds since the Unix epoch (the system clock); the view
    // shows it in local time.
    std::int64_t startedMs = 0;
    // From the accept to this batch, or to its end for an ended row. A live row is not sent
    // again for its duration alone: a view that shows it running adds the time since.
    std::int64_t durationMs = 0;
    std::int64_t clientToServer = 0;  // bytes passed on to the Server (after the rewrite)
    std::int64_t serverToClient = 0;  // bytes passed on to the Client
    std::int64_t buffered = 0;        // bytes held for either side
    // The TLS version ("TLSv1.3"), once a handshake has succeeded; empty for plain. With TLS
    // on both sides and different versions: "TLSv1.3 / TLSv1.2" (the Client's side first).
    std::string tls;
    // The network conditions applied to it, as its "N: Conditions: ..." line gives them (the
    // set of the latest live change once one has reached it); empty when none apply.
    std::string conditions;
};

// One tick's changes.
struct ConnectionChanges {
    // New and changed rows, each Connection at most once, in the order of their accepts
    // (newest last), ended ones with their final state.
    std::span<const ConnectionRow> rows;
    // Connections whose kept streams have been given up (the store was full and they were
    // the oldest), live or ended: their rows should say so from now on.
    std::span<const log::ConnectionSerial> streamsDropped;
};

class ConnectionView {
public:
    // A batch, on the event thread; never empty.
    virtual void ShowConnections(const ConnectionChanges& changes) = 0;

protected:
    ~ConnectionView() = default;
};

}  // namespace corvane::relay
