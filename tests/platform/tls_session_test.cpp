// TLS sessions on the layer's sockets: the event rules over the plain bytes.
#include <sys/socket.h>

#include <QTemporaryDir>
#include <algorithm>
#include <memory>
#include <string>

#include "platform/tls_certificate.h"
#include "platform/tls_context.h"
#include "platform/tls_session.h"
#include "socket_test_support.h"
#include "support/event_loop_wait.h"

namespace corvane::platform::test {
namespace {

using corvane::test::RunEventLoopFor;
using corvane::test::WaitFor;

constexpr long kEvents = FD_READ | FD_WRITE | FD_CLOSE | FD_CONNECT | FD_TLS;

class TlsSessionTest : public ListenerTest {
protected:
    void SetUp() override {
        ListenerTest::SetUp();
        ASSERT_TRUE(dir_.isValid());
        TlsCertificateFiles pair;
        std::string reason;
        ASSERT_TRUE(EnsureSelfSignedCertificate(dir_.path().toStdString(), pair, reason)) << reason;
        TlsLoadFailure failure;
        serverContext_ = TlsContext::ForServer(pair.certFile, pair.keyFile, failure);
        clientContext_ = TlsContext::ForClient(false, failure);
        ASSERT_TRUE(serverContext_ && clientContext_) << failure.reason;
    }
    void TearDown() override {
        ListenerTest::TearDown();  // closes the sockets, and frees their sessions, first
        serverContext_.reset();
        clientContext_.reset();
    }

    // A connected pair of the layer's sockets, each with a session, handshakes done.
    void ConnectPair(SOCKET& client, SOCKET& server) {
        client = socket(AF_INET_, SOCK_STREAM_, 0);
        ASSERT_NE(client, INVALID_SOCKET);
        ASSERT_EQ(WSAAsyncSelect(client, &rec_, EventRecorder::kMessage, kEvents), 0);
        SocketAddress to{htonl(0x7F000001), port_};
        connect(client, to);
        server = AcceptRegistered(rec_, listener_, kEvents);
        ASSERT_NE(server, INVALID_SOCKET);
        ASSERT_TRUE(rec_.WaitForEvent(client, FD_CONNECT));
        ASSERT_EQ(TlsAttach(server, *serverContext_, {}), 0);
        ASSERT_EQ(TlsAttach(client, *clientContext_, {}), 0);
        ASSERT_TRUE(rec_.WaitForEvent(client, FD_TLS, 1, 10000));
        ASSERT_TRUE(rec_.WaitForEvent(server, FD_TLS, 1, 10000));
        for (SOCKET s : {client, server}) {
            for (const SocketEvent& e : rec_.For(s)) {
                if (e.event == FD_TLS) {
                    EXPECT_EQ(e.error, 0);
                }
            }
        }
    }

