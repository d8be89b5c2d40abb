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

TEST(MemoryTest, ReservedBlocksGoOutAndComeBackAndLeaveWithTheirBytes) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the address sanitizer's build keeps no reserve";
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
    GTEST_SKIP() << "the address sanitizer's build keeps no reserve";
#endif
#endif
    ReserveBlocks(64, 2);
    ReserveBlocks(128, 8);  // the first reserve stays the only one
    ASSERT_EQ(ReservedBlocksFree(), 2u);
    char* first = static_cast<char*>(Reallocate(nullptr, 64));
    char* second = static_cast<char*>(Reallocate(nullptr, 64));
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(ReservedBlocksFree(), 0u);
    void* beyond = Reallocate(nullptr, 64);  // the reserve is out: the allocator serves
    ASSERT_NE(beyond, nullptr);
    Release(beyond);
    EXPECT_EQ(Reallocate(first, 64), first) << "the same size keeps the block";
    std::memcpy(first, "0123456789abcdef", 16);
    SetAllocationFailure([](std::size_t size) { return size > 64; });
    EXPECT_EQ(Reallocate(first, 4096), nullptr);
    EXPECT_EQ(ReservedBlocksFree(), 0u) << "a failed grow keeps the reserved block";
    SetAllocationFailure({});
    char* grown = static_cast<char*>(Reallocate(first, 4096));
    ASSERT_NE(grown, nullptr);
    EXPECT_EQ(std::memcmp(grown, "0123456789abcdef", 16), 0);
    EXPECT_EQ(ReservedBlocksFree(), 1u) << "the grown bytes left the reserve";
    Release(second);
    EXPECT_EQ(ReservedBlocksFree(), 2u);
    EXPECT_EQ(Reallocate(nullptr, 64), second) << "the block given back last goes out first";
    Release(second);
    Release(grown);
}

}  // namespace
}  // namespace corvane::platform
