// How fast the Log Buffer takes in log text: 8 MB of relayed blocks (a header line and 64 KiB
// of numbered text lines each, as Detail High logs a flood) are queued at once, then the
// window's view is left to the event loop and its LogTimer until the queue is empty.
// MBps is log text shown per second of wall time, painting and scrolling included.
// Arguments: Buffer Size (-1 Unlimited, 32768).
//     QT_QPA_PLATFORM=offscreen build/bench/ui/corvane_ui_view_intake
#include <benchmark/benchmark.h>
#include <QApplication>
#include <QEventLoop>
#include <QTimer>
#include <chrono>
#include <string>

#include "log/text_lines.h"
#include "log/traffic_log.h"
#include "platform/messages.h"
#include "ui/log_buffer_view.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kBlockBytes = 64 * 1024;
constexpr int kBlocks = 128;

// One block of numbered lines of about 60 characters; the last line is cut, as TCP cuts.
std::string Block(int& lineNumber) {
    std::string block;
    while (block.size() < kBlockBytes) {
        block += "line " + std::to_string(lineNumber++) +
                 " GET /index.html?query=relay HTTP/1.1 and some text\r\n";
    }
    block.resize(kBlockBytes);
    return block;
}

void BM_ViewIntake(benchmark::State& state) {
    const auto bufferSize = static_cast<std::int32_t>(state.range(0));
    double seconds = 0;
    std::int64_t shown = 0;
    for (auto _ : state) {
        corvane::ui::TLogBufferView view;
        view.resize(900, 500);
        view.show();
        corvane::log::TrafficLog log;
        log.SetView(&view);
        log.SetActivated(true);
        log.SetBufferSize(bufferSize);
        log.BoundPending = false;  // the intake is measured, not the bound
        int lineNumber = 0;
        for (int i = 0; i < kBlocks; ++i) {
            const std::string bytes = Block(lineNumber);
            corvane::log::LogChain lines;
            int textCount = 0;
            bool incomplete = false;
            corvane::log::SplitTextLines(bytes.data(), kBlockBytes, lines, textCount, incomplete);
            log.DumpBlock(5, lines, textCount, incomplete, corvane::log::kClientToServer,
                          kBlockBytes, bytes.data());
        }
        const std::int64_t queued = log.PendingCharacters();
        const auto start = Clock::now();
        QEventLoop loop;
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
            if (!log.HasPending()) {
                loop.quit();
            }
        });
        poll.start(1);
        QTimer::singleShot(120000, &loop, &QEventLoop::quit);
        loop.exec();
        seconds += std::chrono::duration<double>(Clock::now() - start).count();
        shown += queued - log.PendingCharacters();
    }
    state.counters["MBps"] = seconds > 0 ? static_cast<double>(shown) / seconds / 1e6 : 0;
}
BENCHMARK(BM_ViewIntake)
    ->Arg(corvane::log::kUnlimited)
    ->Arg(corvane::log::kBufferSize32KB)
    ->Iterations(1)
    ->Unit(benchmark::kSecond);

}  // namespace
