// Asynchronous host look-ups over QHostInfo. Every answer is checked against the requests
// still pending, because QHostInfo answers from its cache even after the look-up was
// aborted; an answer that passes is queued in the same first-in first-out queue as the
// socket events and checked once more when its turn comes.
#include <QCoreApplication>
#include <QHostAddress>
#include <QHostInfo>
#include <QString>
#include <cstring>
#include <unordered_map>

#include "platform/message_queue.h"
#include "platform/socket_events.h"
#include "platform/winsock.h"

namespace corvane::platform {
namespace detail {
namespace {

// Above every descriptor value, so that an answer can never be taken for a socket event.
constexpr HANDLE kFirstHandle = HANDLE{1} << 32;

struct Lookup {
    MessageTarget* target = nullptr;
    UINT msg = 0;
    HostEntry* result = nullptr;
    int qtId = -1;
    HostEntry answer;  // once answered
};

std::unordered_map<HANDLE, Lookup>& Pending() {
    static std::unordered_map<HANDLE, Lookup> pending;
    return pending;
}

HANDLE nextHandle = kFirstHandle;

// The first IPv4 address, else the first IPv6 one: a name that works over IPv4 today goes on
// being reached the same way.
int ErrorOf(const QHostInfo& info, HostEntry& answer) {
    switch (info.error()) {
        case QHostInfo::NoError:
            break;
        case QHostInfo::HostNotFound:
            return WSAHOST_NOT_FOUND;
        case QHostInfo::UnknownError:
            return WSATRY_AGAIN;
        default:
            return WSANO_RECOVERY;
    }
    for (const QHostAddress& a : info.addresses()) {
        if (a.protocol() == QAbstractSocket::IPv4Protocol) {
            answer.family = AF_INET_;
            answer.address = (htonl)(a.toIPv4Address());
            return 0;
        }
    }
    for (const QHostAddress& a : info.addresses()) {
        if (a.protocol() == QAbstractSocket::IPv6Protocol) {
            const Q_IPV6ADDR bytes = a.toIPv6Address();
            answer.family = AF_INET6_;
            answer.address = 0;
            static_assert(sizeof bytes.c == sizeof answer.address6);
            std::memcpy(answer.address6, bytes.c, sizeof answer.address6);
            return 0;
        }
    }
    return WSANO_DATA;
}

void OnAnswer(HANDLE handle, const QHostInfo& info) {
    auto it = Pending().find(handle);
    if (it == Pending().end() || it->second.qtId != info.lookupId()) {
        return;  // cancelled meanwhile
    }
    const int error = ErrorOf(info, it->second.answer);
    Enqueue({it->second.target, it->second.msg, static_cast<WPARAM>(handle),
             WSAMAKEASYNCREPLY(0, error), Guard::kLookup, handle});
}

}  // namespace

bool TakeLookupAnswer(std::uint64_t handle) {
    auto it = Pending().find(static_cast<HANDLE>(handle));
    if (it == Pending().end()) {
        return false;
    }
    if (it->second.result != nullptr) {
        *it->second.result = it->second.answer;
    }
    Pending().erase(it);
    return true;
}

void CancelAllLookups() {
    for (const auto& [handle, lookup] : Pending()) {
        QHostInfo::abortHostLookup(lookup.qtId);
    }
    Pending().clear();
}

}  // namespace detail

HANDLE WSAAsyncGetHostByName(MessageTarget* target, UINT msg, const char* name, HostEntry* result) {
    using namespace detail;
    if (!SocketsStarted()) {
        WSASetLastError(WSANOTINITIALISED);
        return 0;
    }
    QCoreApplication* app = QCoreApplication::instance();
    if (app == nullptr || name == nullptr) {
        WSASetLastError(app == nullptr ? WSASYSNOTREADY : WSAEFAULT);
        return 0;
    }
    const HANDLE handle = nextHandle++;
    Lookup& lookup = Pending()[handle];
    lookup.target = target;
    lookup.msg = msg;
    lookup.result = result;
    // QHostInfo always answers later from the event loop, never inside this call, so the
    // request is recorded before any answer can be looked for.
    lookup.qtId = QHostInfo::lookupHost(
        QString::fromUtf8(name), app, [handle](const QHostInfo& info) { OnAnswer(handle, info); });
    return handle;
}

int WSACancelAsyncRequest(HANDLE request) {
    auto& pending = detail::Pending();
    auto it = pending.find(request);
    if (it == pending.end()) {
        WSASetLastError(WSAEINVAL);
        return SOCKET_ERROR;
    }
    QHostInfo::abortHostLookup(it->second.qtId);
    pending.erase(it);
    return 0;
}

}  // namespace corvane::platform
