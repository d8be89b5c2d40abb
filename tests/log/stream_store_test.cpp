// The kept streams: what the store writes is what the reader gives back, the bound evicts
// the oldest Connections whole, the files are the user's alone, and a store left by a run
// that was killed goes when the next run begins.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "log/run_store.h"
#include "log/stream_reader.h"
#include "log/stream_store.h"
#include "log_support.h"

namespace corvane::log::testing {
namespace {

struct Block {
    StreamDirection direction;
    std::string bytes;
};

std::vector<Block> BlocksOf(StreamReader& reader, ConnectionSerial serial) {
    std::vector<Block> blocks;
    EXPECT_TRUE(reader.ForEachBlock(serial, [&](const KeptBlock& b) {
        blocks.push_back({b.direction, std::string(b.bytes)});
        return true;
    }));
    return blocks;
}

std::string Pattern(std::size_t size, char seed) {
    std::string s(size, '\0');
    for (std::size_t i = 0; i < size; ++i) {
        s[i] = static_cast<char>(seed + i * 7 % 251);
    }
    return s;
}

mode_t ModeOf(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? (st.st_mode & 0777) : 0;
}

TEST(StreamStore, GivesBackEveryBlockInOrderWithItsDirectionAndItsConnection) {
    TempLogName file("streams");
    StreamStore store;
    ASSERT_TRUE(store.Open(file.Path(), StreamStore::kDefaultBound));
    store.Begin(7, 12, "127.0.0.1:5000", "127.0.0.1:80", 1717000000123456);
    store.Begin(8, 13, "[::1]:5001", "127.0.0.1:80", 1717000000200000);
    const std::string large = Pattern(100000, 'a');  // spans several extents
    store.Passed(7, StreamDirection::ToServer, "GET / HTTP/1.1\r\n\r\n", 18);
    store.Passed(8, StreamDirection::ToServer, "other", 5);
    store.Passed(7, StreamDirection::ToClient, large.data(), large.size());
    store.Passed(7, StreamDirection::ToClient, "tail", 4);
    store.End(7);
    store.Passed(7, StreamDirection::ToClient, "after its end", 13);
    store.Close();
    EXPECT_EQ(ModeOf(file.Path()), 0600u);

    StreamReader reader;
    std::string error;
    ASSERT_TRUE(reader.Open(file.Path(), error)) << error;
    const std::vector<KeptConnection> kept = reader.Connections();
    ASSERT_EQ(kept.size(), 2u);
    EXPECT_EQ(kept[0].serial, 7u);
    EXPECT_EQ(kept[0].number, 12);
    EXPECT_EQ(kept[0].client, "127.0.0.1:5000");
    EXPECT_EQ(kept[0].server, "127.0.0.1:80");
    EXPECT_EQ(kept[0].startedUs, 1717000000123456);
    EXPECT_EQ(kept[0].toServer, 18);
    EXPECT_EQ(kept[0].toClient, 100004);
    EXPECT_EQ(kept[1].client, "[::1]:5001");

    const std::vector<Block> blocks = BlocksOf(reader, 7);
    ASSERT_EQ(blocks.size(), 3u);
    EXPECT_EQ(blocks[0].direction, StreamDirection::ToServer);
    EXPECT_EQ(blocks[0].bytes, "GET / HTTP/1.1\r\n\r\n");
    EXPECT_EQ(blocks[1].direction, StreamDirection::ToClient);
    EXPECT_EQ(blocks[1].bytes, large);
    EXPECT_EQ(blocks[2].bytes, "tail");
    EXPECT_FALSE(reader.ForEachBlock(99, [](const KeptBlock&) { return true; }));
}

// Full, the store gives the oldest Connection up whole, says so, and the file never grows
// beyond its bound; a Connection that is itself the oldest keeps nothing more.
TEST(StreamStore, TheBoundEvictsTheOldestConnectionsFirst) {
    TempLogName file("streams");
    StreamStore store;
    std::vector<ConnectionSerial> dropped;
    store.SetDropReport([&](ConnectionSerial serial) { dropped.push_back(serial); });
    ASSERT_TRUE(store.Open(file.Path(), StreamStore::kMinimumBound));
    const std::string third = Pattern(300 << 10, 'x');
    for (ConnectionSerial serial = 1; serial <= 5; ++serial) {
        store.Begin(serial, static_cast<int>(serial), "c", "s", 0);
        store.Passed(serial, StreamDirection::ToClient, third.data(), third.size());
    }
    EXPECT_EQ(dropped, (std::vector<ConnectionSerial>{1, 2}));
    const std::string more = Pattern(800 << 10, 'y');
    store.Passed(5, StreamDirection::ToClient, more.data(), more.size());  // 5 is now the oldest
    store.Close();
    EXPECT_EQ(dropped, (std::vector<ConnectionSerial>{1, 2, 3, 4, 5}));
    EXPECT_LE(std::filesystem::file_size(file.Path()),
              static_cast<std::uintmax_t>(StreamStore::kMinimumBound));

    store.SetDropReport(nullptr);
    ASSERT_TRUE(store.Open(file.Path(), StreamStore::kMinimumBound));
    for (ConnectionSerial serial = 1; serial <= 4; ++serial) {
        store.Begin(serial, 1, "c", "s", 0);
        store.Passed(serial, StreamDirection::ToServer, third.data(), third.size());
    }
    store.Close();
    StreamReader reader;
    std::string error;
    ASSERT_TRUE(reader.Open(file.Path(), error)) << error;
    std::vector<ConnectionSerial> kept;
    for (const KeptConnection& c : reader.Connections()) {
        kept.push_back(c.serial);
        ASSERT_EQ(BlocksOf(reader, c.serial).size(), 1u);
        EXPECT_EQ(BlocksOf(reader, c.serial)[0].bytes, third);
    }
    EXPECT_EQ(kept, (std::vector<ConnectionSerial>{2, 3, 4}));
}

TEST(StreamReader, AFileThatIsNoStoreIsAnErrorThatSaysSo) {
    TempLogName file("not-a-store");
    std::ofstream(file.Path()) << std::string(5000, 'x');
    StreamReader reader;
    std::string error;
    EXPECT_FALSE(reader.Open(file.Path(), error));
    EXPECT_EQ(error, file.Path() + " is not a kept-streams store");
    EXPECT_FALSE(reader.Open(file.Path() + ".missing", error));
    EXPECT_NE(error.find("No such file"), std::string::npos) << error;
}

TEST(StreamText, ShowsEachBlockUnderAHeadingAsText) {
    std::string out;
    AppendBlockText({StreamDirection::ToServer, 0, "GET /\r\nHost: x\r\n"}, out);
    AppendBlockText({StreamDirection::ToClient, 0, std::string_view("a\0b\tc", 5)}, out);
    const std::string time = LocalTimeText(0, false);
    EXPECT_EQ(out, "Client to Server, " + time + ", 16 bytes\nGET /\nHost: x\n" +
                       "Server to Client, " + time + ", 5 bytes\na.b\tc\n");
}

// A run that ends without removing its store (killed) leaves it unlocked; the next run
// removes it and leaves alone the store of a run that is still going.
TEST(RunStoreFile, AStoreLeftByAKilledRunGoesWhenTheNextRunBegins) {
    TempLogName scratch("cache");
    const std::string folder = scratch.Path() + "/corvane";
    RunStoreFile live(folder);
    ASSERT_FALSE(live.Path().empty());
    EXPECT_EQ(ModeOf(folder), 0700u);
    EXPECT_EQ(ModeOf(live.Path()), 0600u);

    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        RunStoreFile killed(folder);
        ::raise(SIGKILL);
        ::_exit(1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status));
    std::string left;  // streams-<child's pid>, with a count after it (the second store)
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        if (entry.path().filename().string().rfind("streams-" + std::to_string(child), 0) == 0) {
            left = entry.path().string();
        }
    }
    ASSERT_FALSE(left.empty());

    {
        RunStoreFile next(folder);
        EXPECT_FALSE(std::filesystem::exists(left));
        EXPECT_TRUE(std::filesystem::exists(live.Path()));
        EXPECT_NE(next.Path(), live.Path());
    }
    EXPECT_TRUE(std::filesystem::exists(live.Path()));
}

}  // namespace
}  // namespace corvane::log::testing
