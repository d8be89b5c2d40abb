// An event loop for the programs without a window (the terminal front-end, the relay
// benchmark driver, the tests of the engine): one epoll set that holds the socket layer's
// sockets next to the loop's own descriptors, so that a wake-up is one epoll_wait and the
// socket events it returns go to the socket layer straight away. Qt's own loop waits in
// ppoll on the socket layer's set and then reads the set again, two system calls and a
// nested wake-up for every message.
//
// It keeps Qt's rules: posted events are sent first on every pass, socket notifiers are
// level-triggered, a timer never fires inside its own handler, and aboutToBlock is emitted
// only when the loop is about to wait (the idle moment of SetIdleHandler).
#pragma once

#include <sys/epoll.h>

#include <QAbstractEventDispatcher>
#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <vector>

class QSocketNotifier;

namespace corvane::platform {

class EpollEventDispatcher final : public QAbstractEventDispatcher {
public:
    // What the socket layer did with one batch of its sockets' events.
    struct SocketPass {
        // Sockets were registered that are likely ready at once: one more look at the set
        // without waiting.
        bool lookAgain = false;
        // Bytes went out, and their answer often comes within microseconds: the next wait
        // looks at the set for a while before it blocks.
        bool sent = false;
    };
    using SocketEventHandler = std::function<SocketPass(const epoll_event* events, int count)>;

    EpollEventDispatcher();
    ~EpollEventDispatcher() override;

    // The loop of the calling thread when it is one of these, else nullptr.
    static EpollEventDispatcher* Current();

    // The shared set. The socket layer adds its sockets with keys whose upper 32 bits are
    // not 0; the loop's own descriptors use keys below 2^32.
    int EpollSet() const { return epoll_; }
    void SetSocketEventHandler(SocketEventHandler handler) { socketHandler_ = std::move(handler); }

    bool processEvents(QEventLoop::ProcessEventsFlags flags) override;
    void registerSocketNotifier(QSocketNotifier* notifier) override;
    void unregisterSocketNotifier(QSocketNotifier* notifier) override;
    void registerTimer(int timerId, qint64 interval, Qt::TimerType timerType,
                       QObject* object) override;
    bool unregisterTimer(int timerId) override;
    bool unregisterTimers(QObject* object) override;
    QList<TimerInfo> registeredTimers(QObject* object) const override;
    int remainingTime(int timerId) override;
    void wakeUp() override;
    void interrupt() override;

private:
    struct Watched {
        QSocketNotifier* read = nullptr;
        QSocketNotifier* write = nullptr;
        QSocketNotifier* exception = nullptr;
        bool added = false;    // in the epoll set
        bool pollable = true;  // false: a file that epoll refuses, always ready
    };
    struct Timer {
        qint64 interval = 0;  // milliseconds
        Qt::TimerType type = Qt::CoarseTimer;
        QObject* object = nullptr;
        qint64 deadline = 0;  // steady clock, nanoseconds
        bool firing = false;  // its handler is running (perhaps a nested loop)
    };

    void Rewatch(int fd);
    void DrainWakeUps();
    int WaitTimeout() const;
    bool SendDueTimers();
    // Notes the loop's own descriptors of a batch for activation and collects the sockets'.
    void SortBatch(const epoll_event* events, int count, std::vector<epoll_event>& sockets);
    // Sorts one batch; the sockets' events go to the handler.
    bool HandleBatch(const epoll_event* events, int count, bool socketsAllowed);
    bool DeliverSocketEvents(std::vector<epoll_event>& events);
    bool ActivateNotifiers();
    // Looks at the set without blocking, yielding in between, until something is ready or
    // the spin's time is up; the number of events (0: nothing came).
    int SpinForEvents(epoll_event* events);

    int epoll_ = -1;
    int wakeFd_ = -1;  // an eventfd
    std::atomic<bool> woken_{false};
    // Bytes went out since the last wait: the next wait looks for a while first.
    bool answerLikely_ = false;
    qint64 spinAgainAt_ = 0;  // until then, waits block at once (the processor was busy)
    std::atomic<bool> interrupted_{false};
    SocketEventHandler socketHandler_;
    std::map<int, Watched> watched_;
    std::vector<std::pair<int, std::uint32_t>> ready_;  // notifiers' descriptors to activate
    std::vector<epoll_event> socketEvents_;             // held back while sockets are excluded
    std::vector<epoll_event> scratch_;                  // room for the next batch's sockets
    std::map<int, Timer> timers_;
};

// Makes EpollEventDispatcher the main thread's loop. Call in main() before the
// QCoreApplication is created; programs with a window keep the window system's own loop.
void UseEpollEventLoop();

}  // namespace corvane::platform
