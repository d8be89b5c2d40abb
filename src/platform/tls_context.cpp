#include "platform/tls_context.h"

#include <openssl/err.h>
#include <openssl/ssl.h>

#include "platform/tls_internal.h"

namespace corvane::platform {
namespace {

std::string TakeReason() {
    std::string reason = detail::TlsErrorReason();
    return reason.empty() ? std::string("unknown error") : reason;
}

SSL_CTX* NewContext(const SSL_METHOD* method) {
    SSL_CTX* ctx = SSL_CTX_new(method);
    if (ctx == nullptr) {
        return nullptr;
    }
    SSL_CTX_set_min_proto_version(ctx, TLS1_2_VERSION);
    SSL_CTX_set_options(ctx, SSL_OP_NO_RENEGOTIATION);
    // Each session's buffers go back while it is idle: ten thousand quiet Connections
    // should not hold two records each.
    SSL_CTX_set_mode(ctx, SSL_MODE_RELEASE_BUFFERS);
    SSL_CTX_set_session_cache_mode(ctx, SSL_SESS_CACHE_OFF);
    return ctx;
}

}  // namespace

std::unique_ptr<TlsContext> TlsContext::ForServer(const std::string& certFile,
                                                  const std::string& keyFile,
                                                  TlsLoadFailure& failure) {
    ERR_clear_error();
    SSL_CTX* ctx = NewContext(TLS_server_method());
    if (ctx == nullptr) {
        failure = {false, TakeReason()};
        return nullptr;
    }
    if (SSL_CTX_use_certificate_chain_file(ctx, certFile.c_str()) != 1) {
        failure = {false, TakeReason()};
        SSL_CTX_free(ctx);
        return nullptr;
    }
    const std::string& key = keyFile.empty() ? certFile : keyFile;
    if (SSL_CTX_use_PrivateKey_file(ctx, key.c_str(), SSL_FILETYPE_PEM) != 1 ||
        SSL_CTX_check_private_key(ctx) != 1) {
        failure = {true, TakeReason()};
        SSL_CTX_free(ctx);
        return nullptr;
    }
    // No tickets: without a session cache they would only be bytes on the wire.
    SSL_CTX_set_num_tickets(ctx, 0);
    SSL_CTX_set_client_hello_cb(ctx, detail::TlsOnClientHello, nullptr);
    SSL_CTX_set_alpn_select_cb(ctx, detail::TlsOnAlpnSelect, nullptr);
    return std::unique_ptr<TlsContext>(new TlsContext(ctx, true, false));
}

std::unique_ptr<TlsContext> TlsContext::ForClient(bool verify, TlsLoadFailure& failure) {
    ERR_clear_error();
    SSL_CTX* ctx = NewContext(TLS_client_method());
    if (ctx == nullptr) {
        failure = {false, TakeReason()};
        return nullptr;
    }
    if (verify) {
        if (SSL_CTX_set_default_verify_paths(ctx) != 1) {
            failure = {false, TakeReason()};
            SSL_CTX_free(ctx);
            return nullptr;
        }
        SSL_CTX_set_verify(ctx, SSL_VERIFY_PEER, nullptr);
    } else {
        SSL_CTX_set_verify(ctx, SSL_VERIFY_NONE, nullptr);
    }
    return std::unique_ptr<TlsContext>(new TlsContext(ctx, false, verify));
}

TlsContext::~TlsContext() {
    SSL_CTX_free(ctx_);  // sessions still open hold references of their own
}

}  // namespace corvane::platform
