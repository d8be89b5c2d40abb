// Rotation: the rule's texts, the wall-clock boundaries and part names, and the Log File
// written in parts (whole parts, every line once, parts kept) with a clock the test moves.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "log/rotation.h"
#include "log/text_lines.h"
#include "log/traffic_log.h"
#include "log_support.h"
#include "support/file_parts.h"

namespace corvane::log {
namespace {

using corvane::test::PartsInOrder;
using corvane::test::ReadWhole;
using testing::FixedClock;
using testing::TempLogName;

TEST(Rotation, RuleTexts) {
    struct Case {
        const char* text;
        std::uint64_t bytes;
        std::uint32_t seconds;
    };
    const Case good[] = {{"", 0, 0},
                         {"100M", 100ull << 20, 0},
                         {"1K", 1024, 0},
                         {"3G", 3ull << 30, 0},
                         {"1h", 0, 3600},
                         {"15m", 0, 900},
                         {"30s", 0, 30},
                         {"2d", 0, 172800},
                         {"1h,100M", 100ull << 20, 3600},
                         {"100M,1h", 100ull << 20, 3600}};
    for (const Case& c : good) {
        const auto rule = ParseRotation(c.text);
        ASSERT_TRUE(rule) << c.text;
        EXPECT_EQ(rule->partBytes, c.bytes) << c.text;
        EXPECT_EQ(rule->periodSeconds, c.seconds) << c.text;
    }
    for (const char* bad : {"100", "M", "0M", "1h,", ",1h", "1h,2h", "1M,2M", "1k", "1H", "1 h",
                            "-1h", "1.5h", "1h;100M", "1000000000M", "100000000d", "1h,100M,1s"}) {
        EXPECT_FALSE(ParseRotation(bad)) << bad;
    }
}

std::time_t LocalTime(int year, int month, int day, int hour, int minute, int second) {
    std::tm local{};
    local.tm_year = year - 1900;
    local.tm_mon = month - 1;
    local.tm_mday = day;
    local.tm_hour = hour;
    local.tm_min = minute;
    local.tm_sec = second;
    local.tm_isdst = -1;
    return std::mktime(&local);
}

TEST(Rotation, BoundariesAreWallClockOnesInLocalTime) {
    struct Case {
        std::uint32_t period;
        int h, m, s;          // now, on 1 June 2024
        int day, bh, bm, bs;  // the next boundary
    };
    const Case cases[] = {{3600, 14, 37, 12, 1, 15, 0, 0}, {3600, 14, 0, 0, 1, 15, 0, 0},
                          {900, 14, 37, 12, 1, 14, 45, 0}, {30, 14, 37, 12, 1, 14, 37, 30},
                          {86400, 14, 37, 12, 2, 0, 0, 0}, {3600, 23, 59, 59, 2, 0, 0, 0},
                          {7200, 13, 0, 0, 1, 14, 0, 0}};
    for (const Case& c : cases) {
        EXPECT_EQ(NextBoundary(LocalTime(2024, 6, 1, c.h, c.m, c.s), c.period),
                  LocalTime(2024, 6, c.day, c.bh, c.bm, c.bs))
            << c.period << " s at " << c.h << ":" << c.m << ":" << c.s;
    }
}

TEST(Rotation, PartNames) {
    const std::time_t start = LocalTime(2026, 12, 9, 14, 0, 0);
    struct Case {
        const char* name;
        const char* part;
    };
    const Case cases[] = {{"trace.htm", "trace-20261209-140000.htm"},
                          {"/var/log/trace.log", "/var/log/trace-20261209-140000.log"},
                          {"trace", "trace-20261209-140000"},
                          {"dir.v2/trace", "dir.v2/trace-20261209-140000"},
                          {"a.b.txt", "a.b-20261209-140000.txt"},
                          {".log", ".log-20261209-140000"},
                          {"trace-%Y%m%d-%H.log", "trace-20261209-14.log"}};
    for (const Case& c : cases) {
        EXPECT_EQ(PartName(c.name, start), c.part) << c.name;
    }
    EXPECT_EQ(RepeatedName("trace-20261209-140000.htm", 3), "trace-20261209-140000-3.htm");
}

// The log lines of a part: a text part's lines, or an HTML part's body lines with their
// markup taken away (the lines here have no characters that are escaped).
std::vector<std::string> PartLines(const std::string& text, bool html) {
    std::vector<std::string> lines;
    for (std::size_t start = 0; start < text.size();) {
        const std::size_t end = text.find("\r\n", start);
        std::string line = text.substr(start, end - start);
        start = end + 2;
        if (html) {
            if (line.find("<br />") == std::string::npos) {
                continue;  // the header and the closing lines
            }
            for (const char* tag : {"</span>", "<br />"}) {
                for (std::size_t at; (at = line.find(tag)) != std::string::npos;) {
                    line.erase(at, std::strlen(tag));
                }
            }
            for (std::size_t at; (at = line.find("<span class=\"")) != std::string::npos;) {
                line.erase(at, line.find("\">", at) + 2 - at);
            }
        }
        lines.push_back(line);
    }
    return lines;
}

class LogFileRotation : public ::testing::Test {
protected:
    void SetUp() override {
        FixedClock::Set(14, 0, 0, 0);
        log.SetRotationClock(&FixedClock::Read);
        log.Detail = kDetailLow;
    }
    // A message line, then a block of five text lines.
    void LogMessageAndBlock(int k, std::vector<std::string>& expected) {
        const std::string message = "message " + std::to_string(k);
        log.LogConnectionMessage(7, message.c_str());
        std::string bytes;
        for (int j = 0; j < 5; ++j) {
            bytes += "block " + std::to_string(k) + " line " + std::to_string(j) + "\r\n";
        }
        LogChain lines;
        int textCount = 0;
        bool incomplete = false;
        ASSERT_TRUE(SplitTextLines(bytes.data(), static_cast<int>(bytes.size()), lines, textCount,
                                   incomplete));
        log.DumpBlock(7, lines, textCount, incomplete, kClientToServer,
                      static_cast<int>(bytes.size()), bytes.data());
        expected.push_back("7: " + message);
        expected.push_back("7: Client to Server (" + std::to_string(bytes.size()) + " bytes)");
        for (std::size_t at = 0; at < bytes.size(); at = bytes.find('\n', at) + 1) {
            expected.push_back(bytes.substr(at, bytes.find('\r', at) - at));
        }
    }

