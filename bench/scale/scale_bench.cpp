// One busy Connection through corvane-cli, with and without ten thousand idle ones held open
// beside it. Reports the busy one's throughput for each number of idle Connections, their
// ratio, and the program's resident memory per idle Connection.
//
//   corvane_scale_bench [--idle=N] [benchmark flags]
//
// The program and this one each hold two descriptors per Connection, so the descriptor
// limit is raised first (as root, also the hard limit); when it cannot be, fewer idle
// Connections are made and the number reached is reported.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "cli_process.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::size_t kBytesPerIteration = 64u << 20;
constexpr int kConnectGroup = 200;  // Clients connected before their Servers are accepted
constexpr int kSetupMs = 120000;
// Descriptors each process needs besides its two per Connection.
constexpr rlim_t kSpareDescriptors = 64;

int idleWanted = 10000;
std::map<int, double> throughput;  // idle Connections reached -> bytes per second
std::map<int, double> kibPerIdle;

sockaddr_in Loopback(std::uint16_t port) {
    sockaddr_in sin{};
    sin.sin_family = AF_INET;
    sin.sin_port = htons(port);
    sin.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return sin;
}

// Room for `connections` in both processes: two descriptors each, and some to spare.
int RaiseDescriptorLimit(int connections) {
    const rlim_t want = static_cast<rlim_t>(2 * connections + kSpareDescriptors);
    rlimit limit{};
    ::getrlimit(RLIMIT_NOFILE, &limit);
    if (limit.rlim_cur < want) {
        rlimit raised{want, std::max(want, limit.rlim_max)};
        if (::setrlimit(RLIMIT_NOFILE, &raised) != 0) {
            raised.rlim_cur = limit.rlim_max;
            raised.rlim_max = limit.rlim_max;
            ::setrlimit(RLIMIT_NOFILE, &raised);
        }
        ::getrlimit(RLIMIT_NOFILE, &limit);
    }
    return static_cast<int>((limit.rlim_cur - kSpareDescriptors) / 2);
}

class Rig {
public:
    ~Rig() {
        for (int fd : fds_) {
            ::close(fd);
        }
    }

