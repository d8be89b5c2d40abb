// The rejection of a command: a message and the edit box that takes the focus.
#pragma once

#include <string>
#include <string_view>

namespace corvane::control {

// ListenAddress and CaptureFile are the Options dialog's boxes, not among the main window's
// four, KeptStreams its Keep Streams row (or "-streams"); a rejection names them so that the
// front-end can show where they are set.
enum class EditBox {
    RemoteHost,
    RemotePort,
    LocalPort,
    LogFile,
    ListenAddress,
    CaptureFile,
    KeptStreams
};

struct CommandError {
    std::string message;  // without its full stop, e.g. "Remote Host required"
    EditBox focus;
};

// The message as the error box shows it: a full stop appended when the text ends in a
// character that sorts after "." (so "Remote Host required" gains one, "..." does not).
std::string WithFullStop(std::string_view message);

}  // namespace corvane::control
