#include "control/signal_close.h"

#include <fcntl.h>
#include <unistd.h>
#include <QSocketNotifier>
#include <atomic>
#include <cerrno>
#include <csignal>

namespace corvane::control {
namespace {

// The write end of the live instance's pipe; the handler may use nothing else.
std::atomic<int> gWriteEnd{-1};
struct sigaction gPreviousInt {};
struct sigaction gPreviousTerm {};

extern "C" void OnSignal(int signal) {
    const int savedErrno = errno;  // the interrupted code may be about to read errno
    const int fd = gWriteEnd.load();
    if (fd >= 0) {
        const unsigned char number = static_cast<unsigned char>(signal);
        // A full pipe already holds signals enough to close the window: dropping is fine.
        [[maybe_unused]] const ssize_t written = ::write(fd, &number, 1);
    }
    errno = savedErrno;
}

}  // namespace

SignalClose::SignalClose(std::function<void(int signal)> onSignal)
    : onSignal_(std::move(onSignal)) {
    if (::pipe2(pipe_, O_NONBLOCK | O_CLOEXEC) != 0) {
        pipe_[0] = pipe_[1] = -1;
        return;
    }
    notifier_ = std::make_unique<QSocketNotifier>(pipe_[0], QSocketNotifier::Read);
    QObject::connect(notifier_.get(), &QSocketNotifier::activated, notifier_.get(),
                     [this] { OnReadable(); });
    gWriteEnd.store(pipe_[1]);

    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    installed_ = ::sigaction(SIGINT, &action, &gPreviousInt) == 0 &&
                 ::sigaction(SIGTERM, &action, &gPreviousTerm) == 0;
}

SignalClose::~SignalClose() {
    if (installed_) {
        ::sigaction(SIGINT, &gPreviousInt, nullptr);
        ::sigaction(SIGTERM, &gPreviousTerm, nullptr);
    }
    int expected = pipe_[1];
    gWriteEnd.compare_exchange_strong(expected, -1);
    notifier_.reset();
    for (int& fd : pipe_) {
        if (fd >= 0) {
            ::close(fd);
            fd = -1;
        }
    }
}

void SignalClose::OnReadable() {
    // Bounded: the pipe holds at most what the handler managed to write, read in batches.
    unsigned char numbers[64];
    for (int batch = 0; batch < 16; ++batch) {
        const ssize_t n = ::read(pipe_[0], numbers, sizeof numbers);
        if (n <= 0) {
            return;
        }
        for (ssize_t i = 0; i < n; ++i) {
            if (onSignal_) {
                onSignal_(numbers[i]);
            }
        }
    }
}

}  // namespace corvane::control
