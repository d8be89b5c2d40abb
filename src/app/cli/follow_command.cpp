#include "app/cli/follow_command.h"

#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <string_view>

#include "app/cli/cli_arguments.h"
#include "app/cli/connection_table.h"
#include "log/stream_reader.h"

namespace corvane::cli {

namespace {

// Writes everything, blocking; false when the descriptor failed (a reader that went away).
bool WriteAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

int Failure(int err, const std::string& message) {
    WriteAll(err, message + "\n");
    return kExitFailure;
}

}  // namespace

bool IsFollowCommand(const std::vector<std::string>& args) {
    return !args.empty() && args[0] == "-follow";
}

int RunFollow(const std::vector<std::string>& args, int out, int err) {
    log::ConnectionSerial serial = 0;
    const bool withSerial = args.size() >= 3;
    if (withSerial) {
        const std::string& text = args[2];
        const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), serial);
        if (ec != std::errc() || end != text.data() + text.size() || serial == 0) {
            WriteAll(err, kCliUsageText + std::string("\n"));
            return kExitUsage;
        }
    }
    const bool direction = args.size() == 4 && (args[3] == "up" || args[3] == "down");
    if (args.size() < 2 || args.size() > 4 || (args.size() == 4 && !direction)) {
        WriteAll(err, kCliUsageText + std::string("\n"));
        return kExitUsage;
    }
    log::StreamReader reader;
    std::string error;
    if (!reader.Open(args[1], error)) {
        return Failure(err, error);
    }
    if (!withSerial) {
        return WriteAll(out, KeptConnectionTable(reader.Connections())) ? kExitOk : kExitFailure;
    }
    if (!reader.Has(serial)) {
        return Failure(err, args[1] + " holds no connection with serial " + args[2]);
    }
    const log::StreamDirection wanted = direction && args[3] == "down"
                                            ? log::StreamDirection::ToClient
                                            : log::StreamDirection::ToServer;
    bool written = true;
    std::string text;
    const bool read = reader.ForEachBlock(serial, [&](const log::KeptBlock& block) {
        if (direction) {
            written = block.direction != wanted || WriteAll(out, block.bytes);
        } else {
            text.clear();
            log::AppendBlockText(block, text);
            written = WriteAll(out, text);
        }
        return written;
    });
    if (!read) {
        return Failure(err, "Could not read " + args[1]);
    }
    return written ? kExitOk : kExitFailure;
}

}  // namespace corvane::cli
