// Rotation: the rule's texts, the wall-clock boundaries and part names.
#include <gtest/gtest.h>

#include <string>

#include "log/rotation.h"

namespace corvane::log {
namespace {

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

}  // namespace
}  // namespace corvane::log
