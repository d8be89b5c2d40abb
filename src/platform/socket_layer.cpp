// Starting and stopping the socket layer.
#include "platform/socket_events.h"
#include "platform/socket_table.h"
#include "platform/winsock.h"
#include "platform/write_behind.h"

namespace corvane::platform {
namespace detail {
namespace {

int startCount = 0;
int startupFailure = 0;

}  // namespace

bool SocketsStarted() {
    return startCount > 0;
}

void CancelAllLookups();

}  // namespace detail

void SetStartupFailure(int error) {
    detail::startupFailure = error;
}

int WSAStartup(std::uint16_t version) {
    if (detail::startupFailure != 0) {
        return detail::startupFailure;
    }
    const int major = version & 0xFF;
    const int minor = (version >> 8) & 0xFF;
    if (major < 1 || (major == 1 && minor < 1)) {
        return WSAVERNOTSUPPORTED;
    }
    ++detail::startCount;
    return 0;
}

int WSACleanup() {
    if (detail::startCount == 0) {
        WSASetLastError(WSANOTINITIALISED);
        return SOCKET_ERROR;
    }
    if (detail::startCount == 1) {
        // Closed as the program would close them; those that then linger get a moment to
        // hand what they hold to the kernel, which delivers it after the program has gone.
        for (int fd : detail::Sockets().OpenDescriptors()) {
            closesocket(fd);
        }
        detail::EndAllLingering(detail::kEndLingerMilliseconds);
        detail::CancelAllLookups();
    }
    --detail::startCount;
    return 0;
}

}  // namespace corvane::platform
