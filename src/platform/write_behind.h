// Internal to the platform layer: sends joined per socket while a pass over the message queue
// runs.
//
// A relay that streams hands on one 8 KiB read after another within a pass (see reading ahead
// in byte_block.h), each followed by a send of the same size: one system call, and one
// wake-up of the receiving peer, per 8 KiB. While a pass runs, a plain send on a connected
// socket that has sent in this pass already is instead copied into a block of the socket's
// own and reported as sent, as the kernel's send buffer would take it; the block goes out in
// one call when the pass ends (or the event loop is about to wait), or as soon as a send does
// not fit. The first send of a pass, and a send outside a pass, go straight to the kernel
// (behind whatever the block still holds, in the same call): one request or answer per pass,
// the interactive case, is neither copied nor held back.
//
// What the kernel cannot take at that moment stays in the block and goes out on the next write
// edge; until it is all gone, sends fail with WSAEWOULDBLOCK, and FD_WRITE follows once room is
// free, as for any send that would block. A write of held bytes that fails drops them (the
// connection is broken, as it would be for the kernel's own buffer) and the next send reports
// the failure. A socket closed while its block holds bytes stays open in the background until
// they are out, the connection fails, or kLingerSeconds pass; the program
// sees it closed at once. Nothing is ever joined into more than one block per socket, and at
// most 256 blocks are out at once; beyond that, sends are direct.
#pragma once

#include <cstdint>

#include "platform/socket_table.h"

namespace corvane::platform::detail {

constexpr int kLingerSeconds = 60;

// The send call's work: the bytes taken (all of them when joined), or -1 with error set to
// the errno of the refusal.
long SendJoined(int fd, SocketState& st, const char* buf, int len, int& error);

// For a send on a socket with a TLS session: true when it is a later send of the running pass,
// so that its ciphertext may wait in the session for the pass's end. The socket is then listed
// (once: listed is the session's own flag) and written with the joined blocks
// (TlsWriteJoined). The first send of a pass, and one outside a pass, go out at once.
bool JoinTlsSend(int fd, SocketState& st, bool& listed);

// On a write edge: writes what the block holds. True when nothing is held any more.
bool WriteHeld(int fd, SocketState& st);

// The message queue brackets each pass with these; the end writes every block filled in it.
void BeginSendPass();
void EndSendPass();

// shutdown's first step for the sending side: writes what the block holds. True when nothing
// is held any more, so the FIN may go now; otherwise the write that empties the block sends it.
bool ShutdownAfterHeld(int fd, SocketState& st);

// closesocket's first step. True when the socket holds bytes the kernel cannot take yet and
// has been left to linger: the caller must then not close the descriptor.
bool LingerIfHeld(int fd, SocketState& st);
// Leaves a socket the program has closed to linger: it is the program's no more, and its
// descriptor is closed once what it holds is out (a write edge finds nothing held), the peer
// fails or hangs up, or kLingerSeconds pass.
void Linger(int fd, SocketState& st);
// A readiness edge on a lingering socket.
void OnLingeringEdge(int fd, SocketState& st, std::uint32_t events);
// Closes a lingering socket at once (the layer is shutting down); harmless for any other.
void EndLinger(int fd);

}  // namespace corvane::platform::detail
