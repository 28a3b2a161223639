// The library's millisecond clock.
#pragma once

#include <cstdint>

namespace vemo {

// Milliseconds since the first call, from the high-resolution counter with a
// correction when the counter jumps; never runs backwards.
uint32_t Milliseconds();

// Where the clock reads the system's time. Tests install their own source to
// make timing deterministic; null restores the system's.
struct TimerSource {
    bool (*counter_frequency)(uint64_t* frequency);
    uint64_t (*counter_value)();
    uint32_t (*tick_count)();
    uint32_t (*multimedia_time)();
};
void SetTimerSource(const TimerSource* source);

// A test clock: while installed, Milliseconds() returns exactly the value set
// (no counter, no correction). Passing false removes it.
void UseTestClock(bool use, uint32_t start = 0);
void SetTestClock(uint32_t now);
void AdvanceTestClock(uint32_t milliseconds);
bool TestClockInUse();

}  // namespace vemo
