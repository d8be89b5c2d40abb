// Accepting when descriptors run out: the connection keeps waiting, FD_ACCEPT does not come
// back in a loop, and the connection is taken once descriptors are free again.
#include <sys/resource.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "socket_test_support.h"
#include "support/event_loop_wait.h"

namespace corvane::platform::test {
namespace {

using corvane::test::RunEventLoopFor;

// Lowers the descriptor limit so that no new descriptor can be made, and restores it.
class NoFreeDescriptors {
public:
    NoFreeDescriptors() {
        getrlimit(RLIMIT_NOFILE, &saved_);
        const int lowestFree = ::dup(0);
        ::close(lowestFree);
        rlimit tight = saved_;
        tight.rlim_cur = static_cast<rlim_t>(lowestFree);
        setrlimit(RLIMIT_NOFILE, &tight);
    }
    ~NoFreeDescriptors() { setrlimit(RLIMIT_NOFILE, &saved_); }
    NoFreeDescriptors(const NoFreeDescriptors&) = delete;
    NoFreeDescriptors& operator=(const NoFreeDescriptors&) = delete;

private:
    rlimit saved_{};
};

TEST(AcceptLimitsTest, ExhaustedDescriptorsNeitherLoseTheConnectionNorSpin) {
    ASSERT_EQ(WSAStartup(0x0101), 0);
    EventRecorder rec;
    std::uint16_t port = 0;
    SOCKET listener = OpenListener(rec, port);
    ASSERT_NE(listener, INVALID_SOCKET);
    const int client = RawConnect(port);
    ASSERT_GE(client, 0);
    ASSERT_TRUE(rec.WaitForEvent(listener, FD_ACCEPT));
    {
        NoFreeDescriptors limit;
        EXPECT_EQ(accept(listener, nullptr), INVALID_SOCKET);
        EXPECT_EQ(WSAGetLastError(), WSAEMFILE);
        RunEventLoopFor(100);
        EXPECT_EQ(rec.Count(listener, FD_ACCEPT), 1) << "FD_ACCEPT must not come back by itself";
    }
    SOCKET s = accept(listener, nullptr);
    EXPECT_NE(s, INVALID_SOCKET) << "the waiting connection was lost";
    EXPECT_TRUE(rec.WaitForEvent(listener, FD_ACCEPT, 2)) << "a success offers the next one";
    ::close(client);
    WSACleanup();
    DiscardMessages(&rec);
}

TEST(AcceptLimitsTest, BytesAndCloseThatCameBeforeRegistrationAreReported) {
    ASSERT_EQ(WSAStartup(0x0101), 0);
    EventRecorder rec;
    std::uint16_t port = 0;
    SOCKET listener = OpenListener(rec, port);
    const int client = RawConnect(port);
    ASSERT_TRUE(RawWriteAll(client, "early", 5));
    ::close(client);
    ASSERT_TRUE(rec.WaitForEvent(listener, FD_ACCEPT));
    SOCKET s = accept(listener, nullptr);
    ASSERT_NE(s, INVALID_SOCKET);
    ASSERT_EQ(WSAAsyncSelect(s, &rec, EventRecorder::kMessage, FD_READ | FD_WRITE | FD_CLOSE), 0);
    ASSERT_TRUE(rec.WaitForEvent(s, FD_READ));
    EXPECT_EQ(rec.Count(s, FD_CLOSE), 0);
    char buf[16];
    EXPECT_EQ(recv(s, buf, sizeof buf, 0), 5);
    EXPECT_TRUE(rec.WaitForEvent(s, FD_CLOSE));
    WSACleanup();
    DiscardMessages(&rec);
}

}  // namespace
}  // namespace corvane::platform::test
