// Socket events on real loopback sockets: each event comes once and is re-enabled only by the
// call that consumes it, and nothing queued for a closed socket reaches a later socket that
// happens to get the same number.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QEventLoop>
#include <QTimer>
#include <algorithm>
#include <string>
#include <thread>
#include <vector>

#include "platform/messages.h"
#include "socket_test_support.h"
#include "support/event_loop_wait.h"

namespace corvane::platform::test {
namespace {

using corvane::test::RunEventLoopFor;
using corvane::test::WaitFor;

constexpr long kClientMask = FD_READ | FD_WRITE | FD_CLOSE;
constexpr long kServerMask = FD_READ | FD_WRITE | FD_CONNECT | FD_CLOSE;

class SocketEventsTest : public ListenerTest {
protected:
    // An outside client connected to the listener and the accepted socket of the layer.
    SOCKET AcceptFromRawClient(int& rawClient) {
        rawClient = RawConnect(port_);
        raw_.push_back(rawClient);
        return AcceptRegistered(rec_, listener_, kClientMask);
    }
    // A layer socket connecting (non-blocking) to 127.0.0.1 at port.
    SOCKET StartConnect(std::uint16_t port) {
        SOCKET s = socket(AF_INET_, SOCK_STREAM_, 0);
        EXPECT_EQ(WSAAsyncSelect(s, &rec_, EventRecorder::kMessage, kServerMask), 0);
        EXPECT_EQ(connect(s, {inet_addr("127.0.0.1"), port}), SOCKET_ERROR);
        EXPECT_EQ(WSAGetLastError(), WSAEWOULDBLOCK);
        return s;
    }
    // The same, with the accepted socket's events going to target instead of the recorder.
    SOCKET AcceptFromRawClientInto(MessageTarget& target, int& rawClient) {
        SOCKET s = AcceptFromRawClient(rawClient);
        if (s != INVALID_SOCKET &&
            WSAAsyncSelect(s, &target, EventRecorder::kMessage, kClientMask) != 0) {
            return INVALID_SOCKET;
        }
        return s;
    }
    int RecvSome(SOCKET s, int len) {
        std::vector<char> buf(static_cast<std::size_t>(len));
        return recv(s, buf.data(), len, 0);
    }
};

TEST_F(SocketEventsTest, ConnectCompletesWithConnectThenWriteOnBothEnds) {
    SOCKET out = StartConnect(port_);
    ASSERT_TRUE(rec_.WaitForEvent(out, FD_CONNECT));
    SOCKET in = AcceptRegistered(rec_, listener_, kClientMask);
    ASSERT_NE(in, INVALID_SOCKET);
    ASSERT_TRUE(rec_.WaitForEvent(in, FD_WRITE));
    ASSERT_TRUE(rec_.WaitForEvent(out, FD_WRITE));

    const auto outEvents = rec_.For(out);
    ASSERT_GE(outEvents.size(), 2u);
    EXPECT_EQ(outEvents[0].event, FD_CONNECT);
    EXPECT_EQ(outEvents[0].error, 0);
    EXPECT_EQ(outEvents[1].event, FD_WRITE);
    RunEventLoopFor(50);
    EXPECT_EQ(rec_.Count(out, FD_WRITE), 1);
    EXPECT_EQ(rec_.Count(in, FD_WRITE), 1);
    EXPECT_EQ(rec_.Count(in, FD_READ), 0);
}

TEST_F(SocketEventsTest, ReaderThatDoesNotReadGetsOneReadEventOnly) {
    int peer = -1;
    SOCKET s = AcceptFromRawClient(peer);
    ASSERT_NE(s, INVALID_SOCKET);
    for (int i = 0; i < 5; ++i) {
        ASSERT_TRUE(RawWriteAll(peer, "abcdefgh", 8));
        RunEventLoopFor(10);
    }
    ASSERT_TRUE(rec_.WaitForEvent(s, FD_READ));
    RunEventLoopFor(50);
    EXPECT_EQ(rec_.Count(s, FD_READ), 1);

    // A read that leaves bytes waiting brings the next FD_READ; one that empties the queue
    // does not, until new bytes arrive.
    ASSERT_EQ(RecvSome(s, 10), 10);
    ASSERT_TRUE(rec_.WaitForEvent(s, FD_READ, 2));
    ASSERT_EQ(RecvSome(s, 100), 30);
    RunEventLoopFor(50);
    EXPECT_EQ(rec_.Count(s, FD_READ), 2);
    ASSERT_TRUE(RawWriteAll(peer, "x", 1));
    EXPECT_TRUE(rec_.WaitForEvent(s, FD_READ, 3));
}

TEST_F(SocketEventsTest, ReadThatWouldBlockStillReenablesRead) {
    int peer = -1;
    SOCKET s = AcceptFromRawClient(peer);
    ASSERT_NE(s, INVALID_SOCKET);
    EXPECT_EQ(RecvSome(s, 16), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAEWOULDBLOCK);
    ASSERT_TRUE(RawWriteAll(peer, "hello", 5));
    EXPECT_TRUE(rec_.WaitForEvent(s, FD_READ));
}

TEST_F(SocketEventsTest, WriteComesBackAfterBlockedSendOnceThePeerReads) {
    int peer = -1;
    SOCKET s = AcceptFromRawClient(peer);
    ASSERT_NE(s, INVALID_SOCKET);
    ASSERT_TRUE(rec_.WaitForEvent(s, FD_WRITE));
    const std::string block(65536, 'q');
    int sends = 0;
    while (send(s, block.data(), static_cast<int>(block.size()), 0) != SOCKET_ERROR) {
        ASSERT_LT(++sends, 10000) << "the send buffer never filled";
    }
    ASSERT_EQ(WSAGetLastError(), WSAEWOULDBLOCK);
    RunEventLoopFor(50);
    EXPECT_EQ(rec_.Count(s, FD_WRITE), 1);

    std::vector<char> sink;
    ASSERT_TRUE(WaitFor([&] {
        RawReadAvailable(peer, sink);
        return rec_.Count(s, FD_WRITE) >= 2;
    }));
    RunEventLoopFor(50);
    RawReadAvailable(peer, sink);
    EXPECT_EQ(rec_.Count(s, FD_WRITE), 2);
}

TEST_F(SocketEventsTest, ConnectToClosedPortGivesConnectRefusedAndNoClose) {
    std::uint16_t closedPort = port_;
    closesocket(listener_);  // nothing listens there now
    SOCKET s = StartConnect(closedPort);
    ASSERT_TRUE(rec_.WaitForEvent(s, FD_CONNECT));
    RunEventLoopFor(50);
    const auto events = rec_.For(s);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].error, WSAECONNREFUSED);
}

