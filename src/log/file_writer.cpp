#include "log/file_writer.h"

#include <system_error>

namespace corvane::log {

void FileWriter::Open(std::FILE* file) {
    Close();
    file_ = file;
    stopping_ = false;
    try {
        thread_ = std::thread([this] { Run(); });
    } catch (const std::system_error&) {
        // No thread to be had: the buffers are written as they are handed over.
    }
}

std::unique_ptr<char[]> FileWriter::Submit(std::unique_ptr<char[]> buffer, std::size_t used) {
    if (!thread_.joinable()) {
        WriteNow(buffer.get(), used);
        return buffer ? std::move(buffer) : std::make_unique<char[]>(kBufferBytes);
    }
    std::unique_lock<std::mutex> lock(mutex_);
    if (used > 0) {
        roomMade_.wait(lock, [this] { return pending_.size() < kBuffersInFlight; });
    } else if (buffer) {
        return buffer;
    }
    return Queue(lock, std::move(buffer), used);
}

bool FileWriter::TrySubmit(std::unique_ptr<char[]>& buffer, std::size_t used) {
    if (!thread_.joinable()) {
        WriteNow(buffer.get(), used);
        return true;
    }
    std::unique_lock<std::mutex> lock(mutex_);
    if (pending_.size() >= kBuffersInFlight) {
        return false;
    }
    buffer = Queue(lock, std::move(buffer), used);
    return true;
}

std::unique_ptr<char[]> FileWriter::Queue(std::unique_lock<std::mutex>& lock,
                                          std::unique_ptr<char[]> buffer, std::size_t used) {
    if (used > 0) {
        pending_.push_back({std::move(buffer), used});
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
    return std::make_unique<char[]>(kBufferBytes);
}

void FileWriter::WriteNow(const char* data, std::size_t used) {
    if (used > 0) {
        (void)std::fwrite(data, 1, used, file_);
        (void)std::fflush(file_);
    }
}

void FileWriter::Close() {
    if (file_ == nullptr) {
        return;
    }
    if (thread_.joinable()) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stopping_ = true;
            handedOver_.notify_one();
        }
        thread_.join();
    }
    std::fclose(file_);
    file_ = nullptr;
}

void FileWriter::Run() {
    std::unique_lock<std::mutex> lock(mutex_);
    std::deque<Job> batch;
    for (;;) {
        handedOver_.wait(lock, [this] { return !pending_.empty() || stopping_; });
        if (pending_.empty()) {
            return;  // stopping, and everything handed over is written
        }
        // Everything waiting is taken at once, in order, and written without the lock.
        batch.swap(pending_);
        roomMade_.notify_one();
        lock.unlock();
        for (const Job& job : batch) {
            (void)std::fwrite(job.buffer.get(), 1, job.used, file_);
        }
        (void)std::fflush(file_);
        lock.lock();
        for (Job& job : batch) {
            if (spare_.size() < kSpareBuffers) {
                spare_.push_back(std::move(job.buffer));
            }
        }
        batch.clear();
    }
}

}  // namespace corvane::log
