// How standard output can be written without holding up the relay. Regular files and
// devices such as /dev/null take any write at once. A pipe or a terminal may block, so it is
// opened a second time with O_NONBLOCK: that is a file description of the program's own,
// and the shell's description of the terminal (shared with the parent) keeps its flags.
// Where that second open fails (a socket, say) each write is preceded by poll() and kept
// to PIPE_BUF bytes.
#pragma once

#include <cstddef>

namespace corvane::cli {

// True when fd can be written within timeoutMs (0: ask without waiting).
bool WaitWritable(int fd, int timeoutMs);

class OutputDescriptor {
public:
    enum class Mode { NeverBlocks, NonBlocking, Polled };

    // fd stays open; a second description made here is closed with this object.
    explicit OutputDescriptor(int fd);
    ~OutputDescriptor();
    OutputDescriptor(const OutputDescriptor&) = delete;
    OutputDescriptor& operator=(const OutputDescriptor&) = delete;

    int fd() const { return fd_; }
    Mode mode() const { return mode_; }
    // The most that one write may carry so that it cannot block: wanted, or PIPE_BUF in
    // the Polled mode.
    std::size_t SafeWriteSize(std::size_t wanted) const;

private:
    int fd_;
    int owned_ = -1;
    Mode mode_ = Mode::Polled;
};

}  // namespace corvane::cli
