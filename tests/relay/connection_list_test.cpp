// The list of live Connections: newest first, found by either socket, unlinked anywhere.
#include <gtest/gtest.h>

#include <memory>

#include "relay/connection_list.h"

namespace corvane::relay {
namespace {

Connection* Add(LiveConnections& list, int client, int server) {
    auto c = std::make_unique<Connection>();
    c->clientSocket = client;
    c->serverSocket = server;
    c->number = client;
    Connection* raw = c.get();
    list.PutAtHead(std::move(c));
    return raw;
}

TEST(LiveConnections, NewestFirstAndLinkedBothWays) {
    LiveConnections list;
    Connection* a = Add(list, 5, 6);
    Connection* b = Add(list, 7, 9);
    Connection* c = Add(list, 8, 10);
    EXPECT_EQ(list.Size(), 3);
    EXPECT_EQ(list.Head(), c);
    EXPECT_EQ(c->next, b);
    EXPECT_EQ(b->next, a);
    EXPECT_EQ(a->next, nullptr);
    EXPECT_EQ(a->previous, b);
    EXPECT_EQ(b->previous, c);
    EXPECT_EQ(c->previous, nullptr);
}

TEST(LiveConnections, FindsByEitherSocketAndForgetsRemovedOnes) {
    LiveConnections list;
    Connection* a = Add(list, 5, 6);
    Connection* b = Add(list, 7, 9);
    Connection* c = Add(list, 8, 10);
    EXPECT_EQ(list.Find(5), a);
    EXPECT_EQ(list.Find(6), a);
    EXPECT_EQ(list.Find(9), b);
    EXPECT_EQ(list.Find(10), c);
    EXPECT_EQ(list.Find(11), nullptr);
    EXPECT_EQ(list.Find(-1), nullptr);
    EXPECT_EQ(list.Find(100000), nullptr);

    list.Remove(b);  // the middle
    EXPECT_EQ(list.Find(7), nullptr);
    EXPECT_EQ(list.Find(9), nullptr);
    EXPECT_EQ(c->next, a);
    EXPECT_EQ(a->previous, c);
    list.Remove(c);  // the head
    EXPECT_EQ(list.Head(), a);
    EXPECT_EQ(a->previous, nullptr);
    list.Remove(a);  // the last
    EXPECT_EQ(list.Head(), nullptr);
    EXPECT_EQ(list.Size(), 0);
}

TEST(LiveConnections, ForgettingAClosedSocketKeepsTheOtherOne) {
    LiveConnections list;
    Connection* a = Add(list, 5, 6);
    list.Forget(5);
    a->clientSocket = platform::INVALID_SOCKET;
    EXPECT_EQ(list.Find(5), nullptr);
    EXPECT_EQ(list.Find(6), a);
    // A new Connection may take the number that was closed.
    Connection* b = Add(list, 5, 12);
    EXPECT_EQ(list.Find(5), b);
    list.Remove(a);
    EXPECT_EQ(list.Find(5), b);  // removing the old record leaves the new one findable
}

TEST(LiveConnections, ManyHighDescriptors) {
    LiveConnections list;
    for (int i = 0; i < 10000; ++i) {
        Add(list, 20000 + 2 * i, 20001 + 2 * i);
    }
    EXPECT_EQ(list.Size(), 10000);
    EXPECT_EQ(list.Find(20000)->serverSocket, 20001);
    EXPECT_EQ(list.Find(39999)->clientSocket, 39998);
}

}  // namespace
}  // namespace corvane::relay
