// Clients that misbehave, and a process that runs out of descriptors: the relay holds back
// what it cannot deliver in bounded memory, reports what failed, and recovers.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "fault_support.h"
#include "support/event_loop_wait.h"

namespace corvane::faults {
namespace {

using corvane::test::RunEventLoopFor;
using corvane::test::WaitFor;

class ClientFaultTest : public FaultTest {
protected:
    // The sanitizers check a type on its first use in a way that needs a descriptor of its
    // own (and report a bad object when none is left); one whole Connection, shown in the
    // view, before the limit is lowered makes those first uses.
    void WarmUp() {
        int client = -1;
        int server = -1;
        int n = -1;
        ASSERT_TRUE(ConnectThrough(client, server, n));
        ExpectRelays(client, server);
        Drop(client);
        Drop(server);
        ASSERT_TRUE(
            corvane::test::WaitFor([&] { return control_->Engine().ConnectionCount() == 0; }));
        corvane::test::RunEventLoopFor(250);  // a LogTimer tick moves a run into the view
        ViewLines();
        logView_.text.clear();
    }
};

// Lowers the soft descriptor limit so that only `spare` more descriptors can be made, and
// puts the old limit back when it goes (a failed assertion must not leave it lowered).
class DescriptorLimit {
public:
    explicit DescriptorLimit(int spare) {
        ::getrlimit(RLIMIT_NOFILE, &original_);
        const int lowestFree = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
        ::close(lowestFree);
        rlimit lowered = original_;
        lowered.rlim_cur = static_cast<rlim_t>(lowestFree + spare);
        ok_ = ::setrlimit(RLIMIT_NOFILE, &lowered) == 0;
    }
    ~DescriptorLimit() { Restore(); }
    DescriptorLimit(const DescriptorLimit&) = delete;
    DescriptorLimit& operator=(const DescriptorLimit&) = delete;

