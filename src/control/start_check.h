// Start's parameter checks, in their order, before anything is opened.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "control/command_error.h"

namespace corvane::control {

inline constexpr const char* kRemoteHostRequired = "Remote Host required";
inline constexpr const char* kRemotePortRequired = "Remote Port required";
inline constexpr const char* kRemotePortPositive = "Remote Port must be a positive integer";
inline constexpr const char* kLocalPortNonnegative = "Local Port must be a nonnegative integer";
inline constexpr const char* kCouldNotCreateLogFile = "Could not create log file";
inline constexpr const char* kListenAddressInvalid =
    "Listen Address must be an IPv4 or IPv6 address of this computer, or empty";
inline constexpr const char* kCouldNotCreateCaptureFile = "Could not create capture file";
inline constexpr const char* kCouldNotCreateStreams = "Could not create kept streams file";

struct StartParameters {
    std::uint16_t RemotePortNumber = 0;
    std::uint16_t LocalPortNumber = 0;  // 0: any free port
};

struct StartCheck {
    std::optional<CommandError> error;  // the first check that failed, if any
    StartParameters ports;              // valid when there is no error
};

// Remote Host not empty; Remote Port not empty, an integer and at least 1, and not a
// multiple of 65536 (which would be port 0); Local Port empty (port 0) or an integer of at
// least 0. The ports keep their low 16 bits, so 70000 is 4464.
StartCheck CheckStartParameters(std::string_view remoteHost, std::string_view remotePort,
                                std::string_view localPort);

// Listen Address empty (every interface) or a numeric IPv4 or IPv6 address ("127.0.0.1",
// "::1", "[::1]", a link-local one with its zone, "fe80::1%eth0") that is one of this
// computer's: a socket can be bound to it. A name is refused, and so is an address this
// computer does not have (or IPv6 where it has none). Checked after the ports, before the
// Log File; needs the socket layer started.
std::optional<CommandError> CheckListenAddress(std::string_view listenAddress);

// Whether the Log File can be made at path, found out without changing anything there: a
// file that exists is opened for writing and closed untouched, a new one is made and removed
// again. A named pipe without a reader counts as writable.
bool CanWriteFile(const std::string& path);

}  // namespace corvane::control
