// Waiting helpers: write a string, wait for a string, pause; optionally letting UI events run.
#include "transport/modemwait.h"

#include <algorithm>
#include <cctype>
#include <thread>
#include <vector>

namespace telvane::transport {

namespace {
// Slice of a wait while application events are allowed to run.
constexpr int64_t kPumpSliceMs = 10;
constexpr int64_t kWriteWaitMs = 2000;
}  // namespace

size_t findString(std::string_view haystack, std::string_view needle, bool ignoreCase) {
    if (!ignoreCase) return haystack.find(needle);
    auto eq = [](char a, char b) {
        return std::toupper(static_cast<unsigned char>(a)) == std::toupper(static_cast<unsigned char>(b));
    };
    auto it = std::search(haystack.begin(), haystack.end(), needle.begin(), needle.end(), eq);
    return it == haystack.end() && !needle.empty() ? std::string_view::npos
                                                   : static_cast<size_t>(it - haystack.begin());
}

void writeString(TOvxComPort& port, std::string_view s) {
    TOvxBaseDispatcher& d = port.dispatcher();
    if (s.size() > d.outBuffFree() + d.outBuffUsed())
        throw errors::EOvxException(errors::ecOutputBufferTooSmall, "Output buffer too small for block");
    const int64_t end = systemClock().nowMs() + kWriteWaitMs;
    while (d.outBuffFree() < s.size()) {
        if (systemClock().nowMs() >= end || !d.isOpen())
            throw errors::EOvxException(errors::ecBufferIsFull, "Output buffer full");
        d.waitForOutputEmpty(kPumpSliceMs);
    }
    port.putString(s);
}

bool waitForString(TOvxComPort& port, std::string_view s, int64_t ticks, bool letEventsRun, bool ignoreCase) {
    if (s.empty()) return true;
    TOvxBaseDispatcher& d = port.dispatcher();
    const TOvxClock& clock = systemClock();
    const int64_t end = clock.nowMs() + ticksToMs(std::max<int64_t>(ticks, 0));
    std::vector<char> buf;
    for (;;) {
        const size_t have = d.inBuffUsed();
        buf.resize(have);
        const size_t n = d.peekBlock(buf.data(), have);
        const size_t at = findString(std::string_view(buf.data(), n), s, ignoreCase);
        if (at != std::string_view::npos) {
            std::vector<char> sink(at + s.size());
            d.getBlock(sink.data(), sink.size());
            return true;
        }
        const int64_t left = end - clock.nowMs();
        if (left <= 0 || !d.isOpen()) return false;
        if (letEventsRun) {
            pumpEvents();
            d.waitForInput(n, std::min(left, kPumpSliceMs));
        } else {
            d.waitForInput(n, left);
        }
    }
}

void delayTicks(int64_t ticks, bool letEventsRun, const TOvxClock& clock) {
    const int64_t end = clock.nowMs() + ticksToMs(std::max<int64_t>(ticks, 0));
    for (int64_t now = clock.nowMs(); now < end; now = clock.nowMs()) {
        if (letEventsRun) pumpEvents();
        std::this_thread::sleep_for(std::chrono::milliseconds(std::min(end - now, kPumpSliceMs)));
    }
}

}  // namespace telvane::transport
