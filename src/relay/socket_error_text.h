// The log's text for a socket error code.
#pragma once

namespace corvane::relay {

// The message text of a socket error code. A code outside the table, 0 included, gives
// "Unhandled error (%d)", formatted into one shared buffer that the next call overwrites:
// log the text at once.
const char* SocketErrorText(int error);

}  // namespace corvane::relay
