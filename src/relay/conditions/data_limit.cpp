#include "relay/conditions/data_limit.h"

namespace corvane::relay {

bool DataLimit::Parse(std::string_view value) {
    return ParseWithEnding(value, bytes, ending, false);
}

std::string DataLimit::Format() const {
    return FormatWithEnding(bytes, ending, false);
}

}  // namespace corvane::relay
