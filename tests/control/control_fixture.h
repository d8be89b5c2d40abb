// A RelayControl over recording views with a temporary settings store and the socket layer
// started, and helpers for a run between a loopback Client and Server.
#pragma once

#include <memory>
#include <string>

#include "control/relay_control.h"
#include "control_support.h"

namespace corvane::control::test {

class ControlTest : public TempStoreTest {
protected:
    void SetUp() override;
    void TearDown() override;

    void SetTexts(const std::string& host, const std::string& remotePort,
                  const std::string& localPort, const std::string& logFile = {});
    // A path inside the temporary directory.
    std::string PathOf(const char* name) const;
    // Starts a relay from 127.0.0.1:<any> to a raw test Server, with the Log File given;
    // connects a Client and waits until the relay has connected it through. False (with
    // a test failure) when any step fails.
    bool StartWithPeers(const std::string& logFile = {});
    // What the view shows for a counter ("" when it was never shown).
    std::string Shown(relay::Counter counter) const;

    FakeControlView view_;
    FakeRelayView relayView_;
    FakeLogView logView_;
    FakeLogMenu menu_;
    std::unique_ptr<RelayControl> control_;
    int server_ = -1;     // listening
    int serverEnd_ = -1;  // the relay's connection, accepted by the Server
    int client_ = -1;
};

}  // namespace corvane::control::test
