#include "control_fixture.h"

#include "support/event_loop_wait.h"

namespace corvane::control::test {

void ControlTest::SetUp() {
    TempStoreTest::SetUp();
    control_ = std::make_unique<RelayControl>(view_, relayView_, &logView_, &menu_);
    ASSERT_TRUE(control_->StartSockets());
}

void ControlTest::TearDown() {
    control_.reset();
    ClosePeer(client_);
    ClosePeer(serverEnd_);
    ClosePeer(server_);
}

void ControlTest::SetTexts(const std::string& host, const std::string& remotePort,
                           const std::string& localPort, const std::string& logFile) {
    view_.texts[EditBox::RemoteHost] = host;
    view_.texts[EditBox::RemotePort] = remotePort;
    view_.texts[EditBox::LocalPort] = localPort;
    view_.texts[EditBox::LogFile] = logFile;
}

std::string ControlTest::PathOf(const char* name) const {
    return (dir_.path() + QLatin1Char('/') + QString::fromUtf8(name)).toStdString();
}

bool ControlTest::StartWithPeers(const std::string& logFile) {
    std::uint16_t serverPort = 0;
    server_ = ListenPeer(serverPort);
    EXPECT_GE(server_, 0);
    SetTexts("127.0.0.1", std::to_string(serverPort), "", logFile);
    EXPECT_EQ(control_->Start(), StartResult::Started);
    client_ = ConnectedPeer(control_->Engine().LocalPortNumber);
    EXPECT_GE(client_, 0);
    serverEnd_ = AcceptPeer(server_);
    EXPECT_GE(serverEnd_, 0);
    const bool connected = corvane::test::WaitFor([&] {
        const relay::Connection* c = control_->Engine().ConnectionList();
        return c != nullptr && c->connected;
    });
    EXPECT_TRUE(connected);
    return server_ >= 0 && client_ >= 0 && serverEnd_ >= 0 && connected;
}

std::string ControlTest::Shown(relay::Counter counter) const {
    const auto it = relayView_.counters.find(counter);
    return it == relayView_.counters.end() ? std::string() : it->second;
}

}  // namespace corvane::control::test
