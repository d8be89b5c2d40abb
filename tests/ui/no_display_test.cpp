// The window program started where there is no display at all, or where the display named
// cannot be opened: the command line is still checked (a usage error reads as everywhere,
// exit code 0), otherwise it says that no window can be shown and ends with 1; it never
// aborts and never touches the settings.
#include <gtest/gtest.h>

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <csignal>
#include <string>

#include "control/command_line.h"
#include "corvane_version.h"

#ifdef CORVANE_PROGRAM

namespace corvane::ui::testing {
namespace {

constexpr int kEndTimeoutMs = 20000;

struct Outcome {
    bool ended = false;
    QProcess::ExitStatus status = QProcess::CrashExit;
    int code = -1;
    std::string out;
    std::string err;
};

class NoDisplayTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dir_.isValid()); }

    QString ConfigHome() const { return dir_.filePath(QStringLiteral("config")); }

    // The environment of a machine without any display, or with DISPLAY set to `display`.
    QProcessEnvironment Environment(const QString& display = {}) const {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char* name :
             {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "XDG_SESSION_TYPE"}) {
            env.remove(QString::fromLatin1(name));
        }
        if (!display.isEmpty()) {
            env.insert(QStringLiteral("DISPLAY"), display);
        }
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), ConfigHome());
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), dir_.path());
        return env;
    }

    Outcome Run(const QStringList& args, const QString& display = {}) {
        QProcess process;
        process.setProcessEnvironment(Environment(display));
        process.start(QStringLiteral(CORVANE_PROGRAM), args);
        Outcome outcome;
        if (!process.waitForStarted(kEndTimeoutMs)) {
            return outcome;
        }
        outcome.ended = process.waitForFinished(kEndTimeoutMs);
        if (!outcome.ended) {
            ::kill(static_cast<pid_t>(process.processId()), SIGKILL);
            process.waitForFinished(5000);
        }
        outcome.status = process.exitStatus();
        outcome.code = process.exitCode();
        outcome.out = process.readAllStandardOutput().toStdString();
        outcome.err = process.readAllStandardError().toStdString();
        return outcome;
    }

    bool NothingStored() const {
        return !QFileInfo::exists(ConfigHome() + QStringLiteral("/Halvard/Corvane.conf"));
    }

    QTemporaryDir dir_;
};

TEST_F(NoDisplayTest, AUsageErrorIsPrintedAndEndsWithZero) {
    for (const QStringList& args :
         {QStringList{QStringLiteral("127.0.0.1"), QStringLiteral("80")},
          QStringList{QStringLiteral("h"), QStringLiteral("1"), QStringLiteral("2"),
                      QStringLiteral("-size"), QStringLiteral("1KB")}}) {
        SCOPED_TRACE(args.join(QLatin1Char(' ')).toStdString());
        const Outcome outcome = Run(args);
        ASSERT_TRUE(outcome.ended);
        EXPECT_EQ(outcome.status, QProcess::NormalExit) << outcome.err;
        EXPECT_EQ(outcome.code, 0) << outcome.err;
        EXPECT_NE(outcome.err.find(std::string(control::kUsageText) + ".\n"), std::string::npos)
            << outcome.err;
        EXPECT_TRUE(NothingStored());
    }
}

TEST_F(NoDisplayTest, VersionAndHelpArePrintedOnStandardOutputAndEndWithZero) {
    const std::pair<QString, std::string> cases[] = {
        {QStringLiteral("--version"), std::string("corvane ") + CORVANE_VERSION + "\n"},
        {QStringLiteral("--help"), control::kHelpText},
    };
    for (const auto& [arg, text] : cases) {
        SCOPED_TRACE(arg.toStdString());
        const Outcome outcome = Run({arg});
        ASSERT_TRUE(outcome.ended);
        EXPECT_EQ(outcome.status, QProcess::NormalExit) << outcome.err;
        EXPECT_EQ(outcome.code, 0) << outcome.err;
        EXPECT_EQ(outcome.out, text);
        EXPECT_EQ(outcome.err, "");
        EXPECT_TRUE(NothingStored());
    }
}

