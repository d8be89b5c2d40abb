// TLS sessions on the layer's sockets: attaching one, what it tells (TlsQuery), freeing it.
// The session's state and the steps of its handshake, records and close are in
// tls_session_state.h.
#include "platform/tls_session.h"

#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <algorithm>
#include <cstring>
#include <new>

#include "platform/byte_block.h"
#include "platform/socket_events.h"
#include "platform/tls_internal.h"
#include "platform/tls_session_state.h"

namespace corvane::platform {
namespace detail {
namespace tls {

void ClearErrors() {
    if (ERR_peek_error() != 0) {
        ERR_clear_error();
    }
}

int SetError(int error) {
    WSASetLastError(error);
    return SOCKET_ERROR;
}

}  // namespace tls

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
    tls::ClearErrors();
    return reason;
}

void DestroyTlsSession(TlsSession* session) {
    if (session == nullptr) {
        return;
    }
    tls::ForgetHandshakeDeadline(*session);
    ReturnBlock(session->staged, BlockUse::kWriteBehind);
    SSL_free(session->ssl);  // frees its end of the pair
    BIO_free(session->network);
    delete session;
}

}  // namespace detail

int TlsAttach(SOCKET s, const TlsContext& context, const TlsSessionOptions& options) {
    using namespace detail;
    using namespace detail::tls;
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
    if (options.handshakeTimeoutMs > 0) {
        SetHandshakeDeadline(*t, SocketTable::Key(s, st->generation), options.handshakeTimeoutMs);
    }
    ClearErrors();
    Advance(s, *st, *t);
    return 0;
}

bool TlsQuery(SOCKET s, TlsSessionInfo& info) {
    using namespace detail;
    using namespace detail::tls;
    const SocketState* st = Sockets().Find(s);
    if (st == nullptr || st->tls == nullptr) {
        return false;
    }
    const TlsSession& t = *st->tls;
    info = TlsSessionInfo{};
    info.established = t.state == TlsState::kEstablished;
    info.failure = t.failure;
    info.endedWithoutCloseNotify =
        t.kernelEof && (SSL_get_shutdown(t.ssl) & SSL_RECEIVED_SHUTDOWN) == 0;
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

bool TlsEndWithoutCloseNotify(SOCKET s) {
    detail::SocketState* st = detail::Sockets().Find(s);
    if (st == nullptr || st->tls == nullptr) {
        return false;
    }
    st->tls->withoutCloseNotify = true;
    return true;
}

}  // namespace corvane::platform
