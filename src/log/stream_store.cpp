#include "log/stream_store.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <ctime>

#include "log/stream_format.h"

namespace corvane::log {

namespace {

using namespace streams;

constexpr const char* kCouldNotWriteStreams = "Could not write kept streams";
// What precedes each write in our buffers: the file offset and the length of its bytes.
constexpr std::size_t kWriteHeaderBytes = 16;

std::int64_t NowMicroseconds() {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return static_cast<std::int64_t>(now.tv_sec) * 1000000 + now.tv_nsec / 1000;
}

std::int64_t SlotOffset(std::uint32_t slot) {
    return kHeaderBytes + static_cast<std::int64_t>(slot) * kExtentBytes;
}

// Writes every byte of the vectors at offset; false on a failure.
bool WriteAllAt(int fd, iovec* vectors, int count, std::int64_t offset) {
    while (count > 0) {
        const ssize_t n = ::pwritev(fd, vectors, count, offset);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        offset += n;
        auto left = static_cast<std::size_t>(n);
        while (count > 0 && left >= vectors->iov_len) {
            left -= vectors->iov_len;
            ++vectors;
            --count;
        }
        if (count > 0) {
            vectors->iov_base = static_cast<char*>(vectors->iov_base) + left;
            vectors->iov_len -= left;
        }
    }
    return true;
}

// Performs the writes of one buffer, those that follow each other in the file as one call.
bool WriteBuffer(int fd, const char* data, std::size_t used) {
    iovec vectors[IOV_MAX];
    int count = 0;
    std::int64_t start = 0;
    std::int64_t end = 0;
    bool ok = true;
    for (std::size_t at = 0; at + kWriteHeaderBytes <= used;) {
        const auto offset = static_cast<std::int64_t>(Get64(data + at));
        const std::uint32_t length = Get32(data + at + 8);
        at += kWriteHeaderBytes;
        if (count > 0 && (offset != end || count == IOV_MAX)) {
            ok = WriteAllAt(fd, vectors, count, start) && ok;
            count = 0;
        }
        if (count == 0) {
            start = offset;
            end = offset;
        }
        vectors[count++] = {const_cast<char*>(data + at), length};
        end += length;
        at += length;
    }
    if (count > 0) {
        ok = WriteAllAt(fd, vectors, count, start) && ok;
    }
    return ok;
}

}  // namespace

StreamStore::StreamStore()
    : writer_(
          kBufferBytes, kSpareBuffers,
          [this](char* data, std::size_t used) {
              if (!WriteBuffer(fd_, data, used)) {
                  failed_ = true;
              }
          },
          [] {}) {}

StreamStore::~StreamStore() {
    report_ = nullptr;  // whoever would log it is going too
    Close();
    platform::KillTimer(this, kFlushTimerId);
    platform::DiscardMessages(this);
}

void StreamStore::HandleMessage(platform::UINT msg, platform::WPARAM wParam, platform::LPARAM) {
    if (msg != platform::WM_TIMER || wParam != kFlushTimerId) {
        return;
    }
    // A tick that finds nothing new ends the timer; the one before handed the rest over.
    if (used_ > 0) {
        HandOver();
    } else {
        platform::KillTimer(this, kFlushTimerId);
        timerRunning_ = false;
    }
    CheckFailure();
}

bool StreamStore::Open(const std::string& path, std::int64_t bound) {
    Close();
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) {
        return false;
    }
    // A file that was there keeps its mode through O_CREAT: it holds TLS plain text too.
    char header[kHeaderBytes] = {};
    bound = std::max(bound, kMinimumBound);
    std::memcpy(header, kMagic.data(), kMagic.size());
    Put32(header + kVersionAt, kVersion);
    Put32(header + kExtentSizeAt, kExtentBytes);
    Put64(header + kBoundAt, static_cast<std::uint64_t>(bound));
    if (::fchmod(fd, 0600) != 0 || ::pwrite(fd, header, sizeof header, 0) != sizeof header) {
        const int error = errno;
        ::close(fd);
        errno = error;
        return false;
    }
    fd_ = fd;
    path_ = path;
    bound_ = bound;
    slotCount_ = static_cast<std::uint32_t>(
        std::min<std::int64_t>((bound - kHeaderBytes) / kExtentBytes, UINT32_MAX));
    slotsMade_ = 0;
    free_.clear();
    kept_.clear();
    last_ = nullptr;
    lastSerial_ = kNoConnection;
    failureReported_ = false;
    failed_ = false;
    used_ = 0;
    if (!buffer_) {
        buffer_ = writer_.NewBuffer();
    }
    // Without a thread each buffer is written as it is handed over.
    writer_.Start();
    return true;
}

void StreamStore::Close() {
    if (fd_ < 0) {
        return;
    }
    HandOver();
    writer_.Stop();
    if (::close(fd_) != 0) {
        failed_ = true;
    }
    fd_ = -1;
    kept_.clear();
    last_ = nullptr;
    platform::KillTimer(this, kFlushTimerId);
    timerRunning_ = false;
    CheckFailure();
}

StreamStore::Kept* StreamStore::Find(ConnectionSerial serial) {
    if (serial == lastSerial_ && last_ != nullptr) {
        return last_;
    }
    const auto it = kept_.find(serial);
    if (it == kept_.end()) {
        return nullptr;
    }
    lastSerial_ = serial;
    last_ = &it->second;
    return last_;
}

