// The time stamp that begins every message line when Time Stamps are on: the local time of
// the moment the line is logged, "HH:MM:SS.mmm" and a blank. One clock read per line; the
// conversion to local time runs once per second and is reused within it.
#pragma once

#include <cstddef>
#include <ctime>

namespace corvane::log {

// "HH:MM:SS.mmm " is 13 characters.
constexpr std::size_t kTimeStampLength = 13;

class TimeStampClock {
public:
    // The wall clock; tests give one of their own.
    using Source = timespec (*)();
    static timespec RealTime();

    // Writes the stamp of this moment (kTimeStampLength characters, no zero) to out.
    void Format(char* out);
    void SetSource(Source source);

private:
    Source source_ = &RealTime;
    std::time_t cachedSecond_ = -1;
    char cachedClock_[8] = {};  // "HH:MM:SS" of cachedSecond_
};

}  // namespace corvane::log
