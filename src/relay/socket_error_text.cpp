#include "relay/socket_error_text.h"

#include <cstdio>

#include "platform/winsock.h"

namespace corvane::relay {

namespace {

struct ErrorText {
    int code;
    const char* text;
};

constexpr ErrorText kErrorTexts[] = {
    {platform::WSAEMFILE, "Too many open files"},
    {platform::WSAEWOULDBLOCK, "Resource temporarily unavailable"},
    {platform::WSAEADDRINUSE, "Address already in use"},
    {platform::WSAENETDOWN, "Network is down"},
    {platform::WSAENETUNREACH, "Network is unreachable"},
    {platform::WSAENETRESET, "Network dropped connection on reset"},
    {platform::WSAECONNABORTED, "Software caused connection abort"},
    {platform::WSAECONNRESET, "Connection reset by peer"},
    {platform::WSAENOBUFS, "No buffer space is available"},
    {platform::WSAETIMEDOUT, "Connection timed out"},
    {platform::WSAECONNREFUSED, "Connection refused"},
    {platform::WSAEPROCLIM, "Too many processes"},
    {platform::WSASYSNOTREADY, "Network subsystem is unavailable"},
    {platform::WSAHOST_NOT_FOUND, "Host not found"},
    {platform::WSATRY_AGAIN, "Non-authoritative host not found"},
    {platform::WSANO_RECOVERY, "This is a non-recoverable error"},
    {platform::WSANO_DATA, "Valid name, no data record of requested type"},
};

char unhandledText[80];

}  // namespace

const char* SocketErrorText(int error) {
    for (const ErrorText& entry : kErrorTexts) {
        if (entry.code == error) {
            return entry.text;
        }
    }
    std::snprintf(unhandledText, sizeof unhandledText, "Unhandled error (%d)", error);
    return unhandledText;
}

}  // namespace corvane::relay
