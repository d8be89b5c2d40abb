// What the window benchmarks share: a listening socket on 127.0.0.1 and a bounded run of the
// event loop.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <QEventLoop>
#include <QTimer>
#include <functional>

namespace corvane::bench {

// A socket listening on 127.0.0.1 at a free port (port gets it); -1 on failure.
inline int ListenLoopback(quint16& port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = 0;
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::listen(fd, 4) != 0) {
        return -1;
    }
    socklen_t len = sizeof addr;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
    port = ntohs(addr.sin_port);
    return fd;
}

// Runs the event loop until done() holds or timeoutMs passes, letting the idle hook run.
inline void RunLoop(int timeoutMs, const std::function<bool()>& done = {}) {
    QEventLoop loop;
    QTimer poll;
    if (done) {
        poll.setInterval(1);
        QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
            if (done()) {
                loop.quit();
            }
        });
        poll.start();
    }
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    loop.exec();
}

}  // namespace corvane::bench
