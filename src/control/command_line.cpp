#include "control/command_line.h"

#include <array>
#include <cstdint>
#include <string_view>

#include "corvane_version.h"
#include "relay/conditions/conditions_text.h"
#include "log/rotation.h"

namespace corvane::control {
namespace {

struct SizeValue {
    std::string_view text;
    std::int32_t bufferSize;
};
constexpr std::array<SizeValue, 5> kSizes{
    {{"32KB", 32768}, {"128KB", 131072}, {"512KB", 524288}, {"2MB", 2097152}, {"Unlimited", -1}}};

struct DetailValue {
    std::string_view text;
    std::uint32_t detail;
};
constexpr std::array<DetailValue, 3> kDetails{{{"Low", 0}, {"Medium", 1}, {"High", 2}}};

// "-tls": the sides on which TLS ends, as Settings::Tls numbers them.
struct TlsValue {
    std::string_view text;
    std::uint32_t tls;
};
constexpr std::array<TlsValue, 3> kTlsModes{{{"Client", 1}, {"Server", 2}, {"Both", 3}}};

// The entry whose text equals text exactly, or null.
template <typename Entry, std::size_t N>
const Entry* Lookup(const std::array<Entry, N>& table, std::string_view text) {
    for (const Entry& entry : table) {
        if (entry.text == text) {
            return &entry;
        }
    }
    return nullptr;
}

// Decimal digits only, at most what 32 bits hold.
std::optional<std::uint32_t> ParseCount(std::string_view text) {
    if (text.empty() || text.size() > 10) {
        return std::nullopt;
    }
    std::uint64_t value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        value = value * 10 + static_cast<std::uint64_t>(c - '0');
    }
    if (value > UINT32_MAX) {
        return std::nullopt;
    }
    return static_cast<std::uint32_t>(value);
}

}  // namespace

std::optional<std::string> AnswerInfoRequest(const std::vector<std::string>& args,
                                             std::string_view program, std::string_view help) {
    if (args.size() != 1) {
        return std::nullopt;
    }
    if (args[0] == "--version") {
        std::string line(program);
        line += " " CORVANE_VERSION "\n";
        return line;
    }
    if (args[0] == "--help") {
        return std::string(help);
    }
    return std::nullopt;
}

std::string UsageErrorText(std::string_view usage, const std::string& problem) {
    return problem.empty() ? std::string(usage) : problem + "\n" + std::string(usage);
}

