// The traffic log: the logging operations every part of the relay calls, the queue of text
// waiting for the Log Buffer (PendingLog), the Log File, and the Log Buffer logic that the
// LogTimer drives (runs of equally coloured entries, as many as a tick's budget allows).
//
// The path of one line: the Log File at once, then the Detail test, then PendingLog, then
// the timer. A logging call never touches the view, except through FlushLogRun when
// memory runs short (moving a run frees its memory).
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string_view>
#include <vector>

#include "log/capture_file.h"
#include "log/log_entry.h"
#include "log/log_file.h"
#include "log/log_kind.h"
#include "log/log_view.h"
#include "log/stream_store.h"
#include "log/time_stamp.h"
#include "platform/messages.h"

namespace corvane::log {

constexpr std::uintptr_t kLogTimerId = 1;
constexpr platform::UINT kLogTimerMs = 200;

// Buffer Size menu values; kUnlimited keeps everything.
constexpr std::int32_t kBufferSize32KB = 32768;
constexpr std::int32_t kBufferSize128KB = 131072;
constexpr std::int32_t kBufferSize512KB = 524288;
constexpr std::int32_t kBufferSize2MB = 2097152;
constexpr std::int32_t kUnlimited = -1;

// PendingLog holds at most this many characters (plus the head entry, whose last lines may
// still show) while BufferSize is a cap: what the largest cap shows, so that raising the cap
// while lines wait shows what an unbounded queue would. At Unlimited the bound is
// kPendingBoundUnlimited. The oldest entries go first; the Log File has every line.
constexpr std::int64_t kPendingBound = kBufferSize2MB;
constexpr std::int64_t kPendingBoundUnlimited = 16 * 1024 * 1024;

// Runs are moved in slices of about kLogSliceBudget of work (looked at between runs), so that
// input, painting and the relay's messages get their turn within a few tens of milliseconds.
// A tick does one slice; while entries remain, further slices follow it on a zero-time timer
// (timer 2, kLogSliceTimerId), the event loop running between them, until the queue is empty
// or kLogTickWork has passed since the tick: the rest of the 200 ms belongs to the relay.
// While the view keeps up they follow at once. When entries were dropped since the previous
// tick began (the bound, or a slice at a cap skipping what it would trim), the relay
// produces more than the view can take: each further slice then waits kLogBehindPause times
// as long as the one before took, so that the relay keeps most of the event thread in a flood
// (painting the inserted text comes on top of the slices' own time). The first tick after a
// period without drops slices at once again.
constexpr std::chrono::milliseconds kLogSliceBudget{20};
constexpr std::chrono::milliseconds kLogTickWork{150};
constexpr std::uintptr_t kLogSliceTimerId = 2;
constexpr int kLogBehindPause = 3;

// A numbered line is composed in a buffer of this size: at most 79 characters.
constexpr int kConnectionLineBuffer = 80;

inline constexpr const char* kClientToServer = "Client to Server";
inline constexpr const char* kServerToClient = "Server to Client";

class TrafficLog final : public platform::MessageTarget {
public:
    TrafficLog();
    // Stops the timer, drops its queued ticks and frees PendingLog.
    virtual ~TrafficLog();
    TrafficLog(const TrafficLog&) = delete;
    TrafficLog& operator=(const TrafficLog&) = delete;

    // WM_TIMER goes to OnLogSlice for kLogSliceTimerId, to OnLogTimer for any other id.
    void HandleMessage(platform::UINT msg, platform::WPARAM wParam,
                       platform::LPARAM lParam) override;

    // --- Settings and state ------------------------------------------------------------
    // A line reaches the Log Buffer when its minimum <= Detail (unsigned: above 2 is High).
    std::uint32_t Detail = kDetailHigh;
    std::int32_t BufferSize = kBufferSize32KB;
    // The oldest queued entries that no Size could show once the queue has drained are
    // dropped (kPendingBound, kPendingBoundUnlimited), and a slice at a cap frees, without
    // showing them, the entries that the present Size would trim before the queue has drained
    // (SkipHiddenEntries). Tests turn it off to compare with the unbounded queue.
    bool BoundPending = true;
    // Every line that is not of kind Data begins with the local time at which it was logged
    // ("HH:MM:SS.mmm "), in the Log File and in the entry. Takes effect with the next line.
    bool TimeStamps = false;
    // The clock of the time stamps (null: the real one), for tests.
    void SetStampClock(TimeStampClock::Source source) { stampClock_.SetSource(source); }
    // Measures the slices against kLogSliceBudget and kLogTickWork; tests give a clock of
    // their own.
    std::function<std::chrono::steady_clock::time_point()> TickClock = [] {
        return std::chrono::steady_clock::now();
    };

    // The relay's paused flag: while set nothing moves into the view.
    bool Paused() const { return paused_; }
    void SetPaused(bool paused) { paused_ = paused; }
    // Set once the window has first become active; until then the view is not scrolled.
    bool Activated() const { return activated_; }
    void SetActivated(bool activated) { activated_ = activated; }