TEST_F(SocketEventsTest, PeerCloseComesOnlyAfterEveryByteHasBeenRead) {
    int peer = -1;
    SOCKET s = AcceptFromRawClient(peer);
    ASSERT_NE(s, INVALID_SOCKET);
    ASSERT_TRUE(RawWriteAll(peer, std::string(100, 'z').data(), 100));
    ::shutdown(peer, SHUT_WR);
    ASSERT_TRUE(rec_.WaitForEvent(s, FD_READ));
    RunEventLoopFor(50);
    EXPECT_EQ(rec_.Count(s, FD_CLOSE), 0);

    ASSERT_EQ(RecvSome(s, 60), 60);
    ASSERT_TRUE(rec_.WaitForEvent(s, FD_READ, 2));
    EXPECT_EQ(rec_.Count(s, FD_CLOSE), 0);
    ASSERT_EQ(RecvSome(s, 60), 40);
    ASSERT_TRUE(rec_.WaitForEvent(s, FD_CLOSE));
    RunEventLoopFor(50);
    const auto events = rec_.For(s);
    EXPECT_EQ(events.back().event, FD_CLOSE);
    EXPECT_EQ(events.back().error, 0);
    EXPECT_EQ(rec_.Count(s, FD_CLOSE), 1);
}

TEST_F(SocketEventsTest, PeerCloseWithNothingWaitingComesAtOnce) {
    int peer = -1;
    SOCKET s = AcceptFromRawClient(peer);
    ASSERT_NE(s, INVALID_SOCKET);
    ::shutdown(peer, SHUT_WR);
    ASSERT_TRUE(rec_.WaitForEvent(s, FD_CLOSE));
    EXPECT_EQ(rec_.For(s).back().error, 0);
    EXPECT_EQ(rec_.Count(s, FD_READ), 0);
    EXPECT_EQ(RecvSome(s, 10), 0);
    RunEventLoopFor(30);
    EXPECT_EQ(rec_.Count(s, FD_CLOSE), 1);
}

