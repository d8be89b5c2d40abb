#include "log/sink_file.h"

#include <sys/stat.h>
#include <sys/statvfs.h>

#include <algorithm>
#include <cstring>
#include <system_error>

namespace corvane::log {

namespace {

constexpr std::chrono::seconds kLongestResumeInterval{64};

// The room left to an ordinary user in the folder of a file.
std::uint64_t FreeBytes(const std::string& name) {
    const std::size_t slash = name.rfind('/');
    const std::string folder = slash == std::string::npos ? std::string(".")
                               : slash == 0               ? "/"
                                                          : name.substr(0, slash);
    struct statvfs info {};
    if (::statvfs(folder.c_str(), &info) != 0) {
        return 0;
    }
    return static_cast<std::uint64_t>(info.f_bavail) * info.f_frsize;
}

}  // namespace

SinkFile::SinkFile(Edges& edges, const Texts& texts, const FileFormat& format,
                   std::size_t bufferBytes, std::size_t spareBuffers, platform::UINT flushMs)
    : edges_(edges),
      texts_(texts),
      format_(format),
      bufferBytes_(bufferBytes),
      flushMs_(flushMs),
      writer_(format, bufferBytes, spareBuffers) {}

SinkFile::~SinkFile() {
    report_ = nullptr;  // whoever would log it is going too
    Close();
    StopTimers();
    platform::DiscardMessages(this);
}

bool SinkFile::Open(const std::string& name) {
    Close();
    rotation_.Reset();
    // A device or a pipe is written as it is, never in parts.
    struct stat info {};
    const bool special = ::stat(name.c_str(), &info) == 0 && !S_ISREG(info.st_mode);
    rotating_ = rotation_.Active() && !special;
    std::vector<std::string> none;
    const std::string first = rotating_ ? rotation_.NextPart(name, none) : name;
    if (!writer_.Open(first)) {
        return false;
    }
    userName_ = name;
    name_ = first;
    open_ = true;
    writing_ = true;
    suspended_ = false;
    resumed_ = false;
    resumeInterval_ = std::chrono::seconds(1);
    handed_ = 0;
    partStart_ = 0;
    used_ = 0;
    lost_ = 0;
    notes_.clear();
    if (!buffer_) {
        buffer_ = writer_.NewBuffer();
    }
    edges_.BeginPart();
    if (rotating_) {
        Note(LogKind::Inform, std::string(texts_.label) + " part " + name_ + " opened");
    }
    SetPartTimer(rotating_ && rotation_.Rule().periodSeconds != 0);
    UpdateAttention();
    return true;
}

void SinkFile::Close() {
    if (!open_) {
        return;
    }
    if (writing_) {
        edges_.EndPart();
        Drain();
    }
    StopTimers();
    writer_.Close();
    const bool unsaid = !suspended_ && writer_.Error() != 0;
    open_ = false;
    writing_ = false;
    suspended_ = false;
    attention_ = false;
    used_ = 0;
    // What the file had still to say (a part begun where no line could be logged) is said.
    if (unsaid) {
        Note(LogKind::Error, FailureText());
    }
    Speak();
}

void SinkFile::Put(const char* data, std::size_t size) {
    if (size == 0) {
        return;
    }
    StartFlushTimer();
    // A text larger than the room left fills buffer after buffer, so that it keeps its
    // place among the buffers on their way to the file.
    while (used_ + size > bufferBytes_) {
        const std::size_t room = bufferBytes_ - used_;
        std::memcpy(buffer_.get() + used_, data, room);
        used_ += room;
        data += room;
        size -= room;
        Drain();
    }
    std::memcpy(buffer_.get() + used_, data, size);
    used_ += size;
}

void SinkFile::Drain() {
    if (used_ > 0) {
        buffer_ = writer_.Submit(std::move(buffer_), used_);
        handed_ += used_;
        used_ = 0;
        if (writer_.Error() != 0) {
            attention_ = true;
        }
    }
}

void SinkFile::HandleMessage(platform::UINT msg, platform::WPARAM wParam, platform::LPARAM) {
    if (msg != platform::WM_TIMER || !open_) {
        return;
    }
    if (wParam == kFlushTimerId) {
        // Nothing came since the last tick: the next write starts the timer again. Otherwise
        // the buffer goes over unless kBuffersInFlight already wait (the event thread never
        // waits for the disk on its account).
        if (used_ == 0) {
            platform::KillTimer(this, kFlushTimerId);
            flushTimer_ = false;
        } else if (writer_.TrySubmit(buffer_, used_)) {
            handed_ += used_;
            used_ = 0;
        }
        if (writer_.Error() != 0) {
            attention_ = true;
        }
    }
    if (attention_) {
        Attend();
    }
}

void SinkFile::StartFlushTimerNow() {
    flushTimer_ = platform::SetTimer(this, kFlushTimerId, flushMs_) != 0;
}

void SinkFile::SetPartTimer(bool on) {
    if (on && !partTimer_) {
        partTimer_ = platform::SetTimer(this, kPartTimerId, kPartTimerMs) != 0;
    } else if (!on && partTimer_) {
        platform::KillTimer(this, kPartTimerId);
        partTimer_ = false;
    }
}

void SinkFile::StopTimers() {
    if (flushTimer_) {
        platform::KillTimer(this, kFlushTimerId);
        flushTimer_ = false;
    }
    SetPartTimer(false);
}

void SinkFile::UpdateAttention() {
    attention_ = open_ && (rotating_ || suspended_ || !notes_.empty() || writer_.Error() != 0);
}

void SinkFile::Attend(bool speak) {
    if (attending_ || !open_) {
        return;
    }
    attending_ = true;
    if (suspended_) {
        TryResume();
    } else if (writer_.Error() != 0) {
        Suspend();
    } else if (rotating_ && rotation_.Due(PartBytes())) {
        NewPart(true, std::string());
    }
    if (speak) {
        Speak();
    }
    attending_ = false;
    UpdateAttention();
}

void SinkFile::Speak() {
    while (!notes_.empty()) {
        const NoteLine note = std::move(notes_.front());
        notes_.pop_front();
        if (report_) {
            report_(note.kind, note.text);
        }
    }
}

void SinkFile::NewPart(bool endCurrent, const std::string& suffix) {
    if (endCurrent) {
        edges_.EndPart();
        Drain();
    }
    std::vector<std::string> expired;
    name_ = rotation_.NextPart(userName_, expired);
    writer_.SwitchTo(name_, std::move(expired), !endCurrent);
    partStart_ = handed_ + used_;
    edges_.BeginPart();
    Note(LogKind::Inform, std::string(texts_.label) + " part " + name_ + " opened" + suffix);
}

void SinkFile::Suspend() {
    suspended_ = true;
    writing_ = false;
    lost_ += format_.countUnits(buffer_.get(), used_);
    used_ = 0;
    // A part that failed before it took anything (a quota, say, which the free room does not
    // show) makes the next try wait twice as long.
    resumeInterval_ = resumed_ && !writer_.WroteSinceResume()
                          ? std::min(resumeInterval_ * 2, kLongestResumeInterval)
                          : std::chrono::seconds(1);
    resumeAt_ = std::chrono::steady_clock::now() + resumeInterval_;
    Note(LogKind::Error, FailureText());
    SetPartTimer(true);
}

void SinkFile::TryResume() {
    const auto now = std::chrono::steady_clock::now();
    if (!writer_.Regular() || now < resumeAt_) {
        return;
    }
    resumeAt_ = now + std::chrono::seconds(1);
    if (!writer_.Idle() || FreeBytes(name_) < bufferBytes_) {
        return;
    }
    const std::uint64_t lost = lost_ + writer_.TakeLostUnits();
    lost_ = 0;
    suspended_ = false;
    writing_ = true;
    resumed_ = true;
    std::string suffix = "; " + std::to_string(lost) + " " + texts_.unit;
    suffix += lost == 1 ? " lost" : "s lost";
    NewPart(false, suffix);
    SetPartTimer(rotating_ && rotation_.Rule().periodSeconds != 0);
}

bool SinkFile::ReopenIfMoved() {
    if (!open_ || suspended_ || !writer_.Regular() || writer_.Error() != 0 || !writer_.Moved()) {
        return false;
    }
    if (rotating_) {
        NewPart(true, std::string());
    } else {
        edges_.EndPart();
        Drain();
        writer_.SwitchTo(name_, {}, false);
        partStart_ = handed_;
        edges_.BeginPart();
        Note(LogKind::Inform, std::string(texts_.label) + " " + name_ + " reopened");
    }
    UpdateAttention();
    Attend();
    return true;
}

std::string SinkFile::FailureText() {
    return std::string(texts_.failure) + " " + writer_.FailedName() + ": " +
           std::error_code(writer_.Error(), std::generic_category()).message();
}

}  // namespace corvane::log
