#include "fault_support.h"

#include <dirent.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <sstream>

#include "log/traffic_log.h"
#include "platform/winsock.h"
#include "support/event_loop_wait.h"

namespace corvane::faults {

using corvane::test::WaitFor;

// --- Views ------------------------------------------------------------------------------------

std::string RecordingControlView::EditText(control::EditBox box) const {
    return texts[static_cast<int>(box)];
}

void RecordingControlView::SetEditText(control::EditBox box, std::string_view text) {
    texts[static_cast<int>(box)] = std::string(text);
}

void RecordingRelayView::ShowCounter(relay::Counter counter, std::string_view text) {
    labels[static_cast<int>(counter)] = std::string(text);
}

// --- Fixture ----------------------------------------------------------------------------------

void FaultTest::SetUp() {
    ASSERT_TRUE(dir_.isValid());
    // The settings store is never read or written here; keep it away from the user's anyway.
    qputenv("XDG_CONFIG_HOME", dir_.path().toUtf8());
    control_ = std::make_unique<control::RelayControl>(view_, relayView_, &logView_, nullptr);
    control_->Log().BufferSize = log::kUnlimited;
    control_->Log().Detail = log::kDetailMedium;
    // The descriptors counted are the relay's own: no kept streams (on by default), whose
    // file would close at Stop beside the Log File.
    control_->SetKeepStreams(0);
    // The socket layer without the local look-up, whose answer would open descriptors of
    // its own in the middle of a case.
    ASSERT_EQ(platform::WSAStartup(0x0101), 0);
    serverListen_ = ListenPeer(serverPort_);
    ASSERT_GE(serverListen_, 0);
}

void FaultTest::TearDown() {
    if (control_ && control_->Running()) {
        control_->Stop();
    }
    for (int fd : peers_) {
        ::close(fd);
    }
    peers_.clear();
    if (serverListen_ >= 0) {
        ::close(serverListen_);
    }
    control_.reset();
    platform::WSACleanup();
}

control::StartResult FaultTest::StartRelay(const std::string& remoteHost,
                                           const std::string& remotePort,
                                           const std::string& logFile) {
    view_.SetEditText(control::EditBox::RemoteHost, remoteHost);
    view_.SetEditText(control::EditBox::RemotePort, remotePort);
    view_.SetEditText(control::EditBox::LocalPort, "0");
    view_.SetEditText(control::EditBox::LogFile, logFile);
    return control_->Start();
}

control::StartResult FaultTest::StartToServer(const std::string& logFile) {
    return StartRelay("127.0.0.1", std::to_string(serverPort_), logFile);
}

Lines FaultTest::ViewLines() {
    while (control_->Log().FlushLogRun()) {
    }
    Lines lines;
    std::size_t at = 0;
    const std::string& text = logView_.text;
    while (at < text.size()) {
        std::size_t end = text.find("\r\n", at);
        if (end == std::string::npos) {
            end = text.size();
        }
        std::string line = text.substr(at, end - at);
        at = end + 2;
        const bool header = line.find(": Client to Server (") != std::string::npos ||
                            line.find(": Server to Client (") != std::string::npos;
        if (!header) {
            lines.push_back(std::move(line));
        }
    }
    return lines;
}

Lines FaultTest::LinesOf(int number) {
    const std::string prefix = std::to_string(number) + ": ";
    Lines mine;
    for (const std::string& line : ViewLines()) {
        if (line.rfind(prefix, 0) == 0) {
            mine.push_back(line.substr(prefix.size()));
        }
    }
    return mine;
}

int FaultTest::LastConnectionNumber() {
    int number = -1;
    for (const std::string& line : ViewLines()) {
        const std::size_t at = line.find(": Client connected; ");
        if (at != std::string::npos) {
            number = std::stoi(line.substr(0, at));
        }
    }
    return number;
}

bool FaultTest::ConnectThrough(int& client, int& server, int& number, int clientReceiveBuffer) {
    client = Keep(ConnectPeer(LocalPort(), clientReceiveBuffer));
    if (client < 0) {
        return false;
    }
    server = Keep(AcceptPeer(serverListen_));
    if (server < 0) {
        return false;
    }
    number = -1;
    return WaitFor([&] {
        number = LastConnectionNumber();
        const Lines lines = LinesOf(number);
        return std::find(lines.begin(), lines.end(), "Connected to Server") != lines.end();
    });
}

int FaultTest::Keep(int fd) {
    if (fd >= 0) {
        peers_.push_back(fd);
    }
    return fd;
}

void FaultTest::Drop(int fd, bool reset) {
    const auto at = std::find(peers_.begin(), peers_.end(), fd);
    if (at == peers_.end()) {
        return;
    }
    peers_.erase(at);
    if (reset) {
        ResetPeer(fd);
    } else {
        ::close(fd);
    }
}

void FaultTest::ExpectIdleCounters() {
    const relay::RelayEngine& engine = control_->Engine();
    EXPECT_EQ(engine.ConnectionCount(), 0);
    EXPECT_EQ(engine.CSBuffered(), 0);
    EXPECT_EQ(engine.SCBuffered(), 0);
    EXPECT_EQ(relayView_.labels[static_cast<int>(relay::Counter::Connections)], "0");
    EXPECT_EQ(relayView_.labels[static_cast<int>(relay::Counter::CSBuffered)], "0");
    EXPECT_EQ(relayView_.labels[static_cast<int>(relay::Counter::SCBuffered)], "0");
}

std::string FaultTest::ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

// --- What the cases measure ----------------------------------------------------------------

std::string ClientConnected(int fd) {
    return "Client connected; 127.0.0.1:" + std::to_string(corvane::test::LocalPortOf(fd));
}

int OpenDescriptors() {
    DIR* dir = ::opendir("/proc/self/fd");
    if (dir == nullptr) {
        return -1;
    }
    int count = 0;
    while (const dirent* entry = ::readdir(dir)) {
        if (entry->d_name[0] != '.') {
            ++count;
        }
    }
    ::closedir(dir);
    return count - 1;  // the directory's own descriptor
}

std::string DescriptorList() {
    std::string list;
    DIR* dir = ::opendir("/proc/self/fd");
    if (dir == nullptr) {
        return list;
    }
    while (const dirent* entry = ::readdir(dir)) {
        if (entry->d_name[0] == '.') {
            continue;
        }
        char target[256] = {};
        const std::string path = std::string("/proc/self/fd/") + entry->d_name;
        const ssize_t n = ::readlink(path.c_str(), target, sizeof target - 1);
        list += std::string(entry->d_name) + " -> " + (n > 0 ? target : "?") + "\n";
    }
    ::closedir(dir);
    return list;
}

std::string Pattern(std::size_t n, unsigned seed) {
    std::string bytes(n, '\0');
    std::uint32_t x = seed * 2654435761u + 1;
    for (char& c : bytes) {
        x = x * 1664525u + 1013904223u;
        c = static_cast<char>(x >> 24);
    }
    return bytes;
}

std::string Numbered(int number, std::string_view text) {
    return std::to_string(number) + ": " + std::string(text);
}

}  // namespace corvane::faults
