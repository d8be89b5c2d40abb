// ParseCommandLine over any list of arguments (the fuzzer's bytes split at NUL, as argv
// arrives), held against a plain reading of the usage text: the same verdict, the same
// fields, texts cut to their limits on a character boundary, nothing touched when there
// are no arguments, and the stored settings' other fields left alone.
#include <cstdint>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "control/command_line.h"
#include "control/settings.h"
#include "fuzz_support.h"
#include "relay/conditions/conditions_text.h"

namespace corvane::fuzz {
namespace {

using control::Settings;

// The text as it must be taken: at most `limit` characters (as CharacterCount counts them),
// the cut never inside one.
void CheckCut(const std::string& taken, const std::string& given, std::size_t limit) {
    FUZZ_CHECK(control::CharacterCount(taken) <= limit);
    FUZZ_CHECK_EQ(given.substr(0, taken.size()), taken);
    if (control::CharacterCount(given) <= limit) {
        FUZZ_CHECK_EQ(taken, given);
        return;
    }
    // Cut: the byte after the cut begins a character, and that whole character would not
    // have fitted.
    FUZZ_CHECK((static_cast<unsigned char>(given[taken.size()]) & 0xC0) != 0x80 || taken.empty());
    std::size_t next = taken.size() + 1;
    while (next < given.size() && (static_cast<unsigned char>(given[next]) & 0xC0) == 0x80) {
        ++next;
    }
    FUZZ_CHECK(control::CharacterCount(given.substr(0, next)) > limit);
}

// The usage text read word by word: the switches' values, or no value on a usage error.
struct Model {
    bool ok = true;
    std::optional<std::string> file;
    std::optional<std::string> capture;
    std::optional<std::int32_t> size;
    std::optional<std::uint32_t> detail;
    bool autoStart = false;
    bool hexOnly = false;
    bool timeStamps = false;
    std::optional<std::string> bind;
    bool halfClose = false;
    std::optional<std::uint32_t> tls;
    std::optional<std::string> tlsCert;
    std::optional<std::string> tlsKey;
    bool tlsVerify = false;
    // The conditions' switches, each taken by their own parser (fuzz_conditions_text).
    relay::Conditions conditions;
    std::optional<std::string> streams;
    std::int64_t keepStreams = 0;
    std::optional<std::string> rotate;
    std::optional<std::uint32_t> parts;
};

// "-streams"'s size as the help text describes it: digits and a unit (none, K, M, G, or
// KiB, MiB, GiB), from 1 MiB to 1 TiB.
std::optional<std::int64_t> StreamsSize(const std::string& text) {
    std::size_t digits = 0;
    while (digits < text.size() && text[digits] >= '0' && text[digits] <= '9') {
        ++digits;
    }
    const std::string unit = text.substr(digits);
    int shift = -1;
    for (const auto& [name, bits] : std::vector<std::pair<std::string, int>>{
             {"", 0}, {"K", 10}, {"KiB", 10}, {"M", 20}, {"MiB", 20}, {"G", 30}, {"GiB", 30}}) {
        if (unit == name) {
            shift = bits;
        }
    }
    if (digits == 0 || shift < 0) {
        return std::nullopt;
    }
    long double bytes = 0;
    for (std::size_t i = 0; i < digits; ++i) {
        bytes = bytes * 10 + (text[i] - '0');
    }
    bytes *= static_cast<long double>(1LL << shift);
    if (bytes < (1LL << 20) || bytes > static_cast<long double>(1LL << 40)) {
        return std::nullopt;
    }
    return static_cast<std::int64_t>(bytes);
}

// A decimal number of 1 to `digits` digits; nothing for anything else.
std::optional<std::uint64_t> Decimal(const std::string& text, std::size_t digits) {
    if (text.empty() || text.size() > digits ||
        text.find_first_not_of("0123456789") != std::string::npos) {
        return std::nullopt;
    }
    return std::stoull(text);
}

// "-rotate": at most 31 characters, empty, or one or two amounts joined by a comma, each a
// positive number of at most 9 digits and a letter, at most one of K, M, G (a size) and at
// most one of s, m, h, d (a period that fits 32 bits of seconds).
bool PlainRule(const std::string& text) {
    if (text.size() > control::kRotateLimit) {
        return false;
    }
    int sizes = 0;
    int periods = 0;
    for (std::size_t start = 0; start < text.size();) {
        const std::size_t comma = text.find(',', start);
        const std::string piece = text.substr(start, comma - start);
        start = comma == std::string::npos ? text.size() : comma + 1;
        if (comma != std::string::npos && start == text.size()) {
            return false;
        }
        const auto number =
            piece.size() < 2 ? std::nullopt : Decimal(piece.substr(0, piece.size() - 1), 9);
        if (!number || *number == 0) {
            return false;
        }
        const std::string units = "smhd";
        const std::uint64_t scales[] = {1, 60, 3600, 86400};
        if (std::string("KMG").find(piece.back()) != std::string::npos) {
            ++sizes;
        } else if (const std::size_t u = units.find(piece.back()); u != std::string::npos) {
            ++periods;
            if (*number * scales[u] > 0xFFFFFFFFull) {
                return false;
            }
        } else {
            return false;
        }
    }
    return sizes <= 1 && periods <= 1;
}

Model Read(const std::vector<std::string>& args) {
    Model m;
    if (args.empty()) {
        return m;
    }
    if (args.size() < 3) {
        m.ok = false;
        return m;
    }
    const std::vector<std::pair<std::string, std::int32_t>> sizes = {
        {"32KB", 32768}, {"128KB", 131072}, {"512KB", 524288}, {"2MB", 2097152}, {"Unlimited", -1}};
    const std::vector<std::pair<std::string, std::uint32_t>> details = {
        {"Low", 0}, {"Medium", 1}, {"High", 2}};
    const std::vector<std::pair<std::string, std::uint32_t>> tlsModes = {
        {"Client", 1}, {"Server", 2}, {"Both", 3}};
    for (std::size_t i = 3; i < args.size() && m.ok; ++i) {
        const std::string& a = args[i];
        const std::string* value = i + 1 < args.size() ? &args[i + 1] : nullptr;
        m.ok = false;
        if (a == "-auto" || a == "-hexonly") {
            (a == "-auto" ? m.autoStart : m.hexOnly) = true;
            m.ok = true;
        } else if (a == "-time") {
            m.timeStamps = true;
            m.ok = true;
        } else if ((a == "-file" || a == "-capture") && value) {
            (a == "-file" ? m.file : m.capture) = *value;
            m.ok = true;
            ++i;
        } else if (a == "-bind" && value) {
            m.bind = *value;
            m.ok = true;
            ++i;
        } else if (a == "-halfclose") {
            m.halfClose = true;
            m.ok = true;
        } else if (a == "-tlsverify") {
            m.tlsVerify = true;
            m.ok = true;
        } else if (a == "-streams" && value) {
            const std::size_t comma = value->rfind(',');
            const auto size =
                comma == std::string::npos ? std::nullopt : StreamsSize(value->substr(comma + 1));
            m.streams = size ? value->substr(0, comma) : *value;
            m.keepStreams = size.value_or(256LL << 20);
            m.ok = !m.streams->empty();
            ++i;
        } else if (a == "-rotate" && value) {
            m.rotate = *value;
            m.ok = PlainRule(*value);
            ++i;
        } else if (a == "-parts" && value) {
            const auto count = Decimal(*value, 10);
            m.ok = count && *count <= 0xFFFFFFFFull;
            m.parts = static_cast<std::uint32_t>(count.value_or(0));
            ++i;
        } else if ((a == "-tlscert" || a == "-tlskey") && value) {
            (a == "-tlscert" ? m.tlsCert : m.tlsKey) = *value;
            m.ok = true;
            ++i;
        } else if (a == "-tls" && value) {
            for (const auto& [text, sides] : tlsModes) {
                if (*value == text) {
                    m.tls = sides;
                    m.ok = true;
                }
            }
            ++i;
        } else if (relay::IsConditionSwitch(a) && value) {
            std::string problem;
            m.ok = relay::ApplyConditionSwitch(a, *value, m.conditions, problem);
            ++i;
        } else if (a == "-size" && value) {
            for (const auto& [text, bytes] : sizes) {
                if (*value == text) {
                    m.size = bytes;
                    m.ok = true;
                }
            }
            ++i;
        } else if (a == "-detail" && value) {
            for (const auto& [text, level] : details) {
                if (*value == text) {
                    m.detail = level;
                    m.ok = true;
                }
            }
            ++i;
        }
    }
    return m;
}

Settings Stored() {
    Settings s;
    s.RemoteHost = "stored.host";
    s.RemotePort = "81";
    s.LocalPort = "82";
    s.LogFile = "stored.htm";
    s.CaptureFile = "stored.pcap";
    s.Tls = 2;
    s.TlsCert = "stored.pem";
    s.TlsKey = "stored.key";
    s.Rotate = "1d";
    s.PartsKept = 7;
    s.BufferSize = 524288;
    s.Detail = 7;  // above High, kept as it is
    s.HexOnly = 0;
    s.WindowWidth = 800;
    s.WindowHeight = 600;
    return s;
}

}  // namespace
}  // namespace corvane::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace corvane;
    using namespace corvane::fuzz;
    std::vector<std::string> args;
    if (size > 0) {
        args = SplitAt(data, size, '\0');
    }
    Settings s = Stored();
    const auto result = control::ParseCommandLine(args, s);
    const Model m = Read(args);
    FUZZ_CHECK_EQ(result == control::CommandLineResult::Ok, m.ok);
    if (!m.ok) {
        return 0;  // the program ends; what was half applied does not matter
    }
    const Settings stored = Stored();
    FUZZ_CHECK_EQ(s.WindowWidth, stored.WindowWidth);
    FUZZ_CHECK_EQ(s.WindowHeight, stored.WindowHeight);
    if (args.empty()) {
        FUZZ_CHECK_EQ(s.RemoteHost, stored.RemoteHost);
        FUZZ_CHECK_EQ(s.LogFile, stored.LogFile);
        FUZZ_CHECK_EQ(s.BufferSize, stored.BufferSize);
        FUZZ_CHECK_EQ(s.AutoStart, 0);
        return 0;
    }
    CheckCut(s.RemoteHost, args[0], control::kRemoteHostLimit);
    CheckCut(s.RemotePort, args[1], control::kRemotePortLimit);
    CheckCut(s.LocalPort, args[2], control::kLocalPortLimit);
    if (m.file) {
        CheckCut(s.LogFile, *m.file, control::kLogFileLimit);
    } else {
        FUZZ_CHECK_EQ(s.LogFile, stored.LogFile);
    }
    if (m.capture) {
        CheckCut(s.CaptureFile, *m.capture, control::kLogFileLimit);
    } else {
        FUZZ_CHECK_EQ(s.CaptureFile, stored.CaptureFile);
    }
    FUZZ_CHECK_EQ(s.BufferSize, m.size.value_or(stored.BufferSize));
    FUZZ_CHECK_EQ(s.Detail, m.detail.value_or(stored.Detail));
    FUZZ_CHECK_EQ(s.AutoStart, m.autoStart ? 1 : 0);
    FUZZ_CHECK_EQ(s.HexOnly, m.hexOnly ? 1u : 0u);
    FUZZ_CHECK_EQ(s.TimeStamps, m.timeStamps ? 1u : 0u);
    if (m.bind) {
        CheckCut(s.ListenAddress, *m.bind, control::kListenAddressLimit);
    } else {
        FUZZ_CHECK_EQ(s.ListenAddress, stored.ListenAddress);
    }
    FUZZ_CHECK_EQ(s.HalfClose, m.halfClose ? 1u : 0u);
    FUZZ_CHECK(s.Conditions == m.conditions);
    FUZZ_CHECK_EQ(s.Tls, m.tls.value_or(stored.Tls));
    for (const auto& [taken, given, kept] : {std::tuple{&s.TlsCert, &m.tlsCert, &stored.TlsCert},
                                             std::tuple{&s.TlsKey, &m.tlsKey, &stored.TlsKey}}) {
        if (*given) {
            CheckCut(*taken, **given, control::kLogFileLimit);
        } else {
            FUZZ_CHECK_EQ(*taken, *kept);
        }
    }
    FUZZ_CHECK_EQ(s.TlsVerify, m.tlsVerify ? 1u : 0u);
    if (m.streams) {
        CheckCut(s.StreamsFile, *m.streams, control::kLogFileLimit);
        FUZZ_CHECK_EQ(s.KeepStreams, m.keepStreams);
    } else {
        FUZZ_CHECK_EQ(s.StreamsFile, stored.StreamsFile);
        FUZZ_CHECK_EQ(s.KeepStreams, stored.KeepStreams);
    }
    FUZZ_CHECK_EQ(s.Rotate, m.rotate.value_or(stored.Rotate));
    FUZZ_CHECK_EQ(s.PartsKept, m.parts.value_or(stored.PartsKept));
    return 0;
}
