#include "vemo/timer.h"

#include <atomic>
#include <mutex>

#include "vemo/platform.h"

namespace vemo {

namespace {

const TimerSource kSystemSource = {
    platform::CounterFrequency,
    platform::CounterValue,
    platform::TickCount,
    platform::MultimediaTime,
};

struct ClockState {
    std::mutex mutex;
    const TimerSource* source = &kSystemSource;
    bool started = false;
    bool have_counter = false;
    uint64_t frequency = 0;
    uint64_t base = 0;
    uint32_t correction = 0;
    uint32_t last_result = 0;
    uint32_t last_ticks = 0;
};

ClockState& State() {
    static ClockState state;
    return state;
}

std::atomic<bool> g_test_clock{false};
std::atomic<uint32_t> g_test_now{0};

}  // namespace

uint32_t Milliseconds() {
    if (g_test_clock.load(std::memory_order_acquire))
        return g_test_now.load(std::memory_order_acquire);
    ClockState& s = State();
    std::lock_guard<std::mutex> guard(s.mutex);
    if (!s.started) {
        s.started = true;
        s.have_counter = s.source->counter_frequency(&s.frequency) && s.frequency != 0;
        if (!s.have_counter) return s.source->multimedia_time();
        s.base = s.source->counter_value();
        s.last_ticks = s.source->tick_count();
        s.last_result = 0;
        s.correction = 0;
        return 0;
    }
    if (!s.have_counter) return s.source->multimedia_time();

    const uint64_t elapsed = s.source->counter_value() - s.base;
    // elapsed * 1000 / frequency without overflowing the 64-bit product.
    const uint64_t whole = elapsed / s.frequency;
    const uint64_t part = elapsed % s.frequency;
    uint32_t result =
        static_cast<uint32_t>(whole * 1000 + part * 1000 / s.frequency) + s.correction;
    const uint32_t ticks = s.source->tick_count();
    // The counter may jump (some chipsets do): trust the tick count when the
    // two disagree by more than 200 ms.
    const int32_t counter_step = static_cast<int32_t>(result - s.last_result);
    const int32_t tick_step = static_cast<int32_t>(ticks - s.last_ticks);
    const int32_t disagreement = tick_step - counter_step;
    if (disagreement > 200 || disagreement < -200) {
        s.correction += static_cast<uint32_t>(disagreement);
        result += static_cast<uint32_t>(disagreement);
    }
    // Never run backwards.
    if (result - s.last_result > 0xC0000000u) result = s.last_result;
    s.last_result = result;
    s.last_ticks = ticks;
    return result;
}

void SetTimerSource(const TimerSource* source) {
    ClockState& s = State();
    std::lock_guard<std::mutex> guard(s.mutex);
    s.source = source ? source : &kSystemSource;
    s.started = false;
}

void UseTestClock(bool use, uint32_t start) {
    g_test_now.store(start, std::memory_order_release);
    g_test_clock.store(use, std::memory_order_release);
}
void SetTestClock(uint32_t now) {
    g_test_now.store(now, std::memory_order_release);
}
void AdvanceTestClock(uint32_t milliseconds) {
    g_test_now.fetch_add(milliseconds, std::memory_order_acq_rel);
}
bool TestClockInUse() {
    return g_test_clock.load(std::memory_order_acquire);
}

}  // namespace vemo