void StreamStore::Begin(ConnectionSerial serial, int number, std::string_view client,
                        std::string_view server, std::int64_t acceptedUs) {
    if (fd_ < 0 || serial == kNoConnection) {
        return;
    }
    Kept& kept = kept_[serial];
    if (!AddExtent(serial, kept)) {
        return;
    }
    // Addresses are short; the bound keeps the info record inside its extent.
    client = client.substr(0, kMaxAddressText);
    server = server.substr(0, kMaxAddressText);
    std::string info(8 + client.size() + server.size(), '\0');
    Put32(info.data(), static_cast<std::uint32_t>(number));
    info[4] = static_cast<char>(client.size());
    info[5] = static_cast<char>(client.size() >> 8);
    info[6] = static_cast<char>(server.size());
    info[7] = static_cast<char>(server.size() >> 8);
    std::memcpy(info.data() + 8, client.data(), client.size());
    std::memcpy(info.data() + 8 + client.size(), server.data(), server.size());
    Append(serial, kept, kInfo, acceptedUs, info.data(), info.size());
}

void StreamStore::Passed(ConnectionSerial serial, StreamDirection direction, const char* bytes,
                         std::size_t size) {
    if (fd_ < 0 || size == 0) {
        return;
    }
    Kept* kept = Find(serial);
    if (kept == nullptr || kept->ended) {
        return;
    }
    Append(serial, *kept, direction == StreamDirection::ToServer ? kToServer : kToClient,
           NowMicroseconds(), bytes, size);
}

void StreamStore::End(ConnectionSerial serial) {
    if (Kept* kept = Find(serial)) {
        kept->ended = true;
    }
}

void StreamStore::Append(ConnectionSerial serial, Kept& kept, std::uint8_t kind, std::int64_t us,
                         const char* bytes, std::size_t size) {
    std::uint8_t flags = 0;
    // The info record goes in even when empty; a block is split where an extent ends.
    do {
        if (kept.extents.empty() || kept.used + kRecordHeaderBytes >= kExtentBytes) {
            if (!AddExtent(serial, kept)) {
                return;  // given up: kept is gone
            }
        }
        const std::size_t room = kExtentBytes - kept.used - kRecordHeaderBytes;
        const std::size_t n = std::min(size, room);
        char* out = Reserve(SlotOffset(kept.extents.back()) + kept.used, kRecordHeaderBytes + n);
        PutRecordHeader(out, {serial, us, static_cast<std::uint32_t>(n), kind, flags});
        if (n > 0) {
            std::memcpy(out + kRecordHeaderBytes, bytes, n);
        }
        kept.used += static_cast<std::uint32_t>(kRecordHeaderBytes + n);
        bytes += n;
        size -= n;
        flags = kContinues;
    } while (size > 0);
}

bool StreamStore::AddExtent(ConnectionSerial serial, Kept& kept) {
    while (free_.empty() && slotsMade_ >= slotCount_) {
        const bool self = !kept_.empty() && kept_.begin()->first == serial;
        if (!DropOldest() || self) {
            return false;
        }
    }
    std::uint32_t slot = 0;
    if (!free_.empty()) {
        slot = free_.back();
        free_.pop_back();
    } else {
        slot = slotsMade_++;
    }
    const auto sequence = static_cast<std::uint32_t>(kept.extents.size());
    kept.extents.push_back(slot);
    kept.used = kExtentHeaderBytes;
    PutExtentHeader(Reserve(SlotOffset(slot), kExtentHeaderBytes),
                    {kExtentMagic, sequence, serial});
    return true;
}

bool StreamStore::DropOldest() {
    if (kept_.empty()) {
        return false;
    }
    const auto oldest = kept_.begin();
    const Kept& kept = oldest->second;
    if (!kept.extents.empty()) {
        // Without its first extent's magic the reader takes none of the rest either.
        std::memset(Reserve(SlotOffset(kept.extents.front()), 4), 0, 4);
    }
    free_.insert(free_.end(), kept.extents.rbegin(), kept.extents.rend());
    const ConnectionSerial serial = oldest->first;
    if (last_ == &oldest->second) {
        last_ = nullptr;
        lastSerial_ = kNoConnection;
    }
    kept_.erase(oldest);
    if (dropReport_) {
        dropReport_(serial);
    }
    return true;
}

char* StreamStore::Reserve(std::int64_t offset, std::size_t size) {
    if (used_ + kWriteHeaderBytes + size > kBufferBytes) {
        HandOver();
    }
    if (!timerRunning_) {
        timerRunning_ = platform::SetTimer(this, kFlushTimerId, kFlushTimerMs) != 0;
    }
    char* out = buffer_.get() + used_;
    Put64(out, static_cast<std::uint64_t>(offset));
    Put32(out + 8, static_cast<std::uint32_t>(size));
    Put32(out + 12, 0);
    used_ += kWriteHeaderBytes + size;
    return out + kWriteHeaderBytes;
}

void StreamStore::HandOver() {
    if (used_ == 0 || fd_ < 0) {
        return;
    }
    if (!writer_.Running()) {
        if (!WriteBuffer(fd_, buffer_.get(), used_)) {
            failed_ = true;
        }
    } else {
        buffer_ = writer_.Submit(std::move(buffer_), used_);
    }
    used_ = 0;
    CheckFailure();
}

void StreamStore::CheckFailure() {
    if (failed_ && !failureReported_) {
        failureReported_ = true;
        if (report_) {
            report_(kCouldNotWriteStreams);
        }
    }
}

}  // namespace corvane::log
