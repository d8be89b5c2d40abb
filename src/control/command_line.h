// The command line of the program: three positional texts and five switches, then one switch
// per option ("-time", "-bind", "-halfclose", "-capture", "-tls", "-tlscert", "-tlskey",
// "-tlsverify", "-streams", "-rotate", "-parts") and the Network Conditions' switches
// ("-latency" ... "-seed", relay/conditions/conditions_text.h), applied over the stored
// settings.
// Pure: no Qt, no output; the caller shows the usage error.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "control/settings.h"

namespace corvane::control {

// The Network Conditions' switches in the usage texts, after the options'.
#define CORVANE_CONDITIONS_USAGE                                                             \
    "[-latency [up:|down:]MS[,JITTER]] [-bandwidth [up:|down:]RATE] "                        \
    "[-slice [up:|down:]SIZE[,VARIATION[,PAUSE]]] [-loss [up:|down:]PERCENT] "               \
    "[-limit [up:|down:]BYTES[,reset]] [-connectdelay MS] [-endafter MS[,reset]] "           \
    "[-stall MS[,END[,reset]]] [-slowclose MS] [-refuse close|reset|hold] [-share PERCENT] " \
    "[-seed N]"

inline constexpr const char* kUsageText =
    "Usage: CORVANE <remote host> <remote port> <local port> [-file <log file>] "
    "[-size 32KB|128KB|512KB|2MB|Unlimited] [-detail Low|Medium|High] [-auto] [-hexonly] "
    "[-time] [-bind <address>] [-halfclose] [-capture <file>] [-tls Client|Server|Both] "
    "[-tlscert <file>] [-tlskey <file>] [-tlsverify] [-streams <file>[,<size>]] "
    "[-rotate <rule>] [-parts <count>] " CORVANE_CONDITIONS_USAGE;

// The help lines of the Network Conditions' switches, part of the shared help below.
#define CORVANE_CONDITIONS_HELP                                                               \
    "Network Conditions, each off unless given (up: Client to Server, down: Server to\n"      \
    "Client, both without either; times in ms; rates and sizes in bytes, K M G = 1,000^n):\n" \
    "  -latency [up:|down:]MS[,JITTER[,normal]]\n"                                            \
    "                    pass each block on MS later, plus or minus a jitter drawn for\n"     \
    "                    it (evenly, or normally distributed)\n"                              \
    "  -bandwidth [up:|down:]RATE\n"                                                          \
    "                    pass on at most RATE bytes per second (0: unlimited)\n"              \
    "  -slice [up:|down:]SIZE[,VARIATION[,PAUSE]]\n"                                          \
    "                    pass blocks on in pieces of SIZE, plus or minus VARIATION,\n"        \
    "                    PAUSE ms apart (1 by default)\n"                                     \
    "  -loss [up:|down:]PERCENT\n"                                                            \
    "                    hold a piece back for a TCP retransmission time (200 ms,\n"          \
    "                    doubling when lost again), as a lost packet would\n"                 \
    "  -limit [up:|down:]BYTES[,reset]\n"                                                     \
    "                    end the connection once BYTES have passed in the direction\n"        \
    "  -connectdelay MS  connect to the server MS after the client connected\n"               \
    "  -endafter MS[,reset]\n"                                                                \
    "                    close (or reset) each connection MS after the client connected\n"    \
    "  -stall MS[,END[,reset]]\n"                                                             \
    "                    from MS after the client connected pass nothing on; close (or\n"     \
    "                    reset) the connection END ms later\n"                                \
    "  -slowclose MS     a peer's close reaches the other peer MS later\n"                    \
    "  -refuse close|reset|hold\n"                                                            \
    "                    close or reset new clients at once, or leave them waiting\n"         \
    "  -share PERCENT    apply the conditions to this share of new connections (100)\n"       \
    "  -seed N           the seed of the random choices, to repeat a run exactly\n"

// The help lines of the switches that both programs take alike, from -hexonly on: a string
// literal, so that each program's help text is one constant.
// clang-format off
#define CORVANE_SHARED_SWITCH_HELP                                                           \
    "  -hexonly          show all relayed data as a hexadecimal dump\n"                      \
    "  -time             begin every message line with the time of its event\n"              \
    "  -bind <address>   open the local port on this address only, one of this machine's\n"  \
    "                    (127.0.0.1 or ::1: this machine only; fe80::1%eth0: a link-local\n" \
    "                    one with its zone; :: takes IPv4 too); every interface by default\n"\
    "  -halfclose        a peer's close ends only its direction; the other one goes on\n"    \
    "  -capture <file>   also write every relayed stream to this pcap file\n"                \
    "  -tls <sides>      end TLS on the Client's side (Client), the Server's (Server) or\n"  \
    "                    both (Both), so that the log shows the plain bytes\n"               \
    "  -tlscert <file>   the certificate (PEM) shown to Clients; by default a self-signed\n" \
    "                    one made in ~/.config/Halvard/\n"                                   \
    "  -tlskey <file>    the private key (PEM) of -tlscert; by default read from its file\n" \
    "  -tlsverify        check the Server's certificate and name against the system's\n"     \
    "                    trusted certificates; unchecked by default\n"                       \
    "  -streams <file>[,<size>]\n"                                                           \
    "                    keep every byte passed on, per connection, in this file for\n"      \
    "                    -follow; at most <size> (256M by default; K, M, G), the oldest\n"   \
    "                    connections going first\n"                                          \
    "  -rotate <rule>    write the Log File and the Capture File in parts: a new one at\n"   \
    "                    a size (100M; K, M, G), at each boundary of a period (1h; s, m,\n"  \
    "                    h, d), or at either (1h,100M)\n"                                    \
    "  -parts <count>    keep only the newest parts of each file, deleting the oldest; 0\n"  \
    "                    (the default) keeps them all\n"                                     \
    CORVANE_CONDITIONS_HELP
// clang-format on

// The last lines of both programs' help.
#define CORVANE_INFO_SWITCH_HELP                    \
    "  --help            show this text and exit\n" \
    "  --version         show the version and exit\n"

// What "corvane --help" prints: the usage, then a line per switch.
// clang-format off
inline constexpr const char* kHelpText =
    "Usage: corvane [<remote host> <remote port> <local port>] [-file <log file>]\n"
    "               [-size 32KB|128KB|512KB|2MB|Unlimited] [-detail Low|Medium|High] [-auto]\n"
    "               [-hexonly] [-time] [-bind <address>] [-halfclose] [-capture <file>]\n"
    "               [-tls Client|Server|Both] [-tlscert <file>] [-tlskey <file>] [-tlsverify]\n"
    "               [-latency [up:|down:]MS[,JITTER]] [-bandwidth [up:|down:]RATE]\n"
    "               [-slice [up:|down:]SIZE[,VARIATION[,PAUSE]]] [-loss [up:|down:]PERCENT]\n"
    "               [-limit [up:|down:]BYTES[,reset]] [-connectdelay MS] [-endafter MS[,reset]]\n"
    "               [-stall MS[,END[,reset]]] [-slowclose MS] [-refuse close|reset|hold]\n"
    "               [-share PERCENT] [-seed N]\n"
    "               [-streams <file>[,<size>]]\n"
    "               [-rotate <rule>] [-parts <count>]\n"
    "Relays a local TCP port to a server and logs the traffic in a window. The remote host is\n"
    "a dotted IPv4 address, an IPv6 address or a name. Without arguments the settings of the\n"
    "last run are used.\n"
    "\n"
    "  -file <log file>  also write the log to this file (an HTML page when the name ends\n"
    "                    in .htm or .html)\n"
    "  -size <size>      the Log Buffer's size: 32KB, 128KB, 512KB, 2MB or Unlimited\n"
    "  -detail <level>   what the Log Buffer shows: Low, Medium or High\n"
    "  -auto             start relaying at once\n"
    CORVANE_SHARED_SWITCH_HELP
    CORVANE_INFO_SWITCH_HELP;
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
//   "-tlskey <name>" (TlsKey), "-tlsverify" (TlsVerify = 1), "-streams <name>[,<size>]"
//   (StreamsFile, KeepStreams: ParseStreamsSize's size, 256 MiB without one), "-rotate
//   <rule>" (Rotate, a rule that ParseRotation takes) and "-parts <count>" (PartsKept,
//   decimal digits that fit in 32 bits), in any order, repeats overriding. Comparisons are
//   exact and
//   case-sensitive; an unknown argument, a bad value or a missing value is a usage error.
// Texts longer than their edit box's limit are cut to it when taken. On a usage error
// settings may have been changed in part; the program ends then anyway.
//   The Network Conditions' switches set Settings::Conditions: those from -latency to
//   -refuse make a new set that replaces the one settings held (a kept preset's) whole, while
//   -share and -seed without them apply to the one held. A bad or missing value is a
//   usage error whose problem names the switch ("bad value for -latency: abc"), given back
//   in *problem when problem is not null (empty for any other usage error). With terminal,
//   "-conditions <file>" (ConditionsFile) is taken too.
[[nodiscard]] CommandLineResult ParseCommandLine(const std::vector<std::string>& args,
                                                 Settings& settings, std::string* problem = nullptr,
                                                 bool terminal = false);

// The text of a usage error: the problem's line first when there is one, then the usage.
std::string UsageErrorText(std::string_view usage, const std::string& problem);

// A size of "-streams": a whole number of bytes, or of KiB, MiB or GiB with the suffix K, M
// or G (KiB, MiB, GiB too), from 1 MiB to 1 TiB. Nullopt for anything else.
constexpr std::int64_t kMinKeepStreams = 1LL << 20;
constexpr std::int64_t kMaxKeepStreams = 1LL << 40;
[[nodiscard]] std::optional<std::int64_t> ParseStreamsSize(std::string_view text);

}  // namespace corvane::control
