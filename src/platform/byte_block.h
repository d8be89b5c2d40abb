// Internal to the platform layer: 32 KiB blocks of bytes that a socket holds for a while, from
// a small pool.
//
// Two uses, each with its own limit of blocks in use at once (256, 8 MiB):
// - Reading ahead: a caller that reads in small steps from a socket that streams (each read
//   fills the caller's buffer) would otherwise pay one system call per step. Once a read has
//   filled its buffer, the next read on that socket takes up to kBlockBytes from the kernel
//   into a block, and the program's reads are served from it until it is empty. A socket that
//   is not streaming never gets one, so idle and interactive sockets cost nothing.
// - Joining sends (write_behind.h): the sends of one pass over the message queue to the same
//   socket go out together.
// Beyond a limit, or when memory is short, the calls go straight to the kernel. Blocks go back
// to the pool as soon as they are empty.
#pragma once

#include <cstddef>

namespace corvane::platform::detail {

// 32 KiB: on loopback a relay that reads and writes in 32 KiB steps keeps its two peers
// busier than one that moves 64 KiB at a time (measured 1.06-1.12 against 0.94-0.97 of a
// single-threaded reference relay's throughput), while still taking a quarter of the system
// calls of 8 KiB steps.
constexpr int kBlockBytes = 32768;

struct ByteBlock {
    int begin = 0;  // the first byte not yet handed on
    int end = 0;    // one past the last byte held
    char bytes[kBlockBytes];

    int Held() const { return end - begin; }
    int Room() const { return kBlockBytes - end; }
};

enum class BlockUse { kReadAhead, kWriteBehind };

// A block, or nullptr when memory is short or too many of this use are out.
ByteBlock* TakeBlock(BlockUse use);
// Gives a block back to the pool; harmless with nullptr.
void ReturnBlock(ByteBlock* block, BlockUse use);

}  // namespace corvane::platform::detail
