// An HTTP exchange through the real program: the bytes at both ends, the lines on standard
// output at each Detail, and the Log File (text and HTML) of the same run, byte for byte.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cctype>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string_view>
#include <vector>

#include "app/cli/cli_arguments.h"
#include "cli_process.h"

namespace corvane::cli::test {
namespace {

enum class Kind { Msg, Inform, Error, Data };
struct Line {
    Kind kind;
    int minimum;  // the Detail from which the line is shown
    std::string text;
};

const char* ClassOf(Kind kind) {
    switch (kind) {
        case Kind::Msg:
            return "tsmsg";
        case Kind::Inform:
            return "tsinform";
        case Kind::Error:
            return "tserror";
        case Kind::Data:
            return "tsdata";
    }
    return "";
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

std::string Stdout(const std::vector<Line>& lines, int detail) {
    std::string out;
    for (const Line& l : lines) {
        if (l.minimum <= detail) {
            out += l.text + "\n";
        }
    }
    return out;
}

std::string TextFile(const std::vector<Line>& lines) {
    std::string out;
    for (const Line& l : lines) {
        out += l.text + "\r\n";
    }
    return out;
}

// The lines used here hold no character that the page escapes.
std::string HtmlFile(const std::vector<Line>& lines) {
    std::string out =
        "<html>\r\n<head>\r\n  <meta name=\"Generator\" content=\"Corvane\">\r\n"
        "  <title>Corvane Log File</title>\r\n  <style type=\"text/css\">\r\n    <!--\r\n"
        "    span {font-size: 10pt; font-family: \"Courier New\", Courier, monospace}\r\n"
        "    span.tserror {color: red}\r\n    span.tsmsg {color: navy}\r\n"
        "    span.tsdata {color: black}\r\n    span.tsinform {color: maroon}\r\n"
        "    body {background: white; margin-top: 0; margin-right: 0; margin-left: 0; "
        "margin-bottom: 0}\r\n    -->\r\n  </style>\r\n</head>\r\n<body>\r\n";
    const Line* previous = nullptr;
    for (const Line& l : lines) {
        if (previous == nullptr || previous->kind != l.kind) {
            if (previous != nullptr) {
                out += "</span>";
            }
            out += std::string("<span class=\"") + ClassOf(l.kind) + "\">";
        }
        out += l.text + "<br />\r\n";
        previous = &l;
    }
    return out + "</span>\r\n</body>\r\n</html>\r\n";
}

struct Exchange {
    std::string out;
    std::string err;
    std::optional<int> exitCode;
    std::vector<Line> lines;  // what the run must have logged
    std::string serverGot;
    std::string clientGot;
};

// One Client sends an HTTP request, the Server answers, the Client closes; then SIGTERM.
Exchange RunExchange(const std::vector<std::string>& extraArgs) {
    TestListener server;
    const std::string serverPort = std::to_string(server.Port());
    std::vector<std::string> args{"127.0.0.1", serverPort, "0"};
    args.insert(args.end(), extraArgs.begin(), extraArgs.end());
    CliProcess child(args);
    Exchange x;
    if (!child.WaitForOutput("Waiting for connections\n")) {
        return x;
    }
    const long localPort = NumberAfter(child.Out(), "Local Port (").value_or(0);
    std::uint16_t clientPort = 0;
    const int client = ConnectLoopback(static_cast<std::uint16_t>(localPort), &clientPort);
    const int accepted = server.Accept();
    // The number of the Connection is the relay's client socket: read it from the log.
    if (client < 0 || accepted < 0 || !child.WaitForOutput(": Connected to Server\n")) {
        return x;
    }
    const std::string& so = child.Out();
    const std::size_t colon = so.find(": Client connected; ");
    std::size_t at = colon;
    while (at > 0 && std::isdigit(static_cast<unsigned char>(so[at - 1]))) {
        --at;  // the number stands right before the colon, after a time stamp if any
    }
    const std::string n = so.substr(at, colon - at) + ": ";

    const std::string request =
        "GET /index.html HTTP/1.1\r\nHost: www.example\r\nAccept: */*\r\n\r\n";
    const std::string rewritten =
        "GET /index.html HTTP/1.1\r\nHost: 127.0.0.1:" + serverPort + "\r\nAccept: */*\r\n\r\n";
    const std::string answer = "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nhello";
    SendAll(client, request);
    x.serverGot = ReceiveUntil(accepted, "\r\n\r\n");
    SendAll(accepted, answer);
    x.clientGot = ReceiveUntil(client, "hello");
    ::close(client);
    child.WaitForOutput(n + "Disconnected from Server\n");
    ::close(accepted);
    child.Signal(SIGTERM);
    x.exitCode = child.WaitExit();
    x.out = child.Out();
    x.err = child.Err();

    x.lines = {
        {Kind::Msg, 0, "Local Port (" + std::to_string(localPort) + ") opened"},
        {Kind::Msg, 0, "Waiting for connections"},
        {Kind::Msg, 0, n + "Client connected; 127.0.0.1:" + std::to_string(clientPort)},
        {Kind::Msg, 0, n + "Connecting to Server"},
        {Kind::Msg, 0, n + "Connected to Server"},
        {Kind::Msg, 1, n + "Client to Server (" + std::to_string(rewritten.size()) + " bytes)"},
        {Kind::Data, 2, "GET /index.html HTTP/1.1"},
        {Kind::Data, 2, "Host: 127.0.0.1:" + serverPort},
        {Kind::Data, 2, "Accept: */*"},
        {Kind::Data, 2, ""},
        {Kind::Msg, 1,
         n + "Server to Client (" + std::to_string(answer.size()) +
             " bytes, Incomplete last line)"},
        {Kind::Data, 2, "HTTP/1.1 200 OK"},
        {Kind::Data, 2, "Content-Length: 5"},
        {Kind::Data, 2, ""},
        {Kind::Data, 2, "hello"},
        {Kind::Inform, 0, n + "Client disconnected"},
        {Kind::Msg, 0, n + "Disconnected from Server"},
        {Kind::Error, 0, "Stopped by user"},
        {Kind::Msg, 0, "Local Port closed"},
    };
    return x;
}

std::string TempName(const char* suffix) {
    std::string path = "/tmp/corvane-cli-relay-XXXXXX";
    path += suffix;
    const int fd = ::mkstemps(path.data(), static_cast<int>(std::strlen(suffix)));
    if (fd >= 0) {
        ::close(fd);
    }
    return path;
}

TEST(CliRelay, RequestAndAnswerPassThroughWithTheHostLineRewritten) {
    const Exchange x = RunExchange({});
    ASSERT_TRUE(x.exitCode.has_value());
    EXPECT_EQ(*x.exitCode, kExitOk);
    EXPECT_EQ(x.clientGot, "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nhello");
    EXPECT_NE(x.serverGot.find("\r\nHost: 127.0.0.1:"), std::string::npos) << x.serverGot;
    EXPECT_EQ(x.err, "") << "no status line and no message when standard error is a pipe";
}

TEST(CliRelay, StandardOutputHoldsExactlyTheLinesOfEachDetail) {
    const std::vector<std::pair<const char*, int>> levels = {
        {"Low", 0}, {"Medium", 1}, {"High", 2}};
    for (const auto& [name, level] : levels) {
        const Exchange x = RunExchange({"-detail", name});
        ASSERT_TRUE(x.exitCode.has_value()) << name;
        EXPECT_EQ(*x.exitCode, kExitOk);
        EXPECT_EQ(x.out, Stdout(x.lines, level)) << name;
        EXPECT_EQ(x.out.find('\x1b'), std::string::npos) << "no colour into a pipe";
    }
}

TEST(CliRelay, TextLogFileHoldsEveryLineWhateverTheDetail) {
    const std::string path = TempName(".log");
    const Exchange x = RunExchange({"-detail", "Low", "-file", path});
    ASSERT_TRUE(x.exitCode.has_value());
    EXPECT_EQ(*x.exitCode, kExitOk);
    EXPECT_EQ(ReadFile(path), TextFile(x.lines));
    std::remove(path.c_str());
}

TEST(CliRelay, SigtermLeavesACompleteHtmlLogFile) {
    const std::string path = TempName(".html");
    const Exchange x = RunExchange({"-file", path, "-size", "2MB", "-auto"});
    ASSERT_TRUE(x.exitCode.has_value());
    EXPECT_EQ(*x.exitCode, kExitOk);
    EXPECT_EQ(ReadFile(path), HtmlFile(x.lines));
    EXPECT_EQ(x.out, Stdout(x.lines, 2));
    std::remove(path.c_str());
}

// The text with the time stamp ("HH:MM:SS.mmm ") taken off every line that begins with
// one; stamped tells which lines did.
std::string Unstamped(const std::string& text, const std::string& lineEnd,
                      std::vector<bool>& stamped) {
    const auto isStamp = [](std::string_view s) {
        const char* form = "99:99:99.999 ";
        if (s.size() < 13) {
            return false;
        }
        for (int i = 0; i < 13; ++i) {
            const bool digit = std::isdigit(static_cast<unsigned char>(s[i])) != 0;
            if (form[i] == '9' ? !digit : s[i] != form[i]) {
                return false;
            }
        }
        return true;
    };
    std::string out;
    for (std::size_t at = 0; at < text.size();) {
        std::size_t end = text.find(lineEnd, at);
        end = end == std::string::npos ? text.size() : end + lineEnd.size();
        std::string_view line(text.data() + at, end - at);
        stamped.push_back(isStamp(line));
        out.append(stamped.back() ? line.substr(13) : line);
        at = end;
    }
    return out;
}

TEST(CliRelay, TimeStampsBeginEveryMessageLineOnStandardOutputAndInTheLogFile) {
    const std::string path = TempName(".log");
    const Exchange x = RunExchange({"-time", "-file", path});
    ASSERT_TRUE(x.exitCode.has_value());
    EXPECT_EQ(*x.exitCode, kExitOk);
    std::vector<bool> expected;
    for (const Line& l : x.lines) {
        expected.push_back(l.kind != Kind::Data);
    }
    std::vector<bool> onStdout;
    EXPECT_EQ(Unstamped(x.out, "\n", onStdout), Stdout(x.lines, 2));
    EXPECT_EQ(onStdout, expected) << x.out;
    std::vector<bool> inFile;
    EXPECT_EQ(Unstamped(ReadFile(path), "\r\n", inFile), TextFile(x.lines));
    EXPECT_EQ(inFile, expected);
    std::remove(path.c_str());
}

}  // namespace
}  // namespace corvane::cli::test

namespace corvane::cli::test {
namespace {

TEST(CliRelay, HexOnlyDumpsTheRequestInsteadOfItsLines) {
    TestListener server;
    CliProcess child({"127.0.0.1", std::to_string(server.Port()), "0", "-hexonly"});
    ASSERT_TRUE(child.WaitForOutput("Waiting for connections\n"));
    const long port = NumberAfter(child.Out(), "Local Port (").value_or(0);
    const int client = ConnectLoopback(static_cast<std::uint16_t>(port));
    const int accepted = server.Accept();
    ASSERT_GE(client, 0);
    ASSERT_GE(accepted, 0);
    ASSERT_TRUE(child.WaitForOutput(": Connected to Server\n"));
    ASSERT_TRUE(SendAll(client, "GET / HTTP/1.1\r\nHost: x\r\n\r\n"));
    EXPECT_EQ(ReceiveUntil(accepted, "\r\n\r\n"), "GET / HTTP/1.1\r\nHost: x\r\n\r\n")
        << "no rewriting without text lines";
    EXPECT_TRUE(
        child.WaitForOutput("0000  47 45 54 20 2F 20 48 54  54 50 2F 31 2E 31 0D 0A  "
                            "GET / HTTP/1.1..\n"))
        << child.Out();
    ::close(client);
    ::close(accepted);
    child.Signal(SIGTERM);
    const auto code = child.WaitExit();
    ASSERT_TRUE(code.has_value());
    EXPECT_EQ(*code, kExitOk);
}

}  // namespace
}  // namespace corvane::cli::test
