#include "log/log_entry.h"

#include <cstring>
#include <new>

#include "platform/memory.h"

namespace corvane::log {

LogEntry* AllocateEntry(std::int32_t length, Colour colour) {
    void* block = platform::Reallocate(nullptr, EntryBytes(length));
    if (block == nullptr) {
        return nullptr;
    }
    auto* entry = new (block) LogEntry;
    entry->colour = colour;
    entry->length = length;
    entry->Text()[length] = '\0';
    return entry;
}

LogEntry* MakeLineEntry(std::string_view text, Colour colour) {
    const auto size = static_cast<std::int32_t>(text.size());
    LogEntry* entry = AllocateEntry(size + 2, colour);
    if (entry == nullptr) {
        return nullptr;
    }
    char* out = entry->Text();
    if (size > 0) {
        std::memcpy(out, text.data(), text.size());
    }
    out[size] = '\r';
    out[size + 1] = '\n';
    return entry;
}

void FreeEntry(LogEntry* entry) {
    if (entry != nullptr) {
        entry->~LogEntry();
        platform::Release(entry);
    }
}

void FreeChain(LogChain& chain) {
    LogEntry* entry = chain.head;
    while (entry != nullptr) {
        LogEntry* next = entry->next;
        FreeEntry(entry);
        entry = next;
    }
    chain.head = nullptr;
    chain.tail = nullptr;
}

void AppendEntry(LogChain& chain, LogEntry* entry) {
    if (chain.tail == nullptr) {
        chain.head = entry;
    } else {
        chain.tail->next = entry;
    }
    chain.tail = entry;
}

void AppendChain(LogChain& to, LogChain& from) {
    if (from.head == nullptr) {
        return;
    }
    if (to.tail == nullptr) {
        to.head = from.head;
    } else {
        to.tail->next = from.head;
    }
    to.tail = from.tail;
    from.head = nullptr;
    from.tail = nullptr;
}

}  // namespace corvane::log
