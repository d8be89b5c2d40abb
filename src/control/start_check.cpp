#include "control/start_check.h"

#include "control/port_number.h"

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
    if (!remote || *remote < 1) {
        return Reject(kRemotePortPositive, EditBox::RemotePort);
    }
    StartCheck check;
    // The port numbers are 16-bit: larger values keep their low 16 bits.
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

}  // namespace corvane::control
