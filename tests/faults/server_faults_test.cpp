// Servers that misbehave: each case ends its Connection (or the relay) with its exact lines,
// leaves the counters at 0 and every descriptor closed, and never disturbs other Connections.
#include <unistd.h>

#include "fault_support.h"
#include "support/event_loop_wait.h"

namespace corvane::faults {
namespace {

using corvane::test::RunEventLoopFor;
using corvane::test::WaitFor;

class ServerFaultTest : public FaultTest {};

TEST_F(ServerFaultTest, RefusingServerEndsTheConnectionAndTheLogFileHasEveryLine) {
    const std::string logFile = PathOf("refused.log");
    ASSERT_EQ(StartRelay("127.0.0.1", std::to_string(RefusingPort()), logFile),
              control::StartResult::Started);
    const int running = OpenDescriptors();
    const int client = Keep(ConnectPeer(LocalPort()));
    ASSERT_GE(client, 0);
    std::string got;
    bool reset = true;
    ASSERT_TRUE(WaitPeerClosed(client, got, 5000, &reset));
    EXPECT_TRUE(got.empty());
    EXPECT_FALSE(reset);
    ASSERT_TRUE(WaitFor([&] { return control_->Engine().ConnectionCount() == 0; }));
    const int n = LastConnectionNumber();
    EXPECT_EQ(
        ViewLines(),
        (Lines{"Local Port (" + std::to_string(LocalPort()) + ") opened", "Waiting for connections",
               Numbered(n, ClientConnected(client)), Numbered(n, "Connecting to Server"),
               Numbered(n, "Could not connect to Server"), Numbered(n, "Connection refused"),
               Numbered(n, "Disconnected from Client")}));
    ExpectIdleCounters();
    Drop(client);
    EXPECT_EQ(OpenDescriptors(), running) << DescriptorList();

    const Lines shown = ViewLines();
    control_->Stop();
    std::string expected;
    for (const std::string& line : shown) {
        expected += line + "\r\n";
    }
    expected += "Stopped by user\r\nLocal Port closed\r\n";
    EXPECT_EQ(ReadFile(logFile), expected);
    EXPECT_EQ(OpenDescriptors(), running - 2)
        << DescriptorList();  // the Local Port and the Log File
}

TEST_F(ServerFaultTest, ServerClosingMidTransferDeliversAllItSentAndEndsOnlyItsConnection) {
    ASSERT_EQ(StartToServer(), control::StartResult::Started);
    const int running = OpenDescriptors();
    int client = -1;
    int server = -1;
    int n = -1;
    // The Client's window is small, so much of the answer is still held in the relay when
    // the Server has finished and closed.
    ASSERT_TRUE(ConnectThrough(client, server, n, 4096));
    int otherClient = -1;
    int otherServer = -1;
    int other = -1;
    ASSERT_TRUE(ConnectThrough(otherClient, otherServer, other));
    const std::string answer = Pattern(4 << 20, 1);
    ASSERT_TRUE(SendPeer(client, "request"));
    std::string request;
    ASSERT_TRUE(ReceivePeer(server, request, 7));
    ASSERT_TRUE(SendPeer(server, answer, 20000));
    Drop(server);
    std::string got;
    ASSERT_TRUE(WaitPeerClosed(client, got, 30000));
    EXPECT_EQ(got.size(), answer.size());
    EXPECT_TRUE(got == answer);
    ASSERT_TRUE(WaitFor([&] { return control_->Engine().ConnectionCount() == 1; }));
    EXPECT_EQ(LinesOf(n),
              (Lines{ClientConnected(client), "Connecting to Server", "Connected to Server",
                     "Server disconnected", "Disconnected from Client"}));
    EXPECT_EQ(control_->Engine().SCTransferred(), static_cast<std::int32_t>(answer.size()));
    ExpectRelays(otherClient, otherServer);

    Drop(client);
    Drop(otherClient);
    ASSERT_TRUE(WaitFor([&] { return control_->Engine().ConnectionCount() == 0; }));
    ExpectIdleCounters();
    Drop(otherServer);
    EXPECT_EQ(OpenDescriptors(), running) << DescriptorList();
}

TEST_F(ServerFaultTest, ServerResettingMidTransferEndsTheConnectionWithTheResetText) {
    ASSERT_EQ(StartToServer(), control::StartResult::Started);
    const int running = OpenDescriptors();
    int client = -1;
    int server = -1;
    int n = -1;
    // The Client reads nothing yet, so the relay holds part of the answer at the reset.
    ASSERT_TRUE(ConnectThrough(client, server, n, 4096));
    const std::string answer = Pattern(16 << 20, 2);
    SendPeer(server, answer, 2000);
    ASSERT_GT(control_->Engine().SCBuffered(), 0);
    Drop(server, true);
    std::string got;
    ASSERT_TRUE(WaitPeerClosed(client, got, 20000));
    ASSERT_TRUE(WaitFor([&] { return control_->Engine().ConnectionCount() == 0; }));
    // Whatever reached the Client is the start of the answer, unchanged.
    EXPECT_LE(got.size(), answer.size());
    EXPECT_TRUE(answer.compare(0, got.size(), got) == 0);
    EXPECT_EQ(LinesOf(n), (Lines{ClientConnected(client), "Connecting to Server",
                                 "Connected to Server", "Server disconnected",
                                 "Connection reset by peer", "Disconnected from Client"}));
    ExpectIdleCounters();
    Drop(client);
    EXPECT_EQ(OpenDescriptors(), running) << DescriptorList();
}

TEST_F(ServerFaultTest, ServerThatNeverReadsHoldsTheClientBackInBoundedMemory) {
    ASSERT_EQ(StartToServer(), control::StartResult::Started);
    const int running = OpenDescriptors();
    int client = -1;
    int server = -1;
    int n = -1;
    ASSERT_TRUE(ConnectThrough(client, server, n));
    SetReceiveBuffer(server, 4096);
    const std::string flood = Pattern(64 << 20, 3);
    // The flood cannot all go out: the Server takes nothing, the relay stops reading at its
    // mark and the kernel's buffers fill.
    EXPECT_FALSE(SendPeer(client, flood, 3000));
    const std::int32_t held = control_->Engine().CSBuffered();
    EXPECT_GT(held, 0);
    EXPECT_LE(held, 2 * control_->Engine().HighWaterMark);
    RunEventLoopFor(200);
    EXPECT_EQ(control_->Engine().CSBuffered(), held);  // nothing more is taken in meanwhile

    int otherClient = -1;
    int otherServer = -1;
    int other = -1;
    ASSERT_TRUE(ConnectThrough(otherClient, otherServer, other));
    ExpectRelays(otherClient, otherServer);

    const Lines before = ViewLines();
    control_->Stop();
    Lines expected = before;
    expected.emplace_back("Stopped by user");
    expected.emplace_back("Local Port closed");
    for (int number : {other, n}) {
        expected.push_back(Numbered(number, "Disconnected from Client"));
        expected.push_back(Numbered(number, "Disconnected from Server"));
    }
    // Stop drops what waited for the view; the lines it logs itself are still shown.
    EXPECT_EQ(ViewLines(), expected);
    ExpectIdleCounters();
    for (int fd : {client, server, otherClient, otherServer}) {
        Drop(fd);
    }
    // A socket closed while bytes it was sent are still held keeps its descriptor until they
    // are out or its peer is gone, as here.
    EXPECT_TRUE(WaitFor([&] { return OpenDescriptors() == running - 1; }))  // the Local Port
        << DescriptorList();
}

}  // namespace
}  // namespace corvane::faults
