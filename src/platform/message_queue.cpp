#include "platform/message_queue.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QObject>
#include <QPointer>
#include <QThread>
#include <algorithm>
#include <deque>

namespace corvane::platform {
namespace detail {
namespace {

// A drain pass hands over at most this many messages, or stops after this much time, and
// then re-posts itself, so that input and painting get their turn under full load.
constexpr int kBatchMessages = 256;
constexpr qint64 kBatchNanoseconds = 5'000'000;

const QEvent::Type kDrainEvent = static_cast<QEvent::Type>(QEvent::registerEventType());

std::deque<QueuedMessage>& Queue() {
    static std::deque<QueuedMessage> queue;
    return queue;
}

bool IsDeliverable(const QueuedMessage& m) {
    switch (m.guard) {
        case Guard::kNone:
            return true;
        case Guard::kSocket:
            return SocketMessageIsCurrent(m.key);
        case Guard::kLookup:
            return TakeLookupAnswer(m.key);
    }
    return false;
}

class MessagePump : public QObject {
public:
    using QObject::QObject;

    // True while a drain event is on its way through the Qt queue.
    bool scheduled = false;
    // The event loop level at which scheduling is held back (HoldPassScheduling), or -1. A
    // nested loop (a modal box opened by a handler) is a level deeper and schedules as usual.
    int heldLevel = -1;

    void Schedule() {
        if (!scheduled && (heldLevel < 0 || heldLevel != QThread::currentThread()->loopLevel())) {
            scheduled = true;
            QCoreApplication::postEvent(this, new QEvent(kDrainEvent));
        }
    }

protected:
    void customEvent(QEvent* event) override {
        if (event->type() != kDrainEvent) {
            return;
        }
        // Cleared first: a handler that runs a nested event loop (a modal box) keeps the
        // messages flowing, as a window's message loop would.
        scheduled = false;
        Drain();
    }

public:
    // One pass: at most kBatchMessages messages or kBatchNanoseconds. A hold on scheduling
    // ends with it, and whatever is left gets a scheduled pass.
    void Drain() {
        QElapsedTimer clock;
        clock.start();
        BeginSendPass();
        auto& queue = Queue();
        for (int n = 0; n < kBatchMessages && !queue.empty(); ++n) {
            // Taken off the queue before the handler runs: the handler may post, discard or
            // close sockets, all of which change the queue.
            QueuedMessage m = queue.front();
            queue.pop_front();
            if (m.target != nullptr && IsDeliverable(m)) {
                m.target->HandleMessage(m.msg, m.wParam, m.lParam);
            }
            if (clock.nsecsElapsed() > kBatchNanoseconds) {
                break;
            }
        }
        EndSendPass();
        heldLevel = -1;
        if (!Queue().empty()) {
            Schedule();
        }
    }
};

MessagePump* Pump() {
    static QPointer<MessagePump> pump;
    if (pump.isNull() && QCoreApplication::instance() != nullptr) {
        // Owned by the application object, so that it goes before the event loop does.
        pump = new MessagePump(QCoreApplication::instance());
    }
    return pump.data();
}

}  // namespace

void HoldPassScheduling() {
    if (MessagePump* pump = Pump()) {
        pump->heldLevel = QThread::currentThread()->loopLevel();
    }
}

void RunPassNow() {
    if (MessagePump* pump = Pump()) {
        if (Queue().empty()) {
            pump->heldLevel = -1;
        } else {
            pump->Drain();
        }
    }
}

void Enqueue(const QueuedMessage& message) {
    Queue().push_back(message);
    if (MessagePump* pump = Pump()) {
        pump->Schedule();
    }
}

std::size_t QueuedMessageCount() {
    return Queue().size();
}

}  // namespace detail

void PostMessage(MessageTarget* target, UINT msg, WPARAM wParam, LPARAM lParam) {
    detail::Enqueue({target, msg, wParam, lParam, detail::Guard::kNone, 0});
}

void DiscardMessages(MessageTarget* target) {
    std::erase_if(detail::Queue(),
                  [target](const detail::QueuedMessage& m) { return m.target == target; });
}

}  // namespace corvane::platform
