#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <pty.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fstream>

#include "cli_process.h"

extern char** environ;

namespace corvane::cli::test {

namespace {

using Clock = std::chrono::steady_clock;

int MsLeft(Clock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left < 0 ? 0 : static_cast<int>(left);
}

// The environment of the child: ours, with the given names replaced or added.
std::vector<std::string> ChildEnvironment(
    const std::vector<std::pair<std::string, std::string>>& overrides) {
    std::vector<std::string> env;
    for (char** e = environ; *e != nullptr; ++e) {
        const std::string entry(*e);
        bool replaced = false;
        for (const auto& [name, value] : overrides) {
            replaced = replaced || entry.rfind(name + "=", 0) == 0;
        }
        if (!replaced) {
            env.push_back(entry);
        }
    }
    for (const auto& [name, value] : overrides) {
        env.push_back(name + "=" + value);
    }
    return env;
}

std::vector<char*> Pointers(std::vector<std::string>& texts) {
    std::vector<char*> p;
    for (std::string& t : texts) {
        p.push_back(t.data());
    }
    p.push_back(nullptr);
    return p;
}

bool ReadInto(int& fd, std::string& into) {
    char buffer[65536];
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n > 0) {
        into.append(buffer, static_cast<std::size_t>(n));
        return true;
    }
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) {
        return false;
    }
    ::close(fd);  // end of file; EIO on a pty whose child has gone
    fd = -1;
    return true;
}

// In the child before exec: the signals the program handles start from their defaults,
// whatever the test runner ignores (nohup, a background job).
void DefaultSignals() {
    struct sigaction action {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    for (int signal : {SIGHUP, SIGINT, SIGTERM, SIGPIPE}) {
        ::sigaction(signal, &action, nullptr);
    }
}

}  // namespace

const char* CliPath() {
    return CORVANE_CLI_PATH;
}

CliProcess::CliProcess(const std::vector<std::string>& args, ChildOptions options)
    : readOut_(options.readStdout) {
    std::vector<std::string> argv{CliPath()};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<std::string> env = ChildEnvironment(options.env);
    std::vector<char*> argp = Pointers(argv);
    std::vector<char*> envp = Pointers(env);

    if (options.pty) {
        int master = -1;
        pid_ = ::forkpty(&master, nullptr, nullptr, nullptr);
        if (pid_ == 0) {
            DefaultSignals();
            ::execve(argp[0], argp.data(), envp.data());
            ::_exit(127);
        }
        outFd_ = master;
        return;
    }
    int in[2];
    int out[2];
    int err[2];
    if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0 ||
        ::pipe2(err, O_CLOEXEC) != 0) {
        return;
    }
    pid_ = ::fork();
    if (pid_ == 0) {
        ::dup2(in[0], 0);
        if (options.stdoutDevNull) {
            const int null = ::open("/dev/null", O_WRONLY);
            ::dup2(null, 1);
        } else {
            ::dup2(out[1], 1);
        }
        ::dup2(err[1], 2);
        DefaultSignals();
        ::execve(argp[0], argp.data(), envp.data());
        ::_exit(127);
    }
    ::close(in[0]);
    ::close(in[1]);  // standard input: empty, at its end
    ::close(out[1]);
    ::close(err[1]);
    outFd_ = out[0];
    errFd_ = err[0];
}

CliProcess::~CliProcess() {
    if (pid_ > 0 && !exit_) {
        ::kill(pid_, SIGKILL);
        int status = 0;
        ::waitpid(pid_, &status, 0);
    }
    for (int fd : {outFd_, errFd_}) {
        if (fd >= 0) {
            ::close(fd);
        }
    }
}

bool CliProcess::Pump(int timeoutMs) {
    pollfd fds[2];
    int count = 0;
    int* owners[2];
    if (outFd_ >= 0 && readOut_) {
        fds[count] = {outFd_, POLLIN, 0};
        owners[count++] = &outFd_;
    }
    if (errFd_ >= 0) {
        fds[count] = {errFd_, POLLIN, 0};
        owners[count++] = &errFd_;
    }
    if (count == 0) {
        return false;
    }
    if (::poll(fds, static_cast<nfds_t>(count), timeoutMs) <= 0) {
        return false;
    }
    bool any = false;
    for (int i = 0; i < count; ++i) {
        if (fds[i].revents != 0) {
            any = ReadInto(*owners[i], owners[i] == &outFd_ ? out_ : err_) || any;
        }
    }
    return any;
}

