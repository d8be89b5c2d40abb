// Internal to the platform layer: how the socket calls tell the event side what they did, so
// that one-shot events are re-enabled exactly as the program's calls allow. Each function
// takes the call's raw result and the errno it left (0 on success).
#pragma once

#include "platform/socket_table.h"
#include "platform/winsock.h"

namespace corvane::platform::detail {

void NoteConnect(SOCKET s, int result, int error);
void NoteAccept(SOCKET listener, SOCKET accepted, int error);
// Where the bytes of a recv came from (byte_block.h).
enum class ReadSource {
    kKernel,         // read from the socket directly
    kReadAhead,      // from the read-ahead block; the next read is asked for at once
    kReadAheadLast,  // the block's last bytes, with nothing more in the kernel since it was filled
};
void NoteRecv(SOCKET s, long result, int requested, int error, ReadSource source);
void NoteSend(SOCKET s, long result, int requested, int error);
// Posts one event of a registered socket (when its mask has it), guarded by its generation.
void PostSocketEvent(SOCKET s, const SocketState& state, long event, int error);
// Stops watching the socket and forgets it; its queued messages become stale.
void NoteClose(SOCKET s);
// Reads away, within bounds, what waits on a socket about to be closed, so that the close
// is not turned into a reset.
void ReadAwayInput(int fd);

// True between WSAStartup and the matching WSACleanup.
bool SocketsStarted();

}  // namespace corvane::platform::detail
