// The two ends of one soak Connection and the stream their bytes come from; shared by the
// traffic's set-up (soak_traffic_support.cpp) and its steps (soak_steps_support.cpp).
#pragma once

#include <cstdint>
#include <string>

#include "soak_traffic.h"

namespace corvane::soak {

constexpr std::size_t kHeader = 8;   // the Connection's id, first on the Client's stream
constexpr int kSlowReadBytes = 256;  // per step, for a slow reader

// Byte `index` of the stream `seed`: any chunking of the stream gives the same bytes.
inline std::uint8_t StreamByte(std::uint64_t seed, std::int64_t index) {
    std::uint64_t z = seed + 0x9E3779B97F4A7C15ull * (static_cast<std::uint64_t>(index) / 8 + 1);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    z ^= z >> 31;
    return static_cast<std::uint8_t>(z >> (8 * (static_cast<std::uint64_t>(index) % 8)));
}

// True when the side given (Client or not) is the one that ends the Connection.
inline bool IsCloser(Ending e, bool isClient) {
    switch (e) {
        case Ending::ClientClosesAfterExchange:
        case Ending::ClientHalfClosesEarly:
        case Ending::ClientResets:
            return isClient;
        default:
            return !isClient;
    }
}

struct SoakTraffic::Side {
    int fd = -1;
    std::uint64_t outSeed = 0;
    std::uint64_t inSeed = 0;
    std::int64_t toSend = 0;    // payload bytes this side sends in all
    std::int64_t sent = 0;      // payload bytes generated so far (in `pending` or gone)
    std::string pending;        // bytes not yet taken by the kernel
    std::int64_t expected = 0;  // payload bytes the peer sends in all
    std::int64_t received = 0;
    bool slow = false;
    bool readable = false;
    bool writable = false;
    bool inputEnded = false;  // end of stream or reset seen (reading or sending)
    bool sawReset = false;
    bool shut = false;
    bool closed = false;
    Clock::time_point nextChunk;

    bool DoneSending() const { return sent == toSend && pending.empty(); }
};

struct SoakTraffic::Conn {
    std::uint64_t id = 0;
    Ending ending = Ending::ClientClosesAfterExchange;
    Side client;
    Side server;
    bool paired = false;
    bool acted = false;  // the ending side has closed, shut down or reset
    bool failed = false;
    Clock::time_point begun;
    Clock::time_point resetAt;
    std::uint16_t clientPort = 0;
};

}  // namespace corvane::soak
