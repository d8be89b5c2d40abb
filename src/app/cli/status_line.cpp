#include "app/cli/status_line.h"

#include <sys/ioctl.h>
#include <unistd.h>
#include <cerrno>
#include <tuple>

namespace corvane::cli {

namespace {

constexpr std::string_view kEraseLine = "\r\x1b[K";

std::size_t Index(relay::Counter counter) {
    return static_cast<std::size_t>(counter);
}

}  // namespace

std::string ComposeStatus(std::string_view state, const std::array<std::string, 5>& counters,
                          int width) {
    using relay::Counter;
    // From the whole labels to none: the first form that fits the width is shown, so that a
    // narrow terminal loses words before it loses a figure.
    struct Form {
        std::string_view separator, connections, csLabel, scLabel, bufferedOpen;
    };
    static constexpr Form kForms[] = {
        {" | ", "Connections ", "C->S ", "S->C ", " (buffered "},
        {" | ", "Conn ", "C->S ", "S->C ", " (buf "},
        {"|", "Conn ", "C->S ", "S->C ", " ("},
        {"|", "", "", "", " ("},
    };
    std::string line;
    for (const Form& form : kForms) {
        line.assign(state);
        for (const auto& [label, transferred, buffered] :
             {std::tuple{form.connections, Counter::Connections, Counter::Connections},
              std::tuple{form.csLabel, Counter::CSTransferred, Counter::CSBuffered},
              std::tuple{form.scLabel, Counter::SCTransferred, Counter::SCBuffered}}) {
            line += form.separator;
            line += label;
            line += counters[Index(transferred)];
            if (buffered != transferred) {
                line += form.bufferedOpen;
                line += counters[Index(buffered)];
                line += ')';
            }
        }
        if (width <= 0 || line.size() <= static_cast<std::size_t>(width)) {
            return line;
        }
    }
    line.resize(static_cast<std::size_t>(width));
    return line;
}

StatusLine::StatusLine(int fd, bool enabled) : enabled_(enabled) {
    if (enabled_) {
        out_.emplace(fd);
    }
}

void StatusLine::ShowCounter(relay::Counter counter, std::string_view text) {
    std::string& shown = counters_[Index(counter)];
    if (shown != text) {
        shown = text;
        changed_ = true;
    }
}

void StatusLine::ShowRunningState(bool running) {
    state_ = running ? "Started" : "Stopped";
    changed_ = true;
    if (onRunningState) {
        onRunningState(running);
    }
}

void StatusLine::ShowPaused(bool paused) {
    state_ = paused ? "Paused" : "Started";
    changed_ = true;
}

void StatusLine::Refresh(bool force) {
    if (!enabled_ || (!force && !changed_)) {
        return;
    }
    if (!force && sinceDraw_.isValid() && sinceDraw_.elapsed() < kStatusIntervalMs) {
        return;
    }
    // One column short of the width: a line that fills it would wrap on some terminals,
    // and "\r" would then no longer return to its start. An unknown width cuts nothing.
    const int width = Width();
    drawn_ = ComposeStatus(state_, counters_, width > 1 ? width - 1 : 0);
    changed_ = false;
    sinceDraw_.start();
    Redraw();
}

void StatusLine::Erase() {
    if (enabled_ && shown_) {
        Write(kEraseLine);
        shown_ = false;
    }
}

void StatusLine::Redraw() {
    if (!enabled_ || drawn_.empty()) {
        return;
    }
    std::string text(kEraseLine);
    text += drawn_;
    Write(text);
    shown_ = true;
}

void StatusLine::Finish() {
    if (!enabled_) {
        return;
    }
    Refresh(true);
    Write("\n");
    shown_ = false;
}

void StatusLine::Write(std::string_view text) const {
    // A bounded number of tries: a terminal that takes nothing now gets the next redraw.
    for (int attempt = 0; attempt < 8 && !text.empty(); ++attempt) {
        const ssize_t r = ::write(out_->fd(), text.data(), text.size());
        if (r < 0 && errno == EINTR) {
            continue;
        }
        if (r <= 0) {
            return;
        }
        text.remove_prefix(static_cast<std::size_t>(r));
    }
}

int StatusLine::Width() const {
    winsize size{};
    if (::ioctl(out_->fd(), TIOCGWINSZ, &size) == 0) {
        return size.ws_col;
    }
    return 0;
}

}  // namespace corvane::cli
