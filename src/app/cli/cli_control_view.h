// The relay control's view in a terminal: the four edit boxes are plain texts, the error
// box is a line on standard error, the close question is always answered Yes, and closing
// the window is the program's own end (a callback).
#pragma once

#include <array>
#include <functional>
#include <string>
#include <string_view>

#include "control/control_view.h"

namespace corvane::cli {

class StatusLine;

class CliControlView final : public control::ControlView {
public:
    // errorFd: where messages go (standard error); status: shows Paused and Started.
    CliControlView(int errorFd, StatusLine& status);

    std::string EditText(control::EditBox box) const override;
    void SetEditText(control::EditBox box, std::string_view text) override;
    void FocusEdit(control::EditBox box) override { focus_ = box; }
    void ShowPaused(bool paused) override;
    // The message with its full stop, as the window's error box shows it, on one line.
    void ShowError(std::string_view message) override;
    void ShowSocketError(std::string_view text) override;
    bool AskCloseQuestion() override { return true; }
    void CheckHexOnly(bool) override {}
    void CloseWindow() override;

    // Called by CloseWindow (SIGINT and SIGTERM arrive this way).
    std::function<void()> onClose;

    control::EditBox Focus() const { return focus_; }
    // Writes text and a line end to the error descriptor.
    void WriteLine(std::string_view text) const;

private:
    int errorFd_;
    StatusLine& status_;
    std::array<std::string, 5> texts_;  // by EditBox
    control::EditBox focus_ = control::EditBox::RemoteHost;
};

}  // namespace corvane::cli
