#include "platform/due_timer.h"

#include <sys/timerfd.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <algorithm>
#include <ctime>

namespace corvane::platform {

namespace {

// A wait of this long or more ends a little early, and the last stretch is waited out awake.
// After a long sleep the processor takes 50 to 200 microseconds to run the loop again (on a
// virtual machine the host has to wake it, and after 100 ms one wake in a hundred takes
// 350), and so every long delay would come out late by that much; a thread that is already
// running meets its moment to the microsecond. The longer the sleep, the earlier the wake:
// 150 us plus half a percent of the wait, at most 500 us. Shorter waits, as a fast paced
// stream makes them, keep the processor awake anyway and are armed for their moment.
constexpr std::int64_t kLongWaitNs = 2'000'000;
constexpr std::int64_t kWakeEarlyNs = 150'000;
constexpr std::int64_t kWakeEarlyMostNs = 500'000;

}  // namespace

DueTimer::DueTimer(std::function<void()> onDue) : onDue_(std::move(onDue)) {}

DueTimer::~DueTimer() {
    notifier_.reset();
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

std::int64_t DueTimer::NowNs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

bool DueTimer::Arm(std::int64_t dueNs) {
    if (dueNs == armedNs_) {
        return true;
    }
    if (fd_ < 0) {
        // Made at first use: a relay without conditions never has one.
        fd_ = ::timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
        if (fd_ < 0) {
            return false;
        }
        notifier_ = std::make_unique<QSocketNotifier>(fd_, QSocketNotifier::Read);
        QObject::connect(notifier_.get(), &QSocketNotifier::activated, notifier_.get(),
                         [this] { OnReady(); });
    }
    // 0 would disarm: a moment that has passed is taken as the earliest there is.
    std::int64_t at = dueNs > 0 ? dueNs : 1;
    const std::int64_t wait = at - NowNs();
    if (wait >= kLongWaitNs) {
        at -= std::min(kWakeEarlyNs + wait / 200, kWakeEarlyMostNs);
    }
    itimerspec spec{};
    spec.it_value.tv_sec = static_cast<time_t>(at / 1000000000);
    spec.it_value.tv_nsec = static_cast<long>(at % 1000000000);
    if (::timerfd_settime(fd_, TFD_TIMER_ABSTIME, &spec, nullptr) != 0) {
        return false;
    }
    armedNs_ = dueNs;
    return true;
}

void DueTimer::Disarm() {
    if (fd_ < 0 || armedNs_ < 0) {
        return;
    }
    const itimerspec off{};
    ::timerfd_settime(fd_, 0, &off, nullptr);
    armedNs_ = -1;
}

void DueTimer::OnReady() {
    std::uint64_t expirations = 0;
    if (::read(fd_, &expirations, sizeof expirations) != sizeof expirations) {
        return;  // disarmed or moved since it became ready
    }
    // Woken early for a long wait: the rest (at most kWakeEarlyMostNs) is waited out on the
    // clock. Not yielding: a yield may hand the processor to another program for a whole
    // time slice of some milliseconds.
    while (NowNs() < armedNs_) {
    }
    armedNs_ = -1;
    onDue_();
}

}  // namespace corvane::platform