    QTemporaryDir dir_;
    std::unique_ptr<TlsContext> serverContext_;
    std::unique_ptr<TlsContext> clientContext_;
};

// A reader that takes 1,000 bytes per FD_READ, as the relay takes one read per event, gets
// every byte of records of 16 KiB: FD_READ comes again while decrypted bytes wait. The
// sender's close_notify and FIN then give recv 0 and one FD_CLOSE, after the last byte.
TEST_F(TlsSessionTest, PlainBytesArriveWholeOneSmallReadPerEventThenTheOrderlyClose) {
    SOCKET client = INVALID_SOCKET;
    SOCKET server = INVALID_SOCKET;
    ConnectPair(client, server);
    TlsSessionInfo info;
    ASSERT_TRUE(TlsQuery(client, info));
    EXPECT_TRUE(info.established);
    EXPECT_EQ(info.version, "TLSv1.3");
    EXPECT_EQ(info.cipher, "TLS_AES_256_GCM_SHA384");
    EXPECT_EQ(info.peerSubject, "CN=localhost");
    EXPECT_FALSE(info.peerVerified);

    std::string sent;
    for (int i = 0; sent.size() < 200000; ++i) {
        sent += std::to_string(i) + ",";
    }
    std::size_t offset = 0;
    std::string got;
    std::size_t seen = 0;
    bool closed = false;
    int closeEvents = 0;
    const bool done = WaitFor(
        [&] {
            while (offset < sent.size()) {
                const int n =
                    send(client, sent.data() + offset,
                         static_cast<int>(std::min<std::size_t>(sent.size() - offset, 8192)), 0);
                if (n <= 0) {
                    EXPECT_EQ(WSAGetLastError(), WSAEWOULDBLOCK);
                    break;  // FD_WRITE brings the next round
                }
                offset += static_cast<std::size_t>(n);
                if (offset == sent.size()) {
                    EXPECT_EQ(shutdown(client, SD_SEND), 0);
                }
            }
            for (; seen < rec_.events.size(); ++seen) {
                const SocketEvent e = rec_.events[seen];
                if (e.socket != static_cast<WPARAM>(server)) {
                    continue;
                }
                if (e.event == FD_CLOSE) {
                    EXPECT_EQ(e.error, 0);
                    EXPECT_EQ(got.size(), sent.size());  // only once everything was read
                    ++closeEvents;
                }
                if (e.event == FD_READ) {
                    char buf[1000];
                    const int n = recv(server, buf, sizeof buf, 0);
                    if (n > 0) {
                        got.append(buf, static_cast<std::size_t>(n));
                    } else if (n == 0) {
                        closed = true;
                    } else {
                        EXPECT_EQ(WSAGetLastError(), WSAEWOULDBLOCK);
                    }
                }
            }
            return closed && closeEvents > 0;
        },
        20000);
    EXPECT_TRUE(done);
    EXPECT_EQ(got, sent);
    RunEventLoopFor(50);
    EXPECT_EQ(rec_.Count(server, FD_CLOSE), 1);
    EXPECT_EQ(send(client, "x", 1, 0), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAESHUTDOWN);
}

// The later sends of one pass are joined into records of 16 KiB, sealed before the
// close_notify that ends the pass: a reader with room for more gets them in that size, whole,
// in order, and then the orderly end.
TEST_F(TlsSessionTest, LaterSendsOfAPassAreJoinedIntoFullRecordsBeforeTheClose) {
    SOCKET client = INVALID_SOCKET;
    SOCKET server = INVALID_SOCKET;
    ConnectPair(client, server);
    std::string sent;
    for (int i = 0; sent.size() < 60000; ++i) {
        sent += std::to_string(i) + ";";
    }
    InPass pass;
    pass.Run([&] {
        for (std::size_t at = 0; at < sent.size(); at += 1000) {
            const int len = static_cast<int>(std::min<std::size_t>(1000, sent.size() - at));
            ASSERT_EQ(send(client, sent.data() + at, len, 0), len);
        }
        ASSERT_EQ(shutdown(client, SD_SEND), 0);
    });
    std::string got;
    int reads = 0;
    int largest = 0;
    bool ended = false;
    EXPECT_TRUE(WaitFor(
        [&] {
            for (;;) {
                char buf[32768];
                const int n = recv(server, buf, sizeof buf, 0);
                if (n <= 0) {
                    ended = n == 0;
                    return ended;
                }
                got.append(buf, static_cast<std::size_t>(n));
                ++reads;
                largest = std::max(largest, n);
            }
        },
        10000));
    EXPECT_EQ(got, sent);
    EXPECT_EQ(largest, 16384);
    EXPECT_LE(reads, 6);  // 1,000 bytes at once, then records of 16 KiB
    DiscardMessages(&pass);
}

// A close while the peer reads nothing: what the kernel cannot take yet (two records in the
// pair) and the close_notify behind it still reach the peer once it reads.
TEST_F(TlsSessionTest, EveryByteSentBeforeACloseReachesAPeerThatReadsLate) {
    SOCKET client = INVALID_SOCKET;
    SOCKET server = INVALID_SOCKET;
    ConnectPair(client, server);
    std::string sent;
    std::string piece(16384, '\0');
    for (int i = 0; i < 4096; ++i) {
        for (std::size_t k = 0; k < piece.size(); ++k) {
            piece[k] = static_cast<char>('a' + (i + k) % 26);
        }
        const int n = send(client, piece.data(), static_cast<int>(piece.size()), 0);
        if (n <= 0) {
            break;
        }
        sent.append(piece, 0, static_cast<std::size_t>(n));
    }
    ASSERT_EQ(WSAGetLastError(), WSAEWOULDBLOCK);
    ASSERT_EQ(closesocket(client), 0);
    std::string got;
    int last = 1;
    EXPECT_TRUE(WaitFor(
        [&] {
            char buf[65536];
            while ((last = recv(server, buf, sizeof buf, 0)) > 0) {
                got.append(buf, static_cast<std::size_t>(last));
            }
            return last == 0 || WSAGetLastError() != WSAEWOULDBLOCK;
        },
        20000));
    EXPECT_EQ(last, 0);
    EXPECT_EQ(got.size(), sent.size());
    EXPECT_TRUE(got == sent);
    TlsSessionInfo info;
    ASSERT_TRUE(TlsQuery(server, info));
    EXPECT_FALSE(info.endedWithoutCloseNotify);
}

// Plain text to a server session: FD_TLS with 10053 and OpenSSL's reason, and nothing else
// afterwards, not even for the peer's close.
TEST_F(TlsSessionTest, APlainTextPeerFailsTheHandshakeWithOneEvent) {
    const int raw = RawConnect(port_);
    ASSERT_GE(raw, 0);
    raw_.push_back(raw);
    const SOCKET server = AcceptRegistered(rec_, listener_, kEvents);
    ASSERT_NE(server, INVALID_SOCKET);
    ASSERT_EQ(TlsAttach(server, *serverContext_, {}), 0);
    const std::string request = "GET / HTTP/1.1\r\n\r\n";
    ASSERT_TRUE(RawWriteAll(raw, request.data(), request.size()));
    ASSERT_TRUE(rec_.WaitForEvent(server, FD_TLS, 1, 10000));
    TlsSessionInfo info;
    ASSERT_TRUE(TlsQuery(server, info));
    EXPECT_FALSE(info.established);
    EXPECT_EQ(info.failure, "http request");
    char buf[16];
    EXPECT_EQ(recv(server, buf, sizeof buf, 0), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAEWOULDBLOCK);
    ::shutdown(raw, SHUT_WR);
    RunEventLoopFor(100);
    const auto events = rec_.For(server);
    int tls = 0;
    for (const SocketEvent& e : events) {
        tls += e.event == FD_TLS ? 1 : 0;
        EXPECT_NE(e.event, FD_CLOSE);
        EXPECT_NE(e.event, FD_READ);
        if (e.event == FD_TLS) {
            EXPECT_EQ(e.error, WSAECONNABORTED);
        }
    }
    EXPECT_EQ(tls, 1);
}

}  // namespace
}  // namespace corvane::platform::test
