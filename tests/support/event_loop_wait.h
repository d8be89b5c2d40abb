// Runs the Qt event loop until a condition holds or a time limit passes, for tests that wait
// for socket events, look-up answers and timer ticks without sleeping.
#pragma once

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QTimer>
#include <functional>

namespace corvane::test {

// True as soon as cond() holds (asked before the first wait and after every pass of the
// loop); false when timeoutMs passes first. The loop sleeps between events; a short
// repeating timer bounds each sleep so that the time limit is kept.
inline bool WaitFor(const std::function<bool()>& cond, int timeoutMs = 5000) {
    QDeadlineTimer deadline(timeoutMs);
    QTimer wake;
    wake.start(5);
    while (!cond()) {
        if (deadline.hasExpired()) {
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    }
    return true;
}

// Runs the event loop for about ms milliseconds, so that events that must NOT come have the
// chance to show up.
inline void RunEventLoopFor(int ms) {
    WaitFor([] { return false; }, ms);
}

}  // namespace corvane::test
