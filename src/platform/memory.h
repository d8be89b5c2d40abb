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

// Tests only: while set, the predicate is asked before each Reallocate with the requested
// size and the allocation fails when it returns true. An empty function removes it.
void SetAllocationFailure(std::function<bool(std::size_t size)> shouldFail);

}  // namespace corvane::platform
