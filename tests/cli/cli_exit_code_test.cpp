// The program's exit codes and what it says on standard error when it cannot relay.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <fstream>
#include <sstream>

#include <QDir>
#include <QTemporaryDir>

#include "app/cli/cli_arguments.h"
#include "cli_process.h"
#include "corvane_version.h"

namespace corvane::cli::test {
namespace {

const std::string kUsage = std::string(kCliUsageText) + "\n";

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

TEST(CliExitCodes, UsageErrorsPrintTheUsageAndExitWithTwo) {
    const std::vector<std::vector<std::string>> wrong = {
        {},
        {"127.0.0.1"},
        {"127.0.0.1", "80"},
        {"127.0.0.1", "80", "0", "-Auto"},
        {"127.0.0.1", "80", "0", "-size", "64KB"},
        {"127.0.0.1", "80", "0", "-detail", "low"},
        {"127.0.0.1", "80", "0", "-file"},
        {"127.0.0.1", "80", "0", "-capture"},
        {"127.0.0.1", "80", "0", "extra"},
        {"--version", "x"},
        {"127.0.0.1", "80", "0", "--help"},
    };
    for (const auto& args : wrong) {
        const CliResult r = RunCli(args);
        ASSERT_TRUE(r.exitCode.has_value());
        EXPECT_EQ(*r.exitCode, kExitUsage) << args.size();
        EXPECT_EQ(r.err, kUsage);
        EXPECT_EQ(r.out, "");
    }
}

TEST(CliExitCodes, VersionAndHelpArePrintedOnStandardOutputAndExitWithZero) {
    const std::pair<std::string, std::string> cases[] = {
        {"--version", std::string("corvane-cli ") + CORVANE_VERSION + "\n"},
        {"--help", kCliHelpText},
    };
    for (const auto& [arg, text] : cases) {
        const CliResult r = RunCli({arg});
        ASSERT_TRUE(r.exitCode.has_value());
        EXPECT_EQ(*r.exitCode, kExitOk) << arg;
        EXPECT_EQ(r.out, text);
        EXPECT_EQ(r.err, "");
    }
}

TEST(CliExitCodes, RejectedStartShowsItsMessageAndExitsWithOne) {
    struct Case {
        std::vector<std::string> args;
        std::string message;
    };
    const std::vector<Case> cases = {
        {{"", "80", "0"}, "Remote Host required.\n"},
        {{"127.0.0.1", "", "0"}, "Remote Port required.\n"},
        {{"127.0.0.1", "0", "0"}, "Remote Port must be a positive integer.\n"},
        {{"127.0.0.1", "abc", "0"}, "Remote Port must be a positive integer.\n"},
        {{"127.0.0.1", "80", "-1"}, "Local Port must be a nonnegative integer.\n"},
        {{"127.0.0.1", "80", "0", "-bind", "localhost"},
         "Listen Address must be an IPv4 or IPv6 address of this computer, or empty.\n"},
        {{"127.0.0.1", "80", "0", "-file", "/nonexistent-dir/x.log"},
         "Could not create log file.\n"},
        {{"127.0.0.1", "80", "0", "-capture", "/nonexistent-dir/x.pcap"},
         "Could not create capture file.\n"},
    };
    for (const Case& c : cases) {
        const CliResult r = RunCli(c.args);
        ASSERT_TRUE(r.exitCode.has_value());
        EXPECT_EQ(*r.exitCode, kExitFailure) << c.message;
        EXPECT_EQ(r.err, c.message);
        EXPECT_EQ(r.out, "") << "nothing was logged: the checks come before the relay";
    }
}

TEST(CliExitCodes, LocalPortInUseIsReportedWithItsSocketErrorAndClosesTheLogFile) {
    TestListener server;
    TestListener busy;
    char path[] = "/tmp/corvane-cli-busy-XXXXXX.htm";
    const int fd = ::mkstemps(path, 4);
    ASSERT_GE(fd, 0);
    ::close(fd);
    const CliResult r = RunCli(
        {"127.0.0.1", std::to_string(server.Port()), std::to_string(busy.Port()), "-file", path});
    ASSERT_TRUE(r.exitCode.has_value());
    EXPECT_EQ(*r.exitCode, kExitFailure);
    EXPECT_EQ(r.err, "Could not open Local Port\nAddress already in use\n");
    EXPECT_EQ(r.out, "Could not open Local Port\nAddress already in use\n");
    const std::string html = ReadFile(path);
    EXPECT_NE(html.find("<span class=\"tserror\">Could not open Local Port<br />\r\n"
                        "Address already in use<br />\r\n</span>\r\n</body>\r\n</html>\r\n"),
              std::string::npos)
        << html;
    std::remove(path);
}

TEST(CliExitCodes, RemoteHostThatCannotBeLookedUpStopsTheRelayWithOne) {
    // ".invalid" never resolves; the answer may still take the resolver a while.
    const CliResult r = RunCli({"no-such-host.invalid", "80", "0"}, 60000);
    ASSERT_TRUE(r.exitCode.has_value());
    EXPECT_EQ(*r.exitCode, kExitFailure);
    ASSERT_EQ(r.out.rfind("Resolving Remote Host\n", 0), 0u) << r.out;
    const std::string error = r.out.substr(std::string("Resolving Remote Host\n").size());
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(r.err, error) << "the failure's socket error text, on standard error too";
    EXPECT_EQ(r.out.find("Stopped by user"), std::string::npos);
}

TEST(CliExitCodes, LocalPortThatCannotBeOpenedAfterTheLookUpStopsTheRelayWithOne) {
    TestListener busy;
    const CliResult r = RunCli({"localhost", "80", std::to_string(busy.Port())}, 60000);
    ASSERT_TRUE(r.exitCode.has_value());
    EXPECT_EQ(*r.exitCode, kExitFailure);
    EXPECT_EQ(r.out,
              "Resolving Remote Host\nRemote Host resolved to 127.0.0.1\n"
              "Could not open Local Port\nAddress already in use\n");
    EXPECT_EQ(r.err, "Could not open Local Port\nAddress already in use\n");
}

TEST(CliExitCodes, SigintAndSighupStopLikeSigterm) {
    for (const int signal : {SIGINT, SIGHUP}) {
        TestListener server;
        CliProcess child({"127.0.0.1", std::to_string(server.Port()), "0", "-detail", "Low"});
        ASSERT_TRUE(child.WaitForOutput("Waiting for connections\n"));
        child.Signal(signal);
        const auto code = child.WaitExit();
        ASSERT_TRUE(code.has_value()) << signal;
        EXPECT_EQ(*code, kExitOk) << signal;
        const auto port = NumberAfter(child.Out(), "Local Port (");
        ASSERT_TRUE(port.has_value());
        EXPECT_EQ(child.Out(), "Local Port (" + std::to_string(*port) +
                                   ") opened\nWaiting for connections\nStopped by user\n"
                                   "Local Port closed\n");
        EXPECT_EQ(child.Err(), "");
    }
}

// After a log rotation tool has moved the Log File away, SIGHUP creates it again by its name
// and the relay goes on; the next SIGHUP, with nothing moved, stops it.
TEST(CliExitCodes, SighupAfterTheLogFileWasMovedReopensItAndGoesOn) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const std::string name = dir.path().toStdString() + "/relay.log";
    TestListener server;
    CliProcess child({"127.0.0.1", std::to_string(server.Port()), "0", "-file", name});
    ASSERT_TRUE(child.WaitForOutput("Waiting for connections\n"));
    ASSERT_EQ(std::rename(name.c_str(), (name + ".1").c_str()), 0);
    child.Signal(SIGHUP);
    ASSERT_TRUE(child.WaitForOutput("Log File " + name + " reopened\n"));
    child.Signal(SIGHUP);
    EXPECT_EQ(child.WaitExit(), std::optional<int>(kExitOk));
    std::ifstream reopened(name, std::ios::binary);
    std::ostringstream text;
    text << reopened.rdbuf();
    EXPECT_EQ(text.str(),
              "Log File " + name + " reopened\r\nStopped by user\r\nLocal Port closed\r\n");
}

}  // namespace
}  // namespace corvane::cli::test

