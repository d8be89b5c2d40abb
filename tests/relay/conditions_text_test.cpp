// The conditions' switch grammar: every value form it takes, what it refuses, the
// per-direction prefixes, a conditions file's lines and comments, and the formatter writing
// what the parser reads back. Also the presets, which are data in that grammar.
#include <gtest/gtest.h>

#include "relay/conditions/conditions_text.h"
#include "relay/conditions/presets.h"

namespace corvane::relay {
namespace {

Conditions Parsed(std::string_view text) {
    TextProblem problem;
    const auto set = ParseConditionsText(text, problem);
    EXPECT_TRUE(set.has_value()) << text << ": line " << problem.line << ": " << problem.text;
    return set.value_or(Conditions{});
}

TEST(ConditionsText, EveryValueFormIsTakenAndWrittenBack) {
    // One switch per case; the text written back is the same text.
    const char* const cases[] = {
        "-latency 200\n",
        "-latency 0.5,0.25\n",
        "-latency 100,20,normal\n",
        "-latency up:100\n",
        "-latency up:100\n-latency down:50,5\n",
        "-bandwidth 64K\n",
        "-bandwidth down:1.5M\n",
        "-bandwidth 187.5K\n",
        "-bandwidth 1G\n",
        "-bandwidth 999\n",
        "-slice 100\n",
        "-slice 1K,200\n",
        "-slice 10,0,0\n",
        "-slice up:10,2,20\n",
        "-loss 2\n",
        "-loss down:0.125\n",
        "-limit 1M\n",
        "-limit up:0,reset\n",
        "-connectdelay 250\n",
        "-endafter 5000\n",
        "-endafter 5000,reset\n",
        "-stall 2000\n",
        "-stall 0,300,reset\n",
        "-slowclose 300\n",
        "-refuse close\n",
        "-refuse reset\n",
        "-refuse hold\n",
        "-share 50\n",
        "-share 0.5\n",
        "-seed 18446744073709551615\n",
    };
    for (const char* text : cases) {
        EXPECT_EQ(FormatConditions(Parsed(text), ConditionsLayout::Lines), text);
    }
}

TEST(ConditionsText, ValuesAndPrefixesLandWhereTheySay) {
    const Conditions s = Parsed(
        "-latency down:100,10 -bandwidth 1.5K\n-limit up:2K,reset\n-stall 1.5,20\n-share 12.5");
    EXPECT_EQ(s.up.latency, Latency{});
    EXPECT_EQ(s.down.latency.us, 100000);
    EXPECT_EQ(s.down.latency.jitterUs, 10000);
    EXPECT_EQ(s.up.bandwidth.bytesPerSecond, 1500);
    EXPECT_EQ(s.down.bandwidth.bytesPerSecond, 1500);
    EXPECT_EQ(s.up.limit.bytes, 2000);
    EXPECT_EQ(s.up.limit.ending, Ending::Reset);
    EXPECT_FALSE(s.down.limit.On());
    EXPECT_EQ(s.stall.afterUs, 1500);
    EXPECT_EQ(s.stall.endUs, 20000);
    EXPECT_EQ(s.stall.ending, Ending::Close);
    EXPECT_EQ(s.share.ppm, 125000u);
    // A later switch overrides an earlier one, direction by direction.
    const Conditions t = Parsed("-latency 10\n-latency up:20\n");
    EXPECT_EQ(t.up.latency.us, 20000);
    EXPECT_EQ(t.down.latency.us, 10000);
    EXPECT_EQ(FormatConditions(t, ConditionsLayout::OneLine), "-latency up:20 -latency down:10");
}

TEST(ConditionsText, BadValuesNameTheirSwitch) {
    const std::pair<const char*, const char*> cases[] = {
        {"-latency", "abc"},
        {"-latency", "-5"},
        {"-latency", "1.0005"},
        {"-latency", "5."},
        {"-latency", "100,20,odd"},
        {"-latency", "1,2,normal,4"},
        {"-latency", "sideways:5"},
        {"-latency", "up:"},
        {"-latency", "100,"},
        {"-latency", "86400001"},
        {"-bandwidth", "64k"},
        {"-bandwidth", "1.0005K"},
        {"-bandwidth", "1001G"},
        {"-bandwidth", "K"},
        {"-slice", "3G"},
        {"-slice", "10,1,x"},
        {"-loss", "100.5"},
        {"-loss", "0.00001"},
        {"-limit", "10,later"},
        {"-endafter", "5000,reset,1"},
        {"-stall", "1,reset"},
        {"-refuse", "maybe"},
        {"-share", "200"},
        {"-seed", "-1"},
        {"-seed", "18446744073709551616"},
        {"-seed", "12a"},
    };
    for (const auto& [name, value] : cases) {
        Conditions set;
        std::string problem;
        EXPECT_FALSE(ApplyConditionSwitch(name, value, set, problem)) << name << " " << value;
        EXPECT_EQ(problem, std::string("bad value for ") + name + ": " + value);
        EXPECT_EQ(set, Conditions{}) << name << " " << value;
    }
}

TEST(ConditionsText, AFileTakesCommentsBlankLinesAndNamesItsFirstBadLine) {
    const Conditions s = Parsed(
        "# a slow link\r\n"
        "\n"
        "  -latency   200   # one way\n"
        "\t-bandwidth down:50K\n");
    EXPECT_EQ(s.up.latency.us, 200000);
    EXPECT_EQ(s.down.bandwidth.bytesPerSecond, 50000);
    const std::pair<const char*, TextProblem> bad[] = {
        {"-latency 1\n-latancy 5\n-loss x\n", {2, "unknown switch: -latancy"}},
        {"-latency 1\n\n-loss x\n", {3, "bad value for -loss: x"}},
        {"# nothing\n-latency\n100\n", {2, "no value for -latency"}},
        {"-latency # 100\n", {1, "no value for -latency"}},
        {"latency 100\n", {1, "unknown switch: latency"}},
        {"-conditions other.txt\n", {1, "unknown switch: -conditions"}},
    };
    for (const auto& [text, expected] : bad) {
        TextProblem problem;
        EXPECT_FALSE(ParseConditionsText(text, problem).has_value()) << text;
        EXPECT_EQ(problem.line, expected.line) << text;
        EXPECT_EQ(problem.text, expected.text) << text;
    }
    TextProblem none;
    EXPECT_EQ(ParseConditionsText("# off\n\n", none), Conditions{});
}

TEST(ConditionsText, AConnectionsLineLeavesOutWhatConcernsNewClientsOnly) {
    const Conditions s =
        Parsed("-refuse close -share 50 -seed 7 -latency 100 -endafter 5000,reset");
    EXPECT_EQ(DescribeForConnection(s), "-latency 100 -endafter 5000,reset");
    EXPECT_EQ(FormatConditions(s, ConditionsLayout::OneLine),
              "-latency 100 -endafter 5000,reset -refuse close -share 50 -seed 7");
    EXPECT_TRUE(Parsed("-refuse hold").On());
    EXPECT_FALSE(Parsed("-share 50 -seed 1").On());
}

TEST(ConditionsPresets, EachIsAWellFormedSetUnderItsName) {
    const char* const names[] = {"Off", "Slow mobile", "Fast mobile", "Satellite", "Lossy Wi-Fi"};
    ASSERT_EQ(ConditionsPresets().size(), std::size(names));
    for (std::size_t i = 0; i < std::size(names); ++i) {
        const ConditionsPreset& preset = ConditionsPresets()[i];
        EXPECT_EQ(preset.name, names[i]);
        const auto set = PresetConditions(preset.name);
        ASSERT_TRUE(set.has_value()) << preset.name;
        EXPECT_EQ(set->On(), i != 0) << preset.name;
        // Saved the way a user's own set is, the text reads back the same.
        EXPECT_EQ(FormatConditions(*set, ConditionsLayout::Lines), preset.text) << preset.name;
    }
    EXPECT_FALSE(PresetConditions("slow mobile").has_value());
}

}  // namespace
}  // namespace corvane::relay
