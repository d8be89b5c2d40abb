// Reading a kept-streams store back (stream_format.h): the Follow window, Save and
// "corvane-cli -follow" share it. The file is untrusted input (a user may name any file):
// every length and offset is checked against the file and the extent, memory stays bounded
// by the file's size, and a file that is not a store is an error that says so.
//
//   StreamReader reader;
//   if (!reader.Open(path, error)) -> error ("... is not a kept-streams store")
//   reader.Connections()            -> serial, number, Client, Server, start, bytes each way
//   reader.ForEachBlock(serial, f)  -> each block in order: direction, time, bytes
//   reader.Refresh(error)           -> again, with what a live writer has added since
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "log/connection_serial.h"
#include "log/stream_store.h"

namespace corvane::log {

struct RecordView;  // stream_reader.cpp

struct KeptConnection {
    ConnectionSerial serial = kNoConnection;
    int number = 0;
    std::string client;  // "127.0.0.1:50312"
    std::string server;
    std::int64_t startedUs = 0;  // its accept, microseconds since the Unix epoch
    std::int64_t toServer = 0;   // bytes kept each way
    std::int64_t toClient = 0;
};

// One block as it was passed on: a send's bytes (a single send call of the relay).
struct KeptBlock {
    StreamDirection direction = StreamDirection::ToServer;
    std::int64_t microseconds = 0;  // when it was handed to send, since the Unix epoch
    std::string_view bytes;         // valid during the visit only
};

class StreamReader {
public:
    StreamReader() = default;
    ~StreamReader();
    StreamReader(const StreamReader&) = delete;
    StreamReader& operator=(const StreamReader&) = delete;

    // Opens the file and indexes its extents. False with a message naming the file: it
    // cannot be read, or it is not a store.
    bool Open(const std::string& path, std::string& error);
    // Indexes the file again (a store still being written).
    bool Refresh(std::string& error);

    // The Connections held, by serial, with what they hold (every record is read once).
    std::vector<KeptConnection> Connections();
    // True when the store holds the Connection (its first extent is there).
    bool Has(ConnectionSerial serial) const { return chains_.count(serial) != 0; }
    // Each of the Connection's blocks in order (parts split across extents joined); visit
    // returns false to stop. False when the store does not hold it or a read failed.
    bool ForEachBlock(ConnectionSerial serial, const std::function<bool(const KeptBlock&)>& visit);

private:
    struct Info {
        int number = 0;
        std::string client;
        std::string server;
        std::int64_t startedUs = 0;
    };
    // One extent of the chain read into extent_: false on a read failure.
    bool ReadExtent(std::uint32_t slot);
    // Walks the chain's records; record(header, bytes) sees each in order.
    bool ForEachRecord(ConnectionSerial serial,
                       const std::function<bool(const RecordView&)>& record);

    int fd_ = -1;
    std::string path_;
    std::uint32_t extentBytes_ = 0;
    std::int64_t fileBytes_ = 0;
    std::map<ConnectionSerial, std::vector<std::uint32_t>> chains_;  // slots in sequence
    std::string extent_;
};

// The Follow window's text of one block: a heading with its direction, time and size
// ("Client to Server, 20:14:03.123, 18 bytes"), then the bytes as text: CR LF and LF end a
// line, a tab stays, any other control byte shows as '.', and the block ends with a line
// end. Appended to out, with LF line ends.
void AppendBlockText(const KeptBlock& block, std::string& out);

// "20:14:03.123" of a time in microseconds since the Unix epoch, in local time; with the
// date in front ("2024-06-01 20:14:03.123") when withDate.
std::string LocalTimeText(std::int64_t microseconds, bool withDate);

}  // namespace corvane::log
