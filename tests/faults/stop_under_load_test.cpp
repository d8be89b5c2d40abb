// Stop while a thousand Connections are in the middle of their transfers: every one is
// closed, newest first, with its two lines; nothing pending is sent; the counters and the
// descriptors come back to where they were.
#include <sys/socket.h>
#include <unistd.h>

#include "fault_support.h"
#include "support/event_loop_wait.h"

namespace corvane::faults {
namespace {

using corvane::test::RunEventLoopFor;
using corvane::test::WaitFor;

constexpr int kConnections = 1000;
// Clients connect in groups, so that the Local Port's accept queue never overflows (an
// overflowing queue drops SYNs, and their retries take seconds).
constexpr int kGroup = 25;
constexpr std::size_t kBytesEachWay = 256 << 10;

class StopUnderLoadTest : public FaultTest {};

void SetSendBuffer(int fd, int bytes) {
    ::setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &bytes, sizeof bytes);
}

// Sends what the socket takes at once; the rest stays unsent.
void SendSome(int fd, const std::string& bytes) {
    std::size_t done = 0;
    for (int i = 0; i < 64 && done < bytes.size(); ++i) {
        const ssize_t n = ::send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (n <= 0) {
            break;
        }
        done += static_cast<std::size_t>(n);
    }
}

TEST_F(StopUnderLoadTest, AThousandConnectionsMidTransferAllCloseNewestFirst) {
    ASSERT_EQ(StartToServer(PathOf("load.log")), control::StartResult::Started);
    const int running = OpenDescriptors();
    // Small windows at both peers, so that the bytes pile up in the relay, not in the kernel.
    SetReceiveBuffer(serverListen_, 4096);
    std::vector<int> clients;
    std::vector<int> servers;
    for (int group = 0; group < kConnections / kGroup; ++group) {
        for (int i = 0; i < kGroup; ++i) {
            clients.push_back(Keep(ConnectPeer(LocalPort(), 4096)));
            ASSERT_GE(clients.back(), 0);
        }
        while (static_cast<int>(servers.size()) < (group + 1) * kGroup) {
            const int fd = Keep(AcceptPeer(serverListen_));
            ASSERT_GE(fd, 0) << "accepted " << servers.size();
            servers.push_back(fd);
        }
    }
    ASSERT_TRUE(
        WaitFor([&] { return control_->Engine().ConnectionCount() == kConnections; }, 30000));
    const Lines connectedLines = ViewLines();
    std::vector<int> numbers;  // in the order the Clients were accepted
    for (const std::string& line : connectedLines) {
        const std::size_t at = line.find(": Client connected; ");
        if (at != std::string::npos) {
            numbers.push_back(std::stoi(line.substr(0, at)));
        }
    }
    ASSERT_EQ(static_cast<int>(numbers.size()), kConnections);
    ASSERT_TRUE(WaitFor(
        [&] {
            int connected = 0;
            for (relay::Connection* c = control_->Engine().ConnectionList(); c; c = c->next) {
                connected += c->connected ? 1 : 0;
            }
            return connected == kConnections;
        },
        30000));

    // Small send buffers on the relay's own sockets (they are in this process), so that the
    // bytes pile up in its Channels rather than in the kernel.
    for (relay::Connection* c = control_->Engine().ConnectionList(); c; c = c->next) {
        SetSendBuffer(c->clientSocket, 4096);
        SetSendBuffer(c->serverSocket, 4096);
    }
    // Both directions of every Connection in flight, nobody reading: the relay holds bytes.
    const std::string bytes = Pattern(kBytesEachWay, 6);
    for (int i = 0; i < kConnections; ++i) {
        SendSome(clients[static_cast<std::size_t>(i)], bytes);
        SendSome(servers[static_cast<std::size_t>(i)], bytes);
    }
    ASSERT_TRUE(WaitFor(
        [&] { return control_->Engine().CSBuffered() > 0 && control_->Engine().SCBuffered() > 0; },
        20000));
    RunEventLoopFor(50);

    const Lines before = ViewLines();
    control_->Stop();
    Lines expected = before;
    expected.emplace_back("Stopped by user");
    expected.emplace_back("Local Port closed");
    for (auto number = numbers.rbegin(); number != numbers.rend(); ++number) {
        expected.push_back(Numbered(*number, "Disconnected from Client"));
        expected.push_back(Numbered(*number, "Disconnected from Server"));
    }
    EXPECT_TRUE(ViewLines() == expected);
    ExpectIdleCounters();
    EXPECT_FALSE(control_->Running());

    // Every peer sees its end (a close, or a reset where the relay left bytes unread).
    int ended = 0;
    for (int fd : peers_) {
        std::string rest;
        ended += WaitPeerClosed(fd, rest, 5000) ? 1 : 0;
    }
    EXPECT_EQ(ended, 2 * kConnections);
    for (int fd : std::vector<int>(peers_)) {
        Drop(fd);
    }
    // Only the Local Port and the Log File are gone from what was open after Start.
    EXPECT_EQ(OpenDescriptors(), running - 2) << DescriptorList();
}

}  // namespace
}  // namespace corvane::faults
