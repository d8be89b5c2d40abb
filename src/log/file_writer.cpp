#include "log/file_writer.h"

namespace corvane::log {

FileWriter::FileWriter()
    : writer_(
          kBufferBytes, kSpareBuffers,
          [this](char* data, std::size_t used) { (void)std::fwrite(data, 1, used, file_); },
          [this] { (void)std::fflush(file_); }) {}

void FileWriter::Open(std::FILE* file) {
    Close();
    file_ = file;
    writer_.Start();
}

std::unique_ptr<char[]> FileWriter::Submit(std::unique_ptr<char[]> buffer, std::size_t used) {
    if (!writer_.Running()) {
        WriteNow(buffer.get(), used);
        return buffer ? std::move(buffer) : writer_.NewBuffer();
    }
    return writer_.Submit(std::move(buffer), used);
}

bool FileWriter::TrySubmit(std::unique_ptr<char[]>& buffer, std::size_t used) {
    if (!writer_.Running()) {
        WriteNow(buffer.get(), used);
        return true;
    }
    return writer_.TrySubmit(buffer, used);
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
    writer_.Stop();
    std::fclose(file_);
    file_ = nullptr;
}

}  // namespace corvane::log
