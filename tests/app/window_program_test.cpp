// The window program as a user's script runs it: started with "-auto" and a Log File under
// the offscreen platform, relaying a Client's bytes to a Server, ended with SIGTERM.
#include <gtest/gtest.h>
#include <QFileInfo>
#include <QProcess>
#include <QProcessEnvironment>
#include <QSettings>
#include <QTemporaryDir>
#include <csignal>

#include "control/command_line.h"
#include "control_support.h"
#include "support/event_loop_wait.h"

namespace corvane::control::test {
namespace {

constexpr int kStartTimeoutMs = 20000;

// A port that was free a moment ago (bound to 0, then released).
std::uint16_t FreePort() {
    std::uint16_t port = 0;
    ClosePeer(ListenPeer(port));
    return port;
}

class WindowProgramTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir_.isValid());
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), ConfigHome());
        process_.setProcessEnvironment(env);
        process_.setProgram(QStringLiteral(CORVANE_PROGRAM));
    }
    void TearDown() override {
        if (process_.state() != QProcess::NotRunning) {
            ::kill(static_cast<pid_t>(process_.processId()), SIGKILL);
            process_.waitForFinished(5000);
        }
    }
    QString ConfigHome() const { return dir_.path() + QStringLiteral("/config"); }
    QString StoreFile() const { return ConfigHome() + QStringLiteral("/Halvard/Corvane.conf"); }
    void Start(const std::vector<std::string>& args) {
        QStringList list;
        for (const std::string& a : args) {
            list << QString::fromStdString(a);
        }
        process_.setArguments(list);
        process_.start();
        ASSERT_TRUE(process_.waitForStarted(kStartTimeoutMs));
    }
    // Terminates the program by its pid and waits for it to end on its own.
    bool TerminateAndWait() {
        ::kill(static_cast<pid_t>(process_.processId()), SIGTERM);
        return process_.waitForFinished(kStartTimeoutMs);
    }

    QTemporaryDir dir_;
    QProcess process_;
};

