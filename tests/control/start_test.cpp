// Start on real loopback sockets: every rejection, the ports it takes, the Log File it opens
// and closes, and a Remote Host whose look-up fails.
#include <gtest/gtest.h>
#include <QFileInfo>
#include <fstream>

#include "control_fixture.h"
#include "log/stream_reader.h"
#include "platform/winsock.h"
#include "support/event_loop_wait.h"

namespace corvane::control::test {
namespace {

using relay::Counter;

bool Exists(const std::string& path) {
    return QFileInfo::exists(QString::fromStdString(path));
}

struct StartRejection {
    const char* host;
    const char* remotePort;
    const char* localPort;
    bool logFileInMissingFolder;
    bool captureInMissingFolder;
    const char* message;
    EditBox focus;
};

TEST_F(ControlTest, EveryRejectionShowsItsMessageFocusesItsBoxAndStartsNothing) {
    const StartRejection cases[] = {
        {"", "", "", false, false, "Remote Host required", EditBox::RemoteHost},
        {"127.0.0.1", "", "", false, false, "Remote Port required", EditBox::RemotePort},
        {"127.0.0.1", "0", "", false, false, "Remote Port must be a positive integer",
         EditBox::RemotePort},
        {"127.0.0.1", "-5", "", false, false, "Remote Port must be a positive integer",
         EditBox::RemotePort},
        {"127.0.0.1", "abc", "", false, false, "Remote Port must be a positive integer",
         EditBox::RemotePort},
        {"127.0.0.1", "80", "-1", false, false, "Local Port must be a nonnegative integer",
         EditBox::LocalPort},
        {"127.0.0.1", "80", "", true, false, "Could not create log file", EditBox::LogFile},
        // The Capture File is made before the Log File, which is then never created.
        {"127.0.0.1", "80", "", false, true, "Could not create capture file", EditBox::CaptureFile},
    };
    const std::string goodLog = PathOf("never-created.htm");
    const std::string badLog = PathOf("no-such-folder/x.htm");
    for (const StartRejection& c : cases) {
        SCOPED_TRACE(c.message);
        view_.errors.clear();
        view_.focus.clear();
        SetTexts(c.host, c.remotePort, c.localPort, c.logFileInMissingFolder ? badLog : goodLog);
        control_->SetCaptureFile(c.captureInMissingFolder ? PathOf("no-such-folder/x.pcap") : "");
        EXPECT_EQ(control_->Start(), StartResult::Rejected);
        EXPECT_EQ(view_.errors, std::vector<std::string>{c.message});
        EXPECT_EQ(view_.focus, std::vector<EditBox>{c.focus});
        EXPECT_FALSE(control_->Running());
        EXPECT_EQ(control_->Engine().LocalPortSocket(), platform::INVALID_SOCKET);
        EXPECT_EQ(control_->Engine().RemoteLookupRequest(), 0u);
        EXPECT_FALSE(control_->Log().File().IsOpen());
        EXPECT_FALSE(control_->Log().Capture().IsOpen());
        EXPECT_FALSE(Exists(goodLog));  // the Log File comes last: not opened before
        EXPECT_FALSE(Exists(badLog));
    }
    EXPECT_TRUE(relayView_.runningStates.empty());
    EXPECT_EQ(logView_.clears, 0);  // the view was not emptied either
}

// A name, and an address that is none of this computer's (a documentation address, only
// ever tried in a bind here).
TEST_F(ControlTest, ABadListenAddressRejectsStartWithFocusOnItsBox) {
    for (const char* address : {"localhost", "192.0.2.1"}) {
        SCOPED_TRACE(address);
        view_.errors.clear();
        view_.focus.clear();
        control_->SetListenAddress(address);
        SetTexts("127.0.0.1", "80", "", "");
        EXPECT_EQ(control_->Start(), StartResult::Rejected);
        EXPECT_EQ(view_.errors, std::vector<std::string>{kListenAddressInvalid});
        EXPECT_EQ(view_.focus, std::vector<EditBox>{EditBox::ListenAddress});
        EXPECT_EQ(control_->Engine().LocalPortSocket(), platform::INVALID_SOCKET);
    }
}

// Whatever of our own options refuses Start, the files of the last run keep every byte.
TEST_F(ControlTest, ARefusedStartLeavesTheLogFileAndTheCaptureFileAsTheyWere) {
    const std::string log = PathOf("keep.txt");
    const std::string capture = PathOf("keep.pcap");
    const std::string notPem = PathOf("not.pem");
    std::ofstream(notPem) << "not a certificate\n";
    struct Refusal {
        const char* why;
        std::string captureFile;
        const char* listenAddress;
        const std::string& tlsCert;
        StartResult result;
    };
    const std::string none;
    const Refusal refusals[] = {
        {"capture file", PathOf("no-such-folder/x.pcap"), "", none, StartResult::Rejected},
        {"TLS certificate", capture, "", notPem, StartResult::NotBegun},
        {"listen address", capture, "192.0.2.1", none, StartResult::Rejected},
    };
    for (const Refusal& r : refusals) {
        SCOPED_TRACE(r.why);
        std::ofstream(log, std::ios::binary) << "the earlier run\r\n";
        std::ofstream(capture, std::ios::binary) << "the earlier capture";
        control_->SetCaptureFile(r.captureFile);
        control_->SetListenAddress(r.listenAddress);
        control_->SetTls(r.tlsCert.empty() ? 0 : 1, r.tlsCert, "", false);
        SetTexts("127.0.0.1", "80", "", log);
        EXPECT_EQ(control_->Start(), r.result);
        EXPECT_FALSE(control_->Running());
        EXPECT_EQ(ReadFile(log), "the earlier run\r\n");
        EXPECT_EQ(ReadFile(capture), "the earlier capture");
    }
}

TEST_F(ControlTest, RemotePort70000ReachesPort4464) {
    const int server = ListenPeerOn(4464);
    SetTexts("127.0.0.1", "70000", "");
    ASSERT_EQ(control_->Start(), StartResult::Started);
    EXPECT_EQ(control_->Engine().RemotePortNumber, 4464);
    if (server < 0) {
        GTEST_SKIP() << "127.0.0.1:4464 is taken here; only the stored port number was checked";
    }
    const int client = ConnectedPeer(control_->Engine().LocalPortNumber);
    const int accepted = AcceptPeer(server);
    EXPECT_GE(accepted, 0) << "the relay did not connect to port 4464";
    control_->Stop();
    ClosePeer(accepted);
    ClosePeer(client);
    ClosePeer(server);
}

TEST_F(ControlTest, EmptyOrZeroLocalPortListensOnAPortThePlatformChose) {
    // A Server that takes the connection, so that the Client's Connection stays open.
    std::uint16_t serverPort = 0;
    const int server = ListenPeer(serverPort);
    ASSERT_GE(server, 0);
    for (const char* local : {"", "0"}) {
        SCOPED_TRACE(local);
        const std::string log = PathOf("any-port.txt");
        SetTexts("127.0.0.1", std::to_string(serverPort), local, log);
        ASSERT_EQ(control_->Start(), StartResult::Started);
        const std::uint16_t bound = control_->Engine().LocalPortNumber;
        EXPECT_NE(bound, 0);
        const int client = ConnectedPeer(bound);
        EXPECT_GE(client, 0);
        EXPECT_TRUE(corvane::test::WaitFor([&] { return Shown(Counter::Connections) == "1"; }));
        const int accepted = AcceptPeer(server);
        EXPECT_GE(accepted, 0);
        control_->Stop();
        ClosePeer(accepted);
        ClosePeer(client);
        const std::string text = ReadFile(log);
        EXPECT_NE(text.find("Local Port (" + std::to_string(bound) +
                            ") opened\r\n"
                            "Waiting for connections\r\n"),
                  std::string::npos)
            << text;
    }
    ClosePeer(server);
}

TEST_F(ControlTest, StartEmptiesTheViewOpensTheLogFileAndZeroesTransferred) {
    const std::string log = PathOf("run.htm");
    ASSERT_TRUE(StartWithPeers(log));
    EXPECT_EQ(logView_.clears, 1);
    EXPECT_EQ(relayView_.runningStates, std::vector<bool>{true});
    EXPECT_EQ(Shown(Counter::SCTransferred), "0");
    EXPECT_EQ(Shown(Counter::CSTransferred), "0");
    EXPECT_TRUE(control_->Log().File().IsOpen());
    EXPECT_TRUE(control_->Log().File().IsHtml());

    ASSERT_TRUE(SendPeer(client_, "hello"));
    std::string got;
    EXPECT_TRUE(ReceivePeer(serverEnd_, got, 5));
    EXPECT_EQ(got, "hello");

    control_->Stop();
    EXPECT_EQ(relayView_.runningStates, (std::vector<bool>{true, false}));
    EXPECT_FALSE(control_->Running());
    EXPECT_FALSE(control_->Log().File().IsOpen());
    const std::string html = ReadFile(log);
    EXPECT_EQ(html.rfind("<html>\r\n", 0), 0u);
    EXPECT_NE(html.find("<span class=\"tserror\">Stopped by user<br />\r\n"), std::string::npos)
        << html;
    EXPECT_NE(html.find("Local Port closed<br />"), std::string::npos);
    const std::string end = "</span>\r\n</body>\r\n</html>\r\n";
    ASSERT_GE(html.size(), end.size());
    EXPECT_EQ(html.substr(html.size() - end.size()), end);
}

// The window keeps streams by default, in a store of the run's own in the cache folder that
// stays readable after Stop and goes with the program.
TEST_F(ControlTest, StartKeepsTheStreamsInTheRunsOwnStoreUntilTheProgramEnds) {
    ASSERT_TRUE(StartWithPeers());
    const std::string store = control_->StreamsPath();
    EXPECT_EQ(store.rfind(qEnvironmentVariable("XDG_CACHE_HOME").toStdString() + "/corvane/", 0),
              0u)
        << store;
    EXPECT_EQ(QFileInfo(QString::fromStdString(store)).permissions() & 0x7777,
              QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadUser |
                  QFileDevice::WriteUser);
    ASSERT_TRUE(SendPeer(client_, "hello"));
    std::string got;
    EXPECT_TRUE(ReceivePeer(serverEnd_, got, 5));
    control_->Stop();
    log::StreamReader reader;
    std::string error;
    ASSERT_TRUE(reader.Open(store, error)) << error;
    ASSERT_EQ(reader.Connections().size(), 1u);
    EXPECT_EQ(reader.Connections()[0].toServer, 5);
    control_.reset();
    EXPECT_FALSE(Exists(store));
}

TEST_F(ControlTest, ASecondStartEmptiesTheLogFileTheViewAndTheTransferredCounters) {
    const std::string log = PathOf("again.txt");
    ASSERT_TRUE(StartWithPeers(log));
    ASSERT_TRUE(SendPeer(client_, "first"));
    std::string got;
    ASSERT_TRUE(ReceivePeer(serverEnd_, got, 5));
    control_->Stop();
    ASSERT_EQ(Shown(Counter::CSTransferred), "5");

    ASSERT_EQ(control_->Start(), StartResult::Started);
    EXPECT_EQ(Shown(Counter::CSTransferred), "0");
    EXPECT_EQ(logView_.clears, 2);
    EXPECT_EQ(logView_.text, "");
    control_->Stop();
    const std::string text = ReadFile(log);
    EXPECT_EQ(text.find("first"), std::string::npos) << text;
    EXPECT_EQ(text.find("Stopped by user"), text.rfind("Stopped by user")) << text;
}

TEST_F(ControlTest, ALocalPortInUseStaysStoppedAndLeavesACompleteLogFile) {
    std::uint16_t taken = 0;
    const int blocker = ListenPeer(taken);
    ASSERT_GE(blocker, 0);
    const std::string log = PathOf("failed.htm");
    SetTexts("127.0.0.1", "9", std::to_string(taken), log);
    EXPECT_EQ(control_->Start(), StartResult::NotBegun);
    ClosePeer(blocker);
    EXPECT_TRUE(view_.errors.empty());  // the reasons are in the log, no message box
    EXPECT_TRUE(relayView_.runningStates.empty());
    EXPECT_FALSE(control_->Running());
    EXPECT_FALSE(control_->Log().File().IsOpen());
    const std::string html = ReadFile(log);
    EXPECT_NE(html.find("<span class=\"tserror\">Could not open Local Port<br />\r\n"
                        "Address already in use<br />\r\n</span>\r\n</body>\r\n</html>\r\n"),
              std::string::npos)
        << html;
}

TEST_F(ControlTest, ANameThatCannotBeLookedUpShowsStartedUntilTheAnswerThenStopped) {
    const std::string log = PathOf("lookup.txt");
    // An empty label: rejected by the resolver itself, so no query leaves the machine.
    SetTexts("no..such..host", "80", "0", log);
    ASSERT_EQ(control_->Start(), StartResult::Started);
    EXPECT_TRUE(control_->Running());
    EXPECT_EQ(relayView_.runningStates, std::vector<bool>{true});
    EXPECT_NE(control_->Engine().RemoteLookupRequest(), 0u);
    EXPECT_EQ(control_->Engine().LocalPortSocket(), platform::INVALID_SOCKET);

    ASSERT_TRUE(corvane::test::WaitFor([&] { return !control_->Running(); }, 20000));
    EXPECT_EQ(relayView_.runningStates, (std::vector<bool>{true, false}));
    EXPECT_FALSE(control_->Log().File().IsOpen());
    const std::string text = ReadFile(log);
    EXPECT_EQ(text.rfind("Resolving Remote Host\r\n", 0), 0u) << text;
    EXPECT_EQ(text.find("Local Port"), std::string::npos) << "the Local Port was never opened";
    EXPECT_TRUE(text.find("Host not found") != std::string::npos ||
                text.find("Valid name, no data record") != std::string::npos ||
                text.find("Non-recoverable") != std::string::npos)
        << text;
}

}  // namespace
}  // namespace corvane::control::test
