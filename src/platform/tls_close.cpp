// A session's end: shutdown(SD_SEND) and closesocket send close_notify, and the FIN follows
// the ciphertext that waits. A closed socket whose ciphertext the kernel cannot take yet
// lingers with its session (write_behind.h), whatever the pair holds.
#include <openssl/ssl.h>

#include "platform/tls_internal.h"
#include "platform/tls_session_state.h"
#include "platform/write_behind.h"

namespace corvane::platform::detail {

using namespace tls;

namespace {

// What is staged, then close_notify (once there is a session to close, and unless the end is
// to be a TCP end alone), go into the pair.
void SealCloseNotify(TlsSession& t) {
    SealStaged(t);
    if (t.state == TlsState::kEstablished && !t.closeNotifySent && !t.withoutCloseNotify) {
        t.closeNotifySent = true;
        ClearErrors();
        SSL_shutdown(t.ssl);
        ClearErrors();
    }
}

}  // namespace

int TlsShutdownSend(int fd, SocketState& st) {
    TlsSession& t = *st.tls;
    if (t.state == TlsState::kHandshaking) {
        t.shutAfterHandshake = true;  // close_notify once there is a session to close
        return 0;
    }
    SealCloseNotify(t);
    t.finAfterFlush = true;
    FlushOut(fd, st, t);
    return 0;
}

bool TlsBeforeClose(int fd, SocketState& st) {
    TlsSession* t = st.tls;
    SealCloseNotify(*t);
    if (st.phase == Phase::kConnected && !FlushOut(fd, st, *t)) {
        // However much waits: the session keeps it until the kernel has taken it all.
        Linger(fd, st);
        return true;
    }
    st.tls = nullptr;
    DestroyTlsSession(t);
    return false;
}

bool TlsWriteLingering(int fd, SocketState& st) {
    return FlushOut(fd, st, *st.tls);
}

}  // namespace corvane::platform::detail
