// The soak's Clients and Servers: many Connections at once through a relay at a loopback
// port, each with random traffic both ways and a random way to end. Every byte is checked on
// arrival against the sender's stream (unchanged, in order); a direction whose sender ended
// cleanly must also arrive whole. One thread, one epoll set, every wait bounded.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <unordered_map>
#include <vector>

namespace corvane::soak {

using Clock = std::chrono::steady_clock;

// How a Connection ends.
enum class Ending {
    ClientClosesAfterExchange,  // both streams complete, then the Client closes
    ServerClosesAfterExchange,
    ClientHalfClosesEarly,  // the Client sends all, shuts down its side, reads until the end
    ServerHalfClosesEarly,
    ClientResets,  // RST at a random moment
    ServerResets,
};
constexpr int kEndings = 6;

struct TrafficOptions {
    int concurrent = 1000;
    std::int64_t maxBytesEachWay = 64 << 10;
    int maxChunk = 8192;
    int maxThinkMs = 1000;
    int slowReaderPercent = 20;
    // A Connection that has not ended this long after it began is a failure.
    int stuckAfterMs = 120000;
    unsigned seed = 1;
};

struct TrafficReport {
    std::int64_t begun = 0;
    std::int64_t ended = 0;
    std::int64_t wholeChecked = 0;  // directions that had to arrive whole and did
    std::int64_t bytesToServer = 0;
    std::int64_t bytesToClient = 0;
    std::int64_t endings[kEndings] = {};
    std::int64_t failures = 0;
    std::vector<std::string> firstFailures;        // the first few, with their Connection
    std::vector<std::uint16_t> failedClientPorts;  // their Clients' ports, 0 when unknown
};

class SoakTraffic {
public:
    explicit SoakTraffic(const TrafficOptions& options);
    ~SoakTraffic();
    SoakTraffic(const SoakTraffic&) = delete;
    SoakTraffic& operator=(const SoakTraffic&) = delete;

    // The Servers' listener on 127.0.0.1; its port (host byte order), 0 on failure.
    std::uint16_t ListenForServers();
    // Runs Connections through relayPort until `until`, keeping options.concurrent of them
    // going, then lets the last ones end (at most drainMs more). onTick runs about every
    // 10 ms. False when Connections were still open when the time ran out.
    bool Run(std::uint16_t relayPort, Clock::time_point until, int drainMs,
             const std::function<void()>& onTick);
    const TrafficReport& Report() const { return report_; }
    // While held, the ending resets wait (see the soak test for why).
    void HoldResets(bool held) { resetsHeld_ = held; }
    int Open() const { return static_cast<int>(conns_.size()); }

    struct Side;
    struct Conn;

private:
    void Begin(std::uint16_t relayPort);
    void OnEvent(std::uint64_t key, std::uint32_t events);
    void AcceptServers();
    void Step(Conn& c, Clock::time_point now);
    void Pump(Conn& c, Side& s, Side& peer, bool isClient);
    void Receive(Conn& c, Side& s, Side& peer, bool isClient);
    void Transmit(Conn& c, Side& s);
    void CloseSide(Conn& c, Side& s, bool reset);
    void Finish(Conn& c, Side& s, Side& peer);
    void Fail(const Conn& c, const std::string& what);
    bool Watch(int fd, std::uint64_t key);

    TrafficOptions options_;
    TrafficReport report_;
    std::mt19937_64 random_;
    int epoll_ = -1;
    int listener_ = -1;
    std::uint64_t nextId_ = 1;
    bool resetsHeld_ = false;
    std::unordered_map<std::uint64_t, std::unique_ptr<Conn>> conns_;
    // Accepted Server sockets whose Connection is not known until its id has arrived.
    std::unordered_map<int, std::string> unpaired_;
};

}  // namespace corvane::soak
