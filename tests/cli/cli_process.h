// The real corvane-cli as a child process of a test, and plain loopback peers for it. Every
// wait is bounded; the only process ever signalled is the child started here, by its pid.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace corvane::cli::test {

// The program under test, from the build tree.
const char* CliPath();

struct ChildOptions {
    std::vector<std::pair<std::string, std::string>> env;  // set in the child
    bool pty = false;            // stdin, stdout and stderr on one pseudo-terminal
    bool stdoutDevNull = false;  // standard output to /dev/null
    bool readStdout = true;      // false: nobody reads the pipe (a stalled reader)
};

class CliProcess {
public:
    explicit CliProcess(const std::vector<std::string>& args, ChildOptions options = {});
    // Kills the child (its own pid) if it still runs, and reaps it.
    ~CliProcess();
    CliProcess(const CliProcess&) = delete;
    CliProcess& operator=(const CliProcess&) = delete;

    pid_t Pid() const { return pid_; }
    // The terminal's master side (pty only), -1 once it has closed.
    int TerminalFd() const { return outFd_; }
    // Reads until the output (stdout, or the terminal with a pty) contains needle.
    bool WaitForOutput(const std::string& needle, int timeoutMs = 10000);
    // Writes to the terminal (pty only).
    void Type(const std::string& keys);
    void Signal(int signal);
    // Waits for the exit and collects the rest of the output; nullopt on timeout.
    std::optional<int> WaitExit(int timeoutMs = 15000);
    // The peak resident set of the child in KiB (VmHWM), 0 when unknown.
    long PeakRssKiB() const;

    const std::string& Out() const { return out_; }
    const std::string& Err() const { return err_; }

private:
    // One poll over the pipes; false when nothing came within timeoutMs.
    bool Pump(int timeoutMs);

    pid_t pid_ = -1;
    int outFd_ = -1;
    int errFd_ = -1;
    bool readOut_ = true;
    std::optional<int> exit_;
    std::string out_;
    std::string err_;
};

// Runs the program to its end with stdin, stdout and stderr piped (stdin empty).
struct CliResult {
    std::optional<int> exitCode;
    std::string out;
    std::string err;
};
CliResult RunCli(const std::vector<std::string>& args, int timeoutMs = 20000);

// A listening socket on 127.0.0.1, ephemeral port.
class TestListener {
public:
    TestListener();
    ~TestListener();
    TestListener(const TestListener&) = delete;
    TestListener& operator=(const TestListener&) = delete;
    std::uint16_t Port() const { return port_; }
    // The accepted socket, or -1 when none came in time.
    int Accept(int timeoutMs = 10000);

private:
    int fd_ = -1;
    std::uint16_t port_ = 0;
};

// A connected socket to 127.0.0.1:port, -1 on failure; its local port in *localPort.
int ConnectLoopback(std::uint16_t port, std::uint16_t* localPort = nullptr);
bool SendAll(int fd, const std::string& bytes);
// Reads until the text contains needle (or the peer closes, or time runs out).
std::string ReceiveUntil(int fd, const std::string& needle, int timeoutMs = 10000);
// A port that was free a moment ago.
std::uint16_t FreePort();

// The n-th number in text after prefix, e.g. the port of "Local Port (" ... ")".
std::optional<long> NumberAfter(const std::string& text, const std::string& prefix);

}  // namespace corvane::cli::test
