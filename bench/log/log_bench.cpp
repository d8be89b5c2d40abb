// Throughput of the log's hot paths in MB of input per second, each beside a baseline in the
// same process: memcpy of the same bytes, and for the dump the xxd program on the same bytes.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <unistd.h>

#include "log/dump_format.h"
#include "log/log_file.h"
#include "log/text_lines.h"
#include "log/traffic_log.h"

namespace corvane::log {
namespace {

constexpr int kBlockSize = 4096;  // about one relay read

std::string BinaryBlock(int size) {
    std::string bytes(static_cast<std::size_t>(size), '\0');
    std::uint32_t state = 7;
    for (char& c : bytes) {
        state = state * 1664525u + 1013904223u;
        c = static_cast<char>(state >> 24);
    }
    return bytes;
}

// HTTP-like text: header lines, then body lines with blanks and markup characters.
std::string TextBlock(int size) {
    std::string text = "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nServer: test\r\n\r\n";
    int i = 0;
    while (static_cast<int>(text.size()) < size) {
        text += "  <td class=\"cell\">row " + std::to_string(i++) + " &amp; more   text</td>\r\n";
    }
    text.resize(static_cast<std::size_t>(size));
    return text;
}

void ReportMBps(benchmark::State& state, std::size_t bytesPerIteration) {
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(bytesPerIteration));
}

void BM_Memcpy(benchmark::State& state) {
    const std::string input = BinaryBlock(static_cast<int>(state.range(0)));
    std::vector<char> out(input.size());
    for (auto _ : state) {
        std::memcpy(out.data(), input.data(), input.size());
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    ReportMBps(state, input.size());
}
BENCHMARK(BM_Memcpy)->Arg(kBlockSize)->Arg(16 << 20);

// MB/s of xxd (upper-case hex, output to /dev/null) on a temporary file of `bytes`.
double XxdMBps(const std::string& bytes) {
    char path[] = "/tmp/corvane-xxd-XXXXXX";
    const int fd = mkstemp(path);
    if (fd < 0) {
        return 0;
    }
    std::FILE* file = fdopen(fd, "wb");
    std::fwrite(bytes.data(), 1, bytes.size(), file);
    std::fclose(file);
    const std::string command = std::string("/usr/bin/xxd -u ") + path + " > /dev/null";
    double best = 0;
    for (int run = 0; run < 3; ++run) {
        const auto start = std::chrono::steady_clock::now();
        std::FILE* pipe = popen(command.c_str(), "r");
        if (pipe == nullptr || pclose(pipe) != 0) {
            break;
        }
        const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
        best = std::max(best, static_cast<double>(bytes.size()) / 1e6 / elapsed.count());
    }
    std::remove(path);
    return best;
}

// The dump layout alone, for a 16 MiB input in 4 KiB blocks, with xxd on the same bytes.
void BM_HexDumpFormat(benchmark::State& state) {
    const std::string input = BinaryBlock(16 << 20);
    std::vector<char> out(static_cast<std::size_t>(DumpLineCount(kBlockSize)) * kDumpLineLength);
    const auto start = std::chrono::steady_clock::now();
    for (auto _ : state) {
        for (std::size_t at = 0; at < input.size(); at += kBlockSize) {
            FormatDump(input.data() + at, 0, kBlockSize, out.data());
            benchmark::DoNotOptimize(out.data());
        }
        benchmark::ClobberMemory();
    }
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
    ReportMBps(state, input.size());
    const double ours = static_cast<double>(input.size()) *
                        static_cast<double>(state.iterations()) / 1e6 / elapsed.count();
    const double xxd = XxdMBps(input);
    state.counters["MBps"] = ours;
    state.counters["xxd_MBps"] = xxd;
    state.counters["times_xxd"] = xxd > 0 ? ours / xxd : 0;
}
BENCHMARK(BM_HexDumpFormat)->Unit(benchmark::kMillisecond);

// The whole HexDump path at High with a text Log File: one allocation, the write, the queue.
void BM_HexDumpLogged(benchmark::State& state) {
    const std::string input = BinaryBlock(kBlockSize);
    TrafficLog log;
    log.File().OpenLogFile("/dev/null");
    for (auto _ : state) {
        log.HexDump(input.data(), kBlockSize, 0);
        log.DiscardPendingLog();
    }
    ReportMBps(state, input.size());
}
BENCHMARK(BM_HexDumpLogged);

// One relayed binary block as the relay logs it: at Low without a Log File (the header is
// neither written nor queued), and at High with a text Log File (header, dump, queue).
void DumpBlocks(benchmark::State& state, std::uint32_t detail, bool withFile) {
    const std::string input = BinaryBlock(kBlockSize);
    TrafficLog log;
    log.Detail = detail;
    if (withFile) {
        log.File().OpenLogFile("/dev/null");
    }
    for (auto _ : state) {
        LogChain none;
        log.DumpBlock(5, none, 0, false, kServerToClient, kBlockSize, input.data());
        if (log.PendingCharacters() > (1 << 20)) {
            log.DiscardPendingLog();
        }
    }
    ReportMBps(state, input.size());
}

void BM_DumpBlockLowNoFile(benchmark::State& state) {
    DumpBlocks(state, kDetailLow, false);
}
BENCHMARK(BM_DumpBlockLowNoFile);

void BM_DumpBlockHighTextFile(benchmark::State& state) {
    DumpBlocks(state, kDetailHigh, true);
}
BENCHMARK(BM_DumpBlockHighTextFile);

void BM_SplitTextLines(benchmark::State& state) {
    const std::string input = TextBlock(kBlockSize);
    for (auto _ : state) {
        LogChain lines;
        int textCount = 0;
        bool incomplete = false;
        SplitTextLines(input.data(), kBlockSize, lines, textCount, incomplete);
        benchmark::DoNotOptimize(textCount);
        FreeChain(lines);
    }
    ReportMBps(state, input.size());
}
BENCHMARK(BM_SplitTextLines);

// Writes the lines of a 4 KiB text block per iteration into a Log File whose name gives its
// format and which is a link to /dev/null, so that the disk plays no part.
void WriteLines(benchmark::State& state, const char* leaf) {
    const std::string input = TextBlock(kBlockSize);
    std::vector<std::string_view> lines;
    for (std::size_t start = 0; start < input.size();) {
        const std::size_t lf = input.find('\n', start);
        const std::size_t end = lf == std::string::npos ? input.size() : lf + 1;
        lines.emplace_back(input.data() + start, end - start);
        start = end;
    }
    char dir[] = "/tmp/corvane-bench-XXXXXX";
    if (mkdtemp(dir) == nullptr) {
        state.SkipWithError("no temporary directory");
        return;
    }
    const std::string path = std::string(dir) + "/" + leaf;
    LogFile file;
    if (symlink("/dev/null", path.c_str()) != 0 || !file.OpenLogFile(path)) {
        state.SkipWithError("cannot open the log file");
        return;
    }
    for (auto _ : state) {
        for (std::string_view line : lines) {
            file.WriteLogText(line, LogKind::Data);
        }
    }
    file.CloseLogFile();
    std::remove(path.c_str());
    rmdir(dir);
    ReportMBps(state, input.size());
}

void BM_WriteLogTextPlain(benchmark::State& state) {
    WriteLines(state, "log.txt");
}
BENCHMARK(BM_WriteLogTextPlain);

void BM_WriteLogTextHtml(benchmark::State& state) {
    WriteLines(state, "log.htm");
}
BENCHMARK(BM_WriteLogTextHtml);

}  // namespace
}  // namespace corvane::log

BENCHMARK_MAIN();
