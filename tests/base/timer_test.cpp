#include "vemo/timer.h"

#include <gtest/gtest.h>

namespace vemo {
namespace {

// A fake system clock: a 1 MHz counter and a tick count, moved by the test.
uint64_t g_counter = 0;
uint32_t g_ticks = 0;
bool g_has_counter = true;
uint32_t g_mm = 0;

const TimerSource kFake = {
    [](uint64_t* f) {
        *f = 1000000;
        return g_has_counter;
    },
    [] { return g_counter; },
    [] { return g_ticks; },
    [] { return g_mm; },
};

class TimerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        g_counter = 5000000000ull;
        g_ticks = 123456;
        g_has_counter = true;
        g_mm = 777;
        SetTimerSource(&kFake);
    }
    void TearDown() override { SetTimerSource(nullptr); }
    static void Advance(uint32_t counter_ms, uint32_t tick_ms) {
        g_counter += counter_ms * 1000ull;
        g_ticks += tick_ms;
    }
};

TEST_F(TimerTest, StartsAtZeroAndFollowsTheCounter) {
    EXPECT_EQ(Milliseconds(), 0u);
    Advance(40, 40);
    EXPECT_EQ(Milliseconds(), 40u);
    g_counter += 999;  // less than a millisecond more
    EXPECT_EQ(Milliseconds(), 40u);
    Advance(150, 160);  // small disagreements are left alone
    EXPECT_EQ(Milliseconds(), 190u);
}

TEST_F(TimerTest, ACounterJumpIsCorrectedFromTheTickCount) {
    Milliseconds();
    Advance(100, 100);
    EXPECT_EQ(Milliseconds(), 100u);
    Advance(5000, 50);  // the counter leapt 5 s while 50 ms passed
    EXPECT_EQ(Milliseconds(), 150u);
    Advance(20, 20);  // the correction stays
    EXPECT_EQ(Milliseconds(), 170u);
}

TEST_F(TimerTest, NeverRunsBackwards) {
    Milliseconds();
    Advance(1000, 1000);
    EXPECT_EQ(Milliseconds(), 1000u);
    g_counter -= 300000;  // counter went back 300 ms, ticks unchanged
    // Disagreement of 300 ms is corrected, so time stands still.
    EXPECT_EQ(Milliseconds(), 1000u);
    g_counter -= 100000;  // back 100 ms: below the correction limit
    EXPECT_EQ(Milliseconds(), 1000u);
}

TEST_F(TimerTest, WithoutACounterTheMultimediaTimeIsUsed) {
    g_has_counter = false;
    SetTimerSource(&kFake);
    EXPECT_EQ(Milliseconds(), 777u);
    g_mm = 800;
    EXPECT_EQ(Milliseconds(), 800u);
}

TEST(TestClock, ReplacesTheSystemClock) {
    UseTestClock(true, 1000);
    EXPECT_EQ(Milliseconds(), 1000u);
    AdvanceTestClock(16);
    EXPECT_EQ(Milliseconds(), 1016u);
    SetTestClock(5);
    EXPECT_EQ(Milliseconds(), 5u);
    UseTestClock(false);
    EXPECT_FALSE(TestClockInUse());
}

}  // namespace
}  // namespace vemo
