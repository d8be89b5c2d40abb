// The event loop's idle moment. Under the UNIX event dispatcher aboutToBlock is emitted only
// when no event is waiting, which is the moment the application's idle handler runs (its
// message queue has just been emptied); under glib it is emitted on every pass and is no idle
// signal, hence UseUnixEventLoop.
#include <QAbstractEventDispatcher>
#include <QByteArray>
#include <QCoreApplication>
#include <QPointer>

#include "platform/messages.h"

namespace corvane::platform {
namespace {

std::function<void()>& IdleHandler() {
    static std::function<void()> handler;
    return handler;
}

}  // namespace

void UseUnixEventLoop() {
    qputenv("QT_NO_GLIB", QByteArrayLiteral("1"));
}

void SetIdleHandler(std::function<void()> handler) {
    IdleHandler() = std::move(handler);
    static QPointer<QAbstractEventDispatcher> connected;
    QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance();
    if (dispatcher != nullptr && connected != dispatcher) {
        connected = dispatcher;
        QObject::connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, dispatcher, [] {
            // Copied first: the handler may replace or remove itself.
            if (std::function<void()> h = IdleHandler()) {
                h();
            }
        });
    }
}

}  // namespace corvane::platform
