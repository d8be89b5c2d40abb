// A file sink's file as the event thread keeps it (the Log File's, the Capture File's): the
// buffer the sink fills, handed to the writer thread (log/file_writer.h) when it is full and
// at the flush timer's ticks; the parts the file is written in when it rotates
// (log/rotation.h); and the course of a write that fails.
//
// A failed write (a full disk, a quota) is said once, as an Error line naming the file with
// the system's text; relaying goes on, and what would have been written is counted in units
// (lines, packets). At most once a second, once the writer is idle and the disk has room
// for a buffer again, writing resumes in a new part, whose first line (an Inform line) says
// how many units were lost. A file that is not a regular file (a device, a pipe) is never
// split into parts: it neither rotates nor resumes.
//
// What the file has to say (a part opened, a failed write, units lost) is said through the
// report only where a log line may begin: in Attend, which the traffic log calls before each
// line that is not a block's data, at the file's own timer ticks, and at the close.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>

#include "log/file_writer.h"
#include "log/log_kind.h"
#include "log/rotation.h"
#include "platform/messages.h"

namespace corvane::log {

class SinkFile final : public platform::MessageTarget {
public:
    // The sink's own bytes at the edges of a part, put through Put or Room.
    class Edges {
    public:
        virtual void EndPart() = 0;    // the last bytes of a part (the HTML closing lines)
        virtual void BeginPart() = 0;  // the first bytes of a part (the HTML header, ...)

    protected:
        ~Edges() = default;
    };
    struct Texts {
        const char* label;    // "Log File": "Log File part NAME opened"
        const char* failure;  // "Could not write log file": "... NAME: <system's text>"
        const char* unit;     // "line": "; 12 lines lost"
    };
    using Report = std::function<void(LogKind kind, const std::string& text)>;

    static constexpr std::uintptr_t kFlushTimerId = 1;  // while bytes wait in the buffer
    static constexpr std::uintptr_t kPartTimerId = 2;   // while rotating by period or failed
    static constexpr platform::UINT kPartTimerMs = 1000;

    SinkFile(Edges& edges, const Texts& texts, const FileFormat& format, std::size_t bufferBytes,
             std::size_t spareBuffers, platform::UINT flushMs);
    ~SinkFile() override;
    SinkFile(const SinkFile&) = delete;
    SinkFile& operator=(const SinkFile&) = delete;

    // The rotation of the files opened from now on (off by default), and its clock.
    void SetRotation(const RotationRule& rule, std::uint32_t partsKept) {
        rotation_.SetRule(rule, partsKept);
    }
    void SetClock(Rotation::Clock clock) { rotation_.SetClock(clock); }
    void SetReport(Report report) { report_ = std::move(report); }

    // Creates the file, or its first part when rotating, and begins it (Edges::BeginPart);
    // an open file is closed first. False when it cannot be created (nothing is open then).
    bool Open(const std::string& name);
    // Ends the part (Edges::EndPart), writes everything, closes. What the file has still to
    // say (a failed write, a part begun) is said now. Nothing when no file is open.
    void Close();
    bool IsOpen() const { return open_; }
    // Open, and not held by a failed write: bytes are to be put.
    bool Writing() const { return writing_; }
    // The file being written: the name given, or the current part's.
    const std::string& CurrentName() const { return name_; }

    // At least size bytes (at most a buffer) of room at the returned place; Commit says how
    // many were put there.
    char* Room(std::size_t size) {
        StartFlushTimer();
        if (used_ + size > bufferBytes_) {
            Drain();
        }
        return buffer_.get() + used_;
    }
    void Commit(std::size_t size) { used_ += size; }
    // Any number of bytes, filling buffer after buffer.
    void Put(const char* data, std::size_t size);
    // Units that were not put while a failed write holds the file.
    void Lost(std::uint64_t units) { lost_ += units; }

    // True when Attend has something to do: a rotating file, a failure, something to say.
    bool NeedsAttention() const { return attention_; }
    // Where a log line may begin: a new part when one is due, a failed write's course, and
    // what the file has to say. Without speak, what it has to say waits for the next Attend
    // that speaks (a sink's own hooks, where no log line may begin).
    void Attend(bool speak = true);
    // When another tool has removed or renamed the file being written (log rotation), its
    // name is created again, or the next part begun when rotating; true when it was.
    bool ReopenIfMoved();

    bool FlushTimerRunning() const { return flushTimer_; }
    // WM_TIMER of the two timers.
    void HandleMessage(platform::UINT msg, platform::WPARAM wParam,
                       platform::LPARAM lParam) override;

private:
    void StartFlushTimer() {
        if (!flushTimer_) {
            StartFlushTimerNow();
        }
    }
    void StartFlushTimerNow();
    void StopTimers();
    void SetPartTimer(bool on);
    void Drain();
    void UpdateAttention();
    std::uint64_t PartBytes() const { return handed_ + used_ - partStart_; }
    // Begins the next part (ending the current one first when endCurrent) and notes it with
    // suffix after "... opened".
    void NewPart(bool endCurrent, const std::string& suffix);
    void Suspend();
    void TryResume();
    std::string FailureText();
    void Note(LogKind kind, std::string text) { notes_.push_back({kind, std::move(text)}); }
    void Speak();

    Edges& edges_;
    const Texts texts_;
    const FileFormat format_;
    const std::size_t bufferBytes_;
    const platform::UINT flushMs_;
    Report report_;
    Rotation rotation_;
    FileWriter writer_;
    std::unique_ptr<char[]> buffer_;
    std::size_t used_ = 0;
    std::uint64_t handed_ = 0;     // bytes handed to the writer since the file was opened
    std::uint64_t partStart_ = 0;  // handed_ when the current part began
    std::string userName_;         // the name given
    std::string name_;             // the current file's
    struct NoteLine {
        LogKind kind;
        std::string text;
    };
    std::deque<NoteLine> notes_;
    std::uint64_t lost_ = 0;  // units not put while suspended
    std::chrono::steady_clock::time_point resumeAt_{};
    std::chrono::seconds resumeInterval_{1};
    bool open_ = false;
    bool writing_ = false;
    bool suspended_ = false;
    bool rotating_ = false;
    bool resumed_ = false;
    bool attention_ = false;
    bool attending_ = false;
    bool flushTimer_ = false;
    bool partTimer_ = false;
};

}  // namespace corvane::log
