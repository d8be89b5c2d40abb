#include "app/cli/colour_escape.h"

#include <unistd.h>
#include <cstdlib>

namespace corvane::cli {

std::string_view ColourEscape(log::Colour colour) {
    switch (colour) {
        case log::ColourOf(log::LogKind::Message):
            return "\x1b[34m";
        case log::ColourOf(log::LogKind::Inform):
            return "\x1b[31m";
        case log::ColourOf(log::LogKind::Error):
            return "\x1b[91m";
        case log::kPurple:
            return "\x1b[35m";
        default:
            return {};
    }
}

bool WantColour(int fd) {
    const char* noColour = std::getenv("NO_COLOR");
    if (noColour != nullptr && noColour[0] != '\0') {
        return false;
    }
    return ::isatty(fd) == 1;
}

}  // namespace corvane::cli
