#include "relay/channel.h"

#include <algorithm>
#include <cstring>

#include "platform/memory.h"
#include "relay/conditions/release_marks.h"

namespace corvane::relay {

int Channel::Resize(std::int32_t newCapacity) {
    void* block = platform::Reallocate(data == nullptr ? nullptr : data - front_,
                                       static_cast<std::size_t>(front_) + newCapacity);
    if (block == nullptr) {
        // Only a full Channel that needed to grow has no room left for the next read.
        return (newCapacity > capacity && capacity == length) ? -1 : 0;
    }
    data = static_cast<char*>(block) + front_;
    capacity = newCapacity;
    return 0;
}

int Channel::Receive(platform::SOCKET s) {
    if (capacity - length < kChannelMinimumFree) {
        const std::int32_t step =
            marks == nullptr ? kChannelGrowthStep
                             : std::clamp(capacity / 2, kChannelGrowthStep, kChannelLargestStep);
        if (Resize(capacity + step) < 0) {
            return kReceiveOutOfMemory;
        }
    }
    const int n = ReceiveOf(s, data + length, capacity - length);
    if (n > 0) {
        length += n;
    }
    return n;
}

int ReceiveOf(platform::SOCKET s, char* into, std::int32_t room) {
    const int n = platform::recv(s, into, room, 0);
    if (n == 0) {
        return kReceiveClosed;
    }
    if (n < 0) {
        return platform::WSAGetLastError() == platform::WSAEWOULDBLOCK ? kReceiveNothing
                                                                       : kReceiveSocketError;
    }
    return n;
}

int SendAllOf(platform::SOCKET s, const char* bytes, std::int32_t count) {
    std::int32_t sent = 0;
    while (sent < count) {
        const int n = platform::send(s, bytes + sent, count - sent, 0);
        if (n < 0) {
            if (platform::WSAGetLastError() == platform::WSAEWOULDBLOCK) {
                break;
            }
            return -1;
        }
        sent += n;
    }
    return sent;
}

void Channel::Consume(std::int32_t count) {
    if (marks != nullptr) {
        ConsumeHeld(count);
        return;
    }
    std::memmove(data, data + count, static_cast<std::size_t>(length - count));
    length -= count;
    if (capacity - length > kChannelTrimThreshold) {
        // Always a shrink; when it fails the larger block simply stays in use.
        Resize(length / kChannelGrowthStep * kChannelGrowthStep + kChannelInitialSize);
    }
}

// Each byte is moved at most once, after bytes as many as it have been sent before it: the
// copying stays in proportion to what is sent, however much is held.
void Channel::ConsumeHeld(std::int32_t count) {
    marks->Consumed(count);
    data += count;
    capacity -= count;
    length -= count;
    front_ += count;
    if (front_ < length) {
        return;
    }
    data -= front_;
    std::memmove(data, data + front_, static_cast<std::size_t>(length));
    capacity += front_;
    front_ = 0;
    // Trimmed only when the room is more than twice what is held and more than the most the
    // conditions let it hold, so that a queue that comes and goes does not shrink and grow
    // the block each time (a large block is given back to the system and faulted in again).
    const std::int64_t keep = std::max<std::int64_t>(2 * std::int64_t{length}, marks->heldLimit);
    if (capacity - length > std::max<std::int64_t>(kChannelTrimThreshold, keep)) {
        Resize(length / kChannelGrowthStep * kChannelGrowthStep + kChannelInitialSize);
    }
}

int Channel::Flush(platform::SOCKET s, std::int32_t count) {
    const int sent = SendAll(s, count);
    if (sent >= 1) {
        Consume(sent);
    }
    return sent;
}

void Channel::Release() {
    platform::Release(data == nullptr ? nullptr : data - front_);
    data = nullptr;
    front_ = 0;
    capacity = 0;
    length = 0;
    if (marks != nullptr) {
        marks->Clear();
    }
}

}  // namespace corvane::relay
