#include "log/stream_reader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>

#include "log/stream_format.h"

namespace corvane::log {

using namespace streams;

// A record as the walk hands it over: its header and its bytes within extent_.
struct RecordView {
    RecordHeader header;
    std::string_view bytes;
};

namespace {

bool ReadAt(int fd, char* out, std::size_t size, std::int64_t offset) {
    while (size > 0) {
        const ssize_t n = ::pread(fd, out, size, offset);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        out += n;
        size -= static_cast<std::size_t>(n);
        offset += n;
    }
    return true;
}

bool PowerOfTwo(std::uint32_t v) {
    return v != 0 && (v & (v - 1)) == 0;
}

}  // namespace

StreamReader::~StreamReader() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

bool StreamReader::Open(const std::string& path, std::string& error) {
    if (fd_ >= 0) {
        ::close(fd_);
    }
    path_ = path;
    fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd_ < 0) {
        error = "Could not open " + path + ": " + std::strerror(errno);
        return false;
    }
    return Refresh(error);
}

bool StreamReader::Refresh(std::string& error) {
    chains_.clear();
    struct stat st {};
    char header[kHeaderBytes] = {};
    if (fd_ < 0 || ::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode) ||
        st.st_size < static_cast<off_t>(kHeaderBytes) || !ReadAt(fd_, header, sizeof header, 0) ||
        std::string_view(header, kMagic.size()) != kMagic ||
        Get32(header + kVersionAt) != kVersion) {
        error = path_ + " is not a kept-streams store";
        return false;
    }
    extentBytes_ = Get32(header + kExtentSizeAt);
    if (!PowerOfTwo(extentBytes_) || extentBytes_ < kMinExtentBytes ||
        extentBytes_ > kMaxExtentBytes) {
        error = path_ + " is not a kept-streams store";
        return false;
    }
    fileBytes_ = st.st_size;
    // Every extent's header, in order; each Connection's chain from its sequences.
    std::map<ConnectionSerial, std::map<std::uint32_t, std::uint32_t>> found;
    const std::int64_t slots = (fileBytes_ - kHeaderBytes + extentBytes_ - 1) / extentBytes_;
    for (std::int64_t slot = 0; slot < slots; ++slot) {
        char raw[kExtentHeaderBytes];
        const std::int64_t at = kHeaderBytes + slot * extentBytes_;
        if (at + kExtentHeaderBytes > fileBytes_ || !ReadAt(fd_, raw, sizeof raw, at)) {
            break;
        }
        const ExtentHeader h = GetExtentHeader(raw);
        if (h.magic == kExtentMagic && h.serial != kNoConnection) {
            found[h.serial].emplace(h.sequence, static_cast<std::uint32_t>(slot));
        }
    }
    for (auto& [serial, sequences] : found) {
        std::vector<std::uint32_t> chain;
        for (const auto& [sequence, slot] : sequences) {
            if (sequence != chain.size()) {
                break;  // a gap: what follows belongs to a chain given up
            }
            chain.push_back(slot);
        }
        if (!chain.empty()) {
            chains_.emplace(serial, std::move(chain));
        }
    }
    return true;
}

bool StreamReader::ReadExtent(std::uint32_t slot) {
    const std::int64_t at = kHeaderBytes + static_cast<std::int64_t>(slot) * extentBytes_;
    const std::int64_t size = std::min<std::int64_t>(extentBytes_, fileBytes_ - at);
    if (size < kExtentHeaderBytes) {
        return false;
    }
    extent_.resize(static_cast<std::size_t>(size));
    return ReadAt(fd_, extent_.data(), extent_.size(), at);
}

bool StreamReader::ForEachRecord(ConnectionSerial serial,
                                 const std::function<bool(const RecordView&)>& record) {
    const auto chain = chains_.find(serial);
    if (chain == chains_.end()) {
        return false;
    }
    for (const std::uint32_t slot : chain->second) {
        if (!ReadExtent(slot)) {
            return false;
        }
        const ExtentHeader h = GetExtentHeader(extent_.data());
        if (h.magic != kExtentMagic || h.serial != serial) {
            return true;  // reused since it was indexed: the chain ends here
        }
        std::size_t at = kExtentHeaderBytes;
        while (at + kRecordHeaderBytes <= extent_.size()) {
            const RecordHeader r = GetRecordHeader(extent_.data() + at);
            at += kRecordHeaderBytes;
            if (r.serial != serial || r.length > extent_.size() - at || r.kind < kInfo ||
                r.kind > kToClient) {
                break;  // the end of this extent's records
            }
            if (!record({r, std::string_view(extent_.data() + at, r.length)})) {
                return true;
            }
            at += r.length;
        }
    }
    return true;
}