namespace corvane::cli::test {
namespace {

TEST(CliSettings, TheWindowsStoredSettingsAreLeftAlone) {
    QTemporaryDir config;
    ASSERT_TRUE(config.isValid());
    ASSERT_TRUE(QDir(config.path()).mkpath(QStringLiteral("Halvard")));
    const std::string file = config.path().toStdString() + "/Halvard/Corvane.conf";
    const std::string stored = "[General]\nDetail=0\n";
    std::ofstream(file, std::ios::binary) << stored;

    TestListener server;
    ChildOptions options;
    options.env = {{"XDG_CONFIG_HOME", config.path().toStdString()}};
    CliProcess child({"127.0.0.1", std::to_string(server.Port()), "0"}, options);
    ASSERT_TRUE(child.WaitForOutput("Waiting for connections\n"));
    child.Signal(SIGTERM);
    const auto code = child.WaitExit();
    ASSERT_TRUE(code.has_value());
    EXPECT_EQ(*code, kExitOk);
    EXPECT_EQ(ReadFile(file), stored);
    EXPECT_EQ(QDir(config.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot).size(), 1);
    EXPECT_EQ(QDir(config.path() + QStringLiteral("/Halvard"))
                  .entryList(QDir::AllEntries | QDir::NoDotAndDotDot)
                  .size(),
              1);
}

}  // namespace
}  // namespace corvane::cli::test
