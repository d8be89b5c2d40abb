// The engine's state, the socket message dispatch, the counters and the list bookkeeping.
#include "relay/relay_engine.h"

#include <limits>
#include <utility>

#include "log/traffic_log.h"
#include "platform/tls_context.h"
#include "relay/address_text.h"
#include "relay/show_count.h"

namespace corvane::relay {

using platform::SOCKET;

RelayEngine::RelayEngine(log::TrafficLog& log, RelayView& view) : log_(log), view_(view) {}

RelayEngine::~RelayEngine() {
    log_.Streams().SetDropReport(nullptr);
    CloseEverythingQuietly();
}

void RelayEngine::HandleMessage(platform::UINT msg, platform::WPARAM wParam,
                                platform::LPARAM lParam) {
    if (msg == platform::WM_APP) {
        OnSocketMessage(wParam, lParam);
    } else if (msg == platform::WM_TIMER && wParam == kAcceptRetryTimer) {
        OnAcceptRetryTimer();
    } else if (msg == platform::WM_TIMER && wParam == kDrainTimer) {
        OnDrainTimer();
    } else if (msg == platform::WM_TIMER && wParam == kConnectionViewTimer) {
        OnConnectionViewTimer();
    }
}

void RelayEngine::SetRemoteTexts(std::string host, std::string port) {
    // An IPv6 address names a host in a "Host: " line in brackets; a name has no colon.
    if (host.find(':') != std::string::npos && host.front() != '[') {
        host = "[" + host + "]";
    }
    remoteHostText_ = std::move(host);
    remotePortText_ = std::move(port);
}

bool RelayEngine::Paused() const {
    return log_.Paused();
}

void RelayEngine::SetRunningState(bool running) {
    view_.ShowRunningState(running);
    running_ = running;
}

void RelayEngine::ZeroTransferred() {
    scTransferred_ = 0;
    ShowCount(Counter::SCTransferred, 0);
    csTransferred_ = 0;
    ShowCount(Counter::CSTransferred, 0);
}

void RelayEngine::OnSocketMessage(platform::WPARAM wParam, platform::LPARAM lParam) {
    // The local look-up's answer is taken whether or not the relay is running.
    if (localLookupRequest_ != 0 && wParam == localLookupRequest_) {
        localLookupRequest_ = 0;
        OnLocalLookup(platform::WSAGETASYNCERROR(lParam));
        return;
    }
    if (!running_) {
        return;
    }
    if (remoteLookupRequest_ != 0 && wParam == remoteLookupRequest_) {
        remoteLookupRequest_ = 0;
        OnRemoteLookup(platform::WSAGETASYNCERROR(lParam));
        return;
    }
    // Look-up handles lie above every descriptor; a stray one must not alias a socket.
    if (wParam > static_cast<platform::WPARAM>(std::numeric_limits<SOCKET>::max())) {
        return;
    }
    const auto s = static_cast<SOCKET>(wParam);
    const int error = platform::WSAGETSELECTERROR(lParam);
    switch (platform::WSAGETSELECTEVENT(lParam)) {
        case platform::FD_READ: {
            if (Paused()) {
                return;  // Resume reads every Connection once
            }
            Connection* c = FindConnection(s);
            if (c == nullptr) {
                return;
            }
            if (s == c->clientSocket) {
                ReadFromClient(*c);
            } else {
                ReadFromServer(*c);
            }
            return;
        }
        case platform::FD_WRITE: {
            Connection* c = FindConnection(s);
            if (c == nullptr) {
                return;
            }
            if (s == c->clientSocket) {
                SendToClient(*c);
            } else {
                SendToServer(*c);
            }
            return;
        }
        case platform::FD_ACCEPT:
            AcceptClient();
            return;
        case platform::FD_CONNECT: {
            Connection* c = FindConnection(s);
            if (c != nullptr && s == c->serverSocket) {
                OnServerConnect(*c, error);
            }
            return;
        }
        case platform::FD_TLS: {
            // Taken while paused too: it only logs, or ends the Connection.
            Connection* c = FindConnection(s);
            if (c != nullptr) {
                OnTlsHandshake(*c, s, error);
            }
            return;
        }
        case platform::FD_CLOSE: {
            if (Paused()) {
                return;  // met as a closed read at Resume
            }
            Connection* c = FindConnection(s);
            if (c != nullptr) {
                OnSocketClose(*c, s, error);
            }
            return;
        }
        default:
            return;
    }
}

void RelayEngine::ReadAllConnections() {
    Connection* next = nullptr;
    for (Connection* c = connections_.Head(); c != nullptr; c = next) {
        next = c->next;  // the reads may end and remove c
        // A socket whose connect is still under way has nothing to read; reading it would
        // only end the Connection with a failure the Server never caused.
        if (ReadFromClient(*c) >= 0 && c->connected) {
            ReadFromServer(*c);
        }
    }
}

bool RelayEngine::StartLocalLookup() {
    char name[64] = {};
    if (platform::gethostname(name, static_cast<int>(sizeof name)) != 0) {
        return false;
    }
    name[sizeof name - 1] = '\0';
    localLookupRequest_ =
        platform::WSAAsyncGetHostByName(this, platform::WM_APP, name, &localLookupResult_);
    return localLookupRequest_ != 0;
}

void RelayEngine::CancelLocalLookup() {
    if (localLookupRequest_ != 0) {
        platform::WSACancelAsyncRequest(localLookupRequest_);
        localLookupRequest_ = 0;
    }
}

void RelayEngine::OnLocalLookup(int error) {
    view_.ShowLocalAddress(error != 0 ? std::string("127.0.0.1")
                                      : AddressText(FromHostEntry(localLookupResult_)));
}

void RelayEngine::ShowCount(Counter counter, std::int64_t value) {
    view_.ShowCounter(counter, FormatCount(value).View());
}

void RelayEngine::AddCount(Counter counter, std::int64_t& field, std::int64_t delta) {
    if (delta != 0) {
        field += delta;
        ShowCount(counter, field);
    }
}

void RelayEngine::CloseClientSocket(Connection& c) {
    if (c.clientSocket != platform::INVALID_SOCKET) {
        connections_.Forget(c.clientSocket);
        platform::closesocket(c.clientSocket);
        c.clientSocket = platform::INVALID_SOCKET;
    }
}

void RelayEngine::CloseServerSocket(Connection& c) {
    if (c.serverSocket != platform::INVALID_SOCKET) {
        connections_.Forget(c.serverSocket);
        platform::closesocket(c.serverSocket);
        c.serverSocket = platform::INVALID_SOCKET;
    }
}

void RelayEngine::RemoveConnection(Connection& c) {
    if (c.draining != Draining::None) {
        EndDraining(c);
    }
    if (c.conditions != nullptr) {
        CancelConditionSlots(c);
    }
    QueueEndedRow(c);
    if (log_.Streams().IsOpen()) {
        log_.Streams().End(c.serial);
    }
    connections_.Remove(&c);  // the record is freed here
    AddCount(Counter::Connections, connectionCount_, -1);
}

void RelayEngine::CloseEverythingQuietly() {
    platform::KillTimer(this, kAcceptRetryTimer);
    platform::KillTimer(this, kDrainTimer);
    drainTimerSet_ = false;
    drainingHead_ = nullptr;
    dueHeap_.Clear();
    dueTimer_.Disarm();
    platform::KillTimer(this, kConnectionViewTimer);
    connectionViewTimerSet_ = false;
    CancelLocalLookup();
    if (remoteLookupRequest_ != 0) {
        platform::WSACancelAsyncRequest(remoteLookupRequest_);
        remoteLookupRequest_ = 0;
    }
    if (localPortSocket_ != platform::INVALID_SOCKET) {
        platform::closesocket(localPortSocket_);
        localPortSocket_ = platform::INVALID_SOCKET;
    }
    while (Connection* c = connections_.Head()) {
        CloseClientSocket(*c);
        CloseServerSocket(*c);
        connections_.Remove(c);
    }
    platform::DiscardMessages(this);
}

}  // namespace corvane::relay
