// ITU-T T.30 timing used by the Class 1 machines, in one place: the time-outs T1 to T5, the
// repetition count of commands, the spacing between signals and the TCF length. Values are
// in engine ticks of 55 ms (SetTimer) or in ms.
// Guarantees: every time-out and repetition count of the Class 1 send and receive machines
// comes from here; none of them uses a bare tick number.
#pragma once

#include <cstdint>

namespace telvane::transport::t30 {

inline constexpr int64_t kMsPerTick = 55;
constexpr int64_t ticksFromMs(int64_t ms) { return ms / kMsPerTick; }

// T1, 35 +/- 5 s: how long a terminal keeps trying to identify the other one in phase B
// (the caller waiting for DIS, the called terminal repeating DIS).
inline constexpr int64_t kT1Ticks = ticksFromMs(35000);
// T2, 6 +/- 1 s: waiting for a command (the next page after MCF, the post-page command after
// the page, DCS after FTT).
inline constexpr int64_t kT2Ticks = ticksFromMs(6000);
// T3, 10 +/- 5 s: procedure interrupt (operator alert); kept as the plain modem response time.
inline constexpr int64_t kT3Ticks = ticksFromMs(10000);
// T4, 3 s +/- 15 %: waiting for a response before the command is repeated.
inline constexpr int64_t kT4Ticks = ticksFromMs(3000);
// T5, 60 +/- 5 s: error-correction mode busy time-out: how long a sender goes on asking a
// receiver that answers RNR; it also bounds how long page data may stall (nothing arrives, or
// the modem takes nothing).
inline constexpr int64_t kT5Ticks = ticksFromMs(60000);

// A command without an answer is repeated at most this often before the call is given up
// (T.30's flow diagrams: a command is repeated three times).
inline constexpr int kMaxRepeats = 3;

// Spacing between the end of one signal and the start of the next: 75 +/- 20 ms (T.30).
// Commands that turn the line round are written after this pause.
inline constexpr int64_t kSignalGapMs = 75;
// Silence before the TCF, asked of the modem in units of 10 ms ("AT+FTS=7").
inline constexpr int kTcfSilence = 7;

// Once the modem says CONNECT to a frame reception it has found the flags (about 1 s of
// preamble, then the frame at 300 bit/s): the frame is given this much longer to arrive.
inline constexpr int64_t kFrameArrivalTicks = ticksFromMs(3000);

// Page data may stall (no byte received, or none taken by the modem) at most this long.
inline constexpr int64_t kPageIdleTicks = ticksFromMs(20000);

// TCF: 1.5 s +/- 10 % of zeros (T.30). A received TCF must be near that length.
inline constexpr int64_t kTcfMinMs = 1200;
inline constexpr int64_t kTcfMaxMs = 2000;

}  // namespace telvane::transport::t30
