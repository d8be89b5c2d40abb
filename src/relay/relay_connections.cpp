// The list of Connections as the engine reports it (relay/connection_view.h): each
// Connection's row, its live state, how it ended, and the batches handed to the view once
// per tick. Nothing here runs per block but Passed, the one point where bytes handed to send
// are recorded: the Capture File's segment, a count, and the kept streams when they are open.
#include <algorithm>
#include <chrono>

#include "log/traffic_log.h"
#include "relay/address_text.h"
#include "relay/relay_engine.h"

namespace corvane::relay {

namespace {

std::int64_t SteadyMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

std::string TlsText(const Connection& c) {
    if (c.clientTls.empty() || c.serverTls.empty() || c.clientTls == c.serverTls) {
        return c.clientTls.empty() ? c.serverTls : c.clientTls;
    }
    return c.clientTls + " / " + c.serverTls;
}

}  // namespace

std::string_view StateText(ConnectionState state) {
    switch (state) {
        case ConnectionState::Connecting:
            return "Connecting";
        case ConnectionState::Open:
            return "Open";
        case ConnectionState::ClientFinished:
            return "Client finished";
        case ConnectionState::ServerFinished:
            return "Server finished";
        case ConnectionState::Draining:
            return "Draining";
        case ConnectionState::Paused:
            return "Paused";
        case ConnectionState::Closed:
            return "Closed";
        case ConnectionState::Reset:
            return "Reset";
        case ConnectionState::Failed:
            return "Failed";
    }
    return "";
}

void RelayEngine::SetConnectionView(ConnectionView* view) {
    connectionView_ = view;
    endedRows_.clear();
    droppedStreams_.clear();
    if (view != nullptr) {
        log_.Streams().SetDropReport([this](log::ConnectionSerial serial) {
            droppedStreams_.push_back(serial);
            WatchConnections();
        });
    } else {
        log_.Streams().SetDropReport(nullptr);
    }
    for (Connection* c = connections_.Head(); c != nullptr; c = c->next) {
        c->reported = {};
    }
    if (view == nullptr) {
        platform::KillTimer(this, kConnectionViewTimer);
        connectionViewTimerSet_ = false;
    } else if (connections_.Head() != nullptr) {
        WatchConnections();
    }
}

ConnectionState RelayEngine::LiveState(const Connection& c) const {
    if (!c.connected) {
        return ConnectionState::Connecting;
    }
    if (c.draining != Draining::None) {
        return ConnectionState::Draining;
    }
    if (Paused()) {
        return ConnectionState::Paused;
    }
    if (c.halfClosed.clientFinished) {
        return ConnectionState::ClientFinished;
    }
    if (c.halfClosed.serverFinished) {
        return ConnectionState::ServerFinished;
    }
    return ConnectionState::Open;
}

ConnectionRow RelayEngine::RowOf(const Connection& c, ConnectionState state) const {
    ConnectionRow row;
    row.serial = c.serial;
    row.number = c.number;
    row.client = PeerText(c.clientAddress);
    platform::SocketAddress server = remoteAddress_;
    server.port = platform::htons(RemotePortNumber);
    row.server = PeerText(server);
    row.state = state;
    row.startedMs = c.startedMs;
    row.durationMs = SteadyMs() - c.startedSteadyMs;
    row.clientToServer = c.passedToServer;
    row.serverToClient = c.passedToClient;
    row.buffered = static_cast<std::int64_t>(c.clientToServer.length) + c.serverToClient.length;
    row.tls = TlsText(c);
    return row;
}

std::vector<ConnectionRow> RelayEngine::LiveConnectionRows() const {
    std::vector<ConnectionRow> rows;
    for (const Connection* c = connections_.Head(); c != nullptr; c = c->next) {
        rows.push_back(RowOf(*c, LiveState(*c)));
    }
    return rows;
}

void RelayEngine::MarkEnded(Connection& c, ConnectionState state) {
    if (!c.endMarked) {
        c.endState = state;
        c.endMarked = true;
    }
}

void RelayEngine::MarkEndedBy(Connection& c, int error) {
    if (error == platform::WSAECONNRESET) {
        MarkEnded(c, ConnectionState::Reset);
    } else if (error != 0) {
        MarkEnded(c, ConnectionState::Failed);
    }
}

void RelayEngine::QueueEndedRow(const Connection& c) {
    if (connectionView_ == nullptr) {
        return;
    }
    // Also for a Connection that ended before any tick showed it. It holds nothing any more:
    // what it still held has been delivered or dropped.
    endedRows_.push_back(RowOf(c, c.endState));
    endedRows_.back().buffered = 0;
    WatchConnections();
}

void RelayEngine::WatchConnections() {
    if (connectionView_ != nullptr && !connectionViewTimerSet_) {
        connectionViewTimerSet_ =
            platform::SetTimer(this, kConnectionViewTimer, kConnectionViewMs) != 0;
    }
}

void RelayEngine::OnConnectionViewTimer() {
    ReportConnections();
    if (connections_.Head() == nullptr && endedRows_.empty() && droppedStreams_.empty()) {
        platform::KillTimer(this, kConnectionViewTimer);
        connectionViewTimerSet_ = false;
    }
}

void RelayEngine::ReportConnections() {
    if (connectionView_ == nullptr) {
        return;
    }
    std::vector<ConnectionRow> rows = std::move(endedRows_);
    endedRows_.clear();
    for (Connection* c = connections_.Head(); c != nullptr; c = c->next) {
        const ConnectionState state = LiveState(*c);
        const std::int64_t buffered =
            static_cast<std::int64_t>(c->clientToServer.length) + c->serverToClient.length;
        Connection::Reported& r = c->reported;
        const std::size_t tlsLength = c->clientTls.size() + c->serverTls.size();
        if (r.shown && r.state == state && r.passedToServer == c->passedToServer &&
            r.passedToClient == c->passedToClient && r.buffered == buffered &&
            r.tlsLength == tlsLength) {
            continue;
        }
        r = {true, state, c->passedToServer, c->passedToClient, buffered, tlsLength};
        rows.push_back(RowOf(*c, state));
    }
    if (rows.empty() && droppedStreams_.empty()) {
        return;
    }
    std::sort(rows.begin(), rows.end(),
              [](const ConnectionRow& a, const ConnectionRow& b) { return a.serial < b.serial; });
    const std::vector<log::ConnectionSerial> dropped = std::move(droppedStreams_);
    droppedStreams_.clear();
    connectionView_->ShowConnections({rows, dropped});
}

void RelayEngine::Passed(Connection& c, log::CaptureSide from, const char* bytes, int n) {
    log_.Capture().Block(c.capture, from, bytes, n);
    const bool toServer = from == log::CaptureSide::Client;
    (toServer ? c.passedToServer : c.passedToClient) += n;
    log::StreamStore& streams = log_.Streams();
    if (streams.IsOpen()) {
        streams.Passed(c.serial,
                       toServer ? log::StreamDirection::ToServer : log::StreamDirection::ToClient,
                       bytes, static_cast<std::size_t>(n));
    }
}

}  // namespace corvane::relay
