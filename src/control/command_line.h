// The command line of the program: three positional texts and five switches, then one switch
// per option ("-time", "-capture"), applied over the stored settings. Pure: no Qt, no output;
// the caller shows the usage error.
#pragma once

#include <string>
#include <vector>

#include "control/settings.h"

namespace corvane::control {

inline constexpr const char* kUsageText =
    "Usage: CORVANE <remote host> <remote port> <local port> [-file <log file>] "
    "[-size 32KB|128KB|512KB|2MB|Unlimited] [-detail Low|Medium|High] [-auto] [-hexonly] "
    "[-time] [-capture <file>]";

enum class CommandLineResult { Ok, UsageError };

// Applies args, the arguments AFTER the program's own name, over settings:
//   none: nothing changes;
//   one or two: usage error;
//   three or more: the first three become RemoteHost, RemotePort and LocalPort as they
//   stand (unchecked; Start validates them), then "-file <name>", "-size 32KB|128KB|512KB|
//   2MB|Unlimited", "-detail Low|Medium|High", "-auto" (AutoStart = 1) and "-hexonly"
//   (HexOnly = 1), and the options' "-time" (TimeStamps = 1) and "-capture <name>"
//   (CaptureFile), in any order, repeats overriding. Comparisons are exact and
//   case-sensitive; an unknown argument, a bad value or a missing value is a usage error.
// Texts longer than their edit box's limit are cut to it when taken. On a usage error
// settings may have been changed in part; the program ends then anyway.
[[nodiscard]] CommandLineResult ParseCommandLine(const std::vector<std::string>& args,
                                                 Settings& settings);

}  // namespace corvane::control
