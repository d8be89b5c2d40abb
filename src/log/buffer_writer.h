// Writes filled buffers on a thread of its own, for the Log File and the Capture File alike,
// so that a slow disk never holds up the relay. Buffers are written in the order they were
// handed over; at most kBuffersInFlight wait at once, and a hand-over beyond that waits for
// the oldest to be written. The writer takes everything waiting at once, writes it without
// the lock (the owner's write, once per buffer), then calls the owner's flush, so that
// another process reads what was handed over. Up to spareBuffers written buffers are kept
// for refilling rather than freed. What a write or a flush does with an error is the
// owner's affair. Other work on the file (closing it, opening the next one) can be queued
// among the buffers and is done in its turn.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace corvane::log {

class BufferWriter {
public:
    static constexpr std::size_t kBuffersInFlight = 4;
    // Writes the first used bytes of a buffer; called on the writer thread.
    using Write = std::function<void(char* data, std::size_t used)>;
    // Called on the writer thread after each batch.
    using Flush = std::function<void()>;

    BufferWriter(std::size_t bufferBytes, std::size_t spareBuffers, Write write, Flush flush);
    ~BufferWriter() { Stop(); }
    BufferWriter(const BufferWriter&) = delete;
    BufferWriter& operator=(const BufferWriter&) = delete;

    // Starts the writer thread. When no thread is to be had, Running stays false and the
    // owner writes each buffer itself as it is handed over.
    void Start();
    bool Running() const { return thread_.joinable(); }

    // While Running: hands over the first used bytes of buffer to be written and gives back
    // an empty buffer to fill next (buffer itself when used is 0 and it is not null).
    std::unique_ptr<char[]> Submit(std::unique_ptr<char[]> buffer, std::size_t used);

    // As Submit, but never waits: when kBuffersInFlight already wait, buffer is left as it is
    // and false is returned. Otherwise buffer is replaced by an empty one.
    bool TrySubmit(std::unique_ptr<char[]>& buffer, std::size_t used);

    // Runs action on the writer thread once everything handed over before it is written,
    // and before anything handed over after it; waits for room as Submit does. Without a
    // thread it runs at once.
    void Do(std::function<void()> action);

    // True when everything handed over has been written (always, without a thread).
    bool Idle();

    // Writes everything handed over and ends the thread. Nothing when it is not running.
    void Stop();

    // A buffer of bufferBytes, not yet filled.
    std::unique_ptr<char[]> NewBuffer() const;

private:
    struct Job {
        std::unique_ptr<char[]> buffer;
        std::size_t used = 0;
        std::function<void()> action;  // instead of a buffer
    };
    void Run();
    // With the lock held and room for one more: queues the job, gives back a buffer to fill.
    std::unique_ptr<char[]> Queue(std::unique_lock<std::mutex>& lock,
                                  std::unique_ptr<char[]> buffer, std::size_t used);

    const std::size_t bufferBytes_;
    const std::size_t spareBuffers_;
    const Write write_;
    const Flush flush_;
    std::thread thread_;
    std::mutex mutex_;
    std::condition_variable handedOver_;          // to the writer: a buffer or Stop
    std::condition_variable roomMade_;            // to Submit: fewer than kBuffersInFlight wait
    std::deque<Job> pending_;                     // oldest first
    std::vector<std::unique_ptr<char[]>> spare_;  // written, to be filled again
    bool stopping_ = false;
    bool busy_ = false;  // a batch is being written
};

}  // namespace corvane::log
