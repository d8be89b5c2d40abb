#include "log/rotation.h"

#include <algorithm>
#include <limits>

namespace corvane::log {

namespace {

constexpr std::int64_t kSecondsPerDay = 86400;
constexpr std::size_t kMaxDigits = 9;

// Days since 1970-01-01 of a date of the proleptic Gregorian calendar, and back.
std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
    y -= m <= 2 ? 1 : 0;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const auto yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

void CivilFromDays(std::int64_t z, std::tm& out) {
    z += 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const auto doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    const unsigned d = doy - (153 * mp + 2) / 5 + 1;
    const unsigned m = mp < 10 ? mp + 3 : mp - 9;
    const std::int64_t y = static_cast<std::int64_t>(yoe) + era * 400 + (m <= 2 ? 1 : 0);
    out.tm_year = static_cast<int>(y - 1900);
    out.tm_mon = static_cast<int>(m) - 1;
    out.tm_mday = static_cast<int>(d);
}

std::int64_t FloorDiv(std::int64_t a, std::int64_t b) {
    return a / b - ((a % b != 0 && (a < 0) != (b < 0)) ? 1 : 0);
}

// Where the extension begins: the last full stop of the last path component (after the
// last '\', '/' or drive colon, as IsHtmlLogName splits names), unless the component begins
// with it; the name's end when there is none.
std::size_t ExtensionStart(const std::string& name) {
    const std::size_t separator = name.find_last_of("\\/:");
    const std::size_t component = separator == std::string::npos ? 0 : separator + 1;
    const std::size_t dot = name.rfind('.');
    return dot != std::string::npos && dot > component ? dot : name.size();
}

// A positive number of at most kMaxDigits digits and the one letter after it.
bool SplitAmount(std::string_view piece, std::uint64_t& number, char& unit) {
    if (piece.size() < 2 || piece.size() > kMaxDigits + 1) {
        return false;
    }
    number = 0;
    for (const char c : piece.substr(0, piece.size() - 1)) {
        if (c < '0' || c > '9') {
            return false;
        }
        number = number * 10 + static_cast<std::uint64_t>(c - '0');
    }
    unit = piece.back();
    return number > 0;
}

}  // namespace

std::optional<RotationRule> ParseRotation(std::string_view text) {
    RotationRule rule;
    while (!text.empty()) {
        const std::size_t comma = text.find(',');
        const std::string_view piece = text.substr(0, comma);
        text = comma == std::string_view::npos ? std::string_view() : text.substr(comma + 1);
        if (comma != std::string_view::npos && text.empty()) {
            return std::nullopt;  // a trailing comma
        }
        std::uint64_t number = 0;
        char unit = 0;
        if (!SplitAmount(piece, number, unit)) {
            return std::nullopt;
        }
        if (unit == 'K' || unit == 'M' || unit == 'G') {
            const int shift = unit == 'K' ? 10 : unit == 'M' ? 20 : 30;
            if (rule.partBytes != 0) {
                return std::nullopt;
            }
            rule.partBytes = number << shift;
        } else if (unit == 's' || unit == 'm' || unit == 'h' || unit == 'd') {
            const std::uint64_t scale = unit == 's'   ? 1
                                        : unit == 'm' ? 60
                                        : unit == 'h' ? 3600
                                                      : 86400;
            if (rule.periodSeconds != 0 ||
                number > std::numeric_limits<std::uint32_t>::max() / scale) {
                return std::nullopt;
            }
            rule.periodSeconds = static_cast<std::uint32_t>(number * scale);
        } else {
            return std::nullopt;
        }
    }
    return rule;
}

std::time_t NextBoundary(std::time_t now, std::uint32_t periodSeconds) {
    std::tm local{};
    localtime_r(&now, &local);
    const std::int64_t civil =
        DaysFromCivil(local.tm_year + 1900, static_cast<unsigned>(local.tm_mon + 1),
                      static_cast<unsigned>(local.tm_mday)) *
            kSecondsPerDay +
        local.tm_hour * 3600 + local.tm_min * 60 + local.tm_sec;
    const std::int64_t period = periodSeconds;
    std::int64_t next = (FloorDiv(civil, period) + 1) * period;
    // A boundary that falls into the hour skipped or repeated when summer time begins or ends
    // may come out at or before now: the one after it is taken then.
    for (int tries = 0; tries < 4; ++tries, next += period) {
        std::tm boundary{};
        CivilFromDays(FloorDiv(next, kSecondsPerDay), boundary);
        const std::int64_t second = next - FloorDiv(next, kSecondsPerDay) * kSecondsPerDay;
        boundary.tm_hour = static_cast<int>(second / 3600);
        boundary.tm_min = static_cast<int>(second / 60 % 60);
        boundary.tm_sec = static_cast<int>(second % 60);
        boundary.tm_isdst = -1;
        const std::time_t t = std::mktime(&boundary);
        if (t > now) {
            return t;
        }
    }
    return now + static_cast<std::time_t>(period);
}

std::string PartName(const std::string& name, std::time_t start) {
    std::tm local{};
    localtime_r(&start, &local);
    char text[4096];
    if (name.find('%') != std::string::npos) {
        const std::size_t n = std::strftime(text, sizeof text, name.c_str(), &local);
        return n > 0 ? std::string(text, n) : name;
    }
    const std::size_t n = std::strftime(text, sizeof text, "-%Y%m%d-%H%M%S", &local);
    std::string part = name;
    part.insert(ExtensionStart(name), text, n);
    return part;
}

std::string RepeatedName(const std::string& name, int n) {
    std::string repeated = name;
    repeated.insert(ExtensionStart(name), "-" + std::to_string(n));
    return repeated;
}

timespec Rotation::RealClock() {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return now;
}

void Rotation::SetRule(const RotationRule& rule, std::uint32_t partsKept) {
    rule_ = rule;
    partsKept_ = partsKept;
}

void Rotation::Reset() {
    lastName_.clear();
    repeats_ = 0;
    parts_.clear();
}

std::string Rotation::NextPart(const std::string& name, std::vector<std::string>& expired) {
    const std::time_t now = Now();
    if (rule_.periodSeconds != 0) {
        boundary_ = NextBoundary(now, rule_.periodSeconds);
    }
    const std::string base = PartName(name, now);
    repeats_ = base == lastName_ ? repeats_ + 1 : 1;
    lastName_ = base;
    std::string part = repeats_ == 1 ? base : RepeatedName(base, repeats_);
    if (!rule_.Active()) {
        return part;
    }
    // A pattern that comes round again (an hour of the day) names an old part anew: that
    // part is emptied, and counts as the newest.
    parts_.erase(std::remove(parts_.begin(), parts_.end(), part), parts_.end());
    parts_.push_back(part);
    while (partsKept_ != 0 && parts_.size() > partsKept_) {
        expired.push_back(std::move(parts_.front()));
        parts_.pop_front();
    }
    return part;
}

}  // namespace corvane::log
