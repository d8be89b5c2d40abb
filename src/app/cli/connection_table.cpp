#include "app/cli/connection_table.h"

#include <algorithm>
#include <cstdio>

#include "relay/show_count.h"

namespace corvane::cli {

namespace {

using Cells = std::vector<std::string>;

std::string Columns(const std::vector<Cells>& lines) {
    std::vector<std::size_t> widths;
    for (const Cells& cells : lines) {
        widths.resize(std::max(widths.size(), cells.size()));
        for (std::size_t i = 0; i < cells.size(); ++i) {
            widths[i] = std::max(widths[i], cells[i].size());
        }
    }
    std::string out;
    for (const Cells& cells : lines) {
        std::string line;
        for (std::size_t i = 0; i < cells.size(); ++i) {
            line += cells[i];
            if (i + 1 < cells.size()) {
                line.append(widths[i] - cells[i].size() + 2, ' ');
            }
        }
        while (!line.empty() && line.back() == ' ') {
            line.pop_back();
        }
        out += line + "\n";
    }
    return out;
}

std::string Count(std::int64_t value) {
    return std::string(relay::FormatCount(value).View());
}

std::string Seconds(std::int64_t ms) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f s", static_cast<double>(ms) / 1000.0);
    return text;
}

}  // namespace

std::string ConnectionTable(const std::vector<relay::ConnectionRow>& rows) {
    if (rows.empty()) {
        return "No connections\n";
    }
    std::vector<Cells> lines{{"No.", "Client", "Server", "State", "Started", "Duration", "C->S",
                              "S->C", "Buffered", "TLS"}};
    for (const relay::ConnectionRow& r : rows) {
        lines.push_back(
            {std::to_string(r.number), r.client, r.server, std::string(relay::StateText(r.state)),
             log::LocalTimeText(r.startedMs * 1000, false), Seconds(r.durationMs),
             Count(r.clientToServer), Count(r.serverToClient), Count(r.buffered), r.tls});
    }
    return Columns(lines);
}

std::string KeptConnectionTable(const std::vector<log::KeptConnection>& connections) {
    std::vector<Cells> lines{{"Serial", "No.", "Client", "Server", "C->S", "S->C", "Started"}};
    for (const log::KeptConnection& c : connections) {
        lines.push_back({std::to_string(c.serial), std::to_string(c.number), c.client, c.server,
                         std::to_string(c.toServer), std::to_string(c.toClient),
                         log::LocalTimeText(c.startedUs, true)});
    }
    return Columns(lines);
}

}  // namespace corvane::cli
