// The program on a terminal: coloured lines, the status line, the keys, NO_COLOR, and the
// terminal's mode given back at the end.
#include <gtest/gtest.h>
#include <termios.h>
#include <unistd.h>

#include "app/cli/cli_arguments.h"
#include "cli_process.h"

namespace corvane::cli::test {
namespace {

ChildOptions OnTerminal(std::vector<std::pair<std::string, std::string>> env = {}) {
    ChildOptions options;
    options.pty = true;
    options.env = std::move(env);
    if (options.env.empty()) {
        options.env.emplace_back("NO_COLOR", "");  // whatever the test's own environment says
    }
    return options;
}

std::string StatusText(const char* state, const char* cs = "0") {
    return std::string(state) + " | Connections 0 | C->S " + cs +
           " (buffered 0) | S->C 0 (buffered 0)";
}

TEST(CliTerminal, LinesAreColouredByKindAndQStopsWithExitCodeZero) {
    TestListener server;
    CliProcess child({"127.0.0.1", std::to_string(server.Port()), "0"}, OnTerminal());
    // The terminal turns each line feed into CR LF.
    ASSERT_TRUE(child.WaitForOutput("\x1b[34mWaiting for connections\x1b[39m\r\n"));
    ASSERT_TRUE(child.WaitForOutput(StatusText("Started")));
    child.Type("q");
    const auto code = child.WaitExit();
    ASSERT_TRUE(code.has_value());
    EXPECT_EQ(*code, kExitOk);
    const std::string& out = child.Out();
    EXPECT_NE(out.find("\x1b[91mStopped by user\x1b[39m\r\n"), std::string::npos) << out;
    EXPECT_NE(out.find("\x1b[34mLocal Port closed\x1b[39m\r\n"), std::string::npos);
    // The last status line stays, on a line of its own.
    EXPECT_NE(out.find(StatusText("Stopped") + "\r\n"), std::string::npos);
}

TEST(CliTerminal, NoColorTurnsTheEscapesOffButKeepsTheStatusLine) {
    TestListener server;
    CliProcess child({"127.0.0.1", std::to_string(server.Port()), "0"},
                     OnTerminal({{"NO_COLOR", "1"}}));
    ASSERT_TRUE(child.WaitForOutput("Waiting for connections\r\n"));
    ASSERT_TRUE(child.WaitForOutput(StatusText("Started")));
    child.Type("q");
    ASSERT_TRUE(child.WaitExit().has_value());
    EXPECT_EQ(child.Out().find("\x1b[3"), std::string::npos);
    EXPECT_EQ(child.Out().find("\x1b[9"), std::string::npos);
}

TEST(CliTerminal, PauseHoldsDataBackUntilResumeAndZResetsTheTransferredCounts) {
    TestListener server;
    CliProcess child({"127.0.0.1", std::to_string(server.Port()), "0", "-detail", "Low"},
                     OnTerminal());
    ASSERT_TRUE(child.WaitForOutput("Waiting for connections"));
    const long port = NumberAfter(child.Out(), "Local Port (").value_or(0);
    const int client = ConnectLoopback(static_cast<std::uint16_t>(port));
    const int accepted = server.Accept();
    ASSERT_GE(client, 0);
    ASSERT_GE(accepted, 0);
    ASSERT_TRUE(child.WaitForOutput("Connected to Server"));

    child.Type("p");
    ASSERT_TRUE(child.WaitForOutput("Paused | Connections 1"));
    ASSERT_TRUE(SendAll(client, "hello"));
    child.Type("r");
    ASSERT_TRUE(child.WaitForOutput("Started | Connections 1"));
    EXPECT_EQ(ReceiveUntil(accepted, "hello"), "hello");
    ASSERT_TRUE(child.WaitForOutput("C->S 5 (buffered 0)"));

    const std::size_t before = child.Out().size();
    child.Type("z");
    ASSERT_TRUE(child.WaitForOutput("Started | Connections 1 | C->S 0 (buffered 0)"));
    EXPECT_NE(child.Out().find("C->S 0", before), std::string::npos);

    ::close(client);
    ::close(accepted);
    child.Type("q");
    const auto code = child.WaitExit();
    ASSERT_TRUE(code.has_value());
    EXPECT_EQ(*code, kExitOk);
}

TEST(CliTerminal, TheTerminalModeIsGivenBackOnSigterm) {
    TestListener server;
    CliProcess child({"127.0.0.1", std::to_string(server.Port()), "0"}, OnTerminal());
    ASSERT_TRUE(child.WaitForOutput(StatusText("Started")));
    // The status line is drawn once the keys are being read: cbreak mode is on now.
    termios during{};
    ASSERT_EQ(::tcgetattr(child.TerminalFd(), &during), 0);
    EXPECT_EQ(during.c_lflag & ICANON, 0u);
    EXPECT_EQ(during.c_lflag & ECHO, 0u);
    child.Signal(SIGTERM);
    termios after{};
    const bool readable = child.WaitForOutput(StatusText("Stopped") + "\r\n") &&
                          ::tcgetattr(child.TerminalFd(), &after) == 0;
    ASSERT_TRUE(readable);
    EXPECT_NE(after.c_lflag & ICANON, 0u);
    EXPECT_NE(after.c_lflag & ECHO, 0u);
    const auto code = child.WaitExit();
    ASSERT_TRUE(code.has_value());
    EXPECT_EQ(*code, kExitOk);
}

}  // namespace
}  // namespace corvane::cli::test
