// TLS on the relay's sides, with real peers from outside: curl, openssl s_client and
// s_server, nginx, and a python3 peer for the ends and records those cannot make. Each is a
// child of the test on a loopback port, ended by its pid.
#include <sys/socket.h>
#include <sys/stat.h>

#include <QDir>
#include <QTemporaryDir>
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "platform/tls_certificate.h"
#include "platform/tls_context.h"
#include "relay_test_support.h"
#include "support/child_process.h"
#include "support/event_loop_wait.h"

namespace corvane::relay::test {
namespace {

using corvane::test::ChildProcess;
using corvane::test::FreeLoopbackPort;
using corvane::test::ReadWholeFile;
using corvane::test::WaitFor;
using corvane::test::WaitListening;

// nginx with TLS on a free loopback port, serving the folder www; everything it writes
// stays in its own folder.
class Nginx {
public:
    Nginx(const std::string& dir, const platform::TlsCertificateFiles& pair)
        : dir_(dir), pair_(pair) {}

    bool Start() {
        port = FreeLoopbackPort();
        const std::string conf = dir_ + "/nginx.conf";
        std::ofstream(conf) << "daemon off; master_process off; pid " << dir_ << "/nginx.pid;\n"
                            << "error_log " << dir_ << "/error.log;\nevents {}\nhttp {\n"
                            << " access_log off;\n"
                            << " client_body_temp_path " << dir_ << "/tmp;\n"
                            << " proxy_temp_path " << dir_ << "/tmp;\n"
                            << " fastcgi_temp_path " << dir_ << "/tmp;\n"
                            << " uwsgi_temp_path " << dir_ << "/tmp;\n"
                            << " scgi_temp_path " << dir_ << "/tmp;\n"
                            << " server {\n  listen 127.0.0.1:" << port << " ssl;\n"
                            << "  ssl_protocols TLSv1.2 TLSv1.3;\n"
                            << "  ssl_certificate " << pair_.certFile << ";\n"
                            << "  ssl_certificate_key " << pair_.keyFile << ";\n"
                            << "  root " << dir_ << "/www;\n }\n}\n";
        process_ = std::make_unique<ChildProcess>(
            std::vector<std::string>{"nginx", "-p", dir_, "-c", conf, "-e", dir_ + "/error.log"});
        return process_->Started() && WaitListening(port);
    }
    std::uint16_t port = 0;

private:
    std::string dir_;
    platform::TlsCertificateFiles pair_;
    std::unique_ptr<ChildProcess> process_;
};

// A TLS peer that does what the tools above do not: "client <port> <text> fin|stay|garbage"
// sends the text (a bare FIN after it, or a record that cannot be decrypted instead) and
// prints what came back and how it ended ("...|close_notify" or "...|eof"); "server <port>
// <cert> <key> <answer>" answers every request and closes without close_notify (port 0: one
// of the system's choosing, printed once it listens).
constexpr char kPythonTlsPeer[] = R"(
import os, socket, ssl, sys
role, port = sys.argv[1], int(sys.argv[2])
if role == "client":
    c = ssl.create_default_context(); c.check_hostname = False; c.verify_mode = ssl.CERT_NONE
    t = c.wrap_socket(socket.create_connection(("127.0.0.1", port)), suppress_ragged_eofs=False)
    if sys.argv[4] == "garbage":
        os.write(t.fileno(), bytes.fromhex("1703030020") + bytes(32))
    else:
        t.sendall(sys.argv[3].encode())
    if sys.argv[4] == "fin":
        socket.socket(fileno=os.dup(t.fileno())).shutdown(socket.SHUT_WR)
    got, end = b"", "close_notify"
    try:
        while d := t.recv(4096):
            got += d
    except ssl.SSLEOFError:
        end = "eof"
    except OSError as e:
        end = type(e).__name__
    print(got.decode() + "|" + end, flush=True)
else:
    c = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER); c.load_cert_chain(sys.argv[3], sys.argv[4])
    listener = socket.create_server(("127.0.0.1", port))
    print(listener.getsockname()[1], flush=True)
    while True:
        conn = listener.accept()[0]
        try:
            t = c.wrap_socket(conn, server_side=True)
            t.recv(4096)
            t.sendall(sys.argv[5].encode())
            os.close(t.detach())
        except OSError:
            conn.close()
)";

