#include "app/cli/hangup_close.h"

#include <fcntl.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <atomic>
#include <cerrno>
#include <csignal>

namespace corvane::cli {

namespace {

std::atomic<int> gHangupPipe{-1};
struct sigaction gPreviousHup {};

extern "C" void OnHangup(int) {
    const int savedErrno = errno;
    const int fd = gHangupPipe.load();
    if (fd >= 0) {
        const char one = 1;
        [[maybe_unused]] const ssize_t written = ::write(fd, &one, 1);
    }
    errno = savedErrno;
}

}  // namespace

HangupClose::HangupClose(std::function<void(bool ignored)> onHangup)
    : onHangup_(std::move(onHangup)) {
    struct sigaction current {};
    if (::sigaction(SIGHUP, nullptr, &current) != 0) {
        return;
    }
    ignored_ = current.sa_handler == SIG_IGN;
    if (::pipe2(pipe_, O_NONBLOCK | O_CLOEXEC) != 0) {
        pipe_[0] = pipe_[1] = -1;
        return;
    }
    notifier_ = std::make_unique<QSocketNotifier>(pipe_[0], QSocketNotifier::Read);
    QObject::connect(notifier_.get(), &QSocketNotifier::activated, notifier_.get(), [this] {
        char drained[64];
        while (::read(pipe_[0], drained, sizeof drained) > 0) {
        }
        if (onHangup_) {
            onHangup_(ignored_);
        }
    });
    gHangupPipe.store(pipe_[1]);
    struct sigaction action {};
    action.sa_handler = OnHangup;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    installed_ = ::sigaction(SIGHUP, &action, &gPreviousHup) == 0;
}

HangupClose::~HangupClose() {
    if (installed_) {
        ::sigaction(SIGHUP, &gPreviousHup, nullptr);
    }
    gHangupPipe.store(-1);
    notifier_.reset();
    for (int& fd : pipe_) {
        if (fd >= 0) {
            ::close(fd);
            fd = -1;
        }
    }
}

}  // namespace corvane::cli
