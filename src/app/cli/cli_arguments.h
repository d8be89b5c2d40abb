// The terminal front-end's command line: the window's grammar with the three positional
// arguments required. "-auto" is accepted and changes nothing (relaying always starts at
// once); "-size" bounds the text that waits in memory for standard output.
#pragma once

#include <string>
#include <vector>

#include "control/settings.h"

namespace corvane::cli {

inline constexpr const char* kCliUsageText =
    "Usage: corvane-cli <remote host> <remote port> <local port> [-file <log file>] "
    "[-size 32KB|128KB|512KB|2MB|Unlimited] [-detail Low|Medium|High] [-auto] [-hexonly] "
    "[-time] [-capture <file>]";

// Exit codes of the program.
constexpr int kExitOk = 0;       // stopped by the user (q, SIGINT, SIGTERM)
constexpr int kExitFailure = 1;  // Start rejected, relay could not begin or stopped itself
constexpr int kExitUsage = 2;    // the command line is wrong

// True when args (the arguments after the program's name) follow the grammar; settings then
// hold the defaults (Buffer Size 32768, Detail High, Hex Only off) with the command line
// applied (every option off unless its switch is given). Fewer than three arguments is a usage
// error, unlike the window's empty command line. No stored settings are read.
[[nodiscard]] bool ParseCliArguments(const std::vector<std::string>& args,
                                     control::Settings& settings);

}  // namespace corvane::cli
