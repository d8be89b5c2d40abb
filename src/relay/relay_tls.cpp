// TLS on the relay's sides. The socket layer runs the sessions and their handshakes; the
// relay makes the contexts at Start, attaches a session to each socket that speaks TLS
// (the Client's as soon as it is accepted, the Server's once its connect has completed),
// and logs each handshake's outcome. Everything else (reading, sending, counting, the
// rewrite, the dumps, pausing) sees only the plain bytes. With Tls None nothing here runs.
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
    if (Tls == TlsMode::None) {
        return true;
    }
    platform::TlsLoadFailure failure;
    if (ClientTls()) {
        platform::TlsCertificateFiles files{TlsCertFile, TlsKeyFile};
        std::string reason;
        if (files.certFile.empty() &&
            !platform::EnsureSelfSignedCertificate(TlsStateDir, files, reason)) {
            log_.LogError(
                ("Could not make TLS certificate in " + TlsStateDir + ": " + reason).c_str());
            return false;
        }
        tlsForClients_ = platform::TlsContext::ForServer(files.certFile, files.keyFile, failure);
        if (tlsForClients_ == nullptr) {
            const std::string& file =
                failure.keyFile && !files.keyFile.empty() ? files.keyFile : files.certFile;
            log_.LogError((std::string(failure.keyFile ? "Could not load TLS key "
                                                       : "Could not load TLS certificate ") +
                           file + ": " + failure.reason)
                              .c_str());
            return false;
        }
        const std::string fingerprint = platform::CertificateFingerprint(files.certFile, reason);
        log_.LogInform(("TLS certificate: " + files.certFile +
                        (fingerprint.empty() ? std::string() : ", SHA-256 " + fingerprint))
                           .c_str());
    }
    if (ServerTls()) {
        tlsForServer_ = platform::TlsContext::ForClient(TlsVerify, failure);
        if (tlsForServer_ == nullptr) {
            tlsForClients_.reset();
            log_.LogError(("Could not set up TLS: " + failure.reason).c_str());
            return false;
        }
        platform::SocketAddress address;
        const bool isAddress = ParseAddress(remoteHost, address);
        tlsServerName_ = isAddress ? std::string() : remoteHost;
        tlsVerifyHost_ = remoteHost;
    }
    return true;
}

bool RelayEngine::AttachClientTls(Connection& c) {
    platform::TlsSessionOptions options;
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

}  // namespace corvane::relay
