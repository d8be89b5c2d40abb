// HexDump and DumpBlock over any block and start offset: the dump's lines have the fixed
// layout and give back the bytes they show, both when the whole dump is one allocation and
// when memory allows only a line at a time; with text lines before it, lines and dump
// together give back the whole block. The Log File receives exactly what is queued.
#include <fuzzer/FuzzedDataProvider.h>

#include <climits>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "fuzz_support.h"
#include "log/dump_format.h"
#include "log/text_lines.h"
#include "log/traffic_log.h"

namespace corvane::fuzz {
namespace {

int HexValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;  // lower case is not the layout
}

// Reads the dump text back into the bytes it shows, checking every column on the way.
std::string ReadDump(std::string_view dump, int start, int size) {
    FUZZ_CHECK_EQ(static_cast<int>(dump.size()),
                  log::DumpLineCount(size - start) * log::kDumpLineLength);
    std::string bytes;
    for (int offset = start; offset < size; offset += 16) {
        const std::string_view line =
            dump.substr(static_cast<std::size_t>((offset - start) / 16 * log::kDumpLineLength),
                        log::kDumpLineLength);
        char expectedOffset[8];
        std::snprintf(expectedOffset, sizeof expectedOffset, "%04X", offset);
        FUZZ_CHECK_EQ(line.substr(0, 4), std::string_view(expectedOffset));
        FUZZ_CHECK_EQ(line[4], ' ');
        FUZZ_CHECK_EQ(line[29], ' ');
        FUZZ_CHECK_EQ(line.substr(54, 2), std::string_view("  "));
        FUZZ_CHECK_EQ(line.substr(72), std::string_view("\r\n"));
        const int count = size - offset < 16 ? size - offset : 16;
        for (int b = 0; b < 16; ++b) {
            const std::size_t column = static_cast<std::size_t>(5 + 3 * b + (b >= 8 ? 1 : 0));
            FUZZ_CHECK_EQ(line[column], ' ');
            const char shown = line[static_cast<std::size_t>(log::kDumpCharColumn + b)];
            if (b >= count) {
                FUZZ_CHECK_EQ(line.substr(column + 1, 2), std::string_view("  "));
                FUZZ_CHECK_EQ(shown, ' ');
                continue;
            }
            const int high = HexValue(line[column + 1]);
            const int low = HexValue(line[column + 2]);
            FUZZ_CHECK(high >= 0 && low >= 0);
            const auto byte = static_cast<unsigned char>(high * 16 + low);
            FUZZ_CHECK_EQ(shown, (byte >= 0x20 && byte <= 0x7E) ? static_cast<char>(byte) : '.');
            bytes += static_cast<char>(byte);
        }
    }
    return bytes;
}

std::string Header(int number, const char* direction, int size, bool incomplete) {
    return std::to_string(number) + ": " + direction + " (" + std::to_string(size) + " bytes" +
           (incomplete ? ", Incomplete last line" : "") + ")\r\n";
}

}  // namespace
}  // namespace corvane::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace corvane;
    using namespace corvane::fuzz;
    FuzzedDataProvider in(data, size);
    const auto mode = in.ConsumeIntegral<std::uint8_t>();
    const bool lineByLine = (mode & 1) != 0;
    const bool withText = (mode & 2) != 0;
    const bool withFile = (mode & 4) != 0;
    const int number = in.ConsumeIntegral<int>();
    const auto startPick = in.ConsumeIntegral<std::uint16_t>();
    const std::string block = in.ConsumeRemainingBytesAsString();
    // A block is always under 65,536 bytes, so the offset has four digits.
    if (block.size() >= 65536) {
        return 0;
    }
    const int blockSize = static_cast<int>(block.size());

    log::TrafficLog traffic;
    RecordingView view;
    traffic.SetView(&view);
    traffic.BufferSize = log::kUnlimited;
    const std::string fileName = ScratchDirectory() + "/dump.txt";
    if (withFile) {
        FUZZ_CHECK(traffic.File().OpenLogFile(fileName));
    }

    int start = 0;
    std::string expected;  // what the text lines and the header give, before the dump
    log::LogChain lines;
    bool incomplete = false;
    if (withText) {
        FUZZ_CHECK(log::SplitTextLines(block.data(), blockSize, lines, start, incomplete));
        expected = Header(number, log::kServerToClient, blockSize, incomplete) + JoinChain(lines);
    } else {
        start = blockSize == 0 ? 0 : startPick % blockSize;
    }
    {
        // Without the allocation of the whole dump, only line-sized entries can be had.
        AllocationFailure failure(-1,
                                  lineByLine ? log::EntryBytes(log::kDumpLineWidth + 2) : SIZE_MAX);
        if (withText) {
            traffic.DumpBlock(number, lines, start, incomplete, log::kServerToClient, blockSize,
                              block.data());
            FUZZ_CHECK(lines.Empty());
        } else {
            traffic.HexDump(block.data(), blockSize, start);
        }
    }
    // What memory pressure moved into the view came first.
    const std::string queued = view.text + JoinChain(traffic.Pending());
    FUZZ_CHECK_EQ(std::string_view(queued).substr(0, expected.size()), std::string_view(expected));
    const std::string_view dump = std::string_view(queued).substr(expected.size());
    const std::string shown = ReadDump(dump, start, blockSize);
    FUZZ_CHECK_EQ(std::string_view(shown),
                  std::string_view(block).substr(static_cast<std::size_t>(start)));
    if (withText) {
        // The text lines gave back block[0, start) already (the splitter's own target
        // checks how); here the two parts must meet without a gap or an overlap.
        FUZZ_CHECK_EQ(static_cast<std::size_t>(start) + shown.size(), block.size());
    }
    if (withFile) {
        traffic.File().CloseLogFile();
        FUZZ_CHECK_EQ(ReadFile(fileName), queued);
    }

    // Below High and without a Log File, a dump builds nothing at all.
    traffic.Detail = log::kDetailMedium;
    traffic.DiscardPendingLog();
    AllocationFailure counter(-1);
    traffic.HexDump(block.data(), blockSize, 0);
    FUZZ_CHECK_EQ(static_cast<int>(counter.Requests()), 0);
    FUZZ_CHECK(!traffic.HasPending());
    return 0;
}
