// Many Connections at once, random bytes in random pieces both ways, with pauses in between:
// every byte arrives unchanged and in order, and the counters come back to zero.
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "relay_test_support.h"
#include "support/event_loop_wait.h"

namespace corvane::relay::test {
namespace {

using corvane::test::WaitFor;

constexpr std::uint64_t kHashStart = 0xCBF29CE484222325ull;

std::uint64_t Hash(std::uint64_t h, const char* p, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) {
        h = (h ^ static_cast<unsigned char>(p[i])) * 0x100000001B3ull;
    }
    return h;
}

// One direction of one Connection, from the sending peer to the receiving peer.
struct Leg {
    int from = -1;
    int to = -1;
    std::size_t total = 0;
    std::size_t generated = 0;
    std::string pending;  // generated, not yet taken by the socket
    std::uint64_t sentHash = kHashStart;
    std::size_t received = 0;
    std::uint64_t receivedHash = kHashStart;

    void Pump(std::mt19937& rng) {
        if (pending.empty() && generated < total) {
            const std::size_t n = std::min<std::size_t>(total - generated, 1 + rng() % 65536);
            pending.resize(n);
            for (char& ch : pending) {
                ch = static_cast<char>(rng());
            }
            sentHash = Hash(sentHash, pending.data(), n);
            generated += n;
        }
        if (!pending.empty()) {
            const ssize_t n = ::send(from, pending.data(), pending.size(), MSG_NOSIGNAL);
            if (n > 0) {
                pending.erase(0, static_cast<std::size_t>(n));
            }
        }
        char buf[65536];
        const std::size_t want = 1 + rng() % sizeof buf;
        const ssize_t n = ::recv(to, buf, want, 0);
        if (n > 0) {
            receivedHash = Hash(receivedHash, buf, static_cast<std::size_t>(n));
            received += static_cast<std::size_t>(n);
        }
    }
    bool Done() const { return received == total && pending.empty(); }
};

class RelayIntegrityTest : public RelayFixture {};

TEST_F(RelayIntegrityTest, FiftyConnectionsBothWaysWithPauses) {
    ASSERT_TRUE(Start("127.0.0.1", serverPort));
    constexpr int kConnections = 50;
    std::mt19937 rng(20261208);
    std::vector<int> clients;
    for (int i = 0; i < kConnections; ++i) {
        const int fd = ConnectPeer(engine->LocalPortNumber);
        ASSERT_GE(fd, 0);
        clients.push_back(fd);
        peers.push_back(fd);
    }
    // Each Client names itself first, so that its Server side can be paired with it.
    std::vector<int> serverOf(kConnections, -1);
    for (int i = 0; i < kConnections; ++i) {
        const std::uint32_t id = static_cast<std::uint32_t>(i);
        ASSERT_TRUE(SendPeer(clients[static_cast<std::size_t>(i)],
                             std::string(reinterpret_cast<const char*>(&id), sizeof id)));
    }
    for (int accepted = 0; accepted < kConnections; ++accepted) {
        const int fd = AcceptPeer(serverListen);
        ASSERT_GE(fd, 0);
        peers.push_back(fd);
        std::string id;
        ASSERT_TRUE(ReceivePeer(fd, id, sizeof(std::uint32_t)));
        std::uint32_t which = 0;
        std::memcpy(&which, id.data(), sizeof which);
        ASSERT_LT(which, static_cast<std::uint32_t>(kConnections));
        serverOf[which] = fd;
    }
    ASSERT_TRUE(WaitFor([&] { return engine->ConnectionCount() == kConnections; }));

    std::vector<Leg> legs;
    std::size_t bytes = 0;
    for (int i = 0; i < kConnections; ++i) {
        for (int direction = 0; direction < 2; ++direction) {
            Leg leg;
            leg.from = direction == 0 ? clients[static_cast<std::size_t>(i)] : serverOf[i];
            leg.to = direction == 0 ? serverOf[i] : clients[static_cast<std::size_t>(i)];
            leg.total = 50000 + rng() % 600000;
            bytes += leg.total;
            legs.push_back(std::move(leg));
        }
    }
    ASSERT_GT(bytes, 20u << 20);  // tens of MB in all

    int passes = 0;
    int pauses = 0;
    const bool finished = WaitFor(
        [&] {
            bool done = true;
            for (Leg& leg : legs) {
                leg.Pump(rng);
                done = done && leg.Done();
            }
            // Now and then pause for a while, then resume.
            if (++passes % 4 == 0) {
                if (log->Paused()) {
                    log->SetPaused(false);
                    log->CatchUpView();
                    engine->ReadAllConnections();
                } else {
                    log->SetPaused(true);
                    ++pauses;
                }
                EXPECT_TRUE(Consistent());
            }
            return done && !log->Paused();
        },
        180000);
    ASSERT_TRUE(finished);
    EXPECT_GT(pauses, 2);
    for (const Leg& leg : legs) {
        EXPECT_EQ(leg.received, leg.total);
        EXPECT_EQ(leg.receivedHash, leg.sentHash);
    }
    EXPECT_EQ(engine->CSBuffered(), 0);
    EXPECT_EQ(engine->SCBuffered(), 0);
    std::size_t cs = 0;
    std::size_t sc = 0;
    for (std::size_t i = 0; i < legs.size(); ++i) {
        (i % 2 == 0 ? cs : sc) += legs[i].total;
    }
    EXPECT_EQ(static_cast<std::size_t>(engine->CSTransferred()), cs + 4 * kConnections);
    EXPECT_EQ(static_cast<std::size_t>(engine->SCTransferred()), sc);

    for (int fd : clients) {
        ::shutdown(fd, SHUT_WR);
    }
    ASSERT_TRUE(WaitFor([&] { return engine->ConnectionCount() == 0; }, 10000));
    EXPECT_EQ(engine->CSBuffered(), 0);
    EXPECT_EQ(engine->SCBuffered(), 0);
    EXPECT_EQ(relayView.Label(Counter::Connections), "0");
    EXPECT_EQ(relayView.Label(Counter::CSBuffered), "0");
    EXPECT_EQ(relayView.Label(Counter::SCBuffered), "0");
    EXPECT_TRUE(Consistent());
}

}  // namespace
}  // namespace corvane::relay::test
