// Tick clock: conversions, tick timers and the delay on a fake clock.
#include <gtest/gtest.h>

#include <thread>

#include "transport/ticks.h"

using namespace telvane::transport;

TEST(Ticks, ConversionsAndTimers) {
    EXPECT_EQ(msToTicks(54), 0);
    EXPECT_EQ(msToTicks(55), 1);
    EXPECT_EQ(ticksToMs(36), 1980);
    TOvxFakeClock clock;
    clock.setMs(1'000'000);
    EXPECT_EQ(clock.nowTicks(), 1'000'000 / 55);
    TOvxTickTimer t;
    newTimer(t, 18, clock);
    EXPECT_FALSE(timerExpired(t, clock));
    clock.advanceMs(18 * 55 - 1);
    EXPECT_FALSE(timerExpired(t, clock));
    EXPECT_EQ(elapsedTicks(t, clock), 17);
    EXPECT_EQ(remainingMs(t, clock), 1);
    clock.advanceTicks(1);
    EXPECT_TRUE(timerExpired(t, clock));
    newTimer(t, 0, clock);
    EXPECT_TRUE(timerExpired(t, clock));
}

TEST(Ticks, DelayWaitsForTheClock) {
    TOvxFakeClock clock;
    std::atomic<bool> done{false};
    std::thread waiter([&] {
        delayMs(100, clock);
        done = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_FALSE(done.load());
    clock.advanceMs(100);
    waiter.join();
    EXPECT_TRUE(done.load());
}

TEST(Ticks, SteadyClockIsMonotonic) {
    const int64_t a = systemClock().nowMs();
    delayMs(2);
    EXPECT_GE(systemClock().nowMs(), a + 2);
}
