// A session's end: shutdown(SD_SEND) and closesocket send close_notify, and the FIN follows
// the ciphertext that waits.
#include <openssl/ssl.h>

#include <algorithm>
#include <cstring>

#include "platform/byte_block.h"
#include "platform/tls_internal.h"
#include "platform/tls_session_state.h"

namespace corvane::platform::detail {

using namespace tls;

int TlsShutdownSend(int fd, SocketState& st) {
    TlsSession& t = *st.tls;
    if (t.state == TlsState::kHandshaking) {
        t.shutAfterHandshake = true;  // close_notify once there is a session to close
        return 0;
    }
    SealStaged(t);
    if (t.state == TlsState::kEstablished && !t.closeNotifySent) {
        t.closeNotifySent = true;
        ClearErrors();
        SSL_shutdown(t.ssl);
        ClearErrors();
    }
    t.finAfterFlush = true;
    FlushOut(fd, st, t);
    return 0;
}

void TlsBeforeClose(int fd, SocketState& st) {
    TlsSession* t = st.tls;
    SealStaged(*t);
    if (t->state == TlsState::kEstablished && !t->closeNotifySent) {
        t->closeNotifySent = true;
        ClearErrors();
        SSL_shutdown(t->ssl);
        ClearErrors();
    }
    if (!FlushOut(fd, st, *t) && st.behind == nullptr && st.phase == Phase::kConnected) {
        // What the kernel cannot take yet goes out in the background, as joined sends do.
        if ((st.behind = TakeBlock(BlockUse::kWriteBehind)) != nullptr) {
            for (;;) {
                char* bytes = nullptr;
                const int held = BIO_nread0(t->network, &bytes);
                const int n = std::min(held, st.behind->Room());
                if (n <= 0) {
                    break;
                }
                std::memcpy(st.behind->bytes + st.behind->end, bytes, static_cast<std::size_t>(n));
                st.behind->end += n;
                BIO_nread(t->network, &bytes, n);
            }
            st.behindBlocked = true;
            st.finAfterHeld = t->finAfterFlush;
        }
    }
    st.tls = nullptr;
    DestroyTlsSession(t);
}

}  // namespace corvane::platform::detail
