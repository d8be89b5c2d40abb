// The Host line rewrite on chunks in a Channel, and through the relay.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "log/text_lines.h"
#include "log/traffic_log.h"
#include "platform/memory.h"
#include "relay/http_rewrite.h"
#include "relay_test_support.h"
#include "support/event_loop_wait.h"

namespace corvane::relay {
namespace {

const std::string kRequest = "GET / HTTP/1.1\r\nHost: localhost:81\r\n\r\n";

class HttpRewriteTest : public ::testing::Test {
protected:
    void TearDown() override {
        platform::SetAllocationFailure({});
        log::FreeChain(lines);
    }
    // Puts `earlier` and then the chunk into the Channel (filled to its last byte when
    // `full`), splits the chunk and rewrites it.
    int Rewrite(const std::string& chunk, std::string_view host = "example.org",
                std::string_view port = "8080", const std::string& earlier = "", bool full = false,
                std::function<bool(std::size_t)> failing = {}) {
        const auto size = static_cast<std::int32_t>(earlier.size() + chunk.size());
        EXPECT_EQ(channel.Resize(full ? size : size + kChannelInitialSize), 0);
        std::memcpy(channel.data, earlier.data(), earlier.size());
        std::memcpy(channel.data + earlier.size(), chunk.data(), chunk.size());
        channel.length = size;
        int textCount = 0;
        bool incomplete = false;
        EXPECT_TRUE(log::SplitTextLines(chunk.data(), static_cast<int>(chunk.size()), lines,
                                        textCount, incomplete));
        EXPECT_EQ(textCount, static_cast<int>(chunk.size()));
        platform::SetAllocationFailure(std::move(failing));
        return RewriteHttpRequest(trafficLog, lines, channel,
                                  static_cast<std::int32_t>(earlier.size()),
                                  static_cast<int>(chunk.size()), host, port, seen);
    }
    std::string Bytes() const {
        return std::string(channel.data, static_cast<std::size_t>(channel.length));
    }
    std::vector<std::string> Texts() const {
        std::vector<std::string> texts;
        for (const log::LogEntry* e = lines.head; e != nullptr; e = e->next) {
            texts.emplace_back(e->View());
        }
        return texts;
    }
    log::Colour ColourOf(int index) const {
        const log::LogEntry* e = lines.head;
        for (int i = 0; i < index; ++i) {
            e = e->next;
        }
        return e->colour;
    }