TEST_F(SocketEventsTest, PeerResetGivesCloseWithConnectionReset) {
    int peer = -1;
    SOCKET s = AcceptFromRawClient(peer);
    ASSERT_NE(s, INVALID_SOCKET);
    raw_.clear();
    RawReset(peer);
    ASSERT_TRUE(rec_.WaitForEvent(s, FD_CLOSE));
    EXPECT_EQ(rec_.For(s).back().error, WSAECONNRESET);

    // Sending to the reset connection fails without raising SIGPIPE.
    int result = 0;
    for (int i = 0; i < 3 && result != SOCKET_ERROR; ++i) {
        result = send(s, "x", 1, 0);
    }
    EXPECT_EQ(result, SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAECONNRESET);
}

TEST_F(SocketEventsTest, ReadAfterADroppedCloseIsFollowedByAReadThatMeetsTheEnd) {
    // A reader that ignores FD_CLOSE (a paused relay) and later reads the bytes that came
    // before a reset must be told to read again: otherwise nothing ever reports the reset.
    int peer = -1;
    SOCKET s = AcceptFromRawClient(peer);
    ASSERT_NE(s, INVALID_SOCKET);
    raw_.clear();
    ASSERT_TRUE(RawWriteAll(peer, "abc", 3));
    ASSERT_TRUE(rec_.WaitForEvent(s, FD_READ));
    RawReset(peer);
    ASSERT_TRUE(rec_.WaitForEvent(s, FD_CLOSE));
    const int readsBefore = rec_.Count(s, FD_READ);
    char buf[16];
    const int n = recv(s, buf, sizeof buf, 0);
    if (n > 0) {
        // The bytes came before the reset: another FD_READ must follow for the reset.
        ASSERT_TRUE(rec_.WaitForEvent(s, FD_READ, readsBefore + 1));
        EXPECT_EQ(recv(s, buf, sizeof buf, 0), SOCKET_ERROR);
    } else {
        EXPECT_EQ(n, SOCKET_ERROR);
    }
    EXPECT_EQ(WSAGetLastError(), WSAECONNRESET);
}

TEST_F(SocketEventsTest, MessageForClosedSocketNeverReachesItsReusedNumber) {
    int peer = -1;
    SOCKET s = AcceptFromRawClient(peer);
    ASSERT_NE(s, INVALID_SOCKET);
    // The registration's FD_WRITE is queued but not yet delivered.
    ASSERT_EQ(rec_.Count(s, FD_WRITE), 0);
    ASSERT_EQ(closesocket(s), 0);
    SOCKET reused = socket(AF_INET_, SOCK_STREAM_, 0);
    ASSERT_EQ(reused, s) << "the descriptor was not reused; the test proves nothing";
    ASSERT_EQ(WSAAsyncSelect(reused, &rec_, EventRecorder::kMessage, kServerMask), 0);
    RunEventLoopFor(50);
    EXPECT_TRUE(rec_.For(reused).empty());
}

TEST_F(SocketEventsTest, AcceptIsOfferedAgainAfterEachSuccessUntilNothingWaits) {
    raw_.push_back(RawConnect(port_));
    raw_.push_back(RawConnect(port_));
    ASSERT_TRUE(rec_.WaitForEvent(listener_, FD_ACCEPT));
    std::vector<SOCKET> accepted;
    for (int round = 1; round <= 3; ++round) {
        ASSERT_TRUE(rec_.WaitForEvent(listener_, FD_ACCEPT, round));
        SocketAddress peer;
        SOCKET s = accept(listener_, &peer);
        if (round < 3) {
            ASSERT_NE(s, INVALID_SOCKET);
            EXPECT_EQ(peer.address, inet_addr("127.0.0.1"));
            accepted.push_back(s);
        } else {
            EXPECT_EQ(s, INVALID_SOCKET);
            EXPECT_EQ(WSAGetLastError(), WSAEWOULDBLOCK);
        }
    }
    RunEventLoopFor(50);
    EXPECT_EQ(rec_.Count(listener_, FD_ACCEPT), 3);
    raw_.push_back(RawConnect(port_));
    EXPECT_TRUE(rec_.WaitForEvent(listener_, FD_ACCEPT, 4));
}

TEST_F(SocketEventsTest, EventsOutsideTheMaskAreNotPosted) {
    int peer = RawConnect(port_);
    raw_.push_back(peer);
    SOCKET s = AcceptRegistered(rec_, listener_, FD_READ);
    ASSERT_NE(s, INVALID_SOCKET);
    ::shutdown(peer, SHUT_WR);
    RunEventLoopFor(50);
    EXPECT_TRUE(rec_.For(s).empty());
}

