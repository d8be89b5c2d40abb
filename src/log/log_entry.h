// LogEntry: one piece of Log Buffer text with its colour, and LogChain, a first-in first-out
// chain of them. An entry is a single block from platform::Reallocate: the header below,
// then the text (ending in CR LF) and a terminating zero that the length does not count.
#pragma once

#include <cstdint>
#include <string_view>

#include "log/connection_serial.h"
#include "log/log_kind.h"

namespace corvane::log {

struct LogEntry {
    LogEntry* next = nullptr;
    Colour colour = 0;
    // Characters of text, the final CR LF included, the terminating zero not.
    std::int32_t length = 0;
    // The Connection the lines are about (kNoConnection for none).
    ConnectionSerial serial = kNoConnection;

    // The text lives directly behind the header, in the same allocation.
    char* Text() { return reinterpret_cast<char*>(this + 1); }
    const char* Text() const { return reinterpret_cast<const char*>(this + 1); }
    std::string_view View() const { return {Text(), static_cast<std::size_t>(length)}; }
};

struct LogChain {
    LogEntry* head = nullptr;
    LogEntry* tail = nullptr;

    bool Empty() const { return head == nullptr; }
};

// Bytes to ask for an entry of `length` characters of text (plus its terminating zero).
constexpr std::size_t EntryBytes(std::int32_t length) {
    return sizeof(LogEntry) + static_cast<std::size_t>(length) + 1;
}

// One allocation for an entry of `length` characters: colour set, next null, the zero
// after the text written, the text itself left for the caller. Null when memory is short.
LogEntry* AllocateEntry(std::int32_t length, Colour colour);

// An entry holding `text` followed by CR LF (length = text size + 2); null when memory is
// short. No retry: TrafficLog::NewEntry adds the retries that free memory first.
LogEntry* MakeLineEntry(std::string_view text, Colour colour);

void FreeEntry(LogEntry* entry);

// Frees every entry and leaves the chain empty.
void FreeChain(LogChain& chain);

// Appends one entry (its next must be null) at the tail.
void AppendEntry(LogChain& chain, LogEntry* entry);

// Moves all of `from` to the tail of `to`, without copying; `from` is left empty.
void AppendChain(LogChain& to, LogChain& from);

}  // namespace corvane::log
