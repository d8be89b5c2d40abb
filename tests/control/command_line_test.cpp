// The command line over the stored settings: the usage errors, repeats and the limits.
#include <gtest/gtest.h>

#include <optional>

#include "control/command_line.h"
#include "corvane_version.h"

namespace corvane::control {
namespace {

using Args = std::vector<std::string>;

Settings Stored() {
    Settings s;
    s.RemoteHost = "stored.host";
    s.RemotePort = "81";
    s.LocalPort = "8081";
    s.LogFile = "stored.txt";
    s.BufferSize = 524288;
    s.Detail = 1;
    return s;
}

TEST(ParseCommandLine, NoArgumentsLeaveTheStoredSettings) {
    Settings s = Stored();
    EXPECT_EQ(ParseCommandLine({}, s), CommandLineResult::Ok);
    EXPECT_EQ(s.RemoteHost, "stored.host");
    EXPECT_EQ(s.LogFile, "stored.txt");
    EXPECT_EQ(s.BufferSize, 524288);
    EXPECT_EQ(s.AutoStart, 0);
}

TEST(ParseCommandLine, UsageErrors) {
    const Args cases[] = {
        {"host"},
        {"host", "80"},
        {"h", "80", "8080", "-size", "64KB"},
        {"h", "80", "8080", "-detail", "low"},
        {"h", "80", "8080", "-Auto"},
        {"h", "80", "8080", "-HEXONLY"},
        {"h", "80", "8080", "-Time"},
        {"h", "80", "8080", "-timestamps"},
        {"h", "80", "8080", "-file"},
        {"h", "80", "8080", "-capture"},
        {"h", "80", "8080", "-streams"},
        {"h", "80", "8080", "-size"},
        {"h", "80", "8080", "-detail"},
        {"h", "80", "8080", "extra"},
        {"h", "80", "8080", "-auto", "extra"},
        {"h", "80", "8080", "-size", "32kb"},
        {"h", "80", "8080", "-size", "unlimited"},
        {"h", "80", "8080", "--auto"},
        {"h", "80", "8080", "-auto "},
        {"h", "80", "8080", ""},
        {"h", "80", "8080", "-bind"},
        {"h", "80", "8080", "-HalfClose"},
        {"h", "80", "8080", "-tls"},
        {"h", "80", "8080", "-tls", "both"},
        {"h", "80", "8080", "-tls", "None"},
        {"h", "80", "8080", "-tls", "-tlsverify"},
        {"h", "80", "8080", "-TLS", "Both"},
        {"h", "80", "8080", "-tlscert"},
        {"h", "80", "8080", "-tlskey"},
        {"h", "80", "8080", "-tlsVerify"},
        {"h", "80", "8080", "-rotate"},
        {"h", "80", "8080", "-rotate", "1H"},
        {"h", "80", "8080", "-rotate", "100MB"},
        {"h", "80", "8080", "-parts"},
        {"h", "80", "8080", "-parts", "-1"},
        {"h", "80", "8080", "-parts", "4294967296"},
    };
    for (const Args& args : cases) {
        Settings s = Stored();
        std::string joined;
        for (const std::string& a : args) {
            joined += '[' + a + ']';
        }
        EXPECT_EQ(ParseCommandLine(args, s), CommandLineResult::UsageError) << joined;
    }
}

TEST(ParseCommandLine, ThreeArgumentsAreTakenUncheckedAndOverrideTheStore) {
    Settings s = Stored();
    ASSERT_EQ(ParseCommandLine({"example.test", "http", "abc"}, s), CommandLineResult::Ok);
    EXPECT_EQ(s.RemoteHost, "example.test");
    EXPECT_EQ(s.RemotePort, "http");
    EXPECT_EQ(s.LocalPort, "abc");
    EXPECT_EQ(s.LogFile, "stored.txt");  // no "-file": the stored one stands
    EXPECT_EQ(s.BufferSize, 524288);
    EXPECT_EQ(s.AutoStart, 0);
    EXPECT_EQ(s.HexOnly, 0u);
    EXPECT_EQ(s.TimeStamps, 0u);
    EXPECT_EQ(s.Tls, 0u);
}

TEST(ParseCommandLine, EverySwitchAndValue) {
    Settings s = Stored();
    ASSERT_EQ(ParseCommandLine({"h", "80", "0", "-hexonly", "-file", "a b.htm", "-auto", "-detail",
                                "Low", "-time", "-size", "Unlimited", "-capture", "c d.pcap"},
                               s),
              CommandLineResult::Ok);
    EXPECT_EQ(s.LogFile, "a b.htm");
    EXPECT_EQ(s.CaptureFile, "c d.pcap");
    EXPECT_EQ(s.AutoStart, 1);
    EXPECT_EQ(s.HexOnly, 1u);
    EXPECT_EQ(s.TimeStamps, 1u);
    EXPECT_EQ(s.Detail, 0u);
    EXPECT_EQ(s.BufferSize, -1);

    const std::pair<const char*, std::int32_t> sizes[] = {
        {"32KB", 32768}, {"128KB", 131072}, {"512KB", 524288}, {"2MB", 2097152}};
    for (const auto& [text, value] : sizes) {
        ASSERT_EQ(ParseCommandLine({"h", "80", "0", "-size", text}, s), CommandLineResult::Ok);
        EXPECT_EQ(s.BufferSize, value) << text;
    }
    const std::pair<const char*, std::uint32_t> details[] = {
        {"Low", 0}, {"Medium", 1}, {"High", 2}};
    for (const auto& [text, value] : details) {
        ASSERT_EQ(ParseCommandLine({"h", "80", "0", "-detail", text}, s), CommandLineResult::Ok);
        EXPECT_EQ(s.Detail, value) << text;
    }
}

TEST(ParseCommandLine, BindAndHalfCloseAreTakenUnchecked) {
    Settings s = Stored();
    ASSERT_EQ(ParseCommandLine(
                  {"h", "80", "0", "-halfclose", "-bind", "not an address", "-bind", "::1"}, s),
              CommandLineResult::Ok);
    EXPECT_EQ(s.ListenAddress, "::1");  // a later one overrides; Start checks it
    EXPECT_EQ(s.HalfClose, 1u);
}

TEST(ParseCommandLine, TlsSwitches) {
    const std::pair<const char*, std::uint32_t> modes[] = {
        {"Client", 1}, {"Server", 2}, {"Both", 3}};
    for (const auto& [text, value] : modes) {
        Settings s = Stored();
        ASSERT_EQ(ParseCommandLine({"h", "80", "0", "-tls", text}, s), CommandLineResult::Ok);
        EXPECT_EQ(s.Tls, value) << text;
        EXPECT_EQ(s.TlsVerify, 0u);
    }
    Settings s = Stored();
    const std::string key(300, 'k');
    ASSERT_EQ(ParseCommandLine({"h", "80", "0", "-tlsverify", "-tlscert", "my cert.pem", "-tlskey",
                                key, "-tls", "Server", "-tls", "Client"},
                               s),
              CommandLineResult::Ok);
    EXPECT_EQ(s.Tls, 1u);
    EXPECT_EQ(s.TlsCert, "my cert.pem");
    EXPECT_EQ(s.TlsKey, std::string(255, 'k'));  // cut as the Log File is
    EXPECT_EQ(s.TlsVerify, 1u);
}

TEST(ParseCommandLine, ConditionSwitchesSetTheConditionsAndABadValueNamesItsSwitch) {
    Settings s = Stored();
    std::string problem = "left over";
    ASSERT_EQ(ParseCommandLine({"h", "80", "0", "-latency", "down:100", "-refuse", "hold", "-seed",
                                "42", "-latency", "up:5"},
                               s, &problem),
              CommandLineResult::Ok);
    EXPECT_EQ(s.Conditions.down.latency.us, 100000);
    EXPECT_EQ(s.Conditions.up.latency.us, 5000);
    EXPECT_EQ(s.Conditions.refuse.mode, relay::Refusal::Hold);
    EXPECT_EQ(s.Conditions.seed, 42u);
    EXPECT_EQ(problem, "");
    const std::pair<Args, std::string> bad[] = {
        {{"h", "80", "0", "-bandwidth", "fast"}, "bad value for -bandwidth: fast"},
        {{"h", "80", "0", "-loss"}, "no value for -loss"},
        {{"h", "80", "0", "-Latency", "5"}, ""},
        {{"h", "80", "0", "-conditions", "c.txt"}, ""},  // the terminal program's only
    };
    for (const auto& [args, expected] : bad) {
        Settings t = Stored();
        EXPECT_EQ(ParseCommandLine(args, t, &problem), CommandLineResult::UsageError);
        EXPECT_EQ(problem, expected) << args[3];
    }
    EXPECT_EQ(UsageErrorText("Usage: x", "bad value for -loss: y"),
              "bad value for -loss: y\nUsage: x");
    EXPECT_EQ(UsageErrorText("Usage: x", ""), "Usage: x");
    ASSERT_EQ(ParseCommandLine({"h", "80", "0", "-conditions", "c.txt"}, s, nullptr, true),
              CommandLineResult::Ok);
    EXPECT_EQ(s.ConditionsFile, "c.txt");
}

TEST(ParseCommandLine, StreamsTakesAFileAndAnOptionalSize) {
    const struct {
        const char* value;
        const char* file;  // nullptr: a usage error
        std::int64_t bound;
    } cases[] = {
        {"run.streams", "run.streams", 256LL << 20},
        {"run.streams,64M", "run.streams", 64LL << 20},
        {"a,b.streams,2G", "a,b.streams", 2LL << 30},
        {"run,1048576", "run", 1LL << 20},
        {"run,512KiB", "run,512KiB", 256LL << 20},  // below 1 MiB: no size, part of the name
        {"run,64m", "run,64m", 256LL << 20},
        {"run,", "run,", 256LL << 20},
        {",64M", nullptr, 0},
        {"", nullptr, 0},
    };
    for (const auto& c : cases) {
        Settings s = Stored();
        const CommandLineResult result = ParseCommandLine({"h", "80", "0", "-streams", c.value}, s);
        if (c.file == nullptr) {
            EXPECT_EQ(result, CommandLineResult::UsageError) << c.value;
            continue;
        }
        ASSERT_EQ(result, CommandLineResult::Ok) << c.value;
        EXPECT_EQ(s.StreamsFile, c.file) << c.value;
        EXPECT_EQ(s.KeepStreams, c.bound) << c.value;
    }
    EXPECT_EQ(ParseStreamsSize("1T"), std::nullopt);
    EXPECT_EQ(ParseStreamsSize("1024G"), 1LL << 40);
    EXPECT_EQ(ParseStreamsSize("1025G"), std::nullopt);
    EXPECT_EQ(ParseStreamsSize("99999999999999999999999"), std::nullopt);
}

TEST(ParseCommandLine, RotateAndPartsKept) {
    Settings s = Stored();
    ASSERT_EQ(ParseCommandLine({"h", "80", "0", "-rotate", "1h,100M", "-parts", "24"}, s),
              CommandLineResult::Ok);
    EXPECT_EQ(s.Rotate, "1h,100M");
    EXPECT_EQ(s.PartsKept, 24u);
    // An empty rule turns a stored one off.
    ASSERT_EQ(ParseCommandLine({"h", "80", "0", "-rotate", "", "-parts", "0"}, s),
              CommandLineResult::Ok);
    EXPECT_EQ(s.Rotate, "");
    EXPECT_EQ(s.PartsKept, 0u);
}

TEST(ParseCommandLine, LaterSwitchesOverrideEarlierOnes) {
    Settings s = Stored();
    ASSERT_EQ(ParseCommandLine(
                  {"h", "80", "0", "-size", "2MB", "-file", "one.txt", "-detail", "High", "-size",
                   "32KB", "-file", "two.htm", "-detail", "Medium", "-auto", "-auto"},
                  s),
              CommandLineResult::Ok);
    EXPECT_EQ(s.BufferSize, 32768);
    EXPECT_EQ(s.LogFile, "two.htm");
    EXPECT_EQ(s.Detail, 1u);
    EXPECT_EQ(s.AutoStart, 1);
}

TEST(ParseCommandLine, AValueThatLooksLikeASwitchIsTakenAsTheValue) {
    Settings s = Stored();
    ASSERT_EQ(ParseCommandLine({"h", "80", "0", "-file", "-auto"}, s), CommandLineResult::Ok);
    EXPECT_EQ(s.LogFile, "-auto");
    EXPECT_EQ(s.AutoStart, 0);
}

TEST(ParseCommandLine, TextsLongerThanTheEditBoxesAreCutWhenTaken) {
    Settings s;
    const std::string host(100, 'h');
    const std::string file(300, 'f');
    ASSERT_EQ(ParseCommandLine({host, "123456789", "-123456789", "-file", file}, s),
              CommandLineResult::Ok);
    EXPECT_EQ(s.RemoteHost, std::string(63, 'h'));
    EXPECT_EQ(s.RemotePort, "1234567");
    EXPECT_EQ(s.LocalPort, "-123456");
    EXPECT_EQ(s.LogFile, std::string(255, 'f'));
}

TEST(AnswerInfoRequest, OnlyVersionOrHelpAloneIsAnsweredAndTheRestIsTheCommandLines) {
    const std::string version = std::string("prog ") + CORVANE_VERSION + "\n";
    const std::pair<Args, std::optional<std::string>> cases[] = {
        {{"--version"}, version},
        {{"--help"}, "the help\n"},
        {{}, std::nullopt},
        {{"-version"}, std::nullopt},
        {{"--Version"}, std::nullopt},
        {{"-help"}, std::nullopt},
        {{"--version", "x"}, std::nullopt},
        {{"--help", "--version"}, std::nullopt},
        {{"h", "80", "0", "--help"}, std::nullopt},
    };
    for (const auto& [args, answer] : cases) {
        EXPECT_EQ(AnswerInfoRequest(args, "prog", "the help\n"), answer)
            << (args.empty() ? "(none)" : args.front()) << " of " << args.size();
    }
    EXPECT_EQ(std::string(CORVANE_VERSION).find_first_not_of("0123456789."), std::string::npos);
}

TEST(CutToLimit, CountsCharactersAndNeverSplitsOne) {
    // 62 ASCII characters then "é" (2 bytes, one character) and U+1F600 (4 bytes, counted two
    // as in an edit box): 63 characters keep the "é", 64 cannot take half of the last one.
    const std::string text = std::string(62, 'a') + "\xC3\xA9" + "\xF0\x9F\x98\x80";
    EXPECT_EQ(CutToLimit(text, 63), std::string(62, 'a') + "\xC3\xA9");
    EXPECT_EQ(CutToLimit(text, 64), std::string(62, 'a') + "\xC3\xA9");
    EXPECT_EQ(CutToLimit(text, 65), text);
    EXPECT_EQ(CutToLimit("short", 63), "short");
}

}  // namespace
}  // namespace corvane::control
