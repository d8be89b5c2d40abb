// The program at full relay speed: standard output must never hold the relay up, and what
// waits for it stays bounded. The 1 GiB figures are a measurement, run on request:
//   corvane_cli_tests --gtest_also_run_disabled_tests --gtest_filter='*OneGibibyte*'
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <thread>

#include "app/cli/cli_arguments.h"
#include "cli_process.h"

namespace corvane::cli::test {
namespace {

constexpr long kMemoryLimitKiB = 100 * 1024;
// AddressSanitizer keeps freed memory in quarantine (256 MiB by default) and adds its shadow:
// the resident size of such a build says nothing about the program's own memory.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kResidentSizeMeaningful = false;
#else
constexpr bool kResidentSizeMeaningful = true;
#endif

struct Push {
    std::int64_t delivered = 0;
    double seconds = 0;
    long peakRssKiB = 0;
    std::optional<int> exitCode;
    std::string out;
};

// A Client pushes total bytes of binary data (shown as a hexadecimal dump at High) through
// the program to a Server that reads as fast as it can.
Push PushThrough(std::int64_t total, const char* detail, ChildOptions options) {
    TestListener server;
    // Standard output may be /dev/null, so the port cannot be read from the log: a port
    // that was free a moment ago is named instead, and connecting is retried until it opens.
    const std::uint16_t port = FreePort();
    CliProcess child(
        {"127.0.0.1", std::to_string(server.Port()), std::to_string(port), "-detail", detail},
        options);
    Push p;
    int client = -1;
    for (int attempt = 0; attempt < 500 && client < 0; ++attempt) {
        client = ConnectLoopback(port);
        if (client < 0) {
            ::usleep(10000);
        }
    }
    const int accepted = server.Accept();
    if (client < 0 || accepted < 0) {
        return p;
    }
    const auto start = std::chrono::steady_clock::now();
    std::thread sink([&] {
        timeval limit{30, 0};  // a stalled relay ends the test instead of hanging it
        ::setsockopt(accepted, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
        std::vector<char> buffer(1 << 20);
        while (p.delivered < total) {
            const ssize_t n = ::recv(accepted, buffer.data(), buffer.size(), 0);
            if (n <= 0) {
                break;
            }
            p.delivered += n;
        }
    });
    std::string chunk(1 << 16, '\0');
    for (std::size_t i = 0; i < chunk.size(); ++i) {
        chunk[i] = static_cast<char>(i * 7);
    }
    timeval limit{30, 0};
    ::setsockopt(client, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
    for (std::int64_t sent = 0; sent < total; sent += static_cast<std::int64_t>(chunk.size())) {
        if (!SendAll(client, chunk)) {
            break;
        }
    }
    sink.join();
    p.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    p.peakRssKiB = child.PeakRssKiB();
    ::close(client);
    ::close(accepted);
    child.Signal(SIGTERM);
    p.exitCode = child.WaitExit(30000);
    p.out = child.Out();
    return p;
}

TEST(CliThroughput, StalledReaderOfStandardOutputNeitherHoldsUpTheRelayNorGrowsMemory) {
    // Nobody reads the pipe: it fills after 64 KiB, and from then on the oldest waiting
    // lines are trimmed to Buffer Size while the relay goes on at full speed.
    ChildOptions options;
    options.readStdout = false;
    constexpr std::int64_t kTotal = 64 << 20;
    const Push p = PushThrough(kTotal, "High", options);
    EXPECT_EQ(p.delivered, kTotal);
    EXPECT_GT(p.peakRssKiB, 0);
    if (kResidentSizeMeaningful) {
        EXPECT_LT(p.peakRssKiB, kMemoryLimitKiB);
    }
    ASSERT_TRUE(p.exitCode.has_value());
    EXPECT_EQ(*p.exitCode, kExitOk);
    // Once the reader reads again, the end of the run comes out whole.
    const std::string tail = "Stopped by user\nLocal Port closed\n";
    ASSERT_GE(p.out.size(), tail.size());
    EXPECT_EQ(p.out.substr(p.out.size() - tail.size()), tail);
}

TEST(CliThroughput, DISABLED_OneGibibyteIntoDevNullAtLowAndHigh) {
    constexpr std::int64_t kTotal = 1LL << 30;
    for (const char* detail : {"Low", "High"}) {
        ChildOptions options;
        options.stdoutDevNull = true;
        const Push p = PushThrough(kTotal, detail, options);
        EXPECT_EQ(p.delivered, kTotal);
        EXPECT_LT(p.peakRssKiB, kMemoryLimitKiB);
        std::printf("Detail %-4s: %.0f MiB in %.2f s = %.1f MiB/s, peak RSS %.1f MiB\n", detail,
                    static_cast<double>(p.delivered) / (1 << 20), p.seconds,
                    static_cast<double>(p.delivered) / (1 << 20) / p.seconds,
                    static_cast<double>(p.peakRssKiB) / 1024);
    }
}

}  // namespace
}  // namespace corvane::cli::test
