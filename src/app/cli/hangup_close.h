// SIGHUP, the terminal going away (a closed window, a dropped remote session), ends the run
// the way SIGTERM does, so that the Log File still gets its buffered lines and its closing
// lines. SIGHUP is also what log rotation tools send after they have moved a log away: the
// callback is told whether the program was started with SIGHUP ignored (nohup), and then
// only reopens the files that were moved, never ends the run. As with SIGINT and SIGTERM, the
// handler only writes to a pipe; the callback runs from the event loop.
#pragma once

#include <functional>
#include <memory>

class QSocketNotifier;

namespace corvane::cli {

class HangupClose {
public:
    // One instance at a time. onHangup(ignored): ignored when SIGHUP was ignored at the start.
    explicit HangupClose(std::function<void(bool ignored)> onHangup);
    // Puts the previous handler back.
    ~HangupClose();
    HangupClose(const HangupClose&) = delete;
    HangupClose& operator=(const HangupClose&) = delete;

    bool Installed() const { return installed_; }

private:
    std::function<void(bool ignored)> onHangup_;
    bool ignored_ = false;
    int pipe_[2] = {-1, -1};
    std::unique_ptr<QSocketNotifier> notifier_;
    bool installed_ = false;
};

}  // namespace corvane::cli
