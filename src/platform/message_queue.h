// Internal to the platform layer: the one first-in first-out queue behind PostMessage, the
// socket events and the look-up answers. A queued message may carry a guard that is checked
// when its turn comes, so that a socket closed (or a look-up cancelled) after the message was
// queued never sees it delivered.
#pragma once

#include <cstdint>

#include "platform/messages.h"

namespace corvane::platform::detail {

enum class Guard : std::uint8_t {
    kNone,
    kSocket,  // key: the socket's descriptor in the low 32 bits, its generation in the high
    kLookup,  // key: the look-up handle
};

struct QueuedMessage {
    MessageTarget* target = nullptr;
    UINT msg = 0;
    WPARAM wParam = 0;
    LPARAM lParam = 0;
    Guard guard = Guard::kNone;
    std::uint64_t key = 0;
};

// Appends the message and makes sure a drain of the queue is scheduled on the Qt event loop.
void Enqueue(const QueuedMessage& message);

// The socket watcher turns edges into messages and hands them over at once, in the same
// wake-up, instead of in a pass scheduled through the Qt event loop (which costs a wake-up of
// its own). HoldPassScheduling makes Enqueue queue without scheduling, at the current event
// loop level only (a modal box opened by a handler is a level deeper and schedules as usual);
// RunPassNow then runs one pass as the scheduled one would, takes what the handlers queue
// meanwhile, lifts the hold, and schedules a pass for whatever is left.
void HoldPassScheduling();
void RunPassNow();

// Number of messages waiting (for tests and benchmarks).
std::size_t QueuedMessageCount();

// Called at the start and end of each pass; defined by the socket layer, which joins the
// sends of a pass (write_behind.h).
void BeginSendPass();
void EndSendPass();

// Asked at delivery time; defined by the socket table and the look-up module.
bool SocketMessageIsCurrent(std::uint64_t key);
// True when the look-up is still pending; also writes its answer into the caller's entry and
// forgets the request, so that it answers exactly once.
bool TakeLookupAnswer(std::uint64_t handle);

}  // namespace corvane::platform::detail
