// The terminal's table of Connections: what the key c prints on standard error, one line per
// live Connection (newest first, as the engine lists them), under a heading:
//
//   No.  Client           Server          State  Started       Duration  C->S  S->C  Buffered  TLS
//   7    127.0.0.1:50312  127.0.0.1:8080  Open   20:14:03.123  12.3 s    18    1,234  0
//
// and "No connections" when there are none. Also the list of "-follow FILE".
#pragma once

#include <string>
#include <vector>

#include "log/stream_reader.h"
#include "relay/connection_view.h"

namespace corvane::cli {

// Columns padded to their widest cell, two blanks apart; lines end in LF.
std::string ConnectionTable(const std::vector<relay::ConnectionRow>& rows);

// The Connections of a store: serial, number, Client, Server, bytes each way (plain
// numbers), and the date and time of the accept.
std::string KeptConnectionTable(const std::vector<log::KeptConnection>& connections);

}  // namespace corvane::cli
