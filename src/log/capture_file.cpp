#include "log/capture_file.h"

#include <pcap/pcap.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>

namespace corvane::log {

namespace {

constexpr const char* kCouldNotWriteCapture = "Could not write capture file";

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
constexpr int kSnapLength = 65535;
// The stream under pcap_dump: large enough that a batch costs few write calls.
constexpr std::size_t kStreamBuffer = 1024 * 1024;

// What precedes each packet in our buffers: its time and its length.
struct RecordHeader {
    std::int64_t microseconds;
    std::uint32_t length;
    std::uint32_t unused;
};

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

// Writes the records of one buffer; false when the stream failed.
bool DumpRecords(pcap_dumper_t* dumper, char* data, std::size_t used) {
    std::size_t offset = 0;
    while (offset + sizeof(RecordHeader) <= used) {
        RecordHeader record;
        std::memcpy(&record, data + offset, sizeof record);
        offset += sizeof record;
        auto* packet = reinterpret_cast<unsigned char*>(data + offset);
        FillChecksums(packet, record.length);
        pcap_pkthdr header{};
        header.ts.tv_sec = static_cast<time_t>(record.microseconds / 1000000);
        header.ts.tv_usec = static_cast<suseconds_t>(record.microseconds % 1000000);
        header.caplen = record.length;
        header.len = record.length;
        pcap_dump(reinterpret_cast<u_char*>(dumper), &header, packet);
        offset += record.length;
    }
    return std::ferror(pcap_dump_file(dumper)) == 0;
}

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
    : writer_(
          kBufferBytes, kSpareBuffers,
          [this](char* data, std::size_t used) {
              if (!DumpRecords(static_cast<pcap_dumper_t*>(dumper_), data, used)) {
                  failed_ = true;
              }
          },
          // Whatever the stream still holds goes to the file before the writer sleeps.
          [this] {
              if (pcap_dump_flush(static_cast<pcap_dumper_t*>(dumper_)) != 0) {
                  failed_ = true;
              }
          }) {}

CaptureFile::~CaptureFile() {
    report_ = nullptr;  // whoever would log it is going too
    Close();
    platform::KillTimer(this, kFlushTimerId);
    platform::DiscardMessages(this);
}

void CaptureFile::HandleMessage(platform::UINT msg, platform::WPARAM wParam, platform::LPARAM) {
    if (msg != platform::WM_TIMER || wParam != kFlushTimerId) {
        return;
    }
    // A tick that finds nothing new ends the timer; the one before handed the rest over.
    if (used_ > 0) {
        HandOver();
    } else {
        platform::KillTimer(this, kFlushTimerId);
        timerRunning_ = false;
    }
    CheckFailure();
}

bool CaptureFile::Open(const std::string& name) {
    Close();
    std::FILE* file = std::fopen(name.c_str(), "wb");
    if (file == nullptr) {
        return false;
    }
    std::setvbuf(file, nullptr, _IOFBF, kStreamBuffer);
    pcap_t* pcap = pcap_open_dead(DLT_RAW, kSnapLength);
    pcap_dumper_t* dumper = pcap == nullptr ? nullptr : pcap_dump_fopen(pcap, file);
    if (dumper == nullptr) {
        std::fclose(file);
        if (pcap != nullptr) {
            pcap_close(pcap);
        }
        return false;
    }
    pcap_ = pcap;
    dumper_ = dumper;
    open_ = true;
    failureReported_ = false;
    failed_ = false;
    used_ = 0;
    if (!buffer_) {
        buffer_ = writer_.NewBuffer();
    }
    nextInitialSequence_ = static_cast<std::uint32_t>(NowMicroseconds());
    // Without a thread each buffer is written as it is handed over.
    writer_.Start();
    return true;
}

void CaptureFile::Close() {
    if (!open_) {
        return;
    }
    HandOver();
    writer_.Stop();
    auto* dumper = static_cast<pcap_dumper_t*>(dumper_);
    if (pcap_dump_flush(dumper) != 0 || std::ferror(pcap_dump_file(dumper)) != 0) {
        failed_ = true;
    }
    pcap_dump_close(dumper);
    pcap_close(static_cast<pcap_t*>(pcap_));
    dumper_ = nullptr;
    pcap_ = nullptr;
    open_ = false;
    platform::KillTimer(this, kFlushTimerId);
    timerRunning_ = false;
    CheckFailure();
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
    if (!open_) {
        return;
    }
    flow.file_ = this;
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
    if (!open_ || flow.finished_[Index(from)]) {
        return;
    }
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
    if (!open_) {
        flow.file_ = nullptr;
        return;
    }
    const std::int64_t now = NowMicroseconds();
    if (reset) {
        Packet(flow, side, kRst | kAck, nullptr, 0, now);
        flow.file_ = nullptr;  // nothing follows a reset
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
        flow.file_ = nullptr;
    }
}

void CaptureFile::EndFlow(CaptureFlow& flow) {
    for (const CaptureSide side : {CaptureSide::Client, CaptureSide::Server}) {
        if (flow.file_ != nullptr) {
            WriteEnd(flow, side, false);
        }
    }
    flow.file_ = nullptr;
}

void CaptureFile::Acknowledge(CaptureFlow& flow, CaptureSide by, std::int64_t microseconds) {
    Packet(flow, by, kAck, nullptr, 0, microseconds);
}

void CaptureFile::Packet(CaptureFlow& flow, CaptureSide from, std::uint8_t flags,
                         const char* payload, std::size_t size, std::int64_t microseconds) {
    const CaptureEndpoint& source = flow.ends_[Index(from)];
    const CaptureEndpoint& destination = flow.ends_[Index(Other(from))];
    const bool v6 = source.addressLength == 16;
    const std::size_t ipBytes = v6 ? kIpv6HeaderBytes : kIpv4HeaderBytes;
    const std::size_t length = ipBytes + kTcpHeaderBytes + size;
    char* out = Reserve(sizeof(RecordHeader) + length);
    const RecordHeader record{microseconds, static_cast<std::uint32_t>(length), 0};
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
}

char* CaptureFile::Reserve(std::size_t size) {
    if (used_ + size > kBufferBytes) {
        HandOver();
    }
    if (!timerRunning_) {
        timerRunning_ = platform::SetTimer(this, kFlushTimerId, kFlushTimerMs) != 0;
    }
    char* out = buffer_.get() + used_;
    used_ += size;
    return out;
}

void CaptureFile::HandOver() {
    if (used_ == 0) {
        return;
    }
    if (!writer_.Running()) {
        if (!DumpRecords(static_cast<pcap_dumper_t*>(dumper_), buffer_.get(), used_)) {
            failed_ = true;
        }
    } else {
        buffer_ = writer_.Submit(std::move(buffer_), used_);
    }
    used_ = 0;
    CheckFailure();
}

void CaptureFile::CheckFailure() {
    if (failed_ && !failureReported_) {
        failureReported_ = true;
        if (report_) {
            report_(kCouldNotWriteCapture);
        }
    }
}

}  // namespace corvane::log
