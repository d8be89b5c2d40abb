// The socket calls' results and last-error values, the start and stop of the layer, and the
// options that decide how a close looks to the peer.
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <gtest/gtest.h>
#include <cerrno>
#include <cstring>

#include "platform/winsock.h"
#include "socket_test_support.h"

namespace corvane::platform::test {
namespace {

TEST(ErrorMappingTest, ErrnoValuesMapOntoTheTableAndTheRestStayDistinct) {
    const std::pair<int, int> table[] = {
        {EAGAIN, WSAEWOULDBLOCK},
        {EWOULDBLOCK, WSAEWOULDBLOCK},
        {EINPROGRESS, WSAEWOULDBLOCK},
        {EMFILE, WSAEMFILE},
        {ENFILE, WSAEMFILE},
        {EADDRINUSE, WSAEADDRINUSE},
        {ENETDOWN, WSAENETDOWN},
        {ENETUNREACH, WSAENETUNREACH},
        {EHOSTUNREACH, WSAENETUNREACH},
        {ENETRESET, WSAENETRESET},
        {ECONNABORTED, WSAECONNABORTED},
        {ECONNRESET, WSAECONNRESET},
        {EPIPE, WSAECONNRESET},
        {ENOBUFS, WSAENOBUFS},
        {ENOMEM, WSAENOBUFS},
        {ETIMEDOUT, WSAETIMEDOUT},
        {ECONNREFUSED, WSAECONNREFUSED},
    };
    for (const auto& [errnoValue, expected] : table) {
        EXPECT_EQ(ErrorFromErrno(errnoValue), expected) << "errno " << errnoValue;
    }
    EXPECT_EQ(ErrorFromErrno(EROFS), kUnmappedErrorBase + EROFS);
    EXPECT_NE(ErrorFromErrno(ENOSPC), ErrorFromErrno(EROFS));
}

TEST(SocketLayerTest, NothingWorksBeforeStartupAndOldVersionsAreRefused) {
    EXPECT_EQ(WSAStartup(0x0001), WSAVERNOTSUPPORTED);
    EXPECT_EQ(socket(AF_INET_, SOCK_STREAM_, 0), INVALID_SOCKET);
    EXPECT_EQ(WSAGetLastError(), WSANOTINITIALISED);
    char name[64];
    EXPECT_EQ(gethostname(name, sizeof name), SOCKET_ERROR);
    EXPECT_EQ(WSACleanup(), SOCKET_ERROR);
}

TEST(SocketLayerTest, StartupFailureHookMakesStartupFailWithItsCode) {
    SetStartupFailure(WSASYSNOTREADY);
    EXPECT_EQ(WSAStartup(0x0101), WSASYSNOTREADY);
    EXPECT_EQ(WSACleanup(), SOCKET_ERROR) << "a failed start starts nothing";
    SetStartupFailure(0);
    EXPECT_EQ(WSAStartup(0x0101), 0);
    EXPECT_EQ(WSACleanup(), 0);
}

TEST(SocketLayerTest, LastCleanupClosesEverySocketStillOpen) {
    ASSERT_EQ(WSAStartup(0x0101), 0);
    ASSERT_EQ(WSAStartup(0x0202), 0);
    SOCKET s = socket(AF_INET_, SOCK_STREAM_, 0);
    ASSERT_NE(s, INVALID_SOCKET);
    ASSERT_EQ(WSACleanup(), 0);
    EXPECT_NE(::fcntl(s, F_GETFD), -1) << "still started once";
    ASSERT_EQ(WSACleanup(), 0);
    EXPECT_EQ(::fcntl(s, F_GETFD), -1);
}

class SocketCallsTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(WSAStartup(0x0101), 0); }
    void TearDown() override {
        WSACleanup();
        DiscardMessages(&rec_);
    }
    EventRecorder rec_;
};

TEST_F(SocketCallsTest, OnlyIpv4AndIpv6StreamSockets) {
    EXPECT_EQ(socket(10, SOCK_STREAM_, 0), INVALID_SOCKET);  // Linux's AF_INET6 is not ours
    EXPECT_EQ(WSAGetLastError(), WSAEAFNOSUPPORT);
    EXPECT_EQ(socket(AF_INET_, 2, 0), INVALID_SOCKET);
    EXPECT_EQ(WSAGetLastError(), WSAEINVAL);
}

