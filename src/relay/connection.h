// The record of one accepted Client: its two sockets and the two directions between them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "log/capture_flow.h"
#include "log/connection_serial.h"
#include "platform/winsock.h"
#include "relay/channel.h"
#include "relay/connection_view.h"

namespace corvane::relay {

// How a Connection's data is shown in the log; the first block, from either side, decides.
constexpr std::int32_t kDumpUndecided = -1;
constexpr std::int32_t kDumpHex = 0;
constexpr std::int32_t kDumpText = 1;

// A Connection whose one side has ended keeps delivering what it holds for the other side
// before it closes, so that an answer followed at once by a close is not cut short. The ended
// side's socket stays open (its input read and dropped) until then, so that its number is not
// handed to a new Client while this Connection still logs under it.
enum class Draining : std::uint8_t {
    None,
    ToServer,  // the Client has gone; the Client-to-Server bytes still go out
    ToClient,  // the Server has gone; the Server-to-Client bytes still go out
    Both,      // closed by the user: what is held either way still goes out, nothing is read
};

// With Half Close on, each direction ends on its own: its source has finished sending, and
// once what it sent has been delivered the destination's sending side is shut down.
struct HalfClosed {
    bool clientFinished = false;
    bool serverFinished = false;
    bool serverShut = false;  // the Server has been told (its sending side shut down)
    bool clientShut = false;
};

struct Connection {
    platform::SOCKET clientSocket = platform::INVALID_SOCKET;
    platform::SOCKET serverSocket = platform::INVALID_SOCKET;
    Channel clientToServer;
    Channel serverToClient;
    bool connected = false;
    Connection* next = nullptr;      // older
    Connection* previous = nullptr;  // newer
    std::int32_t DumpMode = kDumpUndecided;
    std::int32_t httpRequestSeen = 0;

    // The number that prefixes its log lines: the client socket's value, kept here because
    // the client socket is closed before the Connection's last line is logged.
    int number = 0;
    // Its own for its life and the run's (numbers come back): its log lines are filed under it.
    log::ConnectionSerial serial = log::kNoConnection;
    log::ConnectionTag Tag() const { return {number, serial}; }
    // A direction whose Channel went above the high-water mark stops reading its source; the
    // flag says that one read is owed once it has drained below half.
    bool clientReadHeld = false;
    bool serverReadHeld = false;
    Draining draining = Draining::None;
    // While draining: the neighbours in the engine's list of draining Connections (the drain
    // timer looks at those only), and when the drain last moved bytes (steady clock, ms).
    Connection* drainNext = nullptr;
    Connection* drainPrevious = nullptr;
    std::int64_t drainMovedMs = 0;
    // The side that ended went with an error (a reset): when its end is passed on, the
    // Capture File shows it as a RST.
    bool endedByReset = false;
    HalfClosed halfClosed;
    // The accepted Client's address and port, and its conversation in the Capture File.
    platform::SocketAddress clientAddress;
    log::CaptureFlow capture;

    // For the list of Connections (relay/connection_view.h): when it was accepted (system
    // clock, and steady clock for its duration), the bytes passed on each way, the TLS
    // version of each side, how it ends, and what the view was last told.
    std::int64_t startedMs = 0;
    std::int64_t startedSteadyMs = 0;
    std::int64_t passedToServer = 0;
    std::int64_t passedToClient = 0;
    std::string clientTls;
    std::string serverTls;
    // The first cause of its end that is known wins (a reset met before the close it
    // leads to); Closed unless something else was marked.
    ConnectionState endState = ConnectionState::Closed;
    bool endMarked = false;
    struct Reported {
        bool shown = false;  // a row has been handed over
        ConnectionState state = ConnectionState::Connecting;
        std::int64_t passedToServer = 0;
        std::int64_t passedToClient = 0;
        std::int64_t buffered = 0;
        std::size_t tlsLength = 0;
    } reported;
};

}  // namespace corvane::relay
