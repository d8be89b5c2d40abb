#include "log/time_stamp.h"

#include <cstring>
#include <string>

#include "log/traffic_log.h"

namespace corvane::log {

namespace {

void TwoDigits(char* out, int value) {
    out[0] = static_cast<char>('0' + value / 10 % 10);
    out[1] = static_cast<char>('0' + value % 10);
}

}  // namespace

timespec TimeStampClock::RealTime() {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return now;
}

void TimeStampClock::SetSource(Source source) {
    source_ = source != nullptr ? source : &RealTime;
    cachedSecond_ = -1;
}

void TimeStampClock::Format(char* out) {
    const timespec now = source_();
    if (now.tv_sec != cachedSecond_) {
        std::tm local{};
        localtime_r(&now.tv_sec, &local);
        TwoDigits(cachedClock_, local.tm_hour);
        cachedClock_[2] = ':';
        TwoDigits(cachedClock_ + 3, local.tm_min);
        cachedClock_[5] = ':';
        TwoDigits(cachedClock_ + 6, local.tm_sec);
        cachedSecond_ = now.tv_sec;
    }
    std::memcpy(out, cachedClock_, sizeof cachedClock_);
    const int millis = static_cast<int>(now.tv_nsec / 1000000);
    out[8] = '.';
    out[9] = static_cast<char>('0' + millis / 100);
    TwoDigits(out + 10, millis % 100);
    out[12] = ' ';
}

bool TrafficLog::AppendStamped(std::string_view line, LogKind kind, std::uint32_t minimum,
                               ConnectionSerial serial) {
    if (!file_.IsOpen() && minimum > Detail) {
        return true;  // wanted nowhere: no clock read
    }
    // Message lines are short: the stamp and the line fit on the stack.
    char small[kTimeStampLength + 256];
    std::string large;
    char* out = small;
    if (line.size() > sizeof small - kTimeStampLength) {
        large.resize(kTimeStampLength + line.size());
        out = large.data();
    }
    stampClock_.Format(out);
    std::memcpy(out + kTimeStampLength, line.data(), line.size());
    return AppendLine({out, kTimeStampLength + line.size()}, kind, minimum, serial);
}

}  // namespace corvane::log
