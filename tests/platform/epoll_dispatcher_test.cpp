// The program's own event loop, as the tests of the engine run on it (their main installs
// it): timers, notifiers, posts from other threads, the idle moment and the shared set.
#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QEventLoop>
#include <QObject>
#include <QSocketNotifier>
#include <QTimer>
#include <memory>
#include <thread>

#include "platform/epoll_dispatcher.h"
#include "platform/messages.h"
#include "support/event_loop_wait.h"

namespace corvane::platform {
namespace {

using corvane::test::RunEventLoopFor;
using corvane::test::WaitFor;

class EpollDispatcherTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_NE(EpollEventDispatcher::Current(), nullptr) << "the tests' main installs it";
        ASSERT_EQ(::pipe2(pipe_, O_NONBLOCK | O_CLOEXEC), 0);
    }
    void TearDown() override {
        for (int fd : pipe_) {
            if (fd >= 0) {
                ::close(fd);
            }
        }
    }
    void WriteByte() { ASSERT_EQ(::write(pipe_[1], "x", 1), 1); }

    int pipe_[2] = {-1, -1};
};

TEST_F(EpollDispatcherTest, ReadNotifierIsLevelTriggeredUntilTheBytesAreRead) {
    QSocketNotifier notifier(pipe_[0], QSocketNotifier::Read);
    int activations = 0;
    bool drain = false;
    QObject::connect(&notifier, &QSocketNotifier::activated, &notifier, [&] {
        ++activations;
        if (drain) {
            char buf[16];
            while (::read(pipe_[0], buf, sizeof buf) > 0) {
            }
        }
    });
    WriteByte();
    ASSERT_TRUE(WaitFor([&] { return activations >= 3; })) << "unread bytes keep it ready";
    drain = true;
    ASSERT_TRUE(WaitFor([&] { return activations >= 4; }));
    const int afterDrain = activations;
    RunEventLoopFor(30);
    EXPECT_LE(activations, afterDrain + 1) << "once read, it stays quiet";

    notifier.setEnabled(false);
    const int whenDisabled = activations;
    WriteByte();
    RunEventLoopFor(30);
    EXPECT_EQ(activations, whenDisabled) << "a disabled notifier is not activated";
    notifier.setEnabled(true);
    EXPECT_TRUE(WaitFor([&] { return activations > whenDisabled; }))
        << "enabled again with bytes waiting, it is ready at once";
}

TEST_F(EpollDispatcherTest, NotifierDeletedByAnotherInTheSameBatchIsNotActivated) {
    // Both ends are ready at once (read and write notifiers on one pipe's two ends); whichever
    // runs first deletes the other.
    auto reader = std::make_unique<QSocketNotifier>(pipe_[0], QSocketNotifier::Read);
    auto writer = std::make_unique<QSocketNotifier>(pipe_[1], QSocketNotifier::Write);
    int activations = 0;
    QObject::connect(reader.get(), &QSocketNotifier::activated, reader.get(), [&] {
        ++activations;
        writer.reset();
        reader->setEnabled(false);
    });
    QObject::connect(writer.get(), &QSocketNotifier::activated, writer.get(), [&] {
        ++activations;
        reader.reset();
        writer->setEnabled(false);
    });
    WriteByte();
    ASSERT_TRUE(WaitFor([&] { return activations > 0; }));
    RunEventLoopFor(20);
    EXPECT_EQ(activations, 1);
}

TEST_F(EpollDispatcherTest, DescriptorThatEpollRefusesIsAlwaysReadyAsPollWouldSay) {
    const int devNull = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    ASSERT_GE(devNull, 0);
    {
        QSocketNotifier notifier(devNull, QSocketNotifier::Read);
        int activations = 0;
        QObject::connect(&notifier, &QSocketNotifier::activated, &notifier, [&] { ++activations; });
        EXPECT_TRUE(WaitFor([&] { return activations >= 2; }, 1000));
    }
    ::close(devNull);
    // Gone with its notifier: the loop waits again (a zero timeout would spin here).
    int ticks = 0;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, &timer, [&] { ++ticks; });
    timer.start(10);
    RunEventLoopFor(50);
    EXPECT_GE(ticks, 2);
}

