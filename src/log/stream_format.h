// The kept-streams store on disk, shared by its writer (stream_store.h) and its reader
// (stream_reader.h). Every number is little-endian.
//
//   0      header (kHeaderBytes): kMagic, version, extent size, the size bound
//   4096   extent 0 | extent 1 | extent 2 | ...   (each kExtentBytes, at most bound / size)
//
// An extent belongs to one Connection: its header names the serial and the extent's place
// in that Connection's chain (sequence 0, 1, 2, ...), and records follow it back to back:
//
//   extent header (32): magic, sequence, serial, 16 zero bytes
//   record (24 + length): serial, time (microseconds since the Unix epoch), length, kind,
//                         flags; then the bytes
//
// The first record of a Connection's sequence 0 is its info record (number, Client, Server,
// its time the accept's). The records after it hold the bytes passed on, in order, each
// direction's exactly as handed to send; a block that does not fit in what is left of an
// extent goes on in the next one (flag kContinues). An extent's records end where the room
// ends or where a record's serial is not the extent's (what an earlier Connection left in a
// reused extent).
//
// When the bound is reached, the oldest Connections go first, whole: the magic of their
// sequence 0 is cleared, and their extents are reused. A Connection whose sequence 0 is not
// there (or whose chain has a gap) has been given up; the reader shows what comes before the
// gap only.
#pragma once

#include <cstdint>
#include <cstring>
#include <string_view>

namespace corvane::log::streams {

inline constexpr std::string_view kMagic{"CORVANE STREAMS\n", 16};
constexpr std::uint32_t kVersion = 1;
constexpr std::uint32_t kHeaderBytes = 4096;
constexpr std::uint32_t kExtentBytes = 16384;
// What a reader accepts as an extent size: a power of two in this range.
constexpr std::uint32_t kMinExtentBytes = 4096;
constexpr std::uint32_t kMaxExtentBytes = 1u << 20;

constexpr std::uint32_t kExtentMagic = 0x53585643;  // "CVXS"
constexpr std::uint32_t kExtentHeaderBytes = 32;
constexpr std::uint32_t kRecordHeaderBytes = 24;

// Record kinds.
constexpr std::uint8_t kInfo = 1;
constexpr std::uint8_t kToServer = 2;  // the Client's bytes, passed on to the Server
constexpr std::uint8_t kToClient = 3;  // the Server's bytes, passed on to the Client
// Record flags.
constexpr std::uint8_t kContinues = 1;  // the rest of the block of the record before

// The longest address text an info record holds.
constexpr std::size_t kMaxAddressText = 255;

// Header fields' offsets.
constexpr std::size_t kVersionAt = 16;
constexpr std::size_t kExtentSizeAt = 20;
constexpr std::size_t kBoundAt = 24;

struct ExtentHeader {
    std::uint32_t magic = 0;
    std::uint32_t sequence = 0;
    std::uint64_t serial = 0;
};

struct RecordHeader {
    std::uint64_t serial = 0;
    std::int64_t microseconds = 0;
    std::uint32_t length = 0;
    std::uint8_t kind = 0;
    std::uint8_t flags = 0;
};

inline void Put32(char* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) {
        p[i] = static_cast<char>(v >> (8 * i));
    }
}
inline void Put64(char* p, std::uint64_t v) {
    for (int i = 0; i < 8; ++i) {
        p[i] = static_cast<char>(v >> (8 * i));
    }
}
inline std::uint32_t Get32(const char* p) {
    std::uint32_t v = 0;
    for (int i = 0; i < 4; ++i) {
        v |= static_cast<std::uint32_t>(static_cast<unsigned char>(p[i])) << (8 * i);
    }
    return v;
}
inline std::uint64_t Get64(const char* p) {
    std::uint64_t v = 0;
    for (int i = 0; i < 8; ++i) {
        v |= static_cast<std::uint64_t>(static_cast<unsigned char>(p[i])) << (8 * i);
    }
    return v;
}

inline void PutExtentHeader(char* p, const ExtentHeader& h) {
    std::memset(p, 0, kExtentHeaderBytes);
    Put32(p, h.magic);
    Put32(p + 4, h.sequence);
    Put64(p + 8, h.serial);
}
inline ExtentHeader GetExtentHeader(const char* p) {
    return {Get32(p), Get32(p + 4), Get64(p + 8)};
}

inline void PutRecordHeader(char* p, const RecordHeader& h) {
    Put64(p, h.serial);
    Put64(p + 8, static_cast<std::uint64_t>(h.microseconds));
    Put32(p + 16, h.length);
    p[20] = static_cast<char>(h.kind);
    p[21] = static_cast<char>(h.flags);
    p[22] = 0;
    p[23] = 0;
}
inline RecordHeader GetRecordHeader(const char* p) {
    return {Get64(p), static_cast<std::int64_t>(Get64(p + 8)), Get32(p + 16),
            static_cast<std::uint8_t>(p[20]), static_cast<std::uint8_t>(p[21])};
}

}  // namespace corvane::log::streams
