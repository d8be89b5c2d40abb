// The steps of a soak Connection: sending its stream in chunks, checking what arrives, and
// ending it the way it was dealt (close, half-close, reset).
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "soak_connection.h"
#include "soak_traffic.h"

namespace corvane::soak {

void SoakTraffic::Transmit(Conn& c, Side& s) {
    while (s.writable && !s.pending.empty() && !s.inputEnded) {
        const ssize_t n = ::send(s.fd, s.pending.data(), s.pending.size(), MSG_NOSIGNAL);
        if (n > 0) {
            s.pending.erase(0, static_cast<std::size_t>(n));
            continue;
        }
        if (errno == EAGAIN) {
            s.writable = false;
        } else if (errno == EPIPE || errno == ECONNRESET) {
            // The relay closed this side (a reset, or a close while bytes were unread).
            s.inputEnded = true;
            s.sawReset = true;
        } else {
            Fail(c, std::string("send: ") + std::strerror(errno));
            s.inputEnded = true;
            s.sawReset = true;
        }
    }
}

void SoakTraffic::Receive(Conn& c, Side& s, Side& peer, bool isClient) {
    (void)peer;
    char buffer[65536];
    int reads = 0;
    while (s.readable && !s.inputEnded) {
        const std::size_t want = s.slow ? kSlowReadBytes : sizeof buffer;
        if (s.slow && reads++ > 0) {
            return;  // a slow reader takes one small read per step
        }
        const ssize_t n = ::recv(s.fd, buffer, want, 0);
        if (n > 0) {
            for (ssize_t i = 0; i < n && !c.failed; ++i) {
                if (static_cast<std::uint8_t>(buffer[i]) != StreamByte(s.inSeed, s.received + i)) {
                    c.failed = true;
                    Fail(c, std::string(isClient ? "to the Client" : "to the Server") + ": byte " +
                                std::to_string(s.received + i) + " differs");
                }
            }
            s.received += n;
            if (s.received > s.expected && !c.failed) {
                c.failed = true;
                Fail(c, "more bytes arrived than were sent");
            }
            (isClient ? report_.bytesToClient : report_.bytesToServer) += n;
            continue;
        }
        if (n == 0) {
            s.inputEnded = true;
        } else if (errno == EAGAIN) {
            s.readable = false;
        } else {
            s.inputEnded = true;
            s.sawReset = true;
            if (errno != ECONNRESET) {
                Fail(c, std::string("recv: ") + std::strerror(errno));
            }
        }
    }
}

void SoakTraffic::CloseSide(Conn& c, Side& s, bool reset) {
    (void)c;
    if (s.closed) {
        return;
    }
    if (reset) {
        const linger abort{1, 0};
        ::setsockopt(s.fd, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
    }
    ::close(s.fd);
    s.fd = -1;
    s.closed = true;
}

// The side has met the end of its input: check what it got, then close it.
void SoakTraffic::Finish(Conn& c, Side& s, Side& peer) {
    const bool isClient = &s == &c.client;
    if (!c.acted) {
        Fail(c, std::string(isClient ? "the Client" : "the Server") +
                    " was cut off before either peer ended");
    } else if (!IsCloser(c.ending, isClient)) {
        // The peer ended the Connection. After a clean close the stream must be whole.
        const bool clean = c.ending == Ending::ClientClosesAfterExchange ||
                           c.ending == Ending::ServerClosesAfterExchange ||
                           ((c.ending == Ending::ClientHalfClosesEarly ||
                             c.ending == Ending::ServerHalfClosesEarly) &&
                            !s.sawReset);
        if (clean && !c.failed) {
            if (s.sawReset) {
                Fail(c, "a reset after a clean close");
            } else if (s.received != s.expected) {
                Fail(c, std::to_string(s.received) + " of " + std::to_string(s.expected) +
                            " bytes arrived before a clean close");
            } else {
                ++report_.wholeChecked;
            }
        }
    }
    (void)peer;
    CloseSide(c, s, false);
}

void SoakTraffic::Step(Conn& c, Clock::time_point now) {
    if (now - c.begun > std::chrono::milliseconds(options_.stuckAfterMs)) {
        Fail(c, "still open after " + std::to_string(options_.stuckAfterMs) + " ms (client " +
                    std::to_string(c.client.received) + "/" + std::to_string(c.client.expected) +
                    ", server " + std::to_string(c.server.received) + "/" +
                    std::to_string(c.server.expected) + ", paired " + std::to_string(c.paired) +
                    ")");
        CloseSide(c, c.client, true);
        if (c.paired) {
            CloseSide(c, c.server, true);
        }
        c.paired = true;
        c.server.closed = true;
        return;
    }
    Pump(c, c.client, c.server, true);
    if (c.paired) {
        Pump(c, c.server, c.client, false);
    }
}

void SoakTraffic::Pump(Conn& c, Side& s, Side& peer, bool isClient) {
    if (s.closed) {
        return;
    }
    const Clock::time_point now = Clock::now();
    if (c.paired && !s.shut && !s.inputEnded && s.pending.empty() && s.sent < s.toSend &&
        now >= s.nextChunk) {
        std::uniform_int_distribution<std::int64_t> chunk(1, options_.maxChunk);
        const std::int64_t n = std::min(chunk(random_), s.toSend - s.sent);
        s.pending.resize(static_cast<std::size_t>(n));
        for (std::int64_t i = 0; i < n; ++i) {
            s.pending[static_cast<std::size_t>(i)] =
                static_cast<char>(StreamByte(s.outSeed, s.sent + i));
        }
        s.sent += n;
        s.nextChunk = now + std::chrono::milliseconds(
                                random_() % static_cast<unsigned>(options_.maxThinkMs + 1));
    }
    Transmit(c, s);
    Receive(c, s, peer, isClient);
    if (s.inputEnded) {
        Finish(c, s, peer);
        return;
    }
    if (!c.paired || !IsCloser(c.ending, isClient) || c.acted) {
        return;
    }
    switch (c.ending) {
        case Ending::ClientClosesAfterExchange:
        case Ending::ServerClosesAfterExchange:
            if (s.DoneSending() && s.received == s.expected) {
                c.acted = true;
                CloseSide(c, s, false);
            }
            break;
        case Ending::ClientHalfClosesEarly:
        case Ending::ServerHalfClosesEarly:
            if (s.DoneSending()) {
                c.acted = true;
                s.shut = true;
                ::shutdown(s.fd, SHUT_WR);
            }
            break;
        case Ending::ClientResets:
        case Ending::ServerResets:
            if (now >= c.resetAt && !resetsHeld_) {
                c.acted = true;
                CloseSide(c, s, true);
            }
            break;
    }
}

}  // namespace corvane::soak