class RelayTlsTest : public RelayFixture {
protected:
    void SetUp() override {
        for (const char* program : {"curl", "openssl", "nginx", "sha256sum", "python3"}) {
            if (!corvane::test::HaveProgram(program)) {
                GTEST_SKIP() << program << " is missing (scripts/setup.sh installs it)";
            }
        }
        RelayFixture::SetUp();
        ASSERT_TRUE(tmp.isValid());
        dir = tmp.path().toStdString();
        for (const char* sub : {"/www", "/tmp", "/state"}) {
            ::mkdir((dir + sub).c_str(), 0700);
        }
        std::string reason;
        ASSERT_TRUE(platform::EnsureSelfSignedCertificate(dir + "/pair", pair, reason)) << reason;
    }

    bool StartTls(TlsMode mode, const std::string& host, std::uint16_t port) {
        engine->Tls = mode;
        engine->TlsStateDir = dir + "/state";
        engine->SetRemoteTexts(host, std::to_string(port));
        return Start(host, port);
    }
    // A self-signed pair made in the folder sub of the test's directory.
    platform::TlsCertificateFiles Pair(const std::string& sub) {
        platform::TlsCertificateFiles made;
        std::string reason;
        EXPECT_TRUE(platform::EnsureSelfSignedCertificate(dir + "/" + sub, made, reason)) << reason;
        return made;
    }
    std::string Page(const std::string& name, const std::string& content) {
        std::ofstream(dir + "/www/" + name, std::ios::binary) << content;
        return content;
    }
    // Every line without its "N: " prefix.
    std::vector<std::string> Unnumbered() {
        std::vector<std::string> result;
        for (std::string line : Lines()) {
            const auto colon = line.find(": ");
            if (colon != std::string::npos && colon > 0 &&
                line.find_first_not_of("0123456789") == colon) {
                line = line.substr(colon + 2);
            }
            result.push_back(line);
        }
        return result;
    }
    // openssl s_client on the relay's port, its output in the test's directory.
    ChildProcess OpensslClient() {
        return ChildProcess({"openssl", "s_client", "-connect",
                             "127.0.0.1:" + std::to_string(engine->LocalPortNumber), "-quiet"},
                            dir + "/out", dir + "/err");
    }
    // openssl s_server -www on port with the pair; OpensslServerAccepts waits until it listens.
    ChildProcess OpensslServer(std::uint16_t port) {
        return ChildProcess({"openssl", "s_server", "-accept", "127.0.0.1:" + std::to_string(port),
                             "-cert", pair.certFile, "-key", pair.keyFile, "-www"},
                            dir + "/s_server.out", dir + "/s_server.err");
    }
    bool OpensslServerAccepts() {
        return WaitFor(
            [&] {
                return ReadWholeFile(dir + "/s_server.out").find("ACCEPT") != std::string::npos;
            },
            10000);
    }
    ChildProcess PythonClient(const std::string& text, const char* then) {
        return ChildProcess({"python3", "-c", kPythonTlsPeer, "client",
                             std::to_string(engine->LocalPortNumber), text, then},
                            dir + "/client.out", dir + "/client.err");
    }
    bool HasLine(const std::string& text) {
        const auto lines = Unnumbered();
        return std::find(lines.begin(), lines.end(), text) != lines.end();
    }
    // The Connections gone and nothing counted as held any more.
    void ExpectAllEnded() {
        EXPECT_TRUE(WaitFor([&] { return engine->ConnectionCount() == 0; }, 10000));
        EXPECT_EQ(engine->CSBuffered(), 0);
        EXPECT_EQ(engine->SCBuffered(), 0);
        EXPECT_TRUE(Consistent());
    }

    QTemporaryDir tmp;
    std::string dir;
    platform::TlsCertificateFiles pair;  // for the TLS Servers the tests start
};

