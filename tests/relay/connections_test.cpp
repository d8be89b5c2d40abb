// Connections as a whole: the serial each keeps for its life, the rows the engine reports
// through ConnectionView, and closing or resetting one on demand.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <map>
#include <string>
#include <vector>

#include <QTemporaryDir>

#include "log/stream_reader.h"
#include "relay_test_support.h"
#include "support/event_loop_wait.h"

namespace corvane::relay::test {
namespace {

using corvane::test::WaitFor;

class RecordingConnectionView final : public ConnectionView {
public:
    void ShowConnections(const ConnectionChanges& changes) override {
        for (const ConnectionRow& row : changes.rows) {
            rows[row.serial].push_back(row);
        }
        dropped.insert(dropped.end(), changes.streamsDropped.begin(), changes.streamsDropped.end());
    }
    // The states reported for the Connection, in order.
    std::vector<ConnectionState> States(log::ConnectionSerial serial) const {
        std::vector<ConnectionState> states;
        if (const auto it = rows.find(serial); it != rows.end()) {
            for (const ConnectionRow& row : it->second) {
                states.push_back(row.state);
            }
        }
        return states;
    }
    bool Reached(log::ConnectionSerial serial, ConnectionState state) const {
        for (const ConnectionState s : States(serial)) {
            if (s == state) {
                return true;
            }
        }
        return false;
    }
    const ConnectionRow& Last(log::ConnectionSerial serial) { return rows[serial].back(); }

    std::map<log::ConnectionSerial, std::vector<ConnectionRow>> rows;
    std::vector<log::ConnectionSerial> dropped;
};

class ConnectionsTest : public RelayFixture {
protected:
    void SetUp() override {
        RelayFixture::SetUp();
        engine->SetConnectionView(&view);
        ASSERT_TRUE(Start("127.0.0.1", serverPort));
    }

    // A Client whose receive window stays small, the Server's side, and its serial.
    log::ConnectionSerial SlowClient(int& client, int& server) {
        client = ConnectPeer(engine->LocalPortNumber, 4096);
        peers.push_back(client);
        server = AcceptPeer(serverListen);
        peers.push_back(server);
        EXPECT_TRUE(WaitFor([&] {
            return engine->ConnectionList() != nullptr && engine->ConnectionList()->connected;
        }));
        return engine->ConnectionList()->serial;
    }
    // The Server sends until the relay holds bytes for the Client; returns what it sent.
    std::string HoldForClient(int server) {
        const std::string data(8 << 20, 'd');
        const std::size_t sent =
            SendUntil(server, data, [&] { return engine->SCBuffered() > 100000; });
        EXPECT_GT(engine->SCBuffered(), 0);
        return data.substr(0, sent);
    }
    // Ends a peer's socket with a reset; it is no longer the fixture's to close.
    void Reset(int fd) {
        std::erase(peers, fd);
        ResetPeer(fd);
    }
    bool Ended(log::ConnectionSerial serial) {
        return WaitFor(
            [&] { return !view.States(serial).empty() && IsEnded(view.States(serial).back()); });
    }

    RecordingConnectionView view;

    // The serials of the view's lines that begin with "<number>: ".
    std::vector<log::ConnectionSerial> SerialsOfNumber(int number) {
        Lines();
        const std::string prefix = std::to_string(number) + ": ";
        std::vector<log::ConnectionSerial> result;
        for (std::size_t i = 0; i < logView.lines.size(); ++i) {
            if (logView.lines[i].first.rfind(prefix, 0) == 0) {
                result.push_back(logView.serials[i]);
            }
        }
        return result;
    }
};

// A number comes back once its socket is closed; the serial does not, so the lines of the
// first Connection and of the later one with its number stay apart.
TEST_F(ConnectionsTest, AReusedNumberFilesEachConnectionsLinesUnderItsOwnSerial) {
    // Taken now, so that the relay's next accept gets the first Connection's number back.
    const int later = ::socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_GE(later, 0);
    peers.push_back(later);
    int client = -1;
    int server = -1;
    ASSERT_TRUE(ConnectThrough(client, server));
    const int number = OnlyConnection()->number;
    const log::ConnectionSerial first = OnlyConnection()->serial;
    ::shutdown(client, SHUT_WR);
    ASSERT_TRUE(WaitFor([&] { return engine->ConnectionCount() == 0; }));

    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(engine->LocalPortNumber);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::connect(later, reinterpret_cast<sockaddr*>(&to), sizeof to), 0);
    peers.push_back(AcceptPeer(serverListen));
    ASSERT_TRUE(WaitFor([&] {
        return engine->ConnectionList() != nullptr && engine->ConnectionList()->connected;
    }));
    ASSERT_EQ(OnlyConnection()->number, number) << "the test needs the number to come back";
    const log::ConnectionSerial second = OnlyConnection()->serial;
    EXPECT_NE(first, log::kNoConnection);
    EXPECT_NE(second, first);

