// The Log Buffer logic: moving runs of PendingLog into the view, the size cap, the timer
// and the Size and Detail menu commands.
#include <cstring>

#include "log/count_text.h"
#include "log/traffic_log.h"
#include "platform/memory.h"

namespace corvane::log {

namespace {

// A joined run's text, grown through the one allocation point.
class RunText {
public:
    RunText() = default;
    ~RunText() { platform::Release(data_); }
    RunText(const RunText&) = delete;
    RunText& operator=(const RunText&) = delete;

    bool Reserve(std::size_t capacity) {
        if (capacity <= capacity_) {
            return true;
        }
        void* grown = platform::Reallocate(data_, capacity);
        if (grown == nullptr) {
            return false;
        }
        data_ = static_cast<char*>(grown);
        capacity_ = capacity;
        return true;
    }
    bool Append(std::string_view text) {
        if (!Reserve(size_ + text.size())) {
            return false;
        }
        std::memcpy(data_ + size_, text.data(), text.size());
        size_ += text.size();
        return true;
    }
    std::string_view View() const { return {data_, size_}; }
    std::size_t Size() const { return size_; }

private:
    char* data_ = nullptr;
    std::size_t size_ = 0;
    std::size_t capacity_ = 0;
};

}  // namespace

bool TrafficLog::FlushLogRun() {
    if (paused_ || pending_.Empty()) {
        return false;
    }
    if (droppedLines_ > 0) {
        ShowDroppedMark();
        return true;
    }
    const LogEntry* head = pending_.head;
    const Colour colour = head->colour;
    // The head and the entries of its colour behind it are joined: one allocation for all of
    // them in the usual case; when that fails, grown entry by entry as far as memory allows.
    RunText run;
    runParts_.clear();
    if (head->next != nullptr && head->next->colour == colour) {
        std::size_t total = 0;
        for (const LogEntry* e = head; e != nullptr && e->colour == colour; e = e->next) {
            total += static_cast<std::size_t>(e->length);
        }
        (void)run.Reserve(total);
        while (pending_.head != nullptr && pending_.head->colour == colour &&
               run.Append(pending_.head->View())) {
            AddRunPart(pending_.head->length, pending_.head->serial);
            FreeEntry(PopHead());
        }
    }
    if (run.Size() > 0) {
        ShowRun(run.View(), colour);
    } else {
        // A run of one entry, or not even the head could be copied: the head alone.
        LogEntry* entry = PopHead();
        AddRunPart(entry->length, entry->serial);
        ShowRun(entry->View(), colour);
        FreeEntry(entry);
    }
    return true;
}

void TrafficLog::AddRunPart(std::int64_t length, ConnectionSerial serial) {
    if (!runParts_.empty() && runParts_.back().serial == serial) {
        runParts_.back().length += length;
    } else {
        runParts_.push_back({length, serial});
    }
}

void TrafficLog::ShowRun(std::string_view text, Colour colour) {
    MakeRoom(static_cast<std::int64_t>(text.size()));
    if (view_ != nullptr) {
        view_->AppendConnectionRun(text, colour, runParts_);
    }
    ScrollLogToEnd();
}

void TrafficLog::ShowDroppedMark() {
    // "(12,345 lines not shown: the view fell behind; the Log File has every line)"
    constexpr std::string_view kLines = " lines not shown: the view fell behind";
    constexpr std::string_view kInFile = "; the Log File has every line";
    const CountText count = FormatCount(droppedLines_);
    char mark[sizeof count.text + kLines.size() + kInFile.size() + 4];
    std::size_t length = 0;
    auto append = [&](std::string_view text) {
        std::memcpy(mark + length, text.data(), text.size());
        length += text.size();
    };
    append("(");
    append(count.View());
    // " line" for one, " lines" otherwise
    append(droppedLines_ == 1 ? kLines.substr(0, 5) : kLines.substr(0, 6));
    append(kLines.substr(6));
    if (droppedInFile_) {
        append(kInFile);
    }
    append(")\r\n");
    droppedLines_ = 0;
    runParts_.clear();  // about no Connection
    AddRunPart(static_cast<std::int64_t>(length), kNoConnection);
    ShowRun({mark, length}, ColourOf(LogKind::Error));
}

std::int64_t TrafficLog::MakeRoom(std::int64_t length) {
    if (view_ == nullptr) {
        return 0;
    }
    const std::int64_t held = view_->TextLength();
    if (BufferSize < 0 || held + length <= BufferSize) {
        return held;
    }
    // While the length is above 0 and length plus needed is above BufferSize: the first line
    // goes.
    return view_->DeleteFirstLinesDownTo(BufferSize - length);
}

bool TrafficLog::MoveSlice(std::chrono::steady_clock::time_point start) {
    // The budget is looked at between runs, so a slice is about kLogSliceBudget of work plus
    // one run; each run is still one insertion in one colour.
    bool moved = false;
    auto now = start;
    while (FlushLogRun()) {
        moved = true;
        if (!HasPending()) {
            break;
        }
        now = TickClock();
        if (now - start >= kLogSliceBudget) {
            break;
        }
    }
    if (moved && HasPending() && now - tickStart_ < kLogTickWork) {
        StartSliceTimer();
    } else {
        StopSliceTimer();
    }
    return moved;
}

void TrafficLog::OnLogTimer() {
    tickStart_ = TickClock();
    if (MoveSlice(tickStart_) && HasPending()) {
        return;
    }
    StopLogTimer();
}

void TrafficLog::OnLogSlice() {
    const auto start = TickClock();
    if (start - tickStart_ >= kLogTickWork) {
        StopSliceTimer();  // the rest of the tick is the relay's
        return;
    }
    MoveSlice(start);
}

void TrafficLog::StartLogTimer() {
    timerHandle_ = platform::SetTimer(this, kLogTimerId, kLogTimerMs);
}

void TrafficLog::StopLogTimer() {
    StopSliceTimer();
    if (timerHandle_ != 0) {
        platform::KillTimer(this, kLogTimerId);
    }
    timerHandle_ = 0;
}

void TrafficLog::StartSliceTimer() {
    if (!sliceTimerRunning_) {
        sliceTimerRunning_ = platform::SetTimer(this, kLogSliceTimerId, 0) != 0;
    }
}

void TrafficLog::StopSliceTimer() {
    if (sliceTimerRunning_) {
        platform::KillTimer(this, kLogSliceTimerId);
        sliceTimerRunning_ = false;
    }
}

void TrafficLog::CatchUpView() {
    // Resume shows at once what a tick would: after a long pause the queue can hold 2 MB,
    // and one run followed by a 200 ms wait would leave the view visibly behind; the slice
    // budget keeps the command's own cost to about 20 ms, and slices go on from the loop.
    tickStart_ = TickClock();
    if (MoveSlice(tickStart_) && HasPending() && !LogTimerRunning()) {
        StartLogTimer();
    }
}

void TrafficLog::ScrollLogToEnd() {
    if (activated_ && view_ != nullptr) {
        view_->ScrollCaretIntoView();
    }
}

void TrafficLog::ShowDetailChecks() {
    if (menu_ == nullptr) {
        return;
    }
    menu_->CheckDetail(Detail == kDetailLow || Detail == kDetailMedium ? Detail : kDetailHigh);
}

void TrafficLog::ShowBufferSizeChecks() {
    if (BufferSize < 0) {
        BufferSize = kUnlimited;
    } else if (BufferSize <= kBufferSize32KB) {
        BufferSize = kBufferSize32KB;
    } else if (BufferSize <= kBufferSize128KB) {
        BufferSize = kBufferSize128KB;
    } else if (BufferSize <= kBufferSize512KB) {
        BufferSize = kBufferSize512KB;
    } else {
        BufferSize = kBufferSize2MB;
    }
    if (menu_ != nullptr) {
        menu_->CheckBufferSize(BufferSize);
    }
}

void TrafficLog::SetShowData(std::uint32_t tag) {
    Detail = tag;
    ShowDetailChecks();
}

void TrafficLog::SetBufferSize(std::int32_t tag) {
    const std::int32_t old = BufferSize;
    BufferSize = tag;
    if (tag >= 0 && (old == kUnlimited || old > tag)) {
        MakeRoom(0);
    }
    BoundPendingLog();
    ShowBufferSizeChecks();
}

void TrafficLog::ClearLogBuffer() {
    if (view_ != nullptr) {
        view_->Clear();
    }
    DiscardPendingLog();
}

}  // namespace corvane::log
