#include <gtest/gtest.h>
#include <QCoreApplication>

#include "platform/epoll_dispatcher.h"

int main(int argc, char** argv) {
    corvane::platform::UseEpollEventLoop();
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
