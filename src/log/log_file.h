// The Log File: every log line of a run, as plain text or, for a name ending in ".htm" or
// ".html", as an HTML page with one span per run of lines of one kind. Writes go through
// a buffer of our own; each filled buffer goes to the file writer's thread, and so does a
// partly filled one at the flush timer's next tick (kLogFlushMs), so that what was logged
// reaches the file soon after a burst and another process can follow it; everything has
// reached the file when it is closed. Write errors are ignored, the log carries on.
#pragma once

#include <cstdio>
#include <memory>
#include <string>
#include <string_view>

#include "log/file_writer.h"
#include "log/log_kind.h"
#include "platform/messages.h"

namespace corvane::log {

// The flush timer: timer 1 on the Log File, running while bytes wait in its buffer. Each tick
// hands them to the writer's thread unless kBuffersInFlight already wait there (the event
// thread never waits for the disk on its account).
constexpr std::uintptr_t kLogFlushTimerId = 1;
constexpr platform::UINT kLogFlushMs = 100;

// True when the last path component (after the last '\', '/' or drive colon) has an
// extension, from its last full stop on, equal to ".htm" or ".html" in any letter case.
bool IsHtmlLogName(std::string_view name);

// The class name of a kind's span: "tsmsg", "tsinform", "tserror", "tsdata".
std::string_view HtmlClassOf(Colour colour);

class LogFile final : public platform::MessageTarget {
public:
    LogFile();
    // Closes an open file as CloseLogFile does.
    virtual ~LogFile();
    LogFile(const LogFile&) = delete;
    LogFile& operator=(const LogFile&) = delete;

    // Creates the file or empties it ("wb"); an open file is closed first. For an HTML name
    // writes the 16 header lines. False when it cannot be opened (then no file is open).
    bool OpenLogFile(const std::string& name);

    // Writes the text as part of the log. Text files: unchanged. HTML: opens the kind's
    // span when it differs from the open one (closing that first), then the text escaped
    // ('<', '>', '&', a blank after a blank as "&nbsp;", CR as "<br />" CR). Nothing
    // happens when no file is open.
    void WriteLogText(std::string_view text, LogKind kind);

    // Writes the closing lines of an HTML page, then closes. Nothing when no file is open.
    void CloseLogFile();

    bool IsOpen() const { return writer_.IsOpen(); }
    bool IsHtml() const { return html_; }

    // WM_TIMER of the flush timer: see kLogFlushMs.
    void HandleMessage(platform::UINT msg, platform::WPARAM wParam,
                       platform::LPARAM lParam) override;
    bool FlushTimerRunning() const { return flushTimer_; }

private:
    void Put(const char* data, std::size_t size);
    void Put(std::string_view text) { Put(text.data(), text.size()); }
    void WriteEscaped(std::string_view text);
    void Drain();
    void StartFlushTimer();
    void StopFlushTimer();

    FileWriter writer_;
    bool html_ = false;
    Colour currentSpan_ = kNoSpan;
    std::unique_ptr<char[]> buffer_;
    std::size_t used_ = 0;
    bool flushTimer_ = false;
};

}  // namespace corvane::log
