#include "control/start_check.h"

#include "control/port_number.h"
#include "relay/address_text.h"

namespace corvane::control {
namespace {

StartCheck Reject(const char* message, EditBox focus) {
    StartCheck check;
    check.error = CommandError{message, focus};
    return check;
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
    if (listenAddress.empty() || relay::ParseAddress(listenAddress, address)) {
        return std::nullopt;
    }
    return CommandError{kListenAddressInvalid, EditBox::ListenAddress};
}

}  // namespace corvane::control