bool CliProcess::WaitForOutput(const std::string& needle, int timeoutMs) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (out_.find(needle) == std::string::npos) {
        const int left = MsLeft(deadline);
        if (left == 0 || (outFd_ < 0 && errFd_ < 0)) {
            return false;
        }
        Pump(std::min(left, 100));
    }
    return true;
}

void CliProcess::Type(const std::string& keys) {
    if (outFd_ >= 0) {
        [[maybe_unused]] const ssize_t n = ::write(outFd_, keys.data(), keys.size());
    }
}

void CliProcess::Signal(int signal) {
    if (pid_ > 0 && !exit_) {
        ::kill(pid_, signal);
    }
}

std::optional<int> CliProcess::WaitExit(int timeoutMs) {
    readOut_ = true;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!exit_) {
        int status = 0;
        const pid_t r = ::waitpid(pid_, &status, WNOHANG);
        if (r == pid_) {
            exit_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            break;
        }
        const int left = MsLeft(deadline);
        if (left == 0) {
            return std::nullopt;
        }
        if (!Pump(std::min(left, 50)) && outFd_ < 0 && errFd_ < 0) {
            ::usleep(10000);  // both pipes are at their end: only the exit is awaited
        }
    }
    // What the child wrote before it went is still in the pipes.
    for (int round = 0; round < 10000 && (outFd_ >= 0 || errFd_ >= 0); ++round) {
        if (!Pump(100)) {
            break;
        }
    }
    return exit_;
}

long CliProcess::PeakRssKiB() const {
    std::ifstream status("/proc/" + std::to_string(pid_) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmHWM:", 0) == 0) {
            return std::stol(line.substr(6));
        }
    }
    return 0;
}

CliResult RunCli(const std::vector<std::string>& args, int timeoutMs) {
    CliProcess child(args);
    CliResult result;
    result.exitCode = child.WaitExit(timeoutMs);
    result.out = child.Out();
    result.err = child.Err();
    return result;
}

TestListener::TestListener() {
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 && ::listen(fd_, 16) == 0 &&
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len) == 0) {
        port_ = ntohs(a.sin_port);
    }
}

TestListener::~TestListener() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

int TestListener::Accept(int timeoutMs) {
    pollfd p{fd_, POLLIN, 0};
    if (::poll(&p, 1, timeoutMs) <= 0) {
        return -1;
    }
    return ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
}

int ConnectLoopback(std::uint16_t port, std::uint16_t* localPort) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(port);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        ::close(fd);
        return -1;
    }
    if (localPort != nullptr) {
        socklen_t len = sizeof a;
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
        *localPort = ntohs(a.sin_port);
    }
    return fd;
}

bool SendAll(int fd, const std::string& bytes) {
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        sent += static_cast<std::size_t>(n);
    }
    return true;
}

std::string ReceiveUntil(int fd, const std::string& needle, int timeoutMs) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    std::string got;
    while (got.find(needle) == std::string::npos) {
        pollfd p{fd, POLLIN, 0};
        const int left = MsLeft(deadline);
        if (left == 0 || ::poll(&p, 1, left) <= 0) {
            break;
        }
        char buffer[4096];
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0) {
            break;
        }
        got.append(buffer, static_cast<std::size_t>(n));
    }
    return got;
}

std::uint16_t FreePort() {
    TestListener probe;
    return probe.Port();
}

std::optional<long> NumberAfter(const std::string& text, const std::string& prefix) {
    const std::size_t at = text.find(prefix);
    if (at == std::string::npos) {
        return std::nullopt;
    }
    const char* start = text.c_str() + at + prefix.size();
    char* end = nullptr;
    const long value = std::strtol(start, &end, 10);
    if (end == start) {
        return std::nullopt;
    }
    return value;
}

}  // namespace corvane::cli::test
