// The "Host: " line of a Client's HTTP request, rewritten to name the Remote Host and Port.
#pragma once

#include <cstdint>
#include <string_view>

#include "log/log_entry.h"
#include "relay/channel.h"

namespace corvane::log {
class TrafficLog;
}

namespace corvane::relay {

// Examines one all-text chunk from the Client: the bytes channel.data[offset, offset + n),
// the last bytes of the Channel, split into `lines` (each stored with CR LF).
// - httpRequestSeen becomes 1 when the first line ends in "HTTP/1." and one more character,
//   else 0 (and nothing else happens).
// - A request with a "Proxy-Connection: " line anywhere, or without a "Host: " line in its
//   header (the lines before the first empty one), is left alone; a body is never changed.
// - Otherwise the header's last "Host: " line becomes "Host: <host>:<port>" (the texts whole,
//   of any length), in purple in the list and in the bytes, the Channel made roomier when
//   needed.
//   A Host line whose stored text is not the chunk's bytes at that line (it ended in a bare
//   LF, or was the incomplete last line) is left alone, list and bytes alike.
// Returns the chunk's new length, or -2 when memory for the new line or the room cannot be
// had; then the list and the bytes are unchanged.
int RewriteHttpRequest(log::TrafficLog& log, log::LogChain& lines, Channel& channel,
                       std::int32_t offset, int n, std::string_view host, std::string_view port,
                       std::int32_t& httpRequestSeen);

}  // namespace corvane::relay
