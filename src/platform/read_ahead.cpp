#include "platform/read_ahead.h"

#include <new>
#include <vector>

namespace corvane::platform::detail {
namespace {

// Enough for the sockets that stream at the same moment; beyond it blocks are freed.
constexpr std::size_t kPooledBlocks = 32;

std::vector<ReadAhead*>& Pool() {
    static std::vector<ReadAhead*> pool;
    return pool;
}

}  // namespace

ReadAhead* TakeReadAhead() {
    auto& pool = Pool();
    if (!pool.empty()) {
        ReadAhead* block = pool.back();
        pool.pop_back();
        return block;
    }
    return new (std::nothrow) ReadAhead;
}

void ReturnReadAhead(ReadAhead* block) {
    if (block == nullptr) {
        return;
    }
    block->begin = 0;
    block->end = 0;
    auto& pool = Pool();
    if (pool.size() < kPooledBlocks) {
        pool.push_back(block);
    } else {
        delete block;
    }
}

}  // namespace corvane::platform::detail
