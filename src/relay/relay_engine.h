// The relay engine: the Local Port, the Connections and their counters, driven by the socket
// message. It reaches the window only through RelayView and logs only through TrafficLog.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "log/log_kind.h"
#include "platform/due_timer.h"
#include "platform/messages.h"
#include "platform/winsock.h"
#include "relay/conditions/conditions.h"
#include "relay/conditions/due_heap.h"
#include "relay/conditions/random.h"
#include "relay/connection.h"
#include "relay/connection_list.h"
#include "relay/connection_view.h"
#include "relay/relay_view.h"

namespace corvane::log {
class TrafficLog;
}
namespace corvane::platform {
class TlsContext;
}

namespace corvane::relay {

// Above this many bytes held in one Channel, the relay stops reading that Channel's source
// until it has drained below half of it; TCP's flow control then holds the source back.
constexpr std::int32_t kDefaultHighWaterMark = 1 << 20;

// The sides on which the relay ends TLS and sees the plain bytes: the Client's (it presents
// a certificate to Clients), the Server's (it talks TLS to the Server), or both.
enum class TlsMode : std::uint8_t { None = 0, Client = 1, Server = 2, Both = 3 };

// The timer on the engine that retries accepting after the descriptors ran out.
constexpr std::uintptr_t kAcceptRetryTimer = 2;

// A drain that moves no byte for this long ends its Connection as the final attempt would:
// a peer that neither reads nor closes must not hold a Connection open until Stop.
constexpr std::int32_t kDefaultDrainTimeoutMs = 30000;
// The timer on the engine that ends stalled drains; it runs only while some Connection drains.
constexpr std::uintptr_t kDrainTimer = 3;
// A TLS handshake not done in this time fails ("handshake timed out"), so that a peer that
// sends half a hello, or never answers, does not hold a Connection for as long as it likes.
constexpr std::int32_t kDefaultTlsHandshakeTimeoutMs = 30000;
// The timer on the engine that hands the Connections' changes to the ConnectionView; it runs
// only while a view is set and some Connection is live or a change waits.
constexpr std::uintptr_t kConnectionViewTimer = 4;
constexpr platform::UINT kConnectionViewMs = 200;

class RelayEngine final : public platform::MessageTarget {
public:
    RelayEngine(log::TrafficLog& log, RelayView& view);
    // Closes whatever is still open without logging and drops the messages still queued.
    virtual ~RelayEngine();
    RelayEngine(const RelayEngine&) = delete;
    RelayEngine& operator=(const RelayEngine&) = delete;

    // WM_APP goes to OnSocketMessage; WM_TIMER of kAcceptRetryTimer retries accepting, that of
    // kDrainTimer ends the drains that stalled, that of kConnectionViewTimer reports the
    // Connections' changes.
    void HandleMessage(platform::UINT msg, platform::WPARAM wParam,
                       platform::LPARAM lParam) override;

    // --- Settings that Start sets before BeginRelay -------------------------------------
    std::uint16_t LocalPortNumber = 0;  // 0: any free port, replaced by the port bound
    std::uint16_t RemotePortNumber = 0;
    std::uint32_t HexOnly = 0;  // read when a Client is accepted
    // The address the Local Port is bound to: empty for every interface (IPv6 and IPv4 on
    // one socket where the machine has IPv6), else a numeric address that Start has checked.
    std::string ListenAddress;
    // A peer's orderly close ends only its direction (relay_half_close.cpp); read as the
    // close comes.
    bool HalfClose = false;
    // TLS: None leaves every path as it is. The certificate and key are PEM files; both
    // empty means the self-signed pair in TlsStateDir (made there at first use). TlsVerify
    // checks the Server's certificate against the system's store and the Remote Host.
    TlsMode Tls = TlsMode::None;
    std::string TlsCertFile;
    std::string TlsKeyFile;
    std::string TlsStateDir;
    bool TlsVerify = false;
    // Tunable for tests; kDefaultTlsHandshakeTimeoutMs otherwise. Read as each session begins.
    std::int32_t TlsHandshakeTimeoutMs = kDefaultTlsHandshakeTimeoutMs;
    // Tunable for tests and benchmarks; kDefaultHighWaterMark otherwise.
    std::int32_t HighWaterMark = kDefaultHighWaterMark;
    // Tunable for tests; kDefaultDrainTimeoutMs otherwise. Read whenever the drain timer is set.
    std::int32_t DrainTimeoutMs = kDefaultDrainTimeoutMs;
    // The Remote Host and Remote Port texts as typed: the values of the rewritten "Host: "
    // line, used whole whatever their length.
    void SetRemoteTexts(std::string host, std::string port);