    bool Launch() {
        listener_ = Keep(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
        sockaddr_in sin = Loopback(0);
        socklen_t len = sizeof sin;
        if (::bind(listener_, reinterpret_cast<sockaddr*>(&sin), sizeof sin) != 0 ||
            ::listen(listener_, 4096) != 0 ||
            ::getsockname(listener_, reinterpret_cast<sockaddr*>(&sin), &len) != 0) {
            return false;
        }
        if (!cli_.Launch(CORVANE_CLI_PATH, {"127.0.0.1", std::to_string(ntohs(sin.sin_port)), "0",
                                            "-detail", "Low"})) {
            return false;
        }
        const Clock::time_point deadline = Clock::now() + std::chrono::seconds(10);
        while (!cli_.LocalPort() && Clock::now() < deadline) {
            cli_.Poll();
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        relayPort_ = cli_.LocalPort().value_or(0);
        return relayPort_ != 0;
    }

    // A Client connected through the relay and the Server's end of it; false on failure.
    bool ConnectPairs(int count, std::vector<int>* clients, std::vector<int>* servers) {
        const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(kSetupMs);
        for (int done = 0; done < count;) {
            const int group = std::min(kConnectGroup, count - done);
            for (int i = 0; i < group; ++i) {
                const int fd = Keep(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
                const sockaddr_in sin = Loopback(relayPort_);
                if (fd < 0 ||
                    ::connect(fd, reinterpret_cast<const sockaddr*>(&sin), sizeof sin) != 0) {
                    return false;
                }
                clients->push_back(fd);
            }
            for (int i = 0; i < group; ++i) {
                pollfd p{listener_, POLLIN, 0};
                while (::poll(&p, 1, 100) == 0) {
                    cli_.Poll();
                    if (Clock::now() > deadline) {
                        return false;
                    }
                }
                const int fd = Keep(::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC));
                if (fd < 0) {
                    return false;
                }
                servers->push_back(fd);
            }
            done += group;
            cli_.Poll();
        }
        return true;
    }

    corvane::soak::CliProcess& Cli() { return cli_; }

private:
    int Keep(int fd) {
        if (fd >= 0) {
            fds_.push_back(fd);
        }
        return fd;
    }

    corvane::soak::CliProcess cli_;
    int listener_ = -1;
    std::uint16_t relayPort_ = 0;
    std::vector<int> fds_;
};

// Sends `bytes` from client to server through the relay; false when it stalls.
bool Transfer(int client, int server, std::size_t bytes, corvane::soak::CliProcess& cli) {
    static const std::string block(1 << 20, 'x');
    static std::vector<char> sink(1 << 20);
    std::size_t sent = 0;
    std::size_t received = 0;
    while (received < bytes) {
        pollfd p[2] = {{client, static_cast<short>(sent < bytes ? POLLOUT : 0), 0},
                       {server, POLLIN, 0}};
        if (::poll(p, 2, 5000) <= 0) {
            return false;
        }
        if ((p[0].revents & POLLOUT) != 0) {
            const std::size_t n = std::min(block.size(), bytes - sent);
            const ssize_t w = ::send(client, block.data(), n, MSG_DONTWAIT | MSG_NOSIGNAL);
            sent += w > 0 ? static_cast<std::size_t>(w) : 0;
        }
        if ((p[1].revents & POLLIN) != 0) {
            const ssize_t r = ::recv(server, sink.data(), sink.size(), MSG_DONTWAIT);
            if (r <= 0) {
                return false;
            }
            received += static_cast<std::size_t>(r);
        }
        cli.Poll();  // its standard output must not fill up
    }
    return true;
}

void BM_BusyConnectionBesideIdleOnes(benchmark::State& state) {
    const int wanted = static_cast<int>(state.range(0)) == 0 ? 0 : idleWanted;
    const int idle = std::min(wanted, RaiseDescriptorLimit(wanted + 2));
    Rig rig;
    if (!rig.Launch()) {
        state.SkipWithError("corvane-cli did not start");
        return;
    }
    std::vector<int> clients;
    std::vector<int> servers;
    if (!rig.ConnectPairs(1, &clients, &servers)) {
        state.SkipWithError("no busy Connection");
        return;
    }
    // Memory with the busy Connection only, after it has carried some bytes.
    Transfer(clients[0], servers[0], 8u << 20, rig.Cli());
    const std::int64_t residentBefore = rig.Cli().ResidentKiB();
    if (!rig.ConnectPairs(idle, &clients, &servers)) {
        state.SkipWithError("could not open the idle Connections");
        return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    rig.Cli().Poll();
    const std::int64_t residentIdle = rig.Cli().ResidentKiB();

    std::size_t moved = 0;
    for (auto _ : state) {
        if (!Transfer(clients[0], servers[0], kBytesPerIteration, rig.Cli())) {
            state.SkipWithError("the busy Connection stalled");
            return;
        }
        moved += kBytesPerIteration;
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(moved));
    state.counters["idle"] = idle;
    state.counters["rss_KiB"] = static_cast<double>(residentIdle);
    if (idle > 0) {
        kibPerIdle[idle] = static_cast<double>(residentIdle - residentBefore) / idle;
        state.counters["KiB_per_idle"] = kibPerIdle[idle];
    }
    state.counters["bytes_per_second"] =
        benchmark::Counter(static_cast<double>(moved), benchmark::Counter::kIsRate);
}

// Real time: the relay works in another process.
BENCHMARK(BM_BusyConnectionBesideIdleOnes)
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MinTime(2.0);

class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            if (!run.error_occurred && run.counters.count("bytes_per_second") != 0) {
                throughput[static_cast<int>(run.counters.at("idle"))] =
                    run.counters.at("bytes_per_second");
            }
        }
        ConsoleReporter::ReportRuns(runs);
    }
};

}  // namespace

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "--idle=", 7) == 0) {
            idleWanted = std::atoi(argv[i] + 7);
        }
    }
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    if (throughput.count(0) != 0 && throughput.size() == 2) {
        const auto busy = *throughput.rbegin();
        std::printf("throughput with %d idle Connections / with none: %.3f (goal above 0.9)\n",
                    busy.first, busy.second / throughput[0]);
    }
    for (const auto& [idle, kib] : kibPerIdle) {
        std::printf("resident memory per idle Connection (%d of them): %.2f KiB (goal under 20)\n",
                    idle, kib);
    }
    benchmark::Shutdown();
    return 0;
}
