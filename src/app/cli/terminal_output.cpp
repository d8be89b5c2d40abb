#include "app/cli/terminal_output.h"

#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <string>

#include "app/cli/colour_escape.h"

namespace corvane::cli {

namespace {

constexpr std::size_t kStageBytes = 64 * 1024;
constexpr std::int64_t kPollSliceMs = 50;

}  // namespace

TerminalOutput::TerminalOutput(int fd, bool colour) : out_(fd), colour_(colour) {}

void TerminalOutput::AppendRun(std::string_view text, log::Colour colour) {
    if (colour == log::ColourOf(log::LogKind::Error) && errorText_.size() < kErrorTextLimit) {
        std::string lines(text);
        std::erase(lines, '\r');
        errorText_.append(lines, 0, kErrorTextLimit - errorText_.size());
    }
    if (broken_ || text.empty()) {
        return;
    }
    runs_.push_back(Run{std::string(text), colour, 0});
    held_ += static_cast<std::int64_t>(text.size());
    // The Log Buffer logic never trims while Buffer Size is Unlimited; memory must stay
    // bounded all the same.
    while (held_ > kUnlimitedCeiling && runs_.size() > 1) {
        DeleteFirstLine();
    }
}

void TerminalOutput::DeleteFirstLine() {
    if (runs_.empty()) {
        return;
    }
    Run& run = runs_.front();
    const std::size_t lf = run.text.find('\n', run.offset);
    const std::size_t next = lf == std::string::npos ? run.text.size() : lf + 1;
    held_ -= static_cast<std::int64_t>(next - run.offset);
    run.offset = next;
    ++droppedLines_;
    if (run.offset >= run.text.size()) {
        runs_.pop_front();
    }
}

void TerminalOutput::Clear() {
    runs_.clear();
    held_ = 0;
    errorText_.clear();
}

void TerminalOutput::Drop() {
    runs_.clear();
    held_ = 0;
    staged_.clear();
    stagedOffset_ = 0;
}

void TerminalOutput::Stage(std::size_t limit) {
    if (stagedOffset_ > 0) {
        staged_.erase(0, stagedOffset_);
        stagedOffset_ = 0;
    }
    while (staged_.size() < limit && !runs_.empty()) {
        Run& run = runs_.front();
        const std::string_view escape = colour_ ? ColourEscape(run.colour) : std::string_view{};
        while (staged_.size() < limit && run.offset < run.text.size()) {
            const std::size_t lf = run.text.find('\n', run.offset);
            const std::size_t next = lf == std::string::npos ? run.text.size() : lf + 1;
            std::size_t end = lf == std::string::npos ? run.text.size() : lf;
            if (end > run.offset && run.text[end - 1] == '\r') {
                --end;
            }
            staged_.append(escape);
            staged_.append(run.text, run.offset, end - run.offset);
            if (!escape.empty()) {
                // Reset at every line end, so that a line left half-written (or a trimmed
                // run) never colours what follows.
                staged_.append(kDefaultColour);
            }
            staged_.push_back('\n');
            held_ -= static_cast<std::int64_t>(next - run.offset);
            run.offset = next;
        }
        if (run.offset >= run.text.size()) {
            runs_.pop_front();
        }
    }
}

bool TerminalOutput::WriteAvailable(std::size_t maxBytes) {
    std::size_t written = 0;
    while (!broken_ && written < maxBytes) {
        if (stagedOffset_ >= staged_.size()) {
            if (runs_.empty()) {
                break;
            }
            Stage(kStageBytes);
        }
        std::size_t n = std::min(staged_.size() - stagedOffset_, maxBytes - written);
        n = out_.SafeWriteSize(n);
        if (out_.mode() == OutputDescriptor::Mode::Polled && !WaitWritable(out_.fd(), 0)) {
            break;
        }
        const ssize_t r = ::write(out_.fd(), staged_.data() + stagedOffset_, n);
        if (r < 0) {
            if (errno == EINTR) {
                continue;
            }
            if (errno == EAGAIN || errno == EWOULDBLOCK) {
                break;
            }
            broken_ = true;  // EPIPE and the like: the reader is gone for good
            break;
        }
        stagedOffset_ += static_cast<std::size_t>(r);
        written += static_cast<std::size_t>(r);
    }
    if (broken_) {
        Drop();
    }
    return !HasUnwritten();
}

bool TerminalOutput::WriteAll(int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!WriteAvailable(SIZE_MAX)) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            return false;
        }
        WaitWritable(out_.fd(),
                     static_cast<int>(std::min<std::int64_t>(left.count(), kPollSliceMs)));
    }
    return true;
}

}  // namespace corvane::cli
