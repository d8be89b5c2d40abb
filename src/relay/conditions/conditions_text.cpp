#include "relay/conditions/conditions_text.h"

#include <array>
#include <charconv>
#include <vector>

namespace corvane::relay {
namespace {

// One switch: its name, how its value is taken into a set, and how it is written back (the
// values without the name; a per-direction one with its prefix).
struct Switch {
    std::string_view name;
    bool (*apply)(std::string_view value, Conditions& set);
    void (*format)(const Conditions& set, std::vector<std::string>& values);
    bool perConnection;  // part of what a Connection carries
};

template <typename C, C DirectionConditions::*member>
bool ApplyDirection(std::string_view value, Conditions& set) {
    bool up = true;
    bool down = true;
    if (value.starts_with("up:")) {
        down = false;
        value.remove_prefix(3);
    } else if (value.starts_with("down:")) {
        up = false;
        value.remove_prefix(5);
    }
    C parsed;
    if (!parsed.Parse(value)) {
        return false;
    }
    if (up) {
        set.up.*member = parsed;
    }
    if (down) {
        set.down.*member = parsed;
    }
    return true;
}

template <typename C, C DirectionConditions::*member>
void FormatDirection(const Conditions& set, std::vector<std::string>& values) {
    const C& up = set.up.*member;
    const C& down = set.down.*member;
    if (up.On() && up == down) {
        values.push_back(up.Format());
        return;
    }
    if (up.On()) {
        values.push_back("up:" + up.Format());
    }
    if (down.On()) {
        values.push_back("down:" + down.Format());
    }
}

template <typename C, C Conditions::*member>
bool ApplyWhole(std::string_view value, Conditions& set) {
    C parsed;
    if (!parsed.Parse(value)) {
        return false;
    }
    set.*member = parsed;
    return true;
}

template <typename C, C Conditions::*member>
void FormatWhole(const Conditions& set, std::vector<std::string>& values) {
    if ((set.*member).On()) {
        values.push_back((set.*member).Format());
    }
}

bool ApplyShare(std::string_view value, Conditions& set) {
    return set.share.Parse(value);
}

void FormatShare(const Conditions& set, std::vector<std::string>& values) {
    if (!set.share.All()) {
        values.push_back(set.share.Format());
    }
}

bool ApplySeed(std::string_view value, Conditions& set) {
    std::uint64_t seed = 0;
    const char* end = value.data() + value.size();
    const auto [at, error] = std::from_chars(value.data(), end, seed);
    if (value.empty() || error != std::errc{} || at != end) {
        return false;
    }
    set.seed = seed;
    return true;
}

void FormatSeed(const Conditions& set, std::vector<std::string>& values) {
    if (set.seed) {
        values.push_back(std::to_string(*set.seed));
    }
}

// In the order of the usage text.
constexpr std::array<Switch, 12> kSwitches{{
    {"-latency", ApplyDirection<Latency, &DirectionConditions::latency>,
     FormatDirection<Latency, &DirectionConditions::latency>, true},
    {"-bandwidth", ApplyDirection<Bandwidth, &DirectionConditions::bandwidth>,
     FormatDirection<Bandwidth, &DirectionConditions::bandwidth>, true},
    {"-slice", ApplyDirection<Slicing, &DirectionConditions::slicing>,
     FormatDirection<Slicing, &DirectionConditions::slicing>, true},
    {"-loss", ApplyDirection<Loss, &DirectionConditions::loss>,
     FormatDirection<Loss, &DirectionConditions::loss>, true},
    {"-limit", ApplyDirection<DataLimit, &DirectionConditions::limit>,
     FormatDirection<DataLimit, &DirectionConditions::limit>, true},
    {"-connectdelay", ApplyWhole<ConnectDelay, &Conditions::connectDelay>,
     FormatWhole<ConnectDelay, &Conditions::connectDelay>, true},
    {"-endafter", ApplyWhole<EndAfter, &Conditions::endAfter>,
     FormatWhole<EndAfter, &Conditions::endAfter>, true},
    {"-stall", ApplyWhole<Stall, &Conditions::stall>, FormatWhole<Stall, &Conditions::stall>, true},
    {"-slowclose", ApplyWhole<SlowClose, &Conditions::slowClose>,
     FormatWhole<SlowClose, &Conditions::slowClose>, true},
    {"-refuse", ApplyWhole<Refuse, &Conditions::refuse>, FormatWhole<Refuse, &Conditions::refuse>,
     false},
    {"-share", ApplyShare, FormatShare, false},
    {"-seed", ApplySeed, FormatSeed, false},
}};

const Switch* FindSwitch(std::string_view name) {
    for (const Switch& s : kSwitches) {
        if (s.name == name) {
            return &s;
        }
    }
    return nullptr;
}

std::string Format(const Conditions& set, ConditionsLayout layout, bool connectionOnly) {
    std::string text;
    std::vector<std::string> values;
    for (const Switch& s : kSwitches) {
        if (connectionOnly && !s.perConnection) {
            continue;
        }
        values.clear();
        s.format(set, values);
        for (const std::string& value : values) {
            if (layout == ConditionsLayout::OneLine && !text.empty()) {
                text += ' ';
            }
            text += s.name;
            text += ' ';
            text += value;
            if (layout == ConditionsLayout::Lines) {
                text += '\n';
            }
        }
    }
    return text;
}

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

}  // namespace

bool IsConditionSwitch(std::string_view name) {
    return FindSwitch(name) != nullptr;
}

bool ApplyConditionSwitch(std::string_view name, std::string_view value, Conditions& set,
                          std::string& problem) {
    const Switch* s = FindSwitch(name);
    if (s != nullptr && s->apply(value, set)) {
        return true;
    }
    problem = "bad value for " + std::string(name) + ": " + std::string(value);
    return false;
}

std::optional<Conditions> ParseConditionsText(std::string_view text, TextProblem& problem) {
    Conditions set;
    std::string_view pending;  // a switch still waiting for its value, on the same line
    int line = 0;
    while (!text.empty()) {
        ++line;
        const std::size_t end = text.find('\n');
        std::string_view rest = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        rest = rest.substr(0, rest.find('#'));
        while (!rest.empty()) {
            std::size_t i = 0;
            while (i < rest.size() && IsBlank(rest[i])) {
                ++i;
            }
            std::size_t j = i;
            while (j < rest.size() && !IsBlank(rest[j])) {
                ++j;
            }
            const std::string_view word = rest.substr(i, j - i);
            rest.remove_prefix(j);
            if (word.empty()) {
                break;
            }
            if (!pending.empty()) {
                if (!ApplyConditionSwitch(pending, word, set, problem.text)) {
                    problem.line = line;
                    return std::nullopt;
                }
                pending = {};
            } else if (IsConditionSwitch(word)) {
                pending = word;
            } else {
                problem = {line, "unknown switch: " + std::string(word)};
                return std::nullopt;
            }
        }
        if (!pending.empty()) {
            problem = {line, "no value for " + std::string(pending)};
            return std::nullopt;
        }
    }
    return set;
}

std::string FormatConditions(const Conditions& set, ConditionsLayout layout) {
    return Format(set, layout, false);
}

std::string DescribeForConnection(const Conditions& set) {
    return Format(set, ConditionsLayout::OneLine, true);
}

}  // namespace corvane::relay