TEST_F(RelayTlsTest, CurlThroughBothToNginxGetsThePageAndTheLogFileHasThePlainRewrittenRequest) {
    Nginx nginx(dir, pair);
    ASSERT_TRUE(nginx.Start());
    const std::string page = Page("page.html", "<html><body>Through TLS twice</body></html>\n");
    const std::string logFile = dir + "/log.txt";
    ASSERT_TRUE(log->File().OpenLogFile(logFile));
    ASSERT_TRUE(StartTls(TlsMode::Both, "127.0.0.1", nginx.port));
    const std::string url =
        "https://127.0.0.1:" + std::to_string(engine->LocalPortNumber) + "/page.html";
    ChildProcess curl({"curl", "--insecure", "--http1.1", "-sS", "-v", "-o", dir + "/got", url}, "",
                      dir + "/curl.err");
    ASSERT_TRUE(curl.WaitExit(20000));
    EXPECT_EQ(curl.ExitCode(), 0) << ReadWholeFile(dir + "/curl.err");
    EXPECT_EQ(ReadWholeFile(dir + "/got"), page);
    // The ALPN the Client offered went on to nginx, and nginx's choice came back through the relay.
    EXPECT_NE(ReadWholeFile(dir + "/curl.err").find("ALPN: server accepted http/1.1"),
              std::string::npos);
    ExpectAllEnded();
    EXPECT_TRUE(HasLine("TLS with Client: TLSv1.3, TLS_AES_256_GCM_SHA384"));
    EXPECT_TRUE(
        HasLine("TLS with Server: TLSv1.3, TLS_AES_256_GCM_SHA384, CN=localhost, not verified"));
    engine->StopRelay();
    const std::string text = ReadWholeFile(logFile);
    EXPECT_NE(text.find("GET /page.html HTTP/1.1\r\n"), std::string::npos);
    EXPECT_NE(text.find("Host: 127.0.0.1:" + std::to_string(nginx.port) + "\r\n"),
              std::string::npos);
    EXPECT_EQ(text.find("Host: 127.0.0.1:" + std::to_string(engine->LocalPortNumber)),
              std::string::npos);
    EXPECT_NE(text.find("Through TLS twice"), std::string::npos);
}

TEST_F(RelayTlsTest, OpensslClientThroughClientModeReachesAPlainServerAndBack) {
    ASSERT_TRUE(StartTls(TlsMode::Client, "127.0.0.1", serverPort));
    ChildProcess client = OpensslClient();
    const int server = AcceptPeer(serverListen, 10000);
    ASSERT_GE(server, 0);
    ASSERT_TRUE(client.Write("ping\n"));
    std::string got;
    EXPECT_TRUE(ReceivePeer(server, got, 5, 10000));
    EXPECT_EQ(got, "ping\n");
    EXPECT_TRUE(SendPeer(server, "pong\n"));
    ClosePeer(server);  // the relay closes the Client with close_notify once pong is out
    ASSERT_TRUE(client.WaitExit(10000));
    EXPECT_EQ(ReadWholeFile(dir + "/out"), "pong\n");
    ExpectAllEnded();
    const auto lines = Unnumbered();
    EXPECT_TRUE(HasLine("TLS with Client: TLSv1.3, TLS_AES_256_GCM_SHA384"));
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[lines.size() - 2], "Server disconnected");
    EXPECT_EQ(lines.back(), "Disconnected from Client");
    EXPECT_EQ(engine->CSTransferred(), 5);
    EXPECT_EQ(engine->SCTransferred(), 5);
}