TEST_F(WindowProgramTest, AutoStartRelaysAndSigtermLeavesACompleteLogAndTheSettings) {
    std::uint16_t serverPort = 0;
    const int server = ListenPeer(serverPort);
    ASSERT_GE(server, 0);
    const std::uint16_t localPort = FreePort();
    const std::string log = (dir_.path() + QStringLiteral("/x.htm")).toStdString();
    Start({"127.0.0.1", std::to_string(serverPort), std::to_string(localPort), "-auto", "-file",
           log, "-detail", "Medium"});

    // The relay listens once the window's first idle moment has run the automatic start.
    int client = -1;
    ASSERT_TRUE(corvane::test::WaitFor(
        [&] {
            client = ConnectedPeer(localPort);
            return client >= 0 || process_.state() == QProcess::NotRunning;
        },
        kStartTimeoutMs));
    ASSERT_GE(client, 0) << process_.readAllStandardError().toStdString();
    const int serverEnd = AcceptPeer(server, kStartTimeoutMs);
    ASSERT_GE(serverEnd, 0);

    const std::string request = "hello <relay>\r\n";
    ASSERT_TRUE(SendPeer(client, request));
    std::string atServer;
    ASSERT_TRUE(ReceivePeer(serverEnd, atServer, request.size(), kStartTimeoutMs));
    EXPECT_EQ(atServer, request);
    ASSERT_TRUE(SendPeer(serverEnd, "answer\r\n"));
    std::string atClient;
    ASSERT_TRUE(ReceivePeer(client, atClient, 8, kStartTimeoutMs));
    EXPECT_EQ(atClient, "answer\r\n");

    ASSERT_TRUE(TerminateAndWait());
    EXPECT_EQ(process_.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(process_.exitCode(), 0);
    ClosePeer(client);
    ClosePeer(serverEnd);
    ClosePeer(server);

    const std::string html = ReadFile(log);
    EXPECT_EQ(html.rfind("<html>\r\n<head>\r\n", 0), 0u) << html;
    EXPECT_NE(html.find("<span class=\"tsmsg\">Local Port (" + std::to_string(localPort) +
                        ") opened<br />\r\nWaiting for connections<br />\r\n"),
              std::string::npos)
        << html;
    EXPECT_NE(html.find(": Client to Server (15 bytes)<br />\r\n</span><span class=\"tsdata\">"
                        "hello &lt;relay&gt;<br />\r\n"),
              std::string::npos)
        << html;
    EXPECT_NE(html.find("answer<br />\r\n"), std::string::npos) << html;
    EXPECT_NE(html.find("</span><span class=\"tserror\">Stopped by user<br />\r\n"
                        "</span><span class=\"tsmsg\">Local Port closed<br />\r\n"),
              std::string::npos)
        << html;
    const std::string end = "Disconnected from Server<br />\r\n</span>\r\n</body>\r\n</html>\r\n";
    ASSERT_GE(html.size(), end.size());
    EXPECT_EQ(html.substr(html.size() - end.size()), end) << html;

    QSettings stored(StoreFile(), QSettings::IniFormat);
    EXPECT_EQ(stored.value(QStringLiteral("Remote Host")).toString(), QStringLiteral("127.0.0.1"));
    EXPECT_EQ(stored.value(QStringLiteral("Remote Port")).toString(), QString::number(serverPort));
    EXPECT_EQ(stored.value(QStringLiteral("Local Port")).toString(), QString::number(localPort));
    EXPECT_EQ(stored.value(QStringLiteral("Log File")).toString(), QString::fromStdString(log));
    EXPECT_EQ(stored.value(QStringLiteral("Detail")).toInt(), 1);
    EXPECT_EQ(stored.value(QStringLiteral("Buffer Size")).toInt(), 32768);
}

TEST_F(WindowProgramTest, QtsOwnOptionsAreTakenFirstAndSigintClosesLikeSigterm) {
    QProcessEnvironment env = process_.processEnvironment();
    env.remove(QStringLiteral("QT_QPA_PLATFORM"));
    process_.setProcessEnvironment(env);
    std::uint16_t serverPort = 0;
    const int server = ListenPeer(serverPort);
    const std::uint16_t localPort = FreePort();
    Start({"-platform", "offscreen", "127.0.0.1", std::to_string(serverPort),
           std::to_string(localPort), "-auto"});
    int client = -1;
    ASSERT_TRUE(corvane::test::WaitFor(
        [&] {
            client = ConnectedPeer(localPort);
            return client >= 0 || process_.state() == QProcess::NotRunning;
        },
        kStartTimeoutMs));
    ASSERT_GE(client, 0) << process_.readAllStandardError().toStdString();
    ::kill(static_cast<pid_t>(process_.processId()), SIGINT);
    ASSERT_TRUE(process_.waitForFinished(kStartTimeoutMs));
    EXPECT_EQ(process_.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(process_.exitCode(), 0);
    ClosePeer(client);
    ClosePeer(server);
    QSettings stored(StoreFile(), QSettings::IniFormat);
    EXPECT_EQ(stored.value(QStringLiteral("Local Port")).toString(), QString::number(localPort));
}

TEST_F(WindowProgramTest, AUsageErrorIsPrintedAndNothingIsStored) {
    Start({"127.0.0.1", "80"});
    // The text goes to standard error before the message box, which waits for its OK.
    const std::string expected = std::string(kUsageText) + ".";
    std::string err;
    EXPECT_TRUE(corvane::test::WaitFor(
        [&] {
            err += process_.readAllStandardError().toStdString();
            return err.find(expected) != std::string::npos ||
                   process_.state() == QProcess::NotRunning;
        },
        kStartTimeoutMs));
    EXPECT_NE(err.find(expected), std::string::npos) << err;
    EXPECT_FALSE(QFileInfo::exists(StoreFile()));
}

}  // namespace
}  // namespace corvane::control::test
