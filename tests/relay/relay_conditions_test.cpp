// Network Conditions on real loopback connections: each condition's effect, checked by lower
// bounds on time only and by every byte arriving in order; the ends they cause with their
// exact log lines; Share's repeatable choice; a change while relaying; and the held bytes
// under the high-water mark and Pause.
#include <sys/socket.h>

#include <chrono>
#include <string>
#include <vector>

#include "relay/conditions/conditions_text.h"
#include "relay_test_support.h"
#include "support/event_loop_wait.h"

namespace corvane::relay::test {
namespace {

using corvane::test::RunEventLoopFor;
using corvane::test::WaitFor;
using Lines_ = std::vector<std::string>;
using Clock = std::chrono::steady_clock;

Conditions Set(std::string_view text) {
    TextProblem problem;
    const auto set = ParseConditionsText(text, problem);
    EXPECT_TRUE(set.has_value()) << text << ": " << problem.text;
    return set.value_or(Conditions{});
}

std::int64_t MsSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// A payload whose every byte says where it belongs.
std::string Payload(std::size_t size) {
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<char>('a' + (i * 7 + i / 26) % 26);
    }
    return bytes;
}

class RelayConditionsTest : public RelayFixture {
protected:
    void StartWith(std::string_view text) {
        engine->ReplaceConditions(Set(text));
        ASSERT_TRUE(Start("127.0.0.1", serverPort));
    }
    // The lines of the one Connection after "Client connected; ..." (whose port varies).
    Lines_ LinesAfterConnect(int number) {
        Lines_ lines = LinesOf(number);
        if (!lines.empty()) {
            lines.erase(lines.begin());
        }
        return lines;
    }
};

// Sends `data` from one peer while the other reads it, each read noted; true once all came.
bool Deliver(int from, int to, const std::string& data, std::string& got,
             std::vector<std::size_t>& reads) {
    return Exchange(from, data, 0, to, got, data.size(), 30000, &reads);
}

TEST_F(RelayConditionsTest, BlockConditionsHoldBytesBackButDeliverThemWholeAndInOrder) {
    struct Case {
        const char* conditions;
        bool up;  // Client to Server, else Server to Client
        std::size_t size;
        std::int64_t atLeastMs;
        std::size_t largestRead;  // 0: any
    };
    const Case cases[] = {
        {"-latency 200", true, 1000, 200, 0},
        {"-latency down:200,50", false, 1000, 150, 0},
        {"-bandwidth up:64K", true, 96000, 1500, 0},
        {"-bandwidth down:1M", false, 1500000, 1500, 0},
        {"-slice down:100,30,5", false, 3000, 5 * (3000 / 130 - 1), 130},
        {"-slice up:1K,0,0 -loss up:50 -seed 3", true, 4000, 200, 1000},
        {"-latency 50 -bandwidth 100K -slice 1K", true, 20000, 250, 1000},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.conditions);
        StartWith(k.conditions);  // afresh, so that a seed given is the run's
        int client = -1;
        int server = -1;
        ASSERT_TRUE(ConnectThrough(client, server));
        const std::string data = Payload(k.size);
        std::string got;
        std::vector<std::size_t> reads;
        const auto start = Clock::now();
        ASSERT_TRUE(k.up ? Deliver(client, server, data, got, reads)
                         : Deliver(server, client, data, got, reads));
        EXPECT_GE(MsSince(start), k.atLeastMs);
        EXPECT_TRUE(got == data);
        if (k.largestRead != 0) {
            EXPECT_LE(*std::max_element(reads.begin(), reads.end()), k.largestRead);
        }
        EXPECT_TRUE(Consistent());
        engine->StopRelay();
    }
}

TEST_F(RelayConditionsTest, ADataLimitPassesExactlyItsBytesThenEndsTheConnection) {
    StartWith("-limit up:10");
    int client = -1;
    int server = -1;
    ASSERT_TRUE(ConnectThrough(client, server));
    const int number = OnlyConnection()->number;
    ASSERT_TRUE(SendPeer(client, "0123456789ABCDEF"));
    std::string got;
    ASSERT_TRUE(WaitPeerClosed(server, got));
    EXPECT_EQ(got, "0123456789");
    ASSERT_TRUE(WaitFor([&] { return engine->ConnectionCount() == 0; }));
    EXPECT_EQ(engine->CSTransferred(), 10);
    EXPECT_EQ(engine->CSBuffered(), 0);
    EXPECT_EQ(LinesAfterConnect(number),
              (Lines_{"Conditions: -limit up:10", "Connecting to Server", "Connected to Server",
                      "Data limit reached to Server", "Disconnected from Client",
                      "Disconnected from Server"}));
}

