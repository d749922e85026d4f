// Tick clock: steady_clock milliseconds, a fake clock for tests, tick timers and a delay.
#include "transport/ticks.h"

#include <thread>

namespace telvane::transport {

int64_t TOvxSteadyClock::nowMs() const {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

int64_t TOvxFakeClock::nowMs() const { return ms_.load(); }
void TOvxFakeClock::setMs(int64_t ms) { ms_.store(ms); }
void TOvxFakeClock::advanceMs(int64_t ms) { ms_.fetch_add(ms); }

TOvxClock& systemClock() {
    static TOvxSteadyClock clock;
    return clock;
}

void newTimer(TOvxTickTimer& timer, int64_t ticks, const TOvxClock& clock) {
    timer.StartMs = clock.nowMs();
    timer.Ticks = ticks;
}

bool timerExpired(const TOvxTickTimer& timer, const TOvxClock& clock) { return remainingMs(timer, clock) <= 0; }

int64_t elapsedTicks(const TOvxTickTimer& timer, const TOvxClock& clock) {
    return (clock.nowMs() - timer.StartMs) / kMsPerTick;
}

int64_t remainingMs(const TOvxTickTimer& timer, const TOvxClock& clock) {
    return timer.StartMs + ticksToMs(timer.Ticks) - clock.nowMs();
}

void delayMs(int64_t ms, const TOvxClock& clock) {
    const int64_t end = clock.nowMs() + ms;
    for (int64_t now = clock.nowMs(); now < end; now = clock.nowMs()) {
        const int64_t left = end - now;
        if (left > 2)
            std::this_thread::sleep_for(std::chrono::milliseconds(left > 10 ? 5 : 1));
        else
            std::this_thread::yield();
    }
}

}  // namespace telvane::transport