TEST_F(SocketEventsTest, DataArrivingWithTheConnectIsReported) {
    SOCKET out = StartConnect(port_);
    SOCKET in = AcceptRegistered(rec_, listener_, kClientMask);
    ASSERT_NE(in, INVALID_SOCKET);
    ASSERT_TRUE(rec_.WaitForEvent(out, FD_CONNECT));
    ASSERT_EQ(send(in, "hi", 2, 0), 2);
    ASSERT_EQ(closesocket(in), 0);
    ASSERT_TRUE(rec_.WaitForEvent(out, FD_READ));
    char buf[8];
    ASSERT_EQ(recv(out, buf, sizeof buf, 0), 2);
    ASSERT_TRUE(rec_.WaitForEvent(out, FD_CLOSE));
    EXPECT_EQ(rec_.For(out).back().error, 0);
}

TEST_F(SocketEventsTest, CloseOverUnreadInputStillEndsGracefully) {
    int peer = -1;
    SOCKET s = AcceptFromRawClient(peer);
    ASSERT_NE(s, INVALID_SOCKET);
    const std::string unread(100000, 'u');
    ASSERT_TRUE(RawWriteAll(peer, unread.data(), unread.size()));
    ASSERT_TRUE(rec_.WaitForEvent(s, FD_READ));
    ASSERT_EQ(send(s, "answer", 6, 0), 6);
    ASSERT_EQ(closesocket(s), 0);

    // The peer reads the answer and then an orderly end, not a reset.
    std::string got;
    ssize_t n = 0;
    char buf[64];
    for (int i = 0; i < 100 && (n = ::recv(peer, buf, sizeof buf, 0)) > 0; ++i) {
        got.append(buf, static_cast<std::size_t>(n));
    }
    EXPECT_EQ(got, "answer");
    EXPECT_EQ(n, 0) << "the close was a reset (errno " << errno << ")";
}

// A reader as the relay reads: one recv of at most 8 KiB per FD_READ, so that a streaming
// socket is served from the layer's read-ahead block.
class StepReader : public MessageTarget {
public:
    void HandleMessage(UINT, WPARAM wParam, LPARAM lParam) override {
        const int event = WSAGETSELECTEVENT(lParam);
        if (event == FD_READ) {
            ++reads;
            if (slow) {
                ::usleep(2000);  // a slow handler: each pass over the queue ends after a few
            }
            char buf[8192];
            const int n = recv(static_cast<SOCKET>(wParam), buf, sizeof buf, 0);
            if (n > 0) {
                got.append(buf, static_cast<std::size_t>(n));
            }
        } else if (event == FD_CLOSE) {
            ++closes;
            closeError = WSAGETSELECTERROR(lParam);
            closedAt = got.size();
        }
    }
    std::string got;
    bool slow = false;
    int reads = 0;
    int closes = 0;
    int closeError = -1;
    std::size_t closedAt = 0;
};

std::string Pattern(std::size_t n) {
    std::string bytes(n, '\0');
    std::uint32_t x = 12345;
    for (char& c : bytes) {
        x = x * 1103515245u + 12345u;
        c = static_cast<char>(x >> 24);
    }
    return bytes;
}

TEST_F(SocketEventsTest, StreamReadInSmallStepsArrivesWholeWithOneCloseAfterTheLastByte) {
    StepReader reader;
    int peer = -1;
    ASSERT_NE(AcceptFromRawClientInto(reader, peer), INVALID_SOCKET);
    // Bursts of different sizes, some arriving while bytes read ahead are still being handed
    // out (their edges come while no read is armed), then the end.
    const std::string bytes = Pattern(3 * 1024 * 1024 + 777);
    std::size_t written = 0;
    for (int burst = 0; written < bytes.size() && burst < 10000; ++burst) {
        const std::size_t size =
            std::min<std::size_t>(bytes.size() - written, 1000 + burst * 4999 % 60000);
        ASSERT_TRUE(WaitFor([&] { return written - reader.got.size() < 512 * 1024; }));
        ASSERT_TRUE(RawWriteAll(peer, bytes.data() + written, size));
        written += size;
        RunEventLoopFor(burst % 7 == 0 ? 2 : 0);
    }
    ::shutdown(peer, SHUT_WR);
    ASSERT_TRUE(WaitFor([&] { return reader.closes > 0; }, 10000));
    RunEventLoopFor(50);
    EXPECT_EQ(reader.closes, 1);
    EXPECT_EQ(reader.closeError, 0);
    EXPECT_EQ(reader.closedAt, bytes.size()) << "FD_CLOSE came before the last byte was read";
    ASSERT_EQ(reader.got.size(), bytes.size());
    EXPECT_TRUE(reader.got == bytes) << "bytes changed or out of order";
}