TEST_F(RelayConditionsTest, EndAfterResetsBothPeersAndSaysWhy) {
    StartWith("-endafter 300,reset");
    int client = -1;
    int server = -1;
    const auto start = Clock::now();
    ASSERT_TRUE(ConnectThrough(client, server));
    const int number = OnlyConnection()->number;
    std::string got;
    bool reset = false;
    ASSERT_TRUE(WaitPeerClosed(client, got, 5000, &reset));
    EXPECT_GE(MsSince(start), 300);
    EXPECT_TRUE(reset);
    ASSERT_TRUE(WaitPeerClosed(server, got, 5000, &reset));
    EXPECT_TRUE(reset);
    EXPECT_EQ(LinesAfterConnect(number),
              (Lines_{"Conditions: -endafter 300,reset", "Connecting to Server",
                      "Connected to Server", "Reset by conditions after 300 ms",
                      "Disconnected from Client", "Disconnected from Server"}));
}

TEST_F(RelayConditionsTest, AStallHoldsEveryByteUntilItsEndClosesTheConnection) {
    StartWith("-stall 100,400");
    int client = -1;
    int server = -1;
    ASSERT_TRUE(ConnectThrough(client, server));
    const int number = OnlyConnection()->number;
    ASSERT_TRUE(WaitFor([&] { return LinesOf(number).size() >= 5; }));
    ASSERT_TRUE(SendPeer(client, "held"));
    ASSERT_TRUE(SendPeer(server, "held too"));
    ASSERT_TRUE(WaitFor([&] { return engine->CSBuffered() == 4 && engine->SCBuffered() == 8; }));
    std::string atClient;
    std::string atServer;
    bool reset = true;
    ASSERT_TRUE(WaitPeerClosed(client, atClient, 5000, &reset));
    EXPECT_FALSE(reset);
    ASSERT_TRUE(WaitPeerClosed(server, atServer, 5000, &reset));
    EXPECT_FALSE(reset);
    EXPECT_EQ(atClient, "");
    EXPECT_EQ(atServer, "");
    EXPECT_EQ(engine->CSBuffered() + engine->SCBuffered(), 0);
    EXPECT_EQ(LinesAfterConnect(number),
              (Lines_{"Conditions: -stall 100,400", "Connecting to Server", "Connected to Server",
                      "Stalled by conditions after 100 ms", "Closed by conditions after 500 ms",
                      "Disconnected from Client", "Disconnected from Server"}));
}

TEST_F(RelayConditionsTest, ASlowCloseDeliversTheLastBytesAtOnceAndTheCloseLater) {
    StartWith("-slowclose 300 -connectdelay 200");
    const auto start = Clock::now();
    const int client = ConnectPeer(engine->LocalPortNumber);
    ASSERT_GE(client, 0);
    peers.push_back(client);
    ASSERT_TRUE(SendPeer(client, "last words"));
    const int server = AcceptPeer(serverListen);
    ASSERT_GE(server, 0);
    peers.push_back(server);
    EXPECT_GE(MsSince(start), 200);  // the connect waited for its delay
    const int number = OnlyConnection()->number;
    std::string got;
    ASSERT_TRUE(ReceivePeer(server, got, 10));
    ::shutdown(client, SHUT_WR);
    ASSERT_TRUE(WaitFor([&] { return OnlyConnection()->conditions->closeHeld; }));
    const auto closed = Clock::now();
    ASSERT_TRUE(WaitPeerClosed(server, got));
    EXPECT_GE(MsSince(closed), 300);
    EXPECT_EQ(got, "last words");
    ASSERT_TRUE(WaitFor([&] { return engine->ConnectionCount() == 0; }));
    EXPECT_EQ(LinesAfterConnect(number),
              (Lines_{"Conditions: -connectdelay 200 -slowclose 300", "Connecting to Server",
                      "Connected to Server", "Client's close held back by conditions for 300 ms",
                      "Client disconnected", "Disconnected from Server"}));
}

TEST_F(RelayConditionsTest, RefusedClientsAreClosedResetOrHeldInTheBacklog) {
    const std::pair<const char*, bool> turnedAway[] = {{"-refuse close", false},
                                                       {"-refuse reset", true}};
    for (const auto& [conditions, expectReset] : turnedAway) {
        SCOPED_TRACE(conditions);
        engine->ReplaceConditions(Set(conditions));
        if (!engine->Running()) {
            ASSERT_TRUE(Start("127.0.0.1", serverPort));
        }
        const int client = ConnectPeer(engine->LocalPortNumber);
        ASSERT_GE(client, 0);
        std::string got;
        bool reset = !expectReset;
        ASSERT_TRUE(WaitPeerClosed(client, got, 5000, &reset));
        EXPECT_EQ(reset, expectReset);
        ClosePeer(client);
        const Lines_ lines = Lines();
        ASSERT_GE(lines.size(), 3u);
        const std::string number = lines.back().substr(0, lines.back().find(": "));
        EXPECT_EQ(
            Lines_(lines.end() - 2, lines.end()),
            (Lines_{number + ": Refused by conditions", number + ": Disconnected from Client"}));
        EXPECT_EQ(engine->ConnectionCount(), 0);
    }
    engine->ReplaceConditions(Set("-refuse hold"));
    const int client = ConnectPeer(engine->LocalPortNumber);
    ASSERT_GE(client, 0);
    peers.push_back(client);
    RunEventLoopFor(200);
    EXPECT_EQ(engine->ConnectionCount(), 0);
    EXPECT_EQ(Lines().back(),
              "Conditions now: -refuse hold -seed " + std::to_string(engine->ConditionsSeed()));
    engine->ReplaceConditions(Conditions{});
    const int server = AcceptPeer(serverListen);
    ASSERT_GE(server, 0);
    peers.push_back(server);
    ExpectRelays(client, server);
    const Lines_ lines = Lines();
    EXPECT_EQ(lines[lines.size() - 4], "Conditions now: off");
    EXPECT_EQ(lines[lines.size() - 3].rfind(
                  std::to_string(OnlyConnection()->number) + ": Client connected; 127.0.0.1:", 0),
              0u);
}

