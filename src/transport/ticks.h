// Tick clock of the transport engine.
// A tick is 55 ms, counted from a monotonic millisecond clock (ticks = ms / 55). Every
// time-dependent part of the engine reads time through TOvxClock, so tests can substitute a
// fake clock and drive timers deterministically. Tick timers never go backwards and never wrap
// within the life of the process.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>

namespace telvane::transport {

inline constexpr int64_t kMsPerTick = 55;

// Source of monotonic milliseconds. Implementations must be thread-safe.
class TOvxClock {
public:
    virtual ~TOvxClock() = default;
    virtual int64_t nowMs() const = 0;
    int64_t nowTicks() const { return nowMs() / kMsPerTick; }
};

// The real clock: std::chrono::steady_clock.
class TOvxSteadyClock final : public TOvxClock {
public:
    int64_t nowMs() const override;
};

// A clock that only moves when told to (for tests).
class TOvxFakeClock final : public TOvxClock {
public:
    int64_t nowMs() const override;
    void setMs(int64_t ms);
    void advanceMs(int64_t ms);
    void advanceTicks(int64_t ticks) { advanceMs(ticks * kMsPerTick); }

private:
    std::atomic<int64_t> ms_{0};
};

// The process-wide steady clock.
TOvxClock& systemClock();

constexpr int64_t ticksToMs(int64_t ticks) { return ticks * kMsPerTick; }
constexpr int64_t msToTicks(int64_t ms) { return ms / kMsPerTick; }

// A started tick timer: expires once `ticks` ticks have passed since NewTimer.
struct TOvxTickTimer {
    int64_t StartMs = 0;
    int64_t Ticks = 0;
};

void newTimer(TOvxTickTimer& timer, int64_t ticks, const TOvxClock& clock = systemClock());
bool timerExpired(const TOvxTickTimer& timer, const TOvxClock& clock = systemClock());
int64_t elapsedTicks(const TOvxTickTimer& timer, const TOvxClock& clock = systemClock());
int64_t remainingMs(const TOvxTickTimer& timer, const TOvxClock& clock = systemClock());

// Waits `ms` milliseconds on the given clock without yielding to UI events. Short waits spin;
// longer ones sleep in small steps (a fake clock must be advanced by another thread).
void delayMs(int64_t ms, const TOvxClock& clock = systemClock());

}  // namespace telvane::transport
