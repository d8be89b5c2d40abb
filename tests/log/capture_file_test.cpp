// The Capture File by itself, read back by tshark: a block larger than a segment is cut into
// segments of at most 65,000 bytes that give the block back whole, over IPv4 and IPv6 ends.
#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "log/capture_file.h"
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

}  // namespace
}  // namespace corvane::log
