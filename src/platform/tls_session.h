// A TLS session attached to a connected socket of the layer. From then on the socket's calls
// and events are about the plain bytes (see "TLS" in docs/ARCHITECTURE.md):
// - recv gives plain bytes; FD_READ is posted while plain bytes wait, as for any socket, and
//   FD_CLOSE once they are read after the peer's close_notify or the TCP end (0; TlsQuery
//   tells the two apart), or at once after a reset (WSAECONNRESET);
// - send accepts plain bytes only when their record can be queued (else WSAEWOULDBLOCK and
//   FD_WRITE once the queue has room); the ciphertext the kernel does not take waits in the
//   session and goes out on write readiness; the later sends of one pass over the message
//   queue are joined into records of 16 KiB that go out when the pass ends;
// - shutdown(SD_SEND) sends close_notify and then FIN; closesocket sends close_notify and
//   closes gracefully: every plain byte sent before it reaches the peer, however much of its
//   ciphertext the kernel could not take yet (the socket lingers with its session).
// The handshake runs inside the layer. Until it is done recv fails with WSAEWOULDBLOCK and
// send is held the same way (FD_WRITE follows the handshake). Its outcome is one FD_TLS
// event: error 0, or WSAECONNRESET (reset), or WSAECONNABORTED (the handshake failed: the
// reason is in TlsSessionInfo::failure), or WSAETIMEDOUT (not done within the options' time
// limit). After a failure nothing more is posted but FD_TLS.
#pragma once

#include <string>

#include "platform/tls_context.h"
#include "platform/winsock.h"

namespace corvane::platform {

struct TlsSessionOptions {
    // Client role: the name sent as SNI (a host name, never an address); empty for none.
    std::string serverName;
    // Client role with a verifying context: the name or address the certificate must name.
    std::string verifyHost;
    // The other socket of a relayed pair whose two ends both speak TLS. On the server-role
    // (Client's) session: the ALPN protocol answered is the one the partner's handshake
    // chose, and the Client's hello waits for it. On the client-role (Server's) session:
    // the protocols offered are those the partner's Client offered, and the handshake
    // begins once that hello has come.
    SOCKET alpnPartner = INVALID_SOCKET;
    // A handshake not done within this many milliseconds fails: FD_TLS with WSAETIMEDOUT,
    // the reason "handshake timed out". 0 for no limit.
    int handshakeTimeoutMs = 0;
};

// Attaches a session of the context's role to s, which must be connected and registered,
// and starts the handshake. 0, or SOCKET_ERROR with WSAEINVAL (not such a socket, or one
// with a session already) or WSAENOBUFS (no memory).
int TlsAttach(SOCKET s, const TlsContext& context, const TlsSessionOptions& options);

struct TlsSessionInfo {
    bool established = false;   // the handshake has completed
    std::string version;        // "TLSv1.3"
    std::string cipher;         // "TLS_AES_256_GCM_SHA384"
    std::string peerSubject;    // the peer certificate's subject, one line ("CN=localhost")
    bool peerVerified = false;  // checked against the store and the host
    std::string alpn;           // the protocol chosen, empty for none
    std::string failure;        // why the session failed (OpenSSL's reason), else empty
    // The peer's TCP end came without its close_notify: what it sent may have been cut short.
    bool endedWithoutCloseNotify = false;
};

// False when s has no session.
bool TlsQuery(SOCKET s, TlsSessionInfo& info);

// From now on the end of s (shutdown(SD_SEND), closesocket) is a TCP end alone: FIN without
// close_notify, after the ciphertext that waits. Passes on a peer's end that came without
// one, so that the other peer sees the truncation too. False when s has no session.
bool TlsEndWithoutCloseNotify(SOCKET s);

}  // namespace corvane::platform
