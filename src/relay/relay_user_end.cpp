// Ending Connections on the user's demand, by serial, several at once: Close delivers what
// is held either way and then closes both peers gracefully; Reset resets both at once.
#include <chrono>

#include "log/traffic_log.h"
#include "relay/relay_engine.h"

namespace corvane::relay {

Connection* RelayEngine::FindSerial(log::ConnectionSerial serial) const {
    for (Connection* c = connections_.Head(); c != nullptr; c = c->next) {
        if (c->serial == serial) {
            return c;
        }
    }
    return nullptr;
}

int RelayEngine::CloseConnections(std::span<const log::ConnectionSerial> serials) {
    int found = 0;
    for (const log::ConnectionSerial serial : serials) {
        if (Connection* c = FindSerial(serial)) {
            ++found;
            CloseByUser(*c);
        }
    }
    return found;
}

int RelayEngine::ResetConnections(std::span<const log::ConnectionSerial> serials) {
    int found = 0;
    for (const log::ConnectionSerial serial : serials) {
        if (Connection* c = FindSerial(serial)) {
            ++found;
            ResetByUser(*c);
        }
    }
    return found;
}

void RelayEngine::CloseByUser(Connection& c) {
    if (c.draining != Draining::None) {
        return;  // one side has ended already; the other gets what it is owed as it is
    }
    log_.LogConnectionInform(c.Tag(), "Closed by user");
    if (!c.connected) {
        DisconnectServer(c, 0);  // as a Client's close before the Server was reached
        return;
    }
    log_.Capture().SideEnded(c.capture, log::CaptureSide::Client, false);
    BeginDraining(c, Draining::Both);
    DrainBoth(c);
}

int RelayEngine::DrainBoth(Connection& c) {
    for (const bool toServer : {true, false}) {
        Channel& channel = toServer ? c.clientToServer : c.serverToClient;
        if (channel.length == 0) {
            continue;
        }
        const std::int64_t held = channel.length;
        const int sent = FlushPassing(c, toServer);
        std::int64_t& transferred = toServer ? csTransferred_ : scTransferred_;
        std::int64_t& buffered = toServer ? csBuffered_ : scBuffered_;
        const Counter transferredCounter =
            toServer ? Counter::CSTransferred : Counter::SCTransferred;
        const Counter bufferedCounter = toServer ? Counter::CSBuffered : Counter::SCBuffered;
        if (sent > 0) {
            AddCount(transferredCounter, transferred, sent);
            AddCount(bufferedCounter, buffered, -sent);
            c.drainMovedMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                                 std::chrono::steady_clock::now().time_since_epoch())
                                 .count();
        } else if (sent < 0) {
            // That peer is gone: what it was owed is dropped, the other still gets its part.
            AddCount(bufferedCounter, buffered, -held);
            channel.Release();
        }
    }
    if (c.clientToServer.length == 0 && c.serverToClient.length == 0) {
        FinishClosing(c);
        return -1;
    }
    return 0;
}

void RelayEngine::FinishClosing(Connection& c) {
    AddCount(Counter::CSBuffered, csBuffered_, -c.clientToServer.length);
    AddCount(Counter::SCBuffered, scBuffered_, -c.serverToClient.length);
    log_.LogConnectionMessage(c.Tag(), "Disconnected from Server");
    CloseServerSocket(c);
    CloseClientSocket(c);
    c.clientToServer.Release();
    c.serverToClient.Release();
    RemoveConnection(c);
}

void RelayEngine::ResetByUser(Connection& c) {
    log_.LogConnectionInform(c.Tag(), "Reset by user");
    MarkEnded(c, ConnectionState::Reset);
    log_.Capture().SideEnded(c.capture, log::CaptureSide::Client, true);
    const platform::LINGER_ abortive{1, 0};
    for (const platform::SOCKET s : {c.clientSocket, c.serverSocket}) {
        if (s != platform::INVALID_SOCKET) {
            platform::setsockopt(s, platform::SOL_SOCKET_, platform::SO_LINGER_, &abortive,
                                 sizeof abortive);
        }
    }
    AddCount(Counter::CSBuffered, csBuffered_, -c.clientToServer.length);
    AddCount(Counter::SCBuffered, scBuffered_, -c.serverToClient.length);
    CloseClientSocket(c);
    if (c.draining != Draining::ToServer) {
        log_.LogConnectionMessage(c.Tag(), "Disconnected from Client");
    }
    CloseServerSocket(c);
    if (c.connected && c.draining != Draining::ToClient) {
        log_.LogConnectionMessage(c.Tag(), "Disconnected from Server");
    }
    c.clientToServer.Release();
    c.serverToClient.Release();
    RemoveConnection(c);
}

}  // namespace corvane::relay
