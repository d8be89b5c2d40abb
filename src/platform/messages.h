// Window messages without a window: a target receives the socket message and timer ticks
// from one first-in first-out queue, drained from the Qt event loop one message at a time,
// each handled to completion before the next is taken.
#pragma once

#include <cstdint>
#include <functional>

namespace corvane::platform {

using UINT = unsigned;
using WPARAM = std::uintptr_t;
using LPARAM = std::intptr_t;

constexpr UINT WM_TIMER = 0x0113;
constexpr UINT WM_APP = 0x8000;

// What a window is to the platform: the receiver of its messages.
class MessageTarget {
public:
    virtual void HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam) = 0;

protected:
    virtual ~MessageTarget() = default;
};

// Queues a message for the target; it is delivered from the event loop, after every message
// queued before it.
void PostMessage(MessageTarget* target, UINT msg, WPARAM wParam, LPARAM lParam);
// Drops every message still queued for the target (called when a target goes away).
void DiscardMessages(MessageTarget* target);

// Timers: WM_TIMER with wParam = id reaches the target every elapse milliseconds until
// KillTimer. SetTimer returns the id (non-zero) or 0 on failure; setting a running timer
// again restarts it.
std::uintptr_t SetTimer(MessageTarget* target, std::uintptr_t id, UINT elapseMs);
bool KillTimer(MessageTarget* target, std::uintptr_t id);

// The idle hook: called each time the event loop has emptied its queue and is about to
// wait. One hook at a time; an empty function removes it. Requires the program's own loop
// (UseEpollEventLoop) or Qt's UNIX event dispatcher (QT_NO_GLIB=1 set before the application
// object exists, see UseUnixEventLoop).
void SetIdleHandler(std::function<void()> handler);
// Sets QT_NO_GLIB so that the idle hook fires only when the queue is empty. Call first in
// main(), before the Q*Application is created.
void UseUnixEventLoop();

}  // namespace corvane::platform