    // --- Network Conditions (relay_conditions.cpp) ------------------------------------
    // Replaces the set in force, whole. While stopped it is only kept: BeginRelay seeds the
    // run's generator with its seed (or one drawn then) and, when any condition is on, logs
    // "Conditions: <the set> -seed N" (Inform). While relaying it logs "Conditions now: ..."
    // ("Conditions now: off" for none) and applies at once: Latency, Bandwidth, Slicing and
    // Loss to every live Connection that Share did not leave out, from its next block, and
    // the Stall to them too (measured from the Client's connect, or from this change for a
    // Connection the conditions did not apply to before); Data limit, Connect delay, End
    // after, Slow close and Share to new Connections, Refuse to new Clients (the ones held
    // in the backlog are taken when holding ends). The seed is read at BeginRelay only.
    void ReplaceConditions(const Conditions& set);
    const Conditions& ConditionsInForce() const { return conditions_; }
    // The run's seed, set by BeginRelay.
    std::uint64_t ConditionsSeed() const { return seed_; }

    // --- State --------------------------------------------------------------------------
    platform::SOCKET LocalPortSocket() const { return localPortSocket_; }
    const platform::SocketAddress& RemoteAddress() const { return remoteAddress_; }
    platform::HANDLE RemoteLookupRequest() const { return remoteLookupRequest_; }
    platform::HANDLE LocalLookupRequest() const { return localLookupRequest_; }
    bool Running() const { return running_; }
    // The relay's paused flag, which lives in the traffic log (it also holds the view).
    bool Paused() const;
    Connection* ConnectionList() const { return connections_.Head(); }

    std::int64_t ConnectionCount() const { return connectionCount_; }
    std::int64_t CSTransferred() const { return csTransferred_; }
    std::int64_t CSBuffered() const { return csBuffered_; }
    std::int64_t SCTransferred() const { return scTransferred_; }
    std::int64_t SCBuffered() const { return scBuffered_; }

    // --- Commands -----------------------------------------------------------------------
    // Makes the TLS contexts of the sides that speak it (nothing to do with Tls None), so
    // that Start can do it before it opens any file: false when the certificate or key
    // cannot be had. The lines about them (the certificate with its fingerprint, a pair made
    // again, a key that others can read; or the failure) wait for LogTlsPreparation, which
    // BeginRelay calls once the Log File is open.
    bool PrepareTls(const std::string& remoteHost);
    void LogTlsPreparation();
    // Logs what PrepareTls found (preparing first when nobody did since the last
    // BeginRelay), then takes a dotted Remote Host at once (and opens the Local Port) or
    // starts its look-up. False when the relay cannot begin; the reason is in the log.
    bool BeginRelay(const std::string& remoteHost);
    // Cancels the look-up, closes the Local Port and every Connection without sending what
    // they hold, zeroes and shows the connection count and the Buffered counters, closes the
    // Log File and shows the stopped state.
    void StopRelay();
    // view.ShowRunningState(running), then Running = running.
    void SetRunningState(bool running);
    // Resume's reads: for every Connection in list order ReadFromClient and, unless that
    // ended it, ReadFromServer (skipped while the Server is not connected yet).
    void ReadAllConnections();
    // SCTransferred to 0 and shown, then CSTransferred.
    void ZeroTransferred();
    // gethostname, then the look-up of that name with the engine as target. False with the
    // last error set when it cannot start. The answer shows panel 1 (OnLocalLookup).
    bool StartLocalLookup();
    void CancelLocalLookup();

    // --- Socket events and the operations behind them -----------------------------------
    void OnSocketMessage(platform::WPARAM wParam, platform::LPARAM lParam);
    Connection* FindConnection(platform::SOCKET s) const { return connections_.Find(s); }

    bool OpenLocalPort();
    void OnRemoteLookup(int error);
    void OnLocalLookup(int error);
    void AcceptClient();
    bool ConnectToServer(Connection& c);
    void OnServerConnect(Connection& c, int error);

    // A negative result of these means the Connection has been ended and removed.
    int ReadFromClient(Connection& c);
    int ReadFromServer(Connection& c);
    int SendToServer(Connection& c);
    int SendToClient(Connection& c);

    // A peer's close (never while paused): the last read, the "... disconnected" line, and
    // the disconnect of the other side.
    void OnSocketClose(Connection& c, platform::SOCKET s, int error);
    // The Client side has ended (error: its socket error, or 0). What is pending for the
    // Server still goes out, on write notifications when it cannot all go at once; then the
    // Server is closed and the Connection removed (also once DrainTimeoutMs pass without a
    // byte going out). Before the connect completed, at once.
    void DisconnectServer(Connection& c, int error);
    // The Server side has ended: the same towards the Client.
    void DisconnectClient(Connection& c, int error);

