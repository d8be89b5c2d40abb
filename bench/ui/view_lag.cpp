// How far the Log Buffer falls behind a steady stream of relayed blocks at Detail High: a
// Client sends 100 text blocks per second through the real window to a Server that discards
// them; each block ends with a numbered line. The lag is how long the oldest block that has
// been sent but is not yet shown at the end of Memo1 has been waiting, looked at every 10 ms
// and whenever the view changes; worst_lag_ms is its largest value over the run. The same
// run with one run per tick (a tick clock that has always spent its budget) is the baseline;
// it is ended two seconds after the last block was sent. dropped_lines counts the lines the
// view's marks say it left out; offered_MBps is the rate of the blocks sent.
// Arguments: text lines per block (10, 60, 730: 4 MB a second), Buffer Size (-1 Unlimited).
//     QT_QPA_PLATFORM=offscreen build/bench/ui/corvane_ui_view_lag
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
#include <QTextBlock>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "log/traffic_log.h"
#include "platform/messages.h"
#include "ui/form1.h"
#include "ui/log_buffer_view.h"
#include "window_bench.h"

namespace {

using corvane::bench::ListenLoopback;

using Clock = std::chrono::steady_clock;

constexpr int kBlocksPerSecond = 100;
constexpr int kSeconds = 10;
constexpr int kBlocks = kBlocksPerSecond * kSeconds;

struct Lag {
    double worstMs = 0;
    double meanMs = 0;
    int shown = 0;
    long long droppedLines = 0;
    double offeredMBps = 0;
};

// The lines that the view's marks ("(12,345 lines not shown: ...") say were left out.
long long DroppedLines(const QTextDocument& doc) {
    long long dropped = 0;
    const QString mark = QStringLiteral(" not shown: ");
    for (QTextBlock b = doc.firstBlock(); b.isValid(); b = b.next()) {
        const QString text = b.text();
        const qsizetype end = text.indexOf(mark);
        if (text.startsWith(QLatin1Char('(')) && end > 0) {
            QString count = text.mid(1, end - 1);
            count.remove(QLatin1Char(','));
            count.remove(QStringLiteral(" lines"));
            count.remove(QStringLiteral(" line"));
            dropped += count.toLongLong();
        }
    }
    return dropped;
}

// One run: the window relays kBlocks blocks of `lines` text lines each at kBlocksPerSecond.
Lag Measure(int lines, std::int32_t bufferSize, bool oneRunPerTick) {
    QTemporaryDir dir;
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, dir.path());
    quint16 serverPort = 0;
    const int serverListen = ListenLoopback(serverPort);
    std::thread sink([serverListen] {
        const int peer = ::accept(serverListen, nullptr, nullptr);
        std::vector<char> buffer(1 << 16);
        while (peer >= 0 && ::recv(peer, buffer.data(), buffer.size(), 0) > 0) {
        }
        if (peer >= 0) {
            ::close(peer);
        }
    });
    auto form = std::make_unique<corvane::ui::TForm1>();
    form->StartUp({});
    form->EditRemoteHost->setText(QStringLiteral("127.0.0.1"));
    form->EditRemotePort->setText(QString::number(serverPort));
    form->EditLocalPort->setText(QString());
    form->EditLogFile->setText(QString());
    form->show();
    form->ButtonStart->click();
    corvane::log::TrafficLog& log = form->Control().Log();
    log.SetBufferSize(bufferSize);
    if (oneRunPerTick) {
        log.TickClock = [] {
            static Clock::time_point t;
            return t += std::chrono::hours(1);
        };
    }

    std::vector<std::atomic<long long>> sentNs(kBlocks);
    std::atomic<int> sent{0};
    int lastShown = -1;
    double worstMs = 0;
    double sumMs = 0;
    int samples = 0;
    // The oldest block sent and not shown: how long it has waited.
    auto look = [&] {
        const int next = lastShown + 1;
        if (next < sent.load()) {
            const long long now = Clock::now().time_since_epoch().count();
            const double ms = static_cast<double>(now - sentNs[next].load()) / 1e6;
            worstMs = std::max(worstMs, ms);
            sumMs += ms;
            ++samples;
        }
    };
    QObject::connect(form->Memo1->document(), &QTextDocument::contentsChanged, [&] {
        const QString last = form->Memo1->document()->lastBlock().text();
        if (last.startsWith(QStringLiteral("seq "))) {
            look();
            lastShown = std::max(lastShown, last.mid(4).toInt());
        }
    });

    const int client = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(form->Control().Engine().LocalPortNumber);
    const bool connected = ::connect(client, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    std::atomic<long long> offered{0};
    std::thread sender([&] {
        const auto start = Clock::now();
        for (int k = 0; connected && k < kBlocks; ++k) {
            std::this_thread::sleep_until(
                start + std::chrono::microseconds(1000000 / kBlocksPerSecond) * k);
            std::string block;
            for (int i = 0; i < lines; ++i) {
                block += "GET /index.html?query=relay HTTP/1.1 line " + std::to_string(i) +
                         " of some text\r\n";
            }
            block += "seq " + std::to_string(k) + "\r\n";
            sentNs[k] = Clock::now().time_since_epoch().count();
            sent = k + 1;
            offered += static_cast<long long>(block.size());
            if (::send(client, block.data(), block.size(), MSG_NOSIGNAL) <= 0) {
                break;
            }
        }
    });
    QEventLoop loop;
    QTimer poll;
    poll.setInterval(10);
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        look();
        if (lastShown >= kBlocks - 1) {
            loop.quit();
        }
    });
    poll.start();
    QTimer::singleShot((kSeconds + 2) * 1000, &loop, &QEventLoop::quit);
    loop.exec();
    look();
    sender.join();

    Lag lag;
    lag.worstMs = worstMs;
    lag.meanMs = samples > 0 ? sumMs / samples : 0;
    lag.shown = lastShown + 1;
    lag.droppedLines = DroppedLines(*form->Memo1->document());
    lag.offeredMBps = static_cast<double>(offered.load()) / kSeconds / 1e6;
    ::shutdown(client, SHUT_RDWR);
    ::close(client);
    form->ButtonStop->click();
    ::shutdown(serverListen, SHUT_RDWR);
    ::close(serverListen);
    sink.join();
    return lag;
}

// Arguments: text lines per block, Buffer Size.
void BM_ViewLag(benchmark::State& state) {
    const int lines = static_cast<int>(state.range(0));
    const auto bufferSize = static_cast<std::int32_t>(state.range(1));
    Lag sliced;
    Lag baseline;
    for (auto _ : state) {
        sliced = Measure(lines, bufferSize, false);
        baseline = Measure(lines, bufferSize, true);
    }
    state.counters["worst_lag_ms"] = sliced.worstMs;
    state.counters["mean_lag_ms"] = sliced.meanMs;
    state.counters["shown"] = sliced.shown;
    state.counters["dropped_lines"] = static_cast<double>(sliced.droppedLines);
    state.counters["offered_MBps"] = sliced.offeredMBps;
    state.counters["one_run_worst_ms"] = baseline.worstMs;
    state.counters["one_run_shown"] = baseline.shown;
    state.counters["one_run_dropped"] = static_cast<double>(baseline.droppedLines);
}
BENCHMARK(BM_ViewLag)
    ->Args({10, corvane::log::kBufferSize32KB})
    ->Args({60, corvane::log::kBufferSize32KB})
    ->Args({730, corvane::log::kUnlimited})
    ->Iterations(1)
    ->Unit(benchmark::kSecond);

}  // namespace