    bool Ok() const { return ok_; }
    void Restore() {
        if (ok_) {
            ::setrlimit(RLIMIT_NOFILE, &original_);
            ok_ = false;
        }
    }

private:
    rlimit original_{};
    bool ok_ = false;
};

// Makes a socket before the limit is lowered, for a Client that connects while it holds.
int NewSocket() {
    return ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
}

bool ConnectLater(int fd, std::uint16_t port) {
    sockaddr_in sin{};
    sin.sin_family = AF_INET;
    sin.sin_port = htons(port);
    sin.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return ::connect(fd, reinterpret_cast<sockaddr*>(&sin), sizeof sin) == 0 ||
           errno == EINPROGRESS;
}

bool HasLine(const Lines& lines, const std::string& line) {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

TEST_F(ClientFaultTest, ClientThatNeverReadsHoldsTheServerBackInBoundedMemory) {
    ASSERT_EQ(StartToServer(), control::StartResult::Started);
    const int running = OpenDescriptors();
    int client = -1;
    int server = -1;
    int n = -1;
    ASSERT_TRUE(ConnectThrough(client, server, n, 4096));
    const std::string flood = Pattern(64 << 20, 4);
    EXPECT_FALSE(SendPeer(server, flood, 3000));
    const std::int32_t held = control_->Engine().SCBuffered();
    EXPECT_GT(held, 0);
    EXPECT_LE(held, 2 * control_->Engine().HighWaterMark);
    RunEventLoopFor(200);
    EXPECT_EQ(control_->Engine().SCBuffered(), held);

    int otherClient = -1;
    int otherServer = -1;
    int other = -1;
    ASSERT_TRUE(ConnectThrough(otherClient, otherServer, other));
    ExpectRelays(otherClient, otherServer);

    // The Client goes away without reading (its unread bytes make the close a reset): the
    // Server's side ends too, and nothing held for the Client is left.
    const std::string connected = ClientConnected(client);
    Drop(client);
    std::string rest;
    ASSERT_TRUE(WaitPeerClosed(server, rest, 10000));
    ASSERT_TRUE(WaitFor([&] { return control_->Engine().ConnectionCount() == 1; }));
    EXPECT_EQ(control_->Engine().SCBuffered(), 0);
    const Lines lines = LinesOf(n);
    ASSERT_EQ(lines.size(), 6u);
    EXPECT_EQ((Lines{lines.begin(), lines.begin() + 3}),
              (Lines{connected, "Connecting to Server", "Connected to Server"}));
    // The reset is met by the next send to the Client or by the read of its close.
    EXPECT_TRUE(lines[3] == "Could not send data to Client" || lines[3] == "Client disconnected")
        << lines[3];
    EXPECT_EQ((Lines{lines.begin() + 4, lines.end()}),
              (Lines{"Connection reset by peer", "Disconnected from Server"}));
    Drop(server);
    Drop(otherClient);
    Drop(otherServer);
    ASSERT_TRUE(WaitFor([&] { return control_->Engine().ConnectionCount() == 0; }));
    ExpectIdleCounters();
    EXPECT_EQ(OpenDescriptors(), running) << DescriptorList();
}

TEST_F(ClientFaultTest, NoDescriptorForAcceptingHoldsClientsBackUntilOneIsFree) {
    ASSERT_EQ(StartToServer(), control::StartResult::Started);
    WarmUp();
    const int running = OpenDescriptors();
    const int waiting = Keep(NewSocket());
    ASSERT_GE(waiting, 0);
    {
        DescriptorLimit limit(0);
        ASSERT_TRUE(limit.Ok());
        ASSERT_TRUE(ConnectLater(waiting, LocalPort()));
        ASSERT_TRUE(WaitFor([&] { return HasLine(ViewLines(), "Too many open files"); }));
        RunEventLoopFor(200);  // the retries while the limit holds log nothing more
        EXPECT_EQ(ViewLines(),
                  (Lines{"Could not accept connection from Client", "Too many open files"}));
        EXPECT_EQ(control_->Engine().ConnectionCount(), 0);
    }
    // With descriptors free again the waiting Client is served.
    const int server = Keep(AcceptPeer(serverListen_, 10000));
    ASSERT_GE(server, 0);
    ASSERT_TRUE(WaitFor([&] { return control_->Engine().ConnectionCount() == 1; }));
    ExpectRelays(waiting, server);
    const int n = LastConnectionNumber();
    EXPECT_EQ(LinesOf(n),
              (Lines{ClientConnected(waiting), "Connecting to Server", "Connected to Server"}));
    Drop(waiting);
    Drop(server);
    ASSERT_TRUE(WaitFor([&] { return control_->Engine().ConnectionCount() == 0; }));
    ExpectIdleCounters();
    EXPECT_EQ(OpenDescriptors(), running) << DescriptorList();
}

TEST_F(ClientFaultTest, NoDescriptorForTheServerSideEndsThatClientOnly) {
    ASSERT_EQ(StartToServer(), control::StartResult::Started);
    const int running = OpenDescriptors();
    int client = -1;
    int server = -1;
    int first = -1;
    ASSERT_TRUE(ConnectThrough(client, server, first));
    const int late = Keep(NewSocket());
    ASSERT_GE(late, 0);
    int n = -1;
    {
        // One descriptor left: the accept takes it and the socket to the Server cannot be made.
        DescriptorLimit limit(1);
        ASSERT_TRUE(limit.Ok());
        ASSERT_TRUE(ConnectLater(late, LocalPort()));
        std::string got;
        bool reset = false;
        ASSERT_TRUE(WaitPeerClosed(late, got, 5000, &reset));
        n = LastConnectionNumber();
        ASSERT_NE(n, first);
    }
    EXPECT_EQ(LinesOf(n), (Lines{ClientConnected(late), "Connecting to Server",
                                 "Too many open files", "Disconnected from Client"}));
    EXPECT_EQ(control_->Engine().ConnectionCount(), 1);
    ExpectRelays(client, server);
    Drop(late);
    Drop(client);
    Drop(server);
    ASSERT_TRUE(WaitFor([&] { return control_->Engine().ConnectionCount() == 0; }));
    ExpectIdleCounters();
    EXPECT_EQ(OpenDescriptors(), running) << DescriptorList();
}

TEST_F(ClientFaultTest, NoDescriptorForTheServerSideHoldsAcceptingBackAsAFailedAcceptDoes) {
    ASSERT_EQ(StartToServer(), control::StartResult::Started);
    WarmUp();
    const int running = OpenDescriptors();
    const int dropped = Keep(NewSocket());
    const int waiting = Keep(NewSocket());
    ASSERT_GE(waiting, 0);
    int n = -1;
    {
        DescriptorLimit limit(1);
        ASSERT_TRUE(limit.Ok());
        ASSERT_TRUE(ConnectLater(dropped, LocalPort()));
        std::string got;
        ASSERT_TRUE(WaitPeerClosed(dropped, got));
        n = LastConnectionNumber();
        // The shortage goes on (even accept fails now): its episode has been logged already.
        DescriptorLimit none(0);
        ASSERT_TRUE(none.Ok());
        ASSERT_TRUE(ConnectLater(waiting, LocalPort()));
        RunEventLoopFor(200);
        EXPECT_EQ(
            ViewLines(),
            (Lines{Numbered(n, ClientConnected(dropped)), Numbered(n, "Connecting to Server"),
                   Numbered(n, "Too many open files"), Numbered(n, "Disconnected from Client")}));
        EXPECT_EQ(control_->Engine().ConnectionCount(), 0);
    }
    const int server = Keep(AcceptPeer(serverListen_, 10000));
    ASSERT_GE(server, 0);
    ASSERT_TRUE(WaitFor([&] { return control_->Engine().ConnectionCount() == 1; }));
    ExpectRelays(waiting, server);
    Drop(waiting);
    Drop(server);
    ASSERT_TRUE(WaitFor([&] { return control_->Engine().ConnectionCount() == 0; }));
    ExpectIdleCounters();
    Drop(dropped);
    EXPECT_EQ(OpenDescriptors(), running) << DescriptorList();
}

TEST_F(ClientFaultTest, StopWhileAcceptingIsHeldBackThenStartAcceptsAgain) {
    ASSERT_EQ(StartToServer(), control::StartResult::Started);
    WarmUp();
    const int waiting = Keep(NewSocket());
    ASSERT_GE(waiting, 0);
    {
        DescriptorLimit limit(0);
        ASSERT_TRUE(limit.Ok());
        ASSERT_TRUE(ConnectLater(waiting, LocalPort()));
        ASSERT_TRUE(WaitFor([&] { return HasLine(ViewLines(), "Too many open files"); }));
        control_->Stop();
    }
    ASSERT_EQ(StartToServer(), control::StartResult::Started);
    int client = -1;
    int server = -1;
    int n = -1;
    ASSERT_TRUE(ConnectThrough(client, server, n));
    ExpectRelays(client, server);
    Drop(client);
    Drop(server);
    ASSERT_TRUE(WaitFor([&] { return control_->Engine().ConnectionCount() == 0; }));
    ExpectIdleCounters();
}

}  // namespace
}  // namespace corvane::faults