    // --- The list of Connections (relay/connection_view.h, relay_connections.cpp) -------
    // Null (the default): nothing is collected and no timer runs. The view gets the rows of
    // the Connections live when it is set at the next tick.
    void SetConnectionView(ConnectionView* view);
    // The rows of the live Connections as of now, newest first (the terminal's table).
    std::vector<ConnectionRow> LiveConnectionRows() const;

    // --- Ending Connections on demand (relay_user_end.cpp) -------------------------------
    // Close: "N: Closed by user" (Inform); what is held either way is delivered, on write
    // notifications as a drain delivers it (DrainTimeoutMs applies), nothing more is read,
    // and then both peers are closed gracefully with "N: Disconnected from Server", as after
    // a Client's close. A Connection still connecting ends at once, as a Client's close
    // ends it then; one that drains already goes on as it is.
    // Reset: "N: Reset by user" (Inform); both peers are reset at once (no linger: RST),
    // what is held is dropped, and the closing lines are Stop's ("Disconnected from
    // Client", and "Disconnected from Server" when connected).
    // Serials of no live Connection are passed over. Returns how many were found.
    int CloseConnections(std::span<const log::ConnectionSerial> serials);
    int ResetConnections(std::span<const log::ConnectionSerial> serials);
    // The live Connection with this serial, or null.
    Connection* FindSerial(log::ConnectionSerial serial) const;

private:
    // force: the last read of a close, taken even above the high-water mark; a peer found
    // closed then gives 0 and leaves the report to OnSocketClose.
    int ReadFromClient(Connection& c, bool force);
    int ReadFromServer(Connection& c, bool force);
    // What the two directions differ in once a chunk is received (relay_data.cpp).
    struct Direction;
    struct Chunk;
    // A received chunk of n bytes behind before held ones: held (hold, or older bytes wait)
    // or sent on at once; logged and counted either way. direct: the chunk is in the direct
    // buffer, not in the Channel (relay_data.cpp).
    int PassOn(Connection& c, const Direction& d, Chunk& chunk, int n, std::int32_t before,
               bool hold, const char* direct);
    // The direct buffer, when a read into this Channel can be passed on at once: the Channel
    // is empty, without conditions, and its destination can take bytes. Null otherwise.
    char* DirectBufferFor(const Channel& channel, bool destinationReady);
    // One read from the Client's or the Server's socket: into the direct buffer (direct set)
    // or into the Channel. Channel::Receive's results.
    int ReceiveInto(Connection& c, Channel& channel, bool fromClient, char*& direct);
    // Moves a chunk read into the direct buffer into the (empty) Channel, for a path that
    // works there; direct becomes null.
    void KeepInChannel(Channel& channel, char*& direct, int n);
    // A read that gave no bytes: nothing waiting, or the end of the Connection's source side.
    int EndOfRead(Connection& c, const Direction& d, int n, int error, bool force);
    // Above this many bytes held in the Channel its source is not read until it has drained
    // below half: the high-water mark, or more for a link paced by conditions.
    std::int64_t HeldLimit(const Channel& channel) const {
        return channel.marks == nullptr ? HighWaterMark : ConditionedHeldLimit(channel);
    }
    std::int64_t ConditionedHeldLimit(const Channel& channel) const;
    // Passes on a Channel's held bytes towards socket `to`: all of them, or with conditions
    // what is due.
    int SendOn(Connection& c, Channel& channel, platform::SOCKET to, log::CaptureSide from) {
        return channel.marks == nullptr ? SendOn(c, channel, to, from, channel.length)
                                        : FlushDue(c, channel, to, from);
    }
    // Channel::Flush of the first count bytes on socket `to`; what it took has been passed on
    // (Passed) as bytes from side `from`.
    int SendOn(Connection& c, Channel& channel, platform::SOCKET to, log::CaptureSide from,
               std::int32_t count);
    int DrainToServer(Connection& c);
    int DrainToClient(Connection& c);
    // A Connection closed by the user (relay_user_end.cpp): sends what each side is owed;
    // once nothing is held either way, FinishClosing (-1).
    int DrainBoth(Connection& c);
    // The end of a close by the user: both peers closed, gracefully, or with reset (the
    // drain gave up) both reset at once.
    void FinishClosing(Connection& c, bool reset = false);
    void CloseByUser(Connection& c);
    void ResetByUser(Connection& c);
    // Ends c at once on the relay's own decision: reason as an Inform line, both sockets
    // closed (with reset: both reset, nothing held delivered, the Capture File's
    // conversation ended by a reset from side `from`), then the closing lines of the sides
    // still there, as Stop gives them.
    void EndBothNow(Connection& c, const char* reason, bool reset, log::CaptureSide from);
    int DiscardWhileDraining(Connection& c, platform::SOCKET s);
    int DiscardFromEndedSide(platform::SOCKET s);
    void BeginDraining(Connection& c, Draining side);
    void EndDraining(Connection& c);
    void SetDrainTimer(std::int64_t delayMs);
    void OnDrainTimer();
    // The end of a drain: the ended side's end is passed on and the Connection goes. reset:
    // the drain gave up, and the peer it drained to is reset (a hard close).
    void FinishDisconnectServer(Connection& c, bool reset = false);
    void FinishDisconnectClient(Connection& c, bool reset = false);
    void EndConnecting(Connection& c);
    void CloseClientSocket(Connection& c);
    void CloseServerSocket(Connection& c);
    void RemoveConnection(Connection& c);
    void CloseEverythingQuietly();
    // The Local Port's socket on every interface over IPv6 and IPv4 together, bound; or
    // INVALID_SOCKET with error 0 when the machine has no IPv6 (the IPv4 socket is used).
    platform::SOCKET OpenDualStackPort(int& error);

