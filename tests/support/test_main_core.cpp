#include <QCoreApplication>
#include <gtest/gtest.h>

#include "platform/messages.h"

int main(int argc, char** argv) {
    corvane::platform::UseUnixEventLoop();
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
