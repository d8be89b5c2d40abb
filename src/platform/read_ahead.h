// Internal to the platform layer: bytes read from the kernel ahead of the program.
//
// A caller that reads in small steps from a socket that streams (each read fills the caller's
// buffer) would otherwise pay one system call per step. Once a read has filled its buffer, the
// next read on that socket takes up to kReadAheadBytes from the kernel into a block of the
// socket's own, and the program's reads are served from that block until it is empty. A
// socket that is not streaming never gets a block, so idle and interactive sockets cost
// nothing. Blocks come from a small pool and go back to it as soon as they are empty, and no
// more than 256 are in use at once.
#pragma once

#include <cstddef>

namespace corvane::platform::detail {

constexpr int kReadAheadBytes = 65536;

struct ReadAhead {
    int begin = 0;  // the first byte not yet handed out
    int end = 0;    // one past the last byte read from the kernel
    char bytes[kReadAheadBytes];

    int Held() const { return end - begin; }
};

// A block for one socket, or nullptr when memory is short or too many are in use (the caller
// then reads directly).
ReadAhead* TakeReadAhead();
// Gives a block back to the pool; harmless with nullptr.
void ReturnReadAhead(ReadAhead* block);

}  // namespace corvane::platform::detail
