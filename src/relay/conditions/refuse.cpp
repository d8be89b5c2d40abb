#include "relay/conditions/refuse.h"

namespace corvane::relay {

bool Refuse::Parse(std::string_view value) {
    if (value == "close") {
        mode = Refusal::Close;
    } else if (value == "reset") {
        mode = Refusal::Reset;
    } else if (value == "hold") {
        mode = Refusal::Hold;
    } else {
        return false;
    }
    return true;
}

std::string Refuse::Format() const {
    switch (mode) {
        case Refusal::Close:
            return "close";
        case Refusal::Reset:
            return "reset";
        case Refusal::Hold:
            return "hold";
        case Refusal::None:
            break;
    }
    return {};
}

}  // namespace corvane::relay
