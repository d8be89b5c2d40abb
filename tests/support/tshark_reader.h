// Reading a capture back with tshark, for the Capture File's tests: a command's output, and
// every TCP stream of a file as tshark follows it.
#pragma once

#include <sys/wait.h>

#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace corvane::test {

// A display filter for every sign of a broken conversation: any packet that tshark's TCP
// analysis flags (a segment that looks lost, repeated or out of order, an acknowledgement of
// what was never sent, a window problem, ...), a bad checksum (with kCheckChecksums given,
// since tshark does not check them by default).
inline constexpr const char* kTcpFaults =
    "tcp.analysis.flags || ip.checksum.status == 0 || tcp.checksum.status == 0";
inline constexpr const char* kCheckChecksums =
    "-o ip.check_checksum:TRUE -o tcp.check_checksum:TRUE";

// Standard output of a shell command, or nullopt when it did not exit with 0.
inline std::optional<std::string> Output(const std::string& command) {
    std::FILE* pipe = ::popen((command + " 2>/dev/null").c_str(), "r");
    if (pipe == nullptr) {
        return std::nullopt;
    }
    std::string out;
    char buf[65536];
    for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, pipe)) > 0;) {
        out.append(buf, n);
    }
    const int status = ::pclose(pipe);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        return std::nullopt;
    }
    return out;
}

inline std::string FromHex(std::string_view hex) {
    std::string bytes;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
        bytes.push_back(static_cast<char>(std::stoi(std::string(hex.substr(i, 2)), nullptr, 16)));
    }
    return bytes;
}

// One stream as tshark follows it: the first node's port and what each node sent.
struct Followed {
    std::string firstNode;  // "127.0.0.1:port"
    std::string sent[2];
};

// "-z follow,tcp,raw,N" for every N below count, in one reading of the file (tshark prints
// them in an order of its own: tell them apart by their first node).
inline std::vector<Followed> FollowAll(const std::string& file, int count) {
    std::string command = "tshark -r '" + file + "' -q";
    for (int n = 0; n < count; ++n) {
        command += " -z follow,tcp,raw," + std::to_string(n);
    }
    std::vector<Followed> streams;
    const std::optional<std::string> out = Output(command);
    if (!out) {
        return streams;
    }
    std::size_t start = 0;
    while (start < out->size()) {
        std::size_t end = out->find('\n', start);
        end = end == std::string::npos ? out->size() : end;
        const std::string line = out->substr(start, end - start);
        start = end + 1;
        if (line.rfind("Filter:", 0) == 0) {
            streams.emplace_back();
        } else if (streams.empty() || line.empty() || line[0] == '=') {
            continue;
        } else if (line.rfind("Node 0: ", 0) == 0) {
            streams.back().firstNode = line.substr(8);
        } else if (line.rfind("Node 1: ", 0) != 0 && line.rfind("Follow:", 0) != 0) {
            const bool second = line[0] == '\t';
            streams.back().sent[second ? 1 : 0] += FromHex(second ? line.substr(1) : line);
        }
    }
    return streams;
}

}  // namespace corvane::test
