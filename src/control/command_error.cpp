#include "control/command_error.h"

namespace corvane::control {

std::string WithFullStop(std::string_view message) {
    std::string shown(message);
    if (!shown.empty() && static_cast<unsigned char>(shown.back()) > '.') {
        shown += '.';
    }
    return shown;
}

}  // namespace corvane::control
