// SocketErrorText and the counters' format.
#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <string>

#include "platform/winsock.h"
#include "relay/show_count.h"
#include "relay/socket_error_text.h"

namespace corvane::relay {
namespace {

TEST(SocketErrorText, TableTexts) {
    EXPECT_STREQ(SocketErrorText(platform::WSAEMFILE), "Too many open files");
    EXPECT_STREQ(SocketErrorText(10035), "Resource temporarily unavailable");
    EXPECT_STREQ(SocketErrorText(10048), "Address already in use");
    EXPECT_STREQ(SocketErrorText(10050), "Network is down");
    EXPECT_STREQ(SocketErrorText(10051), "Network is unreachable");
    EXPECT_STREQ(SocketErrorText(10052), "Network dropped connection on reset");
    EXPECT_STREQ(SocketErrorText(10053), "Software caused connection abort");
    EXPECT_STREQ(SocketErrorText(10054), "Connection reset by peer");
    EXPECT_STREQ(SocketErrorText(10055), "No buffer space is available");
    EXPECT_STREQ(SocketErrorText(10060), "Connection timed out");
    EXPECT_STREQ(SocketErrorText(10061), "Connection refused");
    EXPECT_STREQ(SocketErrorText(10067), "Too many processes");
    EXPECT_STREQ(SocketErrorText(10091), "Network subsystem is unavailable");
    EXPECT_STREQ(SocketErrorText(11001), "Host not found");
    EXPECT_STREQ(SocketErrorText(11002), "Non-authoritative host not found");
    EXPECT_STREQ(SocketErrorText(11003), "This is a non-recoverable error");
    EXPECT_STREQ(SocketErrorText(11004), "Valid name, no data record of requested type");
}

TEST(SocketErrorText, AnythingElseIsUnhandledWithItsSignedCode) {
    EXPECT_STREQ(SocketErrorText(10049), "Unhandled error (10049)");
    EXPECT_STREQ(SocketErrorText(0), "Unhandled error (0)");
    EXPECT_STREQ(SocketErrorText(-7), "Unhandled error (-7)");
    EXPECT_STREQ(SocketErrorText(INT_MIN), "Unhandled error (-2147483648)");
    // An errno without a counterpart lands outside the table.
    EXPECT_STREQ(SocketErrorText(platform::kUnmappedErrorBase + 22), "Unhandled error (20022)");
}

TEST(FormatCount, GroupsOfThreeNeverAfterTheSign) {
    const std::pair<std::int64_t, const char*> cases[] = {
        {0, "0"},
        {7, "7"},
        {999, "999"},
        {1000, "1,000"},
        {12345, "12,345"},
        {123456, "123,456"},
        {1234567, "1,234,567"},
        {-1, "-1"},
        {-123, "-123"},
        {-1234, "-1,234"},
        {-123456, "-123,456"},
        {INT_MAX, "2,147,483,647"},
        {INT_MIN, "-2,147,483,648"},
        // Past 32 bits, as a long session's byte counts go.
        {2147483648LL, "2,147,483,648"},
        {4294967296LL, "4,294,967,296"},
        {1099511627776LL, "1,099,511,627,776"},
        {INT64_MAX, "9,223,372,036,854,775,807"},
        {INT64_MIN, "-9,223,372,036,854,775,808"},
    };
    for (const auto& [value, text] : cases) {
        EXPECT_EQ(FormatCount(value).View(), text) << value;
    }
}

}  // namespace
}  // namespace corvane::relay
