// The writer thread's side of a file sink (the Log File, the Capture File): the open file,
// written from the filled buffers that a BufferWriter hands over, so that a slow disk (or
// the file system's own work per page, which costs more than the bytes) never holds up the
// relay. Buffers are written in the order they were handed over; at most kBuffersInFlight
// wait at once, and a hand-over beyond that waits for the oldest to be written.
//
// Switching to the next part of the file (closing this one, creating the next, deleting the
// parts no longer kept) is queued among the buffers, so the file system's work for it is
// done on the writer thread too. A write that fails (a full disk, a quota) is never retried:
// the file is cut back to the end of its last whole unit (a line, a packet), and from then
// on what is handed over is only counted, unit by unit, until a switch that resumes.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "log/buffer_writer.h"

namespace corvane::log {

// What the writer needs to know about a sink's bytes; every function is called on the
// writer thread, the counting ones on the event thread too.
struct FileFormat {
    // Writes what begins every file of the sink (the pcap file header); null for nothing.
    bool (*begin)(std::FILE* file) = nullptr;
    // Makes a filled buffer ready for the file, in place (checksums); null for nothing.
    void (*prepare)(char* data, std::size_t used) = nullptr;
    // The units (lines, packets) that end in data[0, size). A buffer begins with a unit or
    // with the rest of one that began in the buffer before.
    std::uint64_t (*countUnits)(const char* data, std::size_t size) = nullptr;
    // Where the last unit that ends in data[0, size) ends; 0 when none does.
    std::size_t (*lastUnitEnd)(const char* data, std::size_t size) = nullptr;
};

// The line ends of text: the Log File's units.
std::uint64_t CountLines(const char* data, std::size_t size);
std::size_t LastLineEnd(const char* data, std::size_t size);
inline constexpr FileFormat kTextFormat{nullptr, nullptr, &CountLines, &LastLineEnd};

class FileWriter {
public:
    static constexpr std::size_t kBuffersInFlight = BufferWriter::kBuffersInFlight;

    FileWriter(const FileFormat& format, std::size_t bufferBytes, std::size_t spareBuffers);
    ~FileWriter() { Close(); }
    FileWriter(const FileWriter&) = delete;
    FileWriter& operator=(const FileWriter&) = delete;

    // Creates the file or empties it ("wb") on the calling thread and starts the writer.
    // False when it cannot be created (nothing is open then).
    bool Open(const std::string& name);
    bool IsOpen() const { return open_; }
    // Whether the file opened by Open is a regular file (not a device or a pipe).
    bool Regular() const { return regular_; }

    // Hands over the first used bytes of buffer (bufferBytes long) to be written and gives
    // back an empty buffer to fill next.
    std::unique_ptr<char[]> Submit(std::unique_ptr<char[]> buffer, std::size_t used);
    // As Submit, but never waits: when kBuffersInFlight already wait, buffer is left as it is
    // and false is returned. Otherwise buffer is replaced by an empty one.
    bool TrySubmit(std::unique_ptr<char[]>& buffer, std::size_t used);
    std::unique_ptr<char[]> NewBuffer() const { return writer_.NewBuffer(); }

    // After what was handed over: closes the file, creates `name` in its place and deletes
    // the files in `expired`. With resume, a failed write is forgotten and writing begins
    // again in the new file; without it, a writer that has failed only closes and deletes.
    void SwitchTo(std::string name, std::vector<std::string> expired, bool resume);

    // A failed write (or a part that could not be created): its error number (0 while none
    // has failed since the last resume, and while a resume waits to be done: what failed
    // before it is over) and the name of its file.
    int Error() const {
        return resumed_.load(std::memory_order_acquire) == resumes_
                   ? error_.load(std::memory_order_acquire)
                   : 0;
    }
    std::string FailedName();
    // True when nothing handed over waits any more.
    bool Idle() { return writer_.Idle(); }
    // The units handed over since the failure and not written; counted from 0 again.
    std::uint64_t TakeLostUnits() { return lost_.exchange(0); }
    // True when a buffer reached the file since the last resume.
    bool WroteSinceResume() const { return wrote_.load(std::memory_order_relaxed); }
    // True when the name of the file being written no longer leads to it (it was removed,
    // or renamed and maybe replaced): another tool has rotated it.
    bool Moved();

    // Writes everything handed over, then closes the file.
    void Close();

private:
    // Writer thread (and the calling thread without one).
    void Write(char* data, std::size_t used);
    void OpenFile(const std::string& name);
    void CloseFile();
    void Fail(int error, const std::string& name);

    const FileFormat format_;
    bool open_ = false;
    bool regular_ = false;
    std::uint64_t resumes_ = 0;  // the resumes asked for
    // Written on the writer thread, read by the event thread.
    std::atomic<std::uint64_t> resumed_{0};   // the resumes done
    std::uint64_t switches_ = 0;              // the switches asked for
    std::atomic<std::uint64_t> switched_{0};  // the switches done
    std::atomic<int> error_{0};
    std::atomic<std::uint64_t> lost_{0};
    std::atomic<bool> wrote_{false};
    std::mutex mutex_;  // guards the names and the identity below
    std::string name_;
    std::string failedName_;
    dev_t device_ = 0;
    ino_t inode_ = 0;
    // The writer thread's own.
    std::FILE* file_ = nullptr;
    std::uint64_t offset_ = 0;    // bytes in the file
    std::uint64_t wholeEnd_ = 0;  // where its last whole unit ends
    BufferWriter writer_;         // last, so that its thread ends before the members it writes with
};

}  // namespace corvane::log
