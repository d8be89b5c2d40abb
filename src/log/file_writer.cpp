#include "log/file_writer.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace corvane::log {

std::uint64_t CountLines(const char* data, std::size_t size) {
    std::uint64_t lines = 0;
    for (const char* end = data + size;
         (data = static_cast<const char*>(std::memchr(data, '\n', end - data))) != nullptr;
         ++data) {
        ++lines;
    }
    return lines;
}

std::size_t LastLineEnd(const char* data, std::size_t size) {
    const void* last = size == 0 ? nullptr : ::memrchr(data, '\n', size);
    return last == nullptr ? 0
                           : static_cast<std::size_t>(static_cast<const char*>(last) - data) + 1;
}

FileWriter::FileWriter(const FileFormat& format, std::size_t bufferBytes, std::size_t spareBuffers)
    : format_(format),
      // The streams are unbuffered: each filled buffer is one write.
      writer_(
          bufferBytes, spareBuffers, [this](char* data, std::size_t used) { Write(data, used); },
          [] {}) {}

bool FileWriter::Open(const std::string& name) {
    Close();
    resumes_ = 0;
    resumed_ = 0;
    error_ = 0;
    lost_ = 0;
    wrote_ = false;
    OpenFile(name);
    if (file_ == nullptr) {
        error_ = 0;
        return false;
    }
    // A file that takes no bytes even for its beginning is open all the same, and fails as
    // any write does.
    struct stat info {};
    regular_ = ::fstat(::fileno(file_), &info) == 0 && S_ISREG(info.st_mode);
    open_ = true;
    writer_.Start();
    return true;
}

std::unique_ptr<char[]> FileWriter::Submit(std::unique_ptr<char[]> buffer, std::size_t used) {
    if (!writer_.Running()) {
        Write(buffer.get(), used);
        return buffer ? std::move(buffer) : writer_.NewBuffer();
    }
    return writer_.Submit(std::move(buffer), used);
}

bool FileWriter::TrySubmit(std::unique_ptr<char[]>& buffer, std::size_t used) {
    if (!writer_.Running()) {
        Write(buffer.get(), used);
        return true;
    }
    return writer_.TrySubmit(buffer, used);
}

void FileWriter::SwitchTo(std::string name, std::vector<std::string> expired, bool resume) {
    const std::uint64_t resumes = resume ? ++resumes_ : 0;
    const std::uint64_t switches = ++switches_;
    writer_.Do([this, name = std::move(name), expired = std::move(expired), resumes, switches] {
        CloseFile();
        if (resumes != 0) {
            wrote_ = false;
            error_.store(0, std::memory_order_release);
            resumed_.store(resumes, std::memory_order_release);
        }
        if (error_ == 0) {
            OpenFile(name);
        }
        for (const std::string& old : expired) {
            (void)::unlink(old.c_str());
        }
        switched_.store(switches, std::memory_order_release);
    });
}

std::string FileWriter::FailedName() {
    std::lock_guard<std::mutex> lock(mutex_);
    return failedName_;
}

bool FileWriter::Moved() {
    // A switch still waiting for the writer has not made its file yet: nothing is moved.
    if (switched_.load(std::memory_order_acquire) != switches_) {
        return false;
    }
    std::string name;
    dev_t device = 0;
    ino_t inode = 0;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (name_.empty()) {
            return false;
        }
        name = name_;
        device = device_;
        inode = inode_;
    }
    struct stat info {};
    return ::stat(name.c_str(), &info) != 0 || info.st_dev != device || info.st_ino != inode;
}

void FileWriter::Close() {
    if (!open_) {
        return;
    }
    writer_.Stop();
    CloseFile();
    open_ = false;
}

void FileWriter::Write(char* data, std::size_t used) {
    if (used == 0) {
        return;
    }
    if (file_ == nullptr || error_.load(std::memory_order_relaxed) != 0) {
        lost_ += format_.countUnits(data, used);
        return;
    }
    if (format_.prepare != nullptr) {
        format_.prepare(data, used);
    }
    errno = 0;
    const std::size_t written = std::fwrite(data, 1, used, file_);
    const std::size_t end = format_.lastUnitEnd(data, written);
    if (end != 0) {
        wholeEnd_ = offset_ + end;
    }
    offset_ += written;
    if (written == used) {
        wrote_.store(true, std::memory_order_relaxed);
        return;
    }
    const int error = errno != 0 ? errno : EIO;
    lost_ += format_.countUnits(data, used) - format_.countUnits(data, written);
    // The file ends with its last whole line or packet, so that it reads without a fault.
    (void)::ftruncate(::fileno(file_), static_cast<off_t>(wholeEnd_));
    std::string name;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        name = name_;
    }
    Fail(error, name);
}

void FileWriter::OpenFile(const std::string& name) {
    std::FILE* file = std::fopen(name.c_str(), "wb");
    if (file == nullptr) {
        Fail(errno != 0 ? errno : EIO, name);
        return;
    }
    // Our own buffers are the only ones: the stream passes each of them straight on.
    std::setvbuf(file, nullptr, _IONBF, 0);
    file_ = file;
    errno = 0;
    if (format_.begin != nullptr && !format_.begin(file)) {
        Fail(errno != 0 ? errno : EIO, name);
    }
    const long at = std::ftell(file);
    offset_ = at > 0 ? static_cast<std::uint64_t>(at) : 0;
    wholeEnd_ = offset_;
    struct stat info {};
    const bool known = ::fstat(::fileno(file), &info) == 0;
    std::lock_guard<std::mutex> lock(mutex_);
    name_ = name;
    device_ = known ? info.st_dev : 0;
    inode_ = known ? info.st_ino : 0;
}

void FileWriter::CloseFile() {
    if (file_ != nullptr) {
        std::fclose(file_);  // closing errors are of no use any more
        file_ = nullptr;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    name_.clear();
}

void FileWriter::Fail(int error, const std::string& name) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        failedName_ = name;
    }
    error_.store(error, std::memory_order_release);
}

}  // namespace corvane::log