    // Half close (relay_half_close.cpp). clientSide: the Client's direction, else the
    // Server's. HalfCloseFinish takes a source's orderly close: 1 when the Connection goes on
    // with that direction ended, 0 when the close is to end it as usual, -1 when telling the
    // other peer failed and the Connection has ended.
    int HalfCloseFinish(Connection& c, bool clientSide);
    // True when the source's direction has ended already: nothing more is read from it, and
    // its close has been taken.
    static bool SourceFinished(const Connection& c, bool clientSide);
    // After a send towards the destination of a finished source: once nothing is held for
    // it, its sending side is shut down. -1 when that failed and the Connection has ended.
    int ShutdownWhenDelivered(Connection& c, bool clientSide);
    void OnAcceptRetryTimer();
    void HoldBackAccepting();

    // TLS (relay_tls.cpp): the sides that speak it, the contexts made at BeginRelay (the
    // certificate for Clients, the Server's verification), the sessions attached to a
    // Connection's sockets, and the handshakes' outcomes (FD_TLS).
    bool ClientTls() const { return Tls == TlsMode::Client || Tls == TlsMode::Both; }
    bool ServerTls() const { return Tls == TlsMode::Server || Tls == TlsMode::Both; }
    // False when the session could not be attached: the Connection has then been ended.
    bool AttachClientTls(Connection& c);
    bool AttachServerTls(Connection& c);
    void OnTlsHandshake(Connection& c, platform::SOCKET s, int error);
    // A side's orderly end, once its last read has met it: when it was a TCP end without
    // close_notify, an Inform line says so, and the other side's end will be one too.
    void PassOnTlsEnd(Connection& c, bool clientSide);
    // The socket error that ended a side (the Client's when clientSide): its text, or, when
    // that side's TLS session failed, "TLS with Client failed: <OpenSSL's reason>".
    void LogSideError(Connection& c, bool clientSide, int error);

