// The relay control over recording views, raw POSIX peers on 127.0.0.1 (outside programs as
// far as the relay can tell), and the measures that every fault case ends with: the counters
// back at 0 and no descriptor left open.
#pragma once

#include <gtest/gtest.h>
#include <QTemporaryDir>

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "control/control_view.h"
#include "control/relay_control.h"
#include "log/log_view.h"
#include "relay/relay_view.h"
#include "support/loopback_peers.h"
#include "support/recording_log_view.h"

namespace corvane::faults {

class RecordingControlView final : public control::ControlView {
public:
    std::string EditText(control::EditBox box) const override;
    void SetEditText(control::EditBox box, std::string_view text) override;
    void FocusEdit(control::EditBox box) override { focus.push_back(box); }
    void ShowPaused(bool) override {}
    void ShowError(std::string_view message) override { errors.emplace_back(message); }
    void ShowSocketError(std::string_view text) override { errors.emplace_back(text); }
    bool AskCloseQuestion() override { return true; }
    void CheckHexOnly(bool) override {}
    void CloseWindow() override {}

    std::string texts[4];
    std::vector<control::EditBox> focus;
    std::vector<std::string> errors;
};

class RecordingRelayView final : public relay::RelayView {
public:
    void ShowCounter(relay::Counter counter, std::string_view text) override;
    void ShowLocalAddress(std::string_view) override {}
    void ShowRunningState(bool running) override { states.push_back(running); }

    std::string labels[5] = {"0", "0", "0", "0", "0"};
    std::vector<bool> states;
};

using Lines = std::vector<std::string>;

// --- Raw peers ------------------------------------------------------------------------------
// Every wait runs the event loop, so the relay in this process moves meanwhile
// (ListenPeer, ConnectPeer, SendPeer, ... of tests/support/loopback_peers.h).
using namespace corvane::test;

// "Client connected; 127.0.0.1:<port>" for the Client's end fd.
std::string ClientConnected(int fd);
// Descriptors open in this process (/proc/self/fd).
int OpenDescriptors();
// What they are, one per line ("7 -> socket:[1234]"), for the message of a failed check.
std::string DescriptorList();
// n reproducible bytes, all 256 values.
std::string Pattern(std::size_t n, unsigned seed);

// --- The fixture ------------------------------------------------------------------------------

class FaultTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Start with the edit boxes' texts (Local Port "0": any free port).
    control::StartResult StartRelay(const std::string& remoteHost, const std::string& remotePort,
                                    const std::string& logFile = {});
    // Start towards the fixture's own Server listener.
    control::StartResult StartToServer(const std::string& logFile = {});
    std::uint16_t LocalPort() const { return control_->Engine().LocalPortNumber; }

    // The lines the Log Buffer view received (every waiting run moved first), without the
    // headers of relayed blocks, whose number depends on how the kernel splits the bytes.
    Lines ViewLines();
    // The lines of one Connection, the "n: " cut off, in order.
    Lines LinesOf(int number);
    // The number of the newest Connection whose "Client connected" line is in the view.
    int LastConnectionNumber();
    // A Client connected through to the fixture's Server: both ends, and the Connection's
    // number in the log.
    bool ConnectThrough(int& client, int& server, int& number, int clientReceiveBuffer = 0);
    // The fixture closes a kept peer at the end of the case, unless Drop closed it first.
    int Keep(int fd);
    void Drop(int fd, bool reset = false);

    // ConnectionCount and both Buffered counters at 0, in the engine and on the labels.
    void ExpectIdleCounters();
    // The file's whole content.
    static std::string ReadFile(const std::string& path);
    std::string PathOf(const char* name) const {
        return dir_.filePath(QString::fromUtf8(name)).toStdString();
    }

    QTemporaryDir dir_;
    RecordingControlView view_;
    RecordingRelayView relayView_;
    RecordingLogView logView_;  // the whole text: the log's Buffer Size has no limit
    std::unique_ptr<control::RelayControl> control_;
    int serverListen_ = -1;
    std::uint16_t serverPort_ = 0;
    std::vector<int> peers_;
};

std::string Numbered(int number, std::string_view text);

}  // namespace corvane::faults
