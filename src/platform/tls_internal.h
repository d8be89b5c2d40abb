// Internal to the platform layer: the TLS session's side of the socket calls and the
// readiness watcher (tls_session.h has the rules). A socket with a session takes these
// paths instead of its plain ones; each is one test of SocketState::tls at the call.
#pragma once

#include <cstdint>
#include <string>

#include "platform/socket_table.h"

struct ssl_st;

namespace corvane::platform::detail {

// recv and send on the plain bytes, with recv's and send's results and last errors.
int TlsRecv(int fd, SocketState& st, char* buf, int len);
int TlsSend(int fd, SocketState& st, const char* buf, int len);
// The end of a pass in which later sends left their ciphertext in the session: it goes out.
void TlsWriteJoined(int fd, SocketState& st);
// A readiness edge of a connected socket with a session.
void TlsOnEdge(int fd, SocketState& st, std::uint32_t events);
// shutdown(SD_SEND): close_notify, then FIN once the ciphertext is out. 0 or SOCKET_ERROR.
int TlsShutdownSend(int fd, SocketState& st);
// closesocket's first step: close_notify, and the ciphertext out. True when the kernel cannot
// take all of it yet: the socket then lingers with its session (the caller must not close
// the descriptor) until TlsWriteLingering finds it all out. Otherwise the session is freed.
bool TlsBeforeClose(int fd, SocketState& st);
// On a write edge of a socket lingering with its session: true when nothing is held any more.
bool TlsWriteLingering(int fd, SocketState& st);
void DestroyTlsSession(TlsSession* session);

// The context's callbacks (tls_context.cpp installs them).
int TlsOnClientHello(ssl_st* ssl, int* alert, void* arg);
int TlsOnAlpnSelect(ssl_st* ssl, const unsigned char** out, unsigned char* outlen,
                    const unsigned char* in, unsigned int inlen, void* arg);

// OpenSSL's reason for the oldest error queued on this thread, and the queue emptied.
std::string TlsErrorReason();

}  // namespace corvane::platform::detail
