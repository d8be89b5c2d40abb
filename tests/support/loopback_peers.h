// Raw POSIX peers on 127.0.0.1 for the test programs: the Clients and Servers of the relay,
// outside programs as far as it can tell. Every socket is non-blocking, and every wait runs
// the event loop (bounded in time), so that the relay in the same process moves meanwhile.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace corvane::test {

// A listener with an ephemeral port (port in host byte order); -1 on failure.
int ListenPeer(std::uint16_t& port);
// A listener on the given port, with the given backlog; -1 when the port is taken.
int ListenPeerOn(std::uint16_t port, int backlog = 4096);
// One accepted connection, or -1 when none came within timeoutMs.
int AcceptPeer(int listenFd, int timeoutMs = 5000);
// A connect that completes in the background; -1 on failure. receiveBuffer > 0 sets
// SO_RCVBUF before the connect, so that the window stays small.
int ConnectPeer(std::uint16_t port);
int ConnectPeer(std::uint16_t port, int receiveBuffer);
// A connect that has completed when it returns (the kernel completes it from the backlog);
// -1 when refused.
int ConnectedPeer(std::uint16_t port);
bool SendPeer(int fd, std::string_view data, int timeoutMs = 5000);
// Reads until `into` holds at least n bytes.
bool ReceivePeer(int fd, std::string& into, std::size_t n, int timeoutMs = 5000);
// Reads until the peer's close or a reset; everything read is appended to `into`. reset,
// when given, tells which of the two it was.
bool WaitPeerClosed(int fd, std::string& into, int timeoutMs = 5000);
bool WaitPeerClosed(int fd, std::string& into, int timeoutMs, bool* reset);
// The same on a numeric address of either family ("::1", "127.0.0.2"); -1 when the machine
// cannot bind or reach it (no IPv6 loopback, for instance).
int ListenPeerAt(const char* address, std::uint16_t& port);
int ConnectPeerTo(const char* address, std::uint16_t port);
// True when the machine has an IPv6 loopback (a socket can listen on ::1).
bool HaveIPv6Loopback();
void ClosePeer(int fd);
void ResetPeer(int fd);  // closes with RST instead of FIN
void SetReceiveBuffer(int fd, int bytes);
// A port on 127.0.0.1 that refuses: it was bound and closed again.
std::uint16_t RefusingPort();
// The local port of a peer, in host byte order.
std::uint16_t LocalPortOf(int fd);
// Bytes pass both ways between two peers of one Connection: "ping" from client reaches
// server, then "pong" from server reaches client; a test failure otherwise.
void ExpectRelays(int client, int server);

}  // namespace corvane::test
