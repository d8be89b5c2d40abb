// Moving the bytes: a read from one peer is logged and sent on at once when nothing older
// waits, or held in the Channel until the other side has room. A negative result means the
// Connection has been ended and removed; no caller touches it afterwards.
//
// A read into an empty Channel whose destination can take bytes goes to the engine's direct
// buffer instead and is sent on from there; only what the destination does not take is
// copied into the Channel, where it waits as it would have. A burst of new Connections then
// works in one buffer that stays in the processor's cache, not in a fresh 8 KiB block each
// (memory touched for the first time costs a page fault, and more on a virtual machine: the
// burst took a quarter longer). Whatever else a chunk may meet (the Host line's rewrite, a
// shortage of memory) takes the Channel's path: the chunk is copied there first.
#include "log/text_lines.h"
#include "log/traffic_log.h"
#include "platform/winsock.h"
#include "relay/http_rewrite.h"
#include "relay/relay_engine.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <string_view>

namespace corvane::relay {

namespace {

// Whether an all-text chunk's first line (up to its first LF, or all of it, without a CR at
// its end) ends as an HTTP request line does ("HTTP/1." and one more character): only then
// does the Host line's rewrite read the lines.
bool IsRequestLine(const char* bytes, int n) {
    const void* lf = std::memchr(bytes, '\n', static_cast<std::size_t>(n));
    std::string_view line(
        bytes, lf == nullptr ? static_cast<std::size_t>(n)
                             : static_cast<std::size_t>(static_cast<const char*>(lf) - bytes));
    if (!line.empty() && line.back() == '\r') {
        line.remove_suffix(1);
    }
    constexpr std::string_view kVersion = "HTTP/1.";
    return line.size() > kVersion.size() &&
           line.substr(line.size() - kVersion.size() - 1, kVersion.size()) == kVersion;
}

// The chunk's text lines for the log. When none of them is written or shown (Detail Low
// without a Log File), only whether the chunk is all text is found and no line is built,
// so that a stream of text costs a scan rather than a copy of every block; a Client's
// request is still split, as the Host line's rewrite reads its lines. False when memory
// runs short.
bool SplitForLog(const log::TrafficLog& log, const char* bytes, int n, bool fromClient,
                 log::LogChain& lines, int& textCount, bool& incomplete) {
    if (log.TakesDataLines()) {
        return log::SplitTextLines(bytes, n, lines, textCount, incomplete);
    }
    const bool allText = log::IsAllText(bytes, n);
    if (allText && fromClient && IsRequestLine(bytes, n)) {
        return log::SplitTextLines(bytes, n, lines, textCount, incomplete);
    }
    incomplete = allText && n > 0 && bytes[n - 1] != '\n';  // for the block's header line
    textCount = allText ? n : 0;
    return true;
}

}  // namespace

char* RelayEngine::DirectBufferFor(const Channel& channel, bool destinationReady) {
    if (channel.length != 0 || channel.marks != nullptr || !destinationReady ||
        channel.capacity < kChannelMinimumFree) {
        return nullptr;
    }
    if (direct_ == nullptr) {
        direct_.reset(new (std::nothrow) char[kDirectBufferSize]);  // none: the Channel it is
    }
    return direct_.get();
}

int RelayEngine::ReceiveInto(Connection& c, Channel& channel, bool fromClient, char*& direct) {
    const platform::SOCKET s = fromClient ? c.clientSocket : c.serverSocket;
    direct = DirectBufferFor(channel, !fromClient || c.connected);
    // At most the Channel's free room, as a read into it would take.
    return direct != nullptr ? ReceiveOf(s, direct, std::min(channel.capacity, kDirectBufferSize))
                             : channel.Receive(s);
}

void RelayEngine::KeepInChannel(Channel& channel, char*& direct, int n) {
    if (direct != nullptr) {
        std::memcpy(channel.data, direct, static_cast<std::size_t>(n));
        channel.length = n;
        direct = nullptr;
    }
}

// How one received chunk is logged: its text lines and how many leading bytes they cover.
struct RelayEngine::Chunk {
    log::LogChain lines{};
    int textCount = 0;
    bool incomplete = false;
};

struct RelayEngine::Direction {
    Channel& channel;
    platform::SOCKET destination;
    log::CaptureSide source;   // whose bytes they are in the Capture File
    const char* logDirection;  // "Client to Server"
    Counter transferredCounter;
    std::int64_t& transferred;
    Counter bufferedCounter;
    std::int64_t& buffered;
    const char* sourceGone;  // "Client disconnected"
    const char* readFailed;  // "Could not read data from Client"
    const char* sendFailed;  // "Could not send data to Server"
    // Ends the Connection when the source side has gone, and when the destination has.
    void (RelayEngine::*endForSource)(Connection&, int);
    void (RelayEngine::*endForDestination)(Connection&, int);
};

int RelayEngine::ReadFromClient(Connection& c) {
    return ReadFromClient(c, false);
}
int RelayEngine::ReadFromServer(Connection& c) {
    return ReadFromServer(c, false);
}

int RelayEngine::ReadFromClient(Connection& c, bool force) {
    if (SourceFinished(c, true)) {
        return 0;  // half closed: the Client sends nothing more
    }
    if (c.draining == Draining::ToClient) {
        return DiscardWhileDraining(c, c.clientSocket);
    }
    if (c.draining == Draining::ToServer || c.draining == Draining::Both) {
        return DiscardFromEndedSide(c.clientSocket);
    }
    Channel& channel = c.clientToServer;
    if (!force && channel.length > HeldLimit(channel)) {
        c.clientReadHeld = true;  // SendToServer reads again once below half
        return 0;
    }
    c.clientReadHeld = false;
    const std::int32_t before = channel.length;
    char* direct = nullptr;
    int n = ReceiveInto(c, channel, true, direct);
    int error = n == kReceiveSocketError ? platform::WSAGetLastError() : 0;
    Chunk chunk;
    if (n > 0 && c.DumpMode != kDumpHex) {
        const char* bytes = direct != nullptr ? direct : channel.data + before;
        if (!SplitForLog(log_, bytes, n, true, chunk.lines, chunk.textCount, chunk.incomplete)) {
            KeepInChannel(channel, direct, n);
            AddCount(Counter::CSBuffered, csBuffered_, n);
            n = kReceiveOutOfMemory;
        } else {
            if (c.DumpMode == kDumpUndecided) {
                c.DumpMode = chunk.textCount == n ? kDumpText : kDumpHex;
            }
            if (chunk.textCount == n) {
                KeepInChannel(channel, direct, n);  // the rewrite works in the Channel
                const int rewritten =
                    RewriteHttpRequest(log_, chunk.lines, channel, before, n, remoteHostText_,
                                       remotePortText_, c.httpRequestSeen);
                if (rewritten < 0) {
                    log::FreeChain(chunk.lines);
                    AddCount(Counter::CSBuffered, csBuffered_, n);
                    n = kReceiveOutOfMemory;
                } else {
                    n = rewritten;
                    chunk.textCount = rewritten;
                }
            } else {
                log::FreeChain(chunk.lines);
                chunk.textCount = 0;
                chunk.incomplete = false;
            }
        }
    }
    const Direction d{channel,
                      c.serverSocket,
                      log::CaptureSide::Client,
                      log::kClientToServer,
                      Counter::CSTransferred,
                      csTransferred_,
                      Counter::CSBuffered,
                      csBuffered_,
                      "Client disconnected",
                      "Could not read data from Client",
                      "Could not send data to Server",
                      &RelayEngine::DisconnectServer,
                      &RelayEngine::DisconnectClient};
    if (n > 0) {
        // Until the Server is there the bytes wait, and they never overtake older ones.
        return PassOn(c, d, chunk, n, before, !c.connected, direct);
    }
    return EndOfRead(c, d, n, error, force);
}

int RelayEngine::ReadFromServer(Connection& c, bool force) {
    if (SourceFinished(c, false)) {
        return 0;
    }
    if (c.draining == Draining::ToServer) {
        return DiscardWhileDraining(c, c.serverSocket);
    }
    if (c.draining == Draining::ToClient || c.draining == Draining::Both) {
        return DiscardFromEndedSide(c.serverSocket);
    }
    Channel& channel = c.serverToClient;
    if (!force && channel.length > HeldLimit(channel)) {
        c.serverReadHeld = true;  // SendToClient reads again once below half
        return 0;
    }
    c.serverReadHeld = false;
    const std::int32_t before = channel.length;
    char* direct = nullptr;
    int n = ReceiveInto(c, channel, false, direct);
    int error = n == kReceiveSocketError ? platform::WSAGetLastError() : 0;
    Chunk chunk;
    if (n > 0 && c.DumpMode != kDumpHex) {
        const char* bytes = direct != nullptr ? direct : channel.data + before;
        if (!SplitForLog(log_, bytes, n, false, chunk.lines, chunk.textCount, chunk.incomplete)) {
            KeepInChannel(channel, direct, n);
            AddCount(Counter::SCBuffered, scBuffered_, n);
            n = kReceiveOutOfMemory;
        } else {
            if (c.DumpMode == kDumpUndecided) {
                c.DumpMode = chunk.textCount == n ? kDumpText : kDumpHex;
            }
            if (chunk.textCount != n) {
                // Only the header of an answer to an HTTP request stays as text lines.
                log::KeepHttpResponseHeader(bytes, chunk.lines, chunk.textCount,
                                            c.httpRequestSeen == 1);
                chunk.incomplete = false;
            }
            c.httpRequestSeen = 0;
        }
    }
    const Direction d{channel,
                      c.clientSocket,
                      log::CaptureSide::Server,
                      log::kServerToClient,
                      Counter::SCTransferred,
                      scTransferred_,
                      Counter::SCBuffered,
                      scBuffered_,
                      "Server disconnected",
                      "Could not read data from Server",
                      "Could not send data to Client",
                      &RelayEngine::DisconnectClient,
                      &RelayEngine::DisconnectServer};
    if (n > 0) {
        return PassOn(c, d, chunk, n, before, false, direct);
    }
    return EndOfRead(c, d, n, error, force);
}

int RelayEngine::PassOn(Connection& c, const Direction& d, Chunk& chunk, int n, std::int32_t before,
                        bool hold, const char* direct) {
    Channel& channel = d.channel;
    if (channel.marks != nullptr) {
        return PassOnDue(c, d, chunk, n, before, hold);
    }
    if (hold || before > 0) {
        log_.DumpBlock(c.Tag(), chunk.lines, chunk.textCount, chunk.incomplete, d.logDirection, n,
                       channel.data + before);
        AddCount(d.bufferedCounter, d.buffered, n);
        return n;
    }
    const int sent =
        direct != nullptr ? SendAllOf(d.destination, direct, n) : channel.SendAll(d.destination);
    const int error = sent < 0 ? platform::WSAGetLastError() : 0;
    const char* bytes = direct != nullptr ? direct : channel.data;
    if (direct != nullptr) {
        // What the destination did not take waits in the Channel, as if read into it.
        const int kept = sent < 0 ? n : n - sent;
        std::memcpy(channel.data, direct + (n - kept), static_cast<std::size_t>(kept));
        channel.length = kept;
    }
    log_.DumpBlock(c.Tag(), chunk.lines, chunk.textCount, chunk.incomplete, d.logDirection, n,
                   bytes);
    if (sent < 0) {
        AddCount(d.bufferedCounter, d.buffered, n);
        log_.LogConnectionInform(c.Tag(), d.sendFailed);
        (this->*d.endForDestination)(c, error);
        return -1;
    }
    AddCount(d.bufferedCounter, d.buffered, n - sent);
    if (sent == 0) {
        return 0;
    }
    Passed(c, d.source, bytes, sent);
    AddCount(d.transferredCounter, d.transferred, sent);
    if (direct == nullptr) {
        channel.Consume(sent);
    }
    return sent;
}

// Under conditions a chunk always waits in the Channel with the due times of its pieces
// (logged and counted at once, so that its header keeps the time it was read); then the
// direction's send passes on whatever is due.
int RelayEngine::PassOnDue(Connection& c, const Direction& d, Chunk& chunk, int n,
                           std::int32_t before, bool hold) {
    Channel& channel = d.channel;
    log_.DumpBlock(c.Tag(), chunk.lines, chunk.textCount, chunk.incomplete, d.logDirection, n,
                   channel.data + before);
    AddCount(d.bufferedCounter, d.buffered, n);
    ConnectionConditions& cc = *c.conditions;
    const bool toServer = &channel == &c.clientToServer;
    (toServer ? cc.toServer : cc.toClient)
        .Plan(before + n, n, platform::DueTimer::NowNs(), cc.random);
    if (hold) {
        return n;
    }
    return (toServer ? SendToServer(c) : SendToClient(c)) < 0 ? -1 : n;
}

// The Capture File and the kept streams show what was passed on: a segment when the socket
// takes its bytes, not when they were read, so that bytes dropped later (at Stop, a reset, a
// drain that gives up) are not in them, and a held block's segment has the time it went out.
int RelayEngine::SendOn(Connection& c, Channel& channel, platform::SOCKET to, log::CaptureSide from,
                        std::int32_t count) {
    const int sent = channel.SendAll(to, count);
    if (sent > 0) {
        Passed(c, from, channel.data, sent);
        channel.Consume(sent);
    }
    return sent;
}

int RelayEngine::EndOfRead(Connection& c, const Direction& d, int n, int error, bool force) {
    if (n == kReceiveNothing) {
        return 0;
    }
    if (n == kReceiveOutOfMemory) {
        log_.LogConnectionInform(c.Tag(), "Out of memory");
        MarkEnded(c, ConnectionState::Failed);
        error = 0;
    } else if (n == kReceiveClosed || error == platform::WSAECONNRESET) {
        // A reset met by a read is the peer's close with an error, whichever of the read and
        // the close notification sees it first.
        if (n == kReceiveClosed) {
            error = 0;
        }
        if (force) {
            lastReadError_ = error;
            return 0;  // OnSocketClose reports the close
        }
        const bool clientSide = &d.channel == &c.clientToServer;
        if (c.conditions != nullptr && HoldClose(c, clientSide, error)) {
            return 0;  // Slow close: it reaches the other side later
        }
        if (n == kReceiveClosed) {
            PassOnTlsEnd(c, clientSide);
            if (const int taken = HalfCloseFinish(c, clientSide); taken != 0) {
                return taken < 0 ? -1 : 0;
            }
        }
        log_.LogConnectionInform(c.Tag(), d.sourceGone);
    } else {
        log_.LogConnectionInform(c.Tag(), d.readFailed);
        MarkEnded(c, ConnectionState::Failed);
    }
    (this->*d.endForSource)(c, error);
    return -1;
}

int RelayEngine::SendToServer(Connection& c) {
    if (c.draining == Draining::ToServer) {
        return DrainToServer(c);
    }
    if (c.draining == Draining::Both) {
        return DrainBoth(c);
    }
    Channel& channel = c.clientToServer;
    // Before its connect completes the server socket cannot take anything; OnServerConnect
    // sends what waits.
    if (c.draining == Draining::ToClient || !c.connected || channel.length == 0) {
        return ShutdownWhenDelivered(c, true);
    }
    const int sent = SendOn(c, channel, c.serverSocket, log::CaptureSide::Client);
    if (sent < 0) {
        const int error = platform::WSAGetLastError();
        log_.LogConnectionInform(c.Tag(), "Could not send data to Server");
        DisconnectClient(c, error);
        return -1;
    }
    AddCount(Counter::CSTransferred, csTransferred_, sent);
    AddCount(Counter::CSBuffered, csBuffered_, -sent);
    if (ShutdownWhenDelivered(c, true) < 0) {
        return -1;
    }
    if (c.clientReadHeld && channel.length <= HeldLimit(channel) / 2 && !Paused()) {
        // The one read that takes up the Client again; it re-arms its read notification.
        if (ReadFromClient(c) < 0) {
            return -1;
        }
    }
    return sent;
}

int RelayEngine::SendToClient(Connection& c) {
    if (c.draining == Draining::ToClient) {
        return DrainToClient(c);
    }
    if (c.draining == Draining::Both) {
        return DrainBoth(c);
    }
    Channel& channel = c.serverToClient;
    if (c.draining == Draining::ToServer || channel.length == 0) {
        return ShutdownWhenDelivered(c, false);
    }
    const int sent = SendOn(c, channel, c.clientSocket, log::CaptureSide::Server);
    if (sent < 0) {
        const int error = platform::WSAGetLastError();
        log_.LogConnectionInform(c.Tag(), "Could not send data to Client");
        DisconnectServer(c, error);
        return -1;
    }
    AddCount(Counter::SCTransferred, scTransferred_, sent);
    AddCount(Counter::SCBuffered, scBuffered_, -sent);
    if (ShutdownWhenDelivered(c, false) < 0) {
        return -1;
    }
    if (c.serverReadHeld && channel.length <= HeldLimit(channel) / 2 && !Paused()) {
        if (ReadFromServer(c) < 0) {
            return -1;
        }
    }
    return sent;
}

}  // namespace corvane::relay
