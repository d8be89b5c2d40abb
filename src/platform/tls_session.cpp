// TLS sessions on the layer's sockets. Between the socket and OpenSSL sits a BIO pair: the
// ciphertext from the kernel is read straight into its free room and the session's output is
// sent straight from it, so no byte is copied on the way. Its bounded room is what holds the
// sender back: a plain send is taken only when a whole record fits behind the ciphertext
// that waits for the kernel.
#include <sys/epoll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>

#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>

#include "platform/byte_block.h"
#include "platform/socket_events.h"
#include "platform/tls_internal.h"
#include "platform/tls_session.h"
#include "platform/write_behind.h"

namespace corvane::platform {
namespace detail {

namespace {

// Each direction of the pair: room for two full records and their overhead.
constexpr std::size_t kPairBytes = 40960;
// The largest record's ciphertext (16 KiB of plain bytes plus header, type and tag) with
// room to spare: a send is taken only when this much room is free.
constexpr std::size_t kRecordRoom = 16384 + 512;
constexpr int kPlainPerWrite = 16384;
constexpr int kInterruptRetries = 8;
// Bounds of one handshake step and of the records one recv may look through.
constexpr int kHandshakeRounds = 32;
constexpr int kReadRounds = 64;

}  // namespace

enum class TlsState : std::uint8_t { kHandshaking, kEstablished, kFailed };

struct TlsSession {
    SSL* ssl = nullptr;
    BIO* network = nullptr;  // our end of the pair; the session holds the other
    bool serverRole = false;
    bool verifies = false;
    TlsState state = TlsState::kHandshaking;
    bool kernelEof = false;  // the kernel's end of input was read
    int sendErrno = 0;       // a failed write of ciphertext, for the next send
    bool shutAfterHandshake = false;
    bool closeNotifySent = false;
    bool finAfterFlush = false;  // the FIN waits for the ciphertext still held
    bool joined = false;         // listed to be written at the pass's end (write_behind.h)
    // The plain bytes of a pass's later sends, joined into one record until it is full or
    // the pass ends; only while a record's room in the pair is kept for them.
    ByteBlock* staged = nullptr;
    std::string failure;

