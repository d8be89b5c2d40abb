#include "relay/channel.h"

#include <cstring>

#include "platform/memory.h"
#include "relay/conditions/release_marks.h"

namespace corvane::relay {

int Channel::Resize(std::int32_t newCapacity) {
    void* block = platform::Reallocate(data, static_cast<std::size_t>(newCapacity));
    if (block == nullptr) {
        // Only a full Channel that needed to grow has no room left for the next read.
        return (newCapacity > capacity && capacity == length) ? -1 : 0;
    }
    data = static_cast<char*>(block);
    capacity = newCapacity;
    return 0;
}

int Channel::Receive(platform::SOCKET s) {
    if (capacity - length < kChannelMinimumFree) {
        if (Resize(capacity + kChannelGrowthStep) < 0) {
            return kReceiveOutOfMemory;
        }
    }
    const std::int32_t free = capacity - length;
    const int n = platform::recv(s, data + length, free, 0);
    if (n == 0) {
        return kReceiveClosed;
    }
    if (n < 0) {
        return platform::WSAGetLastError() == platform::WSAEWOULDBLOCK ? kReceiveNothing
                                                                       : kReceiveSocketError;
    }
    length += n;
    return n;
}

int Channel::SendAll(platform::SOCKET s, std::int32_t count) const {
    std::int32_t sent = 0;
    while (sent < count) {
        const int n = platform::send(s, data + sent, count - sent, 0);
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
    std::memmove(data, data + count, static_cast<std::size_t>(length - count));
    length -= count;
    if (marks != nullptr) {
        marks->Consumed(count);
    }
    if (capacity - length > kChannelTrimThreshold) {
        // Always a shrink; when it fails the larger block simply stays in use.
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
    platform::Release(data);
    data = nullptr;
    capacity = 0;
    length = 0;
    if (marks != nullptr) {
        marks->Clear();
    }
}

}  // namespace corvane::relay
