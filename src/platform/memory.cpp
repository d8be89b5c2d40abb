#include "platform/memory.h"

#include <cstdlib>

namespace corvane::platform {
namespace {

std::function<bool(std::size_t)>& FailurePredicate() {
    static std::function<bool(std::size_t)> predicate;
    return predicate;
}

}  // namespace

void* Reallocate(void* block, std::size_t size) {
    if (const auto& shouldFail = FailurePredicate(); shouldFail && shouldFail(size)) {
        return nullptr;
    }
    // realloc(block, 0) may free the block and return nullptr, which a caller would take
    // for a failure with the block kept; ask for one byte instead.
    return std::realloc(block, size == 0 ? 1 : size);
}

void Release(void* block) {
    std::free(block);
}

void SetAllocationFailure(std::function<bool(std::size_t size)> shouldFail) {
    FailurePredicate() = std::move(shouldFail);
}

}  // namespace corvane::platform
