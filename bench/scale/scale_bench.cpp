// One busy Connection through corvane-cli, with and without ten thousand idle ones held open
// beside it. Reports the busy one's throughput both ways, their ratio, and the program's
// resident memory per idle Connection.
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
double ratio = 0;  // throughput with the idle Connections over that without them
int idleReached = 0;
double kibPerIdle = 0;

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

// A relay of its own with one busy Connection and `idle` idle ones beside it.
struct Setup {
    Rig rig;
    std::vector<int> clients;
    std::vector<int> servers;
    std::int64_t residentBusyOnly = 0;
    std::int64_t residentWithIdle = 0;

    // Nothing on success, else what failed.
    const char* Make(int idle) {
        if (!rig.Launch()) {
            return "corvane-cli did not start";
        }
        if (!rig.ConnectPairs(1, &clients, &servers)) {
            return "no busy Connection";
        }
        // Memory with the busy Connection only, after it has carried some bytes.
        if (!Transfer(clients[0], servers[0], 8u << 20, rig.Cli())) {
            return "the busy Connection stalled";
        }
        residentBusyOnly = rig.Cli().ResidentKiB();
        if (!rig.ConnectPairs(idle, &clients, &servers)) {
            return "could not open the idle Connections";
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        rig.Cli().Poll();
        residentWithIdle = rig.Cli().ResidentKiB();
        return nullptr;
    }

    // Seconds for one transfer on the busy Connection; negative when it stalled.
    double Time(std::size_t bytes) {
        const Clock::time_point start = Clock::now();
        if (!Transfer(clients[0], servers[0], bytes, rig.Cli())) {
            return -1;
        }
        return std::chrono::duration<double>(Clock::now() - start).count();
    }
};

// Two relays at once, one with no idle Connections and one with ten thousand; each iteration
// moves the same bytes through both, one after the other, so that the load of the machine
// at any moment weighs on both alike.
void BM_BusyConnectionBesideIdleOnes(benchmark::State& state) {
    const int idle = std::min(idleWanted, RaiseDescriptorLimit(idleWanted + 2));
    Setup none;
    Setup many;
    for (auto [setup, count] : {std::pair{&none, 0}, std::pair{&many, idle}}) {
        if (const char* error = setup->Make(count)) {
            state.SkipWithError(error);
            return;
        }
    }
    double secondsNone = 0;
    double secondsMany = 0;
    for (auto _ : state) {
        const double a = none.Time(kBytesPerIteration);
        const double b = many.Time(kBytesPerIteration);
        if (a < 0 || b < 0) {
            state.SkipWithError("the busy Connection stalled");
            return;
        }
        secondsNone += a;
        secondsMany += b;
        state.SetIterationTime(a + b);
    }
    const double bytes =
        static_cast<double>(kBytesPerIteration) * static_cast<double>(state.iterations());
    state.SetBytesProcessed(static_cast<std::int64_t>(2 * bytes));
    ratio = secondsNone / secondsMany;
    idleReached = idle;
    kibPerIdle =
        idle > 0 ? static_cast<double>(many.residentWithIdle - many.residentBusyOnly) / idle : 0;
    state.counters["idle"] = idle;
    state.counters["MiBps_none"] = bytes / secondsNone / (1 << 20);
    state.counters["MiBps_idle"] = bytes / secondsMany / (1 << 20);
    state.counters["ratio"] = ratio;
    state.counters["rss_KiB"] = static_cast<double>(many.residentWithIdle);
    state.counters["KiB_per_idle"] = kibPerIdle;
}

// Manual time: the relays work in other processes.
BENCHMARK(BM_BusyConnectionBesideIdleOnes)
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->MinTime(4.0);

}  // namespace

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "--idle=", 7) == 0) {
            idleWanted = std::atoi(argv[i] + 7);
        }
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    if (idleReached > 0) {
        std::printf("throughput with %d idle Connections / with none: %.3f (goal above 0.9)\n",
                    idleReached, ratio);
        std::printf("resident memory per idle Connection: %.2f KiB (goal under 20)\n", kibPerIdle);
    }
    benchmark::Shutdown();
    return 0;
}
