// The due times of every conditioned Connection in one min-heap, so that one timer, armed for
// the earliest, serves them all: ten thousand throttled Connections cost the wake-ups of their
// releases, not a timer each. A slot lives in the Connection's conditions and knows its place
// in the heap, so that moving or removing it costs O(log n) and nothing stale is ever left.
#pragma once

#include <cstdint>
#include <vector>

namespace corvane::relay {

struct Connection;

// What a slot stands for: a direction's next release, or the next event of the Connection's
// life (a delayed connect, an end, a stall, a delayed close).
enum class DueKind : std::uint8_t { ReleaseToServer, ReleaseToClient, Life };

struct DueSlot {
    Connection* connection = nullptr;
    DueKind kind = DueKind::Life;
    std::int64_t dueNs = 0;
    std::int32_t index = -1;  // place in the heap; -1 when not in it

    bool Set() const { return index >= 0; }
};

class DueHeap {
public:
    // Puts the slot in at dueNs, or moves it there.
    void Schedule(DueSlot& slot, std::int64_t dueNs);
    // Takes the slot out; harmless when it is not in.
    void Cancel(DueSlot& slot);
    // The earliest slot, or null.
    DueSlot* Earliest() const { return heap_.empty() ? nullptr : heap_.front(); }
    // Takes every slot out.
    void Clear();
    std::size_t Size() const { return heap_.size(); }

private:
    void Place(std::size_t i, DueSlot* slot);
    void Up(std::size_t i);
    void Down(std::size_t i);

    std::vector<DueSlot*> heap_;
};

}  // namespace corvane::relay
