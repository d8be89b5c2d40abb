// Writes one relay run to two Log Files at once, an HTML page and a text file, through the
// traffic log exactly as the relay logs: every kind of line, the characters that need
// escapes, runs of blanks (also at the start and the end of a line), text lines, dumps with
// a short last line, and a request whose "Host: " line has been rewritten. The browser
// check renders the page and compares its text with the text file.
//   corvane_browser_log <page.htm> <log.txt>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include "log/text_lines.h"
#include "log/traffic_log.h"
#include "relay/channel.h"
#include "relay/http_rewrite.h"
#include "relay/socket_error_text.h"

namespace {

using namespace std::literals;
using corvane::log::LogChain;
using corvane::log::TrafficLog;

constexpr int kConnection = 344;

// One block received from a peer, logged the way the relay does for a Connection in Text
// mode: split, the Host line rewritten for the Client's requests, the response rule for a
// Server's block that is not all text, then DumpBlock.
void LogBlock(TrafficLog& traffic, std::string_view bytes, bool fromClient,
              bool requestSeen = false) {
    corvane::relay::Channel channel;
    channel.Resize(static_cast<std::int32_t>(bytes.size()) + 8192);
    std::memcpy(channel.data, bytes.data(), bytes.size());
    channel.length = static_cast<std::int32_t>(bytes.size());
    int size = channel.length;

    LogChain lines;
    int textCount = 0;
    bool incomplete = false;
    if (!corvane::log::SplitTextLines(channel.data, size, lines, textCount, incomplete)) {
        std::fputs("out of memory\n", stderr);
        std::exit(1);
    }
    if (textCount == size && fromClient) {
        std::int32_t seen = 0;
        size = corvane::relay::RewriteHttpRequest(traffic, lines, channel, 0, size, "example.org",
                                                  "8080", seen);
        textCount = size;
    } else if (textCount != size && !fromClient) {
        corvane::log::KeepHttpResponseHeader(channel.data, lines, textCount, requestSeen);
    } else if (textCount != size) {
        corvane::log::FreeChain(lines);
        textCount = 0;
    }
    traffic.DumpBlock(kConnection, lines, textCount, incomplete,
                      fromClient ? corvane::log::kClientToServer : corvane::log::kServerToClient,
                      size, channel.data);
}

void WriteRun(const std::string& name) {
    TrafficLog traffic;
    if (!traffic.File().OpenLogFile(name)) {
        std::fprintf(stderr, "cannot create %s\n", name.c_str());
        std::exit(1);
    }
    traffic.LogMessage("Local Port (8080) opened");
    traffic.LogMessage("Waiting for connections");
    traffic.LogConnectionMessage(kConnection, "Client connected; 127.0.0.1:1090");
    traffic.LogConnectionMessage(kConnection, "Connecting to Server");
    traffic.LogConnectionMessage(kConnection, "Connected to Server");
    LogBlock(traffic, "a  <b>&\r\n", true);
    LogBlock(traffic,
             "GET /search?q=a&b=<c> HTTP/1.1\r\n"
             "X-Forwarded-Host: localhost:81\r\n"
             "Host: localhost:81\r\n"
             "User-Agent: four    blanks, then a tab\there\r\n"
             "\r\n",
             true);
    LogBlock(traffic,
             "HTTP/1.0 200 OK\r\n"
             "Content-Type: image/png\r\n"
             "\r\n"
             "\x89PNG\r\n\x1a\n\0\0\0\rIHDR\0\0\0\x10\0\0\0\x10\x08\x06\0\0\0\x1f\xf3\xff"
             "a"sv,
             false, true);
    LogBlock(traffic, "   three blanks first\r\ntwo blanks last  \r\n one blank first\r\n", false);
    LogBlock(traffic, "one blank last \r\nnothing after this", false);
    traffic.LogConnectionInform(kConnection, "Could not send data to Client");
    traffic.LogConnectionInform(kConnection, corvane::relay::SocketErrorText(10054));
    traffic.LogError("Stopped by user");
    traffic.LogMessage("Local Port closed");
    traffic.LogConnectionMessage(kConnection, "Disconnected from Client");
    traffic.LogConnectionMessage(kConnection, "Disconnected from Server");
    traffic.File().CloseLogFile();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fputs("usage: corvane_browser_log <page.htm> <log.txt>\n", stderr);
        return 2;
    }
    WriteRun(argv[1]);
    WriteRun(argv[2]);
    return 0;
}
