// The live Connections: a doubly linked list, newest first, plus an index by socket so that
// finding the Connection of an event costs the same at ten thousand Connections as at one.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "relay/connection.h"

namespace corvane::relay {

class LiveConnections {
public:
    LiveConnections() = default;
    LiveConnections(const LiveConnections&) = delete;
    LiveConnections& operator=(const LiveConnections&) = delete;
    ~LiveConnections();

    Connection* Head() const { return head_; }
    std::int32_t Size() const { return size_; }

    // Puts the Connection at the head and indexes its two sockets; the list owns it.
    void PutAtHead(std::unique_ptr<Connection> connection);
    // Unlinks the Connection and hands it back; its sockets are no longer found.
    std::unique_ptr<Connection> Remove(Connection* connection);
    // The Connection whose client socket or server socket is s, or nullptr.
    Connection* Find(platform::SOCKET s) const {
        const auto i = static_cast<std::size_t>(s);
        return s >= 0 && i < index_.size() ? index_[i] : nullptr;
    }
    // Stops finding the Connection by s (called when one of its sockets is closed).
    void Forget(platform::SOCKET s);
    // Finds the Connection by s from now on (a server socket made after PutAtHead).
    void Remember(platform::SOCKET s, Connection* connection);

private:
    Connection* head_ = nullptr;
    std::int32_t size_ = 0;
    // Indexed by descriptor: Linux hands out the lowest free number, so the table stays as
    // small as the highest descriptor in use.
    std::vector<Connection*> index_;
};

}  // namespace corvane::relay