std::vector<KeptConnection> StreamReader::Connections() {
    std::vector<KeptConnection> result;
    for (const auto& [serial, chain] : chains_) {
        KeptConnection c;
        c.serial = serial;
        bool first = true;
        bool valid = false;
        ForEachRecord(serial, [&](const RecordView& r) {
            if (first) {
                first = false;
                // The info record: number, the two address lengths, the addresses.
                const std::string_view b = r.bytes;
                if (r.header.kind != kInfo || b.size() < 8) {
                    return false;
                }
                const std::size_t clientLength =
                    static_cast<unsigned char>(b[4]) | (static_cast<unsigned char>(b[5]) << 8);
                const std::size_t serverLength =
                    static_cast<unsigned char>(b[6]) | (static_cast<unsigned char>(b[7]) << 8);
                if (8 + clientLength + serverLength > b.size()) {
                    return false;
                }
                c.number = static_cast<int>(Get32(b.data()));
                c.client = std::string(b.substr(8, clientLength));
                c.server = std::string(b.substr(8 + clientLength, serverLength));
                c.startedUs = r.header.microseconds;
                valid = true;
                return true;
            }
            if (r.header.kind == kToServer) {
                c.toServer += static_cast<std::int64_t>(r.bytes.size());
            } else if (r.header.kind == kToClient) {
                c.toClient += static_cast<std::int64_t>(r.bytes.size());
            }
            return true;
        });
        if (valid) {
            result.push_back(std::move(c));
        }
    }
    return result;
}

bool StreamReader::ForEachBlock(ConnectionSerial serial,
                                const std::function<bool(const KeptBlock&)>& visit) {
    std::string joined;
    KeptBlock block;
    bool open = false;
    bool stopped = false;
    auto deliver = [&] {
        if (open && !stopped) {
            block.bytes = joined;
            stopped = !visit(block);
        }
        open = false;
        joined.clear();
    };
    const bool ok = ForEachRecord(serial, [&](const RecordView& r) {
        if (r.header.kind == kInfo) {
            return true;
        }
        const StreamDirection direction =
            r.header.kind == kToServer ? StreamDirection::ToServer : StreamDirection::ToClient;
        const bool continues =
            (r.header.flags & kContinues) != 0 && open && direction == block.direction;
        if (!continues) {
            deliver();
            block.direction = direction;
            block.microseconds = r.header.microseconds;
            open = true;
        }
        joined.append(r.bytes);
        return !stopped;
    });
    deliver();
    return ok;
}

std::string LocalTimeText(std::int64_t microseconds, bool withDate) {
    const time_t seconds = static_cast<time_t>(microseconds / 1000000);
    const int millis = static_cast<int>((microseconds % 1000000) / 1000);
    std::tm local{};
    localtime_r(&seconds, &local);
    char text[40];
    if (withDate) {
        std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d.%03d", local.tm_year + 1900,
                      local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec,
                      millis < 0 ? 0 : millis);
    } else {
        std::snprintf(text, sizeof text, "%02d:%02d:%02d.%03d", local.tm_hour, local.tm_min,
                      local.tm_sec, millis < 0 ? 0 : millis);
    }
    return text;
}

void AppendBlockText(const KeptBlock& block, std::string& out) {
    out +=
        block.direction == StreamDirection::ToServer ? "Client to Server, " : "Server to Client, ";
    out += LocalTimeText(block.microseconds, false);
    out += ", ";
    out += std::to_string(block.bytes.size());
    out += block.bytes.size() == 1 ? " byte\n" : " bytes\n";
    const std::string_view b = block.bytes;
    for (std::size_t i = 0; i < b.size(); ++i) {
        const auto c = static_cast<unsigned char>(b[i]);
        if (c == '\r' && i + 1 < b.size() && b[i + 1] == '\n') {
            continue;  // CR LF ends a line as LF does
        }
        out += (c == '\n' || c == '\t' || (c >= 0x20 && c != 0x7F)) ? static_cast<char>(c) : '.';
    }
    if (b.empty() || b.back() != '\n') {
        out += '\n';
    }
}

}  // namespace corvane::log
