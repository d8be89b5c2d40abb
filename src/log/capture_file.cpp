#include "log/capture_file.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>

namespace corvane::log {

namespace {

constexpr SinkFile::Texts kCaptureTexts{"Capture File", "Could not write capture file", "packet"};

constexpr std::uint8_t kFin = 0x01;
constexpr std::uint8_t kSyn = 0x02;
constexpr std::uint8_t kRst = 0x04;
constexpr std::uint8_t kPsh = 0x08;
constexpr std::uint8_t kAck = 0x10;

constexpr std::size_t kIpv4HeaderBytes = 20;
constexpr std::size_t kIpv6HeaderBytes = 40;
constexpr std::size_t kTcpHeaderBytes = 20;
constexpr std::uint8_t kProtocolTcp = 6;
constexpr std::uint16_t kWindow = 65535;  // every segment is acknowledged before the next

// The file's header and the header of each packet's record, in the byte order of this
// machine, as packet readers expect them: microsecond times, raw IP packets (link type 101),
// packets of up to 65,535 bytes, each kept whole.
struct FileHeader {
    std::uint32_t magic = 0xA1B2C3D4;
    std::uint16_t versionMajor = 2;
    std::uint16_t versionMinor = 4;
    std::int32_t zone = 0;
    std::uint32_t sigfigs = 0;
    std::uint32_t snapLength = 65535;
    std::uint32_t linkType = 101;
};
static_assert(sizeof(FileHeader) == 24);
struct RecordHeader {
    std::uint32_t seconds;
    std::uint32_t microseconds;
    std::uint32_t captured;
    std::uint32_t length;
};
static_assert(sizeof(RecordHeader) == 16);

std::int64_t NowMicroseconds() {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return static_cast<std::int64_t>(now.tv_sec) * 1000000 + now.tv_nsec / 1000;
}

CaptureSide Other(CaptureSide side) {
    return side == CaptureSide::Client ? CaptureSide::Server : CaptureSide::Client;
}

std::size_t Index(CaptureSide side) {
    return static_cast<std::size_t>(side);
}

void Put16(unsigned char* p, std::uint16_t value) {
    p[0] = static_cast<unsigned char>(value >> 8);
    p[1] = static_cast<unsigned char>(value);
}

void Put32(unsigned char* p, std::uint32_t value) {
    Put16(p, static_cast<std::uint16_t>(value >> 16));
    Put16(p + 2, static_cast<std::uint16_t>(value));
}

// The ones' complement sum (RFC 1071) taken over 32-bit words in memory order: the folded
// result, stored in memory order as well, is the checksum in network order. Two 64-bit
// loads a step, each added as its two halves, keep the pass close to the speed of memory.
std::uint64_t AddWords(const unsigned char* p, std::size_t n, std::uint64_t sum) {
    std::uint64_t other = 0;
    for (; n >= 16; p += 16, n -= 16) {
        std::uint64_t first;
        std::uint64_t second;
        std::memcpy(&first, p, 8);
        std::memcpy(&second, p + 8, 8);
        sum += (first & 0xFFFFFFFFu) + (first >> 32);
        other += (second & 0xFFFFFFFFu) + (second >> 32);
    }
    sum += other;
    for (; n >= 4; p += 4, n -= 4) {
        std::uint32_t word;
        std::memcpy(&word, p, 4);
        sum += word;
    }
    if (n > 0) {
        std::uint32_t word = 0;
        std::memcpy(&word, p, n);
        sum += word;
    }
    return sum;
}

void StoreChecksum(unsigned char* field, std::uint64_t sum) {
    while ((sum >> 16) != 0) {
        sum = (sum & 0xFFFF) + (sum >> 16);
    }
    const auto checksum = static_cast<std::uint16_t>(~sum);
    std::memcpy(field, &checksum, 2);
}

// Fills in the IP header's checksum (IPv4) and the TCP checksum over the pseudo-header,
// the TCP header and the payload.
void FillChecksums(unsigned char* packet, std::size_t length) {
    const bool v6 = (packet[0] >> 4) == 6;
    const std::size_t ipBytes = v6 ? kIpv6HeaderBytes : kIpv4HeaderBytes;
    const auto tcpBytes = static_cast<std::uint32_t>(length - ipBytes);
    // The pseudo-header: the two addresses, then the protocol and the TCP length.
    unsigned char tail[8] = {};
    std::uint64_t sum = 0;
    if (v6) {
        sum = AddWords(packet + 8, 32, sum);
        Put32(tail, tcpBytes);
        tail[7] = kProtocolTcp;
        sum = AddWords(tail, 8, sum);
    } else {
        StoreChecksum(packet + 10, AddWords(packet, ipBytes, 0));
        sum = AddWords(packet + 12, 8, sum);
        tail[1] = kProtocolTcp;
        Put16(tail + 2, static_cast<std::uint16_t>(tcpBytes));
        sum = AddWords(tail, 4, sum);
    }
    StoreChecksum(packet + ipBytes + 16, AddWords(packet + ipBytes, tcpBytes, sum));
}

// The records of a buffer, which begins with one: f(offset of the packet, its length) for
// each whole record in data[0, size); the end of the last one.
template <typename F>
std::size_t EachRecord(const char* data, std::size_t size, F&& f) {
    std::size_t offset = 0;
    while (offset + sizeof(RecordHeader) <= size) {
        RecordHeader record;
        std::memcpy(&record, data + offset, sizeof record);
        if (offset + sizeof record + record.captured > size) {
            break;
        }
        f(offset + sizeof record, record.captured);
        offset += sizeof record + record.captured;
    }
    return offset;
}

bool BeginFile(std::FILE* file) {
    const FileHeader header;
    return std::fwrite(&header, sizeof header, 1, file) == 1;
}

void PrepareRecords(char* data, std::size_t used) {
    EachRecord(data, used, [data](std::size_t at, std::size_t length) {
        FillChecksums(reinterpret_cast<unsigned char*>(data + at), length);
    });
}

std::uint64_t CountRecords(const char* data, std::size_t size) {
    std::uint64_t count = 0;
    EachRecord(data, size, [&count](std::size_t, std::size_t) { ++count; });
    return count;
}

std::size_t LastRecordEnd(const char* data, std::size_t size) {
    return EachRecord(data, size, [](std::size_t, std::size_t) {});
}

constexpr FileFormat kPcapFormat{&BeginFile, &PrepareRecords, &CountRecords, &LastRecordEnd};

}  // namespace

CaptureEndpoint CaptureEndpoint::Ipv4(std::uint32_t networkAddress, std::uint16_t networkPort) {
    CaptureEndpoint end;
    std::memcpy(end.address.data(), &networkAddress, 4);
    end.addressLength = 4;
    const auto* port = reinterpret_cast<const unsigned char*>(&networkPort);
    end.port = static_cast<std::uint16_t>((port[0] << 8) | port[1]);
    return end;
}

namespace {

constexpr std::uint8_t kMappedPrefix[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF};

CaptureEndpoint MappedIpv6(const CaptureEndpoint& ipv4) {
    CaptureEndpoint end;
    std::memcpy(end.address.data(), kMappedPrefix, sizeof kMappedPrefix);
    std::memcpy(end.address.data() + 12, ipv4.address.data(), 4);
    end.addressLength = 16;
    end.port = ipv4.port;
    return end;
}

// The socket layer's address as an end: an IPv4-mapped IPv6 address (an IPv4 Client on the
// Local Port that listens for both) is the IPv4 address it stands for.
CaptureEndpoint EndpointOf(const platform::SocketAddress& a) {
    if (a.family != platform::AF_INET6_) {
        return CaptureEndpoint::Ipv4(a.address, a.port);
    }
    if (std::memcmp(a.address6, kMappedPrefix, sizeof kMappedPrefix) == 0) {
        std::uint32_t ipv4 = 0;
        std::memcpy(&ipv4, a.address6 + 12, 4);
        return CaptureEndpoint::Ipv4(ipv4, a.port);
    }
    CaptureEndpoint end = CaptureEndpoint::Ipv4(0, a.port);
    std::memcpy(end.address.data(), a.address6, 16);
    end.addressLength = 16;
    return end;
}

}  // namespace

CaptureFlow::~CaptureFlow() {
    if (file_ != nullptr) {
        file_->EndFlow(*this);
    }
}

CaptureFile::CaptureFile()
    : file_(*this, kCaptureTexts, kPcapFormat, kBufferBytes, kSpareBuffers, kFlushTimerMs) {}

CaptureFile::~CaptureFile() {
    file_.SetReport(nullptr);  // whoever would log it is going too
    Close();
}

bool CaptureFile::Open(const std::string& name) {
    Close();
    if (!file_.Open(name)) {
        return false;
    }
    nextInitialSequence_ = static_cast<std::uint32_t>(NowMicroseconds());
    return true;
}

void CaptureFile::Close() {
    while (flows_ != nullptr) {
        Unlink(*flows_);
    }
    file_.Close();
}

void CaptureFile::Link(CaptureFlow& flow) {
    flow.file_ = this;
    flow.previous_ = nullptr;
    flow.next_ = flows_;
    if (flows_ != nullptr) {
        flows_->previous_ = &flow;
    }
    flows_ = &flow;
}

void CaptureFile::Unlink(CaptureFlow& flow) {
    if (flow.previous_ != nullptr) {
        flow.previous_->next_ = flow.next_;
    } else {
        flows_ = flow.next_;
    }
    if (flow.next_ != nullptr) {
        flow.next_->previous_ = flow.previous_;
    }
    flow.previous_ = nullptr;
    flow.next_ = nullptr;
    flow.file_ = nullptr;
}

void CaptureFile::BeginPart() {
    const std::int64_t now = NowMicroseconds();
    for (CaptureFlow* flow = flows_; flow != nullptr; flow = flow->next_) {
        // The handshake's numbers are those just before what each side sends next, its FIN
        // counted, so that the conversation goes on from where it stands.
        const auto reached = flow->nextSequence_;
        for (const std::size_t side : {std::size_t{0}, std::size_t{1}}) {
            flow->nextSequence_[side] = reached[side] - 1 - (flow->finished_[side] ? 1 : 0);
        }
        Packet(*flow, CaptureSide::Client, kSyn, nullptr, 0, now);
        ++flow->nextSequence_[Index(CaptureSide::Client)];
        Packet(*flow, CaptureSide::Server, kSyn | kAck, nullptr, 0, now);
        ++flow->nextSequence_[Index(CaptureSide::Server)];
        Acknowledge(*flow, CaptureSide::Client, now);
        for (const CaptureSide side : {CaptureSide::Client, CaptureSide::Server}) {
            if (flow->finished_[Index(side)]) {
                Packet(*flow, side, kFin | kAck, nullptr, 0, now);
                ++flow->nextSequence_[Index(side)];
                Acknowledge(*flow, Other(side), now);
            }
        }
    }
}

void CaptureFile::Connected(CaptureFlow& flow, const platform::SocketAddress& client,
                            const platform::SocketAddress& server) {
    CaptureEndpoint ends[] = {EndpointOf(client), EndpointOf(server)};
    // A conversation has one IP version: an IPv4 end beside an IPv6 one (a Client that came
    // over IPv4 to a Server reached over IPv6, or the other way round) is written in its
    // IPv4-mapped IPv6 form.
    if (ends[0].addressLength != ends[1].addressLength) {
        for (CaptureEndpoint& end : ends) {
            if (end.addressLength == 4) {
                end = MappedIpv6(end);
            }
        }
    }
    Connected(flow, ends[0], ends[1]);
}

void CaptureFile::Connected(CaptureFlow& flow, const CaptureEndpoint& client,
                            const CaptureEndpoint& server) {
    if (!file_.IsOpen()) {
        return;
    }
    Attend();
    Link(flow);
    flow.ends_ = {client, server};
    flow.finished_ = {false, false};
    // Initial sequence numbers far apart, different for every conversation.
    for (std::uint32_t& sequence : flow.nextSequence_) {
        sequence = nextInitialSequence_;
        nextInitialSequence_ += 0x9E3779B9u;
    }
    const std::int64_t now = NowMicroseconds();
    Packet(flow, CaptureSide::Client, kSyn, nullptr, 0, now);
    ++flow.nextSequence_[Index(CaptureSide::Client)];
    Packet(flow, CaptureSide::Server, kSyn | kAck, nullptr, 0, now);
    ++flow.nextSequence_[Index(CaptureSide::Server)];
    Acknowledge(flow, CaptureSide::Client, now);
}

void CaptureFile::WriteBlock(CaptureFlow& flow, CaptureSide from, const char* bytes, int size) {
    if (flow.finished_[Index(from)]) {
        return;
    }
    Attend();
    const std::int64_t now = NowMicroseconds();
    std::size_t left = static_cast<std::size_t>(std::max(size, 0));
    while (left > 0) {
        const std::size_t n = std::min(left, kMaxSegment);
        Packet(flow, from, kPsh | kAck, bytes, n, now);
        flow.nextSequence_[Index(from)] += static_cast<std::uint32_t>(n);
        Acknowledge(flow, Other(from), now);
        bytes += n;
        left -= n;
    }
}

void CaptureFile::WriteEnd(CaptureFlow& flow, CaptureSide side, bool reset) {
    Attend();
    const std::int64_t now = NowMicroseconds();
    if (reset) {
        Packet(flow, side, kRst | kAck, nullptr, 0, now);
        Unlink(flow);  // nothing follows a reset
        return;
    }
    if (flow.finished_[Index(side)]) {
        return;
    }
    Packet(flow, side, kFin | kAck, nullptr, 0, now);
    ++flow.nextSequence_[Index(side)];
    flow.finished_[Index(side)] = true;
    Acknowledge(flow, Other(side), now);
    if (flow.finished_[Index(Other(side))]) {
        Unlink(flow);
    }
}

void CaptureFile::EndFlow(CaptureFlow& flow) {
    for (const CaptureSide side : {CaptureSide::Client, CaptureSide::Server}) {
        if (flow.file_ != nullptr) {
            WriteEnd(flow, side, false);
        }
    }
    if (flow.file_ != nullptr) {
        Unlink(flow);
    }
}

void CaptureFile::Acknowledge(CaptureFlow& flow, CaptureSide by, std::int64_t microseconds) {
    Packet(flow, by, kAck, nullptr, 0, microseconds);
}

void CaptureFile::Packet(CaptureFlow& flow, CaptureSide from, std::uint8_t flags,
                         const char* payload, std::size_t size, std::int64_t microseconds) {
    if (!file_.Writing()) {
        file_.Lost(1);  // a failed write holds the file
        return;
    }
    const CaptureEndpoint& source = flow.ends_[Index(from)];
    const CaptureEndpoint& destination = flow.ends_[Index(Other(from))];
    const bool v6 = source.addressLength == 16;
    const std::size_t ipBytes = v6 ? kIpv6HeaderBytes : kIpv4HeaderBytes;
    const std::size_t length = ipBytes + kTcpHeaderBytes + size;
    char* out = file_.Room(sizeof(RecordHeader) + length);
    const auto stamp = static_cast<std::uint64_t>(microseconds);
    const RecordHeader record{
        static_cast<std::uint32_t>(stamp / 1000000), static_cast<std::uint32_t>(stamp % 1000000),
        static_cast<std::uint32_t>(length), static_cast<std::uint32_t>(length)};
    std::memcpy(out, &record, sizeof record);
    auto* ip = reinterpret_cast<unsigned char*>(out + sizeof record);
    std::memset(ip, 0, ipBytes + kTcpHeaderBytes);
    if (v6) {
        ip[0] = 0x60;
        Put16(ip + 4, static_cast<std::uint16_t>(kTcpHeaderBytes + size));
        ip[6] = kProtocolTcp;
        ip[7] = 64;  // hop limit
        std::memcpy(ip + 8, source.address.data(), 16);
        std::memcpy(ip + 24, destination.address.data(), 16);
    } else {
        ip[0] = 0x45;  // version 4, five words of header
        Put16(ip + 2, static_cast<std::uint16_t>(length));
        Put16(ip + 6, 0x4000);  // don't fragment; the identification stays 0
        ip[8] = 64;             // time to live
        ip[9] = kProtocolTcp;
        std::memcpy(ip + 12, source.address.data(), 4);
        std::memcpy(ip + 16, destination.address.data(), 4);
    }
    unsigned char* tcp = ip + ipBytes;
    Put16(tcp, source.port);
    Put16(tcp + 2, destination.port);
    Put32(tcp + 4, flow.nextSequence_[Index(from)]);
    if ((flags & kAck) != 0) {
        Put32(tcp + 8, flow.nextSequence_[Index(Other(from))]);
    }
    tcp[12] = 0x50;  // five words of header, no options
    tcp[13] = flags;
    Put16(tcp + 14, kWindow);
    if (size > 0) {
        std::memcpy(tcp + kTcpHeaderBytes, payload, size);
    }
    // The checksums are filled in by the writer thread.
    file_.Commit(sizeof(RecordHeader) + length);
}

}  // namespace corvane::log
