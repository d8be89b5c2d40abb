#include "platform/write_behind.h"

#include <sys/epoll.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

#include <QAbstractEventDispatcher>
#include <QPointer>
#include <QTimer>
#include <cerrno>
#include <cstring>
#include <vector>

#include "platform/byte_block.h"
#include "platform/socket_events.h"
#include "platform/tls_internal.h"

namespace corvane::platform::detail {
namespace {

// A signal handler may interrupt a call; it is repeated a few times before giving up.
constexpr int kInterruptRetries = 8;

int passDepth = 0;
// Numbers the outermost passes; 0 is never used, so that a fresh socket has sent in none.
std::uint32_t passNumber = 0;

// The sockets given a block since the last write of joined sends, with their generations.
std::vector<std::uint64_t>& Joined() {
    static std::vector<std::uint64_t> joined;
    return joined;
}

// One write of the held bytes followed by the new ones (either may be empty): a plain send
// for one piece, which costs the kernel less than a gathering sendmsg.
ssize_t WriteTwo(int fd, const char* first, int firstLen, const char* second, int secondLen,
                 int& error) {
    iovec pieces[2] = {{const_cast<char*>(first), static_cast<std::size_t>(firstLen)},
                       {const_cast<char*>(second), static_cast<std::size_t>(secondLen)}};
    const iovec* from = firstLen > 0 ? pieces : pieces + 1;
    const bool both = firstLen > 0 && secondLen > 0;
    msghdr message{};
    message.msg_iov = const_cast<iovec*>(from);
    message.msg_iovlen = 2;
    ssize_t n = -1;
    for (int attempt = 0; attempt < kInterruptRetries; ++attempt) {
        n = both ? ::sendmsg(fd, &message, MSG_NOSIGNAL)
                 : ::send(fd, from->iov_base, from->iov_len, MSG_NOSIGNAL);
        error = n < 0 ? errno : 0;
        if (error != EINTR) {
            break;
        }
    }
    return n;
}

bool WouldBlock(int error) {
    return error == EAGAIN || error == EWOULDBLOCK;
}

void Release(int fd, SocketState& st) {
    ReturnBlock(st.behind, BlockUse::kWriteBehind);
    st.behind = nullptr;
    st.behindBlocked = false;
    if (st.finAfterHeld) {
        // shutdown came while bytes were held: its FIN goes right behind the last of them.
        st.finAfterHeld = false;
        ::shutdown(fd, SHUT_WR);
    }
}

void WriteJoined() {
    // Writing held bytes never joins more, so the list does not change while it is walked.
    for (const std::uint64_t key : Joined()) {
        const int fd = static_cast<int>(key & 0xFFFFFFFFu);
        SocketState* st = Sockets().Find(fd);
        if (st == nullptr || SocketTable::Key(fd, st->generation) != key) {
            continue;
        }
        if (st->tls != nullptr) {
            TlsWriteJoined(fd, *st);
        } else if (st->behind != nullptr && !st->behindBlocked) {
            WriteHeld(fd, *st);
        }
    }
    Joined().clear();
}

// Joined bytes never wait for a pass that does not come: the event loop writes them before
// it waits (a modal box opened by a handler runs a loop of its own inside the pass).
void WriteJoinedBeforeWaiting() {
    static QPointer<QAbstractEventDispatcher> connected;
    QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance();
    if (dispatcher != nullptr && connected != dispatcher) {
        connected = dispatcher;
        QObject::connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, dispatcher,
                         [] { WriteJoined(); });
    }
}

void FinishLinger(int fd) {
    if (const SocketState* st = Sockets().FindAny(fd); st != nullptr && !st->inputDrained) {
        ReadAwayInput(fd);
    }
    Sockets().Forget(fd);
    ::close(fd);
}

}  // namespace

