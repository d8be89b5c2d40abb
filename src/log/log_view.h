// The Log Buffer view as the log sees it. The window implements it with its text widget,
// tests with a recorder, the terminal front-end with its output.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "log/connection_serial.h"
#include "log/log_kind.h"

namespace corvane::log {

// A stretch of a run whose lines are all about one Connection: `length` characters of the
// run's text (whole lines), and the Connection's serial (kNoConnection: about none).
struct RunPart {
    std::int64_t length;
    ConnectionSerial serial;
};

class LogView {
public:
    // Characters held, each line end counted as two (CR LF).
    virtual std::int64_t TextLength() const = 0;
    // Deletes the first line with its line end.
    virtual void DeleteFirstLine() = 0;
    // Deletes whole first lines while more than `keep` characters are held and the view is not
    // empty; returns the text length afterwards. As DeleteFirstLine line by line, measuring
    // again after each line; a view whose edits cost more than their size does it in one.
    virtual std::int64_t DeleteFirstLinesDownTo(std::int64_t keep) {
        std::int64_t held = TextLength();
        while (held > 0 && held > keep) {
            DeleteFirstLine();
            const std::int64_t after = TextLength();
            if (after >= held) {
                break;  // a view that cannot shrink must not hang the program
            }
            held = after;
        }
        return held;
    }
    // Puts an empty selection at the end and inserts the run there in its colour. The run
    // is whole lines, each ending in CR LF.
    virtual void AppendRun(std::string_view text, Colour colour) = 0;
    // The log's call for every run: AppendRun, told which Connection each stretch of it is
    // about (parts cover the text in order, consecutive parts differ in serial). A view that
    // filters by Connection keeps the serials with its lines; any other leaves the call to
    // AppendRun, so the text it shows is the same either way.
    virtual void AppendConnectionRun(std::string_view text, Colour colour,
                                     std::span<const RunPart> parts) {
        (void)parts;
        AppendRun(text, colour);
    }
    // Scrolls so that the caret (at the end) is visible.
    virtual void ScrollCaretIntoView() = 0;
    virtual void Clear() = 0;

protected:
    ~LogView() = default;
};

// The check marks of the Size and Detail items, kept together in both menus.
class LogMenuView {
public:
    // value: 32768, 131072, 524288, 2097152 or -1.
    virtual void CheckBufferSize(std::int32_t value) = 0;
    // level: 0 Low, 1 Medium, 2 High.
    virtual void CheckDetail(std::uint32_t level) = 0;

protected:
    ~LogMenuView() = default;
};

}  // namespace corvane::log