// A plain Client through Server mode to openssl s_server, which answers with a page; with
// TlsVerify its self-signed certificate fails the handshake as a failed connect would.
TEST_F(RelayTlsTest, PlainClientThroughServerModeToAnOpensslServer) {
    struct Case {
        bool verify;
        std::vector<std::string> tail;  // the last lines, unnumbered
    };
    const Case cases[] = {
        {false,
         {"Connected to Server",
          "TLS with Server: TLSv1.3, TLS_AES_256_GCM_SHA384, CN=localhost, not verified",
          "Server disconnected", "Disconnected from Client"}},
        {true,
         {"Connected to Server",
          "TLS with Server failed: certificate verify failed (self-signed certificate)",
          "Disconnected from Client"}},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.verify ? "verify" : "no verify");
        const std::uint16_t port = FreeLoopbackPort();
        ChildProcess server = OpensslServer(port);
        ASSERT_TRUE(OpensslServerAccepts());
        engine->TlsVerify = k.verify;
        logView.lines.clear();
        ASSERT_TRUE(StartTls(TlsMode::Server, "localhost", port));
        ASSERT_TRUE(WaitFor([&] { return engine->LocalPortSocket() != platform::INVALID_SOCKET; }));
        const int client = ConnectPeer(engine->LocalPortNumber);
        ASSERT_GE(client, 0);
        EXPECT_TRUE(SendPeer(client, "GET / HTTP/1.0\r\n\r\n"));
        std::string got;
        EXPECT_TRUE(WaitPeerClosed(client, got, 10000));
        ClosePeer(client);
        if (k.verify) {
            EXPECT_EQ(got, "");
        } else {
            EXPECT_EQ(got.rfind("HTTP/1.0 200 ok\r\n", 0), 0u) << got;
        }
        ExpectAllEnded();
        const auto lines = Unnumbered();
        ASSERT_GE(lines.size(), k.tail.size());
        EXPECT_EQ(
            std::vector<std::string>(lines.end() - static_cast<long>(k.tail.size()), lines.end()),
            k.tail);
        engine->StopRelay();
    }
}

// Half Close with TLS towards the Server: the Client's FIN becomes close_notify and FIN to
// the Server, and the Server's answer still reaches the Client.
TEST_F(RelayTlsTest, HalfCloseTowardsATlsServerSendsCloseNotifyAndTheAnswerStillArrives) {
    const std::uint16_t port = FreeLoopbackPort();
    ChildProcess server = OpensslServer(port);
    ASSERT_TRUE(OpensslServerAccepts());
    engine->HalfClose = true;
    ASSERT_TRUE(StartTls(TlsMode::Server, "127.0.0.1", port));
    const int client = ConnectPeer(engine->LocalPortNumber);
    ASSERT_GE(client, 0);
    EXPECT_TRUE(SendPeer(client, "GET / HTTP/1.0\r\n\r\n"));
    ASSERT_TRUE(WaitFor([&] { return HasLine("Connected to Server"); }, 10000));
    ::shutdown(client, SHUT_WR);
    std::string got;
    EXPECT_TRUE(WaitPeerClosed(client, got, 10000));
    ClosePeer(client);
    EXPECT_EQ(got.rfind("HTTP/1.0 200 ok\r\n", 0), 0u) << got;
    ExpectAllEnded();
    EXPECT_TRUE(HasLine("Client finished sending"));
}

// While paused no plain byte is read from a TLS Client, however much it sends; Resume's one
// read takes it up, and the events that follow bring the rest.
TEST_F(RelayTlsTest, PauseHoldsATlsClientsBytesAndResumeDeliversThemAll) {
    ASSERT_TRUE(StartTls(TlsMode::Client, "127.0.0.1", serverPort));
    ChildProcess client = OpensslClient();
    const int server = AcceptPeer(serverListen, 10000);
    ASSERT_GE(server, 0);
    peers.push_back(server);
    ASSERT_TRUE(WaitFor([&] { return HasLine("TLS with Client: TLSv1.3, TLS_AES_256_GCM_SHA384"); },
                        10000));
    log->SetPaused(true);
    const std::string sent = std::string(100000, 'a') + "\n";
    ASSERT_TRUE(client.Write(sent));
    corvane::test::RunEventLoopFor(300);
    EXPECT_EQ(engine->CSTransferred(), 0);
    EXPECT_EQ(engine->CSBuffered(), 0);
    log->SetPaused(false);
    engine->ReadAllConnections();
    std::string got;
    EXPECT_TRUE(ReceivePeer(server, got, sent.size(), 10000));
    EXPECT_EQ(got, sent);
    EXPECT_EQ(engine->CSTransferred(), static_cast<std::int64_t>(sent.size()));
}