TEST_F(NoDisplayTest, AGoodCommandLineSaysThereIsNoDisplayAndEndsWithOne) {
    // "-style Fusion" is Qt's own option: taken out first, it leaves three good arguments.
    for (const QStringList& args :
         {QStringList{},
          QStringList{QStringLiteral("127.0.0.1"), QStringLiteral("80"), QStringLiteral("0")},
          QStringList{QStringLiteral("-style"), QStringLiteral("Fusion"),
                      QStringLiteral("127.0.0.1"), QStringLiteral("80"), QStringLiteral("0"),
                      QStringLiteral("-auto")}}) {
        SCOPED_TRACE(args.join(QLatin1Char(' ')).toStdString());
        const Outcome outcome = Run(args);
        ASSERT_TRUE(outcome.ended);
        EXPECT_EQ(outcome.status, QProcess::NormalExit) << outcome.err;
        EXPECT_EQ(outcome.code, 1) << outcome.err;
        EXPECT_NE(outcome.err.find("no display is available"), std::string::npos) << outcome.err;
        EXPECT_NE(outcome.err.find("corvane-cli"), std::string::npos) << outcome.err;
        EXPECT_EQ(outcome.err.find("Usage:"), std::string::npos) << outcome.err;
        EXPECT_TRUE(NothingStored());
    }
}

TEST_F(NoDisplayTest, ADisplayThatCannotBeOpenedCountsAsNone) {
    // A display number without an X server's socket.
    int number = 9000;
    while (QFileInfo::exists(QStringLiteral("/tmp/.X11-unix/X%1").arg(number))) {
        ++number;
    }
    const QString display = QStringLiteral(":%1").arg(number);
    const struct {
        QStringList args;
        int code;
        std::string says;
    } cases[] = {
        {{QStringLiteral("127.0.0.1"), QStringLiteral("80")},
         0,
         std::string(control::kUsageText) + ".\n"},
        {{QStringLiteral("127.0.0.1"), QStringLiteral("80"), QStringLiteral("0")},
         1,
         "corvane-cli"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args.join(QLatin1Char(' ')).toStdString());
        const Outcome outcome = Run(c.args, display);
        ASSERT_TRUE(outcome.ended);
        EXPECT_EQ(outcome.status, QProcess::NormalExit) << outcome.err;
        EXPECT_EQ(outcome.code, c.code) << outcome.err;
        EXPECT_NE(outcome.err.find(c.says), std::string::npos) << outcome.err;
        EXPECT_TRUE(NothingStored());
    }
}

TEST_F(NoDisplayTest, APlatformNamedOnTheCommandLineIsUsed) {
    QTcpServer server;
    ASSERT_TRUE(server.listen(QHostAddress(QStringLiteral("127.0.0.1")), 0));
    QTcpServer probe;  // a port that was free a moment ago
    ASSERT_TRUE(probe.listen(QHostAddress(QStringLiteral("127.0.0.1")), 0));
    const quint16 localPort = probe.serverPort();
    probe.close();

    QProcess process;
    process.setProcessEnvironment(Environment());
    process.start(QStringLiteral(CORVANE_PROGRAM),
                  {QStringLiteral("--platform"), QStringLiteral("offscreen"),
                   QStringLiteral("127.0.0.1"), QString::number(server.serverPort()),
                   QString::number(localPort), QStringLiteral("-auto")});
    ASSERT_TRUE(process.waitForStarted(kEndTimeoutMs));
    // The window's automatic start opens the Local Port.
    bool connected = false;
    for (int i = 0; i < 200 && !connected && process.state() == QProcess::Running; ++i) {
        QTcpSocket client;
        client.connectToHost(QHostAddress(QStringLiteral("127.0.0.1")), localPort);
        connected = client.waitForConnected(1000);
        if (!connected) {
            process.waitForFinished(100);
        }
    }
    EXPECT_TRUE(connected) << process.readAllStandardError().toStdString();
    if (process.state() == QProcess::Running) {
        ::kill(static_cast<pid_t>(process.processId()), SIGTERM);
    }
    if (!process.waitForFinished(kEndTimeoutMs)) {
        ::kill(static_cast<pid_t>(process.processId()), SIGKILL);
        process.waitForFinished(5000);
        FAIL() << "the program did not end on SIGTERM";
    }
    const std::string err = process.readAllStandardError().toStdString();
    EXPECT_EQ(process.exitStatus(), QProcess::NormalExit) << err;
    EXPECT_EQ(process.exitCode(), 0) << err;
    EXPECT_EQ(err.find("no display"), std::string::npos) << err;
    EXPECT_FALSE(NothingStored());  // the window's close saved the settings
}

}  // namespace
}  // namespace corvane::ui::testing

#endif  // CORVANE_PROGRAM
