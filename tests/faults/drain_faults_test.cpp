// Connections whose one side has ended while bytes for the other side were still held: peers
// that neither read nor close, and numbers that must not come back while the Connection logs.
#include <sys/socket.h>

#include "fault_support.h"
#include "support/event_loop_wait.h"

namespace corvane::faults {
namespace {

using corvane::test::WaitFor;

class DrainFaultTest : public FaultTest {
protected:
    relay::RelayEngine& Engine() { return control_->Engine(); }
    relay::Connection* Only() {
        relay::Connection* c = Engine().ConnectionList();
        return c != nullptr && c->next == nullptr ? c : nullptr;
    }
    // Sends on fd until the socket would block; the bytes sent are added to `sent`.
    void Push(int fd, std::size_t& sent) {
        static const std::string piece = Pattern(1 << 16, 9);
        for (;;) {
            const ssize_t n = ::send(fd, piece.data(), piece.size(), MSG_NOSIGNAL);
            if (n <= 0) {
                return;
            }
            sent += static_cast<std::size_t>(n);
        }
    }
};

bool OneOf(const std::string& line, const char* a, const char* b) {
    return line == a || line == b;
}

// Both peers send and neither reads, so that both directions are held at the high-water mark;
// then one goes away (with unread input its kernel resets). What the relay still holds for
// the other one cannot go, but that peer's own sending must not stay blocked, and the drain
// ends once it has moved nothing for the drain timeout. Giving up, it drops what its socket
// still holds too: the peer is reset at once, not left waiting while those bytes linger.
TEST_F(DrainFaultTest, DrainThatMovesNothingEndsAndNeverBlocksTheRemainingPeer) {
    struct Case {
        bool clientGoes;
        const char* sendFailed;
        const char* gone;
        const char* closing;
    };
    const Case cases[] = {
        {true, "Could not send data to Client", "Client disconnected", "Disconnected from Server"},
        {false, "Could not send data to Server", "Server disconnected", "Disconnected from Client"},
    };
    ASSERT_EQ(StartToServer(), control::StartResult::Started);
    Engine().HighWaterMark = 64 << 10;
    Engine().DrainTimeoutMs = 4000;
    const int running = OpenDescriptors();
    for (const Case& k : cases) {
        SCOPED_TRACE(k.gone);
        int client = -1;
        int server = -1;
        int n = -1;
        ASSERT_TRUE(ConnectThrough(client, server, n, 4096));
        SetReceiveBuffer(server, 4096);
        const std::string connected = ClientConnected(client);
        std::size_t ignored = 0;
        ASSERT_TRUE(WaitFor([&] {
            Push(server, ignored);
            Push(client, ignored);
            const relay::Connection* c = Only();
            return c != nullptr && c->serverReadHeld && c->clientReadHeld;
        }));
        const int remaining = k.clientGoes ? server : client;
        Drop(k.clientGoes ? client : server);
        std::size_t sinceDrain = 0;
        ASSERT_TRUE(WaitFor([&] {
            Push(remaining, ignored);
            const relay::Connection* c = Only();
            return c != nullptr && c->draining != relay::Draining::None;
        }));
        // What the remaining peer sends is read away at once, long before the timeout.
        ASSERT_TRUE(WaitFor(
            [&] {
                Push(remaining, sinceDrain);
                return sinceDrain >= (1u << 20);
            },
            10000));
        ASSERT_TRUE(WaitFor([&] { return Engine().ConnectionCount() == 0; }, 20000));
        const Lines lines = LinesOf(n);
        ASSERT_EQ(lines.size(), 6u);
        EXPECT_EQ((Lines{lines.begin(), lines.begin() + 3}),
                  (Lines{connected, "Connecting to Server", "Connected to Server"}));
        EXPECT_TRUE(OneOf(lines[3], k.sendFailed, k.gone)) << lines[3];
        EXPECT_EQ((Lines{lines.begin() + 4, lines.end()}),
                  (Lines{"Connection reset by peer", k.closing}));
        ExpectIdleCounters();
        // Giving up, the drain has reset the peer: a graceful close would have left it to
        // wait for what the relay's socket still held, and then to take it all.
        std::string rest;
        bool reset = false;
        EXPECT_TRUE(WaitPeerClosed(remaining, rest, 10000, &reset));
        EXPECT_TRUE(reset) << "the peer read " << rest.size() << " more bytes, then the end";
        Drop(remaining);
        ViewLines();
        logView_.text.clear();  // the next case's numbers are likely the same
    }
    EXPECT_TRUE(WaitFor([&] { return OpenDescriptors() == running; })) << DescriptorList();
}

// The Client resets while the relay still holds its request for a slow Server. Until the last
// byte has gone to the Server the Client's socket stays open, so a new Client cannot get its
// number; its later events (the reset, write room) leave the drain alone.
TEST_F(DrainFaultTest, NumberOfAClientWhoseRequestStillDrainsIsNotGivenToTheNext) {
    ASSERT_EQ(StartToServer(), control::StartResult::Started);
    Engine().HighWaterMark = 64 << 20;  // the whole request is read before the Server takes it
    const int running = OpenDescriptors();
    int client = -1;
    int server = -1;
    int n = -1;
    ASSERT_TRUE(ConnectThrough(client, server, n, 4096));
    const std::string connected = ClientConnected(client);
    // More than the kernel's buffers on the way to the Server take while it reads nothing.
    const std::string request = Pattern(16 << 20, 6);
    // The Channel grows in small steps to 16 MiB, and a sanitizer build copies the block at
    // each step: give it its time here and below.
    ASSERT_TRUE(SendPeer(client, request, 120000));
    ASSERT_TRUE(SendPeer(server, Pattern(1 << 20, 7), 20000));  // the Client reads none of it
    // 16 MiB read and logged: give a sanitizer build on a busy machine its time.
    ASSERT_TRUE(WaitFor(
        [&] {
            return Engine().CSBuffered() > 0 && Engine().CSBuffered() + Engine().CSTransferred() ==
                                                    static_cast<std::int64_t>(request.size());
        },
        120000));
    Drop(client);
    ASSERT_TRUE(WaitFor([&] {
        const relay::Connection* c = Only();
        return c != nullptr && c->draining == relay::Draining::ToServer;
    }));

    int nextClient = -1;
    int nextServer = -1;
    int next = -1;
    ASSERT_TRUE(ConnectThrough(nextClient, nextServer, next));
    EXPECT_NE(next, n);
    ExpectRelays(nextClient, nextServer);
    EXPECT_EQ(Engine().ConnectionCount(), 2);

    std::string got;
    ASSERT_TRUE(WaitPeerClosed(server, got, 30000));
    EXPECT_EQ(got.size(), request.size());
    EXPECT_TRUE(got == request);
    ASSERT_TRUE(WaitFor([&] { return Engine().ConnectionCount() == 1; }));
    const Lines lines = LinesOf(n);
    ASSERT_EQ(lines.size(), 6u);
    EXPECT_EQ((Lines{lines.begin(), lines.begin() + 3}),
              (Lines{connected, "Connecting to Server", "Connected to Server"}));
    EXPECT_TRUE(OneOf(lines[3], "Could not send data to Client", "Client disconnected"))
        << lines[3];
    EXPECT_EQ((Lines{lines.begin() + 4, lines.end()}),
              (Lines{"Connection reset by peer", "Disconnected from Server"}));
    EXPECT_EQ(Engine().CSTransferred(), static_cast<std::int64_t>(request.size()) + 4);
    ExpectRelays(nextClient, nextServer);
    Drop(server);
    Drop(nextClient);
    Drop(nextServer);
    ASSERT_TRUE(WaitFor([&] { return Engine().ConnectionCount() == 0; }));
    ExpectIdleCounters();
    EXPECT_TRUE(WaitFor([&] { return OpenDescriptors() == running; })) << DescriptorList();
}

}  // namespace
}  // namespace corvane::faults
