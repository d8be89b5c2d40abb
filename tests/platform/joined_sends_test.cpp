// Sends made while a pass over the message queue runs are joined per socket and written when
// the pass ends: the bytes arrive whole and in order, a peer that does not read holds the
// sender back with WSAEWOULDBLOCK and FD_WRITE exactly as the kernel's buffer would, and a
// socket closed with bytes still held delivers them before its end.
#include <dirent.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <functional>
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

constexpr long kMask = FD_READ | FD_WRITE | FD_CLOSE;

// Relays as the program does: one recv of at most 8 KiB per FD_READ on from, sent on to to
// (what to does not take is kept and sent on FD_WRITE).
class Forwarder : public MessageTarget {
public:
    void HandleMessage(UINT, WPARAM wParam, LPARAM lParam) override {
        const auto s = static_cast<SOCKET>(wParam);
        const int event = WSAGETSELECTEVENT(lParam);
        if (s == from && event == FD_READ && held.empty()) {
            char buf[8192];
            const int n = recv(from, buf, sizeof buf, 0);
            if (n > 0) {
                held.assign(buf, static_cast<std::size_t>(n));
                SendHeld();
            } else if (n == 0) {
                ended = true;
            }
        } else if (s == from && event == FD_CLOSE) {
            ended = true;
        } else if (s == to && event == FD_WRITE) {
            SendHeld();
            if (held.empty() && !ended) {
                // Reading stopped while bytes were held; take it up again.
                PostMessage(this, WM_APP, static_cast<WPARAM>(from),
                            WSAMAKESELECTREPLY(FD_READ, 0));
            }
        }
    }
    void SendHeld() {
        while (!held.empty()) {
            const int n = send(to, held.data(), static_cast<int>(held.size()), 0);
            if (n <= 0) {
                return;
            }
            sent += n;
            held.erase(0, static_cast<std::size_t>(n));
        }
    }
    SOCKET from = INVALID_SOCKET;
    SOCKET to = INVALID_SOCKET;
    std::string held;
    long long sent = 0;
    bool ended = false;
};

std::string Pattern(std::size_t n, std::uint32_t seed) {
    std::string bytes(n, '\0');
    std::uint32_t x = seed;
    for (char& c : bytes) {
        x = x * 1103515245u + 12345u;
        c = static_cast<char>(x >> 24);
    }
    return bytes;
}

int OpenDescriptorCount() {
    int count = 0;
    if (DIR* dir = ::opendir("/proc/self/fd")) {
        while (::readdir(dir) != nullptr) {
            ++count;
        }
        ::closedir(dir);
    }
    return count;
}

class JoinedSendsTest : public ListenerTest {
protected:
    void TearDown() override {
        ListenerTest::TearDown();
        DiscardMessages(&pass_);
    }
    SOCKET Accept(int& rawPeer, MessageTarget* target = nullptr) {
        rawPeer = RawConnect(port_);
        raw_.push_back(rawPeer);
        SOCKET s = AcceptRegistered(rec_, listener_, kMask);
        if (s != INVALID_SOCKET && target != nullptr &&
            WSAAsyncSelect(s, target, WM_APP, kMask) != 0) {
            return INVALID_SOCKET;
        }
        return s;
    }
    // Sends pieces of the given size in one pass until two sends in a row are refused (the
    // layer then holds bytes it cannot write yet) or all have gone; what was taken is
    // appended to taken. The last refusal's error, or 0.
    int SendUntilFull(SOCKET s, const std::string& bytes, std::size_t piece, std::string& taken) {
        int lastError = 0;
        pass_.Run([&] {
            int refusals = 0;
            while (taken.size() < bytes.size() && refusals < 2) {
                const std::size_t at = taken.size();
                const int len = static_cast<int>(std::min(piece, bytes.size() - at));
                const int n = send(s, bytes.data() + at, len, 0);
                if (n == SOCKET_ERROR) {
                    lastError = WSAGetLastError();
                    ++refusals;
                    continue;
                }
                refusals = 0;
                lastError = 0;
                taken.append(bytes, at, static_cast<std::size_t>(n));
            }
        });
        return lastError;
    }
    // Reads from a raw peer until it meets the end (true) or timeoutMs passes.
    static bool ReadToEnd(int fd, std::string& got, int timeoutMs = 10000) {
        return WaitFor(
            [&] {
                char buf[65536];
                for (;;) {
                    const ssize_t n = ::recv(fd, buf, sizeof buf, MSG_DONTWAIT);
                    if (n > 0) {
                        got.append(buf, static_cast<std::size_t>(n));
                        continue;
                    }
                    return n == 0;
                }
            },
            timeoutMs);
    }

    InPass pass_;
};