    const std::vector<log::ConnectionSerial> serials = SerialsOfNumber(number);
    // "Client connected", "Connecting", "Connected", "Client disconnected", "Disconnected
    // from Server" of the first, then the first three of the second.
    ASSERT_EQ(serials.size(), 8u);
    EXPECT_EQ(std::vector<log::ConnectionSerial>(serials.begin(), serials.begin() + 5),
              std::vector<log::ConnectionSerial>(5, first));
    EXPECT_EQ(std::vector<log::ConnectionSerial>(serials.begin() + 5, serials.end()),
              std::vector<log::ConnectionSerial>(3, second));
    EXPECT_EQ(logView.serials.front(), log::kNoConnection) << logView.lines.front().first;
}

TEST_F(ConnectionsTest, AnAcceptedConnectionsRowCarriesItsAddressesCountsAndStates) {
    int client = -1;
    int server = -1;
    ASSERT_TRUE(ConnectThrough(client, server));
    const Connection* c = OnlyConnection();
    const log::ConnectionSerial serial = c->serial;
    const int number = c->number;
    ExpectRelays(client, server);  // "ping" up, "pong" down
    ASSERT_TRUE(
        WaitFor([&] { return view.rows.count(serial) && view.Last(serial).serverToClient == 4; }));
    const ConnectionRow row = view.Last(serial);
    EXPECT_EQ(row.number, number);
    EXPECT_EQ(row.client, "127.0.0.1:" + std::to_string(LocalPortOf(client)));
    EXPECT_EQ(row.server, "127.0.0.1:" + std::to_string(serverPort));
    EXPECT_EQ(row.state, ConnectionState::Open);
    EXPECT_EQ(row.clientToServer, 4);
    EXPECT_EQ(row.tls, "");
    const auto now = std::chrono::duration_cast<std::chrono::milliseconds>(
                         std::chrono::system_clock::now().time_since_epoch())
                         .count();
    EXPECT_LE(std::abs(now - row.startedMs), 60000);

    log->SetPaused(true);
    EXPECT_TRUE(WaitFor([&] { return view.Last(serial).state == ConnectionState::Paused; }));
    log->SetPaused(false);
    ::shutdown(client, SHUT_WR);
    ASSERT_TRUE(Ended(serial));
    EXPECT_EQ(view.Last(serial).state, ConnectionState::Closed);
    EXPECT_EQ(view.Last(serial).serverToClient, 4);
}

TEST_F(ConnectionsTest, ARefusedConnectEndsTheRowFailed) {
    ClosePeer(serverListen);  // the Server's port refuses from now on
    serverListen = -1;
    peers.push_back(ConnectPeer(engine->LocalPortNumber));
    ASSERT_TRUE(WaitFor([&] { return !view.rows.empty(); }));
    const log::ConnectionSerial serial = view.rows.begin()->first;
    ASSERT_TRUE(Ended(serial));
    EXPECT_EQ(view.Last(serial).state, ConnectionState::Failed);
}

TEST_F(ConnectionsTest, AHalfClosedConnectionShowsWhichSideFinished) {
    engine->HalfClose = true;
    int client = -1;
    int server = -1;
    ASSERT_TRUE(ConnectThrough(client, server));
    const log::ConnectionSerial serial = OnlyConnection()->serial;
    ::shutdown(client, SHUT_WR);
    EXPECT_TRUE(WaitFor([&] { return view.Reached(serial, ConnectionState::ClientFinished); }));
    ::shutdown(server, SHUT_WR);
    ASSERT_TRUE(Ended(serial));
    EXPECT_EQ(view.Last(serial).state, ConnectionState::Closed);
}

TEST_F(ConnectionsTest, ADrainingConnectionShowsWhatItHoldsUntilItHasDeliveredIt) {
    int client = -1;
    int server = -1;
    const log::ConnectionSerial serial = SlowClient(client, server);
    const std::string sent = HoldForClient(server);
    ::shutdown(server, SHUT_WR);
    ASSERT_TRUE(WaitFor([&] { return view.Reached(serial, ConnectionState::Draining); }));
    EXPECT_GT(view.Last(serial).buffered, 0);
    std::string got;
    EXPECT_TRUE(WaitPeerClosed(client, got, 20000));
    EXPECT_EQ(got.size(), sent.size());
    ASSERT_TRUE(Ended(serial));
    EXPECT_EQ(view.Last(serial).state, ConnectionState::Closed);
    EXPECT_EQ(view.Last(serial).serverToClient, static_cast<std::int64_t>(sent.size()));
}

TEST_F(ConnectionsTest, APeersResetEndsTheRowReset) {
    int client = -1;
    int server = -1;
    ASSERT_TRUE(ConnectThrough(client, server));
    const log::ConnectionSerial serial = OnlyConnection()->serial;
    Reset(client);
    ASSERT_TRUE(Ended(serial));
    EXPECT_EQ(view.Last(serial).state, ConnectionState::Reset);
}

// Close on demand: what the relay holds still reaches the Client, then both peers see a
// graceful end, and the log says who closed it.
TEST_F(ConnectionsTest, CloseDeliversWhatIsHeldThenClosesBothPeers) {
    int client = -1;
    int server = -1;
    const log::ConnectionSerial serial = SlowClient(client, server);
    const int number = OnlyConnection()->number;
    HoldForClient(server);
    // What the Client is owed: what the relay passed on and what it holds. Bytes the Server
    // sent that the relay has not read are not its to deliver.
    const Connection* c = OnlyConnection();
    const std::int64_t owed = c->passedToClient + c->serverToClient.length;
    ASSERT_GT(c->serverToClient.length, 0);
    ASSERT_EQ(engine->CloseConnections(std::vector<log::ConnectionSerial>{serial}), 1);
    std::string got;
    bool reset = true;
    EXPECT_TRUE(WaitPeerClosed(client, got, 20000, &reset));
    EXPECT_FALSE(reset);
    EXPECT_EQ(static_cast<std::int64_t>(got.size()), owed);
    std::string rest;
    EXPECT_TRUE(WaitPeerClosed(server, rest, 5000, &reset));
    EXPECT_FALSE(reset);
    ASSERT_TRUE(Ended(serial));
    EXPECT_EQ(view.Last(serial).state, ConnectionState::Closed);
    const std::vector<std::string> lines = LinesOf(number);
    EXPECT_EQ(std::vector<std::string>(lines.end() - 2, lines.end()),
              (std::vector<std::string>{"Closed by user", "Disconnected from Server"}));
    EXPECT_TRUE(Consistent());
}

TEST_F(ConnectionsTest, ResetGivesBothPeersAResetAtOnce) {
    int client = -1;
    int server = -1;
    const log::ConnectionSerial serial = SlowClient(client, server);
    const int number = OnlyConnection()->number;
    HoldForClient(server);  // held bytes are dropped, not delivered first
    ASSERT_EQ(engine->ResetConnections(std::vector<log::ConnectionSerial>{serial, 999999}), 1);
    for (const int peer : {client, server}) {
        char scrap[65536];
        int error = 0;
        // What arrived before the reset may be read first; then recv fails.
        EXPECT_TRUE(WaitFor([&] {
            error = ::recv(peer, scrap, sizeof scrap, 0) < 0 ? errno : 0;
            return error != 0 && error != EAGAIN;
        }));
        EXPECT_EQ(error, ECONNRESET);
    }
    EXPECT_EQ(LinesOf(number),
              (std::vector<std::string>{
                  "Client connected; 127.0.0.1:" + std::to_string(LocalPortOf(client)),
                  "Connecting to Server", "Connected to Server", "Reset by user",
                  "Disconnected from Client", "Disconnected from Server"}));
    ASSERT_TRUE(Ended(serial));
    EXPECT_EQ(view.Last(serial).state, ConnectionState::Reset);
    EXPECT_EQ(engine->ConnectionCount(), 0);
    EXPECT_TRUE(Consistent());
}

// The kept streams hold what was passed on: the request with its "Host: " line rewritten,
// not what the Client sent, each direction as a block of its own.
TEST_F(ConnectionsTest, KeptStreamsHoldWhatWasPassedOnWithTheHostRewritten) {
    QTemporaryDir folder;
    const std::string path = folder.filePath(QStringLiteral("run.streams")).toStdString();
    ASSERT_TRUE(log->Streams().Open(path, log::StreamStore::kMinimumBound));
    engine->SetRemoteTexts("example.org", "8080");
    int client = -1;
    int server = -1;
    ASSERT_TRUE(ConnectThrough(client, server));
    const log::ConnectionSerial serial = OnlyConnection()->serial;
    const std::string local = std::to_string(engine->LocalPortNumber);
    const std::string passed = "GET / HTTP/1.1\r\nHost: example.org:8080\r\n\r\n";
    ASSERT_TRUE(SendPeer(client, "GET / HTTP/1.1\r\nHost: localhost:" + local + "\r\n\r\n"));
    std::string request;
    ASSERT_TRUE(ReceivePeer(server, request, passed.size()));
    ASSERT_EQ(request, passed);
    ASSERT_TRUE(SendPeer(server, "pong"));
    std::string answer;
    ASSERT_TRUE(ReceivePeer(client, answer, 4));
    log->Streams().Close();  // everything built is in the file

    log::StreamReader reader;
    std::string error;
    ASSERT_TRUE(reader.Open(path, error)) << error;
    std::vector<std::pair<log::StreamDirection, std::string>> blocks;
    std::string text;
    ASSERT_TRUE(reader.ForEachBlock(serial, [&](const log::KeptBlock& block) {
        blocks.emplace_back(block.direction, std::string(block.bytes));
        log::AppendBlockText(block, text);
        return true;
    }));
    EXPECT_EQ(blocks, (std::vector<std::pair<log::StreamDirection, std::string>>{
                          {log::StreamDirection::ToServer, passed},
                          {log::StreamDirection::ToClient, "pong"}}));
    EXPECT_NE(text.find(" bytes\nGET / HTTP/1.1\nHost: example.org:8080\n\nServer to Client, "),
              std::string::npos)
        << text;
}

}  // namespace
}  // namespace corvane::relay::test
