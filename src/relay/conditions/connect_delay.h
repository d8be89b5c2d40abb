// Connect delay, per Connection: the connect to the Server starts this long after the Client
// connected, as a slow server's accept would make it. What the Client sends meanwhile waits
// in its Channel. Taken by new Connections.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "relay/conditions/values.h"

namespace corvane::relay {

struct ConnectDelay {
    std::int64_t us = 0;

    bool On() const { return us > 0; }
    // "MS"
    bool Parse(std::string_view value) { return ParseTime(value, us); }
    std::string Format() const { return FormatTime(us); }

    bool operator==(const ConnectDelay&) const = default;
};

}  // namespace corvane::relay
