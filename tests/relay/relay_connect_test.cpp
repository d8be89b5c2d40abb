// From Start to connected Connections, and Stop, against real loopback peers.
#include <unistd.h>

#include <string>
#include <vector>

#include "relay_test_support.h"
#include "support/event_loop_wait.h"

namespace corvane::relay::test {
namespace {

using corvane::test::RunEventLoopFor;
using corvane::test::WaitFor;
using Lines_ = std::vector<std::string>;

std::string Opened(std::uint16_t port) {
    return "Local Port (" + std::to_string(port) + ") opened";
}

std::string Connected(int client) {
    return "Client connected; 127.0.0.1:" + std::to_string(LocalPortOf(client));
}

class RelayConnectTest : public RelayFixture {};

TEST_F(RelayConnectTest, DottedRemoteHostOpensTheLocalPortAtOnce) {
    ASSERT_TRUE(Start("127.0.0.1", serverPort));
    EXPECT_NE(engine->LocalPortNumber, 0);  // port 0 was replaced by the port bound
    EXPECT_NE(engine->LocalPortSocket(), platform::INVALID_SOCKET);
    EXPECT_EQ(engine->RemoteLookupRequest(), 0u);
    EXPECT_EQ(Lines(), (Lines_{Opened(engine->LocalPortNumber), "Waiting for connections"}));
}

TEST_F(RelayConnectTest, LocalPortInUseFailsToBegin) {
    std::uint16_t busy = 0;
    const int holder = ListenPeer(busy);
    peers.push_back(holder);
    EXPECT_FALSE(Start("127.0.0.1", serverPort, busy));
    EXPECT_EQ(engine->LocalPortSocket(), platform::INVALID_SOCKET);
    EXPECT_EQ(Lines(), (Lines_{"Could not open Local Port", "Address already in use"}));
    EXPECT_EQ(logView.lines[0].second, log::ColourOf(log::LogKind::Error));
}

TEST_F(RelayConnectTest, NamedRemoteHostIsLookedUpBeforeThePortOpens) {
    ASSERT_TRUE(Start("localhost", serverPort));
    EXPECT_NE(engine->RemoteLookupRequest(), 0u);
    EXPECT_EQ(engine->LocalPortSocket(), platform::INVALID_SOCKET);
    EXPECT_EQ(Lines(), Lines_{"Resolving Remote Host"});
    ASSERT_TRUE(WaitFor([&] { return engine->LocalPortSocket() != platform::INVALID_SOCKET; }));
    EXPECT_EQ(Lines(), (Lines_{"Resolving Remote Host", "Remote Host resolved to 127.0.0.1",
                               Opened(engine->LocalPortNumber), "Waiting for connections"}));
    // And Clients get through to the Server it named.
    int client = -1;
    int server = -1;
    EXPECT_TRUE(ConnectThrough(client, server));
}

TEST_F(RelayConnectTest, NameThatDoesNotExistStopsTheRelay) {
    ASSERT_TRUE(Start("no-such-host.invalid", serverPort));
    ASSERT_TRUE(WaitFor([&] { return !engine->Running(); }, 15000));
    EXPECT_EQ(Lines(), (Lines_{"Resolving Remote Host", "Host not found"}));
    EXPECT_EQ(relayView.runningStates, (std::vector<bool>{true, false}));
    EXPECT_EQ(engine->LocalPortSocket(), platform::INVALID_SOCKET);
}

TEST_F(RelayConnectTest, AllOnesAddressIsTakenAsANameAndStopCancelsItsLookUp) {
    ASSERT_TRUE(Start("255.255.255.255", serverPort));
    EXPECT_NE(engine->RemoteLookupRequest(), 0u);
    engine->StopRelay();
    EXPECT_EQ(engine->RemoteLookupRequest(), 0u);
    EXPECT_EQ(Lines(), (Lines_{"Resolving Remote Host", "Resolving Remote Host cancelled"}));
    RunEventLoopFor(50);  // a cancelled look-up never answers
    EXPECT_EQ(Lines().size(), 2u);
}

TEST_F(RelayConnectTest, ClientIsConnectedThroughAndCounted) {
    ASSERT_TRUE(Start("127.0.0.1", serverPort));
    int client = -1;
    int server = -1;
    ASSERT_TRUE(ConnectThrough(client, server));
    Connection* c = OnlyConnection();
    EXPECT_EQ(engine->FindConnection(c->clientSocket), c);
    EXPECT_EQ(engine->FindConnection(c->serverSocket), c);
    EXPECT_EQ(c->number, c->clientSocket);
    EXPECT_EQ(c->DumpMode, kDumpUndecided);
    EXPECT_EQ(LinesOf(c->number),
              (Lines_{Connected(client), "Connecting to Server", "Connected to Server"}));
    EXPECT_EQ(relayView.Label(Counter::Connections), "1");
}

TEST_F(RelayConnectTest, EventsThatBelongToNoOperationAreDropped) {
    ASSERT_TRUE(Start("127.0.0.1", serverPort));
    int client = -1;
    int server = -1;
    ASSERT_TRUE(ConnectThrough(client, server));
    Connection* c = OnlyConnection();
    const std::size_t lines = Lines().size();
    const auto clientSocket = static_cast<platform::WPARAM>(c->clientSocket);
    // A connect event on the client socket, an unknown event code, a socket of no
    // Connection, and a value above every descriptor.
    engine->OnSocketMessage(clientSocket, platform::WSAMAKESELECTREPLY(platform::FD_CONNECT, 0));
    engine->OnSocketMessage(clientSocket, platform::WSAMAKESELECTREPLY(0x40, 0));
    engine->OnSocketMessage(99999, platform::WSAMAKESELECTREPLY(platform::FD_CLOSE, 0));
    engine->OnSocketMessage((platform::WPARAM{1} << 32) + clientSocket,
                            platform::WSAMAKESELECTREPLY(platform::FD_CLOSE, 0));
    EXPECT_EQ(Lines().size(), lines);
    EXPECT_EQ(engine->ConnectionList(), c);
    // While paused a close event is dropped; a write event is still handled.
    log->SetPaused(true);
    engine->OnSocketMessage(clientSocket, platform::WSAMAKESELECTREPLY(platform::FD_CLOSE, 0));
    EXPECT_EQ(engine->ConnectionCount(), 1);
    engine->OnSocketMessage(clientSocket, platform::WSAMAKESELECTREPLY(platform::FD_WRITE, 0));
    EXPECT_EQ(Lines().size(), lines);
    log->SetPaused(false);
}

TEST_F(RelayConnectTest, HexOnlyConnectionsStartAsHex) {
    engine->HexOnly = 1;
    ASSERT_TRUE(Start("127.0.0.1", serverPort));
    int client = -1;
    int server = -1;
    ASSERT_TRUE(ConnectThrough(client, server));
    EXPECT_EQ(OnlyConnection()->DumpMode, kDumpHex);
}

TEST_F(RelayConnectTest, RefusedServerEndsTheConnectionAndTheCountComesBack) {
    ASSERT_TRUE(Start("127.0.0.1", RefusingPort()));
    const int client = ConnectPeer(engine->LocalPortNumber);
    peers.push_back(client);
    std::string rest;
    ASSERT_TRUE(WaitPeerClosed(client, rest));
    ASSERT_TRUE(WaitFor([&] { return engine->ConnectionCount() == 0 && Lines().size() >= 7; }));
    const Lines_ lines = Lines();
    const std::string n = lines[2].substr(0, lines[2].find(':'));
    EXPECT_EQ(lines, (Lines_{Opened(engine->LocalPortNumber), "Waiting for connections",
                             n + ": " + Connected(client), n + ": Connecting to Server",
                             n + ": Could not connect to Server", n + ": Connection refused",
                             n + ": Disconnected from Client"}));
    EXPECT_EQ(logView.lines[4].second, log::ColourOf(log::LogKind::Inform));
    // The label went up by one and back down.
    std::vector<std::string> conns;
    for (const auto& [counter, text] : relayView.shown) {
        if (counter == Counter::Connections) {
            conns.push_back(text);
        }
    }
    EXPECT_EQ(conns, (std::vector<std::string>{"1", "0"}));
}

TEST_F(RelayConnectTest, SeveralClientsEachGetTheirOwnConnection) {
    ASSERT_TRUE(Start("127.0.0.1", serverPort));
    int clients[3];
    int servers[3];
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(ConnectThrough(clients[i], servers[i]));
    }
    EXPECT_EQ(engine->ConnectionCount(), 3);
    EXPECT_EQ(relayView.Label(Counter::Connections), "3");
    // An event on either socket of each Connection reaches that Connection: the bytes of
    // each Client arrive at its own Server.
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(SendPeer(clients[i], std::string(1, static_cast<char>('a' + i))));
    }
    for (int i = 0; i < 3; ++i) {
        std::string got;
        ASSERT_TRUE(ReceivePeer(servers[i], got, 1));
        EXPECT_EQ(got, std::string(1, static_cast<char>('a' + i)));
        ASSERT_TRUE(SendPeer(servers[i], std::string(1, static_cast<char>('A' + i))));
        got.clear();
        ASSERT_TRUE(ReceivePeer(clients[i], got, 1));
        EXPECT_EQ(got, std::string(1, static_cast<char>('A' + i)));
    }
}

