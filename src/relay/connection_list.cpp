#include "relay/connection_list.h"

namespace corvane::relay {

LiveConnections::~LiveConnections() {
    while (head_ != nullptr) {
        Remove(head_);
    }
}

void LiveConnections::PutAtHead(std::unique_ptr<Connection> connection) {
    Connection* c = connection.release();
    c->previous = nullptr;
    c->next = head_;
    if (head_ != nullptr) {
        head_->previous = c;
    }
    head_ = c;
    ++size_;
    Remember(c->clientSocket, c);
    Remember(c->serverSocket, c);
}

std::unique_ptr<Connection> LiveConnections::Remove(Connection* c) {
    if (c->next != nullptr) {
        c->next->previous = c->previous;
    }
    if (c->previous != nullptr) {
        c->previous->next = c->next;
    } else {
        head_ = c->next;
    }
    c->next = nullptr;
    c->previous = nullptr;
    --size_;
    Forget(c->clientSocket);
    Forget(c->serverSocket);
    return std::unique_ptr<Connection>(c);
}

void LiveConnections::Forget(platform::SOCKET s) {
    const auto i = static_cast<std::size_t>(s);
    if (s >= 0 && i < index_.size()) {
        index_[i] = nullptr;
    }
}

void LiveConnections::Remember(platform::SOCKET s, Connection* connection) {
    if (s < 0) {
        return;
    }
    const auto i = static_cast<std::size_t>(s);
    if (i >= index_.size()) {
        index_.resize(i + 1 > 2 * index_.size() ? i + 1 : 2 * index_.size(), nullptr);
    }
    index_[i] = connection;
}

}  // namespace corvane::relay