// A Client that speaks plain text to the TLS port, and one that gives up on the self-signed
// certificate: each a failed handshake, logged, and the Connection ended as the Server's
// failed connect would end it.
TEST_F(RelayTlsTest, AFailedClientHandshakeIsLoggedAndEndsTheConnection) {
    struct Case {
        const char* name;
        const char* reason;
    };
    const Case cases[] = {{"plain text", "http request"}, {"curl", "tlsv1 alert unknown ca"}};
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        logView.lines.clear();
        ASSERT_TRUE(StartTls(TlsMode::Client, "127.0.0.1", serverPort));
        const std::uint16_t port = engine->LocalPortNumber;
        if (std::string(k.name) == "curl") {
            ChildProcess curl({"curl", "-sS", "https://127.0.0.1:" + std::to_string(port) + "/"});
            ASSERT_TRUE(curl.WaitExit(20000));
            EXPECT_EQ(curl.ExitCode(), 60);  // the peer's certificate cannot be verified
        } else {
            const int client = ConnectPeer(port);
            ASSERT_GE(client, 0);
            EXPECT_TRUE(SendPeer(client, "GET / HTTP/1.1\r\nHost: localhost\r\n\r\n"));
            std::string got;
            EXPECT_TRUE(WaitPeerClosed(client, got, 10000));
            ClosePeer(client);
        }
        // The Server's side was opened and closed again, without a byte.
        const int server = AcceptPeer(serverListen, 10000);
        ASSERT_GE(server, 0);
        std::string atServer;
        EXPECT_TRUE(WaitPeerClosed(server, atServer, 10000));
        EXPECT_EQ(atServer, "");
        ClosePeer(server);
        ExpectAllEnded();
        EXPECT_TRUE(HasLine(std::string("TLS with Client failed: ") + k.reason))
            << ::testing::PrintToString(Unnumbered());
        EXPECT_EQ(engine->CSTransferred(), 0);
        engine->StopRelay();
    }
}

// A peer's TCP end without close_notify ends its side at once, also when its last bytes came
// with it, during a pause, or with Half Close on; the other peer gets a TCP end too (no
// close_notify towards a TLS one), and the log says what the end was.
TEST_F(RelayTlsTest, AnEndWithoutCloseNotifyIsPassedOnAsOneAndLogged) {
    struct Case {
        const char* name;
        TlsMode mode;
        bool halfClose;
        bool paused;
    };
    const Case cases[] = {{"TLS Server's end", TlsMode::Both, false, false},
                          {"TLS Client's end", TlsMode::Client, false, false},
                          {"TLS Client's end while paused", TlsMode::Client, false, true},
                          {"TLS Client's end, Half Close", TlsMode::Client, true, false}};
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        logView.lines.clear();
        engine->HalfClose = k.halfClose;
        const bool serverEnds = k.mode == TlsMode::Both;
        std::uint16_t port = serverPort;
        std::unique_ptr<ChildProcess> server;
        if (serverEnds) {
            // The peer takes a port of its own choosing and names it: a free port picked
            // here could be taken by a test running beside this one before the peer binds it.
            const std::string named = dir + "/server.port";
            server = std::make_unique<ChildProcess>(
                std::vector<std::string>{"python3", "-c", kPythonTlsPeer, "server", "0",
                                         pair.certFile, pair.keyFile,
                                         "HTTP/1.0 200 OK\r\n\r\nhello\n"},
                named);
            ASSERT_TRUE(WaitFor(
                [&] { return ReadWholeFile(named).find('\n') != std::string::npos; }, 10000));
            port = static_cast<std::uint16_t>(std::stoi(ReadWholeFile(named)));
        }
        ASSERT_TRUE(StartTls(k.mode, "127.0.0.1", port));
        log->SetPaused(k.paused);
        ChildProcess client = PythonClient("GET / HTTP/1.0\r\n\r\n", serverEnds ? "stay" : "fin");
        if (serverEnds) {
            ASSERT_TRUE(client.WaitExit(10000));
            EXPECT_EQ(ReadWholeFile(dir + "/client.out"), "HTTP/1.0 200 OK\r\n\r\nhello\n|eof\n");
        } else {
            const int peer = AcceptPeer(serverListen, 10000);
            ASSERT_GE(peer, 0);
            if (k.paused) {
                corvane::test::RunEventLoopFor(300);
                log->SetPaused(false);
                engine->ReadAllConnections();
            }
            std::string got;
            EXPECT_TRUE(WaitPeerClosed(peer, got, 10000));
            EXPECT_EQ(got, "GET / HTTP/1.0\r\n\r\n");
            if (k.halfClose) {
                EXPECT_TRUE(SendPeer(peer, "answer"));
            }
            ClosePeer(peer);
            ASSERT_TRUE(client.WaitExit(10000));
            EXPECT_EQ(ReadWholeFile(dir + "/client.out"),
                      k.halfClose ? "answer|close_notify\n" : "|close_notify\n");
        }
        ExpectAllEnded();
        EXPECT_TRUE(HasLine(serverEnds ? "Server closed without close_notify"
                                       : "Client closed without close_notify"))
            << ::testing::PrintToString(Unnumbered());
        engine->StopRelay();
    }
}