TEST_F(RelayConditionsTest, TheSameSeedMakesTheSameShareOfChoices) {
    std::vector<bool> runs[2];
    for (std::vector<bool>& chosen : runs) {
        StartWith("-latency 1 -share 50 -seed 7");
        EXPECT_EQ(Lines().back(), "Waiting for connections");
        EXPECT_EQ(Lines().end()[-3], "Conditions: -latency 1 -share 50 -seed 7");
        for (int i = 0; i < 16; ++i) {
            int client = -1;
            int server = -1;
            ASSERT_TRUE(ConnectThrough(client, server));
            chosen.push_back(engine->ConnectionList()->conditions != nullptr);
        }
        engine->StopRelay();
        for (int fd : peers) {
            ClosePeer(fd);
        }
        peers.clear();
    }
    EXPECT_EQ(runs[0], runs[1]);
    EXPECT_NE(std::count(runs[0].begin(), runs[0].end(), true), 0);
    EXPECT_NE(std::count(runs[0].begin(), runs[0].end(), false), 0);
}

TEST_F(RelayConditionsTest, AChangeWhileRelayingAppliesToTheNextBlockAndAStallCanBeLifted) {
    StartWith("");
    EXPECT_EQ(Lines().front().rfind("Local Port (", 0), 0u);  // no conditions line when off
    int client = -1;
    int server = -1;
    ASSERT_TRUE(ConnectThrough(client, server));
    ExpectRelays(client, server);
    engine->ReplaceConditions(Set("-latency up:200 -seed 99"));
    EXPECT_EQ(Lines().back(),
              "Conditions now: -latency up:200 -seed " + std::to_string(engine->ConditionsSeed()));
    std::string got;
    std::vector<std::size_t> reads;
    auto start = Clock::now();
    ASSERT_TRUE(Deliver(client, server, "slow", got, reads));
    EXPECT_GE(MsSince(start), 200);
    // A stall taken on live holds what comes next; taking it away lets it go.
    engine->ReplaceConditions(Set("-stall 0"));
    ASSERT_TRUE(WaitFor([&] { return OnlyConnection()->conditions->stalled; }));
    ASSERT_TRUE(SendPeer(server, "after the stall"));
    ASSERT_TRUE(WaitFor([&] { return engine->SCBuffered() == 15; }));
    engine->ReplaceConditions(Conditions{});
    got.clear();
    ASSERT_TRUE(ReceivePeer(client, got, 15));
    EXPECT_EQ(got, "after the stall");
    EXPECT_TRUE(Consistent());
}

TEST_F(RelayConditionsTest, AThinLinkHoldsTheClientBackThroughTcpAndKeepsDrainingWhilePaused) {
    StartWith("-bandwidth 1K");
    int client = -1;
    int server = -1;
    ASSERT_TRUE(ConnectThrough(client, server));
    const std::string chunk(1 << 16, 'x');
    const long residentBefore = ResidentKiB();
    std::size_t pushed = 0;
    // The Client pushes all it can (up to 100 MB) until the relay has stopped reading it and
    // the kernel's buffers are full.
    Clock::time_point blockedSince = Clock::now();
    WaitFor(
        [&] {
            const ssize_t n = ::send(client, chunk.data(), chunk.size(), MSG_NOSIGNAL);
            if (n > 0) {
                pushed += static_cast<std::size_t>(n);
                blockedSince = Clock::now();
            }
            return pushed >= (100u << 20) || MsSince(blockedSince) > 500;
        },
        30000);
    EXPECT_LT(pushed, 100u << 20);
    EXPECT_LT(ResidentKiB() - residentBefore, kResidentBoundKiB);
    const Connection* c = OnlyConnection();
    EXPECT_TRUE(c->clientReadHeld);
    EXPECT_LE(engine->CSBuffered(), 2 * engine->HighWaterMark);
    EXPECT_TRUE(Consistent());
    // Paused, nothing more is read, but what is held keeps going out at its rate.
    log->SetPaused(true);
    const std::int64_t transferred = engine->CSTransferred();
    ASSERT_TRUE(WaitFor([&] { return engine->CSTransferred() > transferred; }));
    EXPECT_TRUE(Consistent());
}

}  // namespace
}  // namespace corvane::relay::test
