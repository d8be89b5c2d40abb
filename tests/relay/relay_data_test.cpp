// Relaying between real loopback peers: the bytes, the counters, closes, resets and pauses.
#include <algorithm>
#include <string>
#include <vector>

#include "platform/memory.h"
#include "relay_test_support.h"
#include "support/event_loop_wait.h"

namespace corvane::relay::test {
namespace {

using corvane::test::RunEventLoopFor;
using corvane::test::WaitFor;
using Lines_ = std::vector<std::string>;

class RelayDataTest : public RelayFixture {
protected:
    void SetUp() override {
        RelayFixture::SetUp();
        ASSERT_TRUE(Start("127.0.0.1", serverPort));
        ASSERT_TRUE(ConnectThrough(client, server));
        number = OnlyConnection()->number;
    }
    // The Connection's lines after the three of its connect.
    Lines_ Later() {
        Lines_ lines = LinesOf(number);
        lines.erase(lines.begin(), lines.begin() + 3);
        return lines;
    }
    void Pause() { log->SetPaused(true); }
    void Resume() {
        log->SetPaused(false);
        log->CatchUpView();
        engine->ReadAllConnections();
    }
    int client = -1;
    int server = -1;
    int number = 0;
};

std::string Pattern(std::size_t n, unsigned seed) {
    std::string s(n, '\0');
    for (std::size_t i = 0; i < n; ++i) {
        seed = seed * 1103515245u + 12345u;
        s[i] = static_cast<char>(seed >> 16);
    }
    return s;
}

TEST_F(RelayDataTest, BytesAndCountersInBothDirections) {
    ASSERT_TRUE(SendPeer(client, "hello"));
    std::string got;
    ASSERT_TRUE(ReceivePeer(server, got, 5));
    EXPECT_EQ(got, "hello");
    ASSERT_TRUE(SendPeer(server, "1234567"));
    got.clear();
    ASSERT_TRUE(ReceivePeer(client, got, 7));
    EXPECT_EQ(got, "1234567");
    ASSERT_TRUE(WaitFor([&] { return engine->SCTransferred() == 7; }));
    EXPECT_EQ(engine->CSTransferred(), 5);
    EXPECT_EQ(engine->CSBuffered(), 0);
    EXPECT_EQ(engine->SCBuffered(), 0);
    EXPECT_EQ(relayView.Label(Counter::CSTransferred), "5");
    EXPECT_EQ(relayView.Label(Counter::SCTransferred), "7");
    EXPECT_EQ(OnlyConnection()->DumpMode, kDumpText);
}

TEST_F(RelayDataTest, HeadersAtMediumAndDataLinesAtHigh) {
    log->Detail = log::kDetailHigh;
    ASSERT_TRUE(SendPeer(client, "PING\r\n"));
    std::string got;
    ASSERT_TRUE(ReceivePeer(server, got, 6));
    ASSERT_TRUE(WaitFor([&] { return engine->CSTransferred() == 6; }));
    const std::string n = std::to_string(number);
    const Lines_ all = Lines(true);
    ASSERT_GE(all.size(), 2u);
    EXPECT_EQ(all[all.size() - 2], n + ": Client to Server (6 bytes)");
    EXPECT_EQ(all.back(), "PING");
    // A later binary block from the Client is dumped whole; the Connection stays Text.
    ASSERT_TRUE(SendPeer(client, std::string("A\0B", 3)));
    got.clear();
    ASSERT_TRUE(ReceivePeer(server, got, 3));
    ASSERT_TRUE(WaitFor([&] { return engine->CSTransferred() == 9; }));
    const Lines_ after = Lines(true);
    EXPECT_EQ(after[after.size() - 2], n + ": Client to Server (3 bytes)");
    EXPECT_EQ(after.back().substr(0, 14), "0000  41 00 42");
    EXPECT_EQ(OnlyConnection()->DumpMode, kDumpText);
}

TEST_F(RelayDataTest, FirstBinaryBlockMakesTheConnectionHexForGood) {
    log->Detail = log::kDetailHigh;
    ASSERT_TRUE(SendPeer(server, std::string("\x89PNG", 4)));
    std::string got;
    ASSERT_TRUE(ReceivePeer(client, got, 4));
    EXPECT_EQ(OnlyConnection()->DumpMode, kDumpHex);
    ASSERT_TRUE(SendPeer(client, "GET / HTTP/1.1\r\nHost: a\r\n\r\n"));
    got.clear();
    ASSERT_TRUE(ReceivePeer(server, got, 27));
    EXPECT_EQ(got, "GET / HTTP/1.1\r\nHost: a\r\n\r\n");  // no rewriting on a Hex Connection
}

TEST_F(RelayDataTest, ServerThatTakesOnlyPartHoldsTheRestInOrder) {
    const std::string bytes = Pattern(32 << 20, 7);
    // The Server reads nothing yet: once the sockets are full, the rest waits in the Channel.
    const std::size_t sent = SendUntil(client, bytes, [&] { return engine->CSBuffered() > 0; });
    ASSERT_GT(engine->CSBuffered(), 0);
    EXPECT_TRUE(Consistent());
    EXPECT_GT(engine->CSTransferred(), 0);
    // Later chunks are appended behind the held ones and everything arrives in order.
    std::string got;
    ASSERT_TRUE(Exchange(client, bytes, sent, server, got, bytes.size()));
    EXPECT_TRUE(got == bytes);
    ASSERT_TRUE(WaitFor([&] { return engine->CSBuffered() == 0; }));
    EXPECT_EQ(engine->CSTransferred(), static_cast<std::int32_t>(bytes.size()));
    EXPECT_EQ(relayView.Label(Counter::CSBuffered), "0");
    EXPECT_TRUE(Consistent());
}

TEST_F(RelayDataTest, ClientCloseWithDataForwardsItFirst) {
    log->Detail = log::kDetailMedium;
    ASSERT_TRUE(SendPeer(client, "bye"));
    ClosePeer(client);
    std::string got;
    ASSERT_TRUE(WaitPeerClosed(server, got));
    EXPECT_EQ(got, "bye");
    ASSERT_TRUE(WaitFor([&] { return engine->ConnectionCount() == 0; }));
    EXPECT_EQ(Later(), (Lines_{"Client to Server (3 bytes, Incomplete last line)",
                               "Client disconnected", "Disconnected from Server"}));
    EXPECT_EQ(engine->CSTransferred(), 3);
}

TEST_F(RelayDataTest, ClientResetIsReported) {
    ResetPeer(client);
    std::string got;
    ASSERT_TRUE(WaitPeerClosed(server, got));
    ASSERT_TRUE(WaitFor([&] { return engine->ConnectionCount() == 0; }));
    EXPECT_EQ(Later(), (Lines_{"Client disconnected", "Connection reset by peer",
                               "Disconnected from Server"}));
}

TEST_F(RelayDataTest, ServerCloseDeliversWhatIsPendingForTheClient) {
    ASSERT_TRUE(SendPeer(server, "last words"));
    ClosePeer(server);
    std::string got;
    ASSERT_TRUE(WaitPeerClosed(client, got));
    EXPECT_EQ(got, "last words");
    ASSERT_TRUE(WaitFor([&] { return engine->ConnectionCount() == 0; }));
    EXPECT_EQ(Later(), (Lines_{"Server disconnected", "Disconnected from Client"}));
    EXPECT_EQ(engine->SCTransferred(), 10);
    EXPECT_EQ(engine->SCBuffered(), 0);
}

TEST_F(RelayDataTest, ServerResetIsReported) {
    ResetPeer(server);
    std::string got;
    ASSERT_TRUE(WaitPeerClosed(client, got));
    ASSERT_TRUE(WaitFor([&] { return engine->ConnectionCount() == 0; }));
    EXPECT_EQ(Later(), (Lines_{"Server disconnected", "Connection reset by peer",
                               "Disconnected from Client"}));
}

TEST_F(RelayDataTest, PauseHoldsReadsAndResumeTakesThemUp) {
    Pause();
    ASSERT_TRUE(SendPeer(client, "during pause"));
    RunEventLoopFor(50);
    EXPECT_EQ(engine->CSTransferred(), 0);
    std::string got;
    EXPECT_FALSE(ReceivePeer(server, got, 1, 20));
    Resume();
    ASSERT_TRUE(ReceivePeer(server, got, 12));
    EXPECT_EQ(got, "during pause");
    EXPECT_EQ(engine->CSTransferred(), 12);
    // Reads notified from then on are handled as usual.
    ASSERT_TRUE(SendPeer(client, "after"));
    got.clear();
    ASSERT_TRUE(ReceivePeer(server, got, 5));
}

TEST_F(RelayDataTest, CloseDuringPauseIsMetAtResume) {
    Pause();
    ClosePeer(client);
    RunEventLoopFor(50);
    EXPECT_EQ(engine->ConnectionCount(), 1);
    Resume();
    EXPECT_EQ(engine->ConnectionCount(), 0);
    EXPECT_EQ(Later(), (Lines_{"Client disconnected", "Disconnected from Server"}));
    std::string got;
    EXPECT_TRUE(WaitPeerClosed(server, got));
}

TEST_F(RelayDataTest, HeldBytesKeepDrainingWhilePaused) {
    const std::string bytes = Pattern(32 << 20, 3);
    const std::size_t sent = SendUntil(client, bytes, [&] { return engine->CSBuffered() > 0; });
    ASSERT_GT(engine->CSBuffered(), 0);
    Pause();
    const std::int32_t transferredAtPause = engine->CSTransferred();
    const std::int32_t heldAtPause = engine->CSBuffered();
    // The Server drains what the relay held; nothing new is read from the Client.
    std::string got;
    ASSERT_TRUE(ReceivePeer(server, got, static_cast<std::size_t>(transferredAtPause + heldAtPause),
                            20000));
    ASSERT_TRUE(WaitFor([&] { return engine->CSBuffered() == 0; }));
    EXPECT_EQ(engine->CSTransferred(), transferredAtPause + heldAtPause);
    RunEventLoopFor(20);
    EXPECT_EQ(engine->CSTransferred(), transferredAtPause + heldAtPause);
    Resume();
    ASSERT_TRUE(Exchange(client, bytes, sent, server, got, bytes.size()));
    EXPECT_TRUE(got == bytes);
}

TEST_F(RelayDataTest, ConnectionCompletingDuringPauseSendsWhatWasHeld) {
    StuckServer stuck;
    engine->RemotePortNumber = stuck.port;
    const int late = ConnectPeer(engine->LocalPortNumber);
    peers.push_back(late);
    ASSERT_TRUE(WaitFor([&] { return engine->ConnectionCount() == 2; }));
    ASSERT_TRUE(SendPeer(late, "before pause"));
    ASSERT_TRUE(WaitFor([&] { return engine->CSBuffered() == 12; }));
    Pause();
    peers.push_back(stuck.Admit());
    const int lateServer = stuck.Admit(10000);
    peers.push_back(lateServer);
    std::string got;
    ASSERT_TRUE(ReceivePeer(lateServer, got, 12, 10000));
    EXPECT_EQ(got, "before pause");
}

// Memory that runs out for a Client's Channel, for splitting a read into lines or for the
// rewritten Host line ends only that Connection (what it had read still goes to the Server)
// and leaves the Buffered counters equal to what the Channels hold.
TEST_F(RelayDataTest, MemoryShortageEndsOnlyItsConnectionWithTheCountersRight) {
    struct Case {
        const char* what;
        std::size_t failFrom;  // allocations of at least this size fail
        std::string host;
        std::string data;  // empty: the Client's Channel gets no storage
        Lines_ ending;
    };
    const Case cases[] = {
        {"accept", kChannelInitialSize, "", "", {"Out of memory", "Disconnected from Client"}},
        {"split",  // at Detail High, where the lines are made
         6000,
         "",
         std::string(6000, 's') + "\r\n",
         {"Connecting to Server", "Connected to Server", "Out of memory",
          "Disconnected from Server"}},
        {"rewrite",
         7000,
         std::string(7000, 'h'),
         "GET / HTTP/1.1\r\nHost: localhost\r\n\r\n",
         {"Connecting to Server", "Connected to Server", "Out of memory",
          "Disconnected from Server"}},
    };
    struct Restore {
        ~Restore() { platform::SetAllocationFailure({}); }
    } restore;
    for (const Case& k : cases) {
        SCOPED_TRACE(k.what);
        log->Detail = std::string_view(k.what) == "split" ? log::kDetailHigh : log::kDetailLow;
        engine->SetRemoteTexts(k.host, "80");
        const std::int64_t transferred = engine->CSTransferred();
        int c = -1;
        int s = -1;
        Lines();
        logView.Clear();  // a number may come back from the case before
        if (k.data.empty()) {
            platform::SetAllocationFailure([&](std::size_t size) { return size >= k.failFrom; });
            c = ConnectPeer(engine->LocalPortNumber);
            peers.push_back(c);
        } else {
            ASSERT_TRUE(ConnectThrough(c, s));
            platform::SetAllocationFailure([&](std::size_t size) { return size >= k.failFrom; });
            ASSERT_TRUE(SendPeer(c, k.data));
        }
        std::string got;
        ASSERT_TRUE(WaitPeerClosed(c, got));
        if (s >= 0) {
            ASSERT_TRUE(WaitPeerClosed(s, got));
        }
        platform::SetAllocationFailure({});
        EXPECT_EQ(got, k.data);
        ASSERT_TRUE(WaitFor([&] { return engine->ConnectionCount() == 1; }));
        const Lines_ lines = Lines();
        const std::string connected =
            ": Client connected; 127.0.0.1:" + std::to_string(LocalPortOf(c));
        const auto at = std::find_if(lines.begin(), lines.end(), [&](const std::string& line) {
            return line.find(connected) != std::string::npos;
        });
        ASSERT_NE(at, lines.end());
        Lines_ mine = LinesOf(std::stoi(*at));
        mine.erase(mine.begin());
        EXPECT_EQ(mine, k.ending);
        EXPECT_EQ(engine->CSTransferred() - transferred, static_cast<std::int64_t>(k.data.size()));
        EXPECT_EQ(engine->CSBuffered(), 0);
        EXPECT_EQ(engine->SCBuffered(), 0);
        EXPECT_TRUE(Consistent());
    }
    // The fixture's own Connection went on throughout.
    ASSERT_TRUE(SendPeer(client, "still"));
    std::string got;
    ASSERT_TRUE(ReceivePeer(server, got, 5));
    EXPECT_EQ(got, "still");
}

}  // namespace
}  // namespace corvane::relay::test
