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
    virtual int64_t NowMs() const = 0;
    int64_t NowTicks() const { return NowMs() / kMsPerTick; }
};

// The real clock: std::chrono::steady_clock.
class TOvxSteadyClock final : public TOvxClock {
public:
    int64_t NowMs() const override;
};

// A clock that only moves when told to (for tests).
class TOvxFakeClock final : public TOvxClock {
public:
    int64_t NowMs() const override;
    void SetMs(int64_t ms);
    void AdvanceMs(int64_t ms);
    void AdvanceTicks(int64_t ticks) { AdvanceMs(ticks * kMsPerTick); }

private:
    std::atomic<int64_t> ms_{0};
};

// The process-wide steady clock.
TOvxClock& SystemClock();

constexpr int64_t TicksToMs(int64_t ticks) { return ticks * kMsPerTick; }
constexpr int64_t MsToTicks(int64_t ms) { return ms / kMsPerTick; }

// A started tick timer: expires once `ticks` ticks have passed since NewTimer.
struct TOvxTickTimer {
    int64_t StartMs = 0;
    int64_t Ticks = 0;
};

void NewTimer(TOvxTickTimer& timer, int64_t ticks, const TOvxClock& clock = SystemClock());
bool TimerExpired(const TOvxTickTimer& timer, const TOvxClock& clock = SystemClock());
int64_t ElapsedTicks(const TOvxTickTimer& timer, const TOvxClock& clock = SystemClock());
int64_t RemainingMs(const TOvxTickTimer& timer, const TOvxClock& clock = SystemClock());

// Waits `ms` milliseconds on the given clock without yielding to UI events. Short waits spin;
// longer ones sleep in small steps (a fake clock must be advanced by another thread).
void DelayMs(int64_t ms, const TOvxClock& clock = SystemClock());

}  // namespace telvane::transport
