// RewriteHttpRequest over any all-text chunk and Remote Host and Remote Port texts of any
// length: the request flag follows the first line; only the last "Host: " line of the header
// (before the first empty line) changes, in the bytes and in the list alike, and only when it
// stands in the bytes as stored; the bytes before the chunk stay; a shortage of memory (for
// the new line or for the room) changes nothing at all.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_support.h"
#include "log/text_lines.h"
#include "log/traffic_log.h"
#include "relay/http_rewrite.h"

namespace corvane::fuzz {
namespace {

bool BeginsWith(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

struct Expectation {
    bool request = false;
    bool changes = false;
    std::size_t hostIndex = 0;
    std::string bytes;  // the chunk after the rewrite
};

// What the rewrite must do, worked out from the lines as the splitter stored them and from
// the chunk's bytes.
Expectation Expect(const std::vector<std::string>& lines, std::string_view chunk,
                   std::string_view host, std::string_view port) {
    Expectation e;
    e.bytes = std::string(chunk);
    const std::string& first = lines.front();
    e.request = first.size() >= 10 && first.substr(first.size() - 10, 7) == "HTTP/1.";
    if (!e.request) {
        return e;
    }
    bool proxy = false;
    bool found = false;
    bool header = true;  // up to the first empty line
    for (std::size_t i = 1; i < lines.size(); ++i) {
        if (lines[i] == "\r\n") {
            header = false;
        } else if (header && BeginsWith(lines[i], "Host: ")) {
            e.hostIndex = i;
            found = true;
        } else if (BeginsWith(lines[i], "Proxy-Connection: ")) {
            proxy = true;
        }
    }
    if (!found || proxy) {
        return e;
    }
    // The line's place in the bytes: just past the LF that ends the line before it.
    std::size_t start = 0;
    for (std::size_t i = 0; i < e.hostIndex; ++i) {
        start = chunk.find('\n', start) + 1;
    }
    const std::string& old = lines[e.hostIndex];
    if (chunk.substr(start, old.size()) != old) {
        return e;  // it ended in a bare LF or was the unfinished last line
    }
    e.changes = true;
    const std::string replacement = "Host: " + std::string(host) + ":" + std::string(port) + "\r\n";
    e.bytes.replace(start, old.size(), replacement);
    return e;
}

std::vector<std::string> Texts(const log::LogChain& chain) {
    std::vector<std::string> texts;
    for (const log::LogEntry* e = chain.head; e != nullptr; e = e->next) {
        texts.emplace_back(e->View());
    }
    return texts;
}

}  // namespace
}  // namespace corvane::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace corvane;
    using namespace corvane::fuzz;
    FuzzedDataProvider in(data, size);
    const std::string host = in.ConsumeRandomLengthString(400);
    const std::string port = in.ConsumeRandomLengthString(40);
    const auto before = in.ConsumeIntegralInRange<std::int32_t>(0, 64);
    const auto slack = in.ConsumeIntegralInRange<std::int32_t>(0, 300);
    const auto failure = in.ConsumeIntegralInRange<int>(0, 2);
    const auto seenBefore = in.ConsumeIntegralInRange<std::int32_t>(0, 1);
    const std::string chunk = in.ConsumeRemainingBytesAsString();
    const int n = static_cast<int>(chunk.size());
    if (chunk.size() > 65535) {
        return 0;
    }

    log::LogChain lines;
    int textCount = 0;
    bool incomplete = false;
    FUZZ_CHECK(log::SplitTextLines(chunk.data(), n, lines, textCount, incomplete));
    // Only chunks that are all text, and so have at least one line, reach the rewrite.
    if (textCount != n || lines.Empty()) {
        log::FreeChain(lines);
        return 0;
    }
    const std::vector<std::string> stored = Texts(lines);
    const Expectation expected = Expect(stored, chunk, host, port);

    // The Channel holds some earlier bytes before the chunk, and a little free room or none.
    relay::Channel channel;
    FUZZ_CHECK_EQ(channel.Resize(before + n + slack), 0);
    FUZZ_CHECK(channel.capacity >= before + n);
    const std::string earlier(static_cast<std::size_t>(before), 'E');
    std::memcpy(channel.data, earlier.data(), earlier.size());
    std::memcpy(channel.data + before, chunk.data(), chunk.size());
    channel.length = before + n;

    log::TrafficLog traffic;
    std::int32_t seen = seenBefore;
    int result = 0;
    {
        // 1: nothing can be had; 2: the new line can be had, more room cannot.
        AllocationFailure shortage(failure == 0 ? -1 : failure - 1);
        result = relay::RewriteHttpRequest(traffic, lines, channel, before, n, host, port, seen);
    }
    FUZZ_CHECK_EQ(seen, expected.request ? 1 : 0);
    const std::string_view held(channel.data, static_cast<std::size_t>(channel.length));
    FUZZ_CHECK_EQ(held.substr(0, earlier.size()), std::string_view(earlier));
    const std::vector<std::string> after = Texts(lines);

    if (result == -2) {
        // Only a rewrite that was due may fail, and then nothing has changed.
        FUZZ_CHECK(expected.changes && failure != 0);
        FUZZ_CHECK_EQ(held.substr(earlier.size()), std::string_view(chunk));
        FUZZ_CHECK(after == stored);
    } else {
        FUZZ_CHECK(failure != 1 || !expected.changes);
        FUZZ_CHECK_EQ(result, static_cast<int>(expected.bytes.size()));
        FUZZ_CHECK_EQ(channel.length, before + result);
        FUZZ_CHECK_EQ(held.substr(earlier.size()), std::string_view(expected.bytes));
        // The list shows the same bytes, line for line, with only the Host line in purple.
        FUZZ_CHECK_EQ(after.size(), stored.size());
        std::size_t i = 0;
        const log::LogEntry* last = nullptr;
        for (const log::LogEntry* e = lines.head; e != nullptr; last = e, e = e->next, ++i) {
            const bool replaced = expected.changes && i == expected.hostIndex;
            FUZZ_CHECK(e->colour == (replaced ? log::kPurple : log::ColourOf(log::LogKind::Data)));
            if (replaced) {
                FUZZ_CHECK_EQ(after[i], "Host: " + host + ":" + port + "\r\n");
                FUZZ_CHECK_EQ(e->Text()[e->length], '\0');
            } else {
                FUZZ_CHECK_EQ(after[i], stored[i]);
            }
        }
        FUZZ_CHECK(lines.tail == last);
    }
    log::FreeChain(lines);
    return 0;
}
