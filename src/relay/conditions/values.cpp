#include "relay/conditions/values.h"

#include <array>

namespace corvane::relay {
namespace {

constexpr std::array<std::int64_t, 10> kPowers{1,      10,      100,      1000,      10000,
                                               100000, 1000000, 10000000, 100000000, 1000000000};

// "123.45": the digits before the point (at most 13) and after it (at most `decimals`), at
// least one digit in all. whole and fraction are the two numbers, digits the fraction's length.
bool ParseDecimal(std::string_view text, std::size_t decimals, std::int64_t& whole,
                  std::int64_t& fraction, std::size_t& digits) {
    whole = 0;
    fraction = 0;
    digits = 0;
    std::size_t i = 0;
    std::size_t wholeDigits = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i, ++wholeDigits) {
        if (wholeDigits == 13) {
            return false;
        }
        whole = whole * 10 + (text[i] - '0');
    }
    if (i < text.size() && text[i] == '.') {
        for (++i; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i, ++digits) {
            if (digits == decimals) {
                return false;
            }
            fraction = fraction * 10 + (text[i] - '0');
        }
        if (digits == 0) {
            return false;  // "5." is not a number
        }
    }
    return i == text.size() && wholeDigits + digits > 0;
}

// value / scale with the decimals it needs (none when it divides), "1.5" for 15 / 10.
std::string Scaled(std::int64_t value, std::int64_t scale) {
    std::string text = std::to_string(value / scale);
    std::int64_t rest = value % scale;
    if (rest != 0) {
        std::string fraction = std::to_string(scale + rest).substr(1);  // leading zeros kept
        while (!fraction.empty() && fraction.back() == '0') {
            fraction.pop_back();
        }
        text += "." + fraction;
    }
    return text;
}

}  // namespace

bool ParseTime(std::string_view text, std::int64_t& us) {
    std::int64_t whole = 0;
    std::int64_t fraction = 0;
    std::size_t digits = 0;
    if (!ParseDecimal(text, 3, whole, fraction, digits) || whole > kLongestTimeUs / 1000) {
        return false;
    }
    const std::int64_t value = whole * 1000 + fraction * kPowers[3 - digits];
    if (value > kLongestTimeUs) {
        return false;
    }
    us = value;
    return true;
}

std::string FormatTime(std::int64_t us) {
    return Scaled(us, 1000);
}

bool ParseAmount(std::string_view text, std::int64_t& bytes) {
    std::int64_t unit = 1;
    if (!text.empty()) {
        switch (text.back()) {
            case 'K':
                unit = 1000;
                break;
            case 'M':
                unit = 1000000;
                break;
            case 'G':
                unit = 1000000000;
                break;
            default:
                break;
        }
        if (unit != 1) {
            text.remove_suffix(1);
        }
    }
    std::int64_t whole = 0;
    std::int64_t fraction = 0;
    std::size_t digits = 0;
    if (!ParseDecimal(text, 9, whole, fraction, digits) || whole > kLargestAmount / unit) {
        return false;
    }
    // The fraction's bytes must be whole: 1.5K is 1500 bytes, 1.0005K is none.
    const std::int64_t fractionBytes = fraction * unit;
    if (fractionBytes % kPowers[digits] != 0) {
        return false;
    }
    const std::int64_t value = whole * unit + fractionBytes / kPowers[digits];
    if (value > kLargestAmount) {
        return false;
    }
    bytes = value;
    return true;
}

std::string FormatAmount(std::int64_t bytes) {
    struct Unit {
        std::int64_t size;
        char letter;
    };
    for (const Unit unit : {Unit{1000000000, 'G'}, Unit{1000000, 'M'}, Unit{1000, 'K'}}) {
        if (bytes >= unit.size && bytes % (unit.size / 1000) == 0) {
            return Scaled(bytes, unit.size) + unit.letter;
        }
    }
    return std::to_string(bytes);
}

bool ParsePercent(std::string_view text, std::uint32_t& ppm) {
    std::int64_t whole = 0;
    std::int64_t fraction = 0;
    std::size_t digits = 0;
    if (!ParseDecimal(text, 4, whole, fraction, digits) || whole > 100) {
        return false;
    }
    const std::int64_t value = whole * 10000 + fraction * kPowers[4 - digits];
    if (value > 1000000) {
        return false;
    }
    ppm = static_cast<std::uint32_t>(value);
    return true;
}

std::string FormatPercent(std::uint32_t ppm) {
    return Scaled(ppm, 10000);
}

bool ParseEnding(std::string_view text, Ending& ending) {
    if (text == "close") {
        ending = Ending::Close;
    } else if (text == "reset") {
        ending = Ending::Reset;
    } else {
        return false;
    }
    return true;
}

bool SplitFields(std::string_view text, std::size_t most, std::vector<std::string_view>& fields) {
    fields.clear();
    for (;;) {
        const std::size_t comma = text.find(',');
        fields.push_back(text.substr(0, comma));
        if (fields.back().empty() || fields.size() > most) {
            return false;
        }
        if (comma == std::string_view::npos) {
            return true;
        }
        text.remove_prefix(comma + 1);
    }
}

bool ParseWithEnding(std::string_view value, std::int64_t& number, Ending& ending, bool time) {
    std::vector<std::string_view> fields;
    std::int64_t parsed = 0;
    Ending parsedEnding = Ending::Close;
    if (!SplitFields(value, 2, fields) ||
        !(time ? ParseTime(fields[0], parsed) : ParseAmount(fields[0], parsed)) ||
        (fields.size() > 1 && !ParseEnding(fields[1], parsedEnding))) {
        return false;
    }
    number = parsed;
    ending = parsedEnding;
    return true;
}

std::string FormatWithEnding(std::int64_t number, Ending ending, bool time) {
    std::string text = time ? FormatTime(number) : FormatAmount(number);
    if (ending == Ending::Reset) {
        text += ",reset";
    }
    return text;
}

}  // namespace corvane::relay
