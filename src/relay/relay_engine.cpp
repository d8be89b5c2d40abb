// Placeholder bodies so that the engine's users can build against the interface; the
// relay's behaviour lands in the following commits.
#include "relay/relay_engine.h"

#include <utility>

namespace corvane::relay {

RelayEngine::RelayEngine(log::TrafficLog& log, RelayView& view) : log_(log), view_(view) {}
RelayEngine::~RelayEngine() = default;
void RelayEngine::HandleMessage(platform::UINT, platform::WPARAM, platform::LPARAM) {}
void RelayEngine::SetRemoteTexts(std::string host, std::string port) {
    remoteHostText_ = std::move(host);
    remotePortText_ = std::move(port);
}
bool RelayEngine::Paused() const {
    return false;
}
bool RelayEngine::BeginRelay(const std::string&) {
    return false;
}
void RelayEngine::StopRelay() {}
void RelayEngine::SetRunningState(bool running) {
    view_.ShowRunningState(running);
    running_ = running;
}
void RelayEngine::ReadAllConnections() {}
void RelayEngine::ZeroTransferred() {}
bool RelayEngine::StartLocalLookup() {
    return false;
}
void RelayEngine::CancelLocalLookup() {}
void RelayEngine::OnSocketMessage(platform::WPARAM, platform::LPARAM) {}
bool RelayEngine::OpenLocalPort() {
    return false;
}
void RelayEngine::OnRemoteLookup(int) {}
void RelayEngine::OnLocalLookup(int) {}
void RelayEngine::AcceptClient() {}
bool RelayEngine::ConnectToServer(Connection&) {
    return false;
}
void RelayEngine::OnServerConnect(Connection&, int) {}
int RelayEngine::ReadFromClient(Connection&) {
    return 0;
}
int RelayEngine::ReadFromServer(Connection&) {
    return 0;
}
int RelayEngine::SendToServer(Connection&) {
    return 0;
}
int RelayEngine::SendToClient(Connection&) {
    return 0;
}
void RelayEngine::OnSocketClose(Connection&, platform::SOCKET, int) {}
void RelayEngine::DisconnectServer(Connection&, int) {}
void RelayEngine::DisconnectClient(Connection&, int) {}

}  // namespace corvane::relay
