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
        if (used > 0) {
            (void)std::fwrite(buffer.get(), 1, used, file_);
        }
        return buffer ? std::move(buffer) : std::make_unique<char[]>(kBufferBytes);
    }
    std::unique_lock<std::mutex> lock(mutex_);
    if (used > 0) {
        changed_.wait(lock, [this] { return pending_.size() < kBuffersInFlight; });
        pending_.push_back({std::move(buffer), used});
        changed_.notify_all();
    } else if (buffer) {
        return buffer;
    }
    if (!spare_.empty()) {
        std::unique_ptr<char[]> next = std::move(spare_.back());
        spare_.pop_back();
        return next;
    }
    lock.unlock();
    return std::make_unique<char[]>(kBufferBytes);
}

void FileWriter::Close() {
    if (file_ == nullptr) {
        return;
    }
    if (thread_.joinable()) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stopping_ = true;
            changed_.notify_all();
        }
        thread_.join();
    }
    std::fclose(file_);
    file_ = nullptr;
}

void FileWriter::Run() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        changed_.wait(lock, [this] { return !pending_.empty() || stopping_; });
        if (pending_.empty()) {
            return;  // stopping, and everything handed over is written
        }
        Job job = std::move(pending_.front());
        pending_.pop_front();
        changed_.notify_all();  // room for one more hand-over
        lock.unlock();
        (void)std::fwrite(job.buffer.get(), 1, job.used, file_);
        lock.lock();
        if (spare_.size() < 2) {
            spare_.push_back(std::move(job.buffer));
        }
    }
}

}  // namespace corvane::log
