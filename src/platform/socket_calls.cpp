// The socket calls over Linux sockets. Each failure stores its Winsock number as the last
// error right after the call, before anything else can change errno.
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/byte_block.h"
#include "platform/socket_events.h"
#include "platform/socket_table.h"
#include "platform/tls_internal.h"
#include "platform/winsock.h"
#include "platform/write_behind.h"

namespace corvane::platform {
namespace {

using detail::Phase;
using detail::Sockets;

// A signal handler may interrupt a call; it is repeated a few times before giving up.
constexpr int kInterruptRetries = 8;
// What closesocket reads away at most before closing; beyond it the close resets.
constexpr int kDrainReads = 64;
constexpr std::size_t kDrainChunk = 65536;

int Fail(int errnoValue) {
    WSASetLastError(ErrorFromErrno(errnoValue));
    return SOCKET_ERROR;
}

// The calls on a socket fail like Winsock's before WSAStartup and on a number that is not one
// of the layer's sockets.
bool Usable(SOCKET s) {
    if (!detail::SocketsStarted()) {
        WSASetLastError(WSANOTINITIALISED);
        return false;
    }
    if (Sockets().Find(s) == nullptr) {
        WSASetLastError(WSAENOTSOCK);
        return false;
    }
    return true;
}

// The address in the kernel's form; length is what bind and connect are given.
sockaddr_storage ToSockaddr(const SocketAddress& a, socklen_t& length) {
    sockaddr_storage storage{};
    if (a.family == AF_INET6_) {
        auto& sin6 = reinterpret_cast<sockaddr_in6&>(storage);
        sin6.sin6_family = AF_INET6;
        std::memcpy(&sin6.sin6_addr, a.address6, sizeof a.address6);
        sin6.sin6_port = a.port;
        sin6.sin6_scope_id = a.scopeId;
        length = sizeof sin6;
    } else {
        auto& sin = reinterpret_cast<sockaddr_in&>(storage);
        sin.sin_family = AF_INET;
        sin.sin_addr.s_addr = a.address;
        sin.sin_port = a.port;
        length = sizeof sin;
    }
    return storage;
}

SocketAddress FromSockaddr(const sockaddr_storage& storage) {
    SocketAddress a;
    if (storage.ss_family == AF_INET6) {
        const auto& sin6 = reinterpret_cast<const sockaddr_in6&>(storage);
        a.family = AF_INET6_;
        std::memcpy(a.address6, &sin6.sin6_addr, sizeof a.address6);
        a.port = sin6.sin6_port;
        a.scopeId = sin6.sin6_scope_id;
    } else {
        const auto& sin = reinterpret_cast<const sockaddr_in&>(storage);
        a.address = sin.sin_addr.s_addr;
        a.port = sin.sin_port;
    }
    return a;
}

// One recv, repeated when a signal interrupts it; error is its errno (0 on success).
ssize_t RecvOnce(SOCKET s, char* buf, std::size_t len, int flags, int& error) {
    ssize_t n = -1;
    for (int attempt = 0; attempt < kInterruptRetries; ++attempt) {
        n = ::recv(s, buf, len, flags);
        error = n < 0 ? errno : 0;
        if (error != EINTR) {
            break;
        }
    }
    return n;
}

// Hands out the next bytes of the socket's read-ahead block (byte_block.h), in order.
int ServeReadAhead(SOCKET s, detail::SocketState& st, char* buf, int len) {
    detail::ByteBlock& block = *st.ahead;
    const int n = std::min(len, block.Held());
    std::memcpy(buf, block.bytes + block.begin, static_cast<std::size_t>(n));
    block.begin += n;
    auto source = detail::ReadSource::kReadAhead;
    if (block.Held() == 0) {
        detail::ReturnBlock(st.ahead, detail::BlockUse::kReadAhead);
        st.ahead = nullptr;
        // Emptied: when filling it emptied the kernel's queue and no input came since, this
        // was the last read for now, like a direct read that took everything.
        if (st.inputDrained) {
            source = detail::ReadSource::kReadAheadLast;
        }
    }
    detail::NoteRecv(s, n, len, 0, source);
    return n;
}

}  // namespace

namespace detail {

void ReadAwayInput(int fd) {
    // Unread input turns a close into a reset (and the reset can overtake the bytes still on
    // their way to the peer), so what is waiting is read away first.
    static char sink[kDrainChunk];
    for (int i = 0; i < kDrainReads; ++i) {
        if (::recv(fd, sink, sizeof sink, MSG_DONTWAIT) <= 0) {
            break;
        }
    }
}

}  // namespace detail

SOCKET socket(int af, int type, int protocol) {
    if (!detail::SocketsStarted()) {
        WSASetLastError(WSANOTINITIALISED);
        return INVALID_SOCKET;
    }
    if (af != AF_INET_ && af != AF_INET6_) {
        WSASetLastError(WSAEAFNOSUPPORT);
        return INVALID_SOCKET;
    }
    if (type != SOCK_STREAM_ || (protocol != 0 && protocol != IPPROTO_TCP_)) {
        WSASetLastError(WSAEINVAL);
        return INVALID_SOCKET;
    }
    const int fd = ::socket(af == AF_INET6_ ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        Fail(errno);
        return INVALID_SOCKET;
    }
    Sockets().Open(fd, Phase::kUnconnected);
    return fd;
}

int bind(SOCKET s, const SocketAddress& name) {
    if (!Usable(s)) {
        return SOCKET_ERROR;
    }
    const int on = 1;
    ::setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    socklen_t length = 0;
    const sockaddr_storage address = ToSockaddr(name, length);
    if (::bind(s, reinterpret_cast<const sockaddr*>(&address), length) < 0) {
        return Fail(errno);
    }
    return 0;
}

int listen(SOCKET s, int backlog) {
    if (!Usable(s)) {
        return SOCKET_ERROR;
    }
    if (::listen(s, backlog) < 0) {
        return Fail(errno);
    }
    Sockets().Find(s)->phase = Phase::kListening;
    return 0;
}

int getsockname(SOCKET s, SocketAddress& name) {
    if (!Usable(s)) {
        return SOCKET_ERROR;
    }
    sockaddr_storage address{};
    socklen_t len = sizeof address;
    if (::getsockname(s, reinterpret_cast<sockaddr*>(&address), &len) < 0) {
        return Fail(errno);
    }
    name = FromSockaddr(address);
    return 0;
}

SOCKET accept(SOCKET s, SocketAddress* peer) {
    if (!Usable(s)) {
        return INVALID_SOCKET;
    }
    // The accepted socket has the listening socket's properties, non-blocking mode included
    // (its events are registered on it next, as the listener's were).
    const bool nonBlocking = Sockets().Find(s)->nonBlocking;
    const int flags = SOCK_CLOEXEC | (nonBlocking ? SOCK_NONBLOCK : 0);
    sockaddr_storage address{};
    int fd = -1;
    int error = 0;
    for (int attempt = 0; attempt < kInterruptRetries; ++attempt) {
        socklen_t len = sizeof address;
        fd = ::accept4(s, reinterpret_cast<sockaddr*>(&address), &len, flags);
        error = fd < 0 ? errno : 0;
        if (error != EINTR) {
            break;
        }
    }
    if (fd >= 0) {
        Sockets().Open(fd, Phase::kConnected).nonBlocking = nonBlocking;
        if (peer != nullptr) {
            *peer = FromSockaddr(address);
        }
    }
    detail::NoteAccept(s, fd, error);
    if (fd < 0) {
        Fail(error);
        return INVALID_SOCKET;
    }
    return fd;
}

int connect(SOCKET s, const SocketAddress& name) {
    if (!Usable(s)) {
        return SOCKET_ERROR;
    }
    socklen_t length = 0;
    const sockaddr_storage address = ToSockaddr(name, length);
    const int result = ::connect(s, reinterpret_cast<const sockaddr*>(&address), length);
    const int error = result < 0 ? errno : 0;
    detail::NoteConnect(s, result, error);
    return result < 0 ? Fail(error) : 0;
}

int recv(SOCKET s, char* buf, int len, int flags) {
    if (!Usable(s)) {
        return SOCKET_ERROR;
    }
    detail::SocketState& st = *Sockets().Find(s);
    if (st.tls != nullptr) {
        return detail::TlsRecv(s, st, buf, len);
    }
    // Only plain reads use the read-ahead block; a read with flags (MSG_PEEK and the like)
    // goes to the kernel, past what a block holds. The program never reads with flags.
    const bool plain = flags == 0 && len > 0;
    if (plain && st.ahead != nullptr) {
        return ServeReadAhead(s, st, buf, len);
    }
    int error = 0;
    ssize_t n = -1;
    if (plain && st.streaming && len < detail::kBlockBytes &&
        (st.ahead = detail::TakeBlock(detail::BlockUse::kReadAhead)) != nullptr) {
        n = RecvOnce(s, st.ahead->bytes, sizeof st.ahead->bytes, 0, error);
        if (n > 0) {
            st.ahead->end = static_cast<int>(n);
            st.inputDrained = n < detail::kBlockBytes;
            return ServeReadAhead(s, st, buf, len);
        }
        // The end, a failure or nothing at all: reported as a direct read would.
        detail::ReturnBlock(st.ahead, detail::BlockUse::kReadAhead);
        st.ahead = nullptr;
    } else {
        n = RecvOnce(s, buf, static_cast<std::size_t>(len < 0 ? 0 : len), flags, error);
    }
    st.streaming = n > 0 && n == len;
    detail::NoteRecv(s, static_cast<long>(n), len, error, detail::ReadSource::kKernel);
    if (n == 0 && len > 0) {
        // A reset whose error the event layer has already taken from the socket (to put it
        // in FD_CLOSE) reads as a plain end here; report it as the reset it was.
        if (st.closeError != 0) {
            WSASetLastError(st.closeError);
            return SOCKET_ERROR;
        }
    }
    return n < 0 ? Fail(error) : static_cast<int>(n);
}

int send(SOCKET s, const char* buf, int len, int flags) {
    if (!Usable(s)) {
        return SOCKET_ERROR;
    }
    detail::SocketState& st = *Sockets().Find(s);
    if (st.sendShut) {
        WSASetLastError(WSAESHUTDOWN);
        return SOCKET_ERROR;
    }
    if (st.tls != nullptr) {
        return detail::TlsSend(s, st, buf, len);
    }
    ssize_t n = -1;
    int error = 0;
    if (flags == 0) {
        // Plain sends are joined while a pass runs (write_behind.h).
        n = detail::SendJoined(s, st, buf, len, error);
    } else {
        for (int attempt = 0; attempt < kInterruptRetries; ++attempt) {
            n = ::send(s, buf, static_cast<std::size_t>(len < 0 ? 0 : len), flags | MSG_NOSIGNAL);
            error = n < 0 ? errno : 0;
            if (error != EINTR) {
                break;
            }
        }
    }
    detail::NoteSend(s, static_cast<long>(n), len, error);
    return n < 0 ? Fail(error) : static_cast<int>(n);
}

int closesocket(SOCKET s) {
    if (!Usable(s)) {
        return SOCKET_ERROR;
    }
    detail::SocketState& st = *Sockets().Find(s);
    if (st.hardClose) {
        // The program has given up on the peer: what the socket still holds (joined sends,
        // the kernel's queue, a TLS session's records) goes with it, and the peer is reset
        // now instead of waiting for bytes it is not taking.
        const ::linger hard{1, 0};
        ::setsockopt(s, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
        detail::NoteClose(s);
        ::close(s);
        return 0;
    }
    // Bytes sent but still held (by the joined sends, or as a TLS session's ciphertext after
    // its close_notify) are delivered first, in the background; the socket is the program's
    // no more either way.
    if ((st.tls != nullptr && detail::TlsBeforeClose(s, st)) || detail::LingerIfHeld(s, st)) {
        return 0;
    }
    if (st.phase == Phase::kConnected && !st.inputDrained) {
        detail::ReadAwayInput(s);
    }
    // Forgotten before the descriptor is released: from this moment every message queued for
    // it is stale, and the number may come back at once for a new socket.
    detail::NoteClose(s);
    // No SO_LINGER is set on this path, so close hands the remaining bytes to the kernel, which
    // delivers them followed by FIN. EINTR still releases the descriptor on Linux.
    if (::close(s) < 0 && errno != EINTR) {
        return Fail(errno);
    }
    return 0;
}

int shutdown(SOCKET s, int how) {
    if (!Usable(s)) {
        return SOCKET_ERROR;
    }
    if (how != SD_RECEIVE && how != SD_SEND && how != SD_BOTH) {
        WSASetLastError(WSAEINVAL);
        return SOCKET_ERROR;
    }
    detail::SocketState& st = *Sockets().Find(s);
    if (how == SD_RECEIVE) {
        return ::shutdown(s, SHUT_RD) < 0 ? Fail(errno) : 0;
    }
    st.sendShut = true;
    if (st.tls != nullptr && how == SD_SEND) {
        return detail::TlsShutdownSend(s, st);  // close_notify, then FIN
    }
    // The FIN follows the joined sends still held; when the kernel cannot take them all yet,
    // the write edge that brings out the last of them ends the sending side.
    if (!detail::ShutdownAfterHeld(s, st)) {
        if (how == SD_BOTH && ::shutdown(s, SHUT_RD) < 0) {
            return Fail(errno);
        }
        return 0;
    }
    return ::shutdown(s, how == SD_BOTH ? SHUT_RDWR : SHUT_WR) < 0 ? Fail(errno) : 0;
}

int setsockopt(SOCKET s, int level, int optname, const void* optval, int optlen) {
    if (!Usable(s)) {
        return SOCKET_ERROR;
    }
    if (optval == nullptr || optlen < static_cast<int>(sizeof(int))) {
        WSASetLastError(WSAEFAULT);
        return SOCKET_ERROR;
    }
    if (level == SOL_SOCKET_ && optname == SO_DONTLINGER) {
        // Either value leaves the close graceful with the system's defaults: nothing to set.
        return 0;
    }
    if (level == SOL_SOCKET_ && optname == SO_LINGER_) {
        const auto* value = static_cast<const LINGER*>(optval);
        if (value->l_onoff != 0 && value->l_linger != 0) {
            WSASetLastError(WSAEINVAL);  // a close that waits has no place on the one thread
            return SOCKET_ERROR;
        }
        Sockets().Find(s)->hardClose = value->l_onoff != 0;
        return 0;
    }
    if (level == IPPROTO_IPV6_ && optname == IPV6_V6ONLY_) {
        const int on = *static_cast<const int*>(optval) != 0 ? 1 : 0;
        if (::setsockopt(s, IPPROTO_IPV6, IPV6_V6ONLY, &on, sizeof on) < 0) {
            return Fail(errno);
        }
        return 0;
    }
    if (level == IPPROTO_TCP_ && optname == TCP_NODELAY_) {
        const int on = *static_cast<const int*>(optval) != 0 ? 1 : 0;
        if (::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on) < 0) {
            return Fail(errno);
        }
        return 0;
    }
    WSASetLastError(WSAENOPROTOOPT);
    return SOCKET_ERROR;
}

}  // namespace corvane::platform
