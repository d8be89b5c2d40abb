#include "cli_process.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <thread>

namespace corvane::soak {

namespace {

// The status line is redrawn in place: erase the line, then its text.
constexpr const char* kErase = "\r\x1b[K";

// A leading minus is part of the number, so that a counter gone negative (one that wrapped)
// is read as what it shows and fails the checks rather than the parse.
std::int64_t Number(const std::string& text) {
    std::string digits;
    for (char c : text) {
        if ((c >= '0' && c <= '9') || (c == '-' && digits.empty())) {
            digits += c;
        } else if (c != ',') {
            return -1;
        }
    }
    return digits.empty() || digits == "-" ? -1 : std::stoll(digits);
}

void ReadAll(int fd, std::string& into) {
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n <= 0) {
            return;
        }
        into.append(buffer, static_cast<std::size_t>(n));
    }
}

}  // namespace

std::optional<Status> ParseStatus(const std::string& line) {
    // state | Connections n | C->S n (buffered n) | S->C n (buffered n)
    char state[16] = {};
    char conns[32] = {};
    char cst[32] = {};
    char csb[32] = {};
    char sct[32] = {};
    char scb[32] = {};
    const int got = std::sscanf(line.c_str(),
                                "%15s | Connections %31s | C->S %31s (buffered %31[0-9,]) | "
                                "S->C %31s (buffered %31[0-9,])",
                                state, conns, cst, csb, sct, scb);
    if (got != 6) {
        return std::nullopt;
    }
    Status s;
    s.state = state;
    s.connections = Number(conns);
    s.csTransferred = Number(cst);
    s.csBuffered = Number(csb);
    s.scTransferred = Number(sct);
    s.scBuffered = Number(scb);
    if (s.connections < 0 || s.csBuffered < 0 || s.scBuffered < 0) {
        return std::nullopt;
    }
    return s;
}

CliProcess::~CliProcess() {
    if (pid_ > 0 && !exited_) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
    }
    if (terminal_ >= 0) {
        ::close(terminal_);
    }
    if (output_fd_ >= 0) {
        ::close(output_fd_);
    }
}

bool CliProcess::Launch(const std::string& program, const std::vector<std::string>& args) {
    int slave = -1;
    winsize size{};
    size.ws_row = 24;
    size.ws_col = 250;  // the whole status line fits
    if (::openpty(&terminal_, &slave, nullptr, nullptr, &size) != 0) {
        return false;
    }
    int pipe[2];
    if (::pipe2(pipe, O_CLOEXEC) != 0) {
        return false;
    }
    std::vector<std::string> argv_storage{program};
    argv_storage.insert(argv_storage.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : argv_storage) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);

    pid_ = ::fork();
    if (pid_ < 0) {
        return false;
    }
    if (pid_ == 0) {
        ::setsid();  // its own session: our signals are not its
        ::dup2(slave, 0);
        ::dup2(pipe[1], 1);
        ::dup2(slave, 2);
        // Nothing else of ours may leak into it: its descriptors are counted.
        ::close_range(3, ~0u, 0);
        ::execv(program.c_str(), argv.data());
        ::_exit(127);
    }
    ::close(slave);
    ::close(pipe[1]);
    output_fd_ = pipe[0];
    ::fcntl(output_fd_, F_SETFL, O_NONBLOCK);
    ::fcntl(terminal_, F_SETFL, O_NONBLOCK);
    return true;
}

void CliProcess::Poll() {
    if (output_fd_ >= 0) {
        ReadAll(output_fd_, output_);
    }
    if (terminal_ < 0) {
        return;
    }
    ReadAll(terminal_, screen_);
    // Keep the newest whole status line: the text between two erasures (or an erasure and
    // the line end of the final one).
    for (;;) {
        const std::size_t start = screen_.find(kErase);
        if (start == std::string::npos) {
            screen_.clear();
            return;
        }
        const std::size_t text = start + std::strlen(kErase);
        std::size_t end = screen_.find_first_of("\r\n", text);
        if (end == std::string::npos) {
            screen_.erase(0, start);
            // A line not yet erased again may still be whole: take it when it parses.
            if (ParseStatus(screen_.substr(std::strlen(kErase)))) {
                lastStatusLine_ = screen_.substr(std::strlen(kErase));
            }
            return;
        }
        if (end > text) {
            lastStatusLine_ = screen_.substr(text, end - text);
        }
        screen_.erase(0, end);
    }
}

bool CliProcess::Type(char key) {
    return ::write(terminal_, &key, 1) == 1;
}

std::optional<Status> CliProcess::LastStatus() const {
    return ParseStatus(lastStatusLine_);
}

std::optional<std::uint16_t> CliProcess::LocalPort() const {
    const std::size_t at = output_.find("Local Port (");
    if (at == std::string::npos) {
        return std::nullopt;
    }
    const std::size_t end = output_.find(") opened", at);
    if (end == std::string::npos) {
        return std::nullopt;
    }
    return static_cast<std::uint16_t>(std::stoi(output_.substr(at + 12, end - at - 12)));
}

int CliProcess::OpenDescriptors() const {
    const std::string path = "/proc/" + std::to_string(pid_) + "/fd";
    DIR* dir = ::opendir(path.c_str());
    if (dir == nullptr) {
        return -1;
    }
    int count = 0;
    while (const dirent* entry = ::readdir(dir)) {
        count += entry->d_name[0] != '.' ? 1 : 0;
    }
    ::closedir(dir);
    return count;
}

std::int64_t CliProcess::ResidentKiB() const {
    std::ifstream in("/proc/" + std::to_string(pid_) + "/status");
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("VmRSS:", 0) == 0) {
            return std::stoll(line.substr(6));
        }
    }
    return -1;
}

std::optional<int> CliProcess::WaitExit(int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!exited_) {
        Poll();
        int status = 0;
        const pid_t r = ::waitpid(pid_, &status, WNOHANG);
        if (r == pid_) {
            exited_ = true;
            exitStatus_ = status;
            break;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            return std::nullopt;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    Poll();
    if (!WIFEXITED(exitStatus_)) {
        return std::nullopt;
    }
    return WEXITSTATUS(exitStatus_);
}

}  // namespace corvane::soak
