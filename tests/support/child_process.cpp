#include "support/child_process.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "support/event_loop_wait.h"

namespace corvane::test {

namespace {

int OpenOutput(const std::string& path) {
    return ::open(path.empty() ? "/dev/null" : path.c_str(),
                  O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
}

}  // namespace

ChildProcess::ChildProcess(const std::vector<std::string>& argv, const std::string& outFile,
                           const std::string& errFile) {
    int pipeFds[2];
    if (argv.empty() || ::pipe2(pipeFds, O_CLOEXEC) != 0) {
        return;
    }
    const int out = OpenOutput(outFile);
    const int err = OpenOutput(errFile);
    std::vector<char*> args;
    for (const std::string& a : argv) {
        args.push_back(const_cast<char*>(a.c_str()));
    }
    args.push_back(nullptr);
    pid_ = ::fork();
    if (pid_ == 0) {
        ::dup2(pipeFds[0], 0);
        ::dup2(out, 1);
        ::dup2(err, 2);
        ::execvp(args[0], args.data());
        ::_exit(127);
    }
    ::close(pipeFds[0]);
    ::close(out);
    ::close(err);
    input_ = pipeFds[1];
    // A child that stops reading must not hold the test up on a write.
    ::fcntl(input_, F_SETFL, O_NONBLOCK);
    ::signal(SIGPIPE, SIG_IGN);
}

ChildProcess::~ChildProcess() {
    CloseInput();
    if (pid_ > 0 && !Exited()) {
        ::kill(pid_, SIGKILL);
        int status = 0;
        ::waitpid(pid_, &status, 0);
    }
}

bool ChildProcess::Write(std::string_view bytes) {
    // A full pipe waits for the child to read, with the event loop running meanwhile.
    WaitFor(
        [&] {
            while (!bytes.empty() && input_ >= 0) {
                const ssize_t n = ::write(input_, bytes.data(), bytes.size());
                if (n < 0) {
                    return errno != EAGAIN;
                }
                bytes.remove_prefix(static_cast<std::size_t>(n));
            }
            return true;
        },
        10000);
    return bytes.empty();
}

void ChildProcess::CloseInput() {
    if (input_ >= 0) {
        ::close(input_);
        input_ = -1;
    }
}

bool ChildProcess::Exited() {
    if (exit_) {
        return true;
    }
    if (pid_ <= 0) {
        return false;
    }
    int status = 0;
    if (::waitpid(pid_, &status, WNOHANG) != pid_) {
        return false;
    }
    exit_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return true;
}

bool ChildProcess::WaitExit(int timeoutMs) {
    return WaitFor([this] { return Exited(); }, timeoutMs);
}

bool HaveProgram(const std::string& name) {
    const char* path = std::getenv("PATH");
    std::string dirs = path != nullptr ? path : "/usr/bin:/bin";
    for (std::size_t start = 0; start <= dirs.size();) {
        std::size_t end = dirs.find(':', start);
        end = end == std::string::npos ? dirs.size() : end;
        const std::string candidate = dirs.substr(start, end - start) + "/" + name;
        if (::access(candidate.c_str(), X_OK) == 0) {
            return true;
        }
        start = end + 1;
    }
    return false;
}

std::string ReadWholeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::uint16_t FreeLoopbackPort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    std::uint16_t port = 0;
    if (fd >= 0 && ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
        port = ntohs(address.sin_port);
    }
    if (fd >= 0) {
        ::close(fd);
    }
    return port;
}

bool WaitListening(std::uint16_t port, int timeoutMs) {
    return WaitFor(
        [port] {
            const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
            sockaddr_in address{};
            address.sin_family = AF_INET;
            address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            address.sin_port = htons(port);
            // A loopback connect is answered at once, accepted or refused.
            const bool accepted = fd >= 0 && ::connect(fd, reinterpret_cast<sockaddr*>(&address),
                                                       sizeof address) == 0;
            if (fd >= 0) {
                ::close(fd);
            }
            return accepted;
        },
        timeoutMs);
}

}  // namespace corvane::test
