// Waiting helpers the application uses to talk to a modem before a fax session takes over:
// write a string, wait for a string with a time-out in ticks, pause in ticks. Waits can let
// application events run (through the event pump hook of dispatcher.h) or not. They never
// hang: every wait ends at its time-out or when the port closes.
#pragma once

#include <cstdint>
#include <string_view>

#include "transport/comport.h"

namespace telvane::transport {

// Queues `s` for output, waiting (up to 2 s) for room when the buffer is full. Throws
// EOvxException when the port cannot take it.
void writeString(TOvxComPort& port, std::string_view s);

// Waits at most `ticks` ticks for `s` to arrive. Input already waiting is searched too, so a
// reply that arrived before the call is found. On success the input up to and including the
// match is consumed; on time-out nothing is consumed. Returns whether the string arrived.
bool waitForString(TOvxComPort& port, std::string_view s, int64_t ticks, bool letEventsRun, bool ignoreCase);

// Pauses `ticks` ticks, letting application events run when asked.
void delayTicks(int64_t ticks, bool letEventsRun, const TOvxClock& clock = systemClock());

// Finds `needle` in `haystack` (ASCII case folding when asked); npos when absent.
size_t findString(std::string_view haystack, std::string_view needle, bool ignoreCase);

}  // namespace telvane::transport
