// Tick clock: steady_clock milliseconds, a fake clock for tests, tick timers and a delay.
#include "transport/ticks.h"

#include <thread>

namespace telvane::transport {

int64_t TOvxSteadyClock::NowMs() const {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

int64_t TOvxFakeClock::NowMs() const { return ms_.load(); }
void TOvxFakeClock::SetMs(int64_t ms) { ms_.store(ms); }
void TOvxFakeClock::AdvanceMs(int64_t ms) { ms_.fetch_add(ms); }

TOvxClock& SystemClock() {
    static TOvxSteadyClock clock;
    return clock;
}

void NewTimer(TOvxTickTimer& timer, int64_t ticks, const TOvxClock& clock) {
    timer.StartMs = clock.NowMs();
    timer.Ticks = ticks;
}

bool TimerExpired(const TOvxTickTimer& timer, const TOvxClock& clock) { return RemainingMs(timer, clock) <= 0; }

int64_t ElapsedTicks(const TOvxTickTimer& timer, const TOvxClock& clock) {
    return (clock.NowMs() - timer.StartMs) / kMsPerTick;
}

int64_t RemainingMs(const TOvxTickTimer& timer, const TOvxClock& clock) {
    return timer.StartMs + TicksToMs(timer.Ticks) - clock.NowMs();
}

void DelayMs(int64_t ms, const TOvxClock& clock) {
    const int64_t end = clock.NowMs() + ms;
    for (int64_t now = clock.NowMs(); now < end; now = clock.NowMs()) {
        const int64_t left = end - now;
        if (left > 2)
            std::this_thread::sleep_for(std::chrono::milliseconds(left > 10 ? 5 : 1));
        else
            std::this_thread::yield();
    }
}

}  // namespace telvane::transport
