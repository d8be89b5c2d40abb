// The kept streams: every byte the relay passes on, with its Connection, direction and time,
// in a store on disk (stream_format.h) that the Follow window, Save and "corvane-cli
// -follow" read back (stream_reader.h). It holds the plain text of TLS sessions, so the file
// is created readable and writable by the user only (0600).
//
// Nothing here touches the file system on the event thread, as for the Capture File: the
// records are built into 1 MiB buffers of our own, each a list of writes (file offset,
// bytes), and a writer thread (a BufferWriter) performs them, joining writes that follow
// each other into one call. A buffer that is only partly filled goes out at the next tick of
// a 200 ms timer. A write that fails is logged once ("Could not write kept streams") and
// relaying goes on.
//
// The store is bounded by its size: when no extent is free, the oldest Connection's extents
// (its bytes whole) are given up and reused, and its serial is listed for TakeDropped, so
// that its row can say so. A Connection that is itself the oldest keeps nothing more.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "log/buffer_writer.h"
#include "log/connection_serial.h"
#include "platform/messages.h"

namespace corvane::log {

enum class StreamDirection : std::uint8_t {
    ToServer,  // the Client's bytes, passed on to the Server ("up")
    ToClient,  // the Server's bytes, passed on to the Client ("down")
};

class StreamStore final : public platform::MessageTarget {
public:
    static constexpr std::size_t kBufferBytes = 1024 * 1024;
    static constexpr std::size_t kSpareBuffers = 2;
    static constexpr std::uintptr_t kFlushTimerId = 1;
    static constexpr platform::UINT kFlushTimerMs = 200;
    // The bound's default, and the smallest bound taken (a smaller one is raised to it).
    static constexpr std::int64_t kDefaultBound = 256LL << 20;
    static constexpr std::int64_t kMinimumBound = 1LL << 20;

    StreamStore();
    // Closes an open store as Close does.
    ~StreamStore() override;
    StreamStore(const StreamStore&) = delete;
    StreamStore& operator=(const StreamStore&) = delete;

    // WM_TIMER of the flush timer hands a partly filled buffer over.
    void HandleMessage(platform::UINT msg, platform::WPARAM wParam,
                       platform::LPARAM lParam) override;

    // Creates the file (0600) or empties it, and writes the header; an open store is closed
    // first. bound: the file's greatest size in bytes (at least kMinimumBound). False when
    // the file cannot be created; errno tells why.
    bool Open(const std::string& path, std::int64_t bound);
    // Writes everything handed over, then closes the file. The file stays.
    void Close();
    bool IsOpen() const { return fd_ >= 0; }
    const std::string& Path() const { return path_; }
    std::int64_t Bound() const { return bound_; }

    // Called with the text of the Error line when a write first fails (once per Open).
    void SetErrorReport(std::function<void(const char*)> report) { report_ = std::move(report); }

    // A Connection begins: its info record (number, Client's and Server's address and port,
    // the time of its accept in microseconds since the Unix epoch).
    void Begin(ConnectionSerial serial, int number, std::string_view client,
               std::string_view server, std::int64_t acceptedUs);
    // Bytes passed on (the Host rewrite done), as handed to send; nothing for a Connection
    // that was not begun or has been given up.
    void Passed(ConnectionSerial serial, StreamDirection direction, const char* bytes,
                std::size_t size);
    // The Connection has ended: nothing more comes for it. Its bytes stay until the bound
    // needs their room.
    void End(ConnectionSerial serial);
    // Called with each Connection given up for room, as it goes (from Begin or Passed).
    void SetDropReport(std::function<void(ConnectionSerial)> report) {
        dropReport_ = std::move(report);
    }
    // Everything built so far goes to the writer now (the Follow window's refresh); the
    // file has it once the writer has written it.
    void HandOver();

private:
    struct Kept {
        std::vector<std::uint32_t> extents;  // slot of each extent, in sequence
        std::uint32_t used = 0;              // bytes used in the last extent
        bool ended = false;
    };

    // Room for a write of size bytes at a file offset; the caller fills it.
    char* Reserve(std::int64_t offset, std::size_t size);
    // A new extent at the end of kept's chain; false when kept was given up for its room.
    bool AddExtent(ConnectionSerial serial, Kept& kept);
    // Gives the oldest Connection up: its extents become free. False when nothing is kept.
    bool DropOldest();
    // One record (header and bytes) into kept's extents, split where an extent ends.
    void Append(ConnectionSerial serial, Kept& kept, std::uint8_t kind, std::int64_t us,
                const char* bytes, std::size_t size);
    Kept* Find(ConnectionSerial serial);
    void CheckFailure();

    std::string path_;
    std::int64_t bound_ = 0;
    std::uint32_t slotCount_ = 0;  // extents the bound allows
    std::uint32_t slotsMade_ = 0;  // extents ever used; the file ends behind them
    std::vector<std::uint32_t> free_;
    std::map<ConnectionSerial, Kept> kept_;  // oldest first
    ConnectionSerial lastSerial_ = kNoConnection;
    Kept* last_ = nullptr;
    std::function<void(ConnectionSerial)> dropReport_;

    bool failureReported_ = false;
    bool timerRunning_ = false;
    std::function<void(const char*)> report_;
    std::unique_ptr<char[]> buffer_;  // being filled on the event thread
    std::size_t used_ = 0;

    // Shared with the writer thread.
    int fd_ = -1;
    std::atomic<bool> failed_{false};
    BufferWriter writer_;  // last, so that its thread ends before the members it writes with
};

}  // namespace corvane::log