    LogFile& File() { return file_; }
    const LogFile& File() const { return file_; }
    // The rotation of the Log File and the Capture File opened from now on, and the wall
    // clock that rotation follows (null: the real one), for tests.
    void SetRotation(const RotationRule& rule, std::uint32_t partsKept);
    void SetRotationClock(Rotation::Clock clock);
    // SIGHUP after another tool has rotated the files: a file whose name no longer leads to
    // it is opened again by that name (or its next part begun). True when one was.
    bool ReopenMovedFiles();
    // The Capture File; its lines (a part opened, a failed write) are logged as the Log
    // File's are.
    CaptureFile& Capture() { return capture_; }
    // The kept streams; a write that fails is logged once as an Error line.
    StreamStore& Streams() { return streams_; }
    const StreamStore& Streams() const { return streams_; }

    // Null views are valid: nothing is shown, every other effect stays.
    void SetView(LogView* view) { view_ = view; }
    void SetMenuView(LogMenuView* menu) { menu_ = menu; }
    LogView* View() const { return view_; }

    // --- Logging ------------------------------------------------------------------------
    // Writes text (length characters, or up to its zero when length < 0), after the time
    // stamp when TimeStamps is on and the kind is not Data, and CR LF to the Log File, then, when
    // minimum <= Detail, queues it with CR LF in the kind's colour and starts the LogTimer when not
    // paused. False only when it could not be queued for lack of memory (after moving runs into the
    // view as long as that freed something).
    // The entry is filed under serial (kNoConnection: about no Connection).
    bool AppendLogLine(const char* text, LogKind kind, int length, std::uint32_t minimum,
                       ConnectionSerial serial = kNoConnection);
    void LogMessage(const char* text);
    // "%d: %s" with the Connection's number, cut to 79 characters, filed under its serial.
    void LogConnectionMessage(ConnectionTag connection, const char* text);
    void LogInform(const char* text);
    void LogConnectionInform(ConnectionTag connection, const char* text);
    // "%d: %s" whole, for texts that name things from outside (a TLS peer's subject,
    // OpenSSL's reasons) and may pass 79 characters.
    void LogConnectionLine(ConnectionTag connection, std::string_view text, LogKind kind);
    void LogError(const char* text);
    // Frees every queued entry; the timer is left to stop at its next tick.
    void DiscardPendingLog();

    // Logs one relayed block: the header "%d: %s (%d bytes[, Incomplete last line])" at
    // Medium, the text lines (always to the Log File, queued whole at High, else freed) and
    // a dump of bytes[textCount, size) when textCount != size. Takes the chain: it is empty
    // afterwards.
    // Every entry is filed under the Connection's serial.
    void DumpBlock(ConnectionTag connection, LogChain& lines, int textCount, bool incomplete,
                   const char* direction, int size, const char* bytes);
    // Dumps bytes[start, size): one text in one allocation, or line by line when that
    // allocation cannot be had. Builds nothing without a Log File and below High.
    void HexDump(const char* bytes, int size, int start, ConnectionSerial serial = kNoConnection);

    // An entry of `text` plus CR LF in `colour`, allocated with the FlushLogRun retries;
    // null when nothing more can be moved. The caller owns it.
    LogEntry* NewEntry(std::string_view text, Colour colour);

    // --- Log Buffer -----------------------------------------------------------------------
    // Moves one run (the head and the directly following entries of its colour, joined)
    // into the view. When lines were dropped since the last run, the run is first
    // the mark of that gap instead: one Error line, "(12,345 lines not shown: the view fell
    // behind; the Log File has every line)" (the last part only with a Log File open),
    // which only the view gets. False when paused or nothing is queued.
    bool FlushLogRun();
    // Deletes first lines until `length` more fits in BufferSize (never with Unlimited,
    // never past an empty view); returns the view's text length afterwards.
    std::int64_t MakeRoom(std::int64_t length);
    // One tick: a slice of runs; while entries remain, the slice timer goes on with more. The
    // LogTimer stops unless the slice moved a run and entries remain.
    void OnLogTimer();
    // One more slice while the tick's kLogTickWork lasts; the slice timer stops when the
    // queue is empty, the relay is paused or the tick's time is spent.
    void OnLogSlice();
    void StartLogTimer();
    // Stops the LogTimer and the slice timer.
    void StopLogTimer();
    bool LogTimerRunning() const { return timerHandle_ != 0; }
    bool SliceTimerRunning() const { return sliceTimerRunning_; }
    // The slice timer's interval: 0, or the last slice's length while the view is behind.
    platform::UINT SlicePauseMs() const { return slicePauseMs_; }
    bool HasPending() const { return !pending_.Empty(); }
    // Characters queued in PendingLog.
    std::int64_t PendingCharacters() const { return pendingCharacters_; }
    // Lines the bound has dropped since the last run was shown: the count of the next mark.
    std::int64_t DroppedLines() const { return droppedLines_; }
    const LogChain& Pending() const { return pending_; }
    // Resume's and Stop's catch-up, once the paused flag is cleared: one slice at once, and
    // the timers started when that moved a run and entries remain. What was dropped before
    // (while paused) does not slow the slices.
    void CatchUpView();

