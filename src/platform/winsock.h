// The socket calls that the relay is written against, with Winsock's names, results and
// error numbers, implemented on Linux sockets. Every call that fails leaves its error in
// the last-error value, read with WSAGetLastError, in the Winsock numbering.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/messages.h"

namespace corvane::platform {

using SOCKET = int;
using HANDLE = std::uintptr_t;  // an asynchronous request; 0 means none
constexpr SOCKET INVALID_SOCKET = -1;
constexpr int SOCKET_ERROR = -1;

// Address families and types: stream sockets over IPv4 or IPv6 (Winsock's numbers).
constexpr int AF_INET_ = 2;
constexpr int AF_INET6_ = 23;
constexpr int SOCK_STREAM_ = 1;
constexpr std::uint32_t INADDR_ANY_ = 0;
constexpr std::uint32_t INADDR_NONE_ = 0xFFFFFFFFu;

// Socket options (levels and names as the relay passes them; mapped to Linux's).
constexpr int SOL_SOCKET_ = 0xFFFF;
constexpr int SO_DONTLINGER = ~0x0080;
constexpr int SO_LINGER_ = 0x0080;
constexpr int IPPROTO_TCP_ = 6;
constexpr int TCP_NODELAY_ = 1;
constexpr int IPPROTO_IPV6_ = 41;
constexpr int IPV6_V6ONLY_ = 27;
// SO_LINGER's value. On (1) with an interval of 0 makes closesocket a hard close.
struct LINGER {
    std::uint16_t l_onoff = 0;
    std::uint16_t l_linger = 0;
};
// How shutdown ends a socket's directions.
constexpr int SD_RECEIVE = 0;
constexpr int SD_SEND = 1;
constexpr int SD_BOTH = 2;
// The largest backlog; listen passes it on and the kernel caps it at its own maximum.
constexpr int SOMAXCONN_ = 0x7FFFFFFF;

// Events of WSAAsyncSelect.
constexpr long FD_READ = 0x01;
constexpr long FD_WRITE = 0x02;
constexpr long FD_ACCEPT = 0x08;
constexpr long FD_CONNECT = 0x10;
constexpr long FD_CLOSE = 0x20;
// The outcome of a TLS session's handshake (tls_session.h), outside Winsock's own bits.
constexpr long FD_TLS = 0x400;

// Error numbers.
constexpr int WSAEINTR = 10004;
constexpr int WSAEBADF = 10009;
constexpr int WSAEFAULT = 10014;
constexpr int WSAEINVAL = 10022;
constexpr int WSAEMFILE = 10024;
constexpr int WSAEWOULDBLOCK = 10035;
constexpr int WSAENOTSOCK = 10038;
constexpr int WSAENOPROTOOPT = 10042;
constexpr int WSAEAFNOSUPPORT = 10047;
constexpr int WSAEADDRINUSE = 10048;
constexpr int WSAEADDRNOTAVAIL = 10049;
constexpr int WSAENETDOWN = 10050;
constexpr int WSAENETUNREACH = 10051;
constexpr int WSAENETRESET = 10052;
constexpr int WSAECONNABORTED = 10053;
constexpr int WSAECONNRESET = 10054;
constexpr int WSAENOBUFS = 10055;
constexpr int WSAEISCONN = 10056;
constexpr int WSAENOTCONN = 10057;
constexpr int WSAESHUTDOWN = 10058;
constexpr int WSAETIMEDOUT = 10060;
constexpr int WSAECONNREFUSED = 10061;
constexpr int WSAEPROCLIM = 10067;
constexpr int WSASYSNOTREADY = 10091;
constexpr int WSAVERNOTSUPPORTED = 10092;
constexpr int WSANOTINITIALISED = 10093;
constexpr int WSAHOST_NOT_FOUND = 11001;
constexpr int WSATRY_AGAIN = 11002;
constexpr int WSANO_RECOVERY = 11003;
constexpr int WSANO_DATA = 11004;
// An errno with no Winsock counterpart becomes kUnmappedErrorBase + errno, a code outside
// every table, so that it shows as "Unhandled error (%d)".
constexpr int kUnmappedErrorBase = 20000;

// An address and port as bind, accept, connect and getsockname use them, all in network
// byte order: family AF_INET_ with the IPv4 address in address, or AF_INET6_ with the IPv6
// address in address6 (and its scope, for a link-local one).
struct SocketAddress {
    std::uint32_t address = 0;
    std::uint16_t port = 0;
    int family = AF_INET_;
    std::uint8_t address6[16] = {};
    std::uint32_t scopeId = 0;
};

// The answer of an asynchronous host look-up: the name's first IPv4 address or, when it has
// none, its first IPv6 address, in network byte order. It is written before the answer's
// message is posted.
struct HostEntry {
    std::uint32_t address = 0;
    int family = AF_INET_;
    std::uint8_t address6[16] = {};
};

// Start and stop the socket layer. WSAStartup returns 0 or an error number (it does not
// set the last error; versions below 1.1 give WSAVERNOTSUPPORTED); nothing but
// WSAGetLastError works before it (the others fail with WSANOTINITIALISED). Calls nest;
// the last WSACleanup closes every socket still open and cancels every pending look-up.
int WSAStartup(std::uint16_t version);
int WSACleanup();
// Tests only: while error is not 0, WSAStartup fails with it (and starts nothing). 0 removes it.
void SetStartupFailure(int error);

int WSAGetLastError();
void WSASetLastError(int error);
// The Winsock number of a Linux errno value.
int ErrorFromErrno(int errnoValue);

SOCKET socket(int af, int type, int protocol);
// Binding allows a port whose earlier connections linger in TIME_WAIT (Winsock's rule); a
// port that another socket listens on still fails with WSAEADDRINUSE.
int bind(SOCKET s, const SocketAddress& name);
int listen(SOCKET s, int backlog);
int getsockname(SOCKET s, SocketAddress& name);
SOCKET accept(SOCKET s, SocketAddress* peer);
int connect(SOCKET s, const SocketAddress& name);
// recv returns the bytes read, 0 for the peer's orderly close, SOCKET_ERROR on failure.
int recv(SOCKET s, char* buf, int len, int flags);
// send never raises SIGPIPE.
int send(SOCKET s, const char* buf, int len, int flags);
// Closes the socket gracefully and discards every message still queued for it. Bytes that
// arrived and were never read are read away first: closing over unread input would make the
// kernel send a reset instead of FIN, and the reset can destroy what was just sent. After
// SO_LINGER_ on with a zero interval the close is hard: what the socket still holds to send
// (joined sends, the kernel's queue) is dropped and the peer is reset at once.
int closesocket(SOCKET s);
// Understands SOL_SOCKET_/SO_DONTLINGER (lingering with the system's default interval, which
// on Linux is a plain graceful close), SOL_SOCKET_/SO_LINGER_ with a LINGER (off: the
// graceful close; on with interval 0: the hard close; an interval that would make closesocket
// wait fails with WSAEINVAL) and IPPROTO_TCP_/TCP_NODELAY_; any other option fails with
// WSAENOPROTOOPT.
// IPPROTO_IPV6_/IPV6_V6ONLY_ too (on an IPv6 socket: 0 lets it take IPv4 peers as well).
int setsockopt(SOCKET s, int level, int optname, const void* optval, int optlen);
// Ends the sending side (SD_SEND), the receiving side or both. Ending the sending side sends
// FIN after every byte handed over before, joined sends included (write_behind.h): while the
// socket still holds such bytes the FIN waits for them. Sends after it fail with WSAESHUTDOWN.
int shutdown(SOCKET s, int how);

// The names are in parentheses so that the C library's macros of the same names, where a
// file has included them, cannot rewrite these declarations.
std::uint16_t(htons)(std::uint16_t v);
std::uint16_t(ntohs)(std::uint16_t v);
std::uint32_t(htonl)(std::uint32_t v);
std::uint32_t(ntohl)(std::uint32_t v);
// A dotted IPv4 address to network byte order; INADDR_NONE_ when the text is not one.
std::uint32_t inet_addr(const char* cp);
// Network byte order to dotted text, in a buffer that the next call overwrites.
const char* inet_ntoa(std::uint32_t address);
// An IPv4 (AF_INET_, 4 bytes) or IPv6 (AF_INET6_, 16 bytes) address in text form to network
// byte order: 1 when the text is one, 0 when not, -1 (WSAEAFNOSUPPORT) for another family.
// IPv4 takes only the four-part dotted decimal form here.
int inet_pton(int af, const char* src, void* dst);
// The reverse: dst, or nullptr when the family is unknown or size too small (WSAEFAULT).
const char* inet_ntop(int af, const void* src, char* dst, std::size_t size);
// A network interface's index from its name ("lo"), 0 when there is none by that name; and
// its name from the index into a buffer of IF_NAMESIZE_ bytes (nullptr when there is none).
// They are the zones of link-local IPv6 addresses (a SocketAddress's scopeId).
constexpr std::size_t IF_NAMESIZE_ = 16;
unsigned if_nametoindex(const char* name);
char* if_indextoname(unsigned index, char* name);
int gethostname(char* name, int namelen);

// Registers the socket for the events in mask; each one arrives as the message msg at the
// target, with wParam the socket and lParam WSAMAKESELECTREPLY(event, error). Registering
// also makes the socket non-blocking. Each event is posted once and re-enabled by the call
// that consumes it: FD_READ by recv, FD_ACCEPT by accept, FD_WRITE by a send that would
// block (or sent only part); FD_CONNECT and FD_CLOSE come once, FD_CLOSE after a graceful
// close only when every byte has been read. See docs/ARCHITECTURE.md for the full rules.
int WSAAsyncSelect(SOCKET s, MessageTarget* target, UINT msg, long mask);

// Looks the name up (IPv4 first: an IPv6 address only for a name without IPv4 ones). The answer
// arrives as the message msg at the target, with wParam the returned handle and lParam
// WSAMAKEASYNCREPLY(0, error). Handles are never equal to any socket number. Returns 0 and sets the
// last error when it cannot start.
HANDLE WSAAsyncGetHostByName(MessageTarget* target, UINT msg, const char* name, HostEntry* result);
// A cancelled request never delivers its answer.
int WSACancelAsyncRequest(HANDLE request);

constexpr LPARAM WSAMAKESELECTREPLY(long event, int error) {
    return static_cast<LPARAM>((static_cast<std::uint32_t>(error) << 16) |
                               (static_cast<std::uint32_t>(event) & 0xFFFFu));
}
constexpr LPARAM WSAMAKEASYNCREPLY(int buflen, int error) {
    return WSAMAKESELECTREPLY(buflen, error);
}
constexpr int WSAGETSELECTEVENT(LPARAM l) {
    return static_cast<int>(static_cast<std::uint32_t>(l) & 0xFFFFu);
}
constexpr int WSAGETSELECTERROR(LPARAM l) {
    return static_cast<int>((static_cast<std::uint32_t>(l) >> 16) & 0xFFFFu);
}
constexpr int WSAGETASYNCERROR(LPARAM l) {
    return WSAGETSELECTERROR(l);
}

}  // namespace corvane::platform
