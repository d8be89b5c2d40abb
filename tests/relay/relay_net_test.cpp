// Network reach: IPv6 Servers and Clients, the Listen Address, and half close.
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <string>
#include <vector>

#include "relay_test_support.h"
#include "support/event_loop_wait.h"

namespace corvane::relay::test {
namespace {

using corvane::test::WaitFor;
using Lines_ = std::vector<std::string>;

bool Contains(const Lines_& lines, const std::string& line) {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

#define SKIP_WITHOUT_IPV6()                                                        \
    if (!HaveIPv6Loopback()) {                                                     \
        GTEST_SKIP() << "this machine has no IPv6 loopback (::1 cannot be bound)"; \
    }

class RelayNetTest : public RelayFixture {
protected:
    // A Client through the relay from the given address, and the Server's side of it.
    bool ConnectFrom(const char* relayAddress, int& client, int& server, int serverFd) {
        client = ConnectPeerTo(relayAddress, engine->LocalPortNumber);
        if (client < 0) {
            return false;
        }
        peers.push_back(client);
        server = AcceptPeer(serverFd);
        if (server < 0) {
            return false;
        }
        peers.push_back(server);
        return WaitFor([&] {
            Connection* c = engine->ConnectionList();
            return c != nullptr && c->connected;
        });
    }
};

// An IPv6 address as the Remote Host is taken without a look-up, like a dotted one.
TEST_F(RelayNetTest, Ipv6ServerByAddress) {
    SKIP_WITHOUT_IPV6();
    std::uint16_t port6 = 0;
    const int listen6 = ListenPeerAt("::1", port6);
    ASSERT_GE(listen6, 0);
    peers.push_back(listen6);
    engine->SetRemoteTexts("::1", std::to_string(port6));
    ASSERT_TRUE(Start("::1", port6));
    const std::string opened =
        "Local Port (" + std::to_string(engine->LocalPortNumber) + ") opened";
    EXPECT_EQ(Lines(), (Lines_{opened, "Waiting for connections"}));
    int client = -1;
    int server = -1;
    ASSERT_TRUE(ConnectFrom("127.0.0.1", client, server, listen6));
    // The rewritten "Host: " line names an IPv6 Server in brackets.
    const std::string rewritten =
        "GET / HTTP/1.0\r\nHost: [::1]:" + std::to_string(port6) + "\r\n\r\n";
    ASSERT_TRUE(SendPeer(client, "GET / HTTP/1.0\r\nHost: example.test\r\n\r\n"));
    std::string got;
    ASSERT_TRUE(ReceivePeer(server, got, rewritten.size()));
    EXPECT_EQ(got, rewritten);
    ASSERT_TRUE(SendPeer(server, "pong"));
    got.clear();
    ASSERT_TRUE(ReceivePeer(client, got, 4));
    EXPECT_EQ(got, "pong");
}

// A name that has only IPv6 addresses is looked up and reached over IPv6.
TEST_F(RelayNetTest, Ipv6ServerByName) {
    SKIP_WITHOUT_IPV6();
    std::string name;
    for (const char* candidate : {"ip6-localhost", "ip6-loopback", "localhost6"}) {
        addrinfo hints{};
        hints.ai_socktype = SOCK_STREAM;
        addrinfo* found = nullptr;
        if (::getaddrinfo(candidate, nullptr, &hints, &found) != 0) {
            continue;
        }
        bool onlyV6 = true;
        for (const addrinfo* a = found; a != nullptr; a = a->ai_next) {
            onlyV6 = onlyV6 && a->ai_family == AF_INET6;
        }
        ::freeaddrinfo(found);
        if (onlyV6) {
            name = candidate;
            break;
        }
    }
    if (name.empty()) {
        GTEST_SKIP() << "no name here resolves to IPv6 addresses only (tried ip6-localhost, "
                        "ip6-loopback, localhost6)";
    }
    std::uint16_t port6 = 0;
    const int listen6 = ListenPeerAt("::1", port6);
    ASSERT_GE(listen6, 0);
    peers.push_back(listen6);
    ASSERT_TRUE(Start(name, port6));
    ASSERT_TRUE(WaitFor([&] { return engine->LocalPortSocket() != platform::INVALID_SOCKET; }));
    EXPECT_TRUE(Contains(Lines(), "Remote Host resolved to ::1"));
    int client = -1;
    int server = -1;
    ASSERT_TRUE(ConnectFrom("127.0.0.1", client, server, listen6));
    ExpectRelays(client, server);
}

// The Local Port takes IPv6 Clients beside IPv4 ones; each is logged in its own form.
TEST_F(RelayNetTest, Ipv6AndIpv4ClientsOnOnePort) {
    SKIP_WITHOUT_IPV6();
    ASSERT_TRUE(Start("127.0.0.1", serverPort));
    for (const char* from : {"::1", "127.0.0.1"}) {
        int client = -1;
        int server = -1;
        ASSERT_TRUE(ConnectFrom(from, client, server, serverListen)) << from;
        ExpectRelays(client, server);
        const std::string port = std::to_string(LocalPortOf(client));
        const std::string expected =
            std::string(from) == "::1" ? "[::1]:" + port : "127.0.0.1:" + port;
        EXPECT_EQ(LinesOf(engine->ConnectionList()->number).front(),
                  "Client connected; " + expected);
    }
}

// With a Listen Address the Local Port takes Clients on that address only; "::" takes IPv4
// Clients too, and says so. A zone is taken with the address.
TEST_F(RelayNetTest, ListenAddressLimitsWhoConnects) {
    struct Case {
        const char* listen;
        const char* from;
        bool reaches;
        bool needsIpv6;
        const char* line;  // after "Local Port (N) opened"
    };
    const Case cases[] = {
        {"", "127.0.0.2", true, false, nullptr},
        {"127.0.0.1", "127.0.0.1", true, false, "Listening on 127.0.0.1 only"},
        {"127.0.0.1", "127.0.0.2", false, false, "Listening on 127.0.0.1 only"},
        {"::1", "::1", true, true, "Listening on ::1 only"},
        {"::1", "127.0.0.1", false, true, "Listening on ::1 only"},
        {"::1%lo", "::1", true, true, "Listening on ::1%lo only"},
        {"::", "127.0.0.1", true, true, "Listening on :: (IPv6 and IPv4)"},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(std::string(k.listen) + " from " + k.from);
        if (k.needsIpv6 && !HaveIPv6Loopback()) {
            continue;  // no IPv6 loopback here
        }
        engine->StopRelay();
        Lines();
        logView.Clear();
        engine->ListenAddress = k.listen;
        ASSERT_TRUE(Start("127.0.0.1", serverPort));
        const std::string opened =
            "Local Port (" + std::to_string(engine->LocalPortNumber) + ") opened";
        const Lines_ expected = k.line == nullptr
                                    ? Lines_{opened, "Waiting for connections"}
                                    : Lines_{opened, k.line, "Waiting for connections"};
        EXPECT_EQ(Lines(), expected);
        const int client = ConnectPeerTo(k.from, engine->LocalPortNumber);
        ASSERT_GE(client, 0);
        peers.push_back(client);
        if (k.reaches) {
            EXPECT_TRUE(WaitFor([&] { return engine->ConnectionCount() == 1; }));
        } else {
            std::string ignored;
            EXPECT_TRUE(WaitPeerClosed(client, ignored)) << "the connect must be refused";
            EXPECT_EQ(engine->ConnectionCount(), 0);
        }
    }
}

// Half close: the Client sends its request and shuts down its sending side; the Server
// reads to the end, answers with several MB and closes. With the option the Client gets the
// whole answer and then the end, also when the relay was paused meanwhile; without it the
// Client's close ends the Connection as it always has.
TEST_F(RelayNetTest, HalfCloseDeliversTheAnswer) {
    struct Case {
        bool halfClose;
        bool pause;
    };
    std::string answer(4 << 20, '\0');
    for (std::size_t i = 0; i < answer.size(); ++i) {
        answer[i] = static_cast<char>(i * 7 + (i >> 12));
    }
    for (const Case k : {Case{true, false}, Case{true, true}, Case{false, false}}) {
        SCOPED_TRACE(std::string(k.halfClose ? "on" : "off") + (k.pause ? ", paused" : ""));
        engine->StopRelay();
        Lines();
        logView.Clear();
        engine->HalfClose = k.halfClose;
        ASSERT_TRUE(Start("127.0.0.1", serverPort));
        int client = -1;
        int server = -1;
        ASSERT_TRUE(ConnectThrough(client, server));
        const int number = engine->ConnectionList()->number;
        if (k.pause) {
            log->SetPaused(true);
        }
        ASSERT_TRUE(SendPeer(client, "GET / HTTP/1.0\r\n\r\n"));
        ASSERT_EQ(::shutdown(client, SHUT_WR), 0);
        if (k.pause) {
            corvane::test::RunEventLoopFor(50);
            log->SetPaused(false);
            engine->ReadAllConnections();
        }
        std::string request;
        ASSERT_TRUE(WaitPeerClosed(server, request)) << "the Server must see the end";
        if (!k.halfClose) {
            EXPECT_TRUE(WaitFor([&] { return engine->ConnectionCount() == 0; }));
            std::string rest;
            EXPECT_TRUE(WaitPeerClosed(client, rest));
            EXPECT_EQ(LinesOf(number),
                      (Lines_{"Client connected; 127.0.0.1:" + std::to_string(LocalPortOf(client)),
                              "Connecting to Server", "Connected to Server", "Client disconnected",
                              "Disconnected from Server"}));
            continue;
        }
        EXPECT_EQ(request, "GET / HTTP/1.0\r\n\r\n");
        EXPECT_EQ(engine->ConnectionCount(), 1);
        std::string got;
        ASSERT_TRUE(Exchange(server, answer, 0, client, got, answer.size()));
        ::close(server);
        peers.erase(std::find(peers.begin(), peers.end(), server));
        ASSERT_TRUE(WaitPeerClosed(client, got, 20000));
        EXPECT_TRUE(got == answer) << "got " << got.size() << " of " << answer.size() << " bytes";
        EXPECT_TRUE(WaitFor([&] { return engine->ConnectionCount() == 0; }));
        const Lines_ lines = LinesOf(number);
        EXPECT_EQ(
            Lines_(lines.begin() + 3, lines.end()),
            (Lines_{"Client finished sending", "Server disconnected", "Disconnected from Client"}));
        EXPECT_TRUE(Consistent());
    }
}

}  // namespace
}  // namespace corvane::relay::test
