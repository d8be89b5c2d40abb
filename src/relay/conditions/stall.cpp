#include "relay/conditions/stall.h"

#include <vector>

namespace corvane::relay {

bool Stall::Parse(std::string_view value) {
    std::vector<std::string_view> fields;
    Stall parsed;
    if (!SplitFields(value, 3, fields) || !ParseTime(fields[0], parsed.afterUs) ||
        (fields.size() > 1 && !ParseTime(fields[1], parsed.endUs)) ||
        (fields.size() > 2 && !ParseEnding(fields[2], parsed.ending))) {
        return false;
    }
    *this = parsed;
    return true;
}

std::string Stall::Format() const {
    std::string text = FormatTime(afterUs);
    if (endUs >= 0) {
        text += "," + FormatWithEnding(endUs, ending, true);
    }
    return text;
}

}  // namespace corvane::relay