long SendJoined(int fd, SocketState& st, const char* buf, int len, int& error) {
    len = len < 0 ? 0 : len;
    if (st.sendError != 0) {
        error = st.sendError;
        return -1;
    }
    ByteBlock* block = st.behind;
    if (block != nullptr && st.behindBlocked) {
        error = EAGAIN;
        return -1;
    }
    // The first send of a pass goes out at once, so that a request or an answer is not held
    // back while the pass goes on; the later ones are joined. Only on a socket whose write
    // edges are watched: that is what brings out the bytes the kernel refuses at the end.
    const bool again = passDepth > 0 && st.sendPass == passNumber;
    st.sendPass = passDepth > 0 ? passNumber : 0;
    if (again && len > 0 && st.phase == Phase::kConnected && st.watched && st.nonBlocking) {
        if (block == nullptr && len < kBlockBytes &&
            (block = st.behind = TakeBlock(BlockUse::kWriteBehind)) != nullptr) {
            Joined().push_back(SocketTable::Key(fd, st.generation));
            WriteJoinedBeforeWaiting();
        }
        if (block != nullptr && len <= block->Room()) {
            std::memcpy(block->bytes + block->end, buf, static_cast<std::size_t>(len));
            block->end += len;
            return len;
        }
    }
    // Straight to the kernel, behind what the block holds, in one call.
    const int held = block != nullptr ? block->Held() : 0;
    if (held == 0) {
        return WriteTwo(fd, nullptr, 0, buf, len, error);
    }
    const ssize_t n = WriteTwo(fd, block->bytes + block->begin, held, buf, len, error);
    if (n < 0) {
        if (WouldBlock(error)) {
            st.behindBlocked = true;
        } else {
            st.sendError = error;
            Release(fd, st);
        }
        return -1;
    }
    if (n < held) {
        block->begin += static_cast<int>(n);
        st.behindBlocked = true;
        error = EAGAIN;
        return -1;
    }
    Release(fd, st);
    if (n == held && len > 0) {
        error = EAGAIN;  // the held bytes took the last room
        return -1;
    }
    return static_cast<long>(n - held);
}

bool JoinTlsSend(int fd, SocketState& st, bool& listed) {
    const bool again = passDepth > 0 && st.sendPass == passNumber;
    st.sendPass = passDepth > 0 ? passNumber : 0;
    if (!again || !st.watched || !st.nonBlocking) {
        return false;
    }
    if (!listed) {
        listed = true;
        Joined().push_back(SocketTable::Key(fd, st.generation));
        WriteJoinedBeforeWaiting();
    }
    return true;
}

bool WriteHeld(int fd, SocketState& st) {
    ByteBlock* block = st.behind;
    if (block == nullptr) {
        return true;
    }
    int error = 0;
    const ssize_t n = WriteTwo(fd, block->bytes + block->begin, block->Held(), nullptr, 0, error);
    if (n < 0 && !WouldBlock(error)) {
        // The connection is broken: what it held is lost with it, as the kernel's own
        // buffer would be; the next send reports why.
        st.sendError = error;
        Release(fd, st);
        return true;
    }
    if (n > 0) {
        block->begin += static_cast<int>(n);
    }
    if (block->Held() == 0) {
        Release(fd, st);
        return true;
    }
    st.behindBlocked = true;
    return false;
}

void BeginSendPass() {
    if (passDepth++ == 0 && ++passNumber == 0) {
        passNumber = 1;
    }
}

void EndSendPass() {
    --passDepth;
    WriteJoined();
}

bool ShutdownAfterHeld(int fd, SocketState& st) {
    if (st.behind == nullptr || WriteHeld(fd, st)) {
        return true;
    }
    st.finAfterHeld = true;
    return false;
}

bool LingerIfHeld(int fd, SocketState& st) {
    if (st.behind == nullptr) {
        return false;
    }
    if (st.phase != Phase::kConnected || WriteHeld(fd, st)) {
        Release(fd, st);
        return false;
    }
    Linger(fd, st);
    return true;
}

void Linger(int fd, SocketState& st) {
    // The program is done with the socket; the descriptor stays open (so its number is not
    // handed out again) until the held bytes are out.
    st.phase = Phase::kLingering;
    st.target = nullptr;
    st.mask = 0;
    ReturnBlock(st.ahead, BlockUse::kReadAhead);  // unread input is not wanted any more
    st.ahead = nullptr;
    const std::uint64_t key = SocketTable::Key(fd, st.generation);
    QTimer::singleShot(kLingerSeconds * 1000, [fd, key] {
        const SocketState* s = Sockets().FindAny(fd);
        if (s != nullptr && s->phase == Phase::kLingering &&
            SocketTable::Key(fd, s->generation) == key) {
            FinishLinger(fd);
        }
    });
}

void OnLingeringEdge(int fd, SocketState& st, std::uint32_t events) {
    if ((events & EPOLLIN) != 0) {
        st.inputDrained = false;
    }
    // A socket with a TLS session lingers with it: its ciphertext waits in the session.
    if ((events & (EPOLLERR | EPOLLHUP)) != 0 ||
        ((events & EPOLLOUT) != 0 &&
         (st.tls != nullptr ? TlsWriteLingering(fd, st) : WriteHeld(fd, st)))) {
        FinishLinger(fd);
    }
}

void EndLinger(int fd) {
    if (const SocketState* st = Sockets().FindAny(fd);
        st != nullptr && st->phase == Phase::kLingering) {
        FinishLinger(fd);
    }
}

}  // namespace corvane::platform::detail
