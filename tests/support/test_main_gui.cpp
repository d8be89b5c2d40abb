#include <QApplication>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include "platform/messages.h"

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", QByteArrayLiteral("offscreen"));
    }
    corvane::platform::UseUnixEventLoop();
    QApplication app(argc, argv);
    // The window's kept streams (and any other cache) go to a folder of the run's own,
    // for this program and the programs it starts.
    QTemporaryDir cache;
    qputenv("XDG_CACHE_HOME", cache.path().toLocal8Bit());
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
