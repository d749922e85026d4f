// Latency of the dispatcher: time from a byte written to the pseudo-terminal's modem side to
// the data (or available) trigger's handler being called, over 10,000 events. Reports the
// median and the 99th percentile in microseconds as counters.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <fcntl.h>
#include <stdexcept>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

#include "transport/comport.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Pty {
    int master = -1;
    std::string slave;
    Pty() {
        master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) throw std::runtime_error("no pseudo-terminal");
        slave = ptsname(master);
        termios t{};
        tcgetattr(master, &t);
        cfmakeraw(&t);
        tcsetattr(master, TCSANOW, &t);
    }
    ~Pty() { close(master); }
};

void measureTrigger(benchmark::State& state, bool dataTrigger) {
    Pty pty;
    telvane::transport::TOvxComPort port;
    port.setDevicePath(pty.slave);
    port.setAutoOpen(false);
    port.setInSize(8192);
    port.setOutSize(8192);
    port.setOpen(true);
    std::atomic<int64_t> arrived{0};
    if (dataTrigger)
        port.addDataTrigger("X", false);
    else
        port.addAvailTrigger(1);
    const uint32_t wanted = dataTrigger ? telvane::transport::ovTriggerData : telvane::transport::ovTriggerAvail;
    port.registerProcTriggerHandler([&](uint32_t msg, uint32_t, int32_t) {
        if (msg != wanted) return;
        uint8_t sink[64];
        port.getBlock(sink, sizeof sink);
        arrived.store(Clock::now().time_since_epoch().count(), std::memory_order_release);
        arrived.notify_one();
    });
    std::vector<double> micros;
    micros.reserve(static_cast<size_t>(state.max_iterations));
    for (auto _ : state) {
        arrived.store(0, std::memory_order_relaxed);
        const auto t0 = Clock::now();
        if (write(pty.master, "X", 1) != 1) state.SkipWithError("write failed");
        // Sleep (not spin) while waiting, so the measurement does not take a core from the dispatcher.
        arrived.wait(0, std::memory_order_acquire);
        const int64_t t1 = arrived.load(std::memory_order_acquire);
        micros.push_back(static_cast<double>(t1 - t0.time_since_epoch().count()) / 1000.0);
    }
    port.setOpen(false);
    std::sort(micros.begin(), micros.end());
    if (!micros.empty()) {
        state.counters["median_us"] = micros[micros.size() / 2];
        state.counters["p99_us"] = micros[micros.size() * 99 / 100];
        state.counters["max_us"] = micros.back();
    }
}

void bmDataTriggerLatency(benchmark::State& state) { measureTrigger(state, true); }
void bmAvailTriggerLatency(benchmark::State& state) { measureTrigger(state, false); }

BENCHMARK(bmDataTriggerLatency)->Iterations(10000)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(bmAvailTriggerLatency)->Iterations(10000)->UseRealTime()->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
