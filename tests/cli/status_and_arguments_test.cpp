// The status line's text and the command line of the terminal program.
#include <gtest/gtest.h>

#include "app/cli/cli_arguments.h"
#include "app/cli/status_line.h"

namespace corvane::cli {
namespace {

// The whole labels where they fit; on a narrower terminal shorter ones, so that every figure
// stays; cut only where not even bare figures fit. (The widths are the terminal's columns
// less the one that the line leaves free.)
TEST(StatusLineText, ShowsTheStateAndTheFiveCountersShorteningLabelsBeforeFigures) {
    const std::array<std::string, 5> counters{"3", "1,234", "56", "7,890,123", "0"};
    const struct {
        int width;
        const char* line;
    } cases[] = {
        {0, "Paused | Connections 3 | C->S 1,234 (buffered 56) | S->C 7,890,123 (buffered 0)"},
        {79, "Paused | Connections 3 | C->S 1,234 (buffered 56) | S->C 7,890,123 (buffered 0)"},
        {65, "Paused | Conn 3 | C->S 1,234 (buf 56) | S->C 7,890,123 (buf 0)"},
        {49, "Paused|Conn 3|C->S 1,234 (56)|S->C 7,890,123 (0)"},
        {35, "Paused|3|1,234 (56)|7,890,123 (0)"},
        {10, "Paused|3|1"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ComposeStatus("Paused", counters, c.width), c.line) << c.width;
    }
}

TEST(StatusLineText, FollowsTheRelayViewAndThePauseState) {
    StatusLine status(-1, false);
    bool told = true;
    status.onRunningState = [&](bool running) { told = running; };
    status.ShowRunningState(true);
    EXPECT_EQ(status.State(), "Started");
    status.ShowPaused(true);
    EXPECT_EQ(status.State(), "Paused");
    status.ShowCounter(relay::Counter::SCBuffered, "4,096");
    EXPECT_EQ(status.Counters()[4], "4,096");
    status.ShowRunningState(false);
    EXPECT_EQ(status.State(), "Stopped");
    EXPECT_FALSE(told);
}

TEST(CliArguments, TheThreePositionalArgumentsAreRequired) {
    control::Settings s;
    EXPECT_FALSE(ParseCliArguments({}, s)) << "unlike the window, no stored settings stand in";
    EXPECT_FALSE(ParseCliArguments({"h"}, s));
    EXPECT_FALSE(ParseCliArguments({"h", "80"}, s));
    EXPECT_TRUE(ParseCliArguments({"h", "80", "8080"}, s));
    EXPECT_EQ(s.RemoteHost, "h");
    EXPECT_EQ(s.RemotePort, "80");
    EXPECT_EQ(s.LocalPort, "8080");
    EXPECT_EQ(s.BufferSize, 32768);
    EXPECT_EQ(s.Detail, 2u);
}

TEST(CliArguments, TakesTheWindowsSwitches) {
    control::Settings s;
    ASSERT_TRUE(ParseCliArguments(
        {"h", "1", "2", "-auto", "-size", "2MB", "-detail", "Medium", "-hexonly", "-file", "x.htm",
         "-time", "-bind", "::1", "-halfclose", "-tls", "Both", "-tlsverify"},
        s));
    EXPECT_EQ(s.Tls, 3u);
    EXPECT_EQ(s.TlsVerify, 1u);
    EXPECT_EQ(s.ListenAddress, "::1");
    EXPECT_EQ(s.HalfClose, 1u);
    EXPECT_EQ(s.BufferSize, 2097152);
    EXPECT_EQ(s.Detail, 1u);
    EXPECT_EQ(s.HexOnly, 1u);
    EXPECT_EQ(s.TimeStamps, 1u);
    EXPECT_EQ(s.LogFile, "x.htm");
    EXPECT_FALSE(ParseCliArguments({"h", "1", "2", "-size", "64KB"}, s));
    EXPECT_FALSE(ParseCliArguments({"h", "1", "2", "-detail"}, s));
}

}  // namespace
}  // namespace corvane::cli
