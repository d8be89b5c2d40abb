// Writes the Log File's filled buffers on a thread of its own, so that a slow disk (or the
// file system's own work per page, which costs more than the bytes) never holds up the
// relay. Buffers are written in the order they were handed over; at most kBuffersInFlight
// wait at once, and a hand-over beyond that waits for the oldest to be written. Write
// errors are ignored, as the Log File ignores them.
#pragma once

#include <condition_variable>
#include <cstdio>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace corvane::log {

class FileWriter {
public:
    static constexpr std::size_t kBufferBytes = 64 * 1024;
    static constexpr std::size_t kBuffersInFlight = 16;

    FileWriter() = default;
    ~FileWriter() { Close(); }
    FileWriter(const FileWriter&) = delete;
    FileWriter& operator=(const FileWriter&) = delete;

    // Takes the open stream over; it is closed by Close.
    void Open(std::FILE* file);
    bool IsOpen() const { return file_ != nullptr; }

    // Hands over the first used bytes of buffer (kBufferBytes long) to be written and gives
    // back an empty buffer to fill next.
    std::unique_ptr<char[]> Submit(std::unique_ptr<char[]> buffer, std::size_t used);

    // Writes everything handed over, then closes the stream.
    void Close();

private:
    struct Job {
        std::unique_ptr<char[]> buffer;
        std::size_t used = 0;
    };
    void Run();

    std::FILE* file_ = nullptr;
    std::thread thread_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Job> pending_;                     // oldest first
    std::vector<std::unique_ptr<char[]>> spare_;  // written, to be filled again
    bool stopping_ = false;
};

}  // namespace corvane::log
