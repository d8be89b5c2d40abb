// Socket events as messages. One edge-triggered epoll set holds every registered socket, so
// the work per wake-up is proportional to the sockets that became ready, not to the sockets
// that are open. Under the program's own event loop (epoll_dispatcher.h) the set is the
// loop's, which hands the events over as it waits; under Qt's loop the set is our own and is
// watched by one QSocketNotifier. The edges are turned into Winsock's
// one-shot events: each event is posted once and re-enabled only by the call that consumes
// it (recv for FD_READ, accept for FD_ACCEPT, a send that would block for FD_WRITE).
#include <fcntl.h>
#include <sys/epoll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QPointer>
#include <QSocketNotifier>
#include <cerrno>

#include "platform/byte_block.h"
#include "platform/epoll_dispatcher.h"
#include "platform/message_queue.h"
#include "platform/socket_events.h"
#include "platform/socket_table.h"
#include "platform/tls_internal.h"
#include "platform/write_behind.h"

namespace corvane::platform {
namespace detail {
namespace {

constexpr int kEventsPerWake = 512;
// Rounds of one wake-up under Qt's loop; the program's own loop has the same limit.
constexpr int kRoundsPerWake = 4;
constexpr std::uint32_t kWatchedEvents = EPOLLIN | EPOLLOUT | EPOLLRDHUP | EPOLLET;

class Readiness {
public:
    // False when the epoll set or its notifier cannot be made (no application object).
    bool Ensure() {
        if (sharing_ && loop_.isNull()) {
            // The loop whose set this was is gone, and its set with it.
            sharing_ = false;
            epoll_ = -1;
        }
        if (epoll_ < 0) {
            if (EpollEventDispatcher* loop = EpollEventDispatcher::Current()) {
                loop_ = loop;
                sharing_ = true;
                epoll_ = loop->EpollSet();
                loop->SetSocketEventHandler([this](const epoll_event* events, int count) {
                    return RunPass(events, count);
                });
                return true;
            }
            epoll_ = ::epoll_create1(EPOLL_CLOEXEC);
            if (epoll_ < 0) {
                return false;
            }
        }
        if (sharing_) {
            return true;
        }
        if (notifier_.isNull()) {
            QCoreApplication* app = QCoreApplication::instance();
            if (app == nullptr) {
                return false;
            }
            // Parented to the application so that it is gone before the event loop is.
            notifier_ = new QSocketNotifier(epoll_, QSocketNotifier::Read, app);
            QObject::connect(notifier_.data(), &QSocketNotifier::activated, notifier_.data(),
                             [this] { Dispatch(); });
        }
        return true;
    }

    int Watch(int fd, std::uint64_t key, bool again) {
        epoll_event ev{};
        ev.events = kWatchedEvents;
        ev.data.u64 = key;
        // Adding (or modifying) also reports what is ready already, so a socket registered
        // with data waiting or a connection pending gets its event.
        if (again && ::epoll_ctl(epoll_, EPOLL_CTL_MOD, fd, &ev) == 0) {
            return 0;
        }
        // Also when a socket registered before is not in this set: the loop whose set it was
        // has been replaced.
        return ::epoll_ctl(epoll_, EPOLL_CTL_ADD, fd, &ev);
    }

    // Called after a socket is added to the set.
    void NoteRegistered() { registeredInPass_ = true; }
    // Called after a send that took bytes.
    void NoteSent() { sentInPass_ = true; }

private:
    void Dispatch();
    // Turns one batch of edges into messages and hands them over at once; says whether the
    // pass registered sockets (worth another look without waiting) and whether it sent bytes.
    EpollEventDispatcher::SocketPass RunPass(const epoll_event* events, int count);
    void HandleEvents(const epoll_event* events, int count);

