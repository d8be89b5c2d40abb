#include <gtest/gtest.h>

#include <vector>

#include "platform/messages.h"
#include "support/event_loop_wait.h"

namespace corvane::platform {
namespace {

using corvane::test::RunEventLoopFor;
using corvane::test::WaitFor;

struct TickCounter : MessageTarget {
    void HandleMessage(UINT msg, WPARAM wParam, LPARAM) override {
        ASSERT_EQ(msg, WM_TIMER);
        ids.push_back(wParam);
        if (killInTick) {
            EXPECT_TRUE(KillTimer(this, wParam));
        }
    }
    std::vector<WPARAM> ids;
    bool killInTick = false;
};

TEST(TimersTest, TickCarriesTheIdAndStopsWhenKilledFromItsOwnTick) {
    TickCounter t;
    t.killInTick = true;
    ASSERT_EQ(SetTimer(&t, 1, 5), 1u);
    ASSERT_TRUE(WaitFor([&] { return !t.ids.empty(); }));
    RunEventLoopFor(40);
    EXPECT_EQ(t.ids, std::vector<WPARAM>{1});
    EXPECT_FALSE(KillTimer(&t, 1)) << "already killed";
}

TEST(TimersTest, TimersOfOneTargetAreIndependent) {
    TickCounter t;
    ASSERT_EQ(SetTimer(&t, 1, 5), 1u);
    ASSERT_EQ(SetTimer(&t, 2, 5), 2u);
    ASSERT_TRUE(WaitFor([&] {
        return std::count(t.ids.begin(), t.ids.end(), 1u) > 0 &&
               std::count(t.ids.begin(), t.ids.end(), 2u) > 0;
    }));
    EXPECT_TRUE(KillTimer(&t, 1));
    t.ids.clear();
    ASSERT_TRUE(WaitFor([&] { return t.ids.size() >= 3; }));
    EXPECT_EQ(std::count(t.ids.begin(), t.ids.end(), 1u), 0);
    EXPECT_TRUE(KillTimer(&t, 2));
}

TEST(TimersTest, IdZeroOrNoTargetFails) {
    TickCounter t;
    EXPECT_EQ(SetTimer(&t, 0, 5), 0u);
    EXPECT_EQ(SetTimer(nullptr, 1, 5), 0u);
    EXPECT_FALSE(KillTimer(&t, 7));
}

}  // namespace
}  // namespace corvane::platform
