// Internal to the platform layer: 64 KiB blocks of bytes that a socket holds for a while, from
// a small pool.
//
// Two uses, each with its own limit of blocks in use at once (256, 16 MiB):
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

constexpr int kBlockBytes = 65536;

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
