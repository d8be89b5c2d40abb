// A session's records: plain bytes read from the ciphertext that came (TlsRecv), plain bytes
// sealed into records and sent (TlsSend, joined within a pass), and the readiness edges
// turned into the plain bytes' events (TlsOnEdge).
#include <sys/epoll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>

#include <openssl/ssl.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>
#include <utility>

#include "platform/byte_block.h"
#include "platform/socket_events.h"
#include "platform/tls_internal.h"
#include "platform/tls_session_state.h"
#include "platform/write_behind.h"

namespace corvane::platform::detail {
namespace tls {
namespace {

// The records one recv may look through.
constexpr int kReadRounds = 64;

// Ciphertext in the pair that the session has not read yet.
bool CipherWaiting(const TlsSession& t) {
    return BIO_ctrl_pending(SSL_get_rbio(t.ssl)) > 0;
}

// OpenSSL's reason for a failure after the handshake; the first one stands, since the calls
// after it fail again with less to say.
void KeepFailure(TlsSession& t) {
    std::string reason = TlsErrorReason();
    if (t.failure.empty()) {
        t.failure = std::move(reason);
    }
}

// Room in the pair for one more record, after handing what it holds to the kernel if need be.
bool HasRecordRoom(int fd, SocketState& st, TlsSession& t) {
    BIO* inner = SSL_get_wbio(t.ssl);
    if (BIO_ctrl_get_write_guarantee(inner) >= kRecordRoom) {
        return true;
    }
    FlushOut(fd, st, t);
    return BIO_ctrl_get_write_guarantee(inner) >= kRecordRoom;
}

// Seals plain bytes (at most one record's) into the pair. False on a failure, which the next
// send reports.
bool WriteRecord(TlsSession& t, const char* bytes, int count) {
    ClearErrors();
    if (SSL_write(t.ssl, bytes, count) == count) {
        return true;
    }
    KeepFailure(t);
    t.sendErrno = ECONNABORTED;
    return false;
}

// Copies plain bytes behind the staged ones, sealing them once they fill a record: the bytes
// taken.
int StagePlain(TlsSession& t, const char* bytes, int count) {
    const int n = std::min(count, kPlainPerWrite - t.staged->end);
    std::memcpy(t.staged->bytes + t.staged->end, bytes, static_cast<std::size_t>(n));
    t.staged->end += n;
    if (t.staged->end == kPlainPerWrite) {
        SealStaged(t);
    }
    return n;
}

}  // namespace

void PostRead(int fd, SocketState& st) {
    st.readArmed = false;
    PostSocketEvent(fd, st, FD_READ, 0);
}

void MaybePostClose(int fd, SocketState& st, bool waiting) {
    if (st.closePosted || !st.peerClosed || (st.closeError == 0 && waiting)) {
        return;
    }
    st.closePosted = true;
    PostSocketEvent(fd, st, FD_CLOSE, st.closeError);
}

bool PlainMayWait(const TlsSession& t) {
    return SSL_pending(t.ssl) > 0 || CipherWaiting(t);
}

bool FlushOut(int fd, SocketState& st, TlsSession& t) {
    for (;;) {
        char* bytes = nullptr;
        const int held = BIO_nread0(t.network, &bytes);
        if (held <= 0) {
            break;
        }
        ssize_t n = -1;
        int error = 0;
        for (int attempt = 0; attempt < kInterruptRetries; ++attempt) {
            n = ::send(fd, bytes, static_cast<std::size_t>(held), MSG_NOSIGNAL | MSG_DONTWAIT);
            error = n < 0 ? errno : 0;
            if (error != EINTR) {
                break;
            }
        }
        if (n < 0) {
            if (error == EAGAIN || error == EWOULDBLOCK) {
                return false;
            }
            // The connection is broken: what was held goes with it; the next send says why.
            t.sendErrno = error;
            st.closeError = st.closeError != 0 ? st.closeError : ErrorFromErrno(error);
            BIO_nread(t.network, &bytes, held);
            continue;
        }
        BIO_nread(t.network, &bytes, static_cast<int>(n));
        if (n < held) {
            return false;
        }
    }
    if (t.finAfterFlush) {
        t.finAfterFlush = false;
        ::shutdown(fd, SHUT_WR);
    }
    return true;
}

void SealStaged(TlsSession& t) {
    if (t.staged == nullptr) {
        return;
    }
    if (t.staged->Held() > 0) {
        WriteRecord(t, t.staged->bytes, t.staged->Held());
    }
    ReturnBlock(t.staged, BlockUse::kWriteBehind);
    t.staged = nullptr;
}

int Feed(int fd, SocketState& st, TlsSession& t) {
    if (t.kernelEof) {
        return -1;
    }
    char* room = nullptr;
    const int space = BIO_nwrite0(t.network, &room);
    if (space <= 0) {
        return 0;
    }
    ssize_t n = -1;
    int error = 0;
    for (int attempt = 0; attempt < kInterruptRetries; ++attempt) {
        n = ::recv(fd, room, static_cast<std::size_t>(space), MSG_DONTWAIT);
        error = n < 0 ? errno : 0;
        if (error != EINTR) {
            break;
        }
    }
    if (n > 0) {
        BIO_nwrite(t.network, &room, static_cast<int>(n));
        st.inputDrained = n < space;
        return static_cast<int>(n);
    }
    st.inputDrained = true;
    if (n == 0) {
        t.kernelEof = true;
        st.peerClosed = true;
        return -1;
    }
    if (error == EAGAIN || error == EWOULDBLOCK) {
        return 0;
    }
    st.peerClosed = true;
    st.closeError = ErrorFromErrno(error);
    return -2;
}

}  // namespace tls

using namespace tls;

int TlsRecv(int fd, SocketState& st, char* buf, int len) {
    TlsSession& t = *st.tls;
    st.readArmed = true;
    if (t.state == TlsState::kHandshaking) {
        Advance(fd, st, t);
    }
    if (t.state != TlsState::kEstablished) {
        // Until the handshake is done there is nothing to read; a failure is FD_TLS's.
        return SetError(WSAEWOULDBLOCK);
    }
    if (len <= 0) {
        return 0;
    }
    for (int round = 0; round < kReadRounds; ++round) {
        ClearErrors();
        const int n = SSL_read(t.ssl, buf, len);
        if (n > 0) {
            FlushOut(fd, st, t);
            // The next read is asked for while bytes may wait, and also once the peer's end
            // has been reported (a reader that went on reading, as Resume does, gets no edge
            // again). A read that drained the session after the peer's end, close_notify or
            // the TCP end alike, is followed by FD_CLOSE: no edge would come for it either.
            if (n == len || PlainMayWait(t) || !st.inputDrained || st.closePosted) {
                PostRead(fd, st);
            } else {
                MaybePostClose(fd, st, false);
            }
            return n;
        }
        switch (SSL_get_error(t.ssl, n)) {
            case SSL_ERROR_WANT_READ: {
                const int fed = Feed(fd, st, t);
                if (fed > 0) {
                    continue;
                }
                if (fed == 0) {
                    return SetError(WSAEWOULDBLOCK);
                }
                // The TCP end without close_notify is the end all the same; a reset is one.
                MaybePostClose(fd, st, false);
                return st.closeError != 0 ? SetError(st.closeError) : 0;
            }
            case SSL_ERROR_ZERO_RETURN:
                st.peerClosed = true;  // close_notify: the peer's orderly end
                MaybePostClose(fd, st, false);
                return 0;
            case SSL_ERROR_WANT_WRITE:
                FlushOut(fd, st, t);
                return SetError(WSAEWOULDBLOCK);
            default:
                KeepFailure(t);
                st.peerClosed = true;
                st.closeError = st.closeError != 0 ? st.closeError : WSAECONNABORTED;
                MaybePostClose(fd, st, false);
                return SetError(st.closeError);
        }
    }
    PostRead(fd, st);
    return SetError(WSAEWOULDBLOCK);
}

int TlsSend(int fd, SocketState& st, const char* buf, int len) {
    TlsSession& t = *st.tls;
    if (t.sendErrno != 0) {
        return SetError(ErrorFromErrno(t.sendErrno));
    }
    if (t.state != TlsState::kEstablished) {
        st.writeArmed = true;  // FD_WRITE follows the handshake
        return SetError(WSAEWOULDBLOCK);
    }
    if (len <= 0) {
        return 0;
    }
    // The first send of a pass goes out at once. The later ones are joined: their bytes are
    // sealed into records of the largest size and left in the pair for the pass's end, so
    // that a relay handing on one short read after another sends few records in few calls.
    const bool join = JoinTlsSend(fd, st, t.joined);
    int taken = 0;
    while (taken < len && t.sendErrno == 0) {
        const int rest = len - taken;
        if (t.staged == nullptr && !HasRecordRoom(fd, st, t)) {
            break;
        }
        if (t.staged == nullptr && join && rest < kPlainPerWrite) {
            t.staged = TakeBlock(BlockUse::kWriteBehind);
        }
        if (t.staged != nullptr) {
            taken += StagePlain(t, buf + taken, rest);
        } else if (WriteRecord(t, buf + taken, std::min(rest, kPlainPerWrite))) {
            taken += std::min(rest, kPlainPerWrite);
        }
    }
    if (!join) {
        FlushOut(fd, st, t);
    }
    if (t.sendErrno != 0 && taken == 0) {
        return SetError(ErrorFromErrno(t.sendErrno));
    }
    if (taken < len) {
        st.writeArmed = true;
    }
    if (taken == 0) {
        return SetError(WSAEWOULDBLOCK);
    }
    NoteSend(fd, taken, taken, 0);  // bytes went out: the loop looks for the answer
    return taken;
}

void TlsOnEdge(int fd, SocketState& st, std::uint32_t events) {
    TlsSession& t = *st.tls;
    const bool hangup = (events & (EPOLLRDHUP | EPOLLHUP | EPOLLERR)) != 0;
    if ((events & EPOLLIN) != 0) {
        st.inputDrained = false;
    }
    if ((events & EPOLLERR) != 0) {
        int error = 0;
        socklen_t length = sizeof error;
        if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) == 0 && error != 0) {
            st.closeError = ErrorFromErrno(error);
        }
    }
    if (t.state == TlsState::kHandshaking) {
        if ((events & EPOLLOUT) != 0) {
            FlushOut(fd, st, t);
        }
        // The peer's end may come right behind its last flight and first bytes: remembered,
        // so that the read that drains them is followed by FD_CLOSE (no edge comes again).
        st.peerClosed = st.peerClosed || hangup;
        int inKernel = 0;
        if (st.closeError != 0 && (::ioctl(fd, FIONREAD, &inKernel) != 0 || inKernel <= 0)) {
            st.peerClosed = true;
            Fail(fd, st, t, st.closeError, std::string());
            return;
        }
        // Bytes that came before a reset are read first: a peer that gives up sends its
        // alert, which says why, and closes over what it left unread.
        Advance(fd, st, t);
        if (t.state == TlsState::kHandshaking && st.closeError != 0) {
            st.peerClosed = true;
            Fail(fd, st, t, st.closeError, std::string());
        }
        return;
    }
    if (t.state == TlsState::kFailed) {
        if ((events & EPOLLOUT) != 0) {
            FlushOut(fd, st, t);
        }
        return;
    }
    if ((events & EPOLLOUT) != 0 && FlushOut(fd, st, t) && st.writeArmed &&
        BIO_ctrl_get_write_guarantee(SSL_get_wbio(t.ssl)) >= kRecordRoom) {
        st.writeArmed = false;
        PostSocketEvent(fd, st, FD_WRITE, 0);
    }
    if ((events & EPOLLIN) != 0 && st.readArmed) {
        PostRead(fd, st);
    }
    if (hangup) {
        st.peerClosed = true;
        int inKernel = 0;
        if (::ioctl(fd, FIONREAD, &inKernel) != 0) {
            inKernel = 0;
        }
        const bool waiting = inKernel > 0 || PlainMayWait(t);
        if (waiting && st.readArmed) {
            PostRead(fd, st);
        }
        MaybePostClose(fd, st, waiting || !st.readArmed);
    }
}

void TlsWriteJoined(int fd, SocketState& st) {
    TlsSession& t = *st.tls;
    t.joined = false;
    SealStaged(t);
    FlushOut(fd, st, t);
}

}  // namespace corvane::platform::detail
