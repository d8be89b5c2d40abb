// The ways down: one side of a Connection ends (its close, or a failure met while reading or
// sending), or Stop ends everything.
//
// When one side ends, what is still held for the other side is delivered first: the
// Connection stays in the list, "draining", and write notifications send the rest. It closes
// with the usual lines once everything has gone, the remaining side fails or closes, no byte
// has gone out for DrainTimeoutMs, or Stop. Both sockets stay open until then; what either
// peer sends meanwhile is read and dropped. The ended side's end reaches the Capture File
// when the drain is over, behind the last byte passed on. A drain that gives up drops what
// the socket holds too and resets its peer, which would otherwise wait for bytes that no
// longer come.
#include <algorithm>
#include <chrono>

#include "log/traffic_log.h"
#include "relay/relay_engine.h"
#include "relay/socket_error_text.h"

namespace corvane::relay {

namespace {

std::int64_t NowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

}  // namespace

void RelayEngine::OnSocketClose(Connection& c, platform::SOCKET s, int error) {
    if (error == 0 && SourceFinished(c, s == c.clientSocket)) {
        return;  // a half close taken already by a read that met the end
    }
    if (c.draining != Draining::None) {
        // The ended side's close (or reset) was met already; only the remaining side's counts.
        if (c.draining == Draining::ToClient && s == c.clientSocket) {
            FinishDisconnectClient(c);  // the Client left before it had everything
        } else if (c.draining == Draining::ToServer && s == c.serverSocket) {
            FinishDisconnectServer(c);
        }
        return;
    }
    // The one last read takes bytes that came with the close, even above the high-water mark.
    // When it meets the reset itself, its error stands in for a close that came without one.
    lastReadError_ = 0;
    const bool clientSide = s == c.clientSocket;
    if ((clientSide ? ReadFromClient(c, true) : ReadFromServer(c, true)) < 0) {
        return;
    }
    if (error == 0 && lastReadError_ == 0) {
        PassOnTlsEnd(c, clientSide);
        if (HalfCloseFinish(c, clientSide) != 0) {
            return;
        }
    }
    if (clientSide) {
        log_.LogConnectionInform(c.Tag(), "Client disconnected");
        DisconnectServer(c, error != 0 ? error : lastReadError_);
    } else {
        log_.LogConnectionInform(c.Tag(), "Server disconnected");
        DisconnectClient(c, error != 0 ? error : lastReadError_);
    }
}

void RelayEngine::DisconnectServer(Connection& c, int error) {
    MarkEndedBy(c, error);
    c.endedByReset = error != 0;
    if (error != 0) {
        LogSideError(c, true, error);
    }
    if (!c.connected) {
        // No connection to the Server was ever made: what the Client sent goes nowhere.
        CloseClientSocket(c);
        AddCount(Counter::CSBuffered, csBuffered_, -c.clientToServer.length);
        CloseServerSocket(c);
        c.clientToServer.Release();
        RemoveConnection(c);
        return;
    }
    AddCount(Counter::SCBuffered, scBuffered_, -c.serverToClient.length);
    c.serverToClient.Release();
    BeginDraining(c, Draining::ToServer);
    // The Server's read may have been held at the high-water mark, and a read that is never
    // made is never announced again: read it now, which also re-arms its read notification.
    if (DrainToServer(c) >= 0 && !Paused()) {
        DiscardWhileDraining(c, c.serverSocket);
    }
}

void RelayEngine::DisconnectClient(Connection& c, int error) {
    MarkEndedBy(c, error);
    c.endedByReset = error != 0;
    AddCount(Counter::CSBuffered, csBuffered_, -c.clientToServer.length);
    c.clientToServer.Release();
    if (error != 0) {
        LogSideError(c, false, error);
    }
    BeginDraining(c, Draining::ToClient);
    if (DrainToClient(c) >= 0 && !Paused()) {
        DiscardWhileDraining(c, c.clientSocket);
    }
}

void RelayEngine::BeginDraining(Connection& c, Draining side) {
    c.draining = side;
    c.drainMovedMs = NowMs();
    c.drainPrevious = nullptr;
    c.drainNext = drainingHead_;
    if (drainingHead_ != nullptr) {
        drainingHead_->drainPrevious = &c;
    }
    drainingHead_ = &c;
    if (!drainTimerSet_) {
        SetDrainTimer(DrainTimeoutMs);
    }
}

void RelayEngine::EndDraining(Connection& c) {
    if (c.drainNext != nullptr) {
        c.drainNext->drainPrevious = c.drainPrevious;
    }
    if (c.drainPrevious != nullptr) {
        c.drainPrevious->drainNext = c.drainNext;
    } else {
        drainingHead_ = c.drainNext;
    }
    c.drainNext = nullptr;
    c.drainPrevious = nullptr;
    if (drainingHead_ == nullptr && drainTimerSet_) {
        platform::KillTimer(this, kDrainTimer);
        drainTimerSet_ = false;
    }
}

void RelayEngine::SetDrainTimer(std::int64_t delayMs) {
    platform::SetTimer(this, kDrainTimer,
                       static_cast<platform::UINT>(std::max<std::int64_t>(delayMs, 1)));
    drainTimerSet_ = true;
}

// Ends the drains that moved nothing for DrainTimeoutMs, dropping what they hold, and sets
// the timer for the next one that could stall. The work is in proportion to the draining
// Connections only.
void RelayEngine::OnDrainTimer() {
    platform::KillTimer(this, kDrainTimer);
    drainTimerSet_ = false;
    const std::int64_t now = NowMs();
    std::int64_t nextMs = DrainTimeoutMs;
    Connection* next = nullptr;
    for (Connection* c = drainingHead_; c != nullptr; c = next) {
        next = c->drainNext;  // ending c unlinks it
        const std::int64_t idle = now - c->drainMovedMs;
        if (idle < DrainTimeoutMs) {
            nextMs = std::min(nextMs, DrainTimeoutMs - idle);
        } else if (c->draining == Draining::Both) {
            FinishClosing(*c, true);
        } else if (c->draining == Draining::ToServer) {
            FinishDisconnectServer(*c, true);
        } else {
            FinishDisconnectClient(*c, true);
        }
    }
    if (drainingHead_ != nullptr) {
        SetDrainTimer(nextMs);
    }
}

int RelayEngine::DrainToServer(Connection& c) {
    Channel& channel = c.clientToServer;
    const int sent = SendOn(c, channel, c.serverSocket, log::CaptureSide::Client);
    if (sent > 0) {
        AddCount(Counter::CSTransferred, csTransferred_, sent);
        AddCount(Counter::CSBuffered, csBuffered_, -sent);
        c.drainMovedMs = NowMs();
    }
    if (sent < 0 || channel.length == 0) {
        FinishDisconnectServer(c);  // a failure here is not logged; the rest is dropped
        return -1;
    }
    return sent;
}

int RelayEngine::DrainToClient(Connection& c) {
    Channel& channel = c.serverToClient;
    const int sent = SendOn(c, channel, c.clientSocket, log::CaptureSide::Server);
    if (sent > 0) {
        AddCount(Counter::SCTransferred, scTransferred_, sent);
        AddCount(Counter::SCBuffered, scBuffered_, -sent);
        c.drainMovedMs = NowMs();
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

// Before the socket of the peer a drain went to is closed. When the drain gave up (reset),
// what the socket layer and the kernel still hold for the peer is dropped with the Channel's
// bytes and the peer is reset at once: closed gracefully, the socket would linger with them
// and hold the peer, whose own sending nobody reads any more, for as long. Otherwise what the
// peer sent is read away, so that the close stays graceful.
void CloseDrainedTo(platform::SOCKET s, bool reset) {
    if (s == platform::INVALID_SOCKET) {
        return;
    }
    if (reset) {
        const platform::LINGER hardClose{1, 0};
        platform::setsockopt(s, platform::SOL_SOCKET_, platform::SO_LINGER_, &hardClose,
                             sizeof hardClose);
    } else {
        DiscardInput(s);
    }
}

}  // namespace

int RelayEngine::DrainBoth(Connection& c) {
    for (const bool toServer : {true, false}) {
        Channel& channel = toServer ? c.clientToServer : c.serverToClient;
        if (channel.length == 0) {
            continue;
        }
        const std::int64_t held = channel.length;
        const int sent = toServer ? SendOn(c, channel, c.serverSocket, log::CaptureSide::Client)
                                  : SendOn(c, channel, c.clientSocket, log::CaptureSide::Server);
        std::int64_t& transferred = toServer ? csTransferred_ : scTransferred_;
        std::int64_t& buffered = toServer ? csBuffered_ : scBuffered_;
        const Counter transferredCounter =
            toServer ? Counter::CSTransferred : Counter::SCTransferred;
        const Counter bufferedCounter = toServer ? Counter::CSBuffered : Counter::SCBuffered;
        if (sent > 0) {
            AddCount(transferredCounter, transferred, sent);
            AddCount(bufferedCounter, buffered, -sent);
            c.drainMovedMs = NowMs();
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

void RelayEngine::FinishClosing(Connection& c, bool reset) {
    if (reset) {
        MarkEnded(c, ConnectionState::Reset);
    }
    AddCount(Counter::CSBuffered, csBuffered_, -c.clientToServer.length);
    AddCount(Counter::SCBuffered, scBuffered_, -c.serverToClient.length);
    log_.Capture().SideEnded(c.capture, log::CaptureSide::Client, reset);
    log_.LogConnectionMessage(c.Tag(), "Disconnected from Server");
    CloseDrainedTo(c.serverSocket, reset);
    CloseDrainedTo(c.clientSocket, reset);
    CloseServerSocket(c);
    CloseClientSocket(c);
    c.clientToServer.Release();
    c.serverToClient.Release();
    RemoveConnection(c);
}

void RelayEngine::FinishDisconnectServer(Connection& c, bool reset) {
    if (reset) {
        MarkEnded(c, ConnectionState::Reset);
    }
    AddCount(Counter::CSBuffered, csBuffered_, -c.clientToServer.length);
    log_.Capture().SideEnded(c.capture, log::CaptureSide::Client, reset || c.endedByReset);
    log_.LogConnectionMessage(c.Tag(), "Disconnected from Server");
    CloseDrainedTo(c.serverSocket, reset);
    CloseServerSocket(c);
    CloseClientSocket(c);
    c.clientToServer.Release();
    RemoveConnection(c);
}

void RelayEngine::FinishDisconnectClient(Connection& c, bool reset) {
    if (reset) {
        MarkEnded(c, ConnectionState::Reset);
    }
    AddCount(Counter::SCBuffered, scBuffered_, -c.serverToClient.length);
    c.serverToClient.Release();
    log_.Capture().SideEnded(c.capture, log::CaptureSide::Server, reset || c.endedByReset);
    CloseDrainedTo(c.clientSocket, reset);
    CloseClientSocket(c);
    CloseServerSocket(c);
    log_.LogConnectionMessage(c.Tag(), "Disconnected from Client");
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

// What the side that has ended still sends (or the end it meets again) changes nothing: its
// socket is only kept open, and read so that its input does not pile up, until the end.
int RelayEngine::DiscardFromEndedSide(platform::SOCKET s) {
    char scrap[4096];
    platform::recv(s, scrap, static_cast<int>(sizeof scrap), 0);
    return 0;
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
    platform::KillTimer(this, kDrainTimer);
    drainTimerSet_ = false;
    drainingHead_ = nullptr;  // the Connections go below
    acceptHeldBack_ = false;
    acceptFailureLogged_ = false;
    acceptRetryMs_ = 0;
    // Newest first; nothing pending is sent. A draining Connection logs only the closing
    // line of the side it still had.
    while (Connection* c = connections_.Head()) {
        CloseClientSocket(*c);
        if (c->draining != Draining::ToServer) {
            log_.LogConnectionMessage(c->Tag(), "Disconnected from Client");
        }
        c->clientToServer.Release();
        CloseServerSocket(*c);
        if (c->connected && c->draining != Draining::ToClient) {
            log_.LogConnectionMessage(c->Tag(), "Disconnected from Server");
        }
        c->serverToClient.Release();
        QueueEndedRow(*c);
        connections_.Remove(c);
    }
    connectionCount_ = 0;
    ShowCount(Counter::Connections, 0);
    scBuffered_ = 0;
    ShowCount(Counter::SCBuffered, 0);
    csBuffered_ = 0;
    ShowCount(Counter::CSBuffered, 0);
    ReportConnections();  // the last rows at once, before the view is told the relay stopped
    platform::KillTimer(this, kConnectionViewTimer);
    connectionViewTimerSet_ = false;
    log_.Capture().Close();  // before the Log File, which takes a failed write's line
    log_.Streams().Close();
    if (log_.File().IsOpen()) {
        log_.File().CloseLogFile();
    }
    SetRunningState(false);
}

}  // namespace corvane::relay
