// Byte order, dotted addresses, interface names and the host's own name.
#include <arpa/inet.h>
#include <net/if.h>
#include <unistd.h>

#include <bit>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/socket_events.h"
#include "platform/winsock.h"

namespace corvane::platform {

std::uint16_t(htons)(std::uint16_t v) {
    if constexpr (std::endian::native == std::endian::little) {
        return __builtin_bswap16(v);
    }
    return v;
}

std::uint16_t(ntohs)(std::uint16_t v) {
    return (htons)(v);
}

std::uint32_t(htonl)(std::uint32_t v) {
    if constexpr (std::endian::native == std::endian::little) {
        return __builtin_bswap32(v);
    }
    return v;
}

std::uint32_t(ntohl)(std::uint32_t v) {
    return (htonl)(v);
}

std::uint32_t inet_addr(const char* cp) {
    // The C library's parser takes the forms of Winsock's inet_addr (one to four parts,
    // decimal, octal or hex) and gives INADDR_NONE for 255.255.255.255 as well.
    return cp == nullptr ? INADDR_NONE_ : static_cast<std::uint32_t>(::inet_addr(cp));
}

const char* inet_ntoa(std::uint32_t address) {
    static char text[16];
    const std::uint32_t host = (ntohl)(address);
    std::snprintf(text, sizeof text, "%u.%u.%u.%u", (host >> 24) & 0xFFu, (host >> 16) & 0xFFu,
                  (host >> 8) & 0xFFu, host & 0xFFu);
    return text;
}

int inet_pton(int af, const char* src, void* dst) {
    if (src == nullptr || dst == nullptr) {
        WSASetLastError(WSAEFAULT);
        return SOCKET_ERROR;
    }
    if (af != AF_INET_ && af != AF_INET6_) {
        WSASetLastError(WSAEAFNOSUPPORT);
        return SOCKET_ERROR;
    }
    return ::inet_pton(af == AF_INET_ ? AF_INET : AF_INET6, src, dst) == 1 ? 1 : 0;
}

const char* inet_ntop(int af, const void* src, char* dst, std::size_t size) {
    if (src == nullptr || dst == nullptr || (af != AF_INET_ && af != AF_INET6_)) {
        WSASetLastError(af != AF_INET_ && af != AF_INET6_ ? WSAEAFNOSUPPORT : WSAEFAULT);
        return nullptr;
    }
    if (::inet_ntop(af == AF_INET_ ? AF_INET : AF_INET6, src, dst, static_cast<socklen_t>(size)) ==
        nullptr) {
        WSASetLastError(WSAEFAULT);
        return nullptr;
    }
    return dst;
}

unsigned if_nametoindex(const char* name) {
    return name == nullptr ? 0 : ::if_nametoindex(name);
}

char* if_indextoname(unsigned index, char* name) {
    return name == nullptr ? nullptr : ::if_indextoname(index, name);
}

int gethostname(char* name, int namelen) {
    if (!detail::SocketsStarted()) {
        WSASetLastError(WSANOTINITIALISED);
        return SOCKET_ERROR;
    }
    if (name == nullptr || namelen <= 0) {
        WSASetLastError(WSAEFAULT);
        return SOCKET_ERROR;
    }
    char full[256] = {};
    if (::gethostname(full, sizeof full - 1) < 0) {
        WSASetLastError(ErrorFromErrno(errno));
        return SOCKET_ERROR;
    }
    // A buffer too small for the name and its terminating zero is the caller's fault.
    const std::size_t length = std::strlen(full);
    if (length + 1 > static_cast<std::size_t>(namelen)) {
        WSASetLastError(WSAEFAULT);
        return SOCKET_ERROR;
    }
    std::memcpy(name, full, length + 1);
    return 0;
}

}  // namespace corvane::platform
