// The relay's control: Start, Stop, Pause, Resume and Reset, the close of the window, the
// settings and the start-up order. It owns the Settings, the traffic log and the relay
// engine; the window (or the terminal front-end) owns it and implements its views.
//
// Start-up, as the window calls it while it is still hidden:
//     RelayControl control(view, relayView, &logView, &menuView);
//     if (control.Initialise(arguments) == StartupResult::UsageError) -> show kUsageText, end
//     (the stored size reaches the window through ControlView::ApplyStoredSize)
//     InstallSignalClose(); show the window; call OnIdle() whenever the event loop has
//     emptied its queue.
// Closing: the window's close query calls CloseQuery(), its close calls OnClose(w, h).
// A terminal front-end that keeps no settings calls ApplyCommandLine and ApplySettings
// instead of Initialise (and StartSockets, or WSAStartup itself when it has no panel for the
// local address), and Stop instead of OnClose.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "control/command_line.h"
#include "control/control_view.h"
#include "control/settings.h"
#include "control/start_check.h"
#include "log/run_store.h"
#include "log/traffic_log.h"
#include "relay/relay_engine.h"

namespace corvane::log {
class LogView;
class LogMenuView;
}  // namespace corvane::log

namespace corvane::control {

class SignalClose;

inline constexpr const char* kStoppedByUser = "Stopped by user";

enum class StartResult {
    Started,   // running (also while the Remote Host is being looked up)
    Rejected,  // a check failed: the edit box has the focus, the error box was shown
    NotBegun,  // BeginRelay failed: the reason is in the log, the Log File is closed
};

enum class StartupResult {
    Ready,         // settings loaded, command line applied, socket layer started
    UsageError,    // the command line is wrong: show kUsageText, end with exit code 0
    SocketsFailed  // the socket error was shown and the window asked to close
};

class RelayControl {
public:
    // The log views may be null (nothing is shown then); the others must outlive this.
    RelayControl(ControlView& view, relay::RelayView& relayView, log::LogView* logView,
                 log::LogMenuView* menuView);
    // Cancels a pending local look-up and shuts the socket layer down when it was started.
    ~RelayControl();
    RelayControl(const RelayControl&) = delete;
    RelayControl& operator=(const RelayControl&) = delete;

    log::TrafficLog& Log() { return log_; }
    relay::RelayEngine& Engine() { return engine_; }
    // The settings as loaded and applied; the texts here are those of the start, the live
    // ones are the view's edit boxes (CurrentSettings gathers them).
    const Settings& StartSettings() const { return settings_; }
    const LoadedSettings& LoadResult() const { return loaded_; }
    // The Capture File that Start opens ("" for none), cut to the Log File's limit; it is
    // saved with the settings.
    const std::string& CaptureFile() const { return settings_.CaptureFile; }
    void SetCaptureFile(std::string name) {
        settings_.CaptureFile = CutToLimit(std::move(name), kLogFileLimit);
    }

    bool Running() const { return engine_.Running(); }
    bool Paused() const { return log_.Paused(); }

    // --- Start-up --------------------------------------------------------------------------
    // The whole start-up of a hidden window: LoadStoredSettings, ApplyCommandLine (a usage
    // error stops here: nothing started, nothing to be written), ApplySettings, StartSockets.
    // args are the arguments after the program's name.
    StartupResult Initialise(const std::vector<std::string>& args);
    // LoadSettings from the user's store ("Halvard", "Corvane"), then the size that was
    // read to the view's window (ControlView::ApplyStoredSize), and the kept preset's set
    // as the conditions (none when it cannot be read: no run begins with a set that was not
    // asked for).
    void LoadStoredSettings();
    // terminal: the terminal program's grammar ("-conditions <file>" too).
    CommandLineResult ApplyCommandLine(const std::vector<std::string>& args, bool terminal = false);
    // After a usage error: the line that names a condition's switch whose value was wrong
    // ("bad value for -latency: abc"), or empty. UsageErrorText puts it before the usage.
    const std::string& UsageProblem() const { return usageProblem_; }
    // Gives the log its Buffer Size and Detail, the engine Hex Only, the edit boxes their
    // texts; then the Size and Detail check marks (Buffer Size snapped) and Hex Only's; then
    // the options (Time Stamps to the log).
    void ApplySettings();
    // WSAStartup(1.1), then the look-up of the local host's name. On failure: the socket
    // error text in the "Error" dialog, then the window is asked to close; false. Call once.
    bool StartSockets();

    // The first idle moment with "-auto" pending: AutoStart becomes -1 and Start runs, once.
    void OnIdle();

    // --- Commands ---------------------------------------------------------------------------
    StartResult Start();
    // Drops what waits for the view, logs "Stopped by user" (Error), StopRelay.
    void Stop();
    void Pause();
    // Clears Paused, catches the view up, shows the Resume controls, and reads every
    // Connection once per side (what arrived during the pause goes through now).
    void Resume();
    // Both Transferred counters to 0.
    void Reset();
    // Hex Only's menu command (available while stopped): 0 becomes 1, anything else 0.
    void ToggleHexOnly();
    std::uint32_t HexOnly() const { return engine_.HexOnly; }
    // Time Stamps ("-time", the Options dialog): may change while relaying; the lines
    // logged from then on begin with their time or not. Saved with the other settings.
    bool TimeStamps() const { return log_.TimeStamps; }
    void SetTimeStamps(bool on) { log_.TimeStamps = on; }
    // The Options dialog's Listen Address and Half Close: taken by the next Start, saved at
    // the close.
    const std::string& ListenAddress() const { return settings_.ListenAddress; }
    void SetListenAddress(std::string address) {
        settings_.ListenAddress = CutToLimit(std::move(address), kListenAddressLimit);
    }
    bool HalfClose() const { return settings_.HalfClose != 0; }
    void SetHalfClose(bool on) { settings_.HalfClose = on ? 1 : 0; }
    // The Options dialog's TLS rows: the sides (0 None, 1 Client, 2 Server, 3 Both), the
    // certificate and key files and the check of the Server's certificate; taken by the next
    // Start, saved at the close.
    std::uint32_t Tls() const { return settings_.Tls; }
    const std::string& TlsCert() const { return settings_.TlsCert; }
    const std::string& TlsKey() const { return settings_.TlsKey; }
    bool TlsVerify() const { return settings_.TlsVerify != 0; }
    void SetTls(std::uint32_t sides, std::string cert, std::string key, bool verify) {
        settings_.Tls = sides & 3u;
        settings_.TlsCert = CutToLimit(std::move(cert), kLogFileLimit);
        settings_.TlsKey = CutToLimit(std::move(key), kLogFileLimit);
        settings_.TlsVerify = verify ? 1 : 0;
    }

