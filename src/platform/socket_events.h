// Internal to the platform layer: how the socket calls tell the event side what they did, so
// that one-shot events are re-enabled exactly as the program's calls allow. Each function
// takes the call's raw result and the errno it left (0 on success).
#pragma once

#include "platform/winsock.h"

namespace corvane::platform::detail {

void NoteConnect(SOCKET s, int result, int error);
void NoteAccept(SOCKET listener, SOCKET accepted, int error);
void NoteRecv(SOCKET s, long result, int requested, int error);
void NoteSend(SOCKET s, long result, int requested, int error);
// Stops watching the socket and forgets it; its queued messages become stale.
void NoteClose(SOCKET s);

// True between WSAStartup and the matching WSACleanup.
bool SocketsStarted();

}  // namespace corvane::platform::detail
