#include "control_support.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#include <cerrno>
#include <fstream>
#include <sstream>

#include "support/event_loop_wait.h"

namespace corvane::control::test {

std::string FakeControlView::EditText(EditBox box) const {
    const auto it = texts.find(box);
    return it == texts.end() ? std::string() : it->second;
}

void FakeControlView::SetEditText(EditBox box, std::string_view text) {
    texts[box] = std::string(text);
}

void FakeLogView::DeleteFirstLine() {
    const std::size_t end = text.find("\r\n");
    text.erase(0, end == std::string::npos ? text.size() : end + 2);
}

void TempStoreTest::SetUp() {
    ASSERT_TRUE(store_.IsValid());
    ASSERT_TRUE(dir_.isValid());
}

namespace {

sockaddr_in Loopback(std::uint16_t port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return a;
}

void SetNonBlocking(int fd) {
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
}

}  // namespace

int RawListenOn(std::uint16_t port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return -1;
    }
    sockaddr_in a = Loopback(port);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(fd, 16) != 0) {
        ::close(fd);
        return -1;
    }
    SetNonBlocking(fd);
    return fd;
}

int RawListen(std::uint16_t& port) {
    const int fd = RawListenOn(0);
    if (fd < 0) {
        return -1;
    }
    sockaddr_in a{};
    socklen_t len = sizeof a;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    port = ntohs(a.sin_port);
    return fd;
}

int RawAccept(int listener, int timeoutMs) {
    int accepted = -1;
    corvane::test::WaitFor(
        [&] {
            accepted = ::accept4(listener, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
            return accepted >= 0;
        },
        timeoutMs);
    return accepted;
}

int RawConnect(std::uint16_t port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return -1;
    }
    sockaddr_in a = Loopback(port);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        ::close(fd);
        return -1;
    }
    SetNonBlocking(fd);
    return fd;
}

bool RawSend(int fd, std::string_view data) {
    std::size_t sent = 0;
    return corvane::test::WaitFor([&] {
               const ssize_t n = ::send(fd, data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
               if (n > 0) {
                   sent += static_cast<std::size_t>(n);
               }
               return sent == data.size() || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK);
           }) &&
           sent == data.size();
}

bool RawReceive(int fd, std::string& into, std::size_t count, int timeoutMs) {
    return corvane::test::WaitFor(
               [&] {
                   char buf[4096];
                   const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
                   if (n > 0) {
                       into.append(buf, static_cast<std::size_t>(n));
                   }
                   return into.size() >= count || n == 0;
               },
               timeoutMs) &&
           into.size() >= count;
}

void RawClose(int fd) {
    if (fd >= 0) {
        ::close(fd);
    }
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

}  // namespace corvane::control::test
