#include "app/cli/cli_control_view.h"

#include <unistd.h>
#include <cerrno>

#include "app/cli/status_line.h"
#include "control/command_error.h"

namespace corvane::cli {

CliControlView::CliControlView(int errorFd, StatusLine& status)
    : errorFd_(errorFd), status_(status) {}

std::string CliControlView::EditText(control::EditBox box) const {
    return texts_[static_cast<std::size_t>(box)];
}

void CliControlView::SetEditText(control::EditBox box, std::string_view text) {
    texts_[static_cast<std::size_t>(box)] = text;
}

void CliControlView::ShowPaused(bool paused) {
    status_.ShowPaused(paused);
}

void CliControlView::ShowError(std::string_view message) {
    WriteLine(control::WithFullStop(message));
}

void CliControlView::ShowSocketError(std::string_view text) {
    WriteLine(text);
}

void CliControlView::CloseWindow() {
    if (onClose) {
        onClose();
    }
}

void CliControlView::WriteLine(std::string_view text) const {
    status_.Erase();
    std::string line(text);
    line.push_back('\n');
    std::string_view rest = line;
    while (!rest.empty()) {
        const ssize_t r = ::write(errorFd_, rest.data(), rest.size());
        if (r < 0 && errno == EINTR) {
            continue;
        }
        if (r <= 0) {
            break;
        }
        rest.remove_prefix(static_cast<std::size_t>(r));
    }
    status_.Redraw();
}

}  // namespace corvane::cli
