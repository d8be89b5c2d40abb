// A one-shot timer for a moment on the steady clock, kept to the microsecond: a timerfd that
// the event loop watches beside the sockets (a long wait wakes the loop a little early and
// waits out the rest awake, see due_timer.cpp). Window timers (messages.h) count whole
// milliseconds and may fire a tick late; this one wakes the loop at the moment it was armed
// for, so that a release of held bytes runs within a millisecond of its time. Its callback
// runs straight from the loop, as a window timer's tick does.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

class QSocketNotifier;

namespace corvane::platform {

class DueTimer {
public:
    explicit DueTimer(std::function<void()> onDue);
    ~DueTimer();
    DueTimer(const DueTimer&) = delete;
    DueTimer& operator=(const DueTimer&) = delete;

    // The steady clock (CLOCK_MONOTONIC) in nanoseconds.
    static std::int64_t NowNs();

    // Fires once at dueNs on NowNs's clock, or as soon as the loop runs when that moment has
    // passed; arming again moves it. False when the timer cannot be made (no descriptor).
    bool Arm(std::int64_t dueNs);
    void Disarm();
    // The moment it is armed for; -1 when it is not armed.
    std::int64_t ArmedNs() const { return armedNs_; }

private:
    void OnReady();

    std::function<void()> onDue_;
    int fd_ = -1;
    std::int64_t armedNs_ = -1;
    std::unique_ptr<QSocketNotifier> notifier_;
};

}  // namespace corvane::platform
