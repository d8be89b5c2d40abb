// An outside program (curl, nginx, openssl) as a child of a test: its standard output and
// error go to files, its standard input is a pipe. Waiting runs the event loop, so that the
// relay in the test's own process moves meanwhile. The only process ever signalled is the
// child started here, by its pid.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace corvane::test {

class ChildProcess {
public:
    // argv[0] is looked up in PATH. Output goes to outFile and errFile (/dev/null when empty).
    ChildProcess(const std::vector<std::string>& argv, const std::string& outFile = {},
                 const std::string& errFile = {});
    // Kills the child (SIGKILL, by its pid) when it still runs, and reaps it.
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    pid_t Pid() const { return pid_; }
    bool Started() const { return pid_ > 0; }
    // Writes to the child's standard input (waiting, bounded, while the pipe is full);
    // CloseInput ends it.
    bool Write(std::string_view bytes);
    void CloseInput();
    // True once the child has exited (reaped here); its exit code, or 128 + signal.
    bool Exited();
    std::optional<int> ExitCode() const { return exit_; }
    // Runs the event loop until the child exits; false when timeoutMs passes first.
    bool WaitExit(int timeoutMs = 15000);

private:
    pid_t pid_ = -1;
    int input_ = -1;
    std::optional<int> exit_;
};

// True when the program can be found in PATH.
bool HaveProgram(const std::string& name);
// The whole file, or empty.
std::string ReadWholeFile(const std::string& path);
// A port on 127.0.0.1 that was free a moment ago (bound to port 0 and closed again), for a
// program that must be told its port.
std::uint16_t FreeLoopbackPort();
// Runs the event loop until something accepts on 127.0.0.1:port (a child that has started
// listening); false after timeoutMs.
bool WaitListening(std::uint16_t port, int timeoutMs = 10000);

}  // namespace corvane::test
