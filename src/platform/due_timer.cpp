#include "platform/due_timer.h"

#include <sys/timerfd.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <ctime>

namespace corvane::platform {

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
    const std::int64_t at = dueNs > 0 ? dueNs : 1;
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
    armedNs_ = -1;
    onDue_();
}

}  // namespace corvane::platform
