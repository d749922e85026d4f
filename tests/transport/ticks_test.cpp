// Tick clock: conversions, tick timers and the delay on a fake clock.
#include <gtest/gtest.h>

#include <thread>

#include "transport/ticks.h"

using namespace telvane::transport;

TEST(Ticks, ConversionsAndTimers) {
    EXPECT_EQ(MsToTicks(54), 0);
    EXPECT_EQ(MsToTicks(55), 1);
    EXPECT_EQ(TicksToMs(36), 1980);
    TOvxFakeClock clock;
    clock.SetMs(1'000'000);
    EXPECT_EQ(clock.NowTicks(), 1'000'000 / 55);
    TOvxTickTimer t;
    NewTimer(t, 18, clock);
    EXPECT_FALSE(TimerExpired(t, clock));
    clock.AdvanceMs(18 * 55 - 1);
    EXPECT_FALSE(TimerExpired(t, clock));
    EXPECT_EQ(ElapsedTicks(t, clock), 17);
    EXPECT_EQ(RemainingMs(t, clock), 1);
    clock.AdvanceTicks(1);
    EXPECT_TRUE(TimerExpired(t, clock));
    NewTimer(t, 0, clock);
    EXPECT_TRUE(TimerExpired(t, clock));
}

TEST(Ticks, DelayWaitsForTheClock) {
    TOvxFakeClock clock;
    std::atomic<bool> done{false};
    std::thread waiter([&] {
        DelayMs(100, clock);
        done = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_FALSE(done.load());
    clock.AdvanceMs(100);
    waiter.join();
    EXPECT_TRUE(done.load());
}

TEST(Ticks, SteadyClockIsMonotonic) {
    const int64_t a = SystemClock().NowMs();
    DelayMs(2);
    EXPECT_GE(SystemClock().NowMs(), a + 2);
}
