#include "platform/epoll_dispatcher.h"

#include <sched.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QThread>
#include <QTimerEvent>
#include <cerrno>
#include <chrono>

#include "platform/messages.h"

namespace corvane::platform {
namespace {

constexpr int kEventsPerWake = 512;
// A batch of the socket layer's that registered sockets is followed by at most this many
// further looks at the set in the same wake-up (a Client accepted, its first bytes waiting).
constexpr int kRoundsPerWake = 4;
constexpr qint64 kNanosPerMs = 1'000'000;
// How long the loop keeps looking at the set, after a pass that sent bytes, before it blocks.
// The peers of a relay usually answer within tens of microseconds, and a wait that has
// blocked costs about 30 us more before the thread runs again on a virtual machine (the
// processor is halted and woken by the host), a few microseconds on bare metal. Looking for
// that long costs at most that much, once per quiet spell: an idle loop blocks at once.
constexpr qint64 kSpinBeforeWaitNs = 50'000;
// A yield that kept the processor away for this long went to a thread that did not block
// soon: a busy processor, where yielding again would hold events back by whole time slices
// (about 3 ms here), while a peer that shares the processor gives it back within a few hundred
// microseconds. The loop then blocks straight away for a while.
constexpr qint64 kBusyYieldNs = 1 * kNanosPerMs;
constexpr qint64 kNoSpinAfterBusyNs = 100 * kNanosPerMs;

// What Qt's own loop reports to each kind of notifier for a descriptor's poll flags.
constexpr std::uint32_t kReadEvents = EPOLLIN | EPOLLHUP | EPOLLERR;
constexpr std::uint32_t kWriteEvents = EPOLLOUT;
constexpr std::uint32_t kExceptionEvents = EPOLLPRI;

qint64 Now() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

bool IsSocketKey(std::uint64_t key) {
    return (key >> 32) != 0;
}

void Activate(QSocketNotifier* notifier) {
    QEvent event(QEvent::SockAct);
    QCoreApplication::sendEvent(notifier, &event);
}

}  // namespace

EpollEventDispatcher::EpollEventDispatcher() {
    epoll_ = ::epoll_create1(EPOLL_CLOEXEC);
    wakeFd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (epoll_ >= 0 && wakeFd_ >= 0) {
        epoll_event ev{};
        ev.events = EPOLLIN;
        ev.data.u64 = static_cast<std::uint32_t>(wakeFd_);
        if (::epoll_ctl(epoll_, EPOLL_CTL_ADD, wakeFd_, &ev) == 0) {
            return;
        }
    }
    if (epoll_ >= 0) {
        ::close(epoll_);
    }
    if (wakeFd_ >= 0) {
        ::close(wakeFd_);
    }
    epoll_ = -1;
    wakeFd_ = -1;
}

EpollEventDispatcher::~EpollEventDispatcher() {
    if (epoll_ >= 0) {
        ::close(epoll_);
        ::close(wakeFd_);
    }
}

EpollEventDispatcher* EpollEventDispatcher::Current() {
    return dynamic_cast<EpollEventDispatcher*>(
        QAbstractEventDispatcher::instance(QThread::currentThread()));
}

bool EpollEventDispatcher::processEvents(QEventLoop::ProcessEventsFlags flags) {
    Q_EMIT awake();
    // Cleared before the posted events are sent: one posted meanwhile sets it again, and the
    // wait below then does not block.
    const bool woken = woken_.exchange(false, std::memory_order_acq_rel);
    if (woken) {
        DrainWakeUps();
    }
    QCoreApplication::sendPostedEvents();
    if (interrupted_.exchange(false, std::memory_order_acq_rel)) {
        return woken;
    }
    bool handled = false;

    const bool socketsAllowed = !flags.testFlag(QEventLoop::ExcludeSocketNotifiers);
    if (socketsAllowed && !socketEvents_.empty()) {
        handled = DeliverSocketEvents(socketEvents_) || handled;
    }
    auto mustNotWait = [this] {
        return woken_.load(std::memory_order_acquire) ||
               interrupted_.load(std::memory_order_acquire);
    };
    bool canWait = flags.testFlag(QEventLoop::WaitForMoreEvents) && !handled && !mustNotWait();
    if (canWait) {
        Q_EMIT aboutToBlock();
        // The idle handler may have posted or sent something.
        canWait = !mustNotWait();
    }
    int timeout = canWait ? WaitTimeout() : 0;

    epoll_event events[kEventsPerWake];
    int n = 0;
    if (timeout != 0 && answerLikely_) {
        n = SpinForEvents(events);
        timeout = n == 0 ? WaitTimeout() : 0;  // a timer may have come due meanwhile
    }
    if (n == 0) {
        n = ::epoll_wait(epoll_, events, kEventsPerWake, timeout);
    }
    answerLikely_ = false;
    if (n > 0) {
        handled = HandleBatch(events, n, socketsAllowed) || handled;
    }
    for (const auto& [fd, w] : watched_) {
        if (!w.pollable) {
            ready_.emplace_back(fd, kReadEvents | kWriteEvents);
        }
    }
    if (socketsAllowed) {
        handled = ActivateNotifiers() || handled;
    } else {
        ready_.clear();  // level-triggered: still ready next time if nobody reads
    }
    if (!flags.testFlag(QEventLoop::X11ExcludeTimers)) {
        handled = SendDueTimers() || handled;
    }
    return handled || woken;
}

void EpollEventDispatcher::SortBatch(const epoll_event* events, int count,
                                     std::vector<epoll_event>& sockets) {
    for (int i = 0; i < count; ++i) {
        const std::uint64_t key = events[i].data.u64;
        const std::uint32_t flags = events[i].events;
        if (IsSocketKey(key)) {
            sockets.push_back(events[i]);
        } else if (static_cast<int>(key) == wakeFd_) {
            // Usually read already at the start of the pass; not when the write of a wake-up
            // came after that read, and then the count left behind would keep the set ready
            // and the loop from ever waiting. Whatever was posted is sent by the next pass.
            DrainWakeUps();
        } else {
            ready_.emplace_back(static_cast<int>(key), flags);
        }
    }
}

bool EpollEventDispatcher::HandleBatch(const epoll_event* events, int count, bool socketsAllowed) {
    // The capacity of the last batch is reused (no allocation per wake-up); a loop nested in
    // a handler finds scratch_ empty and grows its own.
    std::vector<epoll_event> sockets;
    sockets.swap(scratch_);
    sockets.clear();
    SortBatch(events, count, sockets);
    if (sockets.empty()) {
        return count > 0;
    }
    if (!socketsAllowed) {
        // Edge-triggered: an edge that is not delivered now would never come again.
        socketEvents_.insert(socketEvents_.end(), sockets.begin(), sockets.end());
        return true;
    }
    DeliverSocketEvents(sockets);
    return true;
}

bool EpollEventDispatcher::DeliverSocketEvents(std::vector<epoll_event>& events) {
    std::vector<epoll_event> batch;
    batch.swap(events);
    if (batch.empty() || !socketHandler_) {
        return false;
    }
    SocketPass pass = socketHandler_(batch.data(), static_cast<int>(batch.size()));
    answerLikely_ = answerLikely_ || pass.sent;
    for (int round = 1; pass.lookAgain && round < kRoundsPerWake; ++round) {
        epoll_event more[kEventsPerWake];
        const int n = ::epoll_wait(epoll_, more, kEventsPerWake, 0);
        batch.clear();
        SortBatch(more, n, batch);
        if (batch.empty()) {
            break;
        }
        pass = socketHandler_(batch.data(), static_cast<int>(batch.size()));
        answerLikely_ = answerLikely_ || pass.sent;
    }
    if (batch.capacity() > scratch_.capacity()) {
        scratch_.swap(batch);
    }
    return true;
}

int EpollEventDispatcher::SpinForEvents(epoll_event* events) {
    qint64 now = Now();
    if (now < spinAgainAt_) {
        return 0;
    }
    const qint64 until = now + kSpinBeforeWaitNs;
    for (;;) {
        const int n = ::epoll_wait(epoll_, events, kEventsPerWake, 0);
        if (n != 0 || now >= until) {
            return n;
        }
        // A thread that is ready to run on this processor (a peer that shares it, the one
        // the last pass sent to) runs first, rather than waiting for the spin to end.
        ::sched_yield();
        const qint64 before = now;
        now = Now();
        if (now - before >= kBusyYieldNs) {
            spinAgainAt_ = now + kNoSpinAfterBusyNs;
        }
    }
}

bool EpollEventDispatcher::ActivateNotifiers() {
    if (ready_.empty()) {
        return false;
    }
    std::vector<std::pair<int, std::uint32_t>> ready;
    ready.swap(ready_);
    for (const auto& [fd, ev] : ready) {
        // Looked up again before each activation: a handler may have removed, replaced or
        // deleted any notifier, its own included.
        auto it = watched_.find(fd);
        if (it != watched_.end() && it->second.read != nullptr && (ev & kReadEvents) != 0) {
            Activate(it->second.read);
        }
        it = watched_.find(fd);
        if (it != watched_.end() && it->second.write != nullptr && (ev & kWriteEvents) != 0) {
            Activate(it->second.write);
        }
        it = watched_.find(fd);
        if (it != watched_.end() && it->second.exception != nullptr &&
            (ev & kExceptionEvents) != 0) {
            Activate(it->second.exception);
        }
    }
    return true;
}

void EpollEventDispatcher::registerSocketNotifier(QSocketNotifier* notifier) {
    const int fd = static_cast<int>(notifier->socket());
    if (fd < 0) {
        return;
    }
    Watched& w = watched_[fd];
    switch (notifier->type()) {
        case QSocketNotifier::Read:
            w.read = notifier;
            break;
        case QSocketNotifier::Write:
            w.write = notifier;
            break;
        case QSocketNotifier::Exception:
            w.exception = notifier;
            break;
    }
    Rewatch(fd);
}

void EpollEventDispatcher::unregisterSocketNotifier(QSocketNotifier* notifier) {
    const int fd = static_cast<int>(notifier->socket());
    auto it = watched_.find(fd);
    if (it == watched_.end()) {
        return;
    }
    Watched& w = it->second;
    for (QSocketNotifier** slot : {&w.read, &w.write, &w.exception}) {
        if (*slot == notifier) {
            *slot = nullptr;
        }
    }
    Rewatch(fd);
}

void EpollEventDispatcher::Rewatch(int fd) {
    auto it = watched_.find(fd);
    if (it == watched_.end()) {
        return;
    }
    Watched& w = it->second;
    std::uint32_t mask = 0;
    mask |= w.read != nullptr ? static_cast<std::uint32_t>(EPOLLIN) : 0;
    mask |= w.write != nullptr ? static_cast<std::uint32_t>(EPOLLOUT) : 0;
    mask |= w.exception != nullptr ? static_cast<std::uint32_t>(EPOLLPRI) : 0;
    if (mask == 0) {
        if (w.added) {
            // Fails harmlessly when the descriptor was closed first (that removed it).
            ::epoll_ctl(epoll_, EPOLL_CTL_DEL, fd, nullptr);
        }
        watched_.erase(it);
        return;
    }
    epoll_event ev{};
    ev.events = mask;
    ev.data.u64 = static_cast<std::uint32_t>(fd);
    int result = -1;
    if (w.added) {
        result = ::epoll_ctl(epoll_, EPOLL_CTL_MOD, fd, &ev);
    }
    if (result < 0) {
        // Not in the set yet, or closed and its number reused since.
        result = ::epoll_ctl(epoll_, EPOLL_CTL_ADD, fd, &ev);
    }
    w.added = result == 0;
    // A regular file or a device without polling (/dev/null) cannot be watched; poll calls
    // such a descriptor always ready, and so does this loop.
    w.pollable = w.added || errno != EPERM;
}

void EpollEventDispatcher::registerTimer(int timerId, qint64 interval, Qt::TimerType timerType,
                                         QObject* object) {
    Timer& t = timers_[timerId];
    t.interval = interval < 0 ? 0 : interval;
    t.type = timerType;
    t.object = object;
    t.deadline = Now() + t.interval * kNanosPerMs;
    t.firing = false;
}

bool EpollEventDispatcher::unregisterTimer(int timerId) {
    return timers_.erase(timerId) > 0;
}

bool EpollEventDispatcher::unregisterTimers(QObject* object) {
    bool any = false;
    for (auto it = timers_.begin(); it != timers_.end();) {
        if (it->second.object == object) {
            it = timers_.erase(it);
            any = true;
        } else {
            ++it;
        }
    }
    return any;
}

QList<QAbstractEventDispatcher::TimerInfo> EpollEventDispatcher::registeredTimers(
    QObject* object) const {
    QList<TimerInfo> list;
    for (const auto& [id, t] : timers_) {
        if (t.object == object) {
            list.append(TimerInfo(id, static_cast<int>(t.interval), t.type));
        }
    }
    return list;
}

int EpollEventDispatcher::remainingTime(int timerId) {
    const auto it = timers_.find(timerId);
    if (it == timers_.end()) {
        return -1;
    }
    const qint64 left = it->second.deadline - Now();
    return left <= 0 ? 0 : static_cast<int>((left + kNanosPerMs - 1) / kNanosPerMs);
}

int EpollEventDispatcher::WaitTimeout() const {
    for (const auto& entry : watched_) {
        if (!entry.second.pollable) {
            return 0;
        }
    }
    qint64 earliest = -1;
    for (const auto& entry : timers_) {
        const Timer& t = entry.second;
        if (!t.firing && (earliest < 0 || t.deadline < earliest)) {
            earliest = t.deadline;
        }
    }
    if (earliest < 0) {
        return -1;
    }
    const qint64 left = earliest - Now();
    // Rounded up: waking a little early would only wait again.
    return left <= 0 ? 0 : static_cast<int>((left + kNanosPerMs - 1) / kNanosPerMs);
}

bool EpollEventDispatcher::SendDueTimers() {
    const qint64 now = Now();
    std::vector<int> due;
    for (const auto& [id, t] : timers_) {
        if (!t.firing && t.deadline <= now) {
            due.push_back(id);
        }
    }
    for (const int id : due) {
        auto it = timers_.find(id);
        if (it == timers_.end() || it->second.firing) {
            continue;  // killed, or already running, by an earlier handler of this pass
        }
        Timer& t = it->second;
        // One interval on; a timer that fell behind skips the ticks it missed.
        t.deadline += t.interval * kNanosPerMs;
        if (t.deadline <= now) {
            t.deadline = now + t.interval * kNanosPerMs;
        }
        // Marked while its handler runs, so that a nested loop does not fire it again.
        t.firing = true;
        QTimerEvent event(id);
        QCoreApplication::sendEvent(t.object, &event);
        it = timers_.find(id);
        if (it != timers_.end()) {
            it->second.firing = false;
        }
    }
    return !due.empty();
}

void EpollEventDispatcher::DrainWakeUps() {
    std::uint64_t count = 0;
    [[maybe_unused]] const ssize_t n = ::read(wakeFd_, &count, sizeof count);
}

void EpollEventDispatcher::wakeUp() {
    // One write per wake-up however many events are posted before the loop gets to them.
    if (!woken_.exchange(true, std::memory_order_acq_rel)) {
        const std::uint64_t one = 1;
        [[maybe_unused]] const ssize_t n = ::write(wakeFd_, &one, sizeof one);
    }
}

void EpollEventDispatcher::interrupt() {
    interrupted_.store(true, std::memory_order_release);
    wakeUp();
}

void UseEpollEventLoop() {
    UseUnixEventLoop();  // for a fallback to Qt's loop, and for the program's other threads
    auto* loop = new EpollEventDispatcher;
    if (loop->EpollSet() < 0) {
        delete loop;  // no descriptors to be had: Qt's own loop it is
        return;
    }
    QCoreApplication::setEventDispatcher(loop);
}

}  // namespace corvane::platform
