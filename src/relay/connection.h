// The record of one accepted Client: its two sockets and the two directions between them.
#pragma once

#include <cstdint>

#include "log/capture_flow.h"
#include "platform/winsock.h"
#include "relay/channel.h"

namespace corvane::relay {

// How a Connection's data is shown in the log; the first block, from either side, decides.
constexpr std::int32_t kDumpUndecided = -1;
constexpr std::int32_t kDumpHex = 0;
constexpr std::int32_t kDumpText = 1;

// A Connection whose one side has ended keeps delivering what it holds for the other side
// before it closes, so that an answer followed at once by a close is not cut short.
enum class Draining : std::uint8_t {
    None,
    ToServer,  // the Client has gone; the Client-to-Server bytes still go out
    ToClient,  // the Server has gone; the Server-to-Client bytes still go out
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
    // the client socket may be closed while the last bytes still go to the Server.
    int number = 0;
    // A direction whose Channel went above the high-water mark stops reading its source; the
    // flag says that one read is owed once it has drained below half.
    bool clientReadHeld = false;
    bool serverReadHeld = false;
    Draining draining = Draining::None;
    // The accepted Client's address and port, and its conversation in the Capture File.
    platform::SocketAddress clientAddress;
    log::CaptureFlow capture;
};

}  // namespace corvane::relay
