// The terminal front-end: the relay control with its views made of the terminal. Standard
// output gets the log lines, standard error the status line and the messages, standard
// input (a terminal) the keys p, r, z, c and q.
//
//   Run: arguments -> settings (none stored) -> socket layer -> Start -> event loop
//   -> q, SIGINT, SIGTERM, SIGHUP: Stop, exit 0  |  the relay stops by itself: exit 1
//   (SIGHUP after a log rotation tool moved a file away: the file is reopened instead)
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <QTimer>

#include "app/cli/cli_control_view.h"
#include "app/cli/conditions_file.h"
#include "app/cli/hangup_close.h"
#include "app/cli/socket_layer.h"
#include "app/cli/status_line.h"
#include "app/cli/terminal_keys.h"
#include "app/cli/terminal_output.h"
#include "control/relay_control.h"

class QEventLoop;

namespace corvane::cli {

// The log queue is drained at least this often under load (and at every idle moment).
constexpr int kDrainIntervalMs = 20;
// Bounds of one drain pass, so that the relay keeps its turn.
constexpr int kRunsPerPass = 4096;
constexpr std::size_t kBytesPerPass = 32u << 20;
// At the end, a reader that takes nothing for this long is given up on.
constexpr int kFinalWriteMs = 5000;

struct Terminal {
    int in = 0;
    int out = 1;
    int err = 2;
    bool colour = false;        // escape sequences on standard output
    bool status = false;        // the status line on standard error
    bool sharedScreen = false;  // standard output and standard error are one terminal
};

// What the three standard descriptors are (and NO_COLOR).
Terminal DetectTerminal();

class CliApp {
public:
    explicit CliApp(const Terminal& terminal);
    ~CliApp();
    CliApp(const CliApp&) = delete;
    CliApp& operator=(const CliApp&) = delete;

    // The whole run; args are the arguments after the program's name. Returns the exit
    // code: kExitUsage, kExitFailure or, after a stop by the user, kExitOk.
    int Run(const std::vector<std::string>& args);

private:
    void Drain();
    void MoveRuns(int limit);
    void WriteOutput(std::size_t maxBytes);
    void OnKey(char key);
    // The key c: the table of live Connections on standard error.
    void PrintConnections();
    void OnRunningState(bool running);
    // Finish from the event loop, never from inside the engine's own call.
    void RequestFinish(int code, bool stopRelay);
    void Finish(int code, bool stopRelay);
    void ReportErrors();
    void Detach();

    Terminal terminal_;
    StatusLine status_;
    TerminalOutput output_;
    CliControlView view_;
    std::optional<SocketLayer> sockets_;  // before the control: shut down after the engine
    control::RelayControl control_;       // after its views: it uses them until it is gone
    std::unique_ptr<TerminalKeys> keys_;
    std::unique_ptr<HangupClose> hangup_;
    std::unique_ptr<ConditionsFile> conditionsFile_;  // "-conditions <file>"
    QTimer drainTimer_;
    QEventLoop* loop_ = nullptr;
    bool started_ = false;
    bool finishRequested_ = false;
    bool finished_ = false;
};

}  // namespace corvane::cli
