#include "platform/memory.h"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

#if defined(__SANITIZE_ADDRESS__)
#define CORVANE_ADDRESS_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define CORVANE_ADDRESS_SANITIZER 1
#endif
#endif

namespace corvane::platform {
namespace {

std::function<bool(std::size_t)>& FailurePredicate() {
    static std::function<bool(std::size_t)> predicate;
    return predicate;
}

// One mapping carved into equal blocks; the free ones are a stack, so that the block given
// back last, still in the cache, goes out first.
struct Reserve {
    char* begin = nullptr;
    char* end = nullptr;
    std::size_t blockSize = 0;
    std::vector<char*> free;

    bool Holds(const void* block) const {
        const char* p = static_cast<const char*>(block);
        return p >= begin && p < end;
    }
};

Reserve& Blocks() {
    static Reserve reserve;
    return reserve;
}

// Takes the pages from the system in one call where the kernel offers it (Linux 5.14),
// else by writing to each page.
void Populate(char* begin, std::size_t length) {
#ifdef MADV_POPULATE_WRITE
    if (::madvise(begin, length, MADV_POPULATE_WRITE) == 0) {
        return;
    }
#endif
    const auto page = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
    for (std::size_t offset = 0; offset < length; offset += page) {
        begin[offset] = 0;
    }
}

}  // namespace

void* Reallocate(void* block, std::size_t size) {
    if (const auto& shouldFail = FailurePredicate(); shouldFail && shouldFail(size)) {
        return nullptr;
    }
    Reserve& reserve = Blocks();
    if (block == nullptr && size == reserve.blockSize && !reserve.free.empty()) {
        char* taken = reserve.free.back();
        reserve.free.pop_back();
        return taken;
    }
    if (block != nullptr && reserve.Holds(block)) {
        if (size == reserve.blockSize) {
            return block;
        }
        // Another size leaves the reserve; the block goes back once its bytes are copied.
        void* moved = std::malloc(size == 0 ? 1 : size);
        if (moved == nullptr) {
            return nullptr;
        }
        std::memcpy(moved, block, std::min(size, reserve.blockSize));
        reserve.free.push_back(static_cast<char*>(block));
        return moved;
    }
    // realloc(block, 0) may free the block and return nullptr, which a caller would take
    // for a failure with the block kept; ask for one byte instead.
    return std::realloc(block, size == 0 ? 1 : size);
}

void Release(void* block) {
    Reserve& reserve = Blocks();
    if (block != nullptr && reserve.Holds(block)) {
        reserve.free.push_back(static_cast<char*>(block));
        return;
    }
    std::free(block);
}

void ReserveBlocks(std::size_t size, std::size_t count) {
#ifdef CORVANE_ADDRESS_SANITIZER
    // The sanitizer guards only what the allocator hands out; a block of the reserve would
    // let an overrun go unseen. No reserve then.
    static_cast<void>(size);
    static_cast<void>(count);
#else
    Reserve& reserve = Blocks();
    if (reserve.begin != nullptr || size == 0 || count == 0) {
        return;
    }
    const std::size_t length = size * count;
    void* mapped =
        ::mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapped == MAP_FAILED) {
        return;  // no reserve: the general allocator serves every block, as it can
    }
    reserve.free.reserve(count);
    reserve.begin = static_cast<char*>(mapped);
    reserve.end = reserve.begin + length;
    reserve.blockSize = size;
    Populate(reserve.begin, length);
    for (std::size_t i = count; i > 0; --i) {
        reserve.free.push_back(reserve.begin + (i - 1) * size);
    }
#endif
}

std::size_t ReservedBlocksFree() {
    return Blocks().free.size();
}

void SetAllocationFailure(std::function<bool(std::size_t size)> shouldFail) {
    FailurePredicate() = std::move(shouldFail);
}

}  // namespace corvane::platform
