// What the Connections pane and the kept streams cost the window's relaying: a Client pushes
// 16 MiB through the window at Detail Low to a discarding Server, one Connection per
// iteration, with the pane hidden and Keep Streams off (mode 0), or with the pane shown and
// Keep Streams at 256 MiB (mode 1). The runs of both modes alternate (the second argument
// only numbers the round), so that the machine's load falls on both alike; compare
// bytes_per_second of the modes. Mode 1 also reports how far the pane's rows were behind:
// row_lag_ms, the longest of the time from the Client's connect to its row and from the
// Server's end of the stream to its row's ended state.
//     QT_QPA_PLATFORM=offscreen build/bench/ui/corvane_ui_connections_cost
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <benchmark/benchmark.h>
#include <QApplication>
#include <QEventLoop>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "ui/connection_model.h"
#include "ui/connections_pane.h"
#include "ui/form1.h"
#include "window_bench.h"

namespace {

using corvane::bench::ListenLoopback;
using corvane::bench::RunLoop;

using Clock = std::chrono::steady_clock;
constexpr long long kBytes = 16LL << 20;

double Ms(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

void BM_RelayWithConnections(benchmark::State& state) {
    const bool withPane = state.range(0) == 1;
    QTemporaryDir dir;
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, dir.path());
    quint16 serverPort = 0;
    const int listenFd = ListenLoopback(serverPort);
    auto form = std::make_unique<corvane::ui::TForm1>();
    form->StartUp({});
    form->Control().SetKeepStreams(withPane ? 256LL << 20 : 0);
    form->EditRemoteHost->setText(QStringLiteral("127.0.0.1"));
    form->EditRemotePort->setText(QString::number(serverPort));
    form->EditLocalPort->setText(QString());
    form->MMenuItemLow->trigger();
    form->show();
    if (withPane) {
        form->ShowConnectionsPane(true);
    }
    form->ButtonStart->click();
    if (listenFd < 0 || !form->Control().Running()) {
        state.SkipWithError("the relay did not start");
        return;
    }
    const quint16 localPort = form->Control().Engine().LocalPortNumber;
    corvane::ui::TConnectionModel& model = form->ConnectionsPane->Model();

    double worstLag = 0;
    std::string block(1 << 16, 'x');
    for (auto _ : state) {
        std::atomic<long long> received{0};
        std::atomic<bool> ended{false};
        Clock::time_point endedAt;
        std::thread sink([&] {
            const int peer = ::accept(listenFd, nullptr, nullptr);
            std::vector<char> buffer(1 << 16);
            ssize_t n = 0;
            while (peer >= 0 && (n = ::recv(peer, buffer.data(), buffer.size(), 0)) > 0) {
                received += n;
            }
            endedAt = Clock::now();
            ended = true;
            if (peer >= 0) {
                ::close(peer);
            }
        });
        const int rowsBefore = model.rowCount();
        const Clock::time_point connectedAt = Clock::now();
        std::thread push([&] {
            const int client = ::socket(AF_INET, SOCK_STREAM, 0);
            sockaddr_in addr{};
            addr.sin_family = AF_INET;
            addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            addr.sin_port = htons(localPort);
            if (::connect(client, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) {
                for (long long sent = 0; sent < kBytes;) {
                    const ssize_t n = ::send(client, block.data(), block.size(), MSG_NOSIGNAL);
                    if (n <= 0) {
                        break;
                    }
                    sent += n;
                }
            }
            ::close(client);
        });
        // The row's arrival is watched from the same loop that relays.
        Clock::time_point rowAt{};
        RunLoop(60000, [&] {
            if (withPane && rowAt == Clock::time_point{} && model.rowCount() > rowsBefore) {
                rowAt = Clock::now();
            }
            return ended.load();
        });
        push.join();
        sink.join();
        if (withPane) {
            // The wait for the ended row (up to a tick) is not relaying: it is left out.
            state.PauseTiming();
            RunLoop(5000, [&] {
                if (rowAt == Clock::time_point{} && model.rowCount() > rowsBefore) {
                    rowAt = Clock::now();
                }
                return model.rowCount() > rowsBefore &&
                       model.index(0, 0).data(corvane::ui::kEndedRole).toBool();
            });
            worstLag = std::max({worstLag, Ms(rowAt - connectedAt), Ms(Clock::now() - endedAt)});
            state.ResumeTiming();
        }
        if (received.load() != kBytes) {
            state.SkipWithError("bytes were lost");
            break;
        }
    }
    state.SetBytesProcessed(state.iterations() * kBytes);
    if (withPane) {
        state.counters["row_lag_ms"] = worstLag;
    }
    form->ButtonStop->click();
    ::close(listenFd);
}

// Modes alternate round by round.
BENCHMARK(BM_RelayWithConnections)
    ->Args({0, 1})
    ->Args({1, 1})
    ->Args({0, 2})
    ->Args({1, 2})
    ->Args({0, 3})
    ->Args({1, 3})
    ->ArgNames({"pane_and_streams", "round"})
    ->Iterations(8)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace
