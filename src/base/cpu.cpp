#include "vemo/cpu.h"

#include <atomic>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <utility>
#include <vector>

#if defined(__i386__) || defined(__x86_64__)
#include <cpuid.h>
#define VEMO_HAVE_CPUID 1
#endif

namespace vemo {

namespace {

uint32_t DetectClassic() {
    uint32_t features = kCpuDetected;
#ifdef VEMO_HAVE_CPUID
    unsigned a, b, c, d;
    if (!__get_cpuid(1, &a, &b, &c, &d)) return features;
    if (d & (1u << 23)) {
        features |= kCpuMmx;
        if (d & (1u << 25)) features |= kCpuSse;
        if (d & (1u << 26)) features |= kCpuSse2;
        if (__get_cpuid(0x80000000u, &a, &b, &c, &d) && a >= 0x80000001u &&
            __get_cpuid(0x80000001u, &a, &b, &c, &d) && (d & (1u << 31))) {
            features |= kCpu3DNow;
        }
    }
#endif
    return features;
}

uint32_t Detect() {
    uint32_t features = DetectClassic();
#ifdef VEMO_HAVE_CPUID
    // The compiler's check includes the operating system's saving of the
    // wide registers.
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx2")) features |= kCpuAvx2;
    if (__builtin_cpu_supports("avx512bw")) features |= kCpuAvx512;
#endif
    return features;
}

std::atomic<uint32_t> g_mask{kCpuMaskAll};
std::atomic<uint32_t> g_generation{0};
std::once_flag g_environment_read;

struct TableRegistry {
    std::mutex mutex;
    std::vector<std::pair<CpuTableReset, void*>> tables;
};
TableRegistry& Registry() {
    static TableRegistry registry;
    return registry;
}

void ReadEnvironment() {
    std::call_once(g_environment_read, [] {
        uint32_t mask;
        if (const char* text = std::getenv("VEMO_CPU"); text && ParseCpuMask(text, &mask))
            g_mask.store(mask);
    });
}

}  // namespace

uint32_t CpuDetectedFeatures() {
    static std::atomic<uint32_t> cached{0};
    uint32_t value = cached.load(std::memory_order_relaxed);
    if (!(value & kCpuDetected)) {
        value = Detect();
        cached.store(value, std::memory_order_relaxed);
    }
    return value;
}

uint32_t CpuMask() {
    ReadEnvironment();
    return g_mask.load(std::memory_order_relaxed);
}

uint32_t CpuFlags() {
    return (CpuDetectedFeatures() & CpuMask()) | kCpuDetected;
}

uint32_t CpuFeatures() {
    const uint32_t flags = CpuFlags() & kCpuClassicBits;
    return (flags & kCpuMmx) ? flags : kCpuDetected;
}

void SetCpuMask(uint32_t mask) {
    ReadEnvironment();  // a later first lookup must not replace this mask
    g_mask.store(mask | kCpuDetected);
    g_generation.fetch_add(1);
    TableRegistry& registry = Registry();
    std::lock_guard<std::mutex> lock(registry.mutex);
    for (const auto& [reset, table] : registry.tables) reset(table);
}

void RegisterCpuKernelTable(CpuTableReset reset, void* table) {
    TableRegistry& registry = Registry();
    std::lock_guard<std::mutex> lock(registry.mutex);
    registry.tables.emplace_back(reset, table);
}

uint32_t CpuMaskGeneration() {
    return g_generation.load(std::memory_order_relaxed);
}

const char* CpuKernelLevel() {
    const uint32_t flags = CpuFlags();
#if !defined(_WIN32)
    if (flags & kCpuAvx512) return "avx512";
    if (flags & kCpuAvx2) return "avx2";
#endif
    return (flags & kCpuSse2) ? "sse2" : "c";
}

bool ParseCpuMask(const char* text, uint32_t* mask) {
    struct Level {
        const char* name;
        uint32_t mask;
    };
    static const Level kLevels[] = {
        {"table", kCpuMaskAll & ~kCpuClassicBits & ~(kCpuAvx2 | kCpuAvx512)},
        {"c", kCpuMaskAll & ~(kCpuSse2 | kCpuAvx2 | kCpuAvx512)},
        {"sse2", kCpuMaskAll & ~(kCpuAvx2 | kCpuAvx512)},
        {"avx2", kCpuMaskAll & ~kCpuAvx512},
        {"avx512", kCpuMaskAll},
        {"packed", kCpuMaskAll},
        {"all", kCpuMaskAll},
    };
    for (const Level& level : kLevels) {
        if (std::strcmp(text, level.name) == 0) {
            *mask = level.mask | kCpuDetected;
            return true;
        }
    }
    if (text[0] != '0' || (text[1] != 'x' && text[1] != 'X')) return false;
    const char* digits = text + 2;
    const size_t length = std::strlen(digits);
    if (length == 0 || length > 8) return false;
    uint32_t value = 0;
    for (size_t i = 0; i < length; ++i) {
        const char ch = digits[i];
        uint32_t digit;
        if (ch >= '0' && ch <= '9')
            digit = static_cast<uint32_t>(ch - '0');
        else if (ch >= 'a' && ch <= 'f')
            digit = static_cast<uint32_t>(ch - 'a' + 10);
        else if (ch >= 'A' && ch <= 'F')
            digit = static_cast<uint32_t>(ch - 'A' + 10);
        else
            return false;
        value = value << 4 | digit;
    }
    *mask = value | kCpuDetected;
    return true;
}

}  // namespace vemo