// A failure after the handshake is logged with OpenSSL's reason, as a failed handshake is.
TEST_F(RelayTlsTest, AFailureAfterTheHandshakeIsLoggedWithItsReason) {
    ASSERT_TRUE(StartTls(TlsMode::Client, "127.0.0.1", serverPort));
    ChildProcess client = PythonClient("", "garbage");
    const int peer = AcceptPeer(serverListen, 10000);
    ASSERT_GE(peer, 0);
    std::string got;
    EXPECT_TRUE(WaitPeerClosed(peer, got, 10000));
    ClosePeer(peer);
    ASSERT_TRUE(client.WaitExit(10000));
    ExpectAllEnded();
    EXPECT_TRUE(HasLine("TLS with Client failed: decryption failed or bad record mac"))
        << ::testing::PrintToString(Unnumbered());
}

// A handshake not done in time ends its Connection as a failed one does: a Client that sent
// half a hello, a Server that never answers.
TEST_F(RelayTlsTest, AHandshakeNotDoneInTimeFails) {
    struct Case {
        TlsMode mode;
        const char* line;
    };
    const Case cases[] = {{TlsMode::Client, "TLS with Client failed: handshake timed out"},
                          {TlsMode::Server, "TLS with Server failed: handshake timed out"}};
    engine->TlsHandshakeTimeoutMs = 300;
    for (const Case& k : cases) {
        SCOPED_TRACE(k.line);
        logView.lines.clear();
        ASSERT_TRUE(StartTls(k.mode, "127.0.0.1", serverPort));
        const int client = ConnectPeer(engine->LocalPortNumber);
        ASSERT_GE(client, 0);
        const int server = AcceptPeer(serverListen, 10000);
        ASSERT_GE(server, 0);
        if (k.mode == TlsMode::Client) {
            EXPECT_TRUE(
                SendPeer(client, std::string("\x16\x03\x01\x02\x00\x01\x00\x01\xfc\x03", 10)));
        }
        std::string got;
        EXPECT_TRUE(WaitPeerClosed(client, got, 10000));
        EXPECT_EQ(got, "");
        ClosePeer(client);
        ClosePeer(server);
        ExpectAllEnded();
        EXPECT_TRUE(HasLine(k.line)) << ::testing::PrintToString(Unnumbered());
        engine->StopRelay();
    }
}

TEST_F(RelayTlsTest, SixtyFourMebibytesThroughBothArriveWhole) {
    std::string content(64u << 20, '\0');
    std::mt19937_64 random(2026);
    for (std::size_t i = 0; i + 8 <= content.size(); i += 8) {
        const std::uint64_t v = random();
        std::memcpy(content.data() + i, &v, 8);
    }
    Page("big.bin", content);
    content = std::string();
    Nginx nginx(dir, pair);
    ASSERT_TRUE(nginx.Start());
    ASSERT_TRUE(StartTls(TlsMode::Both, "127.0.0.1", nginx.port));
    ChildProcess curl({"curl", "--insecure", "-sS", "-o", dir + "/got.bin",
                       "https://127.0.0.1:" + std::to_string(engine->LocalPortNumber) + "/big.bin"},
                      "", dir + "/curl.err");
    ASSERT_TRUE(curl.WaitExit(120000));
    EXPECT_EQ(curl.ExitCode(), 0) << ReadWholeFile(dir + "/curl.err");
    ChildProcess sums({"sha256sum", dir + "/www/big.bin", dir + "/got.bin"}, dir + "/sums");
    ASSERT_TRUE(sums.WaitExit());
    const std::string text = ReadWholeFile(dir + "/sums");
    const auto newline = text.find('\n');
    ASSERT_NE(newline, std::string::npos);
    EXPECT_EQ(text.substr(0, 64), text.substr(newline + 1, 64));
    EXPECT_EQ(engine->SCTransferred() >= (64 << 20), true);
    ExpectAllEnded();
}

