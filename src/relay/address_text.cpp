#include "relay/address_text.h"

#include <charconv>
#include <cstring>

namespace corvane::relay {
namespace {

bool IsV4Mapped(const platform::SocketAddress& a) {
    static constexpr std::uint8_t kPrefix[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF};
    return a.family == platform::AF_INET6_ && std::memcmp(a.address6, kPrefix, 12) == 0;
}

}  // namespace

bool ParseIPv6Address(std::string_view text, platform::SocketAddress& address) {
    if (text.size() >= 2 && text.front() == '[' && text.back() == ']') {
        text = text.substr(1, text.size() - 2);
    }
    platform::SocketAddress parsed;
    parsed.family = platform::AF_INET6_;
    // A zone after '%' names the interface of a link-local address: "fe80::1%eth0", or its
    // index, "fe80::1%2".
    if (const auto percent = text.find('%'); percent != std::string_view::npos) {
        const std::string zone(text.substr(percent + 1));
        text = text.substr(0, percent);
        if (zone.empty() || zone.size() >= platform::IF_NAMESIZE_) {
            return false;
        }
        const char* end = zone.data() + zone.size();
        if (std::from_chars(zone.data(), end, parsed.scopeId).ptr != end) {
            parsed.scopeId = platform::if_nametoindex(zone.c_str());
        }
        if (parsed.scopeId == 0) {
            return false;
        }
    }
    // Long enough for every IPv6 form, the IPv4-suffixed ones included.
    if (text.empty() || text.size() > 45) {
        return false;
    }
    const std::string copy(text);
    if (platform::inet_pton(platform::AF_INET6_, copy.c_str(), parsed.address6) != 1) {
        return false;
    }
    address = parsed;
    return true;
}

std::string ScopedAddressText(const platform::SocketAddress& address) {
    std::string text = AddressText(address);
    char zone[platform::IF_NAMESIZE_] = {};
    if (address.family == platform::AF_INET6_ && address.scopeId != 0) {
        text += '%';
        text += platform::if_indextoname(address.scopeId, zone) != nullptr
                    ? std::string(zone)
                    : std::to_string(address.scopeId);
    }
    return text;
}

bool ParseAddress(std::string_view text, platform::SocketAddress& address) {
    const std::string copy(text);
    const std::uint32_t v4 = platform::inet_addr(copy.c_str());
    if (v4 != platform::INADDR_NONE_ && !copy.empty()) {
        address = platform::SocketAddress{v4, 0};
        return true;
    }
    return ParseIPv6Address(text, address);
}

std::string AddressText(const platform::SocketAddress& address) {
    if (address.family != platform::AF_INET6_) {
        return platform::inet_ntoa(address.address);
    }
    if (IsV4Mapped(address)) {
        std::uint32_t v4 = 0;
        std::memcpy(&v4, address.address6 + 12, sizeof v4);
        return platform::inet_ntoa(v4);
    }
    char text[64];
    if (platform::inet_ntop(platform::AF_INET6_, address.address6, text, sizeof text) == nullptr) {
        return "::";
    }
    return text;
}

std::string PeerText(const platform::SocketAddress& address) {
    const std::string port = std::to_string(platform::ntohs(address.port));
    if (address.family == platform::AF_INET6_ && !IsV4Mapped(address)) {
        return "[" + AddressText(address) + "]:" + port;
    }
    return AddressText(address) + ":" + port;
}

platform::SocketAddress FromHostEntry(const platform::HostEntry& entry) {
    platform::SocketAddress address{entry.address, 0};
    if (entry.family == platform::AF_INET6_) {
        address.family = platform::AF_INET6_;
        std::memcpy(address.address6, entry.address6, sizeof address.address6);
    }
    return address;
}

}  // namespace corvane::relay
