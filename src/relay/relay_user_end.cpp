// Ending Connections on the user's demand, by serial, several at once: Close delivers what
// is held either way and then closes both peers gracefully (its drain, DrainBoth, is in
// relay_teardown.cpp with the others); Reset resets both at once.
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
    BeginDraining(c, Draining::Both);
    DrainBoth(c);
}

void RelayEngine::ResetByUser(Connection& c) {
    EndBothNow(c, "Reset by user", true, log::CaptureSide::Client);
}

void RelayEngine::EndBothNow(Connection& c, const char* reason, bool reset, log::CaptureSide from) {
    log_.LogConnectionInform(c.Tag(), reason);
    if (reset) {
        MarkEnded(c, ConnectionState::Reset);
        log_.Capture().SideEnded(c.capture, from, true);
        const platform::LINGER hardClose{1, 0};
        for (const platform::SOCKET s : {c.clientSocket, c.serverSocket}) {
            if (s != platform::INVALID_SOCKET) {
                platform::setsockopt(s, platform::SOL_SOCKET_, platform::SO_LINGER_, &hardClose,
                                     sizeof hardClose);
            }
        }
    }
    AddCount(Counter::CSBuffered, csBuffered_, -c.clientToServer.length);
    AddCount(Counter::SCBuffered, scBuffered_, -c.serverToClient.length);
    // As Stop ends a Connection: only the sides still there log their closing line.
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
