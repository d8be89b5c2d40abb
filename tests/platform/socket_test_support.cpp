#include "socket_test_support.h"

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "platform/messages.h"
#include "support/event_loop_wait.h"

namespace corvane::platform::test {

void EventRecorder::HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg != kMessage) {
        otherMessages.push_back(msg);
        return;
    }
    events.push_back({wParam, WSAGETSELECTEVENT(lParam), WSAGETSELECTERROR(lParam)});
}

std::vector<SocketEvent> EventRecorder::For(SOCKET s) const {
    std::vector<SocketEvent> out;
    std::copy_if(events.begin(), events.end(), std::back_inserter(out),
                 [s](const SocketEvent& e) { return e.socket == static_cast<WPARAM>(s); });
    return out;
}

int EventRecorder::Count(SOCKET s, int event) const {
    return static_cast<int>(std::count_if(events.begin(), events.end(), [&](const SocketEvent& e) {
        return e.socket == static_cast<WPARAM>(s) && e.event == event;
    }));
}

bool EventRecorder::WaitForEvent(SOCKET s, int event, int count, int timeoutMs) const {
    return corvane::test::WaitFor([&] { return Count(s, event) >= count; }, timeoutMs);
}

void InPass::HandleMessage(UINT msg, WPARAM, LPARAM) {
    if (msg == kRun && job) {
        job();
        ++ran;
    }
}

void InPass::Run(std::function<void()> f) {
    job = std::move(f);
    const int before = ran;
    PostMessage(this, kRun, 0, 0);
    ASSERT_TRUE(corvane::test::WaitFor([&] { return ran > before; }));
}

SOCKET OpenListener(EventRecorder& recorder, std::uint16_t& port) {
    SOCKET s = socket(AF_INET_, SOCK_STREAM_, 0);
    if (s == INVALID_SOCKET) {
        return s;
    }
    SocketAddress any{inet_addr("127.0.0.1"), 0};
    SocketAddress bound;
    if (bind(s, any) != 0 || listen(s, SOMAXCONN_) != 0 || getsockname(s, bound) != 0 ||
        WSAAsyncSelect(s, &recorder, EventRecorder::kMessage, FD_ACCEPT) != 0) {
        closesocket(s);
        return INVALID_SOCKET;
    }
    port = bound.port;
    return s;
}

int RawConnect(std::uint16_t port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in sin{};
    sin.sin_family = AF_INET;
    sin.sin_port = port;
    sin.sin_addr.s_addr = inet_addr("127.0.0.1");
    if (fd < 0 || ::connect(fd, reinterpret_cast<sockaddr*>(&sin), sizeof sin) != 0) {
        if (fd >= 0) {
            ::close(fd);
        }
        return -1;
    }
    return fd;
}

bool RawWriteAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = ::send(fd, data, size, MSG_NOSIGNAL);
        if (n <= 0) {
            return false;
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

std::size_t RawReadAvailable(int fd, std::vector<char>& into) {
    std::size_t total = 0;
    char buf[65536];
    for (;;) {
        const ssize_t n = ::recv(fd, buf, sizeof buf, MSG_DONTWAIT);
        if (n <= 0) {
            return total;
        }
        into.insert(into.end(), buf, buf + n);
        total += static_cast<std::size_t>(n);
    }
}

void RawReset(int fd) {
    linger l{1, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &l, sizeof l);
    ::close(fd);
}

SOCKET AcceptRegistered(EventRecorder& recorder, SOCKET listener, long mask) {
    if (!recorder.WaitForEvent(listener, FD_ACCEPT)) {
        return INVALID_SOCKET;
    }
    SocketAddress peer;
    SOCKET s = accept(listener, &peer);
    if (s != INVALID_SOCKET && WSAAsyncSelect(s, &recorder, EventRecorder::kMessage, mask) != 0) {
        closesocket(s);
        return INVALID_SOCKET;
    }
    return s;
}

void ListenerTest::SetUp() {
    ASSERT_EQ(WSAStartup(0x0101), 0);
    listener_ = OpenListener(rec_, port_);
    ASSERT_NE(listener_, INVALID_SOCKET);
}

void ListenerTest::TearDown() {
    for (int fd : raw_) {
        ::close(fd);
    }
    WSACleanup();
    DiscardMessages(&rec_);
}

}  // namespace corvane::platform::test
