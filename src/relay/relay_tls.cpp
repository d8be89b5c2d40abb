// TLS on the relay's sides. The socket layer runs the sessions and their handshakes; the
// relay makes the contexts at Start, attaches a session to each socket that speaks TLS
// (the Client's as soon as it is accepted, the Server's once its connect has completed),
// logs each handshake's outcome and the reason of a later failure, and passes a peer's end
// without close_notify on as such.
// Everything else (reading, sending, counting, the rewrite, the dumps, pausing) sees only the
// plain bytes. With Tls None nothing here runs.
#include <cstdio>
#include <string>

#include "log/traffic_log.h"
#include "platform/tls_certificate.h"
#include "platform/tls_context.h"
#include "platform/tls_session.h"
#include "relay/address_text.h"
#include "relay/relay_engine.h"
#include "relay/socket_error_text.h"

namespace corvane::relay {

bool RelayEngine::PrepareTls(const std::string& remoteHost) {
    tlsForClients_.reset();
    tlsForServer_.reset();
    tlsLines_.clear();
    tlsPrepared_ = false;
    if (Tls == TlsMode::None) {
        tlsPrepared_ = true;
        return true;
    }
    const auto fail = [this](const std::string& line) {
        tlsForClients_.reset();
        tlsLines_.emplace_back(log::LogKind::Error, line);
        return false;
    };
    platform::TlsLoadFailure failure;
    if (ClientTls()) {
        platform::TlsCertificateFiles files{TlsCertFile, TlsKeyFile};
        std::string reason;
        bool remade = false;
        if (files.certFile.empty() &&
            !platform::EnsureSelfSignedCertificate(TlsStateDir, files, reason, &remade)) {
            return fail("Could not make TLS certificate in " + TlsStateDir + ": " + reason);
        }
        if (remade) {
            tlsLines_.emplace_back(log::LogKind::Inform,
                                   "TLS certificate and key in " + TlsStateDir +
                                       " did not belong together: made a new pair");
        }
        tlsForClients_ = platform::TlsContext::ForServer(files.certFile, files.keyFile, failure);
        if (tlsForClients_ == nullptr) {
            const std::string& file =
                failure.keyFile && !files.keyFile.empty() ? files.keyFile : files.certFile;
            return fail(std::string(failure.keyFile ? "Could not load TLS key "
                                                    : "Could not load TLS certificate ") +
                        file + ": " + failure.reason);
        }
        const std::string fingerprint = platform::CertificateFingerprint(files.certFile, reason);
        tlsLines_.emplace_back(
            log::LogKind::Inform,
            "TLS certificate: " + files.certFile +
                (fingerprint.empty() ? std::string() : ", SHA-256 " + fingerprint));
        // The key is read from the certificate's file when no file of its own is given.
        const std::string& keyFile = files.keyFile.empty() ? files.certFile : files.keyFile;
        unsigned mode = 0;
        if (platform::OthersCanRead(keyFile, mode)) {
            char octal[8];
            std::snprintf(octal, sizeof octal, "%04o", mode);
            tlsLines_.emplace_back(
                log::LogKind::Inform,
                "TLS key " + keyFile + " can be read by other users (mode " + octal + ")");
        }
    }
    if (ServerTls()) {
        tlsForServer_ = platform::TlsContext::ForClient(TlsVerify, failure);
        if (tlsForServer_ == nullptr) {
            return fail("Could not set up TLS: " + failure.reason);
        }
        platform::SocketAddress address;
        const bool isAddress = ParseAddress(remoteHost, address);
        tlsServerName_ = isAddress ? std::string() : remoteHost;
        tlsVerifyHost_ = remoteHost;
    }
    tlsPrepared_ = true;
    return true;
}

void RelayEngine::LogTlsPreparation() {
    for (const auto& [kind, line] : tlsLines_) {
        if (kind == log::LogKind::Error) {
            log_.LogError(line.c_str());
        } else {
            log_.LogInform(line.c_str());
        }
    }
    tlsLines_.clear();
}

bool RelayEngine::AttachClientTls(Connection& c) {
    platform::TlsSessionOptions options;
    options.handshakeTimeoutMs = TlsHandshakeTimeoutMs;
    if (Tls == TlsMode::Both) {
        options.alpnPartner = c.serverSocket;  // the Client's hello waits for the Server's choice
    }
    if (platform::TlsAttach(c.clientSocket, *tlsForClients_, options) == 0) {
        return true;
    }
    log_.LogConnectionLine(
        c.Tag(),
        "TLS with Client failed: " + std::string(SocketErrorText(platform::WSAGetLastError())),
        log::LogKind::Error);
    MarkEnded(c, ConnectionState::Failed);
    DisconnectServer(c, 0);
    return false;
}

bool RelayEngine::AttachServerTls(Connection& c) {
    platform::TlsSessionOptions options;
    options.serverName = tlsServerName_;
    options.verifyHost = tlsVerifyHost_;
    options.handshakeTimeoutMs = TlsHandshakeTimeoutMs;
    if (Tls == TlsMode::Both) {
        options.alpnPartner = c.clientSocket;  // offers what the Client offered
    }
    if (platform::TlsAttach(c.serverSocket, *tlsForServer_, options) == 0) {
        return true;
    }
    log_.LogConnectionLine(
        c.Tag(),
        "TLS with Server failed: " + std::string(SocketErrorText(platform::WSAGetLastError())),
        log::LogKind::Error);
    EndConnecting(c);
    return false;
}

void RelayEngine::OnTlsHandshake(Connection& c, platform::SOCKET s, int error) {
    const bool clientSide = s == c.clientSocket;
    // The side that has ended already changes nothing any more.
    if ((clientSide && c.draining == Draining::ToServer) ||
        (!clientSide && c.draining == Draining::ToClient)) {
        return;
    }
    platform::TlsSessionInfo info;
    platform::TlsQuery(s, info);
    const std::string side = clientSide ? "TLS with Client" : "TLS with Server";
    if (error == 0) {
        std::string line = side + ": " + info.version + ", " + info.cipher;
        if (!clientSide) {
            line += ", " +
                    (info.peerSubject.empty() ? std::string("no certificate") : info.peerSubject);
            line += info.peerVerified ? ", verified" : ", not verified";
        }
        log_.LogConnectionLine(c.Tag(), line, log::LogKind::Inform);
        (clientSide ? c.clientTls : c.serverTls) = info.version;
        return;
    }
    MarkEnded(c, ConnectionState::Failed);
    const std::string reason =
        info.failure.empty() ? std::string(SocketErrorText(error)) : info.failure;
    log_.LogConnectionLine(c.Tag(), side + " failed: " + reason, log::LogKind::Error);
    // Ended as a failed connect ends it on that side: the other side is disconnected and
    // whatever waited for the failed one is dropped.
    if (c.draining == Draining::Both) {
        FinishClosing(c);
    } else if (c.draining == Draining::ToServer) {
        FinishDisconnectServer(c);
    } else if (c.draining == Draining::ToClient) {
        FinishDisconnectClient(c);
    } else if (clientSide) {
        DisconnectServer(c, 0);
    } else {
        EndConnecting(c);
    }
}

void RelayEngine::PassOnTlsEnd(Connection& c, bool clientSide) {
    if (!(clientSide ? ClientTls() : ServerTls())) {
        return;
    }
    platform::TlsSessionInfo info;
    if (!platform::TlsQuery(clientSide ? c.clientSocket : c.serverSocket, info) ||
        !info.endedWithoutCloseNotify) {
        return;
    }
    log_.LogConnectionInform(c.Tag(), clientSide ? "Client closed without close_notify"
                                                 : "Server closed without close_notify");
    // The other peer sees the same: a FIN without close_notify, when it speaks TLS too.
    platform::TlsEndWithoutCloseNotify(clientSide ? c.serverSocket : c.clientSocket);
}

void RelayEngine::LogSideError(Connection& c, bool clientSide, int error) {
    platform::TlsSessionInfo info;
    if ((clientSide ? ClientTls() : ServerTls()) &&
        platform::TlsQuery(clientSide ? c.clientSocket : c.serverSocket, info) &&
        !info.failure.empty()) {
        // The session failed (a record that cannot be decrypted, one too long, an alert):
        // OpenSSL's reason says more than the socket error it reads as.
        log_.LogConnectionLine(
            c.Tag(),
            (clientSide ? "TLS with Client failed: " : "TLS with Server failed: ") + info.failure,
            log::LogKind::Error);
        return;
    }
    log_.LogConnectionInform(c.Tag(), SocketErrorText(error));
}

}  // namespace corvane::relay
