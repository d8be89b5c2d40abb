// One direction of a Connection: the bytes read from one peer and not yet sent to the other.
//
//   data                    data + length            data + capacity
//   |  held bytes (queue)   |  free room for the next read   |
//
// The block is at once the receive buffer and the send queue: reads land behind the held
// bytes, sends leave from the front, and only a partial send moves the rest forward. (A read
// into an empty Channel whose destination can take bytes lands in the engine's direct buffer
// instead, and only what that send leaves is copied here: relay_data.cpp.)
//
// Under Network Conditions (marks set) a Channel holds much more than each send takes, and
// moving the rest forward after every send would copy the whole queue each time: there the
// front moves instead (data points into the block, `front` bytes after its start), the rest
// is moved back once the gap is as large as what is still held, and a read that needs room
// grows the block by half (up to kChannelLargestStep); the block is kept as long as it is no
// roomier than the most the conditions let it hold. Without marks the front never moves.
#pragma once

#include <cstdint>

#include "platform/winsock.h"

namespace corvane::relay {

class ReleaseMarks;

// The size each Channel is given before it is used.
constexpr std::int32_t kChannelInitialSize = 8192;
// A read first grows the block by one step when less than this is free.
constexpr std::int32_t kChannelMinimumFree = 4096;
constexpr std::int32_t kChannelGrowthStep = 4096;
// With release marks the block grows by half, at most by this much.
constexpr std::int32_t kChannelLargestStep = 256 * 1024;
// After a send, a block with more free room than this is trimmed to
// floor(length / 4096) * 4096 + 8192.
constexpr std::int32_t kChannelTrimThreshold = 8192;

// Results of Receive besides a positive count.
constexpr int kReceiveNothing = 0;
constexpr int kReceiveSocketError = -1;
constexpr int kReceiveOutOfMemory = -2;
constexpr int kReceiveClosed = -3;

// One read of at most room bytes into the given place: the bytes read, or one of the
// kReceive results above.
int ReceiveOf(platform::SOCKET s, char* into, std::int32_t room);

// Sends count bytes until they are gone, the socket would block, or it fails: the bytes sent,
// or -1 on a failure other than would-block.
int SendAllOf(platform::SOCKET s, const char* bytes, std::int32_t count);

class Channel {
public:
    Channel() = default;
    Channel(const Channel&) = delete;
    Channel& operator=(const Channel&) = delete;
    // The marks may be gone already: they belong to the Connection's conditions.
    ~Channel() {
        marks = nullptr;
        Release();
    }

    // Reallocates the block to newCapacity, keeping the held bytes. Returns -1 only when a
    // grow was needed because the Channel is full and it failed; a failed shrink, or a failed
    // grow while room remains, leaves the Channel unchanged and returns 0.
    int Resize(std::int32_t newCapacity);
    // One recv into the free room (grown first when less than 4096 bytes are free). Returns the
    // bytes appended, 0 when nothing waits, -1 on a socket failure (WSAGetLastError tells
    // which), -2 when a full block cannot grow, -3 when the peer has closed.
    int Receive(platform::SOCKET s);
    // Sends the first count bytes (all of them by default) until they are gone, the socket
    // would block, or it fails. Returns the bytes sent, or -1 on a failure other than
    // would-block. Removes nothing.
    int SendAll(platform::SOCKET s) const { return SendAll(s, length); }
    int SendAll(platform::SOCKET s, std::int32_t count) const { return SendAllOf(s, data, count); }
    // Drops count bytes (1 to length) from the front and trims a block left too roomy.
    void Consume(std::int32_t count);
    // SendAll, then Consume what went out.
    int Flush(platform::SOCKET s) { return Flush(s, length); }
    int Flush(platform::SOCKET s, std::int32_t count);
    // Frees the block; the Channel is empty again. Harmless on an empty Channel.
    void Release();

    char* data = nullptr;
    std::int32_t capacity = 0;
    std::int32_t length = 0;
    // With Network Conditions on this direction: when each piece of the held bytes may go
    // (relay/conditions/release_marks.h), kept in step by Consume and Release. Null otherwise.
    ReleaseMarks* marks = nullptr;

private:
    // Consume with marks: the front moves; see above.
    void ConsumeHeld(std::int32_t count);

    std::int32_t front_ = 0;  // the block's bytes before data; 0 without marks
};

}  // namespace corvane::relay