    int epoll_ = -1;
    QPointer<QSocketNotifier> notifier_;
    // Set when epoll_ belongs to the program's own loop.
    bool sharing_ = false;
    QPointer<EpollEventDispatcher> loop_;
    bool registeredInPass_ = false;
    bool sentInPass_ = false;
};

Readiness& Watcher() {
    static Readiness readiness;
    return readiness;
}

int BytesWaiting(int fd) {
    int n = 0;
    return ::ioctl(fd, FIONREAD, &n) == 0 ? n : 0;
}

// Reads and clears the socket's pending error (errno numbering).
int PendingError(int fd) {
    int error = 0;
    socklen_t len = sizeof error;
    return ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &len) == 0 ? error : errno;
}

void Post(int fd, const SocketState& s, long event, int error) {
    if ((s.mask & event) == 0 || s.target == nullptr) {
        return;
    }
    Enqueue({s.target, s.msg, static_cast<WPARAM>(fd), WSAMAKESELECTREPLY(event, error),
             Guard::kSocket, SocketTable::Key(fd, s.generation)});
}

}  // namespace

void PostSocketEvent(SOCKET s, const SocketState& state, long event, int error) {
    Post(s, state, event, error);
}

namespace {

void PostRead(int fd, SocketState& s) {
    s.readArmed = false;
    Post(fd, s, FD_READ, 0);
}

// FD_CLOSE goes out once: at once after a reset, and after a graceful close only when
// nothing that arrived before the close is still waiting to be read.
void MaybePostClose(int fd, SocketState& s, int waiting) {
    if (s.closePosted || !s.peerClosed || (s.closeError == 0 && waiting != 0)) {
        return;
    }
    s.closePosted = true;
    Post(fd, s, FD_CLOSE, s.closeError);
}

void OnConnectedEdge(int fd, SocketState& s, std::uint32_t ev) {
    if (s.tls != nullptr) {
        TlsOnEdge(fd, s, ev);  // the events are about the session's plain bytes
        return;
    }
    const bool hangup = (ev & (EPOLLRDHUP | EPOLLHUP | EPOLLERR)) != 0;
    if ((ev & EPOLLIN) != 0) {
        s.inputDrained = false;
    }
    // A hang-up also raises EPOLLIN; FD_READ is only for bytes, so count them then (those
    // read ahead too: they come before the end).
    const int ahead = s.ahead != nullptr ? s.ahead->Held() : 0;
    const int waiting = hangup ? BytesWaiting(fd) + ahead : 1;
    if ((ev & EPOLLIN) != 0 && s.readArmed && waiting > 0) {
        PostRead(fd, s);
    }
    // Room for sends: held bytes go first, and only once they are all out is there room for
    // the program's next send.
    if ((ev & EPOLLOUT) != 0 && (s.behind == nullptr || WriteHeld(fd, s)) && s.writeArmed) {
        s.writeArmed = false;
        Post(fd, s, FD_WRITE, 0);
    }
    if (hangup) {
        s.peerClosed = true;
        if ((ev & EPOLLERR) != 0) {
            if (const int error = PendingError(fd); error != 0) {
                s.closeError = ErrorFromErrno(error);
            }
        }
        MaybePostClose(fd, s, waiting);
    }
}

void OnConnectingEdge(int fd, SocketState& s, std::uint32_t ev) {
    if ((ev & (EPOLLOUT | EPOLLERR | EPOLLHUP)) == 0) {
        return;
    }
    // Writable without an error or hang-up means connected; only then is the pending error
    // not read (it is 0).
    const bool clean = (ev & (EPOLLERR | EPOLLHUP)) == 0 && (ev & EPOLLOUT) != 0;
    const int error = clean ? 0 : PendingError(fd);
    if (error == 0 && (ev & EPOLLERR) == 0 && (ev & EPOLLOUT) != 0) {
        s.phase = Phase::kConnected;
        Post(fd, s, FD_CONNECT, 0);
        Post(fd, s, FD_WRITE, 0);
        // The first bytes, or even the peer's close, may have come with the same edge.
        OnConnectedEdge(fd, s, ev & ~static_cast<std::uint32_t>(EPOLLOUT));
        return;
    }
    // While connecting, every failure is the connect's own: no FD_CLOSE follows.
    s.phase = Phase::kFailed;
    Post(fd, s, FD_CONNECT, error != 0 ? ErrorFromErrno(error) : WSAECONNREFUSED);
}

void Readiness::Dispatch() {
    // A pass that registered sockets (a Client accepted, a connect begun) usually finds them
    // ready at once, the Client's first bytes waiting and a loopback connect complete: they
    // are collected in the same wake-up, a few rounds at most, rather than in the next one.
    for (int round = 0; round < kRoundsPerWake; ++round) {
        epoll_event events[kEventsPerWake];
        // One batch per round: the notifier is level-triggered and fires again while more
        // edges wait.
        const int n = ::epoll_wait(epoll_, events, kEventsPerWake, 0);
        if (!RunPass(events, n).lookAgain || (n <= 0 && round > 0)) {
            return;
        }
    }
}

EpollEventDispatcher::SocketPass Readiness::RunPass(const epoll_event* events, int count) {
    registeredInPass_ = false;
    sentInPass_ = false;
    // The events are handed over right after they are queued, in the same wake-up, instead
    // of in a pass scheduled through the event loop (which costs a wake-up of its own).
    HoldPassScheduling();
    HandleEvents(events, count);
    RunPassNow();  // also lifts the hold on scheduling
    return {registeredInPass_, sentInPass_};
}

void Readiness::HandleEvents(const epoll_event* events, int n) {
    for (int i = 0; i < n; ++i) {
        const std::uint64_t key = events[i].data.u64;
        const int fd = static_cast<int>(key & 0xFFFFFFFFu);
        SocketState* s = Sockets().FindAny(fd);
        if (s == nullptr || SocketTable::Key(fd, s->generation) != key) {
            continue;
        }
        const std::uint32_t ev = events[i].events;
        switch (s->phase) {
            case Phase::kListening:
                if ((ev & EPOLLIN) != 0 && s->acceptArmed) {
                    s->acceptArmed = false;
                    Post(fd, *s, FD_ACCEPT, 0);
                }
                break;
            case Phase::kConnecting:
                OnConnectingEdge(fd, *s, ev);
                break;
            case Phase::kConnected:
                OnConnectedEdge(fd, *s, ev);
                break;
            case Phase::kLingering:
                OnLingeringEdge(fd, *s, ev);
                break;
            default:
                break;
        }
    }
}

}  // namespace

void NoteConnect(SOCKET s, int result, int error) {
    SocketState* st = Sockets().Find(s);
    if (st == nullptr) {
        return;
    }
    if (result == 0) {
        st->phase = Phase::kConnected;
        Post(s, *st, FD_CONNECT, 0);
        Post(s, *st, FD_WRITE, 0);
    } else if (error == EINPROGRESS) {
        st->phase = Phase::kConnecting;
    }
}

void NoteAccept(SOCKET listener, SOCKET accepted, int /*error*/) {
    SocketState* st = Sockets().Find(listener);
    if (st == nullptr || st->phase != Phase::kListening) {
        return;
    }
    if (accepted >= 0) {
        // Another connection may wait behind this one; an accept that then finds nothing
        // fails with WSAEWOULDBLOCK, which callers take as nothing to do.
        st->acceptArmed = false;
        Post(listener, *st, FD_ACCEPT, 0);
    } else {
        // Nothing was taken: the next arrival's edge posts FD_ACCEPT. After a failure such
        // as EMFILE the waiting connection stays queued and is offered again when accept is
        // next called and succeeds, or when another connection arrives; never in a loop.
        st->acceptArmed = true;
    }
}

void NoteRecv(SOCKET s, long result, int requested, int error, ReadSource source) {
    SocketState* st = Sockets().Find(s);
    if (st == nullptr || st->phase != Phase::kConnected) {
        return;
    }
    st->readArmed = true;
    if (source == ReadSource::kKernel) {
        st->inputDrained = result < 0 && (error == EAGAIN || error == EWOULDBLOCK);
    }
    if (result > 0) {
        // A read that took less than it asked for emptied the queue, and the next arrival
        // raises a new edge. One that filled the buffer has almost always left bytes behind
        // whose edge has been used up: ask for the next read at once rather than look (a read
        // that then finds nothing costs what the look would have, and streaming saves it).
        // Bytes served from a read-ahead block always ask for the next read: edges that came
        // while it held bytes were not posted.
        if (result == requested || source == ReadSource::kReadAhead || st->closePosted) {
            // Also when the peer's end was reported already and the reader went on reading
            // (a paused relay drops FD_CLOSE and reads at Resume): no edge will come again,
            // so the next read is asked for, to meet the end or the reset.
            PostRead(s, *st);
        } else {
            MaybePostClose(s, *st, 0);
        }
        return;
    }
    if (result == 0) {
        st->peerClosed = true;
        st->inputDrained = true;
    } else if (error != EAGAIN && error != EWOULDBLOCK && error != EINTR) {
        st->closeError = ErrorFromErrno(error);
    }
    MaybePostClose(s, *st, 0);
}

void NoteSend(SOCKET s, long result, int requested, int error) {
    SocketState* st = Sockets().Find(s);
    if (st == nullptr) {
        return;
    }
    if (result > 0) {
        Watcher().NoteSent();
    }
    // A short send also asks for FD_WRITE: the next send would block, and an extra FD_WRITE
    // with nothing left to send costs the program nothing.
    if ((result < 0 && (error == EAGAIN || error == EWOULDBLOCK)) ||
        (result >= 0 && result < requested)) {
        st->writeArmed = true;
    } else if (result < 0 && error != EINTR) {
        st->closeError = ErrorFromErrno(error);
    }
}

void NoteClose(SOCKET s) {
    // Closing the descriptor takes it out of the epoll set (no descriptor is ever duplicated);
    // an event already collected for it carries the old generation and is dropped.
    Sockets().Forget(s);
}

}  // namespace detail

