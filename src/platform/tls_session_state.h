// Internal to the TLS files of the platform layer: what a session holds, and the steps that
// its handshake (tls_handshake.cpp), its records (tls_records.cpp) and its close
// (tls_close.cpp) share. Between the socket and OpenSSL sits a BIO pair: the ciphertext from
// the kernel is read straight into its free room and the session's output is sent straight
// from it, so no byte is copied on the way. Its bounded room is what holds the sender back: a
// plain send is taken only when a whole record fits behind the ciphertext that waits for the
// kernel.
#pragma once

#include <openssl/ssl.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/socket_table.h"

namespace corvane::platform::detail {

struct ByteBlock;

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
    bool withoutCloseNotify = false;  // the end is a TCP end alone (TlsEndWithoutCloseNotify)
    bool finAfterFlush = false;       // the FIN waits for the ciphertext still held
    bool joined = false;              // listed to be written at the pass's end (write_behind.h)
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

    // A handshake with a time limit is listed by its deadline (steady clock, ms) until it
    // ends; key is the socket's (fd and generation), for the failure it then posts.
    std::uint64_t key = 0;
    std::int64_t deadlineMs = 0;
    bool hasDeadline = false;
    TlsSession* earlier = nullptr;
    TlsSession* later = nullptr;
};

namespace tls {

// Each direction of the pair: room for two full records and their overhead.
constexpr std::size_t kPairBytes = 40960;
// The largest record's ciphertext (16 KiB of plain bytes plus header, type and tag) with
// room to spare: a send is taken only when this much room is free.
constexpr std::size_t kRecordRoom = 16384 + 512;
constexpr int kPlainPerWrite = 16384;
constexpr int kInterruptRetries = 8;

// The thread's error queue is emptied before each call whose outcome SSL_get_error reads;
// it is nearly always empty already, and looking costs less than clearing.
void ClearErrors();
// WSASetLastError(error), and SOCKET_ERROR.
int SetError(int error);
// FD_READ now; recv arms it again.
void PostRead(int fd, SocketState& st);
// FD_CLOSE once, after a reset at once, after the end only when no plain byte waits.
void MaybePostClose(int fd, SocketState& st, bool waiting);
// Decrypted bytes, or ciphertext not yet looked at, wait in the session.
bool PlainMayWait(const TlsSession& t);
// Hands the session's output to the kernel. False when some of it is still held.
bool FlushOut(int fd, SocketState& st, TlsSession& t);
// The staged bytes become one record; the room for it was there when the first was staged.
void SealStaged(TlsSession& t);
// Reads ciphertext from the kernel into the pair: the bytes taken, 0 when nothing waits (or
// no room), -1 at the kernel's end of input, -2 on a failure (closeError set).
int Feed(int fd, SocketState& st, TlsSession& t);
// The handshake goes on with what has come; FD_TLS is posted when it ends.
void Advance(int fd, SocketState& st, TlsSession& t);
// The handshake has failed (reason: OpenSSL's, or empty): FD_TLS with error, nothing after.
void Fail(int fd, SocketState& st, TlsSession& t, int error, std::string reason);
// The handshake of the socket whose key is given fails with WSAETIMEDOUT ("handshake timed
// out") unless it ends within timeoutMs. One timer serves every session, set for the earliest.
void SetHandshakeDeadline(TlsSession& t, std::uint64_t key, int timeoutMs);
// Takes a session off the deadlines (its handshake has ended, or it is being freed).
void ForgetHandshakeDeadline(TlsSession& t);

}  // namespace tls
}  // namespace corvane::platform::detail