    TrafficLog log;
};

TEST_F(LogFileRotation, SizePartsAreWholeAndHoldEveryLineOnce) {
    for (const char* leaf : {"run.txt", "run.htm"}) {
        SCOPED_TRACE(leaf);
        const bool html = IsHtmlLogName(leaf);
        TempLogName file(leaf);
        log.SetRotation(*ParseRotation("1K"), 0);
        ASSERT_TRUE(log.File().OpenLogFile(file.Path()));
        std::vector<std::string> expected;
        for (int k = 0; k < 60; ++k) {
            LogMessageAndBlock(k, expected);
        }
        log.File().CloseLogFile();

        const std::string folder = std::filesystem::path(file.Path()).parent_path().string();
        const std::vector<std::string> parts = PartsInOrder(folder);
        ASSERT_GT(parts.size(), 5u);
        std::vector<std::string> all;
        for (const std::string& part : parts) {
            const std::string text = ReadWhole(part);
            if (html) {
                EXPECT_EQ(text.rfind("<html>\r\n<head>\r\n", 0), 0u) << part;
                EXPECT_EQ(text.substr(text.size() - 18), "</body>\r\n</html>\r\n") << part;
            }
            std::vector<std::string> lines = PartLines(text, html);
            ASSERT_GE(lines.size(), 2u) << part;
            // Its first line names it; then a block's header and its lines stay together.
            EXPECT_EQ(lines[0], "Log File part " + part + " opened");
            EXPECT_EQ(lines[1].rfind("7: ", 0), 0u) << part << " begins with " << lines[1];
            all.insert(all.end(), lines.begin() + 1, lines.end());
        }
        EXPECT_EQ(all, expected);
    }
}

TEST_F(LogFileRotation, PeriodPartsBeginAtTheBoundaries) {
    TempLogName file("p.txt");
    FixedClock::Set(13, 59, 59, 0);
    log.SetRotation(*ParseRotation("1h"), 0);
    ASSERT_TRUE(log.File().OpenLogFile(file.Path()));
    log.LogMessage("before two");
    FixedClock::Set(14, 0, 0, 0);
    log.LogMessage("at two");
    FixedClock::Set(14, 59, 59, 999);
    log.LogMessage("before three");
    FixedClock::Set(15, 0, 0, 1);
    log.LogMessage("at three");
    log.File().CloseLogFile();

    const std::string folder = std::filesystem::path(file.Path()).parent_path().string();
    const std::string first = folder + "/p-20240601-135959.txt";
    const std::string second = folder + "/p-20240601-140000.txt";
    const std::string third = folder + "/p-20240601-150000.txt";
    EXPECT_EQ(PartsInOrder(folder), (std::vector<std::string>{first, second, third}));
    EXPECT_EQ(ReadWhole(first),
              testing::CrLf({"Log File part " + first + " opened", "before two"}));
    EXPECT_EQ(ReadWhole(second),
              testing::CrLf({"Log File part " + second + " opened", "at two", "before three"}));
    EXPECT_EQ(ReadWhole(third), testing::CrLf({"Log File part " + third + " opened", "at three"}));
}

TEST_F(LogFileRotation, OnlyTheNewestPartsAreKept) {
    TempLogName file("k.log");
    log.SetRotation(*ParseRotation("1K"), 3);
    ASSERT_TRUE(log.File().OpenLogFile(file.Path()));
    for (int i = 0; i < 1000; ++i) {
        log.LogMessage(("line " + std::to_string(i)).c_str());
    }
    log.File().CloseLogFile();

    const std::string folder = std::filesystem::path(file.Path()).parent_path().string();
    const std::vector<std::string> parts = PartsInOrder(folder);
    ASSERT_EQ(parts.size(), 3u);
    // The last part's number says how many there were; the three newest are left.
    const std::string last = std::filesystem::path(parts[2]).stem().string();
    const int count = std::stoi(last.substr(last.rfind('-') + 1));
    ASSERT_GT(count, 5);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(parts[static_cast<std::size_t>(i)],
                  RepeatedName(folder + "/k-20240601-140000.log", count - 2 + i));
    }
    EXPECT_NE(ReadWhole(parts[2]).find("line 999\r\n"), std::string::npos);
}

}  // namespace
}  // namespace corvane::log