int WSAAsyncSelect(SOCKET s, MessageTarget* target, UINT msg, long mask) {
    using namespace detail;
    if (!SocketsStarted()) {
        WSASetLastError(WSANOTINITIALISED);
        return SOCKET_ERROR;
    }
    SocketState* st = Sockets().Find(s);
    if (st == nullptr) {
        WSASetLastError(WSAENOTSOCK);
        return SOCKET_ERROR;
    }
    if (!Watcher().Ensure()) {
        WSASetLastError(WSAENETDOWN);
        return SOCKET_ERROR;
    }
    if (!st->nonBlocking) {
        // The layer's sockets carry no other status flag, so none is lost by setting only this.
        if (::fcntl(s, F_SETFL, O_NONBLOCK) < 0) {
            WSASetLastError(ErrorFromErrno(errno));
            return SOCKET_ERROR;
        }
        st->nonBlocking = true;
    }
    st->target = target;
    st->msg = msg;
    st->mask = mask;
    if (Watcher().Watch(s, SocketTable::Key(s, st->generation), st->watched) < 0) {
        WSASetLastError(ErrorFromErrno(errno));
        return SOCKET_ERROR;
    }
    if (!st->watched) {
        Watcher().NoteRegistered();
    }
    st->watched = true;
    if (st->phase == Phase::kConnected) {
        Post(s, *st, FD_WRITE, 0);
    }
    return 0;
}

}  // namespace corvane::platform
