// The Log Buffer as the terminal front-end has it: the lines that the Log Buffer logic moves
// in are written to standard output as they come, one line end (LF) per line, coloured on a
// terminal. What is held in memory is only the text not yet written, so the Log Buffer's
// size cap (Buffer Size, "-size") is the bound of that text: when the reader cannot keep up,
// the oldest unwritten lines are the ones trimmed, as the window trims its oldest lines.
//
//   AppendRun --> [ runs not yet written: counted as TextLength ] --convert--> [ staged ] --> fd
//                   ^ DeleteFirstLine trims here                     (whole lines, <= 64 KiB)
//
// Writing never blocks the relay (see OutputDescriptor); what the descriptor does not take
// now waits for the next pass.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <string_view>

#include "app/cli/output_descriptor.h"
#include "log/log_view.h"

namespace corvane::cli {

// With an Unlimited Buffer Size this much unwritten text is still kept at most, so that
// memory stays bounded when the reader stalls; beyond it the oldest lines go.
constexpr std::int64_t kUnlimitedCeiling = 16LL << 20;
// The Error lines kept for the report on standard error when the relay cannot begin.
constexpr std::size_t kErrorTextLimit = 4096;

class TerminalOutput final : public log::LogView {
public:
    // fd is written, never closed. colour: escape sequences around non-default lines.
    // SIGPIPE must be ignored (the program's main does), so that a reader that has gone
    // shows as EPIPE.
    TerminalOutput(int fd, bool colour);
    TerminalOutput(const TerminalOutput&) = delete;
    TerminalOutput& operator=(const TerminalOutput&) = delete;
    ~TerminalOutput() = default;

    // --- LogView ----------------------------------------------------------------------
    // The characters not yet written, each line end counted as two (CR LF), as the window
    // counts its text.
    std::int64_t TextLength() const override { return held_; }
    // Drops the oldest unwritten line (it is never written).
    void DeleteFirstLine() override;
    void AppendRun(std::string_view text, log::Colour colour) override;
    void ScrollCaretIntoView() override {}
    // Drops the unwritten lines; a line already begun on the descriptor is finished.
    void Clear() override;

    // --- Writing ----------------------------------------------------------------------
    // Writes what the descriptor takes now, at most maxBytes; true when nothing is left.
    bool WriteAvailable(std::size_t maxBytes);
    // Writes everything, waiting for the descriptor at most timeoutMs in all; true when
    // nothing is left.
    bool WriteAll(int timeoutMs);
    bool HasUnwritten() const { return held_ > 0 || stagedOffset_ < staged_.size(); }
    // A line has been begun on the descriptor but not finished: nothing else may be drawn
    // on the same terminal until it is.
    bool MidLine() const { return stagedOffset_ < staged_.size() && stagedOffset_ > 0; }
    // The reader has gone (EPIPE) or the descriptor failed: everything is dropped from then
    // on, and the relay goes on.
    bool Broken() const { return broken_; }
    // Lines trimmed before they could be written.
    std::uint64_t DroppedLines() const { return droppedLines_; }

    // The Error lines (kind Error) moved in since the last Clear, with LF line ends, at most
    // kErrorTextLimit bytes: what is reported when the relay cannot begin.
    const std::string& ErrorText() const { return errorText_; }

private:
    struct Run {
        std::string text;  // whole lines ending in CR LF
        log::Colour colour;
        std::size_t offset = 0;  // start of the first line not yet converted or dropped
    };

    // Converts whole lines of the oldest runs into staged_ until it holds about limit bytes.
    void Stage(std::size_t limit);
    void Drop();

    OutputDescriptor out_;
    bool colour_;
    bool broken_ = false;
    std::deque<Run> runs_;
    std::int64_t held_ = 0;
    std::string staged_;
    std::size_t stagedOffset_ = 0;
    std::uint64_t droppedLines_ = 0;
    std::string errorText_;
};

}  // namespace corvane::cli
