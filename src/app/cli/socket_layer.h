// The socket layer for the terminal program: started at once, shut down last. Unlike the
// window, the program does not look up the local host's name at start-up: that answer only
// fills the window's status bar panel, which a terminal does not have.
#pragma once

namespace corvane::cli {

class SocketLayer {
public:
    // WSAStartup for version 1.1; Error() tells how it went.
    SocketLayer();
    // WSACleanup when the start succeeded.
    ~SocketLayer();
    SocketLayer(const SocketLayer&) = delete;
    SocketLayer& operator=(const SocketLayer&) = delete;

    // 0 when started, else the code WSAStartup returned.
    int Error() const { return error_; }

private:
    int error_;
};

}  // namespace corvane::cli
