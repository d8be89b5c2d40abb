// A disk that fills up under the relay: a small tmpfs, mounted by the test (as root; skipped
// otherwise), nearly filled by a file of its own. The failed write is said once, relaying
// goes on, and once the filler is gone writing resumes in a new part that says how many
// lines were lost, so that the files and that count together are every line logged; the
// Capture File alike.
#include <sys/mount.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "relay_test_support.h"
#include "support/event_loop_wait.h"
#include "support/file_parts.h"
#include "support/tshark_reader.h"

namespace corvane::relay::test {
namespace {

using corvane::test::ReadWhole;
using corvane::test::WaitFor;

constexpr const char* kTmpfsOptions = "size=4m";
constexpr std::size_t kLeftFree = 384 * 1024;  // more than a buffer, less than two

std::size_t CountLines(const std::string& text) {
    return static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
}

class FullDiskTest : public RelayFixture {
protected:
    void SetUp() override {
        if (::geteuid() != 0) {
            GTEST_SKIP() << "mounting a small tmpfs needs root";
        }
        char pattern[] = "/tmp/corvane-full-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        dir_ = pattern;
        if (::mount("tmpfs", dir_.c_str(), "tmpfs", 0, kTmpfsOptions) != 0) {
            const std::string why = std::strerror(errno);
            ::rmdir(dir_.c_str());
            dir_.clear();
            GTEST_SKIP() << "cannot mount a tmpfs here: " << why;
        }
        mounted_ = true;
        // Fill the disk but for a little.
        const auto space = std::filesystem::space(dir_);
        std::ofstream(Filler(), std::ios::binary) << std::string(space.available - kLeftFree, 'f');
        RelayFixture::SetUp();
        log->Detail = log::kDetailHigh;
    }
    void TearDown() override {
        if (log) {
            RelayFixture::TearDown();
        }
        if (mounted_) {
            ::umount2(dir_.c_str(), MNT_DETACH);
        }
        if (!dir_.empty()) {
            ::rmdir(dir_.c_str());
        }
    }
    std::string Filler() const { return dir_ + "/filler"; }

    std::size_t Count(const std::string& prefix) {
        const std::vector<std::string> lines = Lines();
        return static_cast<std::size_t>(
            std::count_if(lines.begin(), lines.end(),
                          [&](const std::string& l) { return l.rfind(prefix, 0) == 0; }));
    }
    // Relays block after block until the failure's line shows, then 20 more; frees the disk
    // and relays until the new part's line shows, then 3 more; stops. The new part's line.
    std::string FillAndFree(int client, int server, const std::string& error,
                            const std::string& resumed) {
        for (int round = 0; round < 200 && Count(error) == 0; ++round) {
            Relay(client, server, 1);
            corvane::test::RunEventLoopFor(5);
        }
        EXPECT_EQ(Count(error), 1u);
        Relay(client, server, 20);  // relaying goes on, what is logged is lost
        EXPECT_TRUE(std::filesystem::remove(Filler()));
        EXPECT_TRUE(WaitFor([&] { return Count(resumed) == 1; }, 10000));
        Relay(client, server, 3);
        engine->StopRelay();
        EXPECT_EQ(Count(error), 1u);
        for (const std::string& line : Lines()) {
            if (line.rfind(resumed, 0) == 0) {
                return line;
            }
        }
        return {};
    }

    // Sends `blocks` blocks of 100 text lines from the Client; all must reach the Server.
    void Relay(int client, int server, int blocks) {
        for (int b = 0; b < blocks; ++b) {
            std::string block;
            for (int i = 0; i < 100; ++i) {
                block += "block " + std::to_string(sent_) + " line " + std::to_string(i) +
                         " of text that fills the log quickly\r\n";
            }
            ++sent_;
            std::string got;
            ASSERT_TRUE(Exchange(client, block, 0, server, got, block.size()));
            ASSERT_EQ(got, block);
        }
    }

    std::string dir_;
    bool mounted_ = false;
    int sent_ = 0;
};

TEST_F(FullDiskTest, LogFileSaysSoOnceRelayingGoesOnAndTheNewPartCountsTheLostLines) {
    const std::string name = dir_ + "/relay.log";
    ASSERT_TRUE(log->File().OpenLogFile(name));
    ASSERT_TRUE(Start("127.0.0.1", serverPort));
    int client = -1;
    int server = -1;
    ASSERT_TRUE(ConnectThrough(client, server));

    const std::string error = "Could not write log file " + name + ": No space left on device";
    const std::string inform = FillAndFree(client, server, error, "Log File part " + dir_ + "/");

    // The part that resumed names itself and the number lost; the files and that number
    // are every line logged.
    const std::size_t opened = inform.find(" opened; ");
    ASSERT_NE(opened, std::string::npos) << inform;
    const std::string part =
        inform.substr(std::strlen("Log File part "), opened - std::strlen("Log File part "));
    const long lost = std::stol(inform.substr(opened + std::strlen(" opened; ")));
    EXPECT_EQ(inform.substr(inform.size() - 11), " lines lost");
    const std::string first = ReadWhole(name);
    const std::string second = ReadWhole(part);
    EXPECT_EQ(second.rfind(inform + "\r\n", 0), 0u);
    EXPECT_EQ(first.back(), '\n') << "the full part ends with a whole line";
    EXPECT_GT(lost, 0);
    EXPECT_EQ(CountLines(first) + CountLines(second) + static_cast<std::size_t>(lost),
              Lines(true).size());
    EXPECT_NE(second.find("Local Port closed\r\n"), std::string::npos);
}

// The Capture File alike: the packets are counted, the full part ends with its last whole
// packet, and the new part begins the open conversation again, so both read without a flag.
TEST_F(FullDiskTest, CaptureFileSaysSoOnceAndResumesInAPartThatReadsAlone) {
    const std::string name = dir_ + "/relay.pcap";
    ASSERT_TRUE(log->Capture().Open(name));
    ASSERT_TRUE(Start("127.0.0.1", serverPort));
    int client = -1;
    int server = -1;
    ASSERT_TRUE(ConnectThrough(client, server));

    const std::string error = "Could not write capture file " + name + ": No space left on device";
    const std::string inform =
        FillAndFree(client, server, error, "Capture File part " + dir_ + "/");
    const std::size_t opened = inform.find(" opened; ");
    ASSERT_NE(opened, std::string::npos) << inform;
    EXPECT_GT(std::stol(inform.substr(opened + std::strlen(" opened; "))), 0);
    EXPECT_EQ(inform.substr(inform.size() - 13), " packets lost");
    const std::string part = inform.substr(std::strlen("Capture File part "),
                                           opened - std::strlen("Capture File part "));
    if (!corvane::test::Output("tshark -v")) {
        GTEST_SKIP() << "tshark is not installed (scripts/setup.sh installs it)";
    }
    for (const std::string& file : {name, part}) {
        EXPECT_EQ(
            corvane::test::Output("tshark -r '" + file + "' " + corvane::test::kCheckChecksums +
                                  " -Y '" + corvane::test::kTcpFaults + "'"),
            "")
            << file;
    }
}

}  // namespace
}  // namespace corvane::relay::test
