// Host look-ups answer through the message queue, with handles no socket can have, and a
// cancelled look-up never answers (QHostInfo's cache would otherwise answer anyway).
#include <gtest/gtest.h>

#include "platform/winsock.h"
#include "socket_test_support.h"
#include "support/event_loop_wait.h"

namespace corvane::platform::test {
namespace {

using corvane::test::RunEventLoopFor;

class HostLookupTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(WSAStartup(0x0101), 0); }
    void TearDown() override {
        WSACleanup();
        DiscardMessages(&rec_);
    }
    EventRecorder rec_;
};

TEST_F(HostLookupTest, LocalhostAnswersLoopbackAddress) {
    HostEntry entry;
    const HANDLE h = WSAAsyncGetHostByName(&rec_, EventRecorder::kMessage, "localhost", &entry);
    ASSERT_NE(h, 0u);
    EXPECT_GE(h, HANDLE{1} << 32);
    ASSERT_TRUE(corvane::test::WaitFor([&] { return !rec_.events.empty(); }, 10000));
    ASSERT_EQ(rec_.events.size(), 1u);
    EXPECT_EQ(rec_.events[0].socket, h);
    EXPECT_EQ(rec_.events[0].error, 0);
    EXPECT_STREQ(inet_ntoa(entry.address), "127.0.0.1");
}

TEST_F(HostLookupTest, NameThatCannotExistAnswersHostNotFound) {
    HostEntry entry{0x01020304u};
    const HANDLE h =
        WSAAsyncGetHostByName(&rec_, EventRecorder::kMessage, "no-such-host.invalid", &entry);
    ASSERT_NE(h, 0u);
    ASSERT_TRUE(corvane::test::WaitFor([&] { return !rec_.events.empty(); }, 20000));
    EXPECT_EQ(rec_.events[0].socket, h);
    EXPECT_EQ(rec_.events[0].error, WSAHOST_NOT_FOUND);
}

TEST_F(HostLookupTest, CancelledLookupNeverAnswersEvenFromTheCache) {
    HostEntry warm;
    ASSERT_NE(WSAAsyncGetHostByName(&rec_, EventRecorder::kMessage, "localhost", &warm), 0u);
    ASSERT_TRUE(corvane::test::WaitFor([&] { return rec_.events.size() == 1; }, 10000));

    HostEntry cancelled{0xDEADBEEFu};
    const HANDLE h = WSAAsyncGetHostByName(&rec_, EventRecorder::kMessage, "localhost", &cancelled);
    ASSERT_NE(h, 0u);
    EXPECT_EQ(WSACancelAsyncRequest(h), 0);
    // A later request answers; the cancelled one, asked before it, would have come first.
    HostEntry later;
    const HANDLE h2 = WSAAsyncGetHostByName(&rec_, EventRecorder::kMessage, "localhost", &later);
    ASSERT_TRUE(corvane::test::WaitFor([&] { return rec_.events.size() == 2; }, 10000));
    RunEventLoopFor(50);
    ASSERT_EQ(rec_.events.size(), 2u);
    EXPECT_EQ(rec_.events[1].socket, h2);
    EXPECT_EQ(cancelled.address, 0xDEADBEEFu) << "a cancelled request must not write its entry";
    EXPECT_EQ(WSACancelAsyncRequest(h), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAEINVAL);
}

TEST_F(HostLookupTest, CleanupCancelsWhatIsPending) {
    HostEntry entry{0xDEADBEEFu};
    ASSERT_NE(WSAAsyncGetHostByName(&rec_, EventRecorder::kMessage, "localhost", &entry), 0u);
    ASSERT_EQ(WSACleanup(), 0);
    RunEventLoopFor(100);
    EXPECT_TRUE(rec_.events.empty());
    ASSERT_EQ(WSAStartup(0x0101), 0);
}

}  // namespace
}  // namespace corvane::platform::test
