// Connections from the terminal: the key c lists the live ones, "-streams" keeps what was
// passed on, and "-follow" gives it back: a download saved this way is the file itself.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iterator>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "app/cli/cli_arguments.h"
#include "cli_process.h"

namespace corvane::cli::test {
namespace {

class ScratchFolder {
public:
    ScratchFolder() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "corvane-streams-XXXXXX").string();
        path_ = ::mkdtemp(pattern.data()) == nullptr ? std::string() : pattern;
    }
    ~ScratchFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    const std::string& Path() const { return path_; }

private:
    std::string path_;
};

std::string Download(std::size_t size) {
    std::mt19937_64 random(29);
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; i += 8) {
        const std::uint64_t word = random();
        std::memcpy(bytes.data() + i, &word, std::min<std::size_t>(8, size - i));
    }
    return bytes;
}

TEST(CliStreams, FollowGivesBackADownloadExactlyAsPassedOn) {
    ScratchFolder folder;
    const std::string store = folder.Path() + "/run.streams";
    TestListener server;
    CliProcess child(
        {"127.0.0.1", std::to_string(server.Port()), "0", "-detail", "Low", "-streams", store});
    ASSERT_TRUE(child.WaitForOutput("Waiting for connections"));
    const auto port =
        static_cast<std::uint16_t>(NumberAfter(child.Out(), "Local Port (").value_or(0));
    const int client = ConnectLoopback(port);
    const int accepted = server.Accept();
    ASSERT_GE(client, 0);
    ASSERT_GE(accepted, 0);
    ASSERT_TRUE(SendAll(client, "GET /file HTTP/1.0\r\n\r\n"));
    ASSERT_EQ(ReceiveUntil(accepted, "\r\n\r\n"), "GET /file HTTP/1.0\r\n\r\n");
    const std::string file = Download(64 << 20);
    std::thread send([&] {
        SendAll(accepted, file);
        ::close(accepted);
    });
    std::string got;
    char buffer[1 << 16];
    for (ssize_t n = 0; (n = ::recv(client, buffer, sizeof buffer, 0)) > 0;) {
        got.append(buffer, static_cast<std::size_t>(n));
    }
    send.join();
    ::close(client);
    ASSERT_EQ(got.size(), file.size());
    child.Signal(SIGTERM);
    ASSERT_EQ(child.WaitExit(30000), kExitOk);

    const CliResult list = RunCli({"-follow", store});
    ASSERT_EQ(list.exitCode, kExitOk) << list.err;
    std::istringstream lines(list.out);
    std::vector<std::vector<std::string>> table;
    for (std::string line; std::getline(lines, line);) {
        std::istringstream words(line);
        table.emplace_back(std::istream_iterator<std::string>(words),
                           std::istream_iterator<std::string>());
    }
    ASSERT_EQ(table.size(), 2u) << list.out;
    EXPECT_EQ(table[0], (std::vector<std::string>{"Serial", "No.", "Client", "Server", "C->S",
                                                  "S->C", "Started"}));
    const std::vector<std::string>& row = table[1];
    ASSERT_EQ(row.size(), 8u);  // the date and the time are two words
    EXPECT_EQ(row[0], "1");
    EXPECT_EQ(row[3], "127.0.0.1:" + std::to_string(server.Port()));
    EXPECT_EQ(row[4], "22");
    EXPECT_EQ(row[5], "67108864");

    const CliResult down = RunCli({"-follow", store, "1", "down"}, 60000);
    ASSERT_EQ(down.exitCode, kExitOk) << down.err;
    EXPECT_TRUE(down.out == file) << "the download read back differs (" << down.out.size()
                                  << " bytes)";
    const CliResult up = RunCli({"-follow", store, "1", "up"});
    EXPECT_EQ(up.out, "GET /file HTTP/1.0\r\n\r\n");
    const CliResult text = RunCli({"-follow", store, "1"}, 60000);
    ASSERT_EQ(text.exitCode, kExitOk);
    EXPECT_EQ(text.out.find("Client to Server, "), 0u);
    EXPECT_NE(text.out.find(", 22 bytes\nGET /file HTTP/1.0\n\nServer to Client, "),
              std::string::npos);
}

TEST(CliStreams, FollowSaysWhatIsWrongWithExitCodeOne) {
    ScratchFolder folder;
    const std::string other = folder.Path() + "/not-a-store";
    ASSERT_EQ(RunCli({"-follow", other}).exitCode, kExitFailure);
    EXPECT_EQ(RunCli({"-follow"}).exitCode, kExitUsage);
    {
        std::FILE* f = std::fopen(other.c_str(), "w");
        std::fputs("hello\n", f);
        std::fclose(f);
    }
    const CliResult notStore = RunCli({"-follow", other});
    EXPECT_EQ(notStore.exitCode, kExitFailure);
    EXPECT_EQ(notStore.err, other + " is not a kept-streams store\n");

    const std::string store = folder.Path() + "/empty.streams";
    TestListener server;
    CliProcess child({"127.0.0.1", std::to_string(server.Port()), "0", "-streams", store + ",1M"});
    ASSERT_TRUE(child.WaitForOutput("Waiting for connections"));
    child.Signal(SIGTERM);
    ASSERT_EQ(child.WaitExit(), kExitOk);
    const CliResult missing = RunCli({"-follow", store, "7"});
    EXPECT_EQ(missing.exitCode, kExitFailure);
    EXPECT_EQ(missing.err, store + " holds no connection with serial 7\n");
    EXPECT_EQ(RunCli({"-follow", store, "x"}).exitCode, kExitUsage);
    const CliResult uncreated = RunCli({"127.0.0.1", std::to_string(server.Port()), "0", "-streams",
                                        folder.Path() + "/missing/run.streams"});
    EXPECT_EQ(uncreated.exitCode, kExitFailure);
    EXPECT_EQ(uncreated.err, "Could not create kept streams file.\n");
    EXPECT_EQ(RunCli({"-follow", store, "7", "sideways"}).exitCode, kExitUsage);
}

TEST(CliStreams, KeyCListsTheLiveConnectionsOnStandardError) {
    TestListener server;
    ChildOptions options;
    options.pty = true;
    options.env.emplace_back("NO_COLOR", "1");
    CliProcess child({"127.0.0.1", std::to_string(server.Port()), "0", "-detail", "Low"}, options);
    ASSERT_TRUE(child.WaitForOutput("Waiting for connections"));
    child.Type("c");
    ASSERT_TRUE(child.WaitForOutput("No connections\r\n"));
    const auto port =
        static_cast<std::uint16_t>(NumberAfter(child.Out(), "Local Port (").value_or(0));
    std::uint16_t clientPort = 0;
    const int client = ConnectLoopback(port, &clientPort);
    const int accepted = server.Accept();
    ASSERT_TRUE(child.WaitForOutput("Connected to Server"));
    child.Type("c");
    ASSERT_TRUE(child.WaitForOutput("No.  Client"));
    ASSERT_TRUE(child.WaitForOutput("127.0.0.1:" + std::to_string(clientPort) +
                                    "  127.0.0.1:" + std::to_string(server.Port()) + "  Open  "));
    child.Type("q");
    EXPECT_EQ(child.WaitExit(), kExitOk);
    ::close(client);
    ::close(accepted);
}

}  // namespace
}  // namespace corvane::cli::test
