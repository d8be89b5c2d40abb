// One Connection's conversation in the Capture File (log/capture_file.h): its two ends and
// where each side's sequence numbers stand. A Connection holds one; it costs nothing while
// no Capture File is open.
#pragma once

#include <array>
#include <cstdint>

namespace corvane::log {

class CaptureFile;

// One end of a captured conversation. The address has room for 16 bytes so that an IPv6 end
// fits beside an IPv4 one: length 4 is IPv4 (the first four bytes, network order), 16 IPv6.
struct CaptureEndpoint {
    std::array<std::uint8_t, 16> address{};
    std::uint8_t addressLength = 0;
    std::uint16_t port = 0;  // host byte order

    // From the socket layer's IPv4 address and port (both in network byte order).
    static CaptureEndpoint Ipv4(std::uint32_t networkAddress, std::uint16_t networkPort);
};

enum class CaptureSide : std::uint8_t { Client = 0, Server = 1 };

// A Connection's conversation in the Capture File, kept in the Connection. It begins with
// CaptureFile::Connected; when it goes (the Connection is freed), the FIN of each side that
// has not ended yet is written, as the relay then closes towards both. While it is open the
// file keeps it in a list, so that each new part of a rotating file begins it again.
class CaptureFlow {
public:
    CaptureFlow() = default;
    ~CaptureFlow();
    CaptureFlow(const CaptureFlow&) = delete;
    CaptureFlow& operator=(const CaptureFlow&) = delete;

    bool Active() const { return file_ != nullptr; }

private:
    friend class CaptureFile;
    CaptureFile* file_ = nullptr;  // set while the conversation is open in that file
    std::array<CaptureEndpoint, 2> ends_{};
    std::array<std::uint32_t, 2> nextSequence_{};
    std::array<bool, 2> finished_{};   // that side's FIN is written
    CaptureFlow* previous_ = nullptr;  // the file's open conversations
    CaptureFlow* next_ = nullptr;
};

}  // namespace corvane::log
