// Processor features: one word, detected once with CPUID and cached, and one
// mask over it that tests and benchmarks lower to run the library at a
// smaller instruction set.
//
// Every kernel area (video transform, pixel packing, PCM conversion) keeps a
// table of kernel pointers filled with the plain versions first and then
// overwritten rung by rung for each instruction set CpuFlags() allows
// (CpuKernelTable); the table is rebuilt on its next use after SetCpuMask().
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>

namespace vemo {

// The bits of the feature word. Bits 0-3 are the classic word (CpuFeatures);
// the others only choose faster kernels and never change results.
enum CpuFeatureBits : uint32_t {
    kCpuMmx = 1u << 0,  // selects the packed arithmetic path of the pixel copy
    kCpu3DNow = 1u << 1,
    kCpuSse = 1u << 2,
    kCpuSse2 = 1u << 3,
    kCpuAvx2 = 1u << 4,       // with operating system support for the wide registers
    kCpuAvx512 = 1u << 5,     // 512-bit byte and word instructions, likewise
    kCpuDetected = 1u << 31,  // set in the cached word once detection ran
};

// The bits of the classic word.
constexpr uint32_t kCpuClassicBits = kCpuMmx | kCpu3DNow | kCpuSse | kCpuSse2 | kCpuDetected;
// The mask that keeps everything (the default).
constexpr uint32_t kCpuMaskAll = ~0u;

// The classic feature word: bit 0 MMX, 1 3DNow!, 2 SSE, 3 SSE2 (bits 1-3 only
// when MMX is present), bit 31 set once detected; just bit 31 without CPUID.
// It follows the mask: with MMX masked off, bits 0-3 are all clear.
uint32_t CpuFeatures();

// The detected features as they are, before the mask (bit 31 always set).
uint32_t CpuDetectedFeatures();
// Detected features and the mask: what kernel choice uses (bit 31 always set).
uint32_t CpuFlags();

// The widest kernel level this build runs under the current flags, by the
// VEMO_CPU names: "avx512", "avx2", "sse2" or "c". (Windows builds carry
// kernels up to SSE2.) For version lines and benchmark reports.
const char* CpuKernelLevel();

// Keeps only the features in mask for every later kernel lookup (bit 31 is
// always kept). Thread-safe, but meant for tests and benchmarks: a copy or
// decode running at the same time may finish with either table.
void SetCpuMask(uint32_t mask);
uint32_t CpuMask();
// Counts SetCpuMask calls.
uint32_t CpuMaskGeneration();

// Reads a VEMO_CPU value: "c" (plain kernels), "sse2", "avx2" (that level at
// most), "table" (also without MMX, so the pixel copy takes the table path),
// "packed" or "all" (no limit), or a mask as hexadecimal "0x..." digits.
// Returns false, leaving *mask alone, for anything else. The library reads
// VEMO_CPU once, before its first kernel lookup or SetCpuMask call.
bool ParseCpuMask(const char* text, uint32_t* mask);

// Kernel tables register a reset with the mask on their first build;
// SetCpuMask calls every reset, so that each table is rebuilt on its next use.
using CpuTableReset = void (*)(void* table);
void RegisterCpuKernelTable(CpuTableReset reset, void* table);

// A kernel table of one area: Fill(table, CpuFlags()) runs on the first use
// and again on the first use after each SetCpuMask. A lookup is one atomic
// load; a rebuild writes the other of two slots and then switches to it.
template <class Table, void (*Fill)(Table&, uint32_t)>
class CpuKernelTable {
  public:
    const Table& Get() {
        const Table* table = active_.load(std::memory_order_acquire);
        return table ? *table : Rebuild();
    }

  private:
    static void Reset(void* self) {
        static_cast<CpuKernelTable*>(self)->active_.store(nullptr, std::memory_order_release);
    }

    const Table& Rebuild() {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!registered_) {
            RegisterCpuKernelTable(&Reset, this);
            registered_ = true;
        }
        for (;;) {
            if (const Table* table = active_.load(std::memory_order_acquire)) return *table;
            const uint32_t generation = CpuMaskGeneration();
            Table& next = slots_[next_];
            next_ ^= 1;
            next = Table{};
            Fill(next, CpuFlags());
            active_.store(&next, std::memory_order_release);
            // A mask set while filling may have reset the table before it
            // was published: build again.
            if (generation == CpuMaskGeneration()) return next;
            active_.store(nullptr, std::memory_order_release);
        }
    }

    std::mutex mutex_;
    Table slots_[2]{};
    int next_ = 0;
    bool registered_ = false;
    std::atomic<const Table*> active_{nullptr};
};

}  // namespace vemo