TEST_F(EpollDispatcherTest, TimerIsNotFiredAgainInsideItsOwnNestedLoopButOthersAre) {
    QTimer outer;
    QTimer inner;
    int outerTicks = 0;
    int innerTicks = 0;
    int outerTicksSeenInside = -1;
    QObject::connect(&inner, &QTimer::timeout, &inner, [&] { ++innerTicks; });
    QObject::connect(&outer, &QTimer::timeout, &outer, [&] {
        if (++outerTicks == 1) {
            // A handler that waits in a loop of its own, as a modal box would.
            QEventLoop nested;
            QTimer::singleShot(60, &nested, &QEventLoop::quit);
            nested.exec();
            outerTicksSeenInside = outerTicks;
            outer.stop();
        }
    });
    inner.start(5);
    outer.start(5);
    ASSERT_TRUE(WaitFor([&] { return outerTicksSeenInside >= 0; }));
    EXPECT_EQ(outerTicksSeenInside, 1);
    EXPECT_GE(innerTicks, 3) << "other timers run in the nested loop";
    EXPECT_EQ(outerTicks, 1);
}

TEST_F(EpollDispatcherTest, RemainingTimeAndKillingFromTheTick) {
    QTimer timer;
    timer.start(200);
    const int left = timer.remainingTime();
    EXPECT_GT(left, 100);
    EXPECT_LE(left, 200);
    int ticks = 0;
    QTimer fast;
    QObject::connect(&fast, &QTimer::timeout, &fast, [&] {
        ++ticks;
        fast.stop();
    });
    fast.start(1);
    RunEventLoopFor(40);
    EXPECT_EQ(ticks, 1);
    EXPECT_EQ(fast.remainingTime(), -1);
}

TEST_F(EpollDispatcherTest, PostFromAnotherThreadWakesAWaitingLoop) {
    QEventLoop loop;
    bool delivered = false;
    QTimer limit;  // a failing wake-up ends the test instead of hanging it
    limit.setSingleShot(true);
    QObject::connect(&limit, &QTimer::timeout, &loop, &QEventLoop::quit);
    limit.start(5000);
    std::thread poster([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        QMetaObject::invokeMethod(
            &loop,
            [&] {
                delivered = true;
                loop.quit();
            },
            Qt::QueuedConnection);
    });
    loop.exec();
    poster.join();
    EXPECT_TRUE(delivered);
    EXPECT_TRUE(limit.isActive()) << "woken by the post, not by the time limit";
}

TEST_F(EpollDispatcherTest, ManyPostsFromAnotherThreadAllArriveAndTheLoopThenSleeps) {
    constexpr int kPosts = 20000;
    int delivered = 0;
    std::thread poster([&] {
        for (int i = 0; i < kPosts; ++i) {
            QMetaObject::invokeMethod(
                QCoreApplication::instance(), [&] { ++delivered; }, Qt::QueuedConnection);
        }
    });
    const bool all = WaitFor([&] { return delivered == kPosts; }, 20000);
    poster.join();
    ASSERT_TRUE(all) << delivered;
    // Passes of the loop while nothing happens but WaitFor's 5 ms timer: a wake-up count left
    // behind would make it spin through hundreds of thousands.
    int passes = 0;
    QObject counter;
    QObject::connect(QAbstractEventDispatcher::instance(), &QAbstractEventDispatcher::awake,
                     &counter, [&] { ++passes; });
    RunEventLoopFor(100);
    EXPECT_LT(passes, 1000);
}

TEST_F(EpollDispatcherTest, IdleMomentComesOnlyOnceAChainOfPostsHasRunOut) {
    int posted = 0;
    int postedAtFirstIdle = -1;
    SetIdleHandler([&] {
        if (postedAtFirstIdle < 0 && posted > 0) {
            postedAtFirstIdle = posted;
        }
    });
    std::function<void()> next = [&] {
        if (++posted < 50) {
            QMetaObject::invokeMethod(QCoreApplication::instance(), next, Qt::QueuedConnection);
        }
    };
    QMetaObject::invokeMethod(QCoreApplication::instance(), next, Qt::QueuedConnection);
    EXPECT_TRUE(WaitFor([&] { return postedAtFirstIdle >= 0; }));
    SetIdleHandler({});
    EXPECT_EQ(postedAtFirstIdle, 50);
}

}  // namespace
}  // namespace corvane::platform
