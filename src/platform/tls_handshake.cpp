// A session's handshake: driven by the edges (and by the first step at TlsAttach), ended by
// one FD_TLS, at the latest when its deadline passes. Across a relayed pair whose two ends both
// speak TLS, the Client's hello waits for the Server's handshake to choose an ALPN protocol among
// those the Client offered.
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <QCoreApplication>
#include <QPointer>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstring>
#include <string>
#include <utility>

#include "platform/socket_events.h"
#include "platform/tls_internal.h"
#include "platform/tls_session_state.h"

namespace corvane::platform::detail {
namespace tls {
namespace {

// Bounds one handshake step.
constexpr int kHandshakeRounds = 32;

// The handshakes with a deadline, earliest first (new ones nearly always go last), and the one
// timer that fires at the earliest deadline.
struct Deadlines {
    TlsSession* first = nullptr;
    TlsSession* last = nullptr;
    QPointer<QTimer> timer;
};

Deadlines& Pending() {
    static Deadlines deadlines;
    return deadlines;
}

std::int64_t NowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

void OnDeadline();

void ArmDeadlineTimer() {
    Deadlines& d = Pending();
    if (d.first == nullptr) {
        return;
    }
    if (d.timer.isNull()) {
        QCoreApplication* app = QCoreApplication::instance();
        if (app == nullptr) {
            return;
        }
        // Parented to the application so that it is gone before the event loop is.
        d.timer = new QTimer(app);
        d.timer->setSingleShot(true);
        QObject::connect(d.timer.data(), &QTimer::timeout, d.timer.data(), [] { OnDeadline(); });
    }
    d.timer->start(static_cast<int>(std::max<std::int64_t>(d.first->deadlineMs - NowMs(), 0)));
}

// Fails the handshakes whose time is up; a session of a socket that is not the program's any
// more (closed, lingering) only leaves the list.
void OnDeadline() {
    Deadlines& d = Pending();
    const std::int64_t now = NowMs();
    while (d.first != nullptr && d.first->deadlineMs <= now) {
        TlsSession& t = *d.first;
        ForgetHandshakeDeadline(t);
        const int fd = static_cast<int>(t.key & 0xFFFFFFFFu);
        SocketState* st = Sockets().Find(fd);
        if (st != nullptr && st->tls == &t && t.state == TlsState::kHandshaking) {
            Fail(fd, *st, t, WSAETIMEDOUT, "handshake timed out");
        }
    }
    ArmDeadlineTimer();
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

void Established(int fd, SocketState& st, TlsSession& t) {
    ForgetHandshakeDeadline(t);
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

}  // namespace

void SetHandshakeDeadline(TlsSession& t, std::uint64_t key, int timeoutMs) {
    Deadlines& d = Pending();
    t.key = key;
    t.deadlineMs = NowMs() + timeoutMs;
    t.hasDeadline = true;
    TlsSession* before = d.last;
    while (before != nullptr && before->deadlineMs > t.deadlineMs) {
        before = before->earlier;
    }
    t.earlier = before;
    t.later = before != nullptr ? before->later : d.first;
    (t.earlier != nullptr ? t.earlier->later : d.first) = &t;
    (t.later != nullptr ? t.later->earlier : d.last) = &t;
    if (d.first == &t) {
        ArmDeadlineTimer();
    }
}

void ForgetHandshakeDeadline(TlsSession& t) {
    if (!t.hasDeadline) {
        return;
    }
    Deadlines& d = Pending();
    (t.earlier != nullptr ? t.earlier->later : d.first) = t.later;
    (t.later != nullptr ? t.later->earlier : d.last) = t.earlier;
    t.earlier = nullptr;
    t.later = nullptr;
    t.hasDeadline = false;
}

void Fail(int fd, SocketState& st, TlsSession& t, int error, std::string reason) {
    ForgetHandshakeDeadline(t);
    t.state = TlsState::kFailed;
    t.failure = std::move(reason);
    FlushOut(fd, st, t);  // the alert, when there is one
    PostSocketEvent(fd, st, FD_TLS, error);
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

}  // namespace tls

using namespace tls;

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

}  // namespace corvane::platform::detail
