// SIGHUP, the terminal going away (a closed window, a dropped remote session), ends the run
// the way SIGTERM does, so that the Log File still gets its buffered lines and its closing
// lines. A program started with SIGHUP ignored (nohup) keeps ignoring it. As with SIGINT and
// SIGTERM, the handler only writes to a pipe; the callback runs from the event loop.
#pragma once

#include <functional>
#include <memory>

class QSocketNotifier;

namespace corvane::cli {

class HangupClose {
public:
    // One instance at a time.
    explicit HangupClose(std::function<void()> onHangup);
    // Puts the previous handler back.
    ~HangupClose();
    HangupClose(const HangupClose&) = delete;
    HangupClose& operator=(const HangupClose&) = delete;

    bool Installed() const { return installed_; }

private:
    std::function<void()> onHangup_;
    int pipe_[2] = {-1, -1};
    std::unique_ptr<QSocketNotifier> notifier_;
    bool installed_ = false;
};

}  // namespace corvane::cli
