#include "app/cli/terminal_keys.h"

#include <unistd.h>

#include <QSocketNotifier>

namespace corvane::cli {

TerminalKeys::TerminalKeys(int fd, std::function<void(char key)> onKey)
    : fd_(fd), onKey_(std::move(onKey)) {
    if (::isatty(fd_) != 1 || ::tcgetattr(fd_, &saved_) != 0) {
        return;
    }
    termios raw = saved_;
    raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
    raw.c_cc[VMIN] = 1;
    raw.c_cc[VTIME] = 0;
    if (::tcsetattr(fd_, TCSANOW, &raw) != 0) {
        return;
    }
    active_ = true;
    notifier_ = std::make_unique<QSocketNotifier>(fd_, QSocketNotifier::Read);
    QObject::connect(notifier_.get(), &QSocketNotifier::activated, notifier_.get(),
                     [this] { OnReadable(); });
}

TerminalKeys::~TerminalKeys() {
    Restore();
}

void TerminalKeys::Restore() {
    notifier_.reset();
    if (active_) {
        ::tcsetattr(fd_, TCSANOW, &saved_);
        active_ = false;
    }
}

void TerminalKeys::OnReadable() {
    char keys[64];
    const ssize_t n = ::read(fd_, keys, sizeof keys);
    if (n <= 0) {
        // The terminal has gone (hang-up): no more keys, and no busy loop on it.
        notifier_->setEnabled(false);
        return;
    }
    for (ssize_t i = 0; i < n && active_; ++i) {
        onKey_(keys[i]);
    }
}

}  // namespace corvane::cli
