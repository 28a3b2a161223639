#include "vemo/memory.h"

#include <atomic>

#include "vemo/platform.h"

namespace vemo {

namespace {
std::atomic<size_t> blocks_in_use{0};
std::atomic<int64_t> allocations_left{-1};  // negative: no failures

bool AllocationAllowed() {
    int64_t left = allocations_left.load(std::memory_order_relaxed);
    while (left >= 0) {
        if (left == 0) return false;
        if (allocations_left.compare_exchange_weak(left, left - 1)) return true;
    }
    return true;
}
}  // namespace

size_t LibraryBlocksInUse() {
    return blocks_in_use.load();
}

void FailLibraryAllocationsAfter(int64_t count) {
    allocations_left.store(count < 0 ? -1 : count);
}

namespace {
void* AllocateBlock(size_t size, bool zeroed) {
    if (size == 0 || size == static_cast<size_t>(-1)) return nullptr;
    if (!AllocationAllowed()) return nullptr;
    // No block of the library needs 2 GB; larger sizes come from bad input.
    if (size > kLargestLibraryBlock) return nullptr;
    auto* raw = static_cast<uint8_t*>(zeroed ? platform::HeapAllocateZeroed(size + 64)
                                             : platform::HeapAllocate(size + 64));
    if (!raw) return nullptr;
    // Move forward to the next 32-byte boundary that leaves at least 33
    // bytes: the byte before the block holds the distance, the one before
    // that a zero.
    const unsigned distance = 64 - static_cast<unsigned>(reinterpret_cast<uintptr_t>(raw) % 32);
    uint8_t* block = raw + distance;
    block[-1] = static_cast<uint8_t>(distance);
    block[-2] = 0;
    blocks_in_use.fetch_add(1, std::memory_order_relaxed);
    return block;
}
}  // namespace

void* AllocateLibraryMemory(size_t size) {
    return AllocateBlock(size, false);
}

void* AllocateLibraryMemoryZeroed(size_t size) {
    return AllocateBlock(size, true);
}

void FreeLibraryMemory(void* block) {
    if (!block) return;
    auto* p = static_cast<uint8_t*>(block);
    blocks_in_use.fetch_sub(1, std::memory_order_relaxed);
    platform::HeapFree(p - p[-1]);
}

BlockPool::BlockPool() {
    requests_.reserve(32);
}

void BlockPool::Request(void** where, size_t size) {
    const size_t rounded = (size + 31) & ~static_cast<size_t>(31);
    // Pad so that successive buffers start at different offsets modulo 1024.
    const size_t pad =
        32 * ((total_ / 32 - rounded / 32 + 1) % 32);  // unsigned arithmetic, as planned
    if (requests_.size() == requests_.capacity()) requests_.reserve(requests_.capacity() * 2);
    requests_.push_back(Entry{where, total_});
    total_ += rounded + pad;
}

void* BlockPool::Commit(void** header, size_t header_size) {
    return CommitBlock(header, header_size, false);
}

void* BlockPool::CommitZeroed(void** header, size_t header_size) {
    return CommitBlock(header, header_size, true);
}

void* BlockPool::CommitBlock(void** header, size_t header_size, bool zeroed) {
    const size_t head = (header_size + 31) & ~static_cast<size_t>(31);
    const size_t size = head + total_;
    auto* block = static_cast<uint8_t*>(zeroed ? AllocateLibraryMemoryZeroed(size)
                                               : AllocateLibraryMemory(size));
    if (block) {
        *header = block;
        for (const Entry& e : requests_) *e.where = block + head + e.offset;
    }
    Reset();
    return block;
}

void BlockPool::Reset() {
    requests_.clear();
    total_ = 0;
}

}  // namespace vemo
