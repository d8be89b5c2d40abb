#include "relay/conditions/latency.h"

#include <vector>

#include "relay/conditions/values.h"

namespace corvane::relay {

bool Latency::Parse(std::string_view value) {
    std::vector<std::string_view> fields;
    Latency parsed;
    if (!SplitFields(value, 3, fields) || !ParseTime(fields[0], parsed.us) ||
        (fields.size() > 1 && !ParseTime(fields[1], parsed.jitterUs))) {
        return false;
    }
    if (fields.size() > 2) {
        if (fields[2] == "normal") {
            parsed.shape = JitterShape::Normal;
        } else if (fields[2] != "uniform") {
            return false;
        }
    }
    *this = parsed;
    return true;
}

std::string Latency::Format() const {
    std::string text = FormatTime(us);
    if (jitterUs != 0 || shape != JitterShape::Uniform) {
        text += "," + FormatTime(jitterUs);
    }
    if (shape == JitterShape::Normal) {
        text += ",normal";
    }
    return text;
}

std::int64_t Latency::DelayNs(Random& random) const {
    double delay = static_cast<double>(us);
    if (jitterUs != 0) {
        const double draw = shape == JitterShape::Normal ? random.Normal() : random.Signed();
        delay += draw * static_cast<double>(jitterUs);
    }
    return delay <= 0 ? 0 : static_cast<std::int64_t>(delay * 1000.0);
}

}  // namespace corvane::relay
