// A Channel's release marks: for the bytes it holds under conditions, where each piece ends
// and when it may be passed on. The send side passes on only what is due. Pieces are added in
// the order of the bytes, with due times that never decrease, so the marks are a queue.
//
//   front of the Channel                                     length
//   | piece, due 10.2 ms | piece, due 10.4 ms | piece, due 11.0 ms |
//
// Positions are counted over the Channel's whole life, so that bytes leaving its front
// (Consumed) move no mark.
#pragma once

#include <cstdint>
#include <vector>

namespace corvane::relay {

class ReleaseMarks {
public:
    // The piece that ends `end` bytes from the Channel's front may go at dueNs (steady clock).
    // separate: it leaves on its own, never in one send with the piece after it. A piece due
    // with the one before it, neither separate, is joined to it.
    void Add(std::int32_t end, std::int64_t dueNs, bool separate);
    // The bytes at the front that may go at nowNs: up to the end of the last due piece, or of
    // the first due separate one.
    std::int32_t Due(std::int64_t nowNs) const;
    // When the first piece not due at nowNs falls due; -1 when every piece is due (or none
    // is held).
    std::int64_t NextDue(std::int64_t nowNs) const;
    // count bytes left the front of the Channel.
    void Consumed(std::int32_t count);
    // The Channel was emptied and freed.
    void Clear();
    bool Empty() const { return head_ == marks_.size(); }

    // The most the Channel holds before its source waits (RelayEngine::HeldLimit); set by
    // the conditions of its direction.
    std::int64_t heldLimit = 0;

private:
    struct Mark {
        std::int64_t end;  // position after the piece's last byte
        std::int64_t dueNs;
        bool separate;
    };
    std::vector<Mark> marks_;
    std::size_t head_ = 0;       // the first mark still held
    std::int64_t consumed_ = 0;  // position of the Channel's front
};

}  // namespace corvane::relay