TEST_F(SocketEventsTest, QuietReaderAfterAStreamGetsOneEventPerArrivalAgain) {
    StepReader reader;
    int peer = -1;
    ASSERT_NE(AcceptFromRawClientInto(reader, peer), INVALID_SOCKET);
    const std::string bytes = Pattern(200000);
    ASSERT_TRUE(RawWriteAll(peer, bytes.data(), bytes.size()));
    ASSERT_TRUE(WaitFor([&] { return reader.got.size() == bytes.size(); }));
    RunEventLoopFor(30);
    // The stream is over: small arrivals are read directly again, one event each, and no
    // read event comes while nothing arrives.
    const int before = reader.reads;
    for (int i = 0; i < 5; ++i) {
        ASSERT_TRUE(RawWriteAll(peer, "ping", 4));
        ASSERT_TRUE(WaitFor([&] { return reader.got.size() == bytes.size() + 4u * (i + 1); }));
        RunEventLoopFor(20);
    }
    EXPECT_EQ(reader.reads - before, 5);
    EXPECT_EQ(reader.closes, 0);
}

TEST_F(SocketEventsTest, SocketAcceptedFromARegisteredListenerIsNonBlockingAtOnce) {
    int peer = RawConnect(port_);
    raw_.push_back(peer);
    ASSERT_TRUE(rec_.WaitForEvent(listener_, FD_ACCEPT));
    SOCKET s = accept(listener_, nullptr);
    ASSERT_NE(s, INVALID_SOCKET);
    // Not registered yet, and still a read with nothing waiting does not block.
    char buf[16];
    EXPECT_EQ(recv(s, buf, sizeof buf, 0), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAEWOULDBLOCK);
    closesocket(s);
}

TEST_F(SocketEventsTest, BytesArrivingWhileReadAheadBytesAreHandedOutAreStillAnnounced) {
    StepReader reader;
    reader.slow = true;
    int peer = -1;
    ASSERT_NE(AcceptFromRawClientInto(reader, peer), INVALID_SOCKET);
    // Less than one read-ahead block, so that one fill takes all of it; a few more bytes come
    // while the block is being handed out over several passes, and then nothing more: their
    // edge came while no read was armed, and only the layer can remember it.
    const std::string first = Pattern(60000);
    ASSERT_TRUE(RawWriteAll(peer, first.data(), first.size()));
    std::thread late([peer] {
        ::usleep(3000);
        RawWriteAll(peer, "late bytes", 10);
    });
    const bool whole = WaitFor([&] { return reader.got.size() == first.size() + 10; });
    late.join();
    ASSERT_TRUE(whole) << "stalled with " << reader.got.size() << " bytes read";
    EXPECT_EQ(reader.got.substr(first.size()), "late bytes");
}

// A handler of a socket event that opens a nested event loop (as a modal box does) and posts
// a message from inside it.
class ModalHandler : public MessageTarget {
public:
    struct Other : MessageTarget {
        void HandleMessage(UINT, WPARAM, LPARAM) override {
            ++delivered;
            if (loop != nullptr) {
                loop->quit();
            }
        }
        int delivered = 0;
        QEventLoop* loop = nullptr;
    };

    void HandleMessage(UINT, WPARAM, LPARAM lParam) override {
        if (WSAGETSELECTEVENT(lParam) != FD_READ || opened) {
            return;
        }
        opened = true;
        QEventLoop loop;
        other.loop = &loop;
        QTimer::singleShot(0, [this] { PostMessage(&other, WM_APP + 1, 0, 0); });
        QTimer::singleShot(3000, &loop, &QEventLoop::quit);
        loop.exec();
        other.loop = nullptr;
        deliveredInside = other.delivered;
    }
    Other other;
    bool opened = false;
    int deliveredInside = -1;
};

TEST_F(SocketEventsTest, MessagePostedInANestedLoopOfASocketHandlerIsDeliveredThere) {
    ModalHandler handler;
    int peer = -1;
    ASSERT_NE(AcceptFromRawClientInto(handler, peer), INVALID_SOCKET);
    ASSERT_TRUE(RawWriteAll(peer, "x", 1));
    ASSERT_TRUE(WaitFor([&] { return handler.deliveredInside >= 0; }));
    EXPECT_EQ(handler.deliveredInside, 1);
    DiscardMessages(&handler);
    DiscardMessages(&handler.other);
}

}  // namespace
}  // namespace corvane::platform::test
