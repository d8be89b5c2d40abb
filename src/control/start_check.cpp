#include "control/start_check.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "control/port_number.h"
#include "relay/address_text.h"

namespace corvane::control {
namespace {

StartCheck Reject(const char* message, EditBox focus) {
    StartCheck check;
    check.error = CommandError{message, focus};
    return check;
}

// A socket of the address's family binds to it (on any port): the kernel's own test of
// whether the address is one of this computer's. Only those two answers refuse it; any
// other failure is the Local Port's to report when it opens.
bool IsAddressOfThisComputer(const platform::SocketAddress& address) {
    const platform::SOCKET s = platform::socket(address.family, platform::SOCK_STREAM_, 0);
    if (s == platform::INVALID_SOCKET) {
        return platform::WSAGetLastError() != platform::WSAEAFNOSUPPORT;
    }
    platform::SocketAddress any = address;
    any.port = 0;
    const bool refused =
        platform::bind(s, any) != 0 && platform::WSAGetLastError() == platform::WSAEADDRNOTAVAIL;
    platform::closesocket(s);
    return !refused;
}

}  // namespace

StartCheck CheckStartParameters(std::string_view remoteHost, std::string_view remotePort,
                                std::string_view localPort) {
    if (remoteHost.empty()) {
        return Reject(kRemoteHostRequired, EditBox::RemoteHost);
    }
    if (remotePort.empty()) {
        return Reject(kRemotePortRequired, EditBox::RemotePort);
    }
    const std::optional<std::int32_t> remote = ParseInteger(remotePort);
    // The port numbers are 16-bit: larger values keep their low 16 bits (70000 is 4464).
    // A value whose low 16 bits are 0 (65536, 131072, ...) would make port 0, which no
    // Server can listen on, so it is refused like 0 itself.
    if (!remote || *remote < 1 || (*remote & 0xFFFF) == 0) {
        return Reject(kRemotePortPositive, EditBox::RemotePort);
    }
    StartCheck check;
    check.ports.RemotePortNumber = static_cast<std::uint16_t>(*remote & 0xFFFF);
    if (!localPort.empty()) {
        const std::optional<std::int32_t> local = ParseInteger(localPort);
        if (!local || *local < 0) {
            return Reject(kLocalPortNonnegative, EditBox::LocalPort);
        }
        check.ports.LocalPortNumber = static_cast<std::uint16_t>(*local & 0xFFFF);
    }
    return check;
}

std::optional<CommandError> CheckListenAddress(std::string_view listenAddress) {
    platform::SocketAddress address;
    if (listenAddress.empty()) {
        return std::nullopt;
    }
    if (relay::ParseAddress(listenAddress, address) && IsAddressOfThisComputer(address)) {
        return std::nullopt;
    }
    return CommandError{kListenAddressInvalid, EditBox::ListenAddress};
}

bool CanWriteFile(const std::string& path) {
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0) {
        ::close(fd);
        ::unlink(path.c_str());
        return true;
    }
    if (errno != EEXIST) {
        return false;
    }
    fd = ::open(path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd >= 0) {
        ::close(fd);
        return true;
    }
    return errno == ENXIO;  // a pipe that nobody reads yet
}

}  // namespace corvane::control
