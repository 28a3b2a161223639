// The CPU mask levels kernel checks run at: plain kernels only, then each
// instruction-set level this processor has.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "vemo/cpu.h"

namespace vemo::test {

struct CpuLevel {
    std::string name;  // a VEMO_CPU level name
    uint32_t mask = kCpuMaskAll;
};

inline std::vector<CpuLevel> CpuLevels() {
    std::vector<CpuLevel> levels;
    const uint32_t detected = CpuDetectedFeatures();
    for (const char* name : {"c", "sse2", "avx2", "avx512"}) {
        CpuLevel level{name, 0};
        ParseCpuMask(name, &level.mask);
        // A level is worth running when it allows a feature the one below did not.
        const uint32_t below = levels.empty() ? 0 : levels.back().mask;
        if (levels.empty() || (detected & level.mask & ~below)) levels.push_back(level);
    }
    return levels;
}

// Sets a mask for the scope and restores the one before.
class ScopedCpuMask {
  public:
    explicit ScopedCpuMask(uint32_t mask) : saved_(CpuMask()) { SetCpuMask(mask); }
    ~ScopedCpuMask() { SetCpuMask(saved_); }
    ScopedCpuMask(const ScopedCpuMask&) = delete;
    ScopedCpuMask& operator=(const ScopedCpuMask&) = delete;

  private:
    uint32_t saved_;
};

}  // namespace vemo::test
