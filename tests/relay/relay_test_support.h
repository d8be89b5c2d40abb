// Helpers for the relay's tests: recording views, raw loopback peers (outside programs as
// far as the relay can tell) and a fixture that runs a real engine with a real log.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "log/log_view.h"
#include "log/traffic_log.h"
#include "relay/relay_engine.h"
#include "relay/relay_view.h"
#include "support/loopback_peers.h"
#include "support/recording_log_view.h"

namespace corvane::relay::test {

class RecordingRelayView : public RelayView {
public:
    virtual ~RecordingRelayView() = default;
    void ShowCounter(Counter counter, std::string_view text) override;
    void ShowLocalAddress(std::string_view text) override { localAddress = text; }
    void ShowRunningState(bool running) override { runningStates.push_back(running); }

    // The label's caption ("0" until first shown, as designed).
    std::string Label(Counter counter) const;

    std::map<Counter, std::string> labels;
    std::vector<std::pair<Counter, std::string>> shown;  // every update in order
    std::string localAddress;
    std::vector<bool> runningStates;
};

using corvane::test::RecordingLogView;  // tests/support/recording_log_view.h

// --- Raw POSIX peers on 127.0.0.1, non-blocking, pumped with the event loop --------------
// (tests/support/loopback_peers.h, shared with the other test programs)
using corvane::test::AcceptPeer;
using corvane::test::ClosePeer;
using corvane::test::ConnectPeer;
using corvane::test::ConnectPeerTo;
using corvane::test::ExpectRelays;
using corvane::test::HaveIPv6Loopback;
using corvane::test::ListenPeer;
using corvane::test::ListenPeerAt;
using corvane::test::ReceivePeer;
using corvane::test::RefusingPort;
using corvane::test::ResetPeer;
using corvane::test::SendPeer;
using corvane::test::SetReceiveBuffer;
using corvane::test::WaitPeerClosed;

class RelayFixture : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Start's part of the relay: the ports, BeginRelay, the running state, the counters.
    bool Start(const std::string& remoteHost, std::uint16_t remotePort,
               std::uint16_t localPort = 0);
    // Message, Inform and Error lines in order (data headers too at Detail Medium and up);
    // withData adds the Data lines (text lines and dumps, purple ones included).
    std::vector<std::string> Lines(bool withData = false);
    // Lines of one Connection ("7: ..." for number 7), with the prefix cut off.
    std::vector<std::string> LinesOf(int number);
    // The one Connection in the list (fails the test when there is not exactly one).
    Connection* OnlyConnection();
    // A Client through the relay and the Server's side of it, both connected through.
    bool ConnectThrough(int& client, int& server);

    std::int64_t CounterValue(relay::Counter counter) const;
    bool Consistent() const;  // the Buffered counters equal the bytes held

    RecordingLogView logView;
    RecordingRelayView relayView;
    std::unique_ptr<log::TrafficLog> log;
    std::unique_ptr<RelayEngine> engine;
    int serverListen = -1;
    std::uint16_t serverPort = 0;
    std::vector<int> peers;  // closed at the end
};

}  // namespace corvane::relay::test

namespace corvane::relay::test {

using corvane::test::LocalPortOf;
// A listener whose accept queue is full: a connect to it stays under way (its SYN is
// dropped) until Admit() takes the queued connection, after which the retried SYN gets in.
class StuckServer {
public:
    StuckServer();
    ~StuckServer();
    std::uint16_t port = 0;
    int listenFd = -1;
    int filler = -1;
    // Accepts one queued connection (the filler first), freeing a place in the queue.
    int Admit(int timeoutMs = 5000);
};

}  // namespace corvane::relay::test

namespace corvane::relay::test {

// The process's resident memory (VmRSS) in KiB, and the most a test lets it grow by while a
// peer pushes more than the relay may hold. AddressSanitizer's shadow memory and quarantine
// make resident memory say nothing about the relay's own; there the bound on what the
// Channels hold is the proof.
long ResidentKiB();
#if defined(__SANITIZE_ADDRESS__)
constexpr long kResidentBoundKiB = 1L << 30;
#else
constexpr long kResidentBoundKiB = 64 * 1024;
#endif

// Sends `data` on `from` in pieces until cond() holds (or all is sent); returns the bytes
// sent. The event loop runs in between, so the relay moves what it can.
std::size_t SendUntil(int from, std::string_view data, const std::function<bool()>& cond,
                      int timeoutMs = 20000);
// Sends data[offset..] on `from` while reading `to` until `got` holds `total` bytes; the size
// of each read goes to `reads` when given.
bool Exchange(int from, std::string_view data, std::size_t offset, int to, std::string& got,
              std::size_t total, int timeoutMs = 30000, std::vector<std::size_t>* reads = nullptr);

}  // namespace corvane::relay::test
