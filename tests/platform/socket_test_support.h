// Helpers for the socket event tests: a target that records what reaches it, and loopback
// peers built from the layer's own calls or from raw POSIX calls (as an outside program).
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "platform/winsock.h"

namespace corvane::platform::test {

struct SocketEvent {
    WPARAM socket = 0;
    int event = 0;
    int error = 0;
};

class EventRecorder : public MessageTarget {
public:
    static constexpr UINT kMessage = WM_APP;

    void HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam) override;

    // Events of the socket s, or with event code e, in arrival order.
    std::vector<SocketEvent> For(SOCKET s) const;
    int Count(SOCKET s, int event) const;
    // Waits (bounded) until the socket has seen count events of the code.
    bool WaitForEvent(SOCKET s, int event, int count = 1, int timeoutMs = 5000) const;

    std::vector<SocketEvent> events;
    std::vector<UINT> otherMessages;
};

// Runs a function as the handler of a posted message, that is inside a pass over the queue
// (where later sends to a socket are joined), and waits (bounded) until it has run.
class InPass : public MessageTarget {
public:
    void HandleMessage(UINT msg, WPARAM, LPARAM) override;
    void Run(std::function<void()> f);
    static constexpr UINT kRun = WM_APP + 7;
    std::function<void()> job;
    int ran = 0;
};

// A listening socket of the layer on 127.0.0.1 with an ephemeral port, registered for
// FD_ACCEPT with the recorder; port in network byte order.
SOCKET OpenListener(EventRecorder& recorder, std::uint16_t& port);
// A raw (outside) client connected to 127.0.0.1:port, blocking; -1 on failure.
int RawConnect(std::uint16_t port);
// A raw descriptor's blocking write/read of everything; false on failure.
bool RawWriteAll(int fd, const char* data, std::size_t size);
std::size_t RawReadAvailable(int fd, std::vector<char>& into);
// Closes a raw descriptor with a reset instead of FIN.
void RawReset(int fd);
// Accepts (blocking until the listener's FD_ACCEPT has come) and registers the accepted
// socket with the mask; INVALID_SOCKET on failure.
SOCKET AcceptRegistered(EventRecorder& recorder, SOCKET listener, long mask);

// A test with the layer started and a listener of its own registered with rec_. Raw
// descriptors put in raw_ are closed at the end, before the layer is cleaned up.
class ListenerTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    EventRecorder rec_;
    SOCKET listener_ = INVALID_SOCKET;
    std::uint16_t port_ = 0;
    std::vector<int> raw_;
};

}  // namespace corvane::platform::test
