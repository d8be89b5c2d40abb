#include "control/relay_control.h"

#include "control/signal_close.h"
#include "platform/settings_store.h"
#include "platform/winsock.h"
#include "relay/socket_error_text.h"

namespace corvane::control {

namespace {
constexpr std::uint16_t kSocketVersion11 = 0x0101;
}  // namespace

RelayControl::SocketLayer::~SocketLayer() {
    if (started) {
        platform::WSACleanup();
    }
}

RelayControl::RelayControl(ControlView& view, relay::RelayView& relayView, log::LogView* logView,
                           log::LogMenuView* menuView)
    : view_(view), engine_(log_, relayView) {
    log_.SetView(logView);
    log_.SetMenuView(menuView);
}

// The engine cancels a pending local look-up and closes what is still open; then the socket
// layer is shut down (members go in reverse order).
RelayControl::~RelayControl() = default;

// --- Start-up -------------------------------------------------------------------------------

StartupResult RelayControl::Initialise(const std::vector<std::string>& args) {
    // The stores that earlier runs of the window left behind (a crash, a kill) go now.
    log::RunStoreFile::RemoveAbandoned(log::RunStoreFile::DefaultFolder());
    LoadStoredSettings();
    if (ApplyCommandLine(args) == CommandLineResult::UsageError) {
        return StartupResult::UsageError;
    }
    ApplySettings();
    return StartSockets() ? StartupResult::Ready : StartupResult::SocketsFailed;
}

void RelayControl::LoadStoredSettings() {
    platform::SettingsKey key;
    loaded_ = LoadSettings(key, settings_);
    view_.ApplyStoredSize(loaded_, settings_);
}

CommandLineResult RelayControl::ApplyCommandLine(const std::vector<std::string>& args) {
    const CommandLineResult result = ParseCommandLine(args, settings_);
    // Nothing may reach the store after a usage error: the window is never shown.
    usageError_ = result == CommandLineResult::UsageError;
    return result;
}

void RelayControl::ApplySettings() {
    view_.SetEditText(EditBox::RemoteHost, settings_.RemoteHost);
    view_.SetEditText(EditBox::RemotePort, settings_.RemotePort);
    view_.SetEditText(EditBox::LocalPort, settings_.LocalPort);
    view_.SetEditText(EditBox::LogFile, settings_.LogFile);
    log_.BufferSize = settings_.BufferSize;
    log_.Detail = settings_.Detail;
    log_.ShowBufferSizeChecks();  // snaps BufferSize: the snapped value is what is saved
    settings_.BufferSize = log_.BufferSize;
    log_.ShowDetailChecks();
    engine_.HexOnly = settings_.HexOnly;
    view_.CheckHexOnly(settings_.HexOnly != 0);
    log_.TimeStamps = settings_.TimeStamps != 0;
}

bool RelayControl::StartSockets() {
    // Once per control: the layer's start nests, and only one shutdown is owed.
    int error = sockets_.started ? 0 : platform::WSAStartup(kSocketVersion11);
    if (error == 0) {
        sockets_.started = true;
        if (!engine_.StartLocalLookup()) {
            error = platform::WSAGetLastError();
        }
    }
    if (error == 0) {
        return true;
    }
    view_.ShowSocketError(relay::SocketErrorText(error));
    view_.CloseWindow();
    return false;
}

void RelayControl::OnIdle() {
    if (settings_.AutoStart == 1) {
        settings_.AutoStart = -1;  // before Start: a failing Start is not retried
        Start();
    }
}

// --- Commands -------------------------------------------------------------------------------

StartResult RelayControl::Reject(const CommandError& error) {
    view_.FocusEdit(error.focus);
    view_.ShowError(error.message);
    return StartResult::Rejected;
}

StartResult RelayControl::Start() {
    const std::string host = view_.EditText(EditBox::RemoteHost);
    const std::string remotePort = view_.EditText(EditBox::RemotePort);
    const std::string localPort = view_.EditText(EditBox::LocalPort);
    const StartCheck check = CheckStartParameters(host, remotePort, localPort);
    if (check.error) {
        return Reject(*check.error);
    }
    // Everything that can refuse Start is looked at before a file is touched, so that a
    // refused Start leaves the Log File and the Capture File as they were: the Listen
    // Address, the TLS certificate and key, whether the Log File can be written, and the
    // Capture File and the kept streams, which are made last of them. What comes after the Log File
    // (the Remote Host's look-up, the Local Port) is logged to it.
    if (const auto badAddress = CheckListenAddress(settings_.ListenAddress)) {
        return Reject(*badAddress);
    }
    engine_.Tls = static_cast<relay::TlsMode>(settings_.Tls & 3u);
    engine_.TlsCertFile = settings_.TlsCert;
    engine_.TlsKeyFile = settings_.TlsKey;
    engine_.TlsStateDir =
        engine_.Tls == relay::TlsMode::None ? std::string() : platform::SettingsDirectory();
    engine_.TlsVerify = settings_.TlsVerify != 0;
    if (!engine_.PrepareTls(host)) {
        log_.ClearLogBuffer();
        engine_.LogTlsPreparation();  // the reason, in the view only
        return StartResult::NotBegun;
    }
    const std::string logFile = view_.EditText(EditBox::LogFile);
    const CommandError logFileError{kCouldNotCreateLogFile, EditBox::LogFile};
    if (!logFile.empty() && !CanWriteFile(logFile)) {
        return Reject(logFileError);
    }
    if (!settings_.CaptureFile.empty() && !log_.Capture().Open(settings_.CaptureFile)) {
        return Reject(CommandError{kCouldNotCreateCaptureFile, EditBox::CaptureFile});
    }
    // The kept streams after it; a rejection closes the Capture File again.
    bool runStoreFailed = false;
    if (!OpenStreams(runStoreFailed)) {
        log_.Capture().Close();
        return Reject(CommandError{kCouldNotCreateStreams, EditBox::KeptStreams});
    }
    if (logFile.empty()) {
        log_.File().CloseLogFile();
    } else if (!log_.File().OpenLogFile(logFile)) {
        log_.Capture().Close();
        log_.Streams().Close();
        return Reject(logFileError);
    }
    log_.ClearLogBuffer();
    if (runStoreFailed) {
        log_.LogError(kCouldNotCreateStreams);
    }

    engine_.RemotePortNumber = check.ports.RemotePortNumber;
    engine_.LocalPortNumber = check.ports.LocalPortNumber;
    engine_.SetRemoteTexts(host, remotePort);
    engine_.ListenAddress = settings_.ListenAddress;
    engine_.HalfClose = settings_.HalfClose != 0;
    if (!engine_.BeginRelay(host)) {
        log_.Capture().Close();
        log_.Streams().Close();
        log_.File().CloseLogFile();
        return StartResult::NotBegun;
    }
    engine_.SetRunningState(true);
    engine_.ZeroTransferred();
    return StartResult::Started;
}

bool RelayControl::OpenStreams(bool& runStoreFailed) {
    log::StreamStore& streams = log_.Streams();
    streams.Close();
    if (settings_.KeepStreams <= 0) {
        return true;
    }
    if (!settings_.StreamsFile.empty()) {
        return streams.Open(settings_.StreamsFile, settings_.KeepStreams);
    }
    if (!runStore_) {
        runStore_ = std::make_unique<log::RunStoreFile>();
    }
    runStoreFailed =
        runStore_->Path().empty() || !streams.Open(runStore_->Path(), settings_.KeepStreams);
    return true;
}

void RelayControl::Stop() {
    log_.DiscardPendingLog();
    log_.LogError(kStoppedByUser);
    engine_.StopRelay();
}

void RelayControl::Pause() {
    log_.SetPaused(true);
    view_.ShowPaused(true);
}

void RelayControl::Resume() {
    log_.SetPaused(false);
    log_.CatchUpView();
    view_.ShowPaused(false);
    engine_.ReadAllConnections();
}

void RelayControl::Reset() {
    engine_.ZeroTransferred();
}

void RelayControl::ToggleHexOnly() {
    engine_.HexOnly = engine_.HexOnly == 0 ? 1 : 0;
    view_.CheckHexOnly(engine_.HexOnly != 0);
}

// --- Closing --------------------------------------------------------------------------------

bool RelayControl::CloseQuery() {
    if (!Running() || settings_.AutoStart != 0 || closingBySignal_) {
        return true;
    }
    if (!view_.AskCloseQuestion()) {
        return false;
    }
    Stop();
    return true;
}

void RelayControl::OnClose(std::int32_t width, std::int32_t height) {
    // A run with "-auto" or a close on a signal gets here still running: a Log File must
    // never be left without its closing lines.
    if (Running()) {
        Stop();
    }
    if (usageError_) {
        return;
    }
    const Settings current = CurrentSettings(width, height);
    platform::SettingsKey key;
    SaveSettings(key, current);
}

void RelayControl::CloseBySignal() {
    closingBySignal_ = true;
    view_.CloseWindow();
}

void RelayControl::InstallSignalClose() {
    signalClose_ = std::make_unique<SignalClose>([this](int) { CloseBySignal(); });
}

Settings RelayControl::CurrentSettings(std::int32_t width, std::int32_t height) const {
    Settings current = settings_;
    current.RemoteHost = CutToLimit(view_.EditText(EditBox::RemoteHost), kRemoteHostLimit);
    current.RemotePort = CutToLimit(view_.EditText(EditBox::RemotePort), kRemotePortLimit);
    current.LocalPort = CutToLimit(view_.EditText(EditBox::LocalPort), kLocalPortLimit);
    current.LogFile = CutToLimit(view_.EditText(EditBox::LogFile), kLogFileLimit);
    current.BufferSize = log_.BufferSize;
    current.Detail = log_.Detail;
    current.HexOnly = engine_.HexOnly;
    current.TimeStamps = log_.TimeStamps ? 1 : 0;
    current.WindowWidth = width;
    current.WindowHeight = height;
    return current;
}

}  // namespace corvane::control
