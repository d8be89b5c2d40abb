// corvane-cli run as a child process the way a user runs it: standard input and standard
// error on a pseudo-terminal (its keys and its status line), standard output into a pipe.
// What the program shows is read back from those; its descriptors and resident memory from
// /proc.
#pragma once

#include <sys/types.h>

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace corvane::soak {

// The counters of one status line ("Started | Connections 2 | C->S 1,234 (buffered 0) |
// S->C 56,789 (buffered 0)"), with the digit groups joined again.
struct Status {
    std::string state;
    std::int64_t connections = 0;
    std::int64_t csTransferred = 0;
    std::int64_t csBuffered = 0;
    std::int64_t scTransferred = 0;
    std::int64_t scBuffered = 0;
};

// Nothing when the text is not a whole status line.
std::optional<Status> ParseStatus(const std::string& line);

class CliProcess {
public:
    CliProcess() = default;
    // Ends a program that is still running (SIGKILL to its pid) and reaps it.
    ~CliProcess();
    CliProcess(const CliProcess&) = delete;
    CliProcess& operator=(const CliProcess&) = delete;

    // Starts the program with the arguments after its name. False when it cannot be started.
    bool Launch(const std::string& program, const std::vector<std::string>& args);
    pid_t Pid() const { return pid_; }

    // Reads what the program has written so far, without waiting.
    void Poll();
    // The terminal key (p, r, z or q) as the user types it.
    bool Type(char key);

    // Standard output so far, and the status lines drawn so far (the newest last).
    const std::string& Output() const { return output_; }
    std::optional<Status> LastStatus() const;
    // The port of "Local Port (%d) opened", once it is on standard output.
    std::optional<std::uint16_t> LocalPort() const;

    // /proc/<pid>/fd entries, and VmRSS in KiB; -1 when they cannot be read.
    int OpenDescriptors() const;
    std::int64_t ResidentKiB() const;

    // Waits up to timeoutMs (reading its output meanwhile) for the program to end; its exit
    // code, or nothing when it is still running or was ended by a signal.
    std::optional<int> WaitExit(int timeoutMs);

private:
    pid_t pid_ = -1;
    int terminal_ = -1;  // the pseudo-terminal's master side
    int output_fd_ = -1;
    std::string output_;
    std::string screen_;  // the terminal's output since the last whole status line
    std::string lastStatusLine_;
    bool exited_ = false;
    int exitStatus_ = 0;
};

}  // namespace corvane::soak
