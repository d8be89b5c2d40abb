// Refuse: new Clients are accepted and closed at once, or reset at once ("Refused by
// conditions"), or left waiting in the Local Port's backlog until refusing is turned off; the
// Local Port stays open throughout. Connections already relaying go on.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace corvane::relay {

enum class Refusal : std::uint8_t { None, Close, Reset, Hold };

struct Refuse {
    Refusal mode = Refusal::None;

    bool On() const { return mode != Refusal::None; }
    // "close", "reset" or "hold"
    bool Parse(std::string_view value);
    std::string Format() const;

    bool operator==(const Refuse&) const = default;
};

}  // namespace corvane::relay
