// From Start to connected Connections: the Remote Host, the Local Port, accepting Clients
// and connecting each to the Server.
#include <sys/socket.h>  // SOMAXCONN

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

#include "log/traffic_log.h"
#include "platform/memory.h"
#include "relay/address_text.h"
#include "relay/relay_engine.h"
#include "relay/socket_error_text.h"

namespace corvane::relay {

using platform::INVALID_SOCKET;
using platform::SOCKET;

namespace {

constexpr long kClientEvents = platform::FD_READ | platform::FD_WRITE | platform::FD_CLOSE;
constexpr long kServerEvents =
    platform::FD_READ | platform::FD_WRITE | platform::FD_CONNECT | platform::FD_CLOSE;

// The first retry after the descriptors ran out, and the longest wait between retries: short
// enough that a freed descriptor is used soon, long enough that waiting costs nothing.
constexpr unsigned kAcceptRetryFirstMs = 5;
constexpr unsigned kAcceptRetryLongestMs = 160;

// The first blocks of the Channels of 1,024 Connections at once (16 MiB), made ready when
// relaying begins: a burst of Clients then takes storage whose pages are there already
// instead of faulting in two fresh pages per Connection (platform/memory.h).
constexpr std::size_t kReservedChannelBlocks = 2048;

bool IsUnspecifiedIPv6(const platform::SocketAddress& a) {
    static constexpr std::uint8_t kAny[16] = {};
    return a.family == platform::AF_INET6_ && std::memcmp(a.address6, kAny, sizeof kAny) == 0;
}

void SetConnectionOptions(SOCKET s) {
    const int dontLinger = 0;  // lingering on, with the platform's default interval
    platform::setsockopt(s, platform::SOL_SOCKET_, platform::SO_DONTLINGER, &dontLinger,
                         sizeof dontLinger);
    const int noDelay = 1;
    platform::setsockopt(s, platform::IPPROTO_TCP_, platform::TCP_NODELAY_, &noDelay,
                         sizeof noDelay);
}

}  // namespace

bool RelayEngine::BeginRelay(const std::string& remoteHost) {
    const bool tlsReady = tlsPrepared_ || PrepareTls(remoteHost);
    tlsPrepared_ = false;
    LogTlsPreparation();
    if (!tlsReady) {
        return false;
    }
    platform::ReserveBlocks(kChannelInitialSize, kReservedChannelBlocks);
    remoteAddress_ = platform::SocketAddress{platform::inet_addr(remoteHost.c_str()), 0};
    // An IPv6 address is taken as it stands too; only a name is looked up.
    if (remoteAddress_.address == platform::INADDR_NONE_ &&
        !ParseIPv6Address(remoteHost, remoteAddress_)) {
        log_.LogMessage("Resolving Remote Host");
        remoteLookupRequest_ = platform::WSAAsyncGetHostByName(
            this, platform::WM_APP, remoteHost.c_str(), &remoteLookupResult_);
        if (remoteLookupRequest_ == 0) {
            log_.LogError(SocketErrorText(platform::WSAGetLastError()));
            return false;
        }
        localPortSocket_ = INVALID_SOCKET;
        return true;
    }
    remoteLookupRequest_ = 0;
    return OpenLocalPort();
}

SOCKET RelayEngine::OpenDualStackPort(int& error) {
    error = 0;
    const SOCKET s = platform::socket(platform::AF_INET6_, platform::SOCK_STREAM_, 0);
    if (s == INVALID_SOCKET) {
        return INVALID_SOCKET;
    }
    const int v6Only = 0;
    platform::SocketAddress any;
    any.family = platform::AF_INET6_;
    any.port = platform::htons(LocalPortNumber);
    if (platform::setsockopt(s, platform::IPPROTO_IPV6_, platform::IPV6_V6ONLY_, &v6Only,
                             sizeof v6Only) != 0) {
        platform::closesocket(s);
        return INVALID_SOCKET;
    }
    if (platform::bind(s, any) != 0) {
        // A port in use stays the failure it is; anything else means no usable IPv6.
        const int bindError = platform::WSAGetLastError();
        platform::closesocket(s);
        if (bindError == platform::WSAEADDRINUSE) {
            error = bindError;
        }
        return INVALID_SOCKET;
    }
    return s;
}

bool RelayEngine::OpenLocalPort() {
    int error = 0;
    platform::SocketAddress at{platform::INADDR_ANY_, platform::htons(LocalPortNumber)};
    const bool everyInterface = ListenAddress.empty();
    if (!everyInterface && !ParseAddress(ListenAddress, at)) {
        error = platform::WSAEINVAL;  // Start lets no such address through
    }
    at.port = platform::htons(LocalPortNumber);
    SOCKET s = everyInterface ? OpenDualStackPort(error) : INVALID_SOCKET;
    platform::SocketAddress bound;
    // "::" takes IPv4 Clients too, whatever the machine's default for IPv6 sockets is.
    const bool bothFamilies = !everyInterface && IsUnspecifiedIPv6(at);
    const int v6Only = 0;
    if (s != INVALID_SOCKET || error != 0) {
        // bound on every interface already, or failed
    } else if ((s = platform::socket(at.family, platform::SOCK_STREAM_, 0)) == INVALID_SOCKET) {
        error = platform::WSAGetLastError();
    } else if (bothFamilies &&
               platform::setsockopt(s, platform::IPPROTO_IPV6_, platform::IPV6_V6ONLY_, &v6Only,
                                    sizeof v6Only) != 0) {
        error = platform::WSAGetLastError();
    } else if (platform::bind(s, at) != 0) {
        error = platform::WSAGetLastError();
    }
    if (error != 0) {
        // reported below
    } else if (platform::listen(s, SOMAXCONN) != 0) {
        // The longest backlog: one of 5 would turn Clients away under any burst.
        error = platform::WSAGetLastError();
    } else if (LocalPortNumber == 0 && platform::getsockname(s, bound) != 0) {
        error = platform::WSAGetLastError();
    } else if (platform::WSAAsyncSelect(s, this, platform::WM_APP, platform::FD_ACCEPT) != 0) {
        error = platform::WSAGetLastError();
    }
    if (error != 0) {
        if (s != INVALID_SOCKET) {
            platform::closesocket(s);
        }
        localPortSocket_ = INVALID_SOCKET;
        log_.LogError("Could not open Local Port");
        log_.LogError(SocketErrorText(error));
        return false;
    }
    if (LocalPortNumber == 0) {
        LocalPortNumber = platform::ntohs(bound.port);
    }
    localPortSocket_ = s;
    char line[40];
    std::snprintf(line, sizeof line, "Local Port (%d) opened", static_cast<int>(LocalPortNumber));
    log_.LogMessage(line);
    if (bothFamilies) {
        log_.LogInform("Listening on :: (IPv6 and IPv4)");
    } else if (!everyInterface) {
        log_.LogInform(("Listening on " + ScopedAddressText(at) + " only").c_str());
    }
    log_.LogMessage("Waiting for connections");
    return true;
}

void RelayEngine::OnRemoteLookup(int error) {
    if (error != 0) {
        log_.LogError(SocketErrorText(error));
        StopRelay();
        return;
    }
    remoteAddress_ = FromHostEntry(remoteLookupResult_);
    log_.LogMessage(("Remote Host resolved to " + AddressText(remoteAddress_)).c_str());
    if (!OpenLocalPort()) {
        StopRelay();
    }
}

void RelayEngine::AcceptClient() {
    if (acceptHeldBack_ || localPortSocket_ == INVALID_SOCKET) {
        return;  // the retry timer accepts next
    }
    platform::SocketAddress peer;
    const SOCKET s = platform::accept(localPortSocket_, &peer);
    if (s == INVALID_SOCKET) {
        const int error = platform::WSAGetLastError();
        if (error == platform::WSAEWOULDBLOCK) {
            return;
        }
        const bool outOfDescriptors = error == platform::WSAEMFILE || error == platform::WSAENOBUFS;
        if (!outOfDescriptors || !acceptFailureLogged_) {
            log_.LogInform("Could not accept connection from Client");
            log_.LogInform(SocketErrorText(error));
        }
        if (outOfDescriptors) {
            // The Client stays pending and accept would fail again at once: wait a little,
            // with established Connections relaying meanwhile, and log the episode once.
            acceptFailureLogged_ = true;
            HoldBackAccepting();
        }
        return;
    }
    // The serial is taken even when the Client is dropped at once: its lines are its own.
    const log::ConnectionTag tag{s, ++lastSerial_};
    log_.LogConnectionMessage(tag, ("Client connected; " + PeerText(peer)).c_str());

    if (platform::WSAAsyncSelect(s, this, platform::WM_APP,
                                 kClientEvents | (ClientTls() ? platform::FD_TLS : 0)) != 0) {
        const int error = platform::WSAGetLastError();
        log_.LogConnectionInform(tag, "WSAAsyncSelect() failed");
        log_.LogConnectionInform(tag, SocketErrorText(error));
        platform::closesocket(s);
        log_.LogConnectionMessage(tag, "Disconnected from Client");
        return;
    }
    std::unique_ptr<Connection> c(new (std::nothrow) Connection);
    if (c == nullptr || c->clientToServer.Resize(kChannelInitialSize) < 0) {
        log_.LogConnectionInform(tag, "Out of memory");
        platform::closesocket(s);
        log_.LogConnectionMessage(tag, "Disconnected from Client");
        return;
    }
    c->clientSocket = s;
    c->number = tag.number;
    c->serial = tag.serial;
    c->clientAddress = peer;
    c->startedMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                       std::chrono::system_clock::now().time_since_epoch())
                       .count();
    c->startedSteadyMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                             std::chrono::steady_clock::now().time_since_epoch())
                             .count();
    if (!ConnectToServer(*c)) {
        const int error = platform::WSAGetLastError();
        platform::closesocket(s);
        c->clientSocket = INVALID_SOCKET;
        log_.LogConnectionMessage(tag, "Disconnected from Client");
        if (error == platform::WSAEMFILE || error == platform::WSAENOBUFS) {
            // No descriptor for the Server's side: the next waiting Client would be accepted
            // only to be dropped the same way. Hold back as after a failed accept; this
            // Client's lines have logged the episode.
            acceptFailureLogged_ = true;
            HoldBackAccepting();
        }
        return;  // the record and its storage go with c
    }
    acceptFailureLogged_ = false;
    acceptRetryMs_ = 0;
    c->DumpMode = HexOnly != 0 ? kDumpHex : kDumpUndecided;
    c->httpRequestSeen = 0;
    Connection& added = *c;
    connections_.PutAtHead(std::move(c));
    SetConnectionOptions(s);
    AddCount(Counter::Connections, connectionCount_, 1);
    WatchConnections();
    if (log_.Streams().IsOpen()) {
        platform::SocketAddress server = remoteAddress_;
        server.port = platform::htons(RemotePortNumber);
        log_.Streams().Begin(added.serial, added.number, PeerText(peer), PeerText(server),
                             added.startedMs * 1000);
    }
    if (ClientTls()) {
        AttachClientTls(added);
    }
}

