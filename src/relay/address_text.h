// Addresses as the relay takes them from text and shows them in the log: IPv4 in dotted
// form, IPv6 in its text form, and an IPv4 peer that reached an IPv6 socket (a v4-mapped
// address) as the IPv4 address it is.
#pragma once

#include <string>
#include <string_view>

#include "platform/winsock.h"

namespace corvane::relay {

// A numeric address: a dotted IPv4 address as inet_addr takes it, or an IPv6 address, with
// or without brackets ("::1", "[2001:db8::5]"), and with the zone of a link-local one
// ("fe80::1%eth0" or "fe80::1%2": an interface of this computer, as scopeId). False for
// anything else (names included, and a zone that names no interface).
bool ParseAddress(std::string_view text, platform::SocketAddress& address);
// Only the IPv6 forms of ParseAddress.
bool ParseIPv6Address(std::string_view text, platform::SocketAddress& address);

// "127.0.0.1", "::1"; a v4-mapped IPv6 address in dotted form.
std::string AddressText(const platform::SocketAddress& address);
// AddressText with the zone of a scoped IPv6 address: "fe80::1%lo".
std::string ScopedAddressText(const platform::SocketAddress& address);
// "127.0.0.1:44984", "[::1]:44984" (the port in host byte order).
std::string PeerText(const platform::SocketAddress& address);

// The address of a look-up's answer.
platform::SocketAddress FromHostEntry(const platform::HostEntry& entry);

}  // namespace corvane::relay
