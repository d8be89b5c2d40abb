// The Capture File: every relayed stream as a pcap file (libpcap's writer, link type raw IP)
// that packet readers open. Each Connection appears as one TCP conversation between the
// Client's address and port and the Server's: a handshake when the Server's connection
// completes, one segment for the bytes of each send that passed them on, in each direction
// (at most 65,000 bytes each, every one acknowledged at once), and a FIN or RST when the
// relay passes a side's end on. So the file shows what each peer was given, at the time it
// was handed over, and nothing that the relay read but dropped. The relay only says what
// happened; the packets, their sequence numbers and checksums are made here.
//
// Nothing here touches the file system on the event thread: packets are built, in the
// file's own record format, into the buffers of the file's SinkFile (log/sink_file.h), whose
// writer thread fills in the checksums and writes each filled buffer at once. A buffer that
// is only partly filled goes out at the next tick of a 200 ms timer, so that a quiet relay's
// last packets reach the file soon. At most kBuffersInFlight buffers wait; a hand-over
// beyond that waits for the writer, so memory stays bounded.
//
// The SinkFile also gives the file its parts when it rotates, and a failed write its course
// (an Error line, the packets counted until space returns, a new part). Each part reads on
// its own: it begins every open conversation again with a handshake whose sequence numbers
// lead on to the ones the conversation has reached (and the FIN of a side that has ended),
// so that the numbers run on unbroken from part to part.
#pragma once

#include <cstdint>
#include <string>

#include "log/capture_flow.h"
#include "log/sink_file.h"
#include "platform/winsock.h"

namespace corvane::log {

class CaptureFile final : private SinkFile::Edges {
public:
    static constexpr std::size_t kBufferBytes = 1024 * 1024;
    static constexpr std::size_t kBuffersInFlight = FileWriter::kBuffersInFlight;
    static constexpr std::size_t kSpareBuffers = 2;
    static constexpr std::size_t kMaxSegment = 65000;  // payload bytes per segment
    static constexpr platform::UINT kFlushTimerMs = 200;

    CaptureFile();
    // Closes an open file as Close does.
    ~CaptureFile();
    CaptureFile(const CaptureFile&) = delete;
    CaptureFile& operator=(const CaptureFile&) = delete;

    // Creates the file or empties it (or its first part when rotating) and writes the pcap
    // header; an open file is closed first. False when it cannot be created (then no file is
    // open).
    bool Open(const std::string& name);
    // Writes everything built so far, then closes the file; the open conversations end there
    // without a packet. Nothing when none is open.
    void Close();
    bool IsOpen() const { return file_.IsOpen(); }

    // Rotation, the failure's course and what the file has to say (its report): see SinkFile.
    SinkFile& Sink() { return file_; }

    // The Server's connection has completed: the three-way handshake.
    void Connected(CaptureFlow& flow, const platform::SocketAddress& client,
                   const platform::SocketAddress& server);
    // The same for ends of either address length (IPv4 or IPv6).
    void Connected(CaptureFlow& flow, const CaptureEndpoint& client, const CaptureEndpoint& server);
    // Bytes from one side that a send has just passed on to the other: their segments, each
    // acknowledged by the other side. Nothing for a flow that has not begun. A part that is
    // due begins before them (its line is said later, where a log line may begin).
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

    void EndPart() override {}
    // Every open conversation again: its handshake, and the FIN of each side that ended.
    void BeginPart() override;
    // Before the packets of a hook: a part that is due, a failed write's course.
    void Attend() {
        if (file_.NeedsAttention()) {
            file_.Attend(false);
        }
    }
    void Link(CaptureFlow& flow);
    void Unlink(CaptureFlow& flow);  // the conversation is over in this file
    void WriteBlock(CaptureFlow& flow, CaptureSide from, const char* bytes, int size);
    void WriteEnd(CaptureFlow& flow, CaptureSide side, bool reset);
    void EndFlow(CaptureFlow& flow);  // the flow goes: FIN of each side not yet ended
    // One packet from side `from` of the flow: flags, payload, at the time given.
    // The acknowledgement number is the other side's next sequence number.
    void Packet(CaptureFlow& flow, CaptureSide from, std::uint8_t flags, const char* payload,
                std::size_t size, std::int64_t microseconds);
    void Acknowledge(CaptureFlow& flow, CaptureSide by, std::int64_t microseconds);

    CaptureFlow* flows_ = nullptr;  // the open conversations
    std::uint32_t nextInitialSequence_ = 0;
    SinkFile file_;
};

}  // namespace corvane::log
