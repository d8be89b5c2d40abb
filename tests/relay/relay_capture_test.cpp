// The Capture File read back by tshark: every stream gives back exactly the bytes each side
// received, no segment looks lost, repeated or out of order, checksums are right, an HTTP
// request shows its rewritten Host, and a reset is a RST.
#include <sys/socket.h>

#include <QFileInfo>
#include <QTemporaryDir>
#include <algorithm>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "relay_test_support.h"
#include "support/event_loop_wait.h"
#include "support/tshark_reader.h"

namespace corvane::relay::test {
namespace {

using corvane::test::FollowAll;
using corvane::test::Followed;
using corvane::test::kCheckChecksums;
using corvane::test::kTcpFaults;
using corvane::test::Output;
using corvane::test::WaitFor;

class RelayCaptureTest : public RelayFixture {
protected:
    void SetUp() override {
        if (!Output("tshark -v")) {
            GTEST_SKIP() << "tshark is not installed (scripts/setup.sh installs it)";
        }
        RelayFixture::SetUp();
        ASSERT_TRUE(dir_.isValid());
        file_ = dir_.filePath(QStringLiteral("relay.pcap")).toStdString();
        ASSERT_TRUE(log->Capture().Open(file_));
    }

    // Stops the relay, which writes and closes the file.
    void Stop() {
        engine->StopRelay();
        EXPECT_FALSE(log->Capture().IsOpen());
    }

    // The packets that a display filter selects, one line each (or the fields asked for).
    std::string Matching(const std::string& filter, const std::string& options = "") {
        return Output("tshark -r '" + file_ + "' " + options + " -Y '" + filter + "'")
            .value_or("tshark failed");
    }
    long Count(const std::string& filter) {
        const std::string lines = Matching(filter);
        return std::count(lines.begin(), lines.end(), '\n');
    }

