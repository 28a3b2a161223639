// Library memory: every block is 32-byte aligned and comes from a private
// heap; per-movie buffers are planned in a block pool and allocated at once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace vemo {

// The largest block the library hands out; larger requests fail.
constexpr size_t kLargestLibraryBlock = 0x7FFFFFFF;

// Allocates size bytes aligned to 32. Sizes 0 and (size_t)-1 allocate nothing.
void* AllocateLibraryMemory(size_t size);
// As AllocateLibraryMemory, the block reading as zeros. Large blocks come as
// fresh pages from the system, which are not cleared again.
void* AllocateLibraryMemoryZeroed(size_t size);
// Frees a block from AllocateLibraryMemory (null is ignored).
void FreeLibraryMemory(void* block);

// Blocks allocated and not yet freed, over the whole process.
size_t LibraryBlocksInUse();
// For tests of failure paths: the next `count` allocations succeed and every
// later one fails, until this is called with a negative count.
void FailLibraryAllocationsAfter(int64_t count);

struct LibraryMemoryDeleter {
    void operator()(void* block) const { FreeLibraryMemory(block); }
};
template <typename T>
using LibraryPtr = std::unique_ptr<T, LibraryMemoryDeleter>;

// Plans several buffers and allocates them as one block. Each request names
// where its address is to be stored; successive buffers are staggered so that
// they start at different offsets modulo 1024.
class BlockPool {
  public:
    BlockPool();
    // Plans size bytes whose address Commit stores into *where.
    void Request(void** where, size_t size);
    template <typename T>
    void Request(T** where, size_t size) {
        Request(reinterpret_cast<void**>(where), size);
    }
    // Bytes planned so far (without the header).
    size_t total() const { return total_; }
    // Allocates header_size (rounded up to 32) plus the planned total. Stores
    // the block's start in *header and every requested address, then resets
    // the pool. On failure nothing is stored (the pool is reset too) and null
    // is returned. The block is freed with FreeLibraryMemory(*header).
    void* Commit(void** header, size_t header_size);
    template <typename T>
    T* Commit(T** header, size_t header_size = sizeof(T)) {
        return static_cast<T*>(Commit(reinterpret_cast<void**>(header), header_size));
    }
    // As Commit, the whole block (header and buffers) reading as zeros.
    void* CommitZeroed(void** header, size_t header_size);
    template <typename T>
    T* CommitZeroed(T** header, size_t header_size = sizeof(T)) {
        return static_cast<T*>(CommitZeroed(reinterpret_cast<void**>(header), header_size));
    }
    void Reset();

  private:
    void* CommitBlock(void** header, size_t header_size, bool zeroed);

    struct Entry {
        void** where;
        size_t offset;
    };
    std::vector<Entry> requests_;
    size_t total_ = 0;
};

}  // namespace vemo
