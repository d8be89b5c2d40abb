#include <cerrno>

#include "platform/winsock.h"

namespace corvane::platform {
namespace {

int lastError = 0;

}  // namespace

int WSAGetLastError() {
    return lastError;
}

void WSASetLastError(int error) {
    lastError = error;
}

int ErrorFromErrno(int errnoValue) {
    switch (errnoValue) {
        case EAGAIN:
#if EWOULDBLOCK != EAGAIN
        case EWOULDBLOCK:
#endif
        case EINPROGRESS:
        case EALREADY:
            return WSAEWOULDBLOCK;
        case EINTR:
            return WSAEINTR;
        case EBADF:
            return WSAEBADF;
        case EINVAL:
            return WSAEINVAL;
        case EFAULT:
            return WSAEFAULT;
        case EMFILE:
        case ENFILE:
            return WSAEMFILE;
        case ENOTSOCK:
            return WSAENOTSOCK;
        case EAFNOSUPPORT:
            return WSAEAFNOSUPPORT;
        case EADDRINUSE:
            return WSAEADDRINUSE;
        case EADDRNOTAVAIL:
            return WSAEADDRNOTAVAIL;
        case ENETDOWN:
            return WSAENETDOWN;
        case ENETUNREACH:
        case EHOSTUNREACH:
            return WSAENETUNREACH;
        case ENETRESET:
            return WSAENETRESET;
        case ECONNABORTED:
            return WSAECONNABORTED;
        case ECONNRESET:
        case EPIPE:
            return WSAECONNRESET;
        case ENOBUFS:
        case ENOMEM:
            return WSAENOBUFS;
        case EISCONN:
            return WSAEISCONN;
        case ENOTCONN:
            return WSAENOTCONN;
        case ETIMEDOUT:
            return WSAETIMEDOUT;
        case ECONNREFUSED:
            return WSAECONNREFUSED;
        default:
            return kUnmappedErrorBase + errnoValue;
    }
}

}  // namespace corvane::platform
