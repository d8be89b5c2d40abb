// The Channel against a real loopback connection and failing allocations.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "platform/memory.h"
#include "platform/winsock.h"
#include "relay/channel.h"

namespace corvane::relay {
namespace {

class ChannelTest : public ::testing::Test {
protected:
    // fds[0] is a socket of the platform layer (the Channel's side), non-blocking; fds[1] is a
    // raw blocking peer connected to it over 127.0.0.1.
    void SetUp() override {
        ASSERT_EQ(platform::WSAStartup(0x0101), 0);
        listener = platform::socket(platform::AF_INET_, platform::SOCK_STREAM_, 0);
        ASSERT_NE(listener, platform::INVALID_SOCKET);
        ASSERT_EQ(platform::bind(listener, {platform::inet_addr("127.0.0.1"), 0}), 0);
        ASSERT_EQ(platform::listen(listener, 1), 0);
        platform::SocketAddress bound;
        ASSERT_EQ(platform::getsockname(listener, bound), 0);
        fds[1] = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in sin{};
        sin.sin_family = AF_INET;
        sin.sin_port = bound.port;
        sin.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ASSERT_EQ(::connect(fds[1], reinterpret_cast<sockaddr*>(&sin), sizeof sin), 0);
        fds[0] = platform::accept(listener, nullptr);
        ASSERT_NE(fds[0], platform::INVALID_SOCKET);
        ::fcntl(fds[0], F_SETFL, ::fcntl(fds[0], F_GETFL) | O_NONBLOCK);
    }
    void TearDown() override {
        platform::SetAllocationFailure({});
        if (fds[1] >= 0) {
            ::close(fds[1]);
        }
        platform::closesocket(fds[0]);
        platform::closesocket(listener);
        platform::WSACleanup();
    }
    // Bytes written by the peer; returns once they wait in the Channel's socket.
    void PeerWrites(std::size_t n, char fill = 'x') {
        const std::string bytes(n, fill);
        int before = 0;
        ::ioctl(fds[0], FIONREAD, &before);
        ASSERT_EQ(::write(fds[1], bytes.data(), n), static_cast<ssize_t>(n));
        int waiting = 0;
        for (int i = 0; i < 1000 && waiting < before + static_cast<int>(n); ++i) {
            ::poll(nullptr, 0, i == 0 ? 0 : 1);
            ::ioctl(fds[0], FIONREAD, &waiting);
        }
    }
    void DrainSocket() {
        // Through the socket layer, which may hold bytes it has read ahead.
        char drain[8192];
        while (platform::recv(fds[0], drain, sizeof drain, 0) > 0) {
        }
    }
    // Waits (bounded) until the socket reports the peer's close or reset.
    void WaitHangUp() {
        pollfd p{fds[0], POLLRDHUP, 0};
        ::poll(&p, 1, 5000);
    }
    // Fills the channel directly with a recognisable pattern.
    static std::string Fill(Channel& channel, std::int32_t n) {
        std::string pattern(static_cast<std::size_t>(n), '\0');
        for (std::int32_t i = 0; i < n; ++i) {
            pattern[static_cast<std::size_t>(i)] = static_cast<char>('a' + i % 23);
        }
        EXPECT_EQ(channel.Resize(n + kChannelInitialSize), 0);
        std::memcpy(channel.data, pattern.data(), pattern.size());
        channel.length = n;
        return pattern;
    }
    platform::SOCKET listener = platform::INVALID_SOCKET;
    int fds[2] = {-1, -1};
};

TEST_F(ChannelTest, ReadsGrowOnlyBelowTheMinimumFreeRoom) {
    Channel channel;
    ASSERT_EQ(channel.Resize(kChannelInitialSize), 0);
    // A fresh Channel takes at most its 8192 bytes in one read.
    PeerWrites(20000);
    EXPECT_EQ(channel.Receive(fds[0]), 8192);
    EXPECT_EQ(channel.capacity, 8192);
    // Full: it first grows by one step and reads at most that step.
    EXPECT_EQ(channel.Receive(fds[0]), 4096);
    EXPECT_EQ(channel.capacity, 12288);
    EXPECT_EQ(channel.length, 12288);

    Channel exact;  // exactly 4096 free: no growth
    ASSERT_EQ(exact.Resize(kChannelInitialSize), 0);
    DrainSocket();
    PeerWrites(4096);
    EXPECT_EQ(exact.Receive(fds[0]), 4096);
    PeerWrites(5000);
    EXPECT_EQ(exact.Receive(fds[0]), 4096);
    EXPECT_EQ(exact.capacity, 8192);

    Channel almost;  // 4095 free: grows, and the read may take 8191 bytes
    ASSERT_EQ(almost.Resize(kChannelInitialSize), 0);
    DrainSocket();
    PeerWrites(4097);
    EXPECT_EQ(almost.Receive(fds[0]), 4097);
    PeerWrites(9000);
    EXPECT_EQ(almost.Receive(fds[0]), 8191);
    EXPECT_EQ(almost.capacity, 12288);
}

TEST_F(ChannelTest, NothingWaitingAndPeerClosedLeaveTheLengthAlone) {
    Channel channel;
    ASSERT_EQ(channel.Resize(kChannelInitialSize), 0);
    EXPECT_EQ(channel.Receive(fds[0]), kReceiveNothing);
    PeerWrites(10, 'q');
    EXPECT_EQ(channel.Receive(fds[0]), 10);
    ::close(fds[1]);
    fds[1] = -1;
    WaitHangUp();
    EXPECT_EQ(channel.Receive(fds[0]), kReceiveClosed);
    EXPECT_EQ(channel.length, 10);
    EXPECT_EQ(std::string(channel.data, 10), std::string(10, 'q'));
}

TEST_F(ChannelTest, ReceiveOnABrokenSocketIsASocketFailure) {
    Channel channel;
    ASSERT_EQ(channel.Resize(kChannelInitialSize), 0);
    EXPECT_EQ(channel.Receive(platform::INVALID_SOCKET), kReceiveSocketError);
    EXPECT_NE(platform::WSAGetLastError(), platform::WSAEWOULDBLOCK);
    EXPECT_EQ(channel.length, 0);
}

TEST_F(ChannelTest, SendAllOnAnEmptyChannelMakesNoSend) {
    Channel channel;
    ASSERT_EQ(channel.Resize(kChannelInitialSize), 0);
    // An invalid socket would fail any send that was made.
    EXPECT_EQ(channel.SendAll(platform::INVALID_SOCKET), 0);
    EXPECT_EQ(channel.Flush(platform::INVALID_SOCKET), 0);
}

TEST_F(ChannelTest, PartialSendKeepsTheRestAtTheFrontInOrder) {
    int small = 4096;
    ::setsockopt(fds[0], SOL_SOCKET, SO_SNDBUF, &small, sizeof small);
    ::setsockopt(fds[1], SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
    Channel channel;
    const std::string pattern = Fill(channel, 1 << 20);
    const int sent = channel.Flush(fds[0]);
    ASSERT_GT(sent, 0);
    ASSERT_LT(sent, 1 << 20);
    EXPECT_EQ(channel.length, (1 << 20) - sent);
    EXPECT_EQ(std::string(channel.data, static_cast<std::size_t>(channel.length)),
              pattern.substr(static_cast<std::size_t>(sent)));
    // The peer gets the first part unchanged.
    std::string got(static_cast<std::size_t>(sent), '\0');
    std::size_t have = 0;
    while (have < got.size()) {
        const ssize_t n = ::read(fds[1], got.data() + have, got.size() - have);
        ASSERT_GT(n, 0);
        have += static_cast<std::size_t>(n);
    }
    EXPECT_EQ(got, pattern.substr(0, static_cast<std::size_t>(sent)));
}

TEST_F(ChannelTest, SendFailureReportsMinusOneAndRemovesNothing) {
    Channel channel;
    Fill(channel, 5000);
    linger reset{1, 0};
    ::setsockopt(fds[1], SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
    ::close(fds[1]);
    fds[1] = -1;
    WaitHangUp();
    EXPECT_EQ(channel.SendAll(fds[0]), -1);
    EXPECT_EQ(channel.Flush(fds[0]), -1);
    EXPECT_EQ(channel.length, 5000);
}

TEST_F(ChannelTest, ConsumeTrimsOnlyAboveTheThreshold) {
    Channel channel;
    ASSERT_EQ(channel.Resize(16384), 0);
    channel.length = 8192;
    channel.Consume(1);  // 8193 free: trimmed to floor(8191 / 4096) * 4096 + 8192
    EXPECT_EQ(channel.capacity, 12288);

    Channel edge;
    ASSERT_EQ(edge.Resize(16384), 0);
    edge.length = 8193;
    edge.Consume(1);  // exactly 8192 free: unchanged
    EXPECT_EQ(edge.capacity, 16384);

    Channel small;
    ASSERT_EQ(small.Resize(65536), 0);
    small.length = 2000;
    small.Consume(1000);
    EXPECT_EQ(small.capacity, 8192);

    Channel larger;
    ASSERT_EQ(larger.Resize(65536), 0);
    larger.length = 20000;
    larger.Consume(10000);
    EXPECT_EQ(larger.capacity, 16384);
}

TEST_F(ChannelTest, ConsumeMovesTheRemainderToTheFront) {
    Channel channel;
    const std::string pattern = Fill(channel, 3000);
    channel.Consume(1234);
    EXPECT_EQ(std::string(channel.data, static_cast<std::size_t>(channel.length)),
              pattern.substr(1234));
    channel.Consume(channel.length);
    EXPECT_EQ(channel.length, 0);
}

TEST_F(ChannelTest, FailedShrinkKeepsTheLargerBlock) {
    Channel channel;
    const std::string pattern = Fill(channel, 40000);
    const std::int32_t before = channel.capacity;
    platform::SetAllocationFailure([](std::size_t) { return true; });
    channel.Consume(39000);
    EXPECT_EQ(channel.capacity, before);
    EXPECT_EQ(std::string(channel.data, 1000), pattern.substr(39000));
}

TEST_F(ChannelTest, FailedGrowIsOutOfMemoryOnlyWhenFull) {
    Channel channel;
    ASSERT_EQ(channel.Resize(kChannelInitialSize), 0);
    PeerWrites(8192 + 100);
    ASSERT_EQ(channel.Receive(fds[0]), 8192);
    platform::SetAllocationFailure([](std::size_t) { return true; });
    EXPECT_EQ(channel.Resize(12288), -1);
    EXPECT_EQ(channel.Receive(fds[0]), kReceiveOutOfMemory);
    EXPECT_EQ(channel.length, 8192);
    EXPECT_EQ(channel.capacity, 8192);
    platform::SetAllocationFailure({});
    // Nothing was read: the 100 bytes still wait in the socket.
    EXPECT_EQ(channel.Receive(fds[0]), 100);
}

TEST_F(ChannelTest, FailedGrowWithRoomLeftReadsIntoThatRoom) {
    Channel channel;
    ASSERT_EQ(channel.Resize(kChannelInitialSize), 0);
    PeerWrites(8000);
    ASSERT_EQ(channel.Receive(fds[0]), 8000);
    platform::SetAllocationFailure([](std::size_t) { return true; });
    EXPECT_EQ(channel.Resize(12288), 0);  // not a failure: 192 bytes are free
    PeerWrites(1000);
    EXPECT_EQ(channel.Receive(fds[0]), 192);
    EXPECT_EQ(channel.capacity, 8192);
}

TEST_F(ChannelTest, ReleaseEmptiesAndIsHarmlessTwice) {
    Channel channel;
    channel.Release();
    Fill(channel, 100);
    channel.Release();
    EXPECT_EQ(channel.data, nullptr);
    EXPECT_EQ(channel.capacity, 0);
    EXPECT_EQ(channel.length, 0);
    channel.Release();
}

}  // namespace
}  // namespace corvane::relay
