// What the relay engine shows: the five counter labels, status bar panel 1 (the local
// address) and the controls of the running state. The window implements it with widgets,
// tests with recorders, the terminal front-end with its status line.
#pragma once

#include <string_view>

namespace corvane::relay {

enum class Counter { Connections, CSTransferred, CSBuffered, SCTransferred, SCBuffered };

class RelayView {
public:
    // The counter's label shows text (ShowCount's formatting, "1,234").
    virtual void ShowCounter(Counter counter, std::string_view text) = 0;
    // Status bar panel 1.
    virtual void ShowLocalAddress(std::string_view text) = 0;
    // The controls of the running (true) or stopped (false) state, panel 2 "Started" or
    // "Stopped", the Pause toggle up with its "Pause|..." hint.
    virtual void ShowRunningState(bool running) = 0;

protected:
    ~RelayView() = default;
};

}  // namespace corvane::relay
