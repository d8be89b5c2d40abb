#include "platform/memory.h"

#include <gtest/gtest.h>

#include <cstring>

namespace corvane::platform {
namespace {

TEST(MemoryTest, FailureHookFailsOnlyWhatItSelectsAndKeepsTheOldBlock) {
    char* block = static_cast<char*>(Reallocate(nullptr, 16));
    ASSERT_NE(block, nullptr);
    std::memcpy(block, "0123456789abcdef", 16);
    SetAllocationFailure([](std::size_t size) { return size > 1000; });
    EXPECT_EQ(Reallocate(block, 4096), nullptr);
    EXPECT_EQ(std::memcmp(block, "0123456789abcdef", 16), 0) << "a failed grow keeps the block";
    char* grown = static_cast<char*>(Reallocate(block, 512));
    ASSERT_NE(grown, nullptr);
    EXPECT_EQ(std::memcmp(grown, "0123456789abcdef", 16), 0);
    SetAllocationFailure({});
    char* big = static_cast<char*>(Reallocate(grown, 4096));
    ASSERT_NE(big, nullptr);
    EXPECT_EQ(std::memcmp(big, "0123456789abcdef", 16), 0);
    Release(big);
}

TEST(MemoryTest, ZeroSizeIsNotMistakenForFailure) {
    void* block = Reallocate(nullptr, 0);
    EXPECT_NE(block, nullptr);
    Release(block);
}

}  // namespace
}  // namespace corvane::platform
