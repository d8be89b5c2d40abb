#include "log/buffer_writer.h"

#include <system_error>

namespace corvane::log {

BufferWriter::BufferWriter(std::size_t bufferBytes, std::size_t spareBuffers, Write write,
                           Flush flush)
    : bufferBytes_(bufferBytes),
      spareBuffers_(spareBuffers),
      write_(std::move(write)),
      flush_(std::move(flush)) {}

void BufferWriter::Start() {
    Stop();
    stopping_ = false;
    try {
        thread_ = std::thread([this] { Run(); });
    } catch (const std::system_error&) {
        // No thread to be had: the owner writes the buffers as they are handed over.
    }
}

std::unique_ptr<char[]> BufferWriter::NewBuffer() const {
    return std::unique_ptr<char[]>(new char[bufferBytes_]);
}

std::unique_ptr<char[]> BufferWriter::Submit(std::unique_ptr<char[]> buffer, std::size_t used) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (used > 0) {
        roomMade_.wait(lock, [this] { return pending_.size() < kBuffersInFlight; });
    } else if (buffer) {
        return buffer;
    }
    return Queue(lock, std::move(buffer), used);
}

bool BufferWriter::TrySubmit(std::unique_ptr<char[]>& buffer, std::size_t used) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (pending_.size() >= kBuffersInFlight) {
        return false;
    }
    buffer = Queue(lock, std::move(buffer), used);
    return true;
}

std::unique_ptr<char[]> BufferWriter::Queue(std::unique_lock<std::mutex>& lock,
                                            std::unique_ptr<char[]> buffer, std::size_t used) {
    if (used > 0) {
        pending_.push_back({std::move(buffer), used, {}});
        // A writer that has buffers to write looks for more before it sleeps: only an idle
        // one is woken, which keeps the wake-ups (each a system call on both threads) to
        // one per burst rather than one per buffer.
        if (pending_.size() == 1) {
            handedOver_.notify_one();
        }
    }
    if (!spare_.empty()) {
        std::unique_ptr<char[]> next = std::move(spare_.back());
        spare_.pop_back();
        return next;
    }
    lock.unlock();
    return NewBuffer();
}

void BufferWriter::Do(std::function<void()> action) {
    if (!Running()) {
        action();
        return;
    }
    std::unique_lock<std::mutex> lock(mutex_);
    roomMade_.wait(lock, [this] { return pending_.size() < kBuffersInFlight; });
    pending_.push_back({nullptr, 0, std::move(action)});
    if (pending_.size() == 1) {
        handedOver_.notify_one();
    }
}

bool BufferWriter::Idle() {
    std::lock_guard<std::mutex> lock(mutex_);
    return pending_.empty() && !busy_;
}

void BufferWriter::Stop() {
    if (!thread_.joinable()) {
        return;
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
        handedOver_.notify_one();
    }
    thread_.join();
}

void BufferWriter::Run() {
    std::unique_lock<std::mutex> lock(mutex_);
    std::deque<Job> batch;
    for (;;) {
        handedOver_.wait(lock, [this] { return !pending_.empty() || stopping_; });
        if (pending_.empty()) {
            return;  // stopping, and everything handed over is written
        }
        // Everything waiting is taken at once, in order, and written without the lock.
        batch.swap(pending_);
        busy_ = true;
        roomMade_.notify_one();
        lock.unlock();
        for (Job& job : batch) {
            if (job.action) {
                job.action();
            } else {
                write_(job.buffer.get(), job.used);
            }
        }
        flush_();
        lock.lock();
        for (Job& job : batch) {
            if (job.buffer && spare_.size() < spareBuffers_) {
                spare_.push_back(std::move(job.buffer));
            }
        }
        batch.clear();
        busy_ = false;
    }
}

}  // namespace corvane::log
