// The conditions as text: the switch grammar that both programs' command lines take and that
// a conditions file holds, one switch per line:
//
//     # a slow mobile link, and a server that goes quiet after 30 s
//     -latency 200,20
//     -bandwidth down:50K
//     -stall 30000
//
// A per-direction value may begin with "up:" (Client to Server) or "down:" (Server to
// Client); without either it sets both. Rates and sizes take K, M and G (powers of 1,000);
// times are milliseconds. "#" begins a comment that runs to the end of its line. Pure: no Qt,
// no output.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "relay/conditions/conditions.h"

namespace corvane::relay {

// True for the name of one of the conditions' switches ("-latency", ..., "-seed").
bool IsConditionSwitch(std::string_view name);

// Sets what the switch `name` says, with its value, in set; the rest of set stays. On a value
// it cannot take, false and problem = "bad value for -latency: abc" (set unchanged).
bool ApplyConditionSwitch(std::string_view name, std::string_view value, Conditions& set,
                          std::string& problem);

struct TextProblem {
    int line = 0;      // 1 for the first line
    std::string text;  // "bad value for -latency: abc", "unknown switch: -latancy", ...
};

// A conditions file's text as a whole new set (what no switch names is off). Several switches
// on one line are taken too. nullopt with the first problem and its line when any line is
// wrong.
std::optional<Conditions> ParseConditionsText(std::string_view text, TextProblem& problem);

enum class ConditionsLayout {
    Lines,   // "-latency 100\n-bandwidth down:64K\n": a conditions file, a saved preset
    OneLine  // "-latency 100 -bandwidth down:64K": the log's lines
};
// The set in the switch grammar, in the order of the usage text. A direction's two halves
// that are equal are written once without a prefix. Empty when nothing is set. Reading it
// back gives the set again (every condition that is on, Share and the seed).
std::string FormatConditions(const Conditions& set, ConditionsLayout layout);

// What a Connection carries, on one line (no -refuse, -share or -seed): the text of the
// "N: Conditions: ..." line.
std::string DescribeForConnection(const Conditions& set);

}  // namespace corvane::relay