    // Network Conditions (relay_conditions.cpp).
    // PassOn under conditions: the chunk is held with its release marks, then what is due goes.
    int PassOnDue(Connection& c, const Direction& d, Chunk& chunk, int n, std::int32_t before,
                  bool hold);
    int FlushDue(Connection& c, Channel& channel, platform::SOCKET s, log::CaptureSide from);
    // BeginRelay's part: the run's seed, and the "Conditions: ..." line.
    void BeginConditions();
    // The set and the run's seed on one line, or "off".
    std::string ConditionsLine() const;
    bool HoldingClients() const { return conditions_.refuse.mode == Refusal::Hold; }
    // A new Client that Refuse turns away: accepted, then closed or reset at once.
    void RefuseClient(platform::SOCKET s, log::ConnectionTag tag);
    // Gives c the conditions in force (at its accept, or for an older one when they change);
    // at accept it logs "N: Conditions: ...".
    void TakeConditions(Connection& c, bool atAccept);
    void ApplyLiveConditions(Connection& c);
    // A peer's close that Slow close holds back: true when it waits (now, or already).
    bool HoldClose(Connection& c, bool clientSide, int error);
    void CarryOutHeldClose(Connection& c, bool clientSide, int error);
    // Ends c because of the conditions: the reason (Inform), then both sides closed or reset
    // with the usual "Disconnected from ..." lines; held bytes are dropped.
    void EndByConditions(Connection& c, Ending ending, const std::string& reason);
    void ScheduleDue(DueSlot& slot, std::int64_t dueNs);
    void CancelDue(DueSlot& slot);
    void ScheduleLife(Connection& c);
    void CancelConditionSlots(Connection& c);
    void ArmDueTimer();
    void OnDueTimer();
    void OnLifeDue(Connection& c);
    // The list of Connections (relay_connections.cpp). RowOf: its row as of now, in the
    // state given.
    ConnectionRow RowOf(const Connection& c, ConnectionState state) const;
    ConnectionState LiveState(const Connection& c) const;
    // How it ends: the first mark counts. MarkEndedBy: Reset for a reset (10054), Failed for
    // any other error, nothing for 0.
    static void MarkEnded(Connection& c, ConnectionState state);
    static void MarkEndedBy(Connection& c, int error);
    // Its final row waits for the next tick (called as it is removed).
    void QueueEndedRow(const Connection& c);
    // Sets kConnectionViewTimer when a view is set and it is not running.
    void WatchConnections();
    void OnConnectionViewTimer();
    // Hands over what changed since the last batch, if anything.
    void ReportConnections();
    // n bytes of `bytes` from side `from` have been handed to send: a segment of the Capture
    // File, the Connection's count for its row, a block of the kept streams.
    void Passed(Connection& c, log::CaptureSide from, const char* bytes, int n);

    void ShowCount(Counter counter, std::int64_t value);
    void AddCount(Counter counter, std::int64_t& field, std::int64_t delta);

    log::TrafficLog& log_;
    RelayView& view_;
    std::string remoteHostText_;
    std::string remotePortText_;

    platform::SOCKET localPortSocket_ = platform::INVALID_SOCKET;
    platform::SocketAddress remoteAddress_;
    platform::HANDLE remoteLookupRequest_ = 0;
    platform::HANDLE localLookupRequest_ = 0;
    platform::HostEntry remoteLookupResult_;
    platform::HostEntry localLookupResult_;
    bool running_ = false;

    LiveConnections connections_;
    // The serial of the last Connection accepted; never reset, so that no two Connections
    // of the engine's life share one.
    log::ConnectionSerial lastSerial_ = log::kNoConnection;
    // The counters are 64-bit: a long session passes 2 GiB, and so can what a few thousand
    // held-back Channels hold together.
    std::int64_t connectionCount_ = 0;
    std::int64_t csTransferred_ = 0;
    std::int64_t csBuffered_ = 0;
    std::int64_t scTransferred_ = 0;
    std::int64_t scBuffered_ = 0;

    // Accepting is held back while descriptors have run out; the failure is logged once per
    // such episode, and the retries back off from 5 ms up to 160 ms.
    // The error a close's last read met (a reset), for OnSocketClose to report.
    int lastReadError_ = 0;

    bool acceptHeldBack_ = false;
    bool acceptFailureLogged_ = false;
    unsigned acceptRetryMs_ = 0;

    std::unique_ptr<platform::TlsContext> tlsForClients_;
    std::unique_ptr<platform::TlsContext> tlsForServer_;
    std::string tlsServerName_;  // SNI: the Remote Host when it is a name
    std::string tlsVerifyHost_;  // the Remote Host as typed
    bool tlsPrepared_ = false;   // PrepareTls succeeded since the last BeginRelay
    std::vector<std::pair<log::LogKind, std::string>> tlsLines_;  // for LogTlsPreparation

    // The draining Connections, newest first, and whether kDrainTimer is set.
    // Room for a read that is passed on at once (relay_data.cpp), made at first use.
    static constexpr std::int32_t kDirectBufferSize = 64 * 1024;
    std::unique_ptr<char[]> direct_;
    Connection* drainingHead_ = nullptr;
    bool drainTimerSet_ = false;

    // Network Conditions: the set in force, the run's seed and generator (Share draws and
    // each conditioned Connection's own seed), and the one timer for every due time.
    Conditions conditions_;
    std::uint64_t seed_ = 0;
    Random runRandom_;
    DueHeap dueHeap_;
    platform::DueTimer dueTimer_{[this] { OnDueTimer(); }};
    bool inDueTick_ = false;
    // The list of Connections: its view, the final rows of the Connections ended since the
    // last batch, and whether kConnectionViewTimer is set.
    ConnectionView* connectionView_ = nullptr;
    std::vector<ConnectionRow> endedRows_;
    std::vector<log::ConnectionSerial> droppedStreams_;
    bool connectionViewTimerSet_ = false;
};

}  // namespace corvane::relay
