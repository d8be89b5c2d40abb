// DumpBlock and HexDump: one relayed block as a header line, text lines and a dump.
#include <algorithm>
#include <charconv>
#include <cstring>

#include "log/dump_format.h"
#include "log/traffic_log.h"

namespace corvane::log {

namespace {

// "%d: %s (%d bytes" [", Incomplete last line"] ")" without a formatting pass.
int ComposeHeader(char* out, std::size_t room, int number, const char* direction, int size,
                  bool incomplete) {
    char* p = out;
    char* const end = out + room;
    auto append = [&](std::string_view text) {
        const std::size_t n = std::min(text.size(), static_cast<std::size_t>(end - p));
        std::memcpy(p, text.data(), n);
        p += n;
    };
    p = std::to_chars(p, end, number).ptr;
    append(": ");
    append(direction);
    append(" (");
    p = std::to_chars(p, end, size).ptr;
    append(" bytes");
    if (incomplete) {
        append(", Incomplete last line");
    }
    append(")");
    return static_cast<int>(p - out);
}

}  // namespace

void TrafficLog::DumpBlock(ConnectionTag connection, LogChain& lines, int textCount,
                           bool incomplete, const char* direction, int size, const char* bytes) {
    // Nothing is composed when neither the Log File nor Detail wants the header.
    if (file_.IsOpen() || kDetailMedium <= Detail) {
        char header[128];
        const int length = ComposeHeader(header, sizeof header - 1, connection.number, direction,
                                         size, incomplete);
        header[length] = '\0';
        AppendLogLine(header, LogKind::Message, length, kDetailMedium, connection.serial);
    }

    if (!lines.Empty()) {
        if (file_.IsOpen()) {
            for (const LogEntry* line = lines.head; line != nullptr; line = line->next) {
                file_.WriteLogText(line->View(), LogKind::Data);
            }
        }
        if (AdmitsData()) {
            EnqueueChain(lines, connection.serial);
        } else {
            FreeChain(lines);
        }
    }
    if (textCount != size) {
        HexDump(bytes, size, textCount, connection.serial);
    }
}

void TrafficLog::HexDump(const char* bytes, int size, int start, ConnectionSerial serial) {
    if (start >= size || (!file_.IsOpen() && !AdmitsData())) {
        return;
    }
    const int lineCount = DumpLineCount(size - start);
    const int length = lineCount * kDumpLineLength;
    LogEntry* entry = AllocateEntry(length, ColourOf(LogKind::Data));
    while (entry == nullptr && FlushLogRun()) {
        entry = AllocateEntry(length, ColourOf(LogKind::Data));
    }
    if (entry != nullptr) {
        FormatDump(bytes, start, size, entry->Text());
        if (file_.IsOpen()) {
            file_.WriteLogText(entry->View(), LogKind::Data);
        }
        if (AdmitsData()) {
            entry->serial = serial;
            Enqueue(entry);
        } else {
            FreeEntry(entry);
        }
        return;
    }
    // Without memory for the whole text, each line goes on by itself; when even a line
    // cannot be queued, the rest of the dump is dropped (never half a line).
    const auto* data = reinterpret_cast<const unsigned char*>(bytes);
    char line[kDumpLineWidth + 1];
    for (int offset = start; offset < size; offset += kDumpBytesPerLine) {
        const int count = std::min(size - offset, kDumpBytesPerLine);
        FormatDumpLine(data + offset, count, offset, line);
        line[kDumpLineWidth] = '\0';
        if (!AppendLogLine(line, LogKind::Data, kDumpLineWidth, kDetailHigh, serial)) {
            return;
        }
    }
}

}  // namespace corvane::log
