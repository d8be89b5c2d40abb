// The soak: a thousand Connections at once through the real corvane-cli, with random traffic
// both ways, Clients and Servers that close, half-close, reset or read slowly, and the relay
// paused and resumed from its terminal now and then. About a minute by default;
// CORVANE_SOAK_SECONDS sets the length (1800 for the long run), CORVANE_SOAK_CONNECTIONS the
// number at once.
//
// It passes when every byte arrived unchanged and in order, every direction that ended
// cleanly arrived whole, the program shows 0 Connections and 0 bytes buffered at the end,
// holds no more descriptors than before the first Client, and its resident memory at the end
// is at most 10% above what it was after the first minute (the first third of a short run).
//
// CORVANE_SOAK_ROTATE=1 also writes the Log File (HTML) and the Capture File in rotating
// parts of 10 MiB, 20 kept: then resident memory at the end is within 5% of the early value,
// the descriptors are as many as before, and each file's parts on disk stay within those kept.
#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <thread>

#include "cli_process.h"
#include "soak_traffic.h"

namespace corvane::soak {
namespace {

int EnvInt(const char* name, int fallback) {
    const char* text = std::getenv(name);
    return text != nullptr && *text != '\0' ? std::atoi(text) : fallback;
}

// Polls the program until cond() holds or timeoutMs passes.
template <typename Cond>
bool WaitFor(CliProcess& cli, Cond cond, int timeoutMs) {
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        cli.Poll();
        if (cond()) {
            return true;
        }
        if (Clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

// The program's log lines of the Connection whose Client had this port.
std::string LogOf(const std::string& output, std::uint16_t clientPort) {
    const std::string connected = ": Client connected; 127.0.0.1:" + std::to_string(clientPort);
    std::size_t at = output.find(connected);
    while (at != std::string::npos &&
           std::isdigit(static_cast<unsigned char>(output[at + connected.size()])) != 0) {
        at = output.find(connected, at + 1);
    }
    if (clientPort == 0 || at == std::string::npos) {
        return {};
    }
    const std::size_t lineStart = output.rfind('\n', at) + 1;
    const std::string prefix = output.substr(lineStart, at - lineStart) + ": ";
    std::string lines;
    for (std::size_t pos = lineStart; pos < output.size();) {
        std::size_t end = output.find('\n', pos);
        end = end == std::string::npos ? output.size() : end + 1;
        if (output.compare(pos, prefix.size(), prefix) == 0) {
            lines += output.substr(pos, end - pos);
        }
        pos = end;
    }
    return lines;
}

// The bytes of the files in a folder with this extension, and their number.
std::pair<std::uint64_t, int> PartsOnDisk(const std::string& folder, const std::string& extension) {
    std::pair<std::uint64_t, int> total{0, 0};
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        std::error_code gone;  // a part deleted meanwhile
        const std::uintmax_t size = entry.file_size(gone);
        if (entry.path().extension() == extension && !gone) {
            total.first += size;
            ++total.second;
        }
    }
    return total;
}

bool Idle(const std::optional<Status>& s) {
    return s && s->connections == 0 && s->csBuffered == 0 && s->scBuffered == 0;
}

TEST(Soak, ThousandsOfConnectionsThroughTheTerminalProgram) {
    const int seconds = EnvInt("CORVANE_SOAK_SECONDS", 60);
    TrafficOptions options;
    options.concurrent = EnvInt("CORVANE_SOAK_CONNECTIONS", 1000);
    options.seed = static_cast<unsigned>(EnvInt("CORVANE_SOAK_SEED", 1));
    options.stuckAfterMs = EnvInt("CORVANE_SOAK_STUCK_MS", options.stuckAfterMs);
    // CORVANE_SOAK_PAUSES=0 leaves the relay running throughout (to tell faults apart).
    const bool pausing = EnvInt("CORVANE_SOAK_PAUSES", 1) != 0;
    // Resets may fall into pauses (a peer that sent and then reset during a pause once left a
    // Connection that never ended, see the fault tests); CORVANE_SOAK_RESET_WHILE_PAUSED=0
    // makes the resets wait out each pause, with a margin for the keys to reach the program.
    const bool resetWhilePaused = EnvInt("CORVANE_SOAK_RESET_WHILE_PAUSED", 1) != 0;
    constexpr auto kResetMargin = std::chrono::milliseconds(300);
    SoakTraffic traffic(options);
    const std::uint16_t serverPort = traffic.ListenForServers();
    ASSERT_NE(serverPort, 0);

    // The Log File takes every line whatever the Detail, so standard output stays at Low.
    std::vector<std::string> args{"127.0.0.1", std::to_string(serverPort), "0", "-detail", "Low"};
    const bool rotating = EnvInt("CORVANE_SOAK_ROTATE", 0) != 0;
    constexpr std::uint64_t kPartBytes = 10 << 20;
    constexpr int kPartsKept = 20;
    QTemporaryDir files;
    const std::string folder = files.path().toStdString();
    if (rotating) {
        ASSERT_TRUE(files.isValid());
        for (const char* arg :
             {"-file", "soak.htm", "-capture", "soak.pcap", "-rotate", "10M", "-parts", "20"}) {
            args.emplace_back(arg);
        }
        args[6] = folder + "/soak.htm";
        args[8] = folder + "/soak.pcap";
    }
    std::uint64_t diskPeak = 0;
    CliProcess cli;
    ASSERT_TRUE(cli.Launch(CORVANE_CLI_PATH, args));
    ASSERT_TRUE(WaitFor(
        cli, [&] { return cli.LocalPort() && cli.LastStatus(); }, 10000))
        << cli.Output();
    const std::uint16_t relayPort = *cli.LocalPort();
    // The local look-up's answer comes in the first moments; let it settle before counting.
    WaitFor(
        cli, [] { return false; }, 500);
    const int descriptorsBefore = cli.OpenDescriptors();

    const Clock::time_point begin = Clock::now();
    const Clock::time_point until = begin + std::chrono::seconds(seconds);
    const Clock::time_point sampleAt = begin + std::chrono::seconds(std::min(60, seconds / 3));
    std::int64_t residentEarly = -1;
    std::int64_t residentPeak = 0;
    int peakConnections = 0;
    int pauses = 0;
    std::mt19937 random(options.seed);
    Clock::time_point nextPause = begin + std::chrono::seconds(2);
    Clock::time_point resumeAt{};
    Clock::time_point releaseResetsAt{};
    bool paused = false;
    Clock::time_point nextSample = begin;

    const bool drained = traffic.Run(relayPort, until, 120000, [&] {
        cli.Poll();
        const Clock::time_point now = Clock::now();
        if (pausing && !paused && now < until && now >= nextPause) {
            paused = cli.Type('p');
            pauses += paused ? 1 : 0;
            resumeAt = now + std::chrono::milliseconds(100 + random() % 700);
        } else if (paused && now >= resumeAt) {
            cli.Type('r');
            paused = false;
            nextPause = now + std::chrono::milliseconds(2000 + random() % 4000);
            releaseResetsAt = now + kResetMargin;
        }
        if (!resetWhilePaused) {
            traffic.HoldResets(pausing &&
                               (paused || (now < until && now + kResetMargin >= nextPause) ||
                                now < releaseResetsAt));
        }
        if (residentEarly < 0 && now >= sampleAt) {
            residentEarly = cli.ResidentKiB();
        }
        if (now >= nextSample) {
            residentPeak = std::max(residentPeak, cli.ResidentKiB());
            if (rotating) {
                for (const char* extension : {".htm", ".pcap"}) {
                    const auto [bytes, parts] = PartsOnDisk(folder, extension);
                    // The parts kept, and the one being written (a part ends at the first
                    // line or packet past its size).
                    EXPECT_LE(parts, kPartsKept + 1) << extension;
                    diskPeak = std::max(diskPeak, bytes);
                }
            }
            nextSample = now + std::chrono::seconds(1);
        }
        peakConnections = std::max(peakConnections, traffic.Open());
    });
    if (paused) {
        cli.Type('r');
    }
    const TrafficReport& report = traffic.Report();
    EXPECT_TRUE(drained);
    EXPECT_EQ(report.failures, 0);
    for (std::size_t i = 0; i < report.firstFailures.size(); ++i) {
        ADD_FAILURE() << report.firstFailures[i] << "\n"
                      << LogOf(cli.Output(), report.failedClientPorts[i]);
    }
    EXPECT_GT(report.ended, 0);
    EXPECT_EQ(peakConnections, options.concurrent);

    EXPECT_TRUE(WaitFor(
        cli, [&] { return Idle(cli.LastStatus()) && cli.LastStatus()->state == "Started"; },
        10000));
    const std::optional<Status> status = cli.LastStatus();
    ASSERT_TRUE(status);
    EXPECT_EQ(status->connections, 0);
    EXPECT_EQ(status->csBuffered, 0);
    EXPECT_EQ(status->scBuffered, 0);
    // Every byte a peer received was sent by the relay, and the counts do not wrap.
    EXPECT_GE(status->csTransferred, report.bytesToServer);
    EXPECT_GE(status->scTransferred, report.bytesToClient);
    const int descriptorsAfter = cli.OpenDescriptors();
    EXPECT_LE(descriptorsAfter, descriptorsBefore);
    const std::int64_t residentEnd = cli.ResidentKiB();
#ifndef CORVANE_SOAK_SANITIZED
    EXPECT_GT(residentEarly, 0);
    EXPECT_LE(residentEnd * 10, residentEarly * 11);
    if (rotating) {
        EXPECT_LE(residentEnd * 100, residentEarly * 105);
        EXPECT_EQ(descriptorsAfter, descriptorsBefore);
    }
#endif
    if (rotating) {
        EXPECT_LE(diskPeak, (kPartsKept + 1) * (kPartBytes + (2 << 20)));
        const auto logParts = PartsOnDisk(folder, ".htm");
        const auto captureParts = PartsOnDisk(folder, ".pcap");
        std::printf(
            "soak: rotating, Log File %d parts (%llu bytes), Capture File %d parts "
            "(%llu bytes) at the end; at most %llu bytes of one file's parts at once\n",
            logParts.second, static_cast<unsigned long long>(logParts.first), captureParts.second,
            static_cast<unsigned long long>(captureParts.first),
            static_cast<unsigned long long>(diskPeak));
    }

    std::printf(
        "soak: %d s, %lld Connections (%d at once), %lld ended, %lld whole directions "
        "checked, %lld bytes to Servers, %lld to Clients, endings %lld/%lld/%lld/%lld/%lld/%lld, "
        "%d pauses\n"
        "soak: relay shows C->S %lld, S->C %lld; descriptors %d before, %d after; resident "
        "%lld KiB early, %lld KiB peak, %lld KiB at the end\n",
        seconds, static_cast<long long>(report.begun), options.concurrent,
        static_cast<long long>(report.ended), static_cast<long long>(report.wholeChecked),
        static_cast<long long>(report.bytesToServer), static_cast<long long>(report.bytesToClient),
        static_cast<long long>(report.endings[0]), static_cast<long long>(report.endings[1]),
        static_cast<long long>(report.endings[2]), static_cast<long long>(report.endings[3]),
        static_cast<long long>(report.endings[4]), static_cast<long long>(report.endings[5]),
        pauses, static_cast<long long>(status->csTransferred),
        static_cast<long long>(status->scTransferred), descriptorsBefore, descriptorsAfter,
        static_cast<long long>(residentEarly), static_cast<long long>(residentPeak),
        static_cast<long long>(residentEnd));

    // q stops the relay ("Stopped by user") and ends the program with 0.
    ASSERT_TRUE(cli.Type('q'));
    EXPECT_EQ(cli.WaitExit(15000), std::optional<int>(0));
    EXPECT_NE(cli.Output().find("Stopped by user"), std::string::npos);
}

}  // namespace
}  // namespace corvane::soak
