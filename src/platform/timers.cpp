// Window timers over QTimer. A tick is delivered straight to its target as WM_TIMER; it does
// not wait in the message queue, since a window timer's message is never a queued one.
#include <QCoreApplication>
#include <QPointer>
#include <QTimer>
#include <map>
#include <utility>

#include "platform/messages.h"

namespace corvane::platform {
namespace {

using TimerKey = std::pair<MessageTarget*, std::uintptr_t>;

std::map<TimerKey, QPointer<QTimer>>& Timers() {
    static std::map<TimerKey, QPointer<QTimer>> timers;
    return timers;
}

}  // namespace

std::uintptr_t SetTimer(MessageTarget* target, std::uintptr_t id, UINT elapseMs) {
    QCoreApplication* app = QCoreApplication::instance();
    if (target == nullptr || id == 0 || app == nullptr) {
        return 0;
    }
    QPointer<QTimer>& timer = Timers()[{target, id}];
    if (timer.isNull()) {
        // Owned by the application object; KillTimer releases it earlier.
        timer = new QTimer(app);
        QObject::connect(timer.data(), &QTimer::timeout, timer.data(),
                         [target, id] { target->HandleMessage(WM_TIMER, id, 0); });
    }
    timer->start(static_cast<int>(elapseMs));
    return id;
}

bool KillTimer(MessageTarget* target, std::uintptr_t id) {
    auto it = Timers().find({target, id});
    if (it == Timers().end()) {
        return false;
    }
    if (QTimer* timer = it->second.data()) {
        timer->stop();
        // Deleted later: KillTimer is often called from the timer's own tick.
        timer->deleteLater();
    }
    Timers().erase(it);
    return true;
}

}  // namespace corvane::platform
