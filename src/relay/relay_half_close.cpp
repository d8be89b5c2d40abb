// Half close: with HalfClose on, a peer's orderly close (its FIN, a read that finds the end)
// ends only the direction it was sending in. What it sent is delivered, then the other peer
// is told by a shutdown of its socket's sending side, whose FIN follows every byte handed
// over before; the other direction goes on. When the second peer closes too, the Connection
// ends as any close ends it ("Server disconnected", "Disconnected from Client"), after what
// is still held for the first one has been delivered. A reset or a failure ends the
// Connection at once, as without the option.
#include "log/traffic_log.h"
#include "relay/relay_engine.h"
#include "relay/socket_error_text.h"

namespace corvane::relay {

bool RelayEngine::SourceFinished(const Connection& c, bool clientSide) {
    return clientSide ? c.halfClosed.clientFinished : c.halfClosed.serverFinished;
}

int RelayEngine::HalfCloseFinish(Connection& c, bool clientSide) {
    HalfClosed& h = c.halfClosed;
    // The second close ends the Connection; so does one while it drains towards one side.
    if (!HalfClose || c.draining != Draining::None || h.clientFinished || h.serverFinished) {
        return 0;
    }
    if (clientSide) {
        h.clientFinished = true;
        log_.LogConnectionInform(c.Tag(), "Client finished sending");
    } else {
        h.serverFinished = true;
        log_.LogConnectionInform(c.Tag(), "Server finished sending");
    }
    // Before the connect completes nothing can be told; OnServerConnect's send does it.
    return ShutdownWhenDelivered(c, clientSide) < 0 ? -1 : 1;
}

int RelayEngine::ShutdownWhenDelivered(Connection& c, bool clientSide) {
    HalfClosed& h = c.halfClosed;
    if (!SourceFinished(c, clientSide) || !c.connected || c.draining != Draining::None) {
        return 0;
    }
    bool& shut = clientSide ? h.serverShut : h.clientShut;
    const Channel& held = clientSide ? c.clientToServer : c.serverToClient;
    if (shut || held.length != 0) {
        return 0;
    }
    shut = true;
    const platform::SOCKET destination = clientSide ? c.serverSocket : c.clientSocket;
    if (platform::shutdown(destination, platform::SD_SEND) == 0) {
        // The source's end is passed on here, so its FIN is in the capture from now on.
        log_.Capture().SideEnded(
            c.capture, clientSide ? log::CaptureSide::Client : log::CaptureSide::Server, false);
        return 0;
    }
    const int error = platform::WSAGetLastError();
    if (clientSide) {
        log_.LogConnectionInform(c.Tag(), "Could not send data to Server");
        DisconnectClient(c, error);
    } else {
        log_.LogConnectionInform(c.Tag(), "Could not send data to Client");
        DisconnectServer(c, error);
    }
    return -1;
}

}  // namespace corvane::relay
