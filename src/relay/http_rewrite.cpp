#include "relay/http_rewrite.h"

#include <cstring>
#include <string>

#include "log/traffic_log.h"

namespace corvane::relay {

namespace {

constexpr std::string_view kHttpVersion = "HTTP/1.";
constexpr std::string_view kHostHeader = "Host: ";
constexpr std::string_view kProxyConnectionHeader = "Proxy-Connection: ";
constexpr std::string_view kLineEnd = "\r\n";

bool BeginsWith(const log::LogEntry& line, std::string_view prefix) {
    return line.View().substr(0, prefix.size()) == prefix;
}

// The offset in the chunk of the start of line `index`: just past the index-th LF.
int LineStart(const char* chunk, int n, int index) {
    int pos = 0;
    for (int seen = 0; seen < index; ++seen) {
        const void* lf = std::memchr(chunk + pos, '\n', static_cast<std::size_t>(n - pos));
        if (lf == nullptr) {
            return -1;
        }
        pos = static_cast<int>(static_cast<const char*>(lf) - chunk) + 1;
    }
    return pos;
}

}  // namespace

int RewriteHttpRequest(log::TrafficLog& log, log::LogChain& lines, Channel& channel,
                       std::int32_t offset, int n, std::string_view host, std::string_view port,
                       std::int32_t& httpRequestSeen) {
    const log::LogEntry* first = lines.head;
    // The stored request line ends "HTTP/1.x" CR LF: the version starts 10 characters
    // before the end of the stored text.
    if (first == nullptr || first->length < 10 ||
        first->View().substr(static_cast<std::size_t>(first->length - 10), kHttpVersion.size()) !=
            kHttpVersion) {
        httpRequestSeen = 0;
        return n;
    }
    httpRequestSeen = 1;

    log::LogEntry* hostLine = nullptr;
    log::LogEntry* beforeHost = nullptr;
    int hostIndex = 0;
    bool proxyConnection = false;
    // The header ends at its first empty line; a Host line after it belongs to the body.
    bool inHeader = true;
    int index = 1;
    for (log::LogEntry *previous = lines.head, *line = lines.head->next; line != nullptr;
         previous = line, line = line->next, ++index) {
        if (line->View() == kLineEnd) {
            inHeader = false;
        } else if (inHeader && BeginsWith(*line, kHostHeader)) {
            hostLine = line;  // the last one counts
            beforeHost = previous;
            hostIndex = index;
        } else if (BeginsWith(*line, kProxyConnectionHeader)) {
            proxyConnection = true;
        }
    }
    if (hostLine == nullptr || proxyConnection) {
        return n;
    }

    // The line's bytes must be exactly its stored text, CR LF included, within the chunk.
    const int start = LineStart(channel.data + offset, n, hostIndex);
    const int oldLength = hostLine->length;
    if (start < 0 || n - start < oldLength ||
        std::memcmp(channel.data + offset + start, hostLine->Text(),
                    static_cast<std::size_t>(oldLength)) != 0) {
        return n;
    }

    std::string text;
    text.reserve(kHostHeader.size() + host.size() + 1 + port.size());
    text.append(kHostHeader).append(host).append(1, ':').append(port);
    log::LogEntry* replacement = log.NewEntry(text, log::kPurple);
    if (replacement == nullptr) {
        return -2;
    }
    const int newLength = replacement->length;
    const int difference = newLength - oldLength;
    if (difference > channel.capacity - channel.length) {
        const std::int32_t needed = channel.length + difference;
        const std::int32_t rounded =
            (needed + kChannelGrowthStep - 1) / kChannelGrowthStep * kChannelGrowthStep;
        channel.Resize(rounded);
        if (difference > channel.capacity - channel.length) {
            log::FreeEntry(replacement);
            return -2;
        }
    }
    char* chunk = channel.data + offset;  // the block may have moved
    std::memmove(chunk + start + newLength, chunk + start + oldLength,
                 static_cast<std::size_t>(n - start - oldLength));
    std::memcpy(chunk + start, replacement->Text(), static_cast<std::size_t>(newLength));
    channel.length += difference;

    replacement->next = hostLine->next;
    beforeHost->next = replacement;
    if (lines.tail == hostLine) {
        lines.tail = replacement;
    }
    log::FreeEntry(hostLine);
    return n + difference;
}

}  // namespace corvane::relay
