// The port conversion and Start's parameter checks, in their order.
#include <gtest/gtest.h>

#include <vector>

#include "control/command_error.h"
#include "control/port_number.h"
#include "control/start_check.h"
#include "platform/winsock.h"
#include "support/loopback_peers.h"

namespace corvane::control {
namespace {

TEST(ParseInteger, AcceptsAnOptionalMinusAndDecimalDigits) {
    EXPECT_EQ(ParseInteger("0"), 0);
    EXPECT_EQ(ParseInteger("8080"), 8080);
    EXPECT_EQ(ParseInteger("-5"), -5);
    EXPECT_EQ(ParseInteger("007"), 7);
    EXPECT_EQ(ParseInteger("-0"), 0);
    EXPECT_EQ(ParseInteger("2147483647"), 2147483647);
    EXPECT_EQ(ParseInteger("-2147483648"), INT32_MIN);
}

TEST(ParseInteger, RejectsEveryOtherNotation) {
    for (const char* text : {"", "-", " 80", "80 ", "8 0", "+80", "0x50", "80h", "1e3", "--1",
                             "\t80", "80\n", "８０", "1.5"}) {
        EXPECT_FALSE(ParseInteger(text).has_value()) << '"' << text << '"';
    }
}

TEST(ParseInteger, RejectsValuesBeyond32BitsAtAnyLength) {
    EXPECT_FALSE(ParseInteger("2147483648").has_value());
    EXPECT_FALSE(ParseInteger("-2147483649").has_value());
    EXPECT_FALSE(ParseInteger("4294967296").has_value());  // wraps to 0 in 32 bits
    EXPECT_FALSE(ParseInteger(std::string(400, '9')).has_value());
}

struct Rejection {
    const char* host;
    const char* remotePort;
    const char* localPort;
    const char* message;
    EditBox focus;
};

TEST(CheckStartParameters, RejectsInOrderWithMessageAndFocus) {
    const Rejection cases[] = {
        {"", "", "", kRemoteHostRequired, EditBox::RemoteHost},
        {"", "80", "x", kRemoteHostRequired, EditBox::RemoteHost},
        {"h", "", "x", kRemotePortRequired, EditBox::RemotePort},
        {"h", "0", "", kRemotePortPositive, EditBox::RemotePort},
        {"h", "-5", "", kRemotePortPositive, EditBox::RemotePort},
        {"h", "abc", "", kRemotePortPositive, EditBox::RemotePort},
        {"h", " 80", "", kRemotePortPositive, EditBox::RemotePort},
        {"h", "+80", "", kRemotePortPositive, EditBox::RemotePort},
        {"h", "99999999999", "-1", kRemotePortPositive, EditBox::RemotePort},
        {"h", "80", "-1", kLocalPortNonnegative, EditBox::LocalPort},
        {"h", "80", "x", kLocalPortNonnegative, EditBox::LocalPort},
        {"h", "80", "0x10", kLocalPortNonnegative, EditBox::LocalPort},
        {"h", "80", "80 ", kLocalPortNonnegative, EditBox::LocalPort},
    };
    for (const Rejection& c : cases) {
        const StartCheck check = CheckStartParameters(c.host, c.remotePort, c.localPort);
        ASSERT_TRUE(check.error.has_value()) << c.host << '/' << c.remotePort << '/' << c.localPort;
        EXPECT_EQ(check.error->message, c.message);
        EXPECT_EQ(check.error->focus, c.focus);
    }
}

TEST(CheckStartParameters, KeepsTheLow16BitsOfThePorts) {
    StartCheck check = CheckStartParameters("h", "70000", "65537");
    ASSERT_FALSE(check.error);
    EXPECT_EQ(check.ports.RemotePortNumber, 4464);
    EXPECT_EQ(check.ports.LocalPortNumber, 1);

    // A Local Port of 65536 is port 0: any free port, as an empty one.
    check = CheckStartParameters("h", "65535", "65536");
    ASSERT_FALSE(check.error);
    EXPECT_EQ(check.ports.RemotePortNumber, 65535);
    EXPECT_EQ(check.ports.LocalPortNumber, 0);
}

TEST(CheckStartParameters, ARemotePortThatWouldWrapToZeroIsRefusedLikeZero) {
    for (const char* port : {"65536", "131072", "2147418112"}) {
        const StartCheck check = CheckStartParameters("h", port, "");
        ASSERT_TRUE(check.error.has_value()) << port;
        EXPECT_EQ(check.error->message, kRemotePortPositive);
        EXPECT_EQ(check.error->focus, EditBox::RemotePort);
    }
    EXPECT_FALSE(CheckStartParameters("h", "65537", "").error);  // port 1
}

TEST(CheckStartParameters, EmptyOrZeroLocalPortAsksForAnyPort) {
    for (const char* local : {"", "0", "-0"}) {
        const StartCheck check = CheckStartParameters("127.0.0.1", "1", local);
        ASSERT_FALSE(check.error) << local;
        EXPECT_EQ(check.ports.LocalPortNumber, 0);
        EXPECT_EQ(check.ports.RemotePortNumber, 1);
    }
}

TEST(CheckListenAddress, TakesEmptyOrAnAddressOfThisComputer) {
    ASSERT_EQ(platform::WSAStartup(0x0101), 0);  // the check binds a socket to the address
    std::vector<const char*> good = {"", "127.0.0.1", "127.0.0.2", "0.0.0.0"};
    if (corvane::test::HaveIPv6Loopback()) {
        good.insert(good.end(), {"::1", "[::1]", "::", "::1%lo"});
    }
    for (const char* address : good) {
        EXPECT_FALSE(CheckListenAddress(address).has_value()) << address;
    }
    // Names and malformed texts, and addresses that are not this computer's.
    for (const char* bad :
         {"localhost", "127.0.0.1:80", "1.2.3.256", "[::1", "::1]", "::g", "255.255.255.255",
          " 127.0.0.1x", "192.0.2.1", "2001:db8::5", "::1%no-such-interface"}) {
        const auto error = CheckListenAddress(bad);
        ASSERT_TRUE(error.has_value()) << bad;
        EXPECT_EQ(error->message, kListenAddressInvalid);
        EXPECT_EQ(error->focus, EditBox::ListenAddress);
    }
    platform::WSACleanup();
}

TEST(WithFullStop, AppendsOnlyAfterCharactersSortingAfterFullStop) {
    EXPECT_EQ(WithFullStop("Remote Host required"), "Remote Host required.");
    EXPECT_EQ(WithFullStop("Ends with a stop."), "Ends with a stop.");
    EXPECT_EQ(WithFullStop("Ends in a blank "), "Ends in a blank ");
    EXPECT_EQ(WithFullStop("Unhandled error (7)"), "Unhandled error (7)");
    EXPECT_EQ(WithFullStop("port 0"), "port 0.");
    EXPECT_EQ(WithFullStop(""), "");
}

}  // namespace
}  // namespace corvane::control
