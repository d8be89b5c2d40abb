// The Capture File: every relayed stream as a pcap file (libpcap's writer, link type raw IP)
// that packet readers open. Each Connection appears as one TCP conversation between the
// Client's address and port and the Server's: a handshake when the Server's connection
// completes, one segment for the bytes of each send that passed them on, in each direction
// (at most 65,000 bytes each, every one acknowledged at once), and a FIN or RST when the
// relay passes a side's end on. So the file shows what each peer was given, at the time it
// was handed over, and nothing that the relay read but dropped. The relay only says what
// happened; the packets, their sequence numbers and checksums are made here.
//
// Nothing here touches the file system on the event thread: packets are built into buffers
// of our own, and a writer thread (a BufferWriter) takes the filled ones and hands each
// packet to pcap_dump.
// A buffer that is only partly filled goes out at the next tick of a 200 ms timer, so that
// a quiet relay's last packets reach the file soon. At most kBuffersInFlight buffers wait;
// a hand-over beyond that waits for the writer, so memory stays bounded.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "log/buffer_writer.h"
#include "log/capture_flow.h"
#include "platform/messages.h"
#include "platform/winsock.h"

namespace corvane::log {

class CaptureFile final : public platform::MessageTarget {
public:
    static constexpr std::size_t kBufferBytes = 1024 * 1024;
    static constexpr std::size_t kBuffersInFlight = BufferWriter::kBuffersInFlight;
    static constexpr std::size_t kSpareBuffers = 2;
    static constexpr std::size_t kMaxSegment = 65000;  // payload bytes per segment
    static constexpr std::uintptr_t kFlushTimerId = 1;
    static constexpr platform::UINT kFlushTimerMs = 200;

    CaptureFile();
    // Closes an open file as Close does.
    ~CaptureFile() override;
    CaptureFile(const CaptureFile&) = delete;
    CaptureFile& operator=(const CaptureFile&) = delete;

    // WM_TIMER of the flush timer hands a partly filled buffer over.
    void HandleMessage(platform::UINT msg, platform::WPARAM wParam,
                       platform::LPARAM lParam) override;

    // Creates the file or empties it and writes the pcap header; an open file is closed
    // first. False when it cannot be created (then no file is open).
    bool Open(const std::string& name);
    // Writes everything built so far, then closes the file. Nothing when none is open.
    void Close();
    bool IsOpen() const { return open_; }

    // Called with the text of the Error line when a write first fails (once per file).
    void SetErrorReport(std::function<void(const char*)> report) { report_ = std::move(report); }

    // The Server's connection has completed: the three-way handshake.
    void Connected(CaptureFlow& flow, const platform::SocketAddress& client,
                   const platform::SocketAddress& server);
    // The same for ends of either address length (IPv4 or IPv6).
    void Connected(CaptureFlow& flow, const CaptureEndpoint& client, const CaptureEndpoint& server);
    // Bytes from one side that a send has just passed on to the other: their segments, each
    // acknowledged by the other side. Nothing for a flow that has not begun.
    void Block(CaptureFlow& flow, CaptureSide from, const char* bytes, int size) {
        if (flow.Active()) {
            WriteBlock(flow, from, bytes, size);
        }
    }
    // The relay has passed a side's end on: its FIN (acknowledged), or its RST, after which
    // the conversation is over.
    void SideEnded(CaptureFlow& flow, CaptureSide side, bool reset) {
        if (flow.Active()) {
            WriteEnd(flow, side, reset);
        }
    }

private:
    friend class CaptureFlow;

    void WriteBlock(CaptureFlow& flow, CaptureSide from, const char* bytes, int size);
    void WriteEnd(CaptureFlow& flow, CaptureSide side, bool reset);
    void EndFlow(CaptureFlow& flow);  // the flow goes: FIN of each side not yet ended
    // One packet from side `from` of the flow: flags, payload, at the time given.
    // The acknowledgement number is the other side's next sequence number.
    void Packet(CaptureFlow& flow, CaptureSide from, std::uint8_t flags, const char* payload,
                std::size_t size, std::int64_t microseconds);
    void Acknowledge(CaptureFlow& flow, CaptureSide by, std::int64_t microseconds);
    char* Reserve(std::size_t size);
    void HandOver();
    void CheckFailure();

    bool open_ = false;
    bool failureReported_ = false;
    bool timerRunning_ = false;
    std::function<void(const char*)> report_;
    std::unique_ptr<char[]> buffer_;  // being filled on the event thread
    std::size_t used_ = 0;
    std::uint32_t nextInitialSequence_ = 0;

    // Shared with the writer thread.
    void* dumper_ = nullptr;  // pcap_dumper_t
    void* pcap_ = nullptr;    // pcap_t
    std::atomic<bool> failed_{false};
    BufferWriter writer_;  // last, so that its thread ends before the members it writes with
};

}  // namespace corvane::log
