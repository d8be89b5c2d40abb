// The kept-streams reader over any file a user may name, and the store's writer and reader
// together. The first byte picks the case:
//   0: the rest is the whole file;
//   1: the rest follows a valid header (extent size 4096), so the extents and records are
//      what varies;
//   2: the rest is a list of operations (begin, pass bytes either way, end) on a store of
//      the smallest bound; the reader must give back exactly the blocks of the Connections
//      the store did not give up, and those it gave up must be gone.
// For any file the reader opens: each Connection's blocks add up to its counts each way, no
// block is empty, and nothing read is larger than the file.
#include <cstdint>
#include <cstring>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "log/stream_format.h"
#include "log/stream_reader.h"
#include "log/stream_store.h"

namespace corvane::fuzz {
namespace {

using log::ConnectionSerial;
using log::KeptBlock;
using log::StreamDirection;

const std::string& StorePath() {
    static const std::string path = ScratchDirectory() + "/streams";
    return path;
}

void WriteFile(const std::string& bytes) {
    std::ofstream out(StorePath(), std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

struct Block {
    StreamDirection direction;
    std::string bytes;
    bool operator==(const Block& other) const {
        return direction == other.direction && bytes == other.bytes;
    }
};

std::map<ConnectionSerial, std::vector<Block>> ReadBack(log::StreamReader& reader,
                                                        std::int64_t fileBytes) {
    std::map<ConnectionSerial, std::vector<Block>> found;
    for (const log::KeptConnection& c : reader.Connections()) {
        FUZZ_CHECK(reader.Has(c.serial));
        std::int64_t up = 0;
        std::int64_t down = 0;
        std::vector<Block>& blocks = found[c.serial];
        reader.ForEachBlock(c.serial, [&](const KeptBlock& b) {
            FUZZ_CHECK(!b.bytes.empty());
            FUZZ_CHECK(static_cast<std::int64_t>(b.bytes.size()) <= fileBytes);
            (b.direction == StreamDirection::ToServer ? up : down) +=
                static_cast<std::int64_t>(b.bytes.size());
            blocks.push_back({b.direction, std::string(b.bytes)});
            std::string text;
            log::AppendBlockText(b, text);
            FUZZ_CHECK(!text.empty() && text.back() == '\n');
            return true;
        });
        FUZZ_CHECK_EQ(up, c.toServer);
        FUZZ_CHECK_EQ(down, c.toClient);
    }
    return found;
}

void ReadAnyFile(const std::string& bytes, bool withHeader) {
    std::string file = bytes;
    if (withHeader) {
        std::string header(log::streams::kHeaderBytes, '\0');
        std::memcpy(header.data(), log::streams::kMagic.data(), log::streams::kMagic.size());
        log::streams::Put32(header.data() + log::streams::kVersionAt, log::streams::kVersion);
        log::streams::Put32(header.data() + log::streams::kExtentSizeAt, 4096);
        file = header + bytes;
    }
    WriteFile(file);
    log::StreamReader reader;
    std::string error;
    const bool opened = reader.Open(StorePath(), error);
    FUZZ_CHECK(opened || !error.empty());
    FUZZ_CHECK(opened || !withHeader);
    if (opened) {
        ReadBack(reader, static_cast<std::int64_t>(file.size()));
    }
}

void RoundTrip(const std::uint8_t* data, std::size_t size) {
    log::StreamStore store;
    std::set<ConnectionSerial> dropped;
    store.SetDropReport([&](ConnectionSerial serial) { dropped.insert(serial); });
    FUZZ_CHECK(store.Open(StorePath(), log::StreamStore::kMinimumBound));
    std::map<ConnectionSerial, std::vector<Block>> expected;
    std::set<ConnectionSerial> ended;
    ConnectionSerial next = 1;
    std::string payload;
    for (std::size_t i = 0; i + 2 < size; i += 3) {
        const std::uint8_t op = data[i] % 4;
        const ConnectionSerial serial = next > 1 ? 1 + data[i + 1] % (next - 1) : 1;
        if (op == 0 || next == 1) {
            store.Begin(next, static_cast<int>(next), "client", "server", 0);
            expected[next];
            ++next;
        } else if (op == 3) {
            store.End(serial);
            ended.insert(serial);
        } else {
            // Sizes from a byte to past several extents.
            const std::size_t n = 1 + (static_cast<std::size_t>(data[i + 2]) << (data[i] >> 5));
            payload.assign(n, static_cast<char>(data[i + 2]));
            const StreamDirection direction =
                op == 1 ? StreamDirection::ToServer : StreamDirection::ToClient;
            store.Passed(serial, direction, payload.data(), payload.size());
            if (!ended.count(serial) && !dropped.count(serial)) {
                expected[serial].push_back({direction, payload});
            }
        }
    }
    store.Close();
    log::StreamReader reader;
    std::string error;
    FUZZ_CHECK(reader.Open(StorePath(), error));
    const auto found = ReadBack(reader, log::StreamStore::kMinimumBound);
    for (const auto& [serial, blocks] : expected) {
        if (dropped.count(serial)) {
            FUZZ_CHECK(!reader.Has(serial));
            continue;
        }
        const auto it = found.find(serial);
        FUZZ_CHECK(it != found.end());
        FUZZ_CHECK(it->second == blocks);
    }
    FUZZ_CHECK_EQ(found.size(), expected.size() - dropped.size());
}

}  // namespace
}  // namespace corvane::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace corvane::fuzz;
    if (size == 0) {
        return 0;
    }
    const std::string rest(reinterpret_cast<const char*>(data + 1), size - 1);
    switch (data[0] % 3) {
        case 0:
            ReadAnyFile(rest, false);
            break;
        case 1:
            ReadAnyFile(rest, true);
            break;
        default:
            RoundTrip(data + 1, size - 1);
            break;
    }
    return 0;
}
