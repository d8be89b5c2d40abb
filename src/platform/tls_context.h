// A TLS configuration that the sessions of one side of the relay are made from: the server
// role (a certificate and its key, presented to Clients) or the client role (towards a
// Server, verifying its certificate against the system's store or not). The only place
// besides the sessions that knows OpenSSL; the relay sees an opaque object.
#pragma once

#include <memory>
#include <string>

struct ssl_ctx_st;

namespace corvane::platform {

// Why a context could not be made: keyFile tells whether the key (not the certificate) was
// at fault; reason is OpenSSL's text.
struct TlsLoadFailure {
    bool keyFile = false;
    std::string reason;
};

class TlsContext {
public:
    // The certificate chain and its private key, both PEM; the key may be in the certificate's
    // file (keyFile empty). nullptr with failure filled in when either cannot be loaded or
    // they do not belong together.
    static std::unique_ptr<TlsContext> ForServer(const std::string& certFile,
                                                 const std::string& keyFile,
                                                 TlsLoadFailure& failure);
    // verify: the Server's certificate must chain to the system's store and name the host
    // each session is given (TlsSessionOptions::verifyHost); a failure fails the handshake.
    static std::unique_ptr<TlsContext> ForClient(bool verify, TlsLoadFailure& failure);

    ~TlsContext();
    TlsContext(const TlsContext&) = delete;
    TlsContext& operator=(const TlsContext&) = delete;

    bool ServerRole() const { return serverRole_; }
    bool Verifies() const { return verify_; }
    ssl_ctx_st* Native() const { return ctx_; }

private:
    TlsContext(ssl_ctx_st* ctx, bool serverRole, bool verify)
        : ctx_(ctx), serverRole_(serverRole), verify_(verify) {}

    ssl_ctx_st* ctx_;
    bool serverRole_;
    bool verify_;
};

}  // namespace corvane::platform
