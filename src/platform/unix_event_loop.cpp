#include <QByteArray>

#include "platform/messages.h"

namespace corvane::platform {

void UseUnixEventLoop() { qputenv("QT_NO_GLIB", QByteArrayLiteral("1")); }

}  // namespace corvane::platform
