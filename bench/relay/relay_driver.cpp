// Runs the relay engine without a window:
//   corvane_relay_driver <remote host> <remote port> <local port> [--detail N] [--file F]
//                        [--capture F] [--streams F] [--tls 0-3 [--tls-dir D]]
// It begins relaying at once and runs until SIGTERM or SIGINT, which stop it as the Stop
// command would (the Log File gets its closing lines, the Capture File and the kept streams
// (256 MiB bound) are written out). SIGUSR1 closes the newest live Connection and SIGUSR2
// resets it, as the user's Close and Reset do. Nothing is shown; log lines go to the Log
// File only.
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QSocketNotifier>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "log/traffic_log.h"
#include "platform/epoll_dispatcher.h"
#include "platform/winsock.h"
#include "relay/relay_engine.h"
#include "relay/relay_view.h"

namespace {

class NullRelayView final : public corvane::relay::RelayView {
public:
    virtual ~NullRelayView() = default;
    void ShowCounter(corvane::relay::Counter, std::string_view) override {}
    void ShowLocalAddress(std::string_view) override {}
    void ShowRunningState(bool) override {}
};

int signalPipe[2] = {-1, -1};

void OnSignal(int signal) {
    const char byte = static_cast<char>(signal);
    [[maybe_unused]] const ssize_t n = ::write(signalPipe[1], &byte, 1);
}

int Usage() {
    std::fprintf(stderr,
                 "usage: corvane_relay_driver <remote host> <remote port> <local port> "
                 "[--detail N] [--file F] [--capture F] [--streams F] [--tls 0-3 "
                 "[--tls-dir D]]\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    using namespace corvane;
    platform::UseEpollEventLoop();
    QCoreApplication app(argc, argv);
    if (argc < 4) {
        return Usage();
    }
    std::uint32_t detail = log::kDetailLow;
    std::string file;
    std::string capture;
    std::string streams;
    unsigned tls = 0;
    std::string tlsDir = "/tmp/corvane-relay-driver-tls";
    for (int i = 4; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--detail" && i + 1 < argc) {
            detail = static_cast<std::uint32_t>(std::strtoul(argv[++i], nullptr, 10));
        } else if (arg == "--file" && i + 1 < argc) {
            file = argv[++i];
        } else if (arg == "--capture" && i + 1 < argc) {
            capture = argv[++i];
        } else if (arg == "--streams" && i + 1 < argc) {
            streams = argv[++i];
        } else if (arg == "--tls" && i + 1 < argc) {
            tls = static_cast<unsigned>(std::strtoul(argv[++i], nullptr, 10)) & 3u;
        } else if (arg == "--tls-dir" && i + 1 < argc) {
            tlsDir = argv[++i];
        } else {
            return Usage();
        }
    }
    if (platform::WSAStartup(0x0101) != 0) {
        std::fprintf(stderr, "the socket layer did not start\n");
        return 1;
    }
    log::TrafficLog trafficLog;
    trafficLog.Detail = detail;
    NullRelayView view;
    relay::RelayEngine engine(trafficLog, view);
    engine.RemotePortNumber = static_cast<std::uint16_t>(std::atoi(argv[2]));
    engine.LocalPortNumber = static_cast<std::uint16_t>(std::atoi(argv[3]));
    engine.SetRemoteTexts(argv[1], argv[2]);
    engine.Tls = static_cast<relay::TlsMode>(tls);
    engine.TlsStateDir = tlsDir;
    if (!file.empty() && !trafficLog.File().OpenLogFile(file)) {
        std::fprintf(stderr, "Could not create log file\n");
        return 1;
    }
    if (!capture.empty() && !trafficLog.Capture().Open(capture)) {
        std::fprintf(stderr, "Could not create capture file\n");
        return 1;
    }
    if (!streams.empty() && !trafficLog.Streams().Open(streams, log::StreamStore::kDefaultBound)) {
        std::fprintf(stderr, "Could not create kept streams file\n");
        return 1;
    }
    if (!engine.BeginRelay(argv[1])) {
        std::fprintf(stderr, "the relay could not begin\n");
        trafficLog.File().CloseLogFile();
        return 1;
    }
    engine.SetRunningState(true);
    engine.ZeroTransferred();

    // Signals arrive through a pipe so that Stop runs on the event loop, between messages.
    if (::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        return 1;
    }
    for (const int signal : {SIGTERM, SIGINT, SIGUSR1, SIGUSR2}) {
        std::signal(signal, OnSignal);
    }
    QSocketNotifier stopper(signalPipe[0], QSocketNotifier::Read);
    QObject::connect(&stopper, &QSocketNotifier::activated, &app, [&] {
        char signal = 0;
        if (::read(signalPipe[0], &signal, 1) == 1 && (signal == SIGUSR1 || signal == SIGUSR2)) {
            // The newest live Connection, closed or reset as the user's command would.
            if (const relay::Connection* c = engine.ConnectionList()) {
                const log::ConnectionSerial serial[] = {c->serial};
                (void)(signal == SIGUSR1 ? engine.CloseConnections(serial)
                                         : engine.ResetConnections(serial));
            }
            return;
        }
        trafficLog.DiscardPendingLog();
        trafficLog.LogError("Stopped by user");
        engine.StopRelay();
        QCoreApplication::quit();
    });
    const int result = QCoreApplication::exec();
    platform::WSACleanup();
    return result;
}