// Without a certificate of its own the relay makes a self-signed pair once, keeps its key
// private, names it by its fingerprint at every Start, and uses the same pair again.
TEST_F(RelayTlsTest, TheSelfSignedPairIsMadeOnceAndReused) {
    const std::string cert = dir + "/state/" + platform::kSelfSignedCertName;
    const std::string key = dir + "/state/" + platform::kSelfSignedKeyName;
    std::vector<std::string> certificateLines;
    ino_t made = 0;
    for (int run = 0; run < 2; ++run) {
        logView.lines.clear();
        ASSERT_TRUE(StartTls(TlsMode::Client, "127.0.0.1", serverPort));
        for (const std::string& line : Lines()) {
            if (line.rfind("TLS certificate: ", 0) == 0) {
                certificateLines.push_back(line);
            }
        }
        struct stat st {};
        ASSERT_EQ(::stat(key.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0600u);
        ASSERT_EQ(::stat(cert.c_str(), &st), 0);
        if (run == 0) {
            made = st.st_ino;
        } else {
            EXPECT_EQ(st.st_ino, made);  // not written again
        }
        engine->StopRelay();
    }
    ASSERT_EQ(certificateLines.size(), 2u);
    EXPECT_EQ(certificateLines[0], certificateLines[1]);
    // The fingerprint as openssl gives it, and the names the certificate is good for.
    ChildProcess x509({"openssl", "x509", "-noout", "-fingerprint", "-sha256", "-ext",
                       "subjectAltName", "-in", cert},
                      dir + "/x509");
    ASSERT_TRUE(x509.WaitExit());
    const std::string facts = ReadWholeFile(dir + "/x509");
    const auto equals = facts.find('=');
    ASSERT_NE(equals, std::string::npos);
    const std::string fingerprint = facts.substr(equals + 1, 95);
    EXPECT_EQ(certificateLines[0], "TLS certificate: " + cert + ", SHA-256 " + fingerprint);
    for (const char* name :
         {"DNS:localhost", "IP Address:127.0.0.1", "IP Address:0:0:0:0:0:0:0:1"}) {
        EXPECT_NE(facts.find(name), std::string::npos) << name << " in " << facts;
    }
}

TEST_F(RelayTlsTest, ACertificateOrKeyThatCannotBeLoadedFailsStart) {
    const platform::TlsCertificateFiles one = Pair("one");
    const platform::TlsCertificateFiles other = Pair("other");
    const std::string notPem = dir + "/not.pem";
    std::ofstream(notPem) << "not a certificate\n";
    struct Case {
        std::string cert;
        std::string key;
        std::string expected;  // the Error line's beginning
    };
    const Case cases[] = {
        {notPem, one.keyFile, "Could not load TLS certificate " + notPem + ": "},
        {one.certFile, other.keyFile, "Could not load TLS key " + other.keyFile + ": "},
    };
    for (const Case& k : cases) {
        logView.lines.clear();
        engine->TlsCertFile = k.cert;
        engine->TlsKeyFile = k.key;
        EXPECT_FALSE(StartTls(TlsMode::Client, "127.0.0.1", serverPort));
        EXPECT_EQ(engine->LocalPortSocket(), platform::INVALID_SOCKET);
        const auto lines = Lines();
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_EQ(lines[0].rfind(k.expected, 0), 0u) << lines[0];
        EXPECT_GT(lines[0].size(), k.expected.size());  // OpenSSL's reason follows
    }
}

// Four first Starts at once (threads here; the lock is the same between processes) make one
// pair, whole, that belongs together, and leave nothing else behind.
TEST(SelfSignedPair, FirstStartsAtOnceMakeOnePairThatBelongsTogether) {
    QTemporaryDir tmp;
    ASSERT_TRUE(tmp.isValid());
    for (int round = 0; round < 20; ++round) {
        SCOPED_TRACE(round);
        const std::string dir = tmp.path().toStdString() + "/" + std::to_string(round);
        std::atomic<bool> go{false};
        std::atomic<int> made{0};
        std::vector<std::thread> starts;
        for (int i = 0; i < 4; ++i) {
            starts.emplace_back([&] {
                while (!go) {
                }
                platform::TlsCertificateFiles files;
                std::string reason;
                made += platform::EnsureSelfSignedCertificate(dir, files, reason) ? 1 : 0;
            });
        }
        go = true;
        for (std::thread& t : starts) {
            t.join();
        }
        EXPECT_EQ(made, 4);
        platform::TlsLoadFailure failure;
        EXPECT_NE(
            platform::TlsContext::ForServer(dir + "/" + platform::kSelfSignedCertName,
                                            dir + "/" + platform::kSelfSignedKeyName, failure),
            nullptr)
            << failure.reason;
        EXPECT_EQ(QDir(QString::fromStdString(dir)).entryList(QDir::Files).size(), 3);
    }
}

// A pair whose key belongs to another certificate (two first Starts at once could leave one)
// is made again, with a line that says so, instead of failing every Start from then on.
TEST_F(RelayTlsTest, ASelfSignedPairThatDoesNotBelongTogetherIsMadeAgain) {
    const platform::TlsCertificateFiles state = Pair("state");
    const platform::TlsCertificateFiles other = Pair("other");
    ASSERT_EQ(::rename(other.keyFile.c_str(), state.keyFile.c_str()), 0);
    ASSERT_TRUE(StartTls(TlsMode::Client, "127.0.0.1", serverPort));
    const auto lines = Lines();
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[0], "TLS certificate and key in " + dir +
                            "/state did not belong together: made a new pair");
    EXPECT_EQ(lines[1].rfind("TLS certificate: " + state.certFile, 0), 0u) << lines[1];
}

