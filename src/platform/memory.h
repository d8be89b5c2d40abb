// The one allocation point for the relay's and the log's variable-size blocks, so that a
// test can make allocations fail and prove that every shortage path holds.
#pragma once

#include <cstddef>
#include <functional>

namespace corvane::platform {

// realloc's contract: returns the new block (contents kept up to the smaller size), or
// nullptr with the old block untouched. Reallocate(nullptr, n) allocates.
void* Reallocate(void* block, std::size_t size);
void Release(void* block);

// Makes count blocks of exactly size bytes ready at once, their pages taken from the system
// now: Reallocate(nullptr, size) hands them out and Release takes them back, before the
// general allocator is asked. Memory that a process touches for the first time costs a page
// fault per page, several microseconds on a virtual machine, which a burst of new Connections
// (two Channels each) would otherwise pay on the event thread. The first call makes the
// reserve for the life of the process; later calls do nothing. Event thread only.
void ReserveBlocks(std::size_t size, std::size_t count);
// How many reserved blocks are not handed out (tests).
std::size_t ReservedBlocksFree();

// Tests only: while set, the predicate is asked before each Reallocate with the requested
// size and the allocation fails when it returns true. An empty function removes it.
void SetAllocationFailure(std::function<bool(std::size_t size)> shouldFail);

}  // namespace corvane::platform
