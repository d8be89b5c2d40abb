// What the relay control shows and asks: the four edit boxes, the Pause/Resume controls, the
// error box, the close question, Hex Only's check mark, and the closing of the window. The
// window implements it with widgets, tests with recorders, the terminal front-end with its
// terminal. The controls of the running state are relay::RelayView::ShowRunningState.
#pragma once

#include <string>
#include <string_view>

#include "control/command_error.h"
#include "control/settings.h"

namespace corvane::control {

inline constexpr const char* kCloseQuestion = "Do you want to stop processing and exit?";
inline constexpr const char* kCloseQuestionCaption = "Confirm";
inline constexpr const char* kErrorBoxCaption = "Corvane";
inline constexpr const char* kSocketErrorCaption = "Error";
inline constexpr const char* kPauseHint = "Pause|Temporarily discontinue transferring data";
inline constexpr const char* kResumeHint = "Resume|Continue transferring data";

class ControlView {
public:
    // The text of an edit box (EditRemoteHost, EditRemotePort, EditLocalPort, EditLogFile).
    virtual std::string EditText(EditBox box) const = 0;
    virtual void SetEditText(EditBox box, std::string_view text) = 0;
    // The edit box becomes the window's focused control.
    virtual void FocusEdit(EditBox box) = 0;

    // paused: MenuItemPause and ButtonPause disabled, MenuItemResume and ButtonResume
    // enabled, panel 2 "Paused", SpeedButtonPause down with the hint kResumeHint.
    // Not paused: the reverse, panel 2 "Started", SpeedButtonPause up with kPauseHint.
    virtual void ShowPaused(bool paused) = 0;

    // The error box of a rejected command: WithFullStop(message), caption "Corvane", the
    // error icon and an OK button. Modal; returns when it is dismissed.
    virtual void ShowError(std::string_view message) = 0;
    // The socket layer could not start: text (a socket error text) in a dialog captioned
    // "Error" with one OK button.
    virtual void ShowSocketError(std::string_view text) = 0;
    // kCloseQuestion, caption "Confirm", question icon, Yes and No; true for Yes.
    virtual bool AskCloseQuestion() = 0;

    // MenuItemHexOnly's check mark.
    virtual void CheckHexOnly(bool on) = 0;
    // The window's outer size as read from the store, applied at once to the still hidden
    // window: the width when loaded.WidthRead, the height when loaded.HeightRead. It comes
    // before the socket layer starts, whose failure closes the window, and that close
    // saves the window's size. A view without a window has nothing to do.
    virtual void ApplyStoredSize(const LoadedSettings& /*loaded*/, const Settings& /*settings*/) {}
    // Whether Network Conditions are in force (set.On()): the window's indicator, which no
    // one should miss while a condition slows or breaks the relay. Nothing without one.
    virtual void ShowConditions(const relay::Conditions& /*set*/) {}
    // Closes the main window the way its own close does (the close question, then
    // RelayControl::OnClose); a window that was never shown ends the program.
    virtual void CloseWindow() = 0;

protected:
    ~ControlView() = default;
};

}  // namespace corvane::control