    // Network Conditions: the set in force (RelayEngine::ReplaceConditions says what applies
    // when). Taken at once: while stopped it waits for the next Start, which logs it with the
    // run's seed; while relaying it applies to live Connections as far as it can, and the log
    // says "Conditions now: ...". The view's indicator follows (ControlView::ShowConditions).
    // Never stored with the settings.
    const relay::Conditions& Conditions() const { return engine_.ConditionsInForce(); }
    void SetConditions(const relay::Conditions& set);
    // The preset the user chose last ("" for none, or when the set in force is no longer
    // one): saved with the settings, and LoadStoredSettings puts its set in force at the
    // next start (the command line's conditions then replace it, see ParseCommandLine).
    const std::string& ConditionsPreset() const { return settings_.ConditionsPreset; }
    void ChooseConditionsPreset(std::string name) { settings_.ConditionsPreset = std::move(name); }
    // Keep Streams (the Options dialog's row, "-streams"): the store's bound in bytes, 0 for
    // none; taken by the next Start, saved at the close. Start opens the store: the file of
    // "-streams" (a Start that cannot create it is rejected with "Could not create kept
    // streams file"), else this run's own in the user's cache directory (log/run_store.h;
    // when that cannot be made, the line is logged and relaying goes on without). Stop
    // closes it; the file stays readable (StreamsPath) until the next Start empties it.
    std::int64_t KeepStreams() const { return settings_.KeepStreams; }
    void SetKeepStreams(std::int64_t bytes) { settings_.KeepStreams = bytes < 0 ? 0 : bytes; }
    // The window's Connections pane as the window describes it; saved at the close.
    const std::string& ConnectionsPane() const { return settings_.ConnectionsPane; }
    void SetConnectionsPane(std::string text) {
        settings_.ConnectionsPane = CutToLimit(std::move(text), kLogFileLimit);
    }
    // The file of the store opened by the last Start ("" before any).
    const std::string& StreamsPath() const { return log_.Streams().Path(); }
    // Rotation of the Log File and the Capture File ("-rotate", "-parts", the Options
    // dialog): taken by the next Start, saved at the close. The rule is a text that
    // log::ParseRotation takes ("" for none).
    const std::string& Rotate() const { return settings_.Rotate; }
    std::uint32_t PartsKept() const { return settings_.PartsKept; }
    void SetRotation(std::string rule, std::uint32_t partsKept) {
        settings_.Rotate = CutToLimit(std::move(rule), kRotateLimit);
        settings_.PartsKept = partsKept;
    }

    // --- Closing ----------------------------------------------------------------------------
    // The close query: true when the window may close. Stopped, started with "-auto", or
    // closing on a signal: true without a question. Otherwise the question; Yes stops the
    // relay as Stop does and gives true, No gives false and changes nothing.
    bool CloseQuery();
    // The window's close: a relay still running (a run with "-auto", or a close on a signal)
    // is stopped first as Stop does, so that the Log File gets its end; then the settings
    // are saved with the window's outer size.
    void OnClose(std::int32_t width, std::int32_t height);
    // SIGINT and SIGTERM: the window is closed as by its own close, without the question.
    void CloseBySignal();
    // Catches SIGINT and SIGTERM for CloseBySignal from now until destruction.
    void InstallSignalClose();

    // The settings of this moment: the edit boxes' texts, the log's Buffer Size and Detail,
    // Hex Only, the options, AutoStart, and the size given.
    Settings CurrentSettings(std::int32_t width, std::int32_t height) const;

private:
    // Shuts the socket layer down when it was started, after the engine (declared after it)
    // has closed what it still held.
    struct SocketLayer {
        SocketLayer() = default;
        SocketLayer(const SocketLayer&) = delete;
        SocketLayer& operator=(const SocketLayer&) = delete;
        ~SocketLayer();
        bool started = false;
    };

    StartResult Reject(const CommandError& error);
    // Start's opening of the kept streams. False only for a "-streams" file that cannot be
    // created; runStoreFailed tells that this run's own store could not be made.
    bool OpenStreams(bool& runStoreFailed);

    ControlView& view_;
    Settings settings_;
    LoadedSettings loaded_;
    SocketLayer sockets_;
    log::TrafficLog log_;
    relay::RelayEngine engine_;  // after log_: it logs until it is gone
    // This run's store in the cache directory, made at the first Start that keeps streams.
    std::unique_ptr<log::RunStoreFile> runStore_;
    std::unique_ptr<SignalClose> signalClose_;
    bool usageError_ = false;
    std::string usageProblem_;
    bool closingBySignal_ = false;
};

}  // namespace corvane::control
