// The status line on standard error: the relay's state and its five counters, redrawn in
// place ("\r", the text, clear to the end of the line) at most five times a second. It is
// the terminal's stand-in for the window's counter labels and status bar panel 2.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include <QElapsedTimer>

#include "app/cli/output_descriptor.h"
#include "relay/relay_view.h"

namespace corvane::cli {

// At most this many redraws with new content per second.
constexpr std::int64_t kStatusIntervalMs = 200;

// The line itself, from the state text ("Started", "Paused", "Stopped") and the counter
// texts as ShowCount formats them:
//   "Started | Connections 2 | C->S 1,234 (buffered 0) | S->C 56,789 (buffered 0)"
// When width > 0 and that is longer, the labels shorten first, as far as
//   "Started|2|1,234 (0)|56,789 (0)"
// and only what still does not fit is cut to width characters.
std::string ComposeStatus(std::string_view state, const std::array<std::string, 5>& counters,
                          int width);

class StatusLine final : public relay::RelayView {
public:
    // fd: where the line goes; enabled false: nothing is ever written (not a terminal).
    StatusLine(int fd, bool enabled);

    // --- RelayView --------------------------------------------------------------------
    void ShowCounter(relay::Counter counter, std::string_view text) override;
    void ShowLocalAddress(std::string_view) override {}
    // "Started" or "Stopped"; then the running-state callback.
    void ShowRunningState(bool running) override;
    // "Paused" or back to "Started".
    void ShowPaused(bool paused);

    // Told of every change of the running state (the relay may stop by itself).
    std::function<void(bool running)> onRunningState;

    // Redraws with the current values when they changed and the last redraw is at least
    // kStatusIntervalMs old, or at once when forced.
    void Refresh(bool force = false);
    // Takes the line off the screen before other output is written to the same terminal.
    void Erase();
    // Puts back what was last drawn (no new values: that is Refresh's, at its pace).
    void Redraw();
    // Leaves the final state on its own line.
    void Finish();

    bool Enabled() const { return enabled_; }
    std::string_view State() const { return state_; }
    const std::array<std::string, 5>& Counters() const { return counters_; }

private:
    void Write(std::string_view text) const;
    // The terminal's columns, 0 when it does not say.
    int Width() const;

    // The terminal, written without blocking: a stopped terminal (Ctrl+S) loses status
    // redraws instead of holding up the relay.
    std::optional<OutputDescriptor> out_;
    bool enabled_;
    std::string state_ = "Stopped";
    std::array<std::string, 5> counters_{"0", "0", "0", "0", "0"};
    std::string drawn_;
    bool shown_ = false;
    bool changed_ = true;
    QElapsedTimer sinceDraw_;
};

}  // namespace corvane::cli