CommandLineResult ParseCommandLine(const std::vector<std::string>& args, Settings& settings,
                                   std::string* problem, bool terminal) {
    if (problem != nullptr) {
        problem->clear();
    }
    if (args.empty()) {
        return CommandLineResult::Ok;
    }
    if (args.size() < 3) {
        return CommandLineResult::UsageError;
    }
    // The conditions that the command line names are a set of their own, which replaces the
    // one the settings hold (a kept preset's) whole; -share and -seed alone apply to that one.
    relay::Conditions conditions;
    bool setsConditions = false;
    bool shareGiven = false;
    bool seedGiven = false;
    settings.RemoteHost = CutToLimit(args[0], kRemoteHostLimit);
    settings.RemotePort = CutToLimit(args[1], kRemotePortLimit);
    settings.LocalPort = CutToLimit(args[2], kLocalPortLimit);
    for (std::size_t i = 3; i < args.size(); ++i) {
        const std::string_view arg = args[i];
        const bool hasValue = i + 1 < args.size();
        if (arg == "-file") {
            if (!hasValue) {
                return CommandLineResult::UsageError;
            }
            settings.LogFile = CutToLimit(args[++i], kLogFileLimit);
        } else if (arg == "-size") {
            const SizeValue* size = hasValue ? Lookup(kSizes, args[i + 1]) : nullptr;
            if (!size) {
                return CommandLineResult::UsageError;
            }
            settings.BufferSize = size->bufferSize;
            ++i;
        } else if (arg == "-detail") {
            const DetailValue* detail = hasValue ? Lookup(kDetails, args[i + 1]) : nullptr;
            if (!detail) {
                return CommandLineResult::UsageError;
            }
            settings.Detail = detail->detail;
            ++i;
        } else if (arg == "-auto") {
            settings.AutoStart = 1;
        } else if (arg == "-hexonly") {
            settings.HexOnly = 1;
        } else if (arg == "-time") {
            settings.TimeStamps = 1;
        } else if (arg == "-bind") {
            if (!hasValue) {
                return CommandLineResult::UsageError;
            }
            settings.ListenAddress = CutToLimit(args[++i], kListenAddressLimit);
        } else if (arg == "-halfclose") {
            settings.HalfClose = 1;
        } else if (arg == "-capture" && hasValue) {
            settings.CaptureFile = CutToLimit(args[++i], kLogFileLimit);
        } else if (arg == "-tls") {
            const TlsValue* tls = hasValue ? Lookup(kTlsModes, args[i + 1]) : nullptr;
            if (!tls) {
                return CommandLineResult::UsageError;
            }
            settings.Tls = tls->tls;
            ++i;
        } else if (arg == "-tlscert" && hasValue) {
            settings.TlsCert = CutToLimit(args[++i], kLogFileLimit);
        } else if (arg == "-tlskey" && hasValue) {
            settings.TlsKey = CutToLimit(args[++i], kLogFileLimit);
        } else if (arg == "-tlsverify") {
            settings.TlsVerify = 1;
        } else if (relay::IsConditionSwitch(arg)) {
            std::string bad = "no value for " + std::string(arg);
            if (!hasValue || !relay::ApplyConditionSwitch(arg, args[++i], conditions, bad)) {
                if (problem != nullptr) {
                    *problem = std::move(bad);
                }
                return CommandLineResult::UsageError;
            }
            shareGiven = shareGiven || arg == "-share";
            seedGiven = seedGiven || arg == "-seed";
            setsConditions = setsConditions || (arg != "-share" && arg != "-seed");
        } else if (arg == "-conditions" && terminal && hasValue) {
            settings.ConditionsFile = args[++i];
        } else if (arg == "-streams" && hasValue) {
            // FILE or FILE,SIZE: a comma in the name stays when what follows it is no size.
            const std::string& value = args[++i];
            const std::size_t comma = value.rfind(',');
            const auto size = comma == std::string::npos
                                  ? std::nullopt
                                  : ParseStreamsSize(std::string_view(value).substr(comma + 1));
            const std::string name = size ? value.substr(0, comma) : value;
            if (name.empty()) {
                return CommandLineResult::UsageError;
            }
            settings.StreamsFile = CutToLimit(name, kLogFileLimit);
            settings.KeepStreams = size.value_or(kDefaultKeepStreams);
        } else if (arg == "-rotate" && hasValue && args[i + 1].size() <= kRotateLimit &&
                   log::ParseRotation(args[i + 1])) {
            settings.Rotate = args[++i];
        } else if (arg == "-parts" && hasValue && ParseCount(args[i + 1])) {
            settings.PartsKept = *ParseCount(args[++i]);
        } else {
            return CommandLineResult::UsageError;
        }
    }
    if (setsConditions) {
        settings.Conditions = conditions;
    } else {
        if (shareGiven) {
            settings.Conditions.share = conditions.share;
        }
        if (seedGiven) {
            settings.Conditions.seed = conditions.seed;
        }
    }
    return CommandLineResult::Ok;
}

std::optional<std::int64_t> ParseStreamsSize(std::string_view text) {
    std::int64_t value = 0;
    std::size_t i = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = value * 10 + (text[i] - '0');
        if (value > kMaxKeepStreams) {
            return std::nullopt;
        }
    }
    if (i == 0) {
        return std::nullopt;
    }
    const std::string_view unit = text.substr(i);
    int shift = -1;
    for (const auto& [name, bits] : {std::pair<std::string_view, int>{"", 0},
                                     {"K", 10},
                                     {"KiB", 10},
                                     {"M", 20},
                                     {"MiB", 20},
                                     {"G", 30},
                                     {"GiB", 30}}) {
        if (unit == name) {
            shift = bits;
        }
    }
    if (shift < 0 || value > (kMaxKeepStreams >> shift) || (value << shift) < kMinKeepStreams) {
        return std::nullopt;
    }
    return value << shift;
}

}  // namespace corvane::control
