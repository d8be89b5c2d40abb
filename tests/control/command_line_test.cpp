// The command line over the stored settings: the usage errors, repeats and the limits.
#include <gtest/gtest.h>

#include "control/command_line.h"

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
        {"h", "80", "8080", "-size"},
        {"h", "80", "8080", "-detail"},
        {"h", "80", "8080", "extra"},
        {"h", "80", "8080", "-auto", "extra"},
        {"h", "80", "8080", "-size", "32kb"},
        {"h", "80", "8080", "-size", "unlimited"},
        {"h", "80", "8080", "--auto"},
        {"h", "80", "8080", "-auto "},
        {"h", "80", "8080", ""},
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

TEST(CutToLimit, NeverSplitsAUtf8Character) {
    // 62 ASCII bytes then "é" (2 bytes): 64 bytes, cut to 63 must drop the whole "é".
    const std::string text = std::string(62, 'a') + "\xC3\xA9";
    EXPECT_EQ(CutToLimit(text, 63), std::string(62, 'a'));
    EXPECT_EQ(CutToLimit(text, 64), text);
    EXPECT_EQ(CutToLimit("short", 63), "short");
}

}  // namespace
}  // namespace corvane::control
