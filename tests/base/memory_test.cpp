#include "vemo/memory.h"

#include <gtest/gtest.h>

#include <cstring>
#include <set>

namespace vemo {
namespace {

TEST(LibraryMemory, BlocksAreAlignedAndCarryTheirDistance) {
    for (size_t size : {1u, 7u, 32u, 100u, 4096u, 65537u}) {
        auto* p = static_cast<uint8_t*>(AllocateLibraryMemory(size));
        ASSERT_NE(p, nullptr);
        EXPECT_EQ(reinterpret_cast<uintptr_t>(p) % 32, 0u) << size;
        EXPECT_GE(p[-1], 33) << size;
        EXPECT_LE(p[-1], 64) << size;
        EXPECT_EQ(p[-2], 0) << size;
        std::memset(p, 0xAB, size);  // the whole size is usable
        FreeLibraryMemory(p);
    }
}

TEST(LibraryMemory, ZeroAndMinusOneAllocateNothing) {
    EXPECT_EQ(AllocateLibraryMemory(0), nullptr);
    EXPECT_EQ(AllocateLibraryMemory(static_cast<size_t>(-1)), nullptr);
    EXPECT_EQ(AllocateLibraryMemory(kLargestLibraryBlock + 1), nullptr);
    FreeLibraryMemory(nullptr);
}

// Blocks dirtied and freed first, so that the zeroed ones may reuse them.
TEST(LibraryMemory, ZeroedBlocksReadAsZerosAfterReuse) {
    for (size_t size : {1u, 100u, 4096u, 65537u, 3u << 20}) {
        auto* dirty = static_cast<uint8_t*>(AllocateLibraryMemory(size));
        ASSERT_NE(dirty, nullptr);
        std::memset(dirty, 0xAB, size);
        FreeLibraryMemory(dirty);
        auto* p = static_cast<uint8_t*>(AllocateLibraryMemoryZeroed(size));
        ASSERT_NE(p, nullptr);
        EXPECT_EQ(reinterpret_cast<uintptr_t>(p) % 32, 0u) << size;
        EXPECT_EQ(p[-2], 0) << size;
        size_t nonzero = 0;
        for (size_t i = 0; i < size; ++i) nonzero += p[i] != 0;
        EXPECT_EQ(nonzero, 0u) << size;
        FreeLibraryMemory(p);
    }
    EXPECT_EQ(AllocateLibraryMemoryZeroed(0), nullptr);
    EXPECT_EQ(AllocateLibraryMemoryZeroed(kLargestLibraryBlock + 1), nullptr);
}

TEST(BlockPool, EqualBuffersAreStaggered) {
    BlockPool pool;
    uint8_t* buffers[4] = {};
    for (auto& b : buffers) pool.Request(&b, 1024);
    void* header = nullptr;
    void* block = pool.Commit(&header, 40);
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(header, block);
    // Header rounded to 64; pads of 32, 64 and 128 bytes between the buffers
    // move each start to another offset modulo 1024.
    const ptrdiff_t expected[] = {64, 64 + 1056, 64 + 2144, 64 + 3296};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(buffers[i] - static_cast<uint8_t*>(block), expected[i]) << i;
        EXPECT_EQ(reinterpret_cast<uintptr_t>(buffers[i]) % 32, 0u);
    }
    std::memset(buffers[3], 0, 1024);  // the last one lies inside the block
    FreeLibraryMemory(block);
}

TEST(BlockPool, PaddingFollowsTheRunningTotal) {
    BlockPool pool;
    void* a = nullptr;
    void* b = nullptr;
    void* c = nullptr;
    pool.Request(&a, 10);  // rounded 32, pad 32 * ((0 - 1 + 1) % 32) = 0
    EXPECT_EQ(pool.total(), 32u);
    pool.Request(&b, 64);  // rounded 64, pad 32 * ((1 - 2 + 1) % 32) = 0
    EXPECT_EQ(pool.total(), 96u);
    pool.Request(&c, 32);  // rounded 32, pad 32 * ((3 - 1 + 1) % 32) = 96
    EXPECT_EQ(pool.total(), 96u + 32u + 96u);
    void* header = nullptr;
    void* block = pool.Commit(&header, 0);
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(static_cast<uint8_t*>(b) - static_cast<uint8_t*>(a), 32);
    EXPECT_EQ(static_cast<uint8_t*>(c) - static_cast<uint8_t*>(b), 64);
    EXPECT_EQ(pool.total(), 0u);  // committing resets the pool
    FreeLibraryMemory(block);
}

TEST(BlockPool, ManyRequestsGrowTheList) {
    BlockPool pool;
    std::vector<void*> slots(100, nullptr);
    for (auto& s : slots) pool.Request(&s, 8);
    void* header = nullptr;
    void* block = pool.Commit(&header, 8);
    ASSERT_NE(block, nullptr);
    for (void* s : slots) EXPECT_NE(s, nullptr);
    FreeLibraryMemory(block);
}

TEST(BlockPool, FailedCommitStoresNothing) {
    BlockPool pool;
    void* small = reinterpret_cast<void*>(0x1234);
    void* huge = reinterpret_cast<void*>(0x5678);
    pool.Request(&small, 16);
    pool.Request(&huge, kLargestLibraryBlock);
    void* header = reinterpret_cast<void*>(0x9abc);
    EXPECT_EQ(pool.Commit(&header, 64), nullptr);
    EXPECT_EQ(small, reinterpret_cast<void*>(0x1234));
    EXPECT_EQ(huge, reinterpret_cast<void*>(0x5678));
    EXPECT_EQ(header, reinterpret_cast<void*>(0x9abc));
    EXPECT_EQ(pool.total(), 0u);
}

}  // namespace
}  // namespace vemo
