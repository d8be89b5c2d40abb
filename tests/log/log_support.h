// Recording views for the traffic log's tests, and helpers to read back a Log File.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "log/log_view.h"

namespace corvane::log::testing {

// Holds the view's text as the window would (line ends as CR LF) and records each call.
class RecordingView final : public LogView {
public:
    struct Run {
        std::string text;
        Colour colour;
    };

    std::int64_t TextLength() const override { return static_cast<std::int64_t>(text.size()); }
    void DeleteFirstLine() override {
        const std::size_t lf = text.find('\n');
        text.erase(0, lf == std::string::npos ? text.size() : lf + 1);
        ++deletions;
    }
    void AppendRun(std::string_view run, Colour colour) override {
        text.append(run);
        runs.push_back({std::string(run), colour});
    }
    void ScrollCaretIntoView() override { ++scrolls; }
    void Clear() override {
        text.clear();
        ++clears;
    }

    std::string text;
    std::vector<Run> runs;
    int deletions = 0;
    int scrolls = 0;
    int clears = 0;
};

class RecordingMenu final : public LogMenuView {
public:
    void CheckBufferSize(std::int32_t value) override { sizes.push_back(value); }
    void CheckDetail(std::uint32_t level) override { details.push_back(level); }

    std::vector<std::int32_t> sizes;
    std::vector<std::uint32_t> details;
};

// A file name in a fresh temporary directory, removed with the object.
class TempLogName {
public:
    explicit TempLogName(const std::string& leaf) {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "corvane-log-XXXXXX").string();
        dir_ = mkdtemp(pattern.data()) == nullptr ? std::string() : pattern;
        path_ = dir_ + "/" + leaf;
    }
    ~TempLogName() {
        std::error_code ignored;
        std::filesystem::remove_all(dir_, ignored);
    }
    TempLogName(const TempLogName&) = delete;
    TempLogName& operator=(const TempLogName&) = delete;

    const std::string& Path() const { return path_; }
    std::string Contents() const {
        std::ifstream in(path_, std::ios::binary);
        std::ostringstream out;
        out << in.rdbuf();
        return out.str();
    }

private:
    std::string dir_;
    std::string path_;
};

// A clock for the time stamps that shows the local time set last (on 1 June 2024, a day
// without a change of summer time), whatever the machine's time zone.
class FixedClock {
public:
    static void Set(int hour, int minute, int second, int millisecond) {
        std::tm local{};
        local.tm_year = 124;
        local.tm_mon = 5;
        local.tm_mday = 1;
        local.tm_hour = hour;
        local.tm_min = minute;
        local.tm_sec = second;
        local.tm_isdst = -1;
        Now().tv_sec = std::mktime(&local);
        Now().tv_nsec = static_cast<long>(millisecond) * 1000000 + 999;  // below a millisecond
    }
    static timespec Read() { return Now(); }

private:
    static timespec& Now() {
        static timespec now{};
        return now;
    }
};

// Lines joined, each followed by CR LF.
inline std::string CrLf(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines) {
        text += line;
        text += "\r\n";
    }
    return text;
}

}  // namespace corvane::log::testing
