// Writes the Log File's filled buffers on a thread of its own (a BufferWriter), so that a
// slow disk (or the file system's own work per page, which costs more than the bytes) never
// holds up the relay. Buffers are written in the order they were handed over; at most
// kBuffersInFlight wait at once, and a hand-over beyond that waits for the oldest to be
// written. After each batch the stream is flushed, so that another process reads what was
// handed over. Write errors are ignored, as the Log File ignores them.
#pragma once

#include <cstdio>
#include <memory>

#include "log/buffer_writer.h"

namespace corvane::log {

class FileWriter {
public:
    // A dump of every relayed block makes about five bytes of text per byte relayed; in
    // 256 KiB buffers that is a write call and a hand-over for every 50 KiB relayed, a
    // quarter of what 64 KiB buffers cost, with the same 1 MiB on its way.
    static constexpr std::size_t kBufferBytes = 256 * 1024;
    static constexpr std::size_t kBuffersInFlight = BufferWriter::kBuffersInFlight;
    static constexpr std::size_t kSpareBuffers = 4;  // kept for refilling rather than freed

    FileWriter();
    ~FileWriter() { Close(); }
    FileWriter(const FileWriter&) = delete;
    FileWriter& operator=(const FileWriter&) = delete;

    // Takes the open stream over; it is closed by Close.
    void Open(std::FILE* file);
    bool IsOpen() const { return file_ != nullptr; }

    // Hands over the first used bytes of buffer (kBufferBytes long) to be written and gives
    // back an empty buffer to fill next.
    std::unique_ptr<char[]> Submit(std::unique_ptr<char[]> buffer, std::size_t used);

    // As Submit, but never waits: when kBuffersInFlight already wait, buffer is left as it is
    // and false is returned. Otherwise buffer is replaced by an empty one.
    bool TrySubmit(std::unique_ptr<char[]>& buffer, std::size_t used);

    // Writes everything handed over, then closes the stream.
    void Close();

private:
    void WriteNow(const char* data, std::size_t used);

    std::FILE* file_ = nullptr;
    BufferWriter writer_;
};

}  // namespace corvane::log
