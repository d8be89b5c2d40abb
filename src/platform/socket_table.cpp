#include "platform/socket_table.h"

#include <algorithm>

#include "platform/byte_block.h"
#include "platform/message_queue.h"
#include "platform/tls_internal.h"

namespace corvane::platform::detail {

SocketState& SocketTable::Open(int fd, Phase phase) {
    const auto index = static_cast<std::size_t>(fd);
    if (index >= states_.size()) {
        // Grow geometrically: descriptors are dense and handed out lowest first.
        states_.resize(std::max(index + 1, states_.size() * 2));
    }
    SocketState& s = states_[index];
    // Nothing, unless the number was closed behind our back.
    ReturnBlock(s.ahead, BlockUse::kReadAhead);
    ReturnBlock(s.behind, BlockUse::kWriteBehind);
    DestroyTlsSession(s.tls);
    s = SocketState{};
    s.phase = phase;
    s.generation = nextGeneration_++;
    if (nextGeneration_ == 0) {
        nextGeneration_ = 1;
    }
    return s;
}

SocketTable::~SocketTable() {
    // Straight to the heap: the pool may be gone already at this point of the exit.
    for (SocketState& s : states_) {
        delete s.ahead;
        delete s.behind;
        // A TLS session still open here is left alone: OpenSSL may have cleaned up already
        // at this point of the exit. WSACleanup closes every socket, and frees them, first.
    }
}

void SocketTable::Forget(int fd) {
    if (SocketState* s = FindAny(fd)) {
        ReturnBlock(s->ahead, BlockUse::kReadAhead);
        ReturnBlock(s->behind, BlockUse::kWriteBehind);
        DestroyTlsSession(s->tls);
        *s = SocketState{};
    }
}

std::vector<int> SocketTable::OpenDescriptors() const {
    std::vector<int> fds;
    for (std::size_t i = 0; i < states_.size(); ++i) {
        if (states_[i].phase != Phase::kClosed) {
            fds.push_back(static_cast<int>(i));
        }
    }
    return fds;
}

SocketTable& Sockets() {
    static SocketTable table;
    return table;
}

bool SocketMessageIsCurrent(std::uint64_t key) {
    const int fd = static_cast<int>(key & 0xFFFFFFFFu);
    const auto generation = static_cast<std::uint32_t>(key >> 32);
    const SocketState* s = Sockets().Find(fd);
    return s != nullptr && s->generation == generation;
}

}  // namespace corvane::platform::detail
