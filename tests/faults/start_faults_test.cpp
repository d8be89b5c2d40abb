// Faults met at Start or around it: a Log File that cannot be written or created, and a
// Remote Host that does not resolve.
#include <QFile>

#include "fault_support.h"
#include "support/event_loop_wait.h"

namespace corvane::faults {
namespace {

using corvane::test::WaitFor;

class StartFaultTest : public FaultTest {};

TEST_F(StartFaultTest, LogFileOnAFullDeviceLeavesRelayingAndTheLogBufferGoingUnreported) {
    // Every write to /dev/full fails with "No space left on device".
    ASSERT_EQ(StartToServer("/dev/full"), control::StartResult::Started);
    EXPECT_TRUE(control_->Log().File().IsOpen());
    int client = -1;
    int server = -1;
    int n = -1;
    ASSERT_TRUE(ConnectThrough(client, server, n));
    // Enough to fill the Log File's buffer many times over.
    const std::string bytes = Pattern(1 << 20, 5);
    std::string got;
    ASSERT_TRUE(SendPeer(client, bytes, 20000));
    ASSERT_TRUE(ReceivePeer(server, got, bytes.size(), 20000));
    EXPECT_TRUE(got == bytes);
    got.clear();
    ASSERT_TRUE(SendPeer(server, bytes, 20000));
    ASSERT_TRUE(ReceivePeer(client, got, bytes.size(), 20000));
    EXPECT_TRUE(got == bytes);
    const std::string connected = ClientConnected(client);
    Drop(client);
    ASSERT_TRUE(WaitFor([&] { return control_->Engine().ConnectionCount() == 0; }));
    EXPECT_EQ(LinesOf(n), (Lines{connected, "Connecting to Server", "Connected to Server",
                                 "Client disconnected", "Disconnected from Server"}));
    control_->Stop();
    const Lines lines = ViewLines();
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ((Lines{lines.end() - 2, lines.end()}),
              (Lines{"Stopped by user", "Local Port closed"}));
    EXPECT_TRUE(view_.errors.empty());
    EXPECT_FALSE(control_->Log().File().IsOpen());
    ExpectIdleCounters();
}

TEST_F(StartFaultTest, LogFileThatCannotBeCreatedRejectsStartEvenForRoot) {
    // Permissions do not stop root, so the folders here fail for everyone: a "folder" that
    // is a regular file, and a folder of the kernel's where no file can be made.
    const std::string plain = PathOf("plain");
    {
        QFile file(QString::fromStdString(plain));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    }
    const int before = OpenDescriptors();
    for (const std::string& path : {plain + "/corvane.log", std::string("/proc/self/corvane.log"),
                                    PathOf("missing/corvane.htm")}) {
        SCOPED_TRACE(path);
        view_.errors.clear();
        view_.focus.clear();
        EXPECT_EQ(StartToServer(path), control::StartResult::Rejected);
        EXPECT_EQ(view_.errors, (std::vector<std::string>{"Could not create log file"}));
        EXPECT_EQ(view_.focus, (std::vector<control::EditBox>{control::EditBox::LogFile}));
        EXPECT_FALSE(control_->Running());
        EXPECT_FALSE(control_->Log().File().IsOpen());
        EXPECT_EQ(control_->Engine().LocalPortSocket(), platform::INVALID_SOCKET);
        EXPECT_TRUE(ViewLines().empty());
    }
    EXPECT_TRUE(relayView_.states.empty());
    EXPECT_EQ(OpenDescriptors(), before) << DescriptorList();
}

TEST_F(StartFaultTest, RemoteHostThatDoesNotResolveStopsTheRelayWithItsTextInTheLogFile) {
    const std::string logFile = PathOf("lookup.log");
    // The .invalid domain never resolves.
    ASSERT_EQ(StartRelay("no-such-host.invalid", "80", logFile), control::StartResult::Started);
    EXPECT_TRUE(control_->Running());
    EXPECT_EQ(control_->Engine().LocalPortSocket(), platform::INVALID_SOCKET);
    ASSERT_TRUE(WaitFor([&] { return !control_->Running(); }, 20000));
    EXPECT_EQ(ViewLines(), (Lines{"Resolving Remote Host", "Host not found"}));
    EXPECT_EQ(relayView_.states, (std::vector<bool>{true, false}));
    EXPECT_EQ(control_->Engine().LocalPortSocket(), platform::INVALID_SOCKET);
    EXPECT_FALSE(control_->Log().File().IsOpen());
    EXPECT_EQ(ReadFile(logFile), "Resolving Remote Host\r\nHost not found\r\n");
    EXPECT_TRUE(view_.errors.empty());
    ExpectIdleCounters();
}

}  // namespace
}  // namespace corvane::faults
