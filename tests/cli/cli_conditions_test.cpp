// Network Conditions in the terminal program: a bad value is a usage error naming its switch,
// and a conditions file changed while the program relays changes the network it gives.
#include <gtest/gtest.h>
#include <sys/socket.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <fstream>

#include <QTemporaryDir>

#include "app/cli/cli_arguments.h"
#include "cli_process.h"

namespace corvane::cli::test {
namespace {

using Clock = std::chrono::steady_clock;

TEST(CliConditions, ABadValueIsAUsageErrorThatNamesItsSwitch) {
    const CliResult r = RunCli({"127.0.0.1", "80", "0", "-latency", "soon"});
    ASSERT_TRUE(r.exitCode.has_value());
    EXPECT_EQ(*r.exitCode, kExitUsage);
    EXPECT_EQ(r.err, std::string("bad value for -latency: soon\n") + kCliUsageText + "\n");
}

// Writes the file whole, under another name first, as a script should.
void WriteConditions(const QString& path, const std::string& text) {
    const std::string next = path.toStdString() + ".new";
    std::ofstream(next, std::ios::binary) << text;
    ASSERT_EQ(std::rename(next.c_str(), path.toLocal8Bit().constData()), 0);
}

// How long one block from the Client takes to reach the Server, in ms.
std::int64_t Trip(int client, int server, const std::string& block) {
    const auto start = Clock::now();
    EXPECT_TRUE(SendAll(client, block));
    EXPECT_EQ(ReceiveUntil(server, block), block);
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

TEST(CliConditions, AConditionsFileChangedWhileRelayingReplacesTheSetOrIsRefusedWithItsLine) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("network.txt"));
    WriteConditions(path, "# to begin with\n-latency up:1\n");
    TestListener server;
    CliProcess child({"127.0.0.1", std::to_string(server.Port()), "0", "-detail", "Low", "-seed",
                      "5", "-conditions", path.toStdString()});
    ASSERT_TRUE(child.WaitForOutput("Waiting for connections\n"));
    EXPECT_NE(child.Out().find("Conditions: -latency up:1 -seed 5\n"), std::string::npos);
    const long localPort = NumberAfter(child.Out(), "Local Port (").value_or(0);
    const int client = ConnectLoopback(static_cast<std::uint16_t>(localPort));
    const int accepted = server.Accept();
    ASSERT_GE(client, 0);
    ASSERT_GE(accepted, 0);
    Trip(client, accepted, "first");

    WriteConditions(path, "-latency up:300\n");
    ASSERT_TRUE(child.WaitForOutput("Conditions now: -latency up:300 -seed 5\n"));
    EXPECT_GE(Trip(client, accepted, "second"), 300);

    WriteConditions(path, "-latency up:300\n-bandwidth fast\n");
    ASSERT_TRUE(child.WaitForOutput("Conditions file " + path.toStdString() +
                                    ", line 2: bad value for -bandwidth: fast; the conditions "
                                    "in force stay\n"));
    EXPECT_GE(Trip(client, accepted, "third"), 300);

    ::close(client);
    ::close(accepted);
    child.Signal(SIGTERM);
    EXPECT_EQ(child.WaitExit(), kExitOk);
}

}  // namespace
}  // namespace corvane::cli::test
