#include <gtest/gtest.h>
#include <QCoreApplication>
#include <QTemporaryDir>

#include "platform/epoll_dispatcher.h"

int main(int argc, char** argv) {
    corvane::platform::UseEpollEventLoop();
    QCoreApplication app(argc, argv);
    // The window's kept streams (and any other cache) go to a folder of the run's own,
    // for this program and the programs it starts.
    QTemporaryDir cache;
    qputenv("XDG_CACHE_HOME", cache.path().toLocal8Bit());
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
