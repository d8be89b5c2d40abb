// The ways down: one side of a Connection ends (its close, or a failure met while reading or
// sending), or Stop ends everything.
//
// When one side ends, what is still held for the other side is delivered first: the
// Connection stays in the list, "draining", and write notifications send the rest. It closes
// with the usual lines once everything has gone, the remaining side fails or closes, or Stop.
#include "log/traffic_log.h"
#include "relay/relay_engine.h"
#include "relay/socket_error_text.h"

namespace corvane::relay {

void RelayEngine::OnSocketClose(Connection& c, platform::SOCKET s, int error) {
    if (c.draining == Draining::ToClient) {
        FinishDisconnectClient(c);  // the Client left before it had everything
        return;
    }
    if (c.draining == Draining::ToServer) {
        FinishDisconnectServer(c);
        return;
    }
    // The one last read takes bytes that came with the close, even above the high-water mark.
    // When it meets the reset itself, its error stands in for a close that came without one.
    lastReadError_ = 0;
    if (s == c.clientSocket) {
        if (ReadFromClient(c, true) < 0) {
            return;
        }
        log_.LogConnectionInform(c.number, "Client disconnected");
        DisconnectServer(c, error != 0 ? error : lastReadError_);
    } else {
        if (ReadFromServer(c, true) < 0) {
            return;
        }
        log_.LogConnectionInform(c.number, "Server disconnected");
        DisconnectClient(c, error != 0 ? error : lastReadError_);
    }
}

void RelayEngine::DisconnectServer(Connection& c, int error) {
    log_.Capture().SideEnded(c.capture, log::CaptureSide::Client, error != 0);
    if (error != 0) {
        log_.LogConnectionInform(c.number, SocketErrorText(error));
    }
    CloseClientSocket(c);
    if (!c.connected) {
        // No connection to the Server was ever made: what the Client sent goes nowhere.
        AddCount(Counter::CSBuffered, csBuffered_, -c.clientToServer.length);
        CloseServerSocket(c);
        c.clientToServer.Release();
        RemoveConnection(c);
        return;
    }
    AddCount(Counter::SCBuffered, scBuffered_, -c.serverToClient.length);
    c.serverToClient.Release();
    c.draining = Draining::ToServer;
    DrainToServer(c);
}

void RelayEngine::DisconnectClient(Connection& c, int error) {
    log_.Capture().SideEnded(c.capture, log::CaptureSide::Server, error != 0);
    AddCount(Counter::CSBuffered, csBuffered_, -c.clientToServer.length);
    c.clientToServer.Release();
    CloseServerSocket(c);
    if (error != 0) {
        log_.LogConnectionInform(c.number, SocketErrorText(error));
    }
    c.draining = Draining::ToClient;
    DrainToClient(c);
}

int RelayEngine::DrainToServer(Connection& c) {
    Channel& channel = c.clientToServer;
    const int sent = channel.Flush(c.serverSocket);
    if (sent > 0) {
        AddCount(Counter::CSTransferred, csTransferred_, sent);
        AddCount(Counter::CSBuffered, csBuffered_, -sent);
    }
    if (sent < 0 || channel.length == 0) {
        FinishDisconnectServer(c);  // a failure here is not logged; the rest is dropped
        return -1;
    }
    return sent;
}

int RelayEngine::DrainToClient(Connection& c) {
    Channel& channel = c.serverToClient;
    const int sent = channel.Flush(c.clientSocket);
    if (sent > 0) {
        AddCount(Counter::SCTransferred, scTransferred_, sent);
        AddCount(Counter::SCBuffered, scBuffered_, -sent);
    }
    if (sent < 0 || channel.length == 0) {
        FinishDisconnectClient(c);
        return -1;
    }
    return sent;
}

namespace {

// Linux answers a close with unread bytes waiting by a reset, which throws away what was just
// handed over for that peer. What the peer sent has nowhere to go any more: read it away
// first (within a bound), so that the close stays a graceful one.
void DiscardInput(platform::SOCKET s) {
    char scrap[4096];
    for (int i = 0; i < 64; ++i) {
        if (platform::recv(s, scrap, static_cast<int>(sizeof scrap), 0) <= 0) {
            return;
        }
    }
}

}  // namespace

void RelayEngine::FinishDisconnectServer(Connection& c) {
    AddCount(Counter::CSBuffered, csBuffered_, -c.clientToServer.length);
    log_.LogConnectionMessage(c.number, "Disconnected from Server");
    if (c.serverSocket != platform::INVALID_SOCKET) {
        DiscardInput(c.serverSocket);
    }
    CloseServerSocket(c);
    c.clientToServer.Release();
    RemoveConnection(c);
}

void RelayEngine::FinishDisconnectClient(Connection& c) {
    AddCount(Counter::SCBuffered, scBuffered_, -c.serverToClient.length);
    c.serverToClient.Release();
    if (c.clientSocket != platform::INVALID_SOCKET) {
        DiscardInput(c.clientSocket);
    }
    CloseClientSocket(c);
    log_.LogConnectionMessage(c.number, "Disconnected from Client");
    RemoveConnection(c);
}

// While draining, what the remaining peer sends has nowhere to go. It is read and dropped so
// that a peer blocked on its own sending still takes ours; its close or failure ends the
// Connection.
int RelayEngine::DiscardWhileDraining(Connection& c, platform::SOCKET s) {
    char scrap[4096];
    const int n = platform::recv(s, scrap, static_cast<int>(sizeof scrap), 0);
    if (n > 0 || (n < 0 && platform::WSAGetLastError() == platform::WSAEWOULDBLOCK)) {
        return 0;
    }
    if (c.draining == Draining::ToClient) {
        FinishDisconnectClient(c);
    } else {
        FinishDisconnectServer(c);
    }
    return -1;
}

void RelayEngine::StopRelay() {
    log_.SetPaused(false);
    log_.CatchUpView();
    if (remoteLookupRequest_ != 0) {
        platform::WSACancelAsyncRequest(remoteLookupRequest_);
        remoteLookupRequest_ = 0;
        log_.LogMessage("Resolving Remote Host cancelled");
    }
    if (localPortSocket_ != platform::INVALID_SOCKET) {
        platform::closesocket(localPortSocket_);
        localPortSocket_ = platform::INVALID_SOCKET;
        log_.LogMessage("Local Port closed");
    }
    platform::KillTimer(this, kAcceptRetryTimer);
    acceptHeldBack_ = false;
    acceptFailureLogged_ = false;
    acceptRetryMs_ = 0;
    // Newest first; nothing pending is sent. A draining Connection logs only the closing
    // line of the side it still had.
    while (Connection* c = connections_.Head()) {
        CloseClientSocket(*c);
        if (c->draining != Draining::ToServer) {
            log_.LogConnectionMessage(c->number, "Disconnected from Client");
        }
        c->clientToServer.Release();
        CloseServerSocket(*c);
        if (c->connected && c->draining != Draining::ToClient) {
            log_.LogConnectionMessage(c->number, "Disconnected from Server");
        }
        c->serverToClient.Release();
        connections_.Remove(c);
    }
    connectionCount_ = 0;
    ShowCount(Counter::Connections, 0);
    scBuffered_ = 0;
    ShowCount(Counter::SCBuffered, 0);
    csBuffered_ = 0;
    ShowCount(Counter::CSBuffered, 0);
    log_.Capture().Close();  // before the Log File, which takes a failed write's line
    if (log_.File().IsOpen()) {
        log_.File().CloseLogFile();
    }
    SetRunningState(false);
}

}  // namespace corvane::relay
