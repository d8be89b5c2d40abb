// The message queue: one order for everything posted, discarding by target, batches that
// let the rest of the event loop in, and the idle hook after the queue has run dry.
#include <gtest/gtest.h>

#include <QTimer>
#include <vector>

#include "platform/message_queue.h"
#include "platform/messages.h"
#include "support/event_loop_wait.h"

namespace corvane::platform {
namespace {

using corvane::test::WaitFor;

struct Recorder : MessageTarget {
    void HandleMessage(UINT msg, WPARAM wParam, LPARAM) override {
        got.push_back({msg, wParam});
        if (onMessage) {
            onMessage(msg, wParam);
        }
    }
    std::vector<std::pair<UINT, WPARAM>> got;
    std::function<void(UINT, WPARAM)> onMessage;
};

class MessageQueueTest : public ::testing::Test {
protected:
    void TearDown() override {
        DiscardMessages(&a_);
        DiscardMessages(&b_);
        SetIdleHandler({});
    }
    Recorder a_;
    Recorder b_;
};

TEST_F(MessageQueueTest, DeliversInPostingOrderAcrossTargets) {
    PostMessage(&a_, WM_APP, 1, 0);
    PostMessage(&b_, WM_APP, 2, 0);
    PostMessage(&a_, WM_APP, 3, 0);
    ASSERT_TRUE(WaitFor([&] { return a_.got.size() == 2 && b_.got.size() == 1; }));
    EXPECT_EQ(a_.got[0].second, 1u);
    EXPECT_EQ(a_.got[1].second, 3u);
    EXPECT_EQ(b_.got[0].second, 2u);
}

TEST_F(MessageQueueTest, MessagePostedByAHandlerComesAfterThoseAlreadyQueued) {
    std::vector<WPARAM> order;
    a_.onMessage = [&](UINT, WPARAM w) {
        order.push_back(w);
        if (w == 1) {
            PostMessage(&a_, WM_APP, 9, 0);
        }
    };
    PostMessage(&a_, WM_APP, 1, 0);
    PostMessage(&a_, WM_APP, 2, 0);
    ASSERT_TRUE(WaitFor([&] { return order.size() == 3; }));
    EXPECT_EQ(order, (std::vector<WPARAM>{1, 2, 9}));
}

TEST_F(MessageQueueTest, DiscardDropsOnlyThatTargetsMessagesEvenMidDrain) {
    // The first message's handler discards the rest for b: they were already queued.
    a_.onMessage = [&](UINT, WPARAM) { DiscardMessages(&b_); };
    PostMessage(&a_, WM_APP, 1, 0);
    PostMessage(&b_, WM_APP, 2, 0);
    PostMessage(&a_, WM_APP, 3, 0);
    PostMessage(&b_, WM_APP, 4, 0);
    ASSERT_TRUE(WaitFor([&] { return a_.got.size() == 2; }));
    EXPECT_TRUE(b_.got.empty());
    EXPECT_EQ(detail::QueuedMessageCount(), 0u);
}

TEST_F(MessageQueueTest, LongQueueLetsOtherEventsInBetween) {
    constexpr int kMessages = 5000;
    for (int i = 0; i < kMessages; ++i) {
        PostMessage(&a_, WM_APP, static_cast<WPARAM>(i), 0);
    }
    std::size_t deliveredWhenTimerFired = 0;
    bool fired = false;
    QTimer::singleShot(0, [&] {
        fired = true;
        deliveredWhenTimerFired = a_.got.size();
    });
    ASSERT_TRUE(WaitFor([&] { return a_.got.size() == kMessages && fired; }, 10000));
    EXPECT_LT(deliveredWhenTimerFired, static_cast<std::size_t>(kMessages));
    for (int i = 0; i < kMessages; ++i) {
        ASSERT_EQ(a_.got[static_cast<std::size_t>(i)].second, static_cast<WPARAM>(i));
    }
}

TEST_F(MessageQueueTest, IdleHookRunsOnlyOnceTheQueueIsEmpty) {
    std::vector<std::size_t> queuedAtIdle;
    SetIdleHandler([&] { queuedAtIdle.push_back(detail::QueuedMessageCount()); });
    for (int i = 0; i < 600; ++i) {
        PostMessage(&a_, WM_APP, static_cast<WPARAM>(i), 0);
    }
    ASSERT_TRUE(WaitFor([&] { return a_.got.size() == 600 && !queuedAtIdle.empty(); }));
    for (std::size_t n : queuedAtIdle) {
        EXPECT_EQ(n, 0u);
    }
}

}  // namespace
}  // namespace corvane::platform
