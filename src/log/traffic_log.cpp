#include "log/traffic_log.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <string>

#include "platform/memory.h"

namespace corvane::log {

TrafficLog::TrafficLog() {
    capture_.SetErrorReport([this](const char* text) { LogError(text); });
    streams_.SetErrorReport([this](const char* text) { LogError(text); });
}

TrafficLog::~TrafficLog() {
    StopLogTimer();
    platform::DiscardMessages(this);
    DiscardPendingLog();
}

void TrafficLog::HandleMessage(platform::UINT msg, platform::WPARAM wParam, platform::LPARAM) {
    if (msg != platform::WM_TIMER) {
        return;
    }
    if (wParam == kLogSliceTimerId) {
        OnLogSlice();
    } else {
        OnLogTimer();
    }
}

LogEntry* TrafficLog::NewEntry(std::string_view text, Colour colour) {
    LogEntry* entry = MakeLineEntry(text, colour);
    while (entry == nullptr && FlushLogRun()) {
        entry = MakeLineEntry(text, colour);
    }
    return entry;
}

bool TrafficLog::AppendLogLine(const char* text, LogKind kind, int length, std::uint32_t minimum,
                               ConnectionSerial serial) {
    const std::size_t size = length < 0 ? std::strlen(text) : static_cast<std::size_t>(length);
    const std::string_view line(text, size);
    if (TimeStamps && kind != LogKind::Data) {
        return AppendStamped(line, kind, minimum, serial);
    }
    return AppendLine(line, kind, minimum, serial);
}

bool TrafficLog::AppendLine(std::string_view line, LogKind kind, std::uint32_t minimum,
                            ConnectionSerial serial) {
    if (file_.IsOpen()) {
        file_.WriteLogText(line, kind);
        file_.WriteLogText("\r\n", kind);
    }
    if (minimum > Detail) {
        return true;
    }
    LogEntry* entry = NewEntry(line, ColourOf(kind));
    if (entry == nullptr) {
        return false;
    }
    entry->serial = serial;
    Enqueue(entry);
    return true;
}

void TrafficLog::LogMessage(const char* text) {
    AppendLogLine(text, LogKind::Message, -1, 0);
}
void TrafficLog::LogInform(const char* text) {
    AppendLogLine(text, LogKind::Inform, -1, 0);
}
void TrafficLog::LogError(const char* text) {
    AppendLogLine(text, LogKind::Error, -1, 0);
}

void TrafficLog::LogConnectionMessage(ConnectionTag connection, const char* text) {
    LogNumbered(connection, text, LogKind::Message);
}

void TrafficLog::LogConnectionInform(ConnectionTag connection, const char* text) {
    LogNumbered(connection, text, LogKind::Inform);
}

void TrafficLog::LogConnectionLine(ConnectionTag connection, std::string_view text, LogKind kind) {
    std::string line = std::to_string(connection.number);
    line += ": ";
    line += text;
    AppendLogLine(line.c_str(), kind, static_cast<int>(line.size()), 0, connection.serial);
}

void TrafficLog::LogNumbered(ConnectionTag connection, const char* text, LogKind kind) {
    // "%d: %s" in an 80-character buffer; a longer text is cut, never overrun.
    char line[kConnectionLineBuffer];
    constexpr int kRoom = kConnectionLineBuffer - 1;
    char* end = std::to_chars(line, line + kRoom, connection.number).ptr;
    auto length = static_cast<std::size_t>(end - line);
    const char* separator = ": ";
    for (int i = 0; i < 2 && length < kRoom; ++i) {
        line[length++] = separator[i];
    }
    const std::size_t textLength = strnlen(text, kRoom - length);
    std::memcpy(line + length, text, textLength);
    length += textLength;
    line[length] = '\0';
    AppendLogLine(line, kind, static_cast<int>(length), 0, connection.serial);
}

void TrafficLog::DiscardPendingLog() {
    FreeChain(pending_);
    pendingCharacters_ = 0;
    droppedLines_ = 0;
}

void TrafficLog::Enqueue(LogEntry* entry) {
    AppendEntry(pending_, entry);
    pendingCharacters_ += entry->length;
    BoundPendingLog();
    if (!paused_ && !LogTimerRunning()) {
        StartLogTimer();
    }
}

void TrafficLog::EnqueueChain(LogChain& chain, ConnectionSerial serial) {
    if (chain.Empty()) {
        return;
    }
    for (LogEntry* entry = chain.head; entry != nullptr; entry = entry->next) {
        pendingCharacters_ += entry->length;
        entry->serial = serial;
    }
    AppendChain(pending_, chain);
    BoundPendingLog();
    if (!paused_ && !LogTimerRunning()) {
        StartLogTimer();
    }
}

void TrafficLog::BoundPendingLog() {
    if (!BoundPending) {
        return;
    }
    // Once the queue has drained, the view at a cap shows the last run whole when it is longer
    // than the cap, else the last lines whose total fits in it. An entry followed by more
    // than kPendingBound - 2 queued characters can show none of its lines (its last line
    // alone is at least CR LF) under any cap, the largest being kPendingBound; dropping it
    // leaves that view as it would have been, unless the last run alone is longer than the
    // bound. At Unlimited the oldest entries go beyond kPendingBoundUnlimited. The Log File
    // has every line already; the view gets a mark where they were (FlushLogRun).
    const std::int64_t bound = BufferSize < 0 ? kPendingBoundUnlimited : kPendingBound;
    while (pending_.head != nullptr && pendingCharacters_ - pending_.head->length + 2 > bound) {
        DropHead();
    }
}

void TrafficLog::DropHead() {
    LogEntry* head = PopHead();
    const std::string_view text = head->View();
    droppedInFile_ = (droppedLines_ == 0 || droppedInFile_) && file_.IsOpen();
    droppedLines_ += std::count(text.begin(), text.end(), '\n');
    FreeEntry(head);
}

LogEntry* TrafficLog::PopHead() {
    LogEntry* head = pending_.head;
    pending_.head = head->next;
    if (pending_.head == nullptr) {
        pending_.tail = nullptr;
    }
    head->next = nullptr;
    pendingCharacters_ -= head->length;
    return head;
}

}  // namespace corvane::log
