#include "app/cli/socket_layer.h"

#include <cstdint>

#include "platform/winsock.h"

namespace corvane::cli {

namespace {
constexpr std::uint16_t kSocketVersion11 = 0x0101;
}  // namespace

SocketLayer::SocketLayer() : error_(platform::WSAStartup(kSocketVersion11)) {}

SocketLayer::~SocketLayer() {
    if (error_ == 0) {
        platform::WSACleanup();
    }
}

}  // namespace corvane::cli
