// Which Connection a log line is about. A Connection's number (the client socket's value,
// printed in front of its lines) comes back once its socket is closed; its serial does not:
// every Connection of a program run gets the next one when it is accepted and keeps it for
// its whole life. Log entries, the views and the kept streams carry the serial, so that the
// lines and bytes of one Connection can be told from those of a later one with its number.
#pragma once

#include <cstdint>

namespace corvane::log {

using ConnectionSerial = std::uint64_t;

// The serial of lines about no Connection (the Local Port, Start and Stop, failed accepts).
constexpr ConnectionSerial kNoConnection = 0;

// A Connection as its log lines name it: the number printed in front of them and the serial
// they are filed under. A bare number (tests, lines about no live record) is filed under
// kNoConnection.
struct ConnectionTag {
    // NOLINTNEXTLINE(google-explicit-constructor): a number alone is a tag without a serial
    ConnectionTag(int number_, ConnectionSerial serial_ = kNoConnection)
        : number(number_), serial(serial_) {}
    int number;
    ConnectionSerial serial;
};

}  // namespace corvane::log
