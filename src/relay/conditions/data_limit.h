// Data limit, per direction: once this many bytes have been passed on in the direction, the
// Connection is ended with a close or a reset ("Data limit reached to Server"). Nothing
// beyond the limit is passed on; with a limit of 0, the first byte ends the Connection.
// Taken by new Connections.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "relay/conditions/values.h"

namespace corvane::relay {

struct DataLimit {
    std::int64_t bytes = -1;  // -1: none
    Ending ending = Ending::Close;

    bool On() const { return bytes >= 0; }
    // "BYTES[,reset]"
    bool Parse(std::string_view value);
    std::string Format() const;
    // Of `ready` bytes that could go after `passed` went before them, those that may.
    std::int64_t Allowed(std::int64_t passed, std::int64_t ready) const {
        return On() && bytes - passed < ready ? bytes - passed : ready;
    }
    // The Connection ends: the limit has been passed on, or 0 allows nothing of what waits.
    bool Reached(std::int64_t passed, std::int64_t held) const {
        return On() && passed >= bytes && (passed > 0 || held > 0);
    }

    bool operator==(const DataLimit&) const = default;
};

}  // namespace corvane::relay