TEST_F(JoinedSendsTest, SendsOfAPassArriveInOrderWithoutAnotherEvent) {
    int peer = -1;
    SOCKET s = Accept(peer);
    ASSERT_NE(s, INVALID_SOCKET);
    // Pieces that fill a 32 KiB block exactly, overflow it, and one larger than a block.
    const std::string bytes = Pattern(200000, 1);
    std::string taken;
    pass_.Run([&] {
        std::size_t at = 0;
        for (std::size_t piece : {8192u, 8192u, 16384u, 8192u, 100u, 70000u, 88940u}) {
            ASSERT_EQ(send(s, bytes.data() + at, static_cast<int>(piece), 0),
                      static_cast<int>(piece));
            at += piece;
        }
        ASSERT_EQ(at, bytes.size());
    });
    // Everything has left once the pass is over: no further turn of the event loop is needed.
    std::string got;
    std::vector<char> chunk;
    for (int i = 0; i < 1000 && got.size() < bytes.size(); ++i) {
        chunk.clear();
        RawReadAvailable(peer, chunk);
        got.append(chunk.begin(), chunk.end());
        if (got.size() < bytes.size()) {
            ::usleep(1000);
        }
    }
    EXPECT_TRUE(got == bytes) << got.size() << " of " << bytes.size();
}

// Ending the sending side while the layer still holds joined bytes: the FIN waits for them,
// and the peer reads every byte and then the end. Later sends fail.
TEST_F(JoinedSendsTest, ShutdownSendsTheEndAfterEveryHeldByte) {
    int peer = -1;
    SOCKET s = Accept(peer);
    ASSERT_NE(s, INVALID_SOCKET);
    const std::string bytes = Pattern(8 << 20, 3);
    std::string taken;
    ASSERT_EQ(SendUntilFull(s, bytes, 8192, taken), WSAEWOULDBLOCK);
    ASSERT_LT(taken.size(), bytes.size()) << "the peer's buffers should have filled";
    ASSERT_EQ(shutdown(s, SD_SEND), 0);
    EXPECT_EQ(send(s, "x", 1, 0), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAESHUTDOWN);
    std::string got;
    ASSERT_TRUE(ReadToEnd(peer, got)) << "the end must follow the held bytes";
    EXPECT_TRUE(got == taken) << got.size() << " of " << taken.size();
}

TEST_F(JoinedSendsTest, SendOutsideAPassGoesOutAtOnce) {
    int peer = -1;
    SOCKET s = Accept(peer);
    ASSERT_NE(s, INVALID_SOCKET);
    ASSERT_EQ(send(s, "now", 3, 0), 3);
    char buf[8];
    std::size_t got = 0;
    for (int i = 0; i < 1000 && got < 3; ++i) {
        const ssize_t n = ::recv(peer, buf + got, sizeof buf - got, MSG_DONTWAIT);
        if (n > 0) {
            got += static_cast<std::size_t>(n);
        } else {
            ::usleep(1000);
        }
    }
    EXPECT_EQ(std::string(buf, got), "now");
}

TEST_F(JoinedSendsTest, PeerThatDoesNotReadHoldsTheSenderBackAndGetsEveryByteLater) {
    int peer = -1;
    SOCKET s = Accept(peer);
    ASSERT_NE(s, INVALID_SOCKET);
    ASSERT_TRUE(rec_.WaitForEvent(s, FD_WRITE));
    const std::string bytes = Pattern(64 << 20, 2);
    std::string taken;
    // Filled in several passes: the bytes one pass could not write wait in the layer, and the
    // next pass's sends are refused until they are out.
    int error = 0;
    for (int i = 0; i < 8 && error == 0; ++i) {
        error = SendUntilFull(s, bytes, 8192, taken);
        RunEventLoopFor(10);
    }
    ASSERT_EQ(error, WSAEWOULDBLOCK);
    ASSERT_LT(taken.size(), bytes.size());
    EXPECT_EQ(SendUntilFull(s, bytes, 8192, taken), WSAEWOULDBLOCK);
    RunEventLoopFor(50);
    EXPECT_EQ(rec_.Count(s, FD_WRITE), 1);

    // The peer reads: FD_WRITE comes back once the held bytes are out, and the rest goes.
    std::string got;
    ASSERT_TRUE(WaitFor([&] {
        std::vector<char> chunk;
        RawReadAvailable(peer, chunk);
        got.append(chunk.begin(), chunk.end());
        return rec_.Count(s, FD_WRITE) >= 2;
    }));
    while (taken.size() < bytes.size()) {
        SendUntilFull(s, bytes, 8192, taken);
        std::vector<char> chunk;
        WaitFor(
            [&] {
                RawReadAvailable(peer, chunk);
                return !chunk.empty();
            },
            1000);
        got.append(chunk.begin(), chunk.end());
    }
    ASSERT_EQ(closesocket(s), 0);
    ASSERT_TRUE(ReadToEnd(peer, got));
    EXPECT_TRUE(got == bytes) << got.size() << " of " << bytes.size();
}

