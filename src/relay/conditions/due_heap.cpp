#include "relay/conditions/due_heap.h"

namespace corvane::relay {

void DueHeap::Place(std::size_t i, DueSlot* slot) {
    heap_[i] = slot;
    slot->index = static_cast<std::int32_t>(i);
}

void DueHeap::Up(std::size_t i) {
    DueSlot* slot = heap_[i];
    while (i > 0) {
        const std::size_t parent = (i - 1) / 2;
        if (heap_[parent]->dueNs <= slot->dueNs) {
            break;
        }
        Place(i, heap_[parent]);
        i = parent;
    }
    Place(i, slot);
}

void DueHeap::Down(std::size_t i) {
    DueSlot* slot = heap_[i];
    const std::size_t n = heap_.size();
    for (;;) {
        std::size_t child = 2 * i + 1;
        if (child >= n) {
            break;
        }
        if (child + 1 < n && heap_[child + 1]->dueNs < heap_[child]->dueNs) {
            ++child;
        }
        if (slot->dueNs <= heap_[child]->dueNs) {
            break;
        }
        Place(i, heap_[child]);
        i = child;
    }
    Place(i, slot);
}

void DueHeap::Schedule(DueSlot& slot, std::int64_t dueNs) {
    if (!slot.Set()) {
        slot.dueNs = dueNs;
        heap_.push_back(&slot);
        Up(heap_.size() - 1);
        return;
    }
    const std::int64_t before = slot.dueNs;
    slot.dueNs = dueNs;
    if (dueNs < before) {
        Up(static_cast<std::size_t>(slot.index));
    } else if (dueNs > before) {
        Down(static_cast<std::size_t>(slot.index));
    }
}

void DueHeap::Cancel(DueSlot& slot) {
    if (!slot.Set()) {
        return;
    }
    const auto i = static_cast<std::size_t>(slot.index);
    slot.index = -1;
    DueSlot* last = heap_.back();
    heap_.pop_back();
    if (last == &slot) {
        return;
    }
    Place(i, last);
    Up(i);
    Down(static_cast<std::size_t>(last->index));
}

void DueHeap::Clear() {
    for (DueSlot* slot : heap_) {
        slot->index = -1;
    }
    heap_.clear();
}

}  // namespace corvane::relay
