#include "platform/read_ahead.h"

#include <memory>
#include <new>
#include <vector>

namespace corvane::platform::detail {
namespace {

// Enough for the sockets that stream at the same moment; beyond it blocks are freed.
constexpr std::size_t kPooledBlocks = 32;
// At most this many blocks hold bytes at once (16 MiB): with thousands of streaming sockets,
// say all held back by a pause, the others simply read directly.
constexpr int kBlocksInUse = 256;

int inUse = 0;

// Owns the spare blocks, so that they are freed at exit.
std::vector<std::unique_ptr<ReadAhead>>& Pool() {
    static std::vector<std::unique_ptr<ReadAhead>> pool;
    return pool;
}

}  // namespace

ReadAhead* TakeReadAhead() {
    if (inUse >= kBlocksInUse) {
        return nullptr;
    }
    auto& pool = Pool();
    ReadAhead* block = nullptr;
    if (!pool.empty()) {
        block = pool.back().release();
        pool.pop_back();
    } else {
        block = new (std::nothrow) ReadAhead;
    }
    if (block != nullptr) {
        ++inUse;
    }
    return block;
}

void ReturnReadAhead(ReadAhead* block) {
    if (block == nullptr) {
        return;
    }
    --inUse;
    block->begin = 0;
    block->end = 0;
    auto& pool = Pool();
    if (pool.size() < kPooledBlocks) {
        pool.emplace_back(block);
    } else {
        delete block;
    }
}

}  // namespace corvane::platform::detail
