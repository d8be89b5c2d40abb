// The Log File: every log line of a run, as plain text or, for a name ending in ".htm" or
// ".html", as an HTML page with one span per run of lines of one kind. Writes go through
// a buffer of our own; each filled buffer goes to the file writer's thread, and so does a
// partly filled one at the flush timer's next tick (kLogFlushMs), so that what was logged
// reaches the file soon after a burst and another process can follow it; everything has
// reached the file when it is closed. The file itself, its parts when it rotates and a
// failed write's course are its SinkFile's (log/sink_file.h): a text part begins at a line
// boundary, an HTML part is a whole page with its header and closing lines.
#pragma once

#include <string>
#include <string_view>

#include "log/log_kind.h"
#include "log/sink_file.h"

namespace corvane::log {

// The flush timer: timer 1 on the Log File's SinkFile, running while bytes wait in its
// buffer. Each tick hands them to the writer's thread unless kBuffersInFlight already wait
// there (the event thread never waits for the disk on its account).
constexpr platform::UINT kLogFlushMs = 100;

// True when the last path component (after the last '\', '/' or drive colon) has an
// extension, from its last full stop on, equal to ".htm" or ".html" in any letter case.
bool IsHtmlLogName(std::string_view name);

// The class name of a kind's span: "tsmsg", "tsinform", "tserror", "tsdata".
std::string_view HtmlClassOf(Colour colour);

class LogFile final : private SinkFile::Edges {
public:
    // Large enough that a heavy dump costs few write calls; the file is never flushed per
    // line. A dump of every relayed block makes about five bytes of text per byte relayed;
    // in 256 KiB buffers that is a write call and a hand-over for every 50 KiB relayed, a
    // quarter of what 64 KiB buffers cost, with the same 1 MiB on its way.
    static constexpr std::size_t kBufferBytes = 256 * 1024;
    static constexpr std::size_t kSpareBuffers = 4;  // kept for refilling rather than freed

    LogFile();
    // Closes an open file as CloseLogFile does.
    virtual ~LogFile();
    LogFile(const LogFile&) = delete;
    LogFile& operator=(const LogFile&) = delete;

    // Creates the file or empties it ("wb"), or its first part when rotating; an open file is
    // closed first. For an HTML name writes the 16 header lines. False when it cannot be
    // opened (then no file is open).
    bool OpenLogFile(const std::string& name);

    // Writes the text as part of the log. Text files: unchanged. HTML: opens the kind's
    // span when it differs from the open one (closing that first), then the text escaped
    // ('<', '>', '&', a blank after a blank as "&nbsp;", CR as "<br />" CR). Nothing
    // happens when no file is open; while a failed write holds it, its lines are counted.
    void WriteLogText(std::string_view text, LogKind kind);

    // Writes the closing lines of an HTML page, then closes. Nothing when no file is open.
    void CloseLogFile();

    bool IsOpen() const { return file_.IsOpen(); }
    bool IsHtml() const { return html_; }
    bool FlushTimerRunning() const { return file_.FlushTimerRunning(); }

    // Rotation, the failure's course, what the file has to say: see SinkFile.
    SinkFile& Sink() { return file_; }
    const SinkFile& Sink() const { return file_; }

private:
    void EndPart() override;
    void BeginPart() override;
    void Put(std::string_view text) { file_.Put(text.data(), text.size()); }
    void WriteEscaped(std::string_view text);

    bool html_ = false;
    Colour currentSpan_ = kNoSpan;
    SinkFile file_;
};

}  // namespace corvane::log
