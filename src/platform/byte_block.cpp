#include "platform/byte_block.h"

#include <memory>
#include <new>
#include <vector>

namespace corvane::platform::detail {
namespace {

// Enough for the sockets that stream at the same moment; beyond it blocks are freed.
constexpr std::size_t kPooledBlocks = 32;
// At most this many blocks of each use hold bytes at once (8 MiB): with thousands of
// streaming sockets, say all held back by a pause, the others simply go to the kernel.
constexpr int kBlocksInUse = 256;

int inUse[2] = {0, 0};

int& InUse(BlockUse use) {
    return inUse[use == BlockUse::kReadAhead ? 0 : 1];
}

// Owns the spare blocks, so that they are freed at exit.
std::vector<std::unique_ptr<ByteBlock>>& Pool() {
    static std::vector<std::unique_ptr<ByteBlock>> pool;
    return pool;
}

}  // namespace

ByteBlock* TakeBlock(BlockUse use) {
    if (InUse(use) >= kBlocksInUse) {
        return nullptr;
    }
    auto& pool = Pool();
    ByteBlock* block = nullptr;
    if (!pool.empty()) {
        block = pool.back().release();
        pool.pop_back();
    } else {
        block = new (std::nothrow) ByteBlock;
    }
    if (block != nullptr) {
        ++InUse(use);
    }
    return block;
}

void ReturnBlock(ByteBlock* block, BlockUse use) {
    if (block == nullptr) {
        return;
    }
    --InUse(use);
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