// A key file that group or others can read is named once at Start; a private one is not.
TEST_F(RelayTlsTest, AKeyThatOthersCanReadIsNamedOnceAtStart) {
    const platform::TlsCertificateFiles own = Pair("own");
    engine->TlsCertFile = own.certFile;
    engine->TlsKeyFile = own.keyFile;
    for (const mode_t mode : {0600, 0640, 0604}) {
        SCOPED_TRACE(mode);
        ASSERT_EQ(::chmod(own.keyFile.c_str(), mode), 0);
        logView.lines.clear();
        ASSERT_TRUE(StartTls(TlsMode::Client, "127.0.0.1", serverPort));
        char octal[8];
        std::snprintf(octal, sizeof octal, "%04o", static_cast<unsigned>(mode));
        const std::string warning =
            "TLS key " + own.keyFile + " can be read by other users (mode " + octal + ")";
        const auto lines = Lines();
        EXPECT_EQ(std::count(lines.begin(), lines.end(), warning), mode == 0600 ? 0 : 1);
        engine->StopRelay();
    }
}

TEST_F(RelayTlsTest, WithTlsNoneAPlainRelayLogsWhatItAlwaysDid) {
    ASSERT_TRUE(Start("127.0.0.1", serverPort));
    int client = -1;
    int server = -1;
    ASSERT_TRUE(ConnectThrough(client, server));
    ExpectRelays(client, server);
    const std::vector<std::string> expected = {
        "Local Port (" + std::to_string(engine->LocalPortNumber) + ") opened",
        "Waiting for connections",
        "Client connected; 127.0.0.1:" + std::to_string(LocalPortOf(client)),
        "Connecting to Server", "Connected to Server"};
    EXPECT_EQ(Unnumbered(), expected);
}

}  // namespace
}  // namespace corvane::relay::test
