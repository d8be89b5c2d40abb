// The terminal front-end's command line: the window's grammar with the three positional
// arguments required. "-auto" is accepted and changes nothing (relaying always starts at
// once); "-size" bounds the text that waits in memory for standard output.
#pragma once

#include <string>
#include <vector>

#include "control/command_line.h"
#include "control/settings.h"

namespace corvane::cli {

inline constexpr const char* kCliUsageText =
    "Usage: corvane-cli <remote host> <remote port> <local port> [-file <log file>] "
    "[-size 32KB|128KB|512KB|2MB|Unlimited] [-detail Low|Medium|High] [-auto] [-hexonly] "
    "[-time] [-bind <address>] [-halfclose] [-capture <file>] [-tls Client|Server|Both] "
    "[-tlscert <file>] [-tlskey <file>] [-tlsverify] [-streams <file>[,<size>]]\n"
    "       corvane-cli -follow <file> [<serial> [up|down]]";

// What "corvane-cli --help" prints: the usage, then a line per switch.
// clang-format off
inline constexpr const char* kCliHelpText =
    "Usage: corvane-cli <remote host> <remote port> <local port> [-file <log file>]\n"
    "                   [-size 32KB|128KB|512KB|2MB|Unlimited] [-detail Low|Medium|High]\n"
    "                   [-auto] [-hexonly] [-time] [-bind <address>] [-halfclose]\n"
    "                   [-capture <file>] [-tls Client|Server|Both] [-tlscert <file>]\n"
    "                   [-tlskey <file>] [-tlsverify] [-streams <file>[,<size>]]\n"
    "       corvane-cli -follow <file> [<serial> [up|down]]\n"
    "Relays a local TCP port to a server at once and logs the traffic on standard output. The\n"
    "remote host is a dotted IPv4 address, an IPv6 address or a name. With -follow, reads a\n"
    "file written with -streams instead: the connections it holds, one connection's\n"
    "conversation as text, or the bytes one way exactly as passed on.\n"
    "\n"
    "  -file <log file>  also write the whole log to this file (an HTML page when the name\n"
    "                    ends in .htm or .html)\n"
    "  -size <size>      the most text kept waiting for standard output: 32KB (default),\n"
    "                    128KB, 512KB, 2MB or Unlimited\n"
    "  -detail <level>   what standard output shows: Low, Medium or High (default)\n"
    "  -auto             accepted as the window takes it; changes nothing\n"
    CORVANE_SHARED_SWITCH_HELP
    "\n"
    "Keys on a terminal: p pause, r resume, z reset the counts, c list the connections,\n"
    "q stop and exit.\n"
    "Exit status: 0 stopped by the user, 1 the relay could not begin or stopped by itself,\n"
    "2 a wrong command line.\n";
// clang-format on

// Exit codes of the program.
constexpr int kExitOk = 0;       // stopped by the user (q, SIGINT, SIGTERM)
constexpr int kExitFailure = 1;  // Start rejected, relay could not begin or stopped itself
constexpr int kExitUsage = 2;    // the command line is wrong

// True when args (the arguments after the program's name) follow the grammar; settings then
// hold the defaults (Buffer Size 32768, Detail High, Hex Only off) with the command line
// applied (every option off unless its switch is given: no streams kept without "-streams").
// Fewer than three arguments is a usage error, unlike the window's empty command line. No
// stored settings are read.
[[nodiscard]] bool ParseCliArguments(const std::vector<std::string>& args,
                                     control::Settings& settings);

}  // namespace corvane::cli
