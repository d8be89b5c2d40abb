// Recording views for the relay control, the loopback peers of tests/support (the Clients
// and Servers of the tests are outside programs to the relay), and a fixture that points the
// settings store at a temporary directory.
#pragma once

#include <gtest/gtest.h>
#include <QTemporaryDir>
#include <map>
#include <string>
#include <vector>

#include "control/control_view.h"
#include "log/log_view.h"
#include "relay/relay_view.h"
#include "support/loopback_peers.h"
#include "support/recording_log_view.h"
#include "support/temporary_settings.h"

namespace corvane::control::test {

class FakeControlView final : public ControlView {
public:
    std::string EditText(EditBox box) const override;
    void SetEditText(EditBox box, std::string_view text) override;
    void FocusEdit(EditBox box) override { focus.push_back(box); }
    void ShowPaused(bool paused) override { pausedShown.push_back(paused); }
    void ShowError(std::string_view message) override { errors.emplace_back(message); }
    void ShowSocketError(std::string_view text) override { socketErrors.emplace_back(text); }
    bool AskCloseQuestion() override {
        ++questions;
        return answerYes;
    }
    void CheckHexOnly(bool on) override { hexOnlyChecks.push_back(on); }
    void CloseWindow() override { ++closeRequests; }

    std::map<EditBox, std::string> texts;
    std::vector<EditBox> focus;
    std::vector<bool> pausedShown;
    std::vector<std::string> errors;
    std::vector<std::string> socketErrors;
    int questions = 0;
    bool answerYes = true;
    std::vector<bool> hexOnlyChecks;
    int closeRequests = 0;
};

class FakeRelayView final : public relay::RelayView {
public:
    void ShowCounter(relay::Counter counter, std::string_view text) override {
        counters[counter] = std::string(text);
    }
    void ShowLocalAddress(std::string_view text) override { localAddress = std::string(text); }
    void ShowRunningState(bool running) override { runningStates.push_back(running); }

    std::map<relay::Counter, std::string> counters;
    std::string localAddress;
    std::vector<bool> runningStates;
};

using FakeLogView = corvane::test::RecordingLogView;  // tests/support/recording_log_view.h

class FakeLogMenu final : public log::LogMenuView {
public:
    void CheckBufferSize(std::int32_t value) override { bufferSizes.push_back(value); }
    void CheckDetail(std::uint32_t level) override { details.push_back(level); }

    std::vector<std::int32_t> bufferSizes;
    std::vector<std::uint32_t> details;
};

// Points the user's settings store at a fresh temporary directory for each test, and gives
// it another one for its files.
class TempStoreTest : public ::testing::Test {
protected:
    void SetUp() override;
    // The file the store writes.
    QString StoreFile() const { return store_.FilePath(); }

    corvane::test::TemporarySettings store_;
    QTemporaryDir dir_;
};

// --- Loopback peers ----------------------------------------------------------------------
// ListenPeer, ConnectedPeer, SendPeer, ReceivePeer, ... of tests/support/loopback_peers.h.
using namespace corvane::test;

// The whole content of a file; empty when it cannot be read.
std::string ReadFile(const std::string& path);

}  // namespace corvane::control::test
