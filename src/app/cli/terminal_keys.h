// Single keys from a terminal on standard input: the terminal is put in cbreak mode (no line
// editing, no echo; Ctrl+C still raises SIGINT) and each byte read is handed to the
// callback from the event loop. The terminal's own mode is put back on destruction, and by
// Restore() earlier (the program restores it before it writes its last lines).
#pragma once

#include <termios.h>

#include <functional>
#include <memory>

class QSocketNotifier;

namespace corvane::cli {

class TerminalKeys {
public:
    // Does nothing unless fd is a terminal whose mode can be read and set.
    TerminalKeys(int fd, std::function<void(char key)> onKey);
    ~TerminalKeys();
    TerminalKeys(const TerminalKeys&) = delete;
    TerminalKeys& operator=(const TerminalKeys&) = delete;

    bool Active() const { return active_; }
    // The terminal's mode as it was; no keys are read from then on.
    void Restore();

private:
    void OnReadable();

    int fd_;
    std::function<void(char)> onKey_;
    termios saved_{};
    bool active_ = false;
    std::unique_ptr<QSocketNotifier> notifier_;
};

}  // namespace corvane::cli
