// The Capture File by itself, read back by tshark: a block larger than a segment is cut into
// segments of at most 65,000 bytes that give the block back whole, over IPv4 and IPv6 ends;
// a capture rotated mid-transfer is in parts that each read alone.
#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <algorithm>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "log/capture_file.h"
#include "support/file_parts.h"
#include "support/tshark_reader.h"

namespace corvane::log {
namespace {

using corvane::test::FollowAll;
using corvane::test::Followed;
using corvane::test::Output;

CaptureEndpoint End(std::uint8_t length, std::uint8_t last, std::uint16_t port) {
    CaptureEndpoint end;
    end.addressLength = length;
    if (length == 4) {
        end.address[0] = 127;
        end.address[3] = last;
    } else {
        end.address[15] = last;  // ::1, ::2
    }
    end.port = port;
    return end;
}

TEST(CaptureFile, LargeBlocksAreCutIntoSegmentsOverIpv4AndIpv6) {
    if (!Output("tshark -v")) {
        GTEST_SKIP() << "tshark is not installed (scripts/setup.sh installs it)";
    }
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const std::string file = dir.filePath(QStringLiteral("cut.pcap")).toStdString();
    std::mt19937 rng(7);
    std::string held(70000, '\0');
    std::string answer(200001, '\0');
    for (std::string* bytes : {&held, &answer}) {
        std::generate(bytes->begin(), bytes->end(), [&] { return static_cast<char>(rng()); });
    }
    CaptureFile capture;
    ASSERT_TRUE(capture.Open(file));
    for (const std::uint8_t length : {4, 16}) {
        CaptureFlow flow;
        capture.Connected(flow, End(length, 1, 40000), End(length, 2, 80));
        capture.Block(flow, CaptureSide::Client, held.data(), static_cast<int>(held.size()));
        capture.Block(flow, CaptureSide::Server, answer.data(), static_cast<int>(answer.size()));
        capture.SideEnded(flow, CaptureSide::Server, false);
    }  // each flow's end writes the Client's FIN
    capture.Close();

    const std::vector<Followed> streams = FollowAll(file, 2);
    ASSERT_EQ(streams.size(), 2u);
    std::vector<std::string> clients{streams[0].firstNode, streams[1].firstNode};
    std::sort(clients.begin(), clients.end());
    EXPECT_EQ(clients, (std::vector<std::string>{"127.0.0.1:40000", "[::1]:40000"}));
    for (const Followed& s : streams) {
        EXPECT_TRUE(s.sent[0] == held) << s.sent[0].size();
        EXPECT_TRUE(s.sent[1] == answer) << s.sent[1].size();
    }
    EXPECT_EQ(Output("tshark -r '" + file + "' -T fields -e tcp.len -Y 'tcp.len > 0'"),
              "65000\n5000\n65000\n65000\n65000\n5001\n"
              "65000\n5000\n65000\n65000\n65000\n5001\n");
    EXPECT_EQ(Output("tshark -r '" + file + "' " + test::kCheckChecksums + " -Y '" +
                     test::kTcpFaults + "'"),
              "");
}

// Two conversations, one of them half closed on the way, in parts of 256 KiB: each part
// begins both again with a handshake, passes tshark's analysis with no flag, and the streams
// followed part by part give back every byte sent, in order.
TEST(CaptureFile, PartsOfARotatedCaptureEachReadAloneAndJoinToTheBytesSent) {
    if (!Output("tshark -v")) {
        GTEST_SKIP() << "tshark is not installed (scripts/setup.sh installs it)";
    }
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    CaptureFile capture;
    std::vector<std::string> said;
    capture.Sink().SetReport([&](LogKind, const std::string& text) { said.push_back(text); });
    capture.Sink().SetRotation(*ParseRotation("256K"), 0);
    ASSERT_TRUE(capture.Open(dir.filePath(QStringLiteral("r.pcap")).toStdString()));
    std::mt19937 rng(11);
    std::map<std::string, std::string> sent;  // "port side" -> bytes
    {
        CaptureFlow flows[2];
        for (std::uint16_t i = 0; i < 2; ++i) {
            capture.Connected(flows[i], End(4, 1, static_cast<std::uint16_t>(40000 + i)),
                              End(4, 2, 80));
        }
        for (int k = 0; k < 60; ++k) {
            const std::size_t i = static_cast<std::size_t>(k % 2);
            // The first conversation's Client ends a third of the way; its Server goes on.
            const CaptureSide from =
                (k % 3 != 0 || (i == 0 && k > 20)) ? CaptureSide::Server : CaptureSide::Client;
            if (i == 0 && k == 20) {
                capture.SideEnded(flows[0], CaptureSide::Client, false);
            }
            std::string bytes(rng() % 70000 + 1, '\0');
            std::generate(bytes.begin(), bytes.end(), [&] { return static_cast<char>(rng()); });
            capture.Block(flows[i], from, bytes.data(), static_cast<int>(bytes.size()));
            sent[std::to_string(40000 + i) + (from == CaptureSide::Client ? " c" : " s")] += bytes;
        }
    }
    capture.Close();

    const std::vector<std::string> parts = test::PartsInOrder(dir.path().toStdString());
    ASSERT_GT(parts.size(), 4u);
    std::vector<std::string> opened;
    for (const std::string& part : parts) {
        opened.push_back("Capture File part " + part + " opened");
    }
    EXPECT_EQ(said, opened);
    std::map<std::string, std::string> followed;
    for (const std::string& part : parts) {
        EXPECT_EQ(Output("tshark -r '" + part + "' " + test::kCheckChecksums + " -Y '" +
                         test::kTcpFaults + "'"),
                  "")
            << part;
        const std::vector<Followed> streams = FollowAll(part, 2);
        ASSERT_EQ(streams.size(), 2u) << part;
        for (const Followed& s : streams) {
            const std::string port = s.firstNode.substr(s.firstNode.rfind(':') + 1);
            followed[port + " c"] += s.sent[0];
            followed[port + " s"] += s.sent[1];
        }
    }
    for (const auto& [key, bytes] : sent) {
        EXPECT_TRUE(followed[key] == bytes)
            << key << ": " << followed[key].size() << " of " << bytes.size();
    }
}

}  // namespace
}  // namespace corvane::log