// An IPv6 socket binds, listens and accepts with the family in its addresses; with
// IPV6_V6ONLY off it takes an IPv4 peer too, as a v4-mapped address.
TEST_F(SocketCallsTest, Ipv6SocketsCarryTheirFamilyAndTakeIpv4PeersWhenAsked) {
    SOCKET listener = socket(AF_INET6_, SOCK_STREAM_, 0);
    SocketAddress loopback;
    loopback.family = AF_INET6_;
    if (listener == INVALID_SOCKET || inet_pton(AF_INET6_, "::", loopback.address6) != 1) {
        GTEST_SKIP() << "this machine has no IPv6";
    }
    const int off = 0;
    ASSERT_EQ(setsockopt(listener, IPPROTO_IPV6_, IPV6_V6ONLY_, &off, sizeof off), 0);
    ASSERT_EQ(bind(listener, loopback), 0);
    ASSERT_EQ(listen(listener, 4), 0);
    SocketAddress bound;
    ASSERT_EQ(getsockname(listener, bound), 0);
    EXPECT_EQ(bound.family, AF_INET6_);
    ASSERT_NE(bound.port, 0);
    const int raw = RawConnect(bound.port);  // over IPv4, to 127.0.0.1
    ASSERT_GE(raw, 0);
    SocketAddress peer;
    const SOCKET accepted = accept(listener, &peer);
    ::close(raw);
    ASSERT_NE(accepted, INVALID_SOCKET);
    EXPECT_EQ(peer.family, AF_INET6_);
    char text[64];
    ASSERT_NE(inet_ntop(AF_INET6_, peer.address6, text, sizeof text), nullptr);
    EXPECT_STREQ(text, "::ffff:127.0.0.1");
    std::uint8_t v6[16];
    EXPECT_EQ(inet_pton(AF_INET6_, "2001:db8::5", v6), 1);
    EXPECT_EQ(inet_pton(AF_INET6_, "2001:db8::g", v6), 0);
    EXPECT_EQ(inet_pton(AF_INET_, "127.1", v6), 0);  // only the four-part form
    EXPECT_EQ(inet_pton(99, "::1", v6), SOCKET_ERROR);
}

TEST_F(SocketCallsTest, CallsOnSomethingNotASocketOfTheLayerFail) {
    char c = 0;
    EXPECT_EQ(recv(12345, &c, 1, 0), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAENOTSOCK);
    EXPECT_EQ(closesocket(-1), SOCKET_ERROR);
    EXPECT_EQ(WSAAsyncSelect(12345, &rec_, WM_APP, FD_READ), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAENOTSOCK);
}

TEST_F(SocketCallsTest, PortThatIsListenedOnIsInUseButBindAnyGivesAFreePort) {
    std::uint16_t port = 0;
    SOCKET listener = OpenListener(rec_, port);
    ASSERT_NE(listener, INVALID_SOCKET);
    EXPECT_NE(port, 0);
    SOCKET second = socket(AF_INET_, SOCK_STREAM_, 0);
    EXPECT_EQ(bind(second, {INADDR_ANY_, port}), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAEADDRINUSE);
}

TEST_F(SocketCallsTest, SocketOptionsKeepTheCloseGracefulAndSetNoDelay) {
    SOCKET s = socket(AF_INET_, SOCK_STREAM_, 0);
    const int off = 0;
    const int on = 1;
    EXPECT_EQ(setsockopt(s, SOL_SOCKET_, SO_DONTLINGER, &off, sizeof off), 0);
    EXPECT_EQ(setsockopt(s, IPPROTO_TCP_, TCP_NODELAY_, &on, sizeof on), 0);
    linger l{1, 1};
    socklen_t len = sizeof l;
    ASSERT_EQ(::getsockopt(s, SOL_SOCKET, SO_LINGER, &l, &len), 0);
    EXPECT_EQ(l.l_onoff, 0) << "a zero linger interval would reset the connection";
    int nodelay = 0;
    len = sizeof nodelay;
    ASSERT_EQ(::getsockopt(s, IPPROTO_TCP, TCP_NODELAY, &nodelay, &len), 0);
    EXPECT_NE(nodelay, 0);
    EXPECT_EQ(setsockopt(s, SOL_SOCKET_, 0x0004, &on, sizeof on), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAENOPROTOOPT);
}

TEST_F(SocketCallsTest, DottedAddressesAndByteOrder) {
    EXPECT_EQ(ntohl(inet_addr("127.0.0.1")), 0x7F000001u);
    EXPECT_EQ(ntohl(inet_addr("10.1.2.3")), 0x0A010203u);
    EXPECT_EQ(inet_addr("255.255.255.255"), INADDR_NONE_);
    EXPECT_EQ(inet_addr("example.test"), INADDR_NONE_);
    EXPECT_EQ(inet_addr("1.2.3.256"), INADDR_NONE_);
    EXPECT_EQ(inet_addr(""), INADDR_NONE_);
    EXPECT_STREQ(inet_ntoa(htonl(0xC0A80001u)), "192.168.0.1");
    EXPECT_EQ(htons(0x1234), 0x3412);
    EXPECT_EQ(ntohs(htons(8080)), 8080);
}

TEST_F(SocketCallsTest, HostNameFitsOrFailsWithoutTruncation) {
    char name[64] = {};
    ASSERT_EQ(gethostname(name, sizeof name), 0);
    EXPECT_GT(std::strlen(name), 0u);
    char tiny[1] = {'x'};
    EXPECT_EQ(gethostname(tiny, sizeof tiny), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAEFAULT);
}

}  // namespace
}  // namespace corvane::platform::test
