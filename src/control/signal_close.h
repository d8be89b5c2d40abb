// SIGINT and SIGTERM turned into a call on the event loop: the handler only writes the
// signal's number to a pipe, and a socket notifier on the pipe's other end runs the callback
// from the loop, where everything may be done (stopping the relay, closing files, quitting).
#pragma once

#include <functional>
#include <memory>

class QSocketNotifier;

namespace corvane::control {

class SignalClose {
public:
    // Installs the handlers for SIGINT and SIGTERM. One instance at a time; a second one
    // while the first lives takes the signals over. The callback gets the signal's number
    // and runs once per signal received, from the event loop; it must not destroy this
    // object itself (closing a window, which ends the loop later, is fine).
    explicit SignalClose(std::function<void(int signal)> onSignal);
    // Restores the handlers that were in place before.
    ~SignalClose();
    SignalClose(const SignalClose&) = delete;
    SignalClose& operator=(const SignalClose&) = delete;

    // False when the pipe or the handlers could not be set up (nothing is caught then).
    bool Installed() const { return installed_; }

private:
    void OnReadable();

    std::function<void(int)> onSignal_;
    int pipe_[2] = {-1, -1};
    std::unique_ptr<QSocketNotifier> notifier_;
    bool installed_ = false;
};

}  // namespace corvane::control