bool RelayEngine::ConnectToServer(Connection& c) {
    log_.LogConnectionMessage(c.Tag(), "Connecting to Server");
    const SOCKET s = platform::socket(remoteAddress_.family, platform::SOCK_STREAM_, 0);
    if (s == INVALID_SOCKET) {
        log_.LogConnectionInform(c.Tag(), SocketErrorText(platform::WSAGetLastError()));
        return false;
    }
    int error = 0;
    platform::SocketAddress server = remoteAddress_;
    server.port = platform::htons(RemotePortNumber);
    if (platform::WSAAsyncSelect(s, this, platform::WM_APP,
                                 kServerEvents | (ServerTls() ? platform::FD_TLS : 0)) != 0) {
        error = platform::WSAGetLastError();
    } else if (platform::connect(s, server) != 0) {
        error = platform::WSAGetLastError();
        if (error == platform::WSAEWOULDBLOCK) {
            error = 0;  // under way; FD_CONNECT tells how it ends
        }
    }
    if (error != 0) {
        log_.LogConnectionInform(c.Tag(), SocketErrorText(error));
        platform::closesocket(s);
        return false;
    }
    c.serverSocket = s;
    SetConnectionOptions(s);
    c.connected = false;
    return true;
}

void RelayEngine::OnServerConnect(Connection& c, int error) {
    if (error != 0) {
        log_.LogConnectionInform(c.Tag(), "Could not connect to Server");
        log_.LogConnectionInform(c.Tag(), SocketErrorText(error));
        EndConnecting(c);
        return;
    }
    log_.LogConnectionMessage(c.Tag(), "Connected to Server");
    c.connected = true;
    if (c.serverToClient.Resize(kChannelInitialSize) < 0) {
        log_.LogConnectionInform(c.Tag(), "Out of memory");
        EndConnecting(c);
        return;
    }
    if (ServerTls() && !AttachServerTls(c)) {
        return;
    }
    platform::SocketAddress server = remoteAddress_;
    server.port = platform::htons(RemotePortNumber);
    log_.Capture().Connected(c.capture, c.clientAddress, server);
    SendToServer(c);  // what the Client sent meanwhile goes to the capture as it goes out
}

// Ends a Connection whose connect failed or that got no Server-to-Client storage.
void RelayEngine::EndConnecting(Connection& c) {
    MarkEnded(c, ConnectionState::Failed);
    CloseServerSocket(c);
    AddCount(Counter::CSBuffered, csBuffered_, -c.clientToServer.length);
    c.clientToServer.Release();
    CloseClientSocket(c);
    log_.LogConnectionMessage(c.Tag(), "Disconnected from Client");
    RemoveConnection(c);
}

void RelayEngine::HoldBackAccepting() {
    acceptHeldBack_ = true;
    acceptRetryMs_ = acceptRetryMs_ == 0 ? kAcceptRetryFirstMs
                                         : std::min(2 * acceptRetryMs_, kAcceptRetryLongestMs);
    platform::SetTimer(this, kAcceptRetryTimer, acceptRetryMs_);
}

void RelayEngine::OnAcceptRetryTimer() {
    platform::KillTimer(this, kAcceptRetryTimer);
    if (!acceptHeldBack_) {
        return;
    }
    acceptHeldBack_ = false;
    if (running_) {
        AcceptClient();  // calling accept again also re-arms FD_ACCEPT
    }
}

}  // namespace corvane::relay