    // ALPN across a relayed pair (TlsSessionOptions::alpnPartner).
    std::uint64_t partnerKey = 0;  // the other socket's key (fd and generation), 0 for none
    // Server role: the Client's hello has been seen, with what it offered (wire format).
    bool relayAlpn = false;
    bool helloSeen = false;
    std::string offered;
    bool choiceKnown = false;  // the partner's handshake chose (chosen, empty for none)
    std::string chosen;
    // Client role: waiting for the partner's hello before beginning.
    bool waitingForHello = false;
};

namespace {

// The thread's error queue is emptied before each call whose outcome SSL_get_error reads;
// it is nearly always empty already, and looking costs less than clearing.
void ClearErrors() {
    if (ERR_peek_error() != 0) {
        ERR_clear_error();
    }
}

TlsSession* SessionOf(SSL* ssl) {
    return static_cast<TlsSession*>(SSL_get_app_data(ssl));
}

// The socket state of a key when it is still the socket it was and has a session.
SocketState* PartnerState(std::uint64_t key, int& fd) {
    if (key == 0) {
        return nullptr;
    }
    fd = static_cast<int>(key & 0xFFFFFFFFu);
    SocketState* s = Sockets().Find(fd);
    if (s == nullptr || SocketTable::Key(fd, s->generation) != key || s->tls == nullptr) {
        return nullptr;
    }
    return s;
}

int SetError(int error) {
    WSASetLastError(error);
    return SOCKET_ERROR;
}

void PostRead(int fd, SocketState& st) {
    st.readArmed = false;
    PostSocketEvent(fd, st, FD_READ, 0);
}

// FD_CLOSE once, after a reset at once, after the end only when no plain byte waits.
void MaybePostClose(int fd, SocketState& st, bool waiting) {
    if (st.closePosted || !st.peerClosed || (st.closeError == 0 && waiting)) {
        return;
    }
    st.closePosted = true;
    PostSocketEvent(fd, st, FD_CLOSE, st.closeError);
}

// Ciphertext in the pair that the session has not read yet.
bool CipherWaiting(const TlsSession& t) {
    return BIO_ctrl_pending(SSL_get_rbio(t.ssl)) > 0;
}

bool PlainMayWait(const TlsSession& t) {
    return SSL_pending(t.ssl) > 0 || CipherWaiting(t);
}

// Hands the session's output to the kernel. False when some of it is still held.
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
    t.failure = TlsErrorReason();
    t.sendErrno = ECONNABORTED;
    return false;
}

// The staged bytes become one record; the room for it was there when the first was staged.
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

// Reads ciphertext from the kernel into the pair: the bytes taken, 0 when nothing waits (or
// no room), -1 at the kernel's end of input, -2 on a failure (closeError set).
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

void Advance(int fd, SocketState& st, TlsSession& t);

// The partner of a session that has seen its Client's hello may begin its own handshake.
void KickWaitingPartner(TlsSession& t) {
    int partnerFd = -1;
    SocketState* ps = PartnerState(t.partnerKey, partnerFd);
    if (ps == nullptr || !ps->tls->waitingForHello) {
        return;
    }
    TlsSession& p = *ps->tls;
    p.waitingForHello = false;
    if (!t.offered.empty()) {
        SSL_set_alpn_protos(p.ssl, reinterpret_cast<const unsigned char*>(t.offered.data()),
                            static_cast<unsigned>(t.offered.size()));
    }
    Advance(partnerFd, *ps, p);
}

// The Server's handshake has chosen: the Client's paused hello can be answered.
void AnswerPartner(TlsSession& t) {
    int partnerFd = -1;
    SocketState* ps = PartnerState(t.partnerKey, partnerFd);
    if (ps == nullptr || !ps->tls->relayAlpn || ps->tls->choiceKnown) {
        return;
    }
    TlsSession& p = *ps->tls;
    const unsigned char* protocol = nullptr;
    unsigned int length = 0;
    SSL_get0_alpn_selected(t.ssl, &protocol, &length);
    p.choiceKnown = true;
    p.chosen.assign(reinterpret_cast<const char*>(protocol), length);
    Advance(partnerFd, *ps, p);
}

void Fail(int fd, SocketState& st, TlsSession& t, int error, std::string reason) {
    t.state = TlsState::kFailed;
    t.failure = std::move(reason);
    FlushOut(fd, st, t);  // the alert, when there is one
    PostSocketEvent(fd, st, FD_TLS, error);
}

void Established(int fd, SocketState& st, TlsSession& t) {
    t.state = TlsState::kEstablished;
    PostSocketEvent(fd, st, FD_TLS, 0);
    // Sends were held until now.
    st.writeArmed = false;
    PostSocketEvent(fd, st, FD_WRITE, 0);
    if (!t.serverRole) {
        AnswerPartner(t);
    }
    if (t.shutAfterHandshake) {
        t.shutAfterHandshake = false;
        TlsShutdownSend(fd, st);
    }
    // Bytes that came right behind the handshake, or the peer's end.
    if (st.readArmed && (PlainMayWait(t) || !st.inputDrained)) {
        PostRead(fd, st);
    } else if (st.peerClosed) {
        MaybePostClose(fd, st, false);
    }
}

void Advance(int fd, SocketState& st, TlsSession& t) {
    if (t.state != TlsState::kHandshaking || t.waitingForHello) {
        return;
    }
    for (int round = 0; round < kHandshakeRounds; ++round) {
        ClearErrors();
        const int result = SSL_do_handshake(t.ssl);
        const int reason = result == 1 ? SSL_ERROR_NONE : SSL_get_error(t.ssl, result);
        FlushOut(fd, st, t);
        if (t.serverRole && t.helloSeen) {
            KickWaitingPartner(t);
            if (st.tls != &t) {
                return;  // cannot happen: the partner never closes this socket
            }
        }
        if (result == 1) {
            Established(fd, st, t);
            return;
        }
        if (reason == SSL_ERROR_WANT_READ) {
            const int fed = Feed(fd, st, t);
            if (fed > 0) {
                continue;
            }
            if (fed == -1) {
                // Told to the session, whose reason for the failure then says so.
                BIO_shutdown_wr(t.network);
                continue;
            }
            if (fed == -2) {
                Fail(fd, st, t, st.closeError, std::string());
            }
            return;  // the next edge goes on
        }
        if (reason == SSL_ERROR_WANT_WRITE || reason == SSL_ERROR_WANT_CLIENT_HELLO_CB) {
            return;  // on write readiness, or once the partner's handshake has chosen
        }
        std::string why = TlsErrorReason();
        const long verify = SSL_get_verify_result(t.ssl);
        if (verify != X509_V_OK && t.verifies) {
            why += std::string(why.empty() ? "" : " (") + X509_verify_cert_error_string(verify) +
                   (why.empty() ? "" : ")");
        }
        if (why.empty()) {
            why = t.kernelEof ? "unexpected eof while reading" : "handshake failed";
        }
        Fail(fd, st, t, st.closeError != 0 ? st.closeError : WSAECONNABORTED, std::move(why));
        return;
    }
}

}  // namespace

std::string TlsErrorReason() {
    std::string reason;
    const unsigned long error = ERR_get_error();
    if (error != 0) {
        if (const char* text = ERR_reason_error_string(error)) {
            reason = text;
        } else {
            char buffer[256];
            ERR_error_string_n(error, buffer, sizeof buffer);
            reason = buffer;
        }
    }
    ClearErrors();
    return reason;
}

int TlsOnClientHello(SSL* ssl, int* /*alert*/, void* /*arg*/) {
    TlsSession* t = SessionOf(ssl);
    if (t == nullptr || !t->relayAlpn) {
        return SSL_CLIENT_HELLO_SUCCESS;
    }
    if (!t->helloSeen) {
        t->helloSeen = true;
        const unsigned char* data = nullptr;
        std::size_t length = 0;
        // The extension: a two-byte length, then the list in ALPN's wire format.
        if (SSL_client_hello_get0_ext(ssl, TLSEXT_TYPE_application_layer_protocol_negotiation,
                                      &data, &length) == 1 &&
            length > 2) {
            t->offered.assign(reinterpret_cast<const char*>(data) + 2, length - 2);
        }
    }
    if (t->offered.empty() || t->choiceKnown) {
        return SSL_CLIENT_HELLO_SUCCESS;
    }
    return SSL_CLIENT_HELLO_RETRY;
}

int TlsOnAlpnSelect(SSL* ssl, const unsigned char** out, unsigned char* outlen,
                    const unsigned char* in, unsigned int inlen, void* /*arg*/) {
    const TlsSession* t = SessionOf(ssl);
    if (t == nullptr || !t->relayAlpn || t->chosen.empty()) {
        return SSL_TLSEXT_ERR_NOACK;
    }
    for (unsigned int at = 0; at < inlen;) {
        const unsigned int length = in[at];
        if (at + 1 + length > inlen) {
            break;
        }
        if (length == t->chosen.size() && std::memcmp(in + at + 1, t->chosen.data(), length) == 0) {
            *out = in + at + 1;
            *outlen = static_cast<unsigned char>(length);
            return SSL_TLSEXT_ERR_OK;
        }
        at += 1 + length;
    }
    return SSL_TLSEXT_ERR_NOACK;
}

void DestroyTlsSession(TlsSession* session) {
    if (session == nullptr) {
        return;
    }
    ReturnBlock(session->staged, BlockUse::kWriteBehind);
    SSL_free(session->ssl);  // frees its end of the pair
    BIO_free(session->network);
    delete session;
}

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
            if (n == len || PlainMayWait(t) || !st.inputDrained) {
                PostRead(fd, st);
            } else if (st.peerClosed && st.closeError != 0) {
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
                t.failure = TlsErrorReason();
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

int TlsShutdownSend(int fd, SocketState& st) {
    TlsSession& t = *st.tls;
    if (t.state == TlsState::kHandshaking) {
        t.shutAfterHandshake = true;  // close_notify once there is a session to close
        return 0;
    }
    SealStaged(t);
    if (t.state == TlsState::kEstablished && !t.closeNotifySent) {
        t.closeNotifySent = true;
        ClearErrors();
        SSL_shutdown(t.ssl);
        ClearErrors();
    }
    t.finAfterFlush = true;
    FlushOut(fd, st, t);
    return 0;
}

void TlsBeforeClose(int fd, SocketState& st) {
    TlsSession* t = st.tls;
    SealStaged(*t);
    if (t->state == TlsState::kEstablished && !t->closeNotifySent) {
        t->closeNotifySent = true;
        ClearErrors();
        SSL_shutdown(t->ssl);
        ClearErrors();
    }
    if (!FlushOut(fd, st, *t) && st.behind == nullptr && st.phase == Phase::kConnected) {
        // What the kernel cannot take yet goes out in the background, as joined sends do.
        if ((st.behind = TakeBlock(BlockUse::kWriteBehind)) != nullptr) {
            for (;;) {
                char* bytes = nullptr;
                const int held = BIO_nread0(t->network, &bytes);
                const int n = std::min(held, st.behind->Room());
                if (n <= 0) {
                    break;
                }
                std::memcpy(st.behind->bytes + st.behind->end, bytes, static_cast<std::size_t>(n));
                st.behind->end += n;
                BIO_nread(t->network, &bytes, n);
            }
            st.behindBlocked = true;
            st.finAfterHeld = t->finAfterFlush;
        }
    }
    st.tls = nullptr;
    DestroyTlsSession(t);
}

}  // namespace detail

int TlsAttach(SOCKET s, const TlsContext& context, const TlsSessionOptions& options) {
    using namespace detail;
    if (!SocketsStarted()) {
        return SetError(WSANOTINITIALISED);
    }
    SocketState* st = Sockets().Find(s);
    if (st == nullptr) {
        return SetError(WSAENOTSOCK);
    }
    if (st->phase != Phase::kConnected || st->tls != nullptr ||
        (st->behind != nullptr && st->behind->Held() > 0)) {
        return SetError(WSAEINVAL);
    }
    auto* t = new (std::nothrow) TlsSession;
    BIO* inner = nullptr;
    if (t == nullptr || (t->ssl = SSL_new(context.Native())) == nullptr ||
        BIO_new_bio_pair(&inner, kPairBytes, &t->network, kPairBytes) != 1) {
        DestroyTlsSession(t);
        ClearErrors();
        return SetError(WSAENOBUFS);
    }
    SSL_set_bio(t->ssl, inner, inner);
    SSL_set_app_data(t->ssl, t);
    t->serverRole = context.ServerRole();
    t->verifies = context.Verifies();
    if (t->serverRole) {
        SSL_set_accept_state(t->ssl);
    } else {
        SSL_set_connect_state(t->ssl);
        if (!options.serverName.empty()) {
            SSL_set_tlsext_host_name(t->ssl, options.serverName.c_str());
        }
        if (t->verifies && !options.verifyHost.empty()) {
            // An address is checked against the certificate's IP names, a name against its
            // DNS names.
            X509_VERIFY_PARAM* param = SSL_get0_param(t->ssl);
            if (X509_VERIFY_PARAM_set1_ip_asc(param, options.verifyHost.c_str()) != 1) {
                ClearErrors();
                SSL_set1_host(t->ssl, options.verifyHost.c_str());
            }
        }
    }
    if (SocketState* partner = Sockets().Find(options.alpnPartner)) {
        t->partnerKey = SocketTable::Key(options.alpnPartner, partner->generation);
        if (t->serverRole) {
            t->relayAlpn = true;
        } else if (partner->tls != nullptr && partner->tls->relayAlpn) {
            TlsSession& p = *partner->tls;
            p.partnerKey = SocketTable::Key(s, st->generation);
            if (!p.helloSeen) {
                t->waitingForHello = true;  // KickWaitingPartner begins it
            } else if (!p.offered.empty()) {
                SSL_set_alpn_protos(t->ssl,
                                    reinterpret_cast<const unsigned char*>(p.offered.data()),
                                    static_cast<unsigned>(p.offered.size()));
            }
        }
    }
    // Bytes read ahead before the session came are its first ciphertext.
    if (st->ahead != nullptr) {
        while (st->ahead->Held() > 0) {
            char* room = nullptr;
            const int n = std::min(BIO_nwrite0(t->network, &room), st->ahead->Held());
            if (n <= 0) {
                break;
            }
            std::memcpy(room, st->ahead->bytes + st->ahead->begin, static_cast<std::size_t>(n));
            BIO_nwrite(t->network, &room, n);
            st->ahead->begin += n;
        }
        ReturnBlock(st->ahead, BlockUse::kReadAhead);
        st->ahead = nullptr;
    }
    st->streaming = false;
    st->tls = t;
    ClearErrors();
    Advance(s, *st, *t);
    return 0;
}

bool TlsQuery(SOCKET s, TlsSessionInfo& info) {
    using namespace detail;
    const SocketState* st = Sockets().Find(s);
    if (st == nullptr || st->tls == nullptr) {
        return false;
    }
    const TlsSession& t = *st->tls;
    info = TlsSessionInfo{};
    info.established = t.state == TlsState::kEstablished;
    info.failure = t.failure;
    if (!info.established) {
        return true;
    }
    info.version = SSL_get_version(t.ssl);
    if (const SSL_CIPHER* cipher = SSL_get_current_cipher(t.ssl)) {
        info.cipher = SSL_CIPHER_get_name(cipher);
    }
    if (X509* peer = SSL_get0_peer_certificate(t.ssl)) {
        if (BIO* text = BIO_new(BIO_s_mem())) {
            X509_NAME_print_ex(text, X509_get_subject_name(peer), 0,
                               XN_FLAG_ONELINE & ~XN_FLAG_SPC_EQ);
            char* data = nullptr;
            const long length = BIO_get_mem_data(text, &data);
            info.peerSubject.assign(data, static_cast<std::size_t>(length > 0 ? length : 0));
            BIO_free(text);
        }
        info.peerVerified = t.verifies && SSL_get_verify_result(t.ssl) == X509_V_OK;
    }
    const unsigned char* protocol = nullptr;
    unsigned int length = 0;
    SSL_get0_alpn_selected(t.ssl, &protocol, &length);
    info.alpn.assign(reinterpret_cast<const char*>(protocol), length);
    ClearErrors();
    return true;
}

}  // namespace corvane::platform