    // Scrolls the caret into view once Activated is set.
    void ScrollLogToEnd();
    // Checks Low, Medium or High (any other value) in both menus; Detail is not changed.
    void ShowDetailChecks();
    // Snaps BufferSize to a menu value (<0: -1; <=32768; <=131072; <=524288; else 2097152)
    // and checks that pair of items.
    void ShowBufferSizeChecks();
    // The Detail items: Detail = tag, then the checks.
    void SetShowData(std::uint32_t tag);
    // The Size items: BufferSize = tag; trims at once when the cap became smaller (or went
    // from Unlimited to a cap), and bounds the queue for the new Size; then the checks.
    void SetBufferSize(std::int32_t tag);
    // Empties the view and discards PendingLog.
    void ClearLogBuffer();

    // Whether a relayed block's text lines are written or shown anywhere: the Log File
    // takes every line, the view those of Detail High.
    bool TakesDataLines() const { return file_.IsOpen() || AdmitsData(); }

private:
    // Before a line that is not a block's data: what the files have to do there (a new
    // part, a failed write's course) and to say.
    void AttendFiles() {
        if (file_.Sink().NeedsAttention()) {
            file_.Sink().Attend();
        }
        if (capture_.Sink().NeedsAttention()) {
            capture_.Sink().Attend();
        }
    }
    // AppendLogLine once the text is known: Log File, Detail test, queue.
    bool AppendLine(std::string_view line, LogKind kind, std::uint32_t minimum,
                    ConnectionSerial serial);
    // The line behind this moment's time stamp, then AppendLine (time_stamp.cpp).
    bool AppendStamped(std::string_view line, LogKind kind, std::uint32_t minimum,
                       ConnectionSerial serial);
    void Enqueue(LogEntry* entry);
    // Files every entry under serial and queues the chain.
    void EnqueueChain(LogChain& chain, ConnectionSerial serial);
    void BoundPendingLog();
    // At a cap, drops the head entries that the runs behind them would trim from the view
    // before the queue has drained, counting their lines for the mark; the drained view is
    // the same, and the slice's work is bounded by BufferSize instead of the queue.
    void SkipHiddenEntries();
    // FlushLogRun until the queue is empty or kLogSliceBudget is spent since `start`; true
    // when it moved a run. The slice timer runs afterwards exactly when entries remain and
    // kLogTickWork has not passed since the tick began; at once, or after kLogBehindPause
    // times this slice's length when anything was dropped since the previous tick began.
    bool MoveSlice(std::chrono::steady_clock::time_point start);
    void StartSliceTimer(platform::UINT pauseMs);
    void StopSliceTimer();
    // MakeRoom, the insertion in the run's colour with its parts, the scroll.
    void ShowRun(std::string_view text, Colour colour);
    // The mark of the lines the bound dropped, as a run of its own.
    void ShowDroppedMark();
    // Frees the head entry on behalf of the bound or the skip, counting its lines for the mark.
    void DropHead();
    // Counts an entry joined into the run in runParts_.
    void AddRunPart(std::int64_t length, ConnectionSerial serial);
    LogEntry* PopHead();
    // Counts `entry`, about to be queued behind `before` (null: the queue is empty), into
    // lastRunCharacters_.
    void CountIntoLastRun(const LogEntry* before, const LogEntry& entry);
    bool AdmitsData() const { return kDetailHigh <= Detail; }
    void LogNumbered(ConnectionTag connection, const char* text, LogKind kind);

    LogChain pending_;
    std::int64_t pendingCharacters_ = 0;
    // Characters of the last run: the entries at the end of the queue of the tail's colour.
    std::int64_t lastRunCharacters_ = 0;
    std::int64_t droppedLines_ = 0;
    // Set whenever an entry is dropped (DropHead); each tick takes it over into behindAtTick_
    // and clears it. While either is set, the slices leave the relay as much time as they take.
    bool dropped_ = false;
    bool behindAtTick_ = false;
    // Whether a Log File was open when those lines were dropped.
    bool droppedInFile_ = false;
    // When the current tick began; slices follow it until kLogTickWork has passed.
    std::chrono::steady_clock::time_point tickStart_{};
    bool sliceTimerRunning_ = false;
    platform::UINT slicePauseMs_ = 0;
    // The Connections of the run being moved into the view, kept for the next run.
    std::vector<RunPart> runParts_;
    LogFile file_;
    CaptureFile capture_;
    StreamStore streams_;
    LogView* view_ = nullptr;
    LogMenuView* menu_ = nullptr;
    TimeStampClock stampClock_;
    std::uintptr_t timerHandle_ = 0;
    bool paused_ = false;
    bool activated_ = false;
};

}  // namespace corvane::log
