// The command line of the program: three positional texts and five switches, then one switch
// per option ("-time", "-bind", "-halfclose", "-capture", "-tls", "-tlscert", "-tlskey",
// "-tlsverify", "-streams"), applied over the stored settings.
// Pure: no Qt, no output; the caller shows the usage error.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "control/settings.h"

namespace corvane::control {

inline constexpr const char* kUsageText =
    "Usage: CORVANE <remote host> <remote port> <local port> [-file <log file>] "
    "[-size 32KB|128KB|512KB|2MB|Unlimited] [-detail Low|Medium|High] [-auto] [-hexonly] "
    "[-time] [-bind <address>] [-halfclose] [-capture <file>] [-tls Client|Server|Both] "
    "[-tlscert <file>] [-tlskey <file>] [-tlsverify] [-streams <file>[,<size>]]";

// The help lines of the switches that both programs take alike, from -hexonly on: a string
// literal, so that each program's help text is one constant.
#define CORVANE_SHARED_SWITCH_HELP                                                            \
    "  -hexonly          show all relayed data as a hexadecimal dump\n"                       \
    "  -time             begin every message line with the time of its event\n"               \
    "  -bind <address>   open the local port on this address only, one of this machine's\n"   \
    "                    (127.0.0.1 or ::1: this machine only; fe80::1%eth0: a link-local\n"  \
    "                    one with its zone; :: takes IPv4 too); every interface by default\n" \
    "  -halfclose        a peer's close ends only its direction; the other one goes on\n"     \
    "  -capture <file>   also write every relayed stream to this pcap file\n"                 \
    "  -tls <sides>      end TLS on the Client's side (Client), the Server's (Server) or\n"   \
    "                    both (Both), so that the log shows the plain bytes\n"                \
    "  -tlscert <file>   the certificate (PEM) shown to Clients; by default a self-signed\n"  \
    "                    one made in ~/.config/Halvard/\n"                                    \
    "  -tlskey <file>    the private key (PEM) of -tlscert; by default read from its file\n"  \
    "  -tlsverify        check the Server's certificate and name against the system's\n"      \
    "                    trusted certificates; unchecked by default\n"                        \
    "  -streams <file>[,<size>]\n"                                                            \
    "                    keep every byte passed on, per connection, in this file for\n"       \
    "                    -follow; at most <size> (256M by default; K, M, G), the oldest\n"    \
    "                    connections going first\n"                                           \
    "  --help            show this text and exit\n"                                           \
    "  --version         show the version and exit\n"

// What "corvane --help" prints: the usage, then a line per switch.
// clang-format off
inline constexpr const char* kHelpText =
    "Usage: corvane [<remote host> <remote port> <local port>] [-file <log file>]\n"
    "               [-size 32KB|128KB|512KB|2MB|Unlimited] [-detail Low|Medium|High] [-auto]\n"
    "               [-hexonly] [-time] [-bind <address>] [-halfclose] [-capture <file>]\n"
    "               [-tls Client|Server|Both] [-tlscert <file>] [-tlskey <file>] [-tlsverify]\n"
    "               [-streams <file>[,<size>]]\n"
    "Relays a local TCP port to a server and logs the traffic in a window. The remote host is\n"
    "a dotted IPv4 address, an IPv6 address or a name. Without arguments the settings of the\n"
    "last run are used.\n"
    "\n"
    "  -file <log file>  also write the log to this file (an HTML page when the name ends\n"
    "                    in .htm or .html)\n"
    "  -size <size>      the Log Buffer's size: 32KB, 128KB, 512KB, 2MB or Unlimited\n"
    "  -detail <level>   what the Log Buffer shows: Low, Medium or High\n"
    "  -auto             start relaying at once\n"
    CORVANE_SHARED_SWITCH_HELP;
// clang-format on

enum class CommandLineResult { Ok, UsageError };

// "--version" or "--help" as the only argument is answered with a text instead of a run:
// "<program> <version>" and a line feed, or help as it stands. Any other command line,
// these two among other arguments too, gives nullopt and is ParseCommandLine's.
[[nodiscard]] std::optional<std::string> AnswerInfoRequest(const std::vector<std::string>& args,
                                                           std::string_view program,
                                                           std::string_view help);

// Applies args, the arguments AFTER the program's own name, over settings:
//   none: nothing changes;
//   one or two: usage error;
//   three or more: the first three become RemoteHost, RemotePort and LocalPort as they
//   stand (unchecked; Start validates them), then "-file <name>", "-size 32KB|128KB|512KB|
//   2MB|Unlimited", "-detail Low|Medium|High", "-auto" (AutoStart = 1) and "-hexonly"
//   (HexOnly = 1), and the options' "-time" (TimeStamps = 1), "-bind <address>"
//   (ListenAddress, checked by Start), "-halfclose" (HalfClose = 1), "-capture <name>"
//   (CaptureFile), "-tls Client|Server|Both" (Tls = 1, 2 or 3), "-tlscert <name>" (TlsCert),
//   "-tlskey <name>" (TlsKey), "-tlsverify" (TlsVerify = 1) and "-streams <name>[,<size>]"
//   (StreamsFile, KeepStreams: ParseStreamsSize's size, 256 MiB without one), in any order,
//   repeats overriding. Comparisons are exact and
//   case-sensitive; an unknown argument, a bad value or a missing value is a usage error.
// Texts longer than their edit box's limit are cut to it when taken. On a usage error
// settings may have been changed in part; the program ends then anyway.
[[nodiscard]] CommandLineResult ParseCommandLine(const std::vector<std::string>& args,
                                                 Settings& settings);

// A size of "-streams": a whole number of bytes, or of KiB, MiB or GiB with the suffix K, M
// or G (KiB, MiB, GiB too), from 1 MiB to 1 TiB. Nullopt for anything else.
constexpr std::int64_t kMinKeepStreams = 1LL << 20;
constexpr std::int64_t kMaxKeepStreams = 1LL << 40;
[[nodiscard]] std::optional<std::int64_t> ParseStreamsSize(std::string_view text);

}  // namespace corvane::control
