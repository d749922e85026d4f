// Fault injection for telvane-virtual-line: the line breaks things on purpose so that tests
// can show how a fax program copes. Frames are dropped or garbled where the receiving side's
// HDLC decoder hands them on (a garbled frame is delivered as one with a bad FCS: the host's
// modem answers ERROR, the far end ignores it); trainings are spoiled by turning some of the
// host's TCF zeros into ones; responses are delayed and commands repeated in the audio path;
// the host's side of the modem can be throttled, stopped mid-page or hung up on.
// Directions: "out" is what the host sends to the far end, "in" what the far end sends.
// A frame is named by its number in the call (1 = first frame in that direction) or by its
// type with an optional count ("MCF" = first MCF, "EOP:2" = second EOP).
// A Class 1 modem hands frames sent at the page speed (error correction: FCD, RCP) to the host
// as raw page data, undecoded; those the far end sends are spoiled as it sends them instead
// (their own count, by type only: "in:FCD:2" = the second FCD toward the host).
#pragma once

#include "cmdline/arguments.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#define SPANDSP_EXPOSE_INTERNAL_STRUCTURES
extern "C" {
#include <spandsp.h>
}

namespace vline {

struct FrameSpec {
    bool In = true;      // far end -> host
    int Number = 0;      // Nth frame of the direction (0: by type)
    std::string Type;    // "MCF", "DCS"... (empty: by number)
    int Occurrence = 1;  // which frame of that type
};

struct FaultOptions {
    std::vector<FrameSpec> Drop, Corrupt, Repeat;
    int DelayResponse = 0;  // the far end's Nth transmission...
    int DelayMs = 0;        // ...reaches the host this much later
    int FttTrainings = 0;   // spoil the host's first N TCFs
    int ThrottleBps = 0;    // bytes between host and modem at most at this rate
    long StallAfter = -1;   // the modem stops taking page data after this many bytes
    long HangupAfter = -1;  // the far end hangs up after this many page bytes
    bool any() const;
};

// Declares the fault options, each setting its part of `o` (a value out of its range is refused).
void addFaultOptions(telvane::cmdline::Parser& parser, FaultOptions& o);
const char* faultUsage();

class Faults {
public:
    using Logger = std::function<void(const std::string&)>;
    Faults(FaultOptions o, Logger log) : opt_(std::move(o)), log_(std::move(log)) {}

    // A new call starts: counters and pending work are reset.
    void newCall();
    // Puts the frame interceptors in place (again, if the modems re-initialised their
    // receivers). The host's modem is a Class 1 modem (`host`) or the fax machine inside a
    // Class 2 modem (`hostFax`); the far end a fax machine or a second modem.
    void hook(t31_state_t* host, fax_state_t* hostFax, fax_state_t* farFax, t31_state_t* farModem);

    // Host -> modem bytes: how many may be read now (0: leave them in the tty).
    size_t hostReadLimit(size_t wanted);
    // Host -> modem bytes as read: tracked, and a TCF spoiled in place.
    void fromHost(uint8_t* buf, size_t n);
    // Modem -> host bytes: tracked (received page data counts towards a hang-up).
    void toHost(const uint8_t* buf, size_t n);
    // Whether the modem may move bytes towards the host now (throttle).
    size_t hostWriteLimit(size_t wanted);
    // One 20 ms block of the far end's audio on its way to the host (`hostTx` is what the host
    // sends in the same block): delays and repeats are applied here.
    void farAudio(int16_t* block, int n, const int16_t* hostTx);
    // True once the far end is to hang up (then the call is ended by the line).
    bool hangupDue();
    // True while the modem takes nothing from the host.
    bool stalled() const { return stalled_; }

private:
    struct Tap {
        Faults* self = nullptr;
        bool in = true;
        hdlc_frame_handler_t original = nullptr;
        void* originalUser = nullptr;
    };
    struct SendTap {
        Faults* self = nullptr;
        fax_state_t* fax = nullptr;
        t30_send_hdlc_handler_t* original = nullptr;
        void* originalUser = nullptr;
    };
    static void onFrame(void* user, const uint8_t* pkt, int len, int ok);
    static void onFarSend(void* user, const uint8_t* msg, int len);
    void install(hdlc_rx_state_t* rx, Tap& tap);
    void installSend(fax_state_t* fax);
    bool matches(const std::vector<FrameSpec>& specs, bool in, int number, const std::string& type, int occurrence);
    void hostLine(const std::string& line);
    // The steps of farAudio, in order.
    void refillTokens(int n);
    void trackFarBursts(const int16_t* block, int n, bool heard);
    void passThroughDelay(int16_t* block, int n, bool heard);
    void replayLastBurst(int16_t* block, int n, const int16_t* hostTx);

    FaultOptions opt_;
    Logger log_;
    Tap hostTap_, farTap_;
    SendTap farSendTap_;
    int frames_[2] = {0, 0};  // [in, out]
    std::vector<std::pair<std::string, int>> typeCounts_[2];
    std::vector<std::pair<std::string, int>> farPageFrameCounts_;  // FCD/RCP sent toward a Class 1 host

    // Host stream: commands, and data after CONNECT until DLE ETX.
    std::string hostLine_;
    bool lastFramesWereTx_ = false;  // the last frame command was "AT+FTH" (else "AT+FRH")
    enum class DataKind { None, Tcf, Page };
    DataKind txKind_ = DataKind::None;  // what the next/current "AT+FTM" data is
    bool hostInData_ = false;
    bool hostDle_ = false;
    long txZeros_ = 0;
    int tcfsSeen_ = 0;
    bool spoilThis_ = false;
    long hostPageBytes_ = 0;
    bool stalled_ = false;
    // Modem stream: "AT+FRM" data.
    DataKind rxKind_ = DataKind::None;
    bool rxArmed_ = false;  // "AT+FRM" sent, data follows CONNECT
    bool modemInData_ = false;
    bool modemDle_ = false;
    std::string modemLine_;
    long rxPageBytes_ = 0;
    bool hangup_ = false;
    // Throttle.
    double readTokens_ = 0, writeTokens_ = 0;
    // Far-end audio.
    bool farActive_ = false;
    int farSilentBlocks_ = 1000;
    int farBursts_ = 0;
    std::deque<int16_t> extraDelay_;  // samples inserted before a delayed burst
    size_t delayOwed_ = 0;            // samples still to take back out during silence
    std::vector<int16_t> burst_;      // the far end's current (or last) transmission
    bool repeatArmed_ = false;        // replay the last burst after the host has answered
    bool hostSpoke_ = false;
    int hostSilentBlocks_ = 0;
    std::vector<int16_t> replay_;
    size_t replayPos_ = 0;
};

}  // namespace vline
