// How long a click on Pause takes to show while a Client pushes data through the relay as
// fast as it can, at Detail High with an HTML Log File. The click is posted to the window's
// event queue like any input, behind whatever the relay has queued; the time is taken from
// posting it to SpeedButtonPause showing pressed (the relay has stopped reading by then).
// BM_ClickWhileRelaying times a click on a read-only edit box the same way, from posting to
// its delivery. Argument: Buffer Size (32768, -1 Unlimited).
//     QT_QPA_PLATFORM=offscreen build/bench/ui/corvane_ui_pause_latency
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <benchmark/benchmark.h>
#include <QApplication>
#include <QDir>
#include <QEventLoop>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolButton>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "log/traffic_log.h"
#include "platform/messages.h"
#include "ui/form1.h"
#include "window_bench.h"

namespace {

using corvane::bench::ListenLoopback;
using corvane::bench::RunLoop;

using Clock = std::chrono::steady_clock;

// The window relaying from a pushing Client to a discarding Server, for the whole program.
struct Rig {
    QTemporaryDir dir;
    std::unique_ptr<corvane::ui::TForm1> form;
    int serverListen = -1;
    int client = -1;
    std::atomic<bool> stop{false};
    std::atomic<long long> pushed{0};
    std::thread sinkThread;
    std::thread pushThread;

    bool Start(std::int32_t bufferSize) {
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, dir.path());
        quint16 serverPort = 0;
        serverListen = ListenLoopback(serverPort);
        if (serverListen < 0) {
            return false;
        }
        sinkThread = std::thread([this] {
            const int peer = ::accept(serverListen, nullptr, nullptr);
            std::vector<char> buffer(1 << 16);
            while (peer >= 0 && ::recv(peer, buffer.data(), buffer.size(), 0) > 0) {
            }
            if (peer >= 0) {
                ::close(peer);
            }
        });
        form = std::make_unique<corvane::ui::TForm1>();
        form->StartUp({});
        form->EditRemoteHost->setText(QStringLiteral("127.0.0.1"));
        form->EditRemotePort->setText(QString::number(serverPort));
        form->EditLocalPort->setText(QString());
        form->EditLogFile->setText(QDir(dir.path()).filePath(QStringLiteral("bench.htm")));
        form->show();
        form->ButtonStart->click();
        form->Control().Log().SetBufferSize(bufferSize);
        if (!form->Control().Running()) {
            return false;
        }
        client = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        addr.sin_port = htons(form->Control().Engine().LocalPortNumber);
        if (::connect(client, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
            return false;
        }
        pushThread = std::thread([this] {
            // Text lines, so that Detail High logs every one of them.
            std::string block;
            while (block.size() < (1 << 16)) {
                block += "GET /index.html?query=relay HTTP/1.1 and some more text to show\r\n";
            }
            while (!stop.load()) {
                const ssize_t n = ::send(client, block.data(), block.size(), MSG_NOSIGNAL);
                if (n <= 0) {
                    break;
                }
                pushed += n;
            }
        });
        return true;
    }

    ~Rig() {
        stop = true;
        if (client >= 0) {
            ::shutdown(client, SHUT_RDWR);
        }
        if (pushThread.joinable()) {
            pushThread.join();
        }
        if (form) {
            form->ButtonStop->click();
        }
        if (serverListen >= 0) {
            ::shutdown(serverListen, SHUT_RDWR);
            ::close(serverListen);
        }
        if (sinkThread.joinable()) {
            sinkThread.join();
        }
        if (client >= 0) {
            ::close(client);
        }
    }
};

void PostClick(QWidget* widget) {
    const QPointF at(widget->width() / 2.0, widget->height() / 2.0);
    const QPointF global = widget->mapToGlobal(at);
    QCoreApplication::postEvent(
        widget, new QMouseEvent(QEvent::MouseButtonPress, at, global, Qt::LeftButton,
                                Qt::LeftButton, Qt::NoModifier));
    QCoreApplication::postEvent(
        widget, new QMouseEvent(QEvent::MouseButtonRelease, at, global, Qt::LeftButton,
                                Qt::NoButton, Qt::NoModifier));
}

// Records when the first mouse press reaches the widget it watches.
class PressClock : public QObject {
public:
    Clock::time_point pressed{};
    bool seen = false;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::MouseButtonPress && !seen) {
            pressed = Clock::now();
            seen = true;
        }
        return QObject::eventFilter(watched, event);
    }
};

void BM_ClickWhileRelaying(benchmark::State& state) {
    Rig rig;
    if (!rig.Start(static_cast<std::int32_t>(state.range(0)))) {
        state.SkipWithError("could not set up the relay");
        return;
    }
    QLineEdit* box = rig.form->EditLogFile;  // read-only while relaying: the click changes nothing
    PressClock clock;
    box->installEventFilter(&clock);
    double worstMs = 0;
    for (auto _ : state) {
        RunLoop(300);
        clock.seen = false;
        const auto t0 = Clock::now();
        PostClick(box);
        RunLoop(5000, [&] { return clock.seen; });
        if (!clock.seen) {
            state.SkipWithError("the click was not delivered within 5 s");
            break;
        }
        const double seconds = std::chrono::duration<double>(clock.pressed - t0).count();
        state.SetIterationTime(seconds);
        worstMs = std::max(worstMs, seconds * 1000);
    }
    box->removeEventFilter(&clock);
    state.counters["worst_ms"] = worstMs;
}
BENCHMARK(BM_ClickWhileRelaying)
    ->Arg(corvane::log::kBufferSize32KB)
    ->Arg(corvane::log::kUnlimited)
    ->UseManualTime()
    ->Iterations(20)
    ->Unit(benchmark::kMillisecond);

void BM_PauseClickWhileRelaying(benchmark::State& state) {
    Rig rig;
    if (!rig.Start(static_cast<std::int32_t>(state.range(0)))) {
        state.SkipWithError("could not set up the relay");
        return;
    }
    corvane::ui::TForm1& form = *rig.form;
    double worstMs = 0;
    long long relayed = 0;
    double flowingSeconds = 0;
    for (auto _ : state) {
        // Traffic flowing for a while, so that the queues are as busy as they get.
        const auto csBefore = form.Control().Engine().CSTransferred();
        const auto flowStart = Clock::now();
        RunLoop(300);
        flowingSeconds += std::chrono::duration<double>(Clock::now() - flowStart).count();
        relayed += form.Control().Engine().CSTransferred() - csBefore;

        const auto t0 = Clock::now();
        PostClick(form.SpeedButtonPause);
        RunLoop(5000, [&] { return form.SpeedButtonPause->isChecked(); });
        const double seconds = std::chrono::duration<double>(Clock::now() - t0).count();
        if (!form.Control().Paused()) {
            state.SkipWithError("the click did not pause within 5 s");
            break;
        }
        state.SetIterationTime(seconds);
        worstMs = std::max(worstMs, seconds * 1000);
        form.OnClick(form.SpeedButtonPause);  // resume for the next round
    }
    state.counters["worst_ms"] = worstMs;
    state.counters["relayed_MBps"] = flowingSeconds > 0 ? relayed / flowingSeconds / 1e6 : 0;
}
BENCHMARK(BM_PauseClickWhileRelaying)
    ->Arg(corvane::log::kBufferSize32KB)
    ->Arg(corvane::log::kUnlimited)
    ->UseManualTime()
    ->Iterations(20)
    ->Unit(benchmark::kMillisecond);

}  // namespace
