#include "app/cli/output_descriptor.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>
#include <algorithm>
#include <climits>
#include <string>

namespace corvane::cli {

bool WaitWritable(int fd, int timeoutMs) {
    pollfd p{fd, POLLOUT, 0};
    const int r = ::poll(&p, 1, timeoutMs);
    return r > 0 && (p.revents & (POLLOUT | POLLERR | POLLHUP)) != 0;
}

OutputDescriptor::OutputDescriptor(int fd) : fd_(fd) {
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        return;  // written as if it could block; a failure then shows as Broken
    }
    if (S_ISREG(st.st_mode) || S_ISBLK(st.st_mode) || (S_ISCHR(st.st_mode) && ::isatty(fd) != 1)) {
        mode_ = Mode::NeverBlocks;
        return;
    }
    if (S_ISFIFO(st.st_mode) || S_ISCHR(st.st_mode)) {
        // A second open of the same pipe or terminal is a file description of our own, so
        // O_NONBLOCK there leaves the shell's (shared) description of the terminal alone.
        const std::string path = "/proc/self/fd/" + std::to_string(fd);
        const int own = ::open(path.c_str(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
        if (own >= 0) {
            owned_ = own;
            fd_ = own;
            mode_ = Mode::NonBlocking;
        }
    }
}

OutputDescriptor::~OutputDescriptor() {
    if (owned_ >= 0) {
        ::close(owned_);
    }
}

std::size_t OutputDescriptor::SafeWriteSize(std::size_t wanted) const {
    // A blocking descriptor that polls writable takes PIPE_BUF bytes without waiting.
    return mode_ == Mode::Polled ? std::min<std::size_t>(wanted, PIPE_BUF) : wanted;
}

}  // namespace corvane::cli