TEST_F(RelayConnectTest, DataBeforeTheConnectCompletesWaitsAndThenGoesOut) {
    StuckServer stuck;
    ASSERT_TRUE(Start("127.0.0.1", stuck.port));
    const int client = ConnectPeer(engine->LocalPortNumber);
    peers.push_back(client);
    ASSERT_TRUE(WaitFor([&] { return engine->ConnectionCount() == 1; }));
    ASSERT_TRUE(SendPeer(client, "early bytes"));
    ASSERT_TRUE(WaitFor([&] { return engine->CSBuffered() == 11; }));
    EXPECT_FALSE(OnlyConnection()->connected);
    EXPECT_EQ(relayView.Label(Counter::CSBuffered), "11");
    EXPECT_TRUE(Consistent());

    const int filler = stuck.Admit();  // room in the queue: the retried connect gets in
    peers.push_back(filler);
    const int server = stuck.Admit(10000);
    peers.push_back(server);
    ASSERT_GE(server, 0);
    std::string got;
    ASSERT_TRUE(ReceivePeer(server, got, 11, 10000));
    EXPECT_EQ(got, "early bytes");
    EXPECT_EQ(engine->CSBuffered(), 0);
    EXPECT_EQ(engine->CSTransferred(), 11);
    EXPECT_EQ(relayView.Label(Counter::CSBuffered), "0");
    EXPECT_EQ(relayView.Label(Counter::CSTransferred), "11");
}