TEST_F(JoinedSendsTest, SocketClosedWithHeldBytesDeliversThemThenEndsAndLetsGo) {
    int peer = -1;
    SOCKET s = Accept(peer);
    ASSERT_NE(s, INVALID_SOCKET);
    const int descriptors = OpenDescriptorCount();
    const std::string bytes = Pattern(32 << 20, 3);
    std::string taken;
    // Filled until refused, then closed in the next pass: the last bytes taken cannot be
    // written yet.
    ASSERT_EQ(SendUntilFull(s, bytes, 8192, taken), WSAEWOULDBLOCK);
    pass_.Run([&] { EXPECT_EQ(closesocket(s), 0); });
    ASSERT_LT(taken.size(), bytes.size());
    // The program's number is closed at once ...
    char c = 0;
    EXPECT_EQ(send(s, &c, 1, 0), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAENOTSOCK);
    // ... while every byte it was said to have sent still arrives, then an orderly end.
    std::string got;
    ASSERT_TRUE(ReadToEnd(peer, got));
    EXPECT_TRUE(got == taken) << got.size() << " of " << taken.size();
    EXPECT_TRUE(WaitFor([&] { return OpenDescriptorCount() == descriptors - 1; }));
}

// The layer's end (the program's) gives a socket that lingers a moment to hand what it holds
// to the kernel: a peer that reads on still gets every byte it was said to have sent.
TEST_F(JoinedSendsTest, HeldBytesOfAClosedSocketOutliveTheLayersEnd) {
    int peer = -1;
    SOCKET s = Accept(peer);
    ASSERT_NE(s, INVALID_SOCKET);
    const std::string bytes = Pattern(32 << 20, 6);
    std::string taken;
    ASSERT_EQ(SendUntilFull(s, bytes, 8192, taken), WSAEWOULDBLOCK);
    pass_.Run([&] { EXPECT_EQ(closesocket(s), 0); });
    std::string got;
    std::thread reader([&] {
        char buf[65536];
        pollfd p{peer, POLLIN, 0};
        for (int waits = 0; waits < 200 && ::poll(&p, 1, 50) >= 0; ++waits) {
            const ssize_t n = ::recv(peer, buf, sizeof buf, MSG_DONTWAIT);
            if (n == 0) {
                return;
            }
            got.append(buf, static_cast<std::size_t>(n > 0 ? n : 0));
        }
    });
    WSACleanup();
    reader.join();
    ASSERT_EQ(WSAStartup(0x0101), 0);  // as the fixture's end expects
    EXPECT_TRUE(got == taken) << got.size() << " of " << taken.size();
}

TEST_F(JoinedSendsTest, LingeringSocketLetsGoWhenItsPeerResets) {
    int peer = -1;
    SOCKET s = Accept(peer);
    ASSERT_NE(s, INVALID_SOCKET);
    const int descriptors = OpenDescriptorCount();
    const std::string bytes = Pattern(32 << 20, 4);
    std::string taken;
    ASSERT_EQ(SendUntilFull(s, bytes, 8192, taken), WSAEWOULDBLOCK);
    ASSERT_EQ(closesocket(s), 0);
    RunEventLoopFor(20);
    EXPECT_EQ(OpenDescriptorCount(), descriptors) << "held bytes were dropped at close";
    RawReset(peer);
    raw_.clear();
    EXPECT_TRUE(WaitFor([&] { return OpenDescriptorCount() == descriptors - 2; }));
}

TEST_F(JoinedSendsTest, RelayedStreamToASlowReaderArrivesWhole) {
    Forwarder forwarder;
    int source = -1;
    int sink = -1;
    forwarder.from = Accept(source, &forwarder);
    forwarder.to = Accept(sink, &forwarder);
    ASSERT_NE(forwarder.from, INVALID_SOCKET);
    ASSERT_NE(forwarder.to, INVALID_SOCKET);
    const std::string bytes = Pattern(8 << 20, 5);
    ASSERT_TRUE(RawWriteAll(source, bytes.data(), 1 << 20));  // before the reader starts
    std::string got;
    std::size_t written = 1 << 20;
    ASSERT_TRUE(WaitFor(
        [&] {
            if (written < bytes.size()) {
                const ssize_t n = ::send(source, bytes.data() + written,
                                         std::min<std::size_t>(256 << 10, bytes.size() - written),
                                         MSG_DONTWAIT | MSG_NOSIGNAL);
                written += n > 0 ? static_cast<std::size_t>(n) : 0;
                if (written == bytes.size()) {
                    ::shutdown(source, SHUT_WR);
                }
            }
            // A reader slower than the writer, so that the forwarder's sends are refused.
            char buf[16384];
            const ssize_t n = ::recv(sink, buf, sizeof buf, MSG_DONTWAIT);
            if (n > 0) {
                got.append(buf, static_cast<std::size_t>(n));
            }
            return got.size() >= bytes.size();
        },
        60000));
    EXPECT_TRUE(got == bytes) << got.size() << " of " << bytes.size();
    EXPECT_EQ(forwarder.sent, static_cast<long long>(bytes.size()));
    DiscardMessages(&forwarder);
}

}  // namespace
}  // namespace corvane::platform::test
