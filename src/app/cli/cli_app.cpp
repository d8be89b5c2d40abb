#include "app/cli/cli_app.h"

#include <sys/stat.h>
#include <unistd.h>

#include <QEventLoop>

#include "app/cli/cli_arguments.h"
#include "app/cli/colour_escape.h"
#include "app/cli/connection_table.h"
#include "platform/messages.h"
#include "relay/socket_error_text.h"

namespace corvane::cli {

namespace {

bool SameTerminal(int a, int b) {
    struct stat sa {};
    struct stat sb {};
    return ::isatty(a) == 1 && ::isatty(b) == 1 && ::fstat(a, &sa) == 0 && ::fstat(b, &sb) == 0 &&
           sa.st_rdev == sb.st_rdev;
}

// Enough runs to empty any queue the Log Buffer logic lets grow.
constexpr int kAllRuns = 1 << 22;

}  // namespace

Terminal DetectTerminal() {
    Terminal t;
    t.colour = WantColour(t.out);
    t.status = ::isatty(t.err) == 1;
    t.sharedScreen = SameTerminal(t.out, t.err);
    return t;
}

CliApp::CliApp(const Terminal& terminal)
    : terminal_(terminal),
      status_(terminal.err, terminal.status),
      output_(terminal.out, terminal.colour),
      view_(terminal.err, status_),
      control_(view_, status_, &output_, nullptr) {
    status_.onRunningState = [this](bool running) { OnRunningState(running); };
    view_.onClose = [this] { RequestFinish(kExitOk, true); };
    QObject::connect(&drainTimer_, &QTimer::timeout, &drainTimer_, [this] { Drain(); });
}

CliApp::~CliApp() {
    Detach();
}

int CliApp::Run(const std::vector<std::string>& args) {
    control::Settings parsed;
    std::string problem;
    if (!ParseCliArguments(args, parsed, &problem)) {
        view_.WriteLine(control::UsageErrorText(kCliUsageText, problem));
        return kExitUsage;
    }
    // The settings start from their defaults: nothing stored is read, nothing is written.
    (void)control_.ApplyCommandLine(args, true);
    control_.SetKeepStreams(parsed.KeepStreams);  // none without "-streams"
    control_.ApplySettings();
    if (!parsed.ConditionsFile.empty()) {
        conditionsFile_ = std::make_unique<ConditionsFile>(parsed.ConditionsFile, control_);
        conditionsFile_->ReadBeforeStart();
    }
    sockets_.emplace();
    if (sockets_->Error() != 0) {
        view_.ShowSocketError(relay::SocketErrorText(sockets_->Error()));
        return kExitFailure;
    }
    control_.InstallSignalClose();
    // A file moved away by a log rotation tool is reopened by its name; otherwise the
    // terminal has gone, unless SIGHUP was ignored (nohup).
    hangup_ = std::make_unique<HangupClose>([this](bool ignored) {
        if (!control_.Log().ReopenMovedFiles() && !ignored) {
            RequestFinish(kExitOk, true);
        }
    });
    keys_ = std::make_unique<TerminalKeys>(terminal_.in, [this](char key) { OnKey(key); });
    platform::SetIdleHandler([this] { Drain(); });
    drainTimer_.start(kDrainIntervalMs);

    switch (control_.Start()) {
        case control::StartResult::Rejected:
            Detach();
            return kExitFailure;  // the message is on standard error
        case control::StartResult::NotBegun:
            Finish(kExitFailure, false);
            Detach();
            return kExitFailure;
        case control::StartResult::Started:
            break;
    }
    started_ = true;
    if (conditionsFile_) {
        conditionsFile_->Watch();
    }
    status_.Refresh(true);

    QEventLoop loop;
    loop_ = &loop;
    const int code = loop.exec();
    loop_ = nullptr;
    Detach();
    return code;
}

void CliApp::Drain() {
    if (finished_) {
        return;
    }
    MoveRuns(kRunsPerPass);
    WriteOutput(kBytesPerPass);
    if (!terminal_.sharedScreen || !output_.MidLine()) {
        status_.Refresh();
    }
}

void CliApp::MoveRuns(int limit) {
    log::TrafficLog& log = control_.Log();
    for (int n = 0; n < limit && log.FlushLogRun(); ++n) {
    }
}

void CliApp::WriteOutput(std::size_t maxBytes) {
    if (!output_.HasUnwritten()) {
        return;
    }
    if (terminal_.sharedScreen) {
        status_.Erase();
    }
    output_.WriteAvailable(maxBytes);
    if (terminal_.sharedScreen && !output_.MidLine()) {
        status_.Redraw();
    }
}

void CliApp::OnKey(char key) {
    if (finished_ || !control_.Running()) {
        return;
    }
    switch (key) {
        case 'p':
            if (!control_.Paused()) {
                control_.Pause();
            }
            break;
        case 'r':
            if (control_.Paused()) {
                control_.Resume();
            }
            break;
        case 'z':
            control_.Reset();
            break;
        case 'c':
            PrintConnections();
            return;
        case 'q':
            RequestFinish(kExitOk, true);
            return;
        default:
            return;
    }
    status_.Refresh(true);
}

void CliApp::PrintConnections() {
    // Between status lines: WriteLine takes the line away and puts it back.
    std::string table = ConnectionTable(control_.Engine().LiveConnectionRows());
    table.pop_back();  // WriteLine ends the last line
    view_.WriteLine(table);
}

void CliApp::OnRunningState(bool running) {
    // Start's own change comes before started_ is set; a stop after it that nobody asked
    // for is the relay ending by itself (a failed look-up, a Local Port that would not open).
    if (!running && started_ && !finishRequested_) {
        RequestFinish(kExitFailure, false);
    }
}

void CliApp::RequestFinish(int code, bool stopRelay) {
    if (finishRequested_) {
        return;
    }
    finishRequested_ = true;
    QTimer::singleShot(0, &drainTimer_, [this, code, stopRelay] { Finish(code, stopRelay); });
}

void CliApp::Finish(int code, bool stopRelay) {
    if (finished_) {
        return;
    }
    finishRequested_ = true;
    // Stop drops what still waits for the view: show it first, as the view would have.
    MoveRuns(kAllRuns);
    if (stopRelay && control_.Running()) {
        control_.Stop();  // "Stopped by user", StopRelay: the Log File gets its closing lines
    }
    MoveRuns(kAllRuns);
    finished_ = true;
    if (keys_) {
        keys_->Restore();
    }
    status_.Erase();
    output_.WriteAll(kFinalWriteMs);
    if (code != kExitOk) {
        ReportErrors();
    }
    status_.Finish();
    if (loop_ != nullptr) {
        loop_->exit(code);
    }
}

void CliApp::ReportErrors() {
    // On a screen shared with standard output the lines are already in view.
    if (output_.ErrorText().empty() || (terminal_.sharedScreen && !output_.Broken())) {
        return;
    }
    std::string text = output_.ErrorText();
    if (text.back() == '\n') {
        text.pop_back();
    }
    view_.WriteLine(text);
}

void CliApp::Detach() {
    drainTimer_.stop();
    conditionsFile_.reset();
    platform::SetIdleHandler({});
    if (keys_) {
        keys_->Restore();
    }
}

}  // namespace corvane::cli