TEST_F(RelayConnectTest, ClientThatLeavesBeforeTheConnectDropsItsBytes) {
    StuckServer stuck;
    ASSERT_TRUE(Start("127.0.0.1", stuck.port));
    const int client = ConnectPeer(engine->LocalPortNumber);
    ASSERT_TRUE(WaitFor([&] { return engine->ConnectionCount() == 1; }));
    const int n = OnlyConnection()->number;
    ASSERT_TRUE(SendPeer(client, "12345"));
    ASSERT_TRUE(WaitFor([&] { return engine->CSBuffered() == 5; }));
    const std::string connected = Connected(client);
    ClosePeer(client);
    ASSERT_TRUE(WaitFor([&] { return engine->ConnectionCount() == 0; }));
    EXPECT_EQ(engine->CSBuffered(), 0);
    EXPECT_EQ(LinesOf(n), (Lines_{connected, "Connecting to Server", "Client disconnected"}));
}

TEST_F(RelayConnectTest, StopClosesNewestFirstAndKeepsTheTransferredCounts) {
    StuckServer stuck;
    ASSERT_TRUE(Start("127.0.0.1", stuck.port));
    // The first Connection takes the one place in the queue and is connected; the second
    // stays connecting.
    const int first = ConnectPeer(engine->LocalPortNumber);
    peers.push_back(first);
    const int admitted = stuck.Admit();
    peers.push_back(admitted);
    ASSERT_TRUE(WaitFor(
        [&] { return engine->ConnectionCount() == 1 && engine->ConnectionList()->connected; }));
    const int older = engine->ConnectionList()->number;
    ASSERT_TRUE(SendPeer(first, "abc"));
    ASSERT_TRUE(WaitFor([&] { return engine->CSTransferred() == 3; }));
    const int second = ConnectPeer(engine->LocalPortNumber);
    peers.push_back(second);
    ASSERT_TRUE(WaitFor([&] { return engine->ConnectionCount() == 2; }));
    const int newer = engine->ConnectionList()->number;
    ASSERT_FALSE(engine->ConnectionList()->connected);
    ASSERT_TRUE(SendPeer(second, "held"));
    ASSERT_TRUE(WaitFor([&] { return engine->CSBuffered() == 4; }));

    const std::size_t before = Lines().size();
    relayView.shown.clear();
    engine->StopRelay();
    Lines_ stop = Lines();
    stop.erase(stop.begin(), stop.begin() + static_cast<std::ptrdiff_t>(before));
    const std::string o = std::to_string(older);
    const std::string w = std::to_string(newer);
    EXPECT_EQ(stop, (Lines_{"Local Port closed", w + ": Disconnected from Client",
                            o + ": Disconnected from Client", o + ": Disconnected from Server"}));
    EXPECT_EQ(
        relayView.shown,
        (std::vector<std::pair<Counter, std::string>>{
            {Counter::Connections, "0"}, {Counter::SCBuffered, "0"}, {Counter::CSBuffered, "0"}}));
    EXPECT_EQ(engine->CSTransferred(), 3);
    EXPECT_EQ(engine->ConnectionCount(), 0);
    EXPECT_EQ(engine->ConnectionList(), nullptr);
    EXPECT_FALSE(engine->Running());
    EXPECT_EQ(relayView.runningStates.back(), false);
    EXPECT_EQ(engine->LocalPortSocket(), platform::INVALID_SOCKET);

    // Messages still queued for the closed sockets find nothing, and a second Stop has
    // nothing to close.
    RunEventLoopFor(20);
    engine->StopRelay();
    Lines_ again = Lines();
    EXPECT_EQ(again.size(), before + 4);
}

TEST_F(RelayConnectTest, SocketMessagesAreDroppedWhileStoppedButTheLocalLookUpIsTaken) {
    // Not running: an accept event for a socket that does not exist does nothing.
    engine->OnSocketMessage(12345, platform::WSAMAKESELECTREPLY(platform::FD_ACCEPT, 0));
    EXPECT_TRUE(Lines().empty());
    ASSERT_TRUE(engine->StartLocalLookup());
    ASSERT_TRUE(WaitFor([&] { return !relayView.localAddress.empty(); }, 15000));
    EXPECT_EQ(engine->LocalLookupRequest(), 0u);
    EXPECT_NE(platform::inet_addr(relayView.localAddress.c_str()), platform::INADDR_NONE_);
    // A failed answer shows the loopback address.
    engine->OnLocalLookup(platform::WSAHOST_NOT_FOUND);
    EXPECT_EQ(relayView.localAddress, "127.0.0.1");
}

}  // namespace
}  // namespace corvane::relay::test
