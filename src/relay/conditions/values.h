// The values the conditions' switches take, as text: times in milliseconds (to the
// microsecond), amounts of bytes with K, M and G (powers of 1,000), percentages, and the
// choice between a close and a reset. Each parser takes the whole text or fails; each
// formatter writes what its parser reads back to the same value.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace corvane::relay {

// How the conditions end a Connection: an orderly close (FIN) or a reset (RST).
enum class Ending : std::uint8_t { Close, Reset };

// The longest time a condition takes: a day.
constexpr std::int64_t kLongestTimeUs = 86'400'000'000;
// The largest amount: 1,000G.
constexpr std::int64_t kLargestAmount = 1'000'000'000'000;

// "250", "0.5", "1.125": milliseconds with at most three decimals, as microseconds, from 0 up
// to a day.
bool ParseTime(std::string_view text, std::int64_t& us);
std::string FormatTime(std::int64_t us);

// "100", "64K", "1.5M", "2G": a whole number of bytes (or bytes per second) from 0 up to
// kLargestAmount. A fraction is allowed as long as the bytes come out whole.
bool ParseAmount(std::string_view text, std::int64_t& bytes);
// The largest unit that needs at most three decimals: 64000 is "64K", 187500 "187.5K".
std::string FormatAmount(std::int64_t bytes);

// "2", "0.25", "100": a percentage with at most four decimals, as parts per million.
bool ParsePercent(std::string_view text, std::uint32_t& ppm);
std::string FormatPercent(std::uint32_t ppm);

// "close" or "reset".
bool ParseEnding(std::string_view text, Ending& ending);

// "N" or "N,reset" (or "N,close"): a time (time true) or an amount and how the Connection
// ends; Close when no ending is given.
bool ParseWithEnding(std::string_view value, std::int64_t& number, Ending& ending, bool time);
std::string FormatWithEnding(std::int64_t number, Ending ending, bool time);

// The fields of "a,b,c": at least one and at most `most`, none empty.
bool SplitFields(std::string_view text, std::size_t most, std::vector<std::string_view>& fields);

}  // namespace corvane::relay
