// Internal to the platform layer: what the layer knows about each socket it opened, in a
// table indexed by descriptor. The socket calls and the readiness watcher both keep it.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/messages.h"

namespace corvane::platform::detail {

enum class Phase : std::uint8_t {
    kClosed,       // not a socket of ours
    kUnconnected,  // created, neither listening nor connecting
    kListening,
    kConnecting,  // a non-blocking connect is under way
    kConnected,
    kFailed,  // the connect failed; nothing more is reported
    // Closed by the program while bytes it sent were still held (write_behind.h): the
    // descriptor stays open until they are out. Not the program's socket any more.
    kLingering,
};

struct ByteBlock;
struct TlsSession;

struct SocketState {
    Phase phase = Phase::kClosed;
    // Changes each time the descriptor is opened, so that a message queued for an earlier
    // socket with the same number is recognised as stale.
    std::uint32_t generation = 0;

    // Registration (WSAAsyncSelect).
    MessageTarget* target = nullptr;
    UINT msg = 0;
    long mask = 0;
    bool watched = false;      // in the epoll set
    bool nonBlocking = false;  // O_NONBLOCK is set
    // The last read found nothing waiting, or the peer's end, and no input has been seen
    // since.
    bool inputDrained = false;

    // One-shot event state, re-enabled by the calls named.
    bool readArmed = true;    // FD_READ may be posted (re-enabled by recv)
    bool writeArmed = false;  // FD_WRITE wanted once room is free (set by a send that blocked)
    bool acceptArmed = true;  // FD_ACCEPT may be posted (re-enabled by accept)
    bool peerClosed = false;  // the peer's close or reset has been seen
    bool closePosted = false;
    int closeError = 0;  // Winsock number carried by FD_CLOSE
    // Reading ahead (byte_block.h): set once a read filled the caller's buffer, cleared by
    // one that did not; the block holds bytes already taken from the kernel.
    bool streaming = false;
    ByteBlock* ahead = nullptr;
    // Joined sends (write_behind.h): bytes the program sent that the kernel has not taken yet.
    ByteBlock* behind = nullptr;
    bool behindBlocked = false;  // the kernel refused the rest: it goes on the next write edge
    std::uint32_t sendPass = 0;  // the pass of the last send (write_behind.h)
    int sendError = 0;           // errno of a failed write of held bytes, for the next send
    // shutdown ended the sending side; when it came while bytes were held, the FIN waits
    // for the write that brings out the last of them.
    bool sendShut = false;
    bool finAfterHeld = false;
    // SO_LINGER on with a zero interval: closesocket drops what is held and resets.
    bool hardClose = false;
    // A TLS session (tls_internal.h): the calls and events are about its plain bytes.
    TlsSession* tls = nullptr;
    // SO_LINGER_ on with an interval of 0: closesocket resets the connection.
    bool abortiveClose = false;
};

class SocketTable {
public:
    SocketTable() = default;
    // Frees the blocks of sockets still open at exit.
    ~SocketTable();
    SocketTable(const SocketTable&) = delete;
    SocketTable& operator=(const SocketTable&) = delete;

    // The state of fd when it is a socket the program holds, else nullptr.
    SocketState* Find(int fd) {
        SocketState* s = FindAny(fd);
        return s != nullptr && s->phase != Phase::kLingering ? s : nullptr;
    }
    // The same, lingering sockets included.
    SocketState* FindAny(int fd) {
        if (fd < 0 || static_cast<std::size_t>(fd) >= states_.size()) {
            return nullptr;
        }
        SocketState& s = states_[static_cast<std::size_t>(fd)];
        return s.phase == Phase::kClosed ? nullptr : &s;
    }
    // Starts a fresh record for a descriptor just returned by socket or accept.
    SocketState& Open(int fd, Phase phase);
    void Forget(int fd);
    // Descriptors of every open socket, lingering ones included, for shutting the layer down.
    std::vector<int> OpenDescriptors() const;

    static std::uint64_t Key(int fd, std::uint32_t generation) {
        return (static_cast<std::uint64_t>(generation) << 32) | static_cast<std::uint32_t>(fd);
    }

private:
    std::vector<SocketState> states_;
    std::uint32_t nextGeneration_ = 1;
};

SocketTable& Sockets();

}  // namespace corvane::platform::detail