    log::TrafficLog trafficLog;
    log::LogChain lines;
    Channel channel;
    std::int32_t seen = -1;
};

TEST_F(HttpRewriteTest, HostLineNamesTheRemoteHostAndPort) {
    EXPECT_EQ(Rewrite(kRequest), static_cast<int>(kRequest.size()) + 4);
    EXPECT_EQ(seen, 1);
    EXPECT_EQ(Bytes(), "GET / HTTP/1.1\r\nHost: example.org:8080\r\n\r\n");
    EXPECT_EQ(Texts(), (std::vector<std::string>{"GET / HTTP/1.1\r\n", "Host: example.org:8080\r\n",
                                                 "\r\n"}));
    EXPECT_EQ(ColourOf(1), log::kPurple);
    EXPECT_EQ(ColourOf(0), log::ColourOf(log::LogKind::Data));
}

TEST_F(HttpRewriteTest, ProxyConnectionAnywhereLeavesTheRequestAlone) {
    for (const std::string& chunk :
         {std::string("GET / HTTP/1.1\r\nProxy-Connection: keep-alive\r\nHost: a:1\r\n\r\n"),
          std::string("GET / HTTP/1.1\r\nHost: a:1\r\n\r\nProxy-Connection: x\r\n")}) {
        log::FreeChain(lines);
        channel.Release();
        EXPECT_EQ(Rewrite(chunk), static_cast<int>(chunk.size()));
        EXPECT_EQ(seen, 1);
        EXPECT_EQ(Bytes(), chunk);
    }
}

TEST_F(HttpRewriteTest, OnlyAnExactHostHeaderQualifies) {
    for (const std::string& chunk : {std::string("GET / HTTP/1.1\r\nhost: a:1\r\n\r\n"),
                                     std::string("GET / HTTP/1.1\r\nHost:a:1\r\n\r\n")}) {
        log::FreeChain(lines);
        channel.Release();
        EXPECT_EQ(Rewrite(chunk), static_cast<int>(chunk.size()));
        EXPECT_EQ(seen, 1);
        EXPECT_EQ(Bytes(), chunk);
    }
}

TEST_F(HttpRewriteTest, RequestLineNeedsTheVersionAndOneMoreCharacter) {
    EXPECT_EQ(Rewrite("GET /\r\nHost: a\r\n\r\n"), 18);
    EXPECT_EQ(seen, 0);
    EXPECT_EQ(Bytes(), "GET /\r\nHost: a\r\n\r\n");
    log::FreeChain(lines);
    channel.Release();
    // Nothing but the version counts as a request line.
    EXPECT_EQ(Rewrite("HTTP/1.1\r\nHost: a\r\n\r\n", "h", "9"), 23);
    EXPECT_EQ(seen, 1);
    EXPECT_EQ(Bytes(), "HTTP/1.1\r\nHost: h:9\r\n\r\n");
    log::FreeChain(lines);
    channel.Release();
    EXPECT_EQ(Rewrite("GET / HTTP/1.10\r\nHost: a\r\n\r\n"), 28);
    EXPECT_EQ(seen, 0);
}

TEST_F(HttpRewriteTest, TheLastOfTwoHostLinesIsReplaced) {
    const std::string chunk = "GET / HTTP/1.0\r\nHost: first\r\nAccept: */*\r\nHost: first\r\n\r\n";
    EXPECT_EQ(Rewrite(chunk, "h", "1"), static_cast<int>(chunk.size()) - 2);
    EXPECT_EQ(Bytes(), "GET / HTTP/1.0\r\nHost: first\r\nAccept: */*\r\nHost: h:1\r\n\r\n");
    EXPECT_EQ(Texts()[1], "Host: first\r\n");
    EXPECT_EQ(Texts()[3], "Host: h:1\r\n");
    EXPECT_EQ(ColourOf(1), log::ColourOf(log::LogKind::Data));
    EXPECT_EQ(ColourOf(3), log::kPurple);
}

TEST_F(HttpRewriteTest, HostLinesInTheBodyAreNotHeaders) {
    const std::string head = "POST /form HTTP/1.1\r\n";
    const std::string body = "\r\nHost: in-the-body\r\n";
    const struct {
        std::string header;
        std::string rewritten;
    } cases[] = {
        {"Host: a:1\r\nContent-Length: 19\r\n", "Host: h:2\r\nContent-Length: 19\r\n"},
        {"Content-Length: 19\r\n", "Content-Length: 19\r\n"},
    };
    for (const auto& c : cases) {
        log::FreeChain(lines);
        channel.Release();
        const std::string chunk = head + c.header + body;
        const std::string expected = head + c.rewritten + body;
        EXPECT_EQ(Rewrite(chunk, "h", "2"), static_cast<int>(expected.size()));
        EXPECT_EQ(seen, 1);
        EXPECT_EQ(Bytes(), expected);
        EXPECT_EQ(Texts().back(), "Host: in-the-body\r\n");
    }
}

TEST_F(HttpRewriteTest, ForwardedHostWithTheSameValueIsNotTheHostLine) {
    const std::string chunk = "GET / HTTP/1.1\r\nX-Forwarded-Host: a:1\r\nHost: a:1\r\n\r\n";
    EXPECT_EQ(Rewrite(chunk, "bb", "22"), static_cast<int>(chunk.size()) + 2);
    EXPECT_EQ(Bytes(), "GET / HTTP/1.1\r\nX-Forwarded-Host: a:1\r\nHost: bb:22\r\n\r\n");
}

TEST_F(HttpRewriteTest, LastHostLineAsTheChunkEndsIsUpdatedAsTheTail) {
    const std::string chunk = "GET / HTTP/1.1\r\nHost: a\r\n";
    EXPECT_EQ(Rewrite(chunk, "b", "2"), static_cast<int>(chunk.size()) + 2);
    EXPECT_EQ(std::string(lines.tail->View()), "Host: b:2\r\n");
    EXPECT_EQ(lines.tail->next, nullptr);
}

TEST_F(HttpRewriteTest, HostLineNotFoundInTheBytesPassesUnchanged) {
    // A bare LF and an incomplete last line are stored with CR LF, which the bytes lack.
    for (const std::string& chunk :
         {std::string("GET / HTTP/1.1\r\nHost: a\n\n"), std::string("GET / HTTP/1.1\r\nHost: a")}) {
        log::FreeChain(lines);
        channel.Release();
        EXPECT_EQ(Rewrite(chunk), static_cast<int>(chunk.size()));
        EXPECT_EQ(Bytes(), chunk);
        EXPECT_EQ(Texts()[1], "Host: a\r\n");
        EXPECT_EQ(ColourOf(1), log::ColourOf(log::LogKind::Data));
    }
}

TEST_F(HttpRewriteTest, LongTextsInAFullChannelGetRoom) {
    const std::string host(300, 'h');
    const std::string port(40, '9');
    const std::string earlier = "older bytes still waiting";
    const int n = Rewrite(kRequest, host, port, earlier, /*full=*/true);
    const std::string expected = "GET / HTTP/1.1\r\nHost: " + host + ":" + port + "\r\n\r\n";
    EXPECT_EQ(n, static_cast<int>(expected.size()));
    EXPECT_EQ(Bytes(), earlier + expected);
    EXPECT_LE(channel.length, channel.capacity);
}

TEST_F(HttpRewriteTest, NoMemoryForTheLineOrTheRoomChangesNothing) {
    EXPECT_EQ(Rewrite(kRequest, "example.org", "8080", "", false, [](std::size_t) { return true; }),
              -2);
    platform::SetAllocationFailure({});
    EXPECT_EQ(Bytes(), kRequest);
    EXPECT_EQ(Texts()[1], "Host: localhost:81\r\n");
    log::FreeChain(lines);
    channel.Release();
    // The line can be had but the Channel cannot grow.
    EXPECT_EQ(Rewrite(kRequest, std::string(100, 'x'), "1", "", /*full=*/true,
                      [](std::size_t size) { return size >= 4096; }),
              -2);
    platform::SetAllocationFailure({});
    EXPECT_EQ(Bytes(), kRequest);
    EXPECT_EQ(Texts()[1], "Host: localhost:81\r\n");
}

using corvane::test::WaitFor;
using test::RelayFixture;

class RelayRewriteTest : public RelayFixture {
protected:
    const std::string expected = "GET / HTTP/1.1\r\nHost: example.org:8080\r\n\r\n";
    // Relays kRequest at this Detail for the Remote Host example.org:8080; the Server must
    // get it rewritten.
    void RelayTheRequest(std::uint32_t detail, int& client, int& server) {
        log->Detail = detail;
        engine->SetRemoteTexts("example.org", "8080");
        ASSERT_TRUE(Start("127.0.0.1", serverPort));
        ASSERT_TRUE(ConnectThrough(client, server));
        ASSERT_TRUE(test::SendPeer(client, kRequest));
        std::string got;
        ASSERT_TRUE(test::ReceivePeer(server, got, expected.size()));
        EXPECT_EQ(got, expected);
    }
};

TEST_F(RelayRewriteTest, ServerGetsTheRewrittenRequestAndTheCountersItsLength) {
    int client = -1;
    int server = -1;
    ASSERT_NO_FATAL_FAILURE(RelayTheRequest(log::kDetailHigh, client, server));
    EXPECT_EQ(engine->CSTransferred(), static_cast<std::int32_t>(expected.size()));
    EXPECT_EQ(OnlyConnection()->httpRequestSeen, 1);
    const std::string n = std::to_string(OnlyConnection()->number);
    const std::vector<std::string> all = Lines(true);
    EXPECT_NE(std::find(all.begin(), all.end(), n + ": Client to Server (42 bytes)"), all.end())
        << ::testing::PrintToString(all);
    bool purple = false;
    for (const auto& [line, colour] : logView.lines) {
        purple = purple || (line == "Host: example.org:8080" && colour == log::kPurple);
    }
    EXPECT_TRUE(purple);

    // The answer's header stays text; the request flag is used up by it.
    ASSERT_TRUE(test::SendPeer(server, std::string("HTTP/1.0 200 OK\r\n\r\n\x89PNG", 23)));
    std::string got;
    ASSERT_TRUE(test::ReceivePeer(client, got, 23));
    ASSERT_TRUE(WaitFor([&] { return engine->SCTransferred() == 23; }));
    EXPECT_EQ(OnlyConnection()->httpRequestSeen, 0);
    const std::vector<std::string> answer = Lines(true);
    EXPECT_EQ(answer[answer.size() - 3], "HTTP/1.0 200 OK");
    EXPECT_EQ(answer.back().substr(0, 4), "0013");
}

// At Detail Low without a Log File no line is built for the log, but a request still is.
TEST_F(RelayRewriteTest, RequestIsRewrittenWhenNoLineIsLogged) {
    int client = -1;
    int server = -1;
    ASSERT_NO_FATAL_FAILURE(RelayTheRequest(log::kDetailLow, client, server));
    EXPECT_EQ(OnlyConnection()->DumpMode, kDumpText);
}

TEST_F(RelayRewriteTest, RequestSplitOverTwoReadsIsNotRewritten) {
    engine->SetRemoteTexts("example.org", "8080");
    ASSERT_TRUE(Start("127.0.0.1", serverPort));
    int client = -1;
    int server = -1;
    ASSERT_TRUE(ConnectThrough(client, server));
    std::string got;
    ASSERT_TRUE(test::SendPeer(client, "GET / HTTP/1.1\r\n"));
    ASSERT_TRUE(test::ReceivePeer(server, got, 16));
    EXPECT_EQ(OnlyConnection()->httpRequestSeen, 1);
    ASSERT_TRUE(test::SendPeer(client, "Host: localhost:81\r\n\r\n"));
    ASSERT_TRUE(test::ReceivePeer(server, got, kRequest.size()));
    EXPECT_EQ(got, kRequest);
    EXPECT_EQ(OnlyConnection()->httpRequestSeen, 0);
}

TEST_F(RelayRewriteTest, HexOnlyNeverRewrites) {
    engine->HexOnly = 1;
    engine->SetRemoteTexts("example.org", "8080");
    ASSERT_TRUE(Start("127.0.0.1", serverPort));
    int client = -1;
    int server = -1;
    ASSERT_TRUE(ConnectThrough(client, server));
    ASSERT_TRUE(test::SendPeer(client, kRequest));
    std::string got;
    ASSERT_TRUE(test::ReceivePeer(server, got, kRequest.size()));
    EXPECT_EQ(got, kRequest);
}

}  // namespace
}  // namespace corvane::relay