    QTemporaryDir dir_;
    std::string file_;
};

TEST_F(RelayCaptureTest, RandomStreamsGiveBackWhatEachSideReceived) {
    ASSERT_TRUE(Start("127.0.0.1", serverPort));
    constexpr int kConnections = 4;
    std::mt19937 rng(20261209);
    struct Pair {
        int client = -1;
        int server = -1;
        std::uint16_t clientPort = 0;
        std::string data[2];  // what the Client sends, what the Server sends
        std::string got[2];   // what the Server got, what the Client got
    };
    std::vector<Pair> pairs(kConnections);
    for (Pair& p : pairs) {
        ASSERT_TRUE(ConnectThrough(p.client, p.server));
        p.clientPort = LocalPortOf(p.client);
        for (std::string& data : p.data) {
            // Up to 300,000 bytes, so that some blocks are cut into several segments.
            data.resize(1 + rng() % 300000);
            for (char& ch : data) {
                ch = static_cast<char>(rng());
            }
        }
    }
    // All directions at once, in random pieces.
    std::vector<std::size_t> sent(2 * kConnections, 0);
    ASSERT_TRUE(WaitFor(
        [&] {
            bool done = true;
            for (std::size_t i = 0; i < pairs.size(); ++i) {
                Pair& p = pairs[i];
                for (int d = 0; d < 2; ++d) {
                    const int from = d == 0 ? p.client : p.server;
                    const int to = d == 0 ? p.server : p.client;
                    std::size_t& offset = sent[2 * i + static_cast<std::size_t>(d)];
                    const std::size_t piece =
                        std::min<std::size_t>(p.data[d].size() - offset, 1 + rng() % 100000);
                    if (piece > 0) {
                        const ssize_t n =
                            ::send(from, p.data[d].data() + offset, piece, MSG_NOSIGNAL);
                        offset += n > 0 ? static_cast<std::size_t>(n) : 0;
                    }
                    char buf[65536];
                    const ssize_t n = ::recv(to, buf, sizeof buf, 0);
                    if (n > 0) {
                        p.got[d].append(buf, static_cast<std::size_t>(n));
                    }
                    done = done && p.got[d].size() == p.data[d].size();
                }
            }
            return done;
        },
        60000));
    // Half of the Clients leave, the rest go at Stop.
    for (int i = 0; i < kConnections; i += 2) {
        ClosePeer(pairs[static_cast<std::size_t>(i)].client);
        peers.erase(
            std::find(peers.begin(), peers.end(), pairs[static_cast<std::size_t>(i)].client));
    }
    ASSERT_TRUE(WaitFor([&] { return engine->ConnectionCount() == kConnections / 2; }));
    Stop();

    const std::vector<Followed> streams = FollowAll(file_, kConnections);
    ASSERT_EQ(streams.size(), static_cast<std::size_t>(kConnections));
    std::map<std::string, const Followed*> byClient;
    for (const Followed& s : streams) {
        byClient[s.firstNode] = &s;
    }
    for (const Pair& p : pairs) {
        // The Client's own port names the stream.
        const Followed* s = byClient["127.0.0.1:" + std::to_string(p.clientPort)];
        if (s == nullptr) {
            ADD_FAILURE() << "no stream for a Client";
            continue;
        }
        EXPECT_TRUE(s->sent[0] == p.got[0]) << s->sent[0].size() << " vs " << p.got[0].size();
        EXPECT_TRUE(s->sent[1] == p.got[1]) << s->sent[1].size() << " vs " << p.got[1].size();
    }
    EXPECT_EQ(Matching(kTcpFaults, kCheckChecksums), "");
    // Every conversation is complete: a handshake, and a FIN from each side.
    EXPECT_EQ(Count("tcp.flags.syn == 1 && tcp.flags.ack == 0"), kConnections);
    EXPECT_EQ(Count("tcp.flags.fin == 1"), 2 * kConnections);
}

TEST_F(RelayCaptureTest, HttpRequestSentBeforeTheServerAnsweredShowsItsRewrittenHost) {
    StuckServer stuck;
    ASSERT_TRUE(Start("127.0.0.1", stuck.port));
    engine->SetRemoteTexts("127.0.0.1", std::to_string(stuck.port));
    const int client = ConnectPeer(engine->LocalPortNumber);
    peers.push_back(client);
    const std::string request = "GET / HTTP/1.1\r\nHost: www.example.invalid\r\n\r\n";
    ASSERT_TRUE(SendPeer(client, request));
    ASSERT_TRUE(WaitFor([&] { return engine->CSBuffered() > 0; }));
    peers.push_back(stuck.Admit());
    const int server = stuck.Admit(10000);
    peers.push_back(server);
    std::string got;
    ASSERT_TRUE(ReceivePeer(server, got, request.size() - 10));
    ASSERT_TRUE(SendPeer(server, "HTTP/1.1 204 No Content\r\n\r\n"));
    std::string answer;
    ASSERT_TRUE(ReceivePeer(client, answer, 27));
    Stop();

    const std::string port = std::to_string(stuck.port);
    EXPECT_EQ(Matching("http.request", "-T fields -e http.host"), "127.0.0.1:" + port + "\n");
    EXPECT_EQ(Matching(kTcpFaults, kCheckChecksums), "");
}

TEST_F(RelayCaptureTest, ClientResetIsARst) {
    ASSERT_TRUE(Start("127.0.0.1", serverPort));
    int client = -1;
    int server = -1;
    ASSERT_TRUE(ConnectThrough(client, server));
    ASSERT_TRUE(SendPeer(client, "to be cut off"));
    std::string got;
    ASSERT_TRUE(ReceivePeer(server, got, 13));
    const std::uint16_t clientPort = LocalPortOf(client);
    ResetPeer(client);
    peers.erase(std::find(peers.begin(), peers.end(), client));
    ASSERT_TRUE(WaitFor([&] { return engine->ConnectionCount() == 0; }));
    // A quiet relay's packets reach the file without a Stop: the header, the handshake,
    // the segment and its acknowledgement, and the reset.
    constexpr std::int64_t kRecord = 16 + 40;
    const std::int64_t whole = 24 + 6 * kRecord + 13;
    const auto size = [&] { return QFileInfo(QString::fromStdString(file_)).size(); };
    EXPECT_TRUE(WaitFor([&] { return size() == whole; })) << size();
    EXPECT_EQ(Matching("tcp.flags.reset == 1", "-T fields -e tcp.srcport"),
              std::to_string(clientPort) + "\n");
    EXPECT_EQ(Count("tcp.flags.fin == 1"), 0);
    EXPECT_EQ(Matching(kTcpFaults, kCheckChecksums), "");
    Stop();
}

// The capture shows what was passed on, not what was read: what the relay held for a slow
// Client when it stopped, or when the Client reset, was dropped and is not in it; a reset
// ends the conversation right behind the last byte the Client was given.
TEST_F(RelayCaptureTest, BytesDroppedAtStopOrAtAResetAreNotInTheCapture) {
    engine->HighWaterMark = 256 << 10;
    std::string answer(3 << 20, '\0');
    std::mt19937 rng(26);
    std::generate(answer.begin(), answer.end(), [&] { return static_cast<char>(rng()); });
    for (const bool reset : {false, true}) {
        SCOPED_TRACE(reset ? "reset" : "Stop");
        if (reset) {
            ASSERT_TRUE(log->Capture().Open(file_));
        }
        ASSERT_TRUE(Start("127.0.0.1", serverPort));
        const int client = ConnectPeer(engine->LocalPortNumber, 4096);
        peers.push_back(client);
        const int server = AcceptPeer(serverListen);
        ASSERT_GE(server, 0);
        peers.push_back(server);
        ASSERT_TRUE(SendPeer(client, "GET /"));
        std::string request;
        ASSERT_TRUE(ReceivePeer(server, request, 5));
        SendUntil(server, answer, [&] {
            const Connection* c = engine->ConnectionList();
            return c != nullptr && c->serverReadHeld;
        });
        ASSERT_GT(engine->SCBuffered(), 0);
        std::string got;
        if (reset) {
            ResetPeer(client);
            peers.erase(std::find(peers.begin(), peers.end(), client));
            ASSERT_TRUE(WaitFor([&] { return engine->ConnectionCount() == 0; }));
            Stop();
        } else {
            Stop();
            ASSERT_TRUE(WaitPeerClosed(client, got, 20000));  // what the sockets still held
        }
        const std::vector<Followed> streams = FollowAll(file_, 1);
        ASSERT_EQ(streams.size(), 1u);
        EXPECT_EQ(streams[0].sent[1].size(), static_cast<std::size_t>(engine->SCTransferred()));
        EXPECT_TRUE(answer.compare(0, streams[0].sent[1].size(), streams[0].sent[1]) == 0);
        if (reset) {
            EXPECT_EQ(Matching("tcp.flags.reset == 1", "-T fields -e frame.number"),
                      std::to_string(Count("frame")) + "\n");
        } else {
            EXPECT_TRUE(streams[0].sent[1] == got) << got.size();
        }
        EXPECT_EQ(Matching(kTcpFaults, kCheckChecksums), "");
    }
}

// With Half Close, a side's FIN is in the capture where the relay passed its end on: the
// Client's before the answer that the Server sends only once it has seen that end.
TEST_F(RelayCaptureTest, HalfClosedSideFinComesWhereItsEndWasPassedOn) {
    engine->HalfClose = true;
    ASSERT_TRUE(Start("127.0.0.1", serverPort));
    int client = -1;
    int server = -1;
    ASSERT_TRUE(ConnectThrough(client, server));
    const std::string request(1000, 'q');
    ASSERT_TRUE(SendPeer(client, request));
    ASSERT_EQ(::shutdown(client, SHUT_WR), 0);
    std::string got;
    ASSERT_TRUE(WaitPeerClosed(server, got));
    const std::string answer(2 << 20, 'a');
    std::string answered;
    ASSERT_TRUE(Exchange(server, answer, 0, client, answered, answer.size()));
    ClosePeer(server);
    peers.erase(std::find(peers.begin(), peers.end(), server));
    ASSERT_TRUE(WaitPeerClosed(client, answered, 20000));
    ASSERT_TRUE(WaitFor([&] { return engine->ConnectionCount() == 0; }));
    Stop();

    const std::string clientFin =
        Matching("tcp.flags.fin == 1 && tcp.srcport == " + std::to_string(LocalPortOf(client)),
                 "-T fields -e frame.number");
    const std::string answerFrames = Matching(
        "tcp.len > 0 && tcp.srcport == " + std::to_string(serverPort), "-T fields -e frame.number");
    ASSERT_FALSE(clientFin.empty() || answerFrames.empty());
    EXPECT_LT(std::stol(clientFin), std::stol(answerFrames)) << "the first answer segment";
    EXPECT_EQ(Matching(kTcpFaults, kCheckChecksums), "");
}

TEST_F(RelayCaptureTest, FailedWriteIsLoggedOnceAndRelayingGoesOn) {
    ASSERT_TRUE(log->Capture().Open("/dev/full"));
    ASSERT_TRUE(Start("127.0.0.1", serverPort));
    int client = -1;
    int server = -1;
    ASSERT_TRUE(ConnectThrough(client, server));
    const std::string bytes(3 << 20, 'x');
    std::string got;
    ASSERT_TRUE(Exchange(client, bytes, 0, server, got, bytes.size()));
    Stop();
    const std::vector<std::string> lines = Lines();
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "Could not write capture file"), 1);
}

}  // namespace
}  // namespace corvane::relay::test
