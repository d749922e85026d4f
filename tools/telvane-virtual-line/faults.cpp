// Fault injection of the virtual fax line (see faults.h).
#include "faults.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cctype>
#include <cstring>
#include <type_traits>

namespace vline {

namespace {

constexpr int kSampleRate = 8000;
constexpr int kSilenceLevel = 64;       // a block above this is signal
constexpr int kBurstGapBlocks = 10;     // 200 ms of silence ends a transmission
constexpr size_t kMaxBurst = 8000 * 8;  // at most 8 s of a transmission are kept for a repeat

const char* frameType(uint8_t fcf) {
    switch (fcf & 0xFE) {
    case 0x80: return "DIS";
    case 0x40: return "CSI";
    case 0x20: return "NSF";
    case 0x82: return "DCS";
    case 0x42: return "TSI";
    case 0x22: return "NSS";
    case 0x84: return "CFR";
    case 0x44: return "FTT";
    case 0x8C: return "MCF";
    case 0x4C: return "RTN";
    case 0xCC: return "RTP";
    case 0x4E: return "MPS";
    case 0x8E: return "EOM";
    case 0x2E: return "EOP";
    case 0xFA: return "DCN";
    case 0x1A: return "CRP";
    // Error correction: the frames of a block at the page speed, and the exchange after it.
    case 0x06: return "FCD";
    case 0x86: return "RCP";
    case 0xBE: return "PPS";
    case 0xBC: return "PPR";
    case 0xCE: return "EOR";
    case 0x1C: return "ERR";
    case 0x12: return "CTC";
    case 0xC4: return "CTR";
    case 0x6E: return "RR";
    case 0xEC: return "RNR";
    default: return "?";
    }
}

// A decimal number from 0 to max, all of `v`.
bool number(const std::string& v, long max, long& out) { return telvane::cmdline::parseInteger(v, 0, max, out); }

// "in:3", "out:DCS", "in:MCF:2".
bool parseSpec(const std::string& text, FrameSpec& s) {
    const size_t colon = text.find(':');
    if (colon == std::string::npos) return false;
    const std::string dir = text.substr(0, colon);
    if (dir != "in" && dir != "out") return false;
    s.In = dir == "in";
    const std::string rest = text.substr(colon + 1);
    if (rest.empty()) return false;
    long n = 0;
    if (std::isdigit(static_cast<unsigned char>(rest[0]))) {
        if (!number(rest, 10000, n) || n == 0) return false;
        s.Number = static_cast<int>(n);
        return true;
    }
    const size_t colon2 = rest.find(':');
    s.Type = rest.substr(0, colon2);
    for (char& c : s.Type) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (colon2 == std::string::npos) return true;
    if (!number(rest.substr(colon2 + 1), 10000, n) || n == 0) return false;
    s.Occurrence = static_cast<int>(n);
    return true;
}

// Counts one more frame of `type`; returns which of that type it is (1 = first).
int countType(std::vector<std::pair<std::string, int>>& counts, const std::string& type) {
    auto it = std::find_if(counts.begin(), counts.end(), [&](const auto& p) { return p.first == type; });
    if (it != counts.end()) return ++it->second;
    counts.emplace_back(type, 1);
    return 1;
}

// Frames of an error-correction block, sent at the page speed.
bool pageSpeedFrame(const std::string& type) { return type == "FCD" || type == "RCP"; }

bool loud(const int16_t* block, int n) {
    for (int i = 0; i < n; ++i)
        if (block[i] > kSilenceLevel || block[i] < -kSilenceLevel) return true;
    return false;
}

}  // namespace

bool FaultOptions::any() const {
    return !Drop.empty() || !Corrupt.empty() || !Repeat.empty() || DelayMs > 0 || FttTrainings > 0 || ThrottleBps > 0 ||
           StallAfter >= 0 || HangupAfter >= 0;
}

void addFaultOptions(telvane::cmdline::Parser& parser, FaultOptions& o) {
    const auto frame = [](std::vector<FrameSpec>& list, std::string prefix) {
        return [&list, prefix](const std::string& v) {
            FrameSpec s;
            if (!parseSpec(prefix + v, s)) return false;
            list.push_back(s);
            return true;
        };
    };
    const auto bounded = [](auto& out, long min, long max) {
        return [&out, min, max](const std::string& v) {
            long n = 0;
            if (!number(v, max, n) || n < min) return false;
            out = static_cast<std::remove_reference_t<decltype(out)>>(n);
            return true;
        };
    };
    parser.value("--drop-frame", frame(o.Drop, ""))
        .value("--corrupt-frame", frame(o.Corrupt, ""))
        .value("--repeat-command", frame(o.Repeat, "in:"))
        .value("--delay-response",
               [&o](const std::string& v) {
                   const size_t colon = v.find(':');
                   long n = 0, ms = 0;
                   if (colon == std::string::npos || !number(v.substr(0, colon), 10000, n) || n == 0 ||
                       !number(v.substr(colon + 1), 20000, ms))
                       return false;
                   o.DelayResponse = static_cast<int>(n);
                   o.DelayMs = static_cast<int>(ms);
                   return true;
               })
        .value("--ftt", bounded(o.FttTrainings, 0, 100))
        .value("--throttle", bounded(o.ThrottleBps, 300, 1'000'000))
        .value("--stall-after", bounded(o.StallAfter, 0, 100'000'000))
        .value("--hangup-after", bounded(o.HangupAfter, 0, 100'000'000));
}

const char* faultUsage() {
    return "Faults (FRAME is in:N, out:N, in:TYPE[:K] or out:TYPE[:K]; \"in\" = sent by the far end,\n"
           "\"out\" = sent by the host; N counts the direction's frames from 1; TYPE is DIS, CSI, DCS,\n"
           "TSI, CFR, FTT, MCF, RTN, RTP, MPS, EOM, EOP, DCN, FCD, PPR...; K picks the Kth of that\n"
           "type [1]; toward a Class 1 host the frames of an error-correction block, FCD and RCP,\n"
           "are counted apart and named by type only: in:FCD:K):\n"
           "  --drop-frame FRAME     the frame is lost (its receiver never gets it)\n"
           "  --corrupt-frame FRAME  the frame arrives with a bad FCS (the host's modem says ERROR)\n"
           "  --delay-response N:MS  the far end's Nth transmission (counting every signal it starts\n"
           "                         after silence, answer tone included) reaches the host MS ms late\n"
           "  --ftt N                the first N trainings (TCF) the host sends are spoiled on the line,\n"
           "                         so the far end answers FTT and the host must fall back\n"
           "  --throttle BPS         bytes pass between the host and its modem at most at BPS bit/s\n"
           "                         (both directions; a slow serial link)\n"
           "  --stall-after BYTES    after BYTES bytes of page data the modem takes nothing more from\n"
           "                         the host and says nothing (CTS held low for good)\n"
           "  --hangup-after BYTES   the far end hangs up after BYTES bytes of page data (sent by the\n"
           "                         host or received by it)\n"
           "  --repeat-command TYPE[:K]  the far end's command TYPE reaches the host a second time\n"
           "                         after the host's answer, as when that answer was lost\n"
           "Each fault option may be given more than once where it names a frame.\n";
}

void Faults::newCall() {
    frames_[0] = frames_[1] = 0;
    typeCounts_[0].clear();
    typeCounts_[1].clear();
    farPageFrameCounts_.clear();
    hostLine_.clear();
    lastFramesWereTx_ = false;
    txKind_ = DataKind::None;
    hostInData_ = hostDle_ = false;
    tcfsSeen_ = 0;
    spoilThis_ = false;
    hostPageBytes_ = 0;
    stalled_ = false;
    rxKind_ = DataKind::None;
    rxArmed_ = modemInData_ = modemDle_ = false;
    modemLine_.clear();
    rxPageBytes_ = 0;
    hangup_ = false;
    farActive_ = false;
    farSilentBlocks_ = 1000;
    farBursts_ = 0;
    extraDelay_.clear();
    delayOwed_ = 0;
    burst_.clear();
    repeatArmed_ = hostSpoke_ = false;
    replay_.clear();
    replayPos_ = 0;
}

void Faults::install(hdlc_rx_state_t* rx, Tap& tap) {
    if (rx->frame_handler == &Faults::onFrame) return;
    tap.original = rx->frame_handler;
    tap.originalUser = rx->frame_user_data;
    hdlc_rx_set_frame_handler(rx, &Faults::onFrame, &tap);
}

void Faults::hook(t31_state_t* host, fax_state_t* hostFax, fax_state_t* farFax, t31_state_t* farModem) {
    if (opt_.Drop.empty() && opt_.Corrupt.empty() && opt_.Repeat.empty()) return;
    hostTap_.self = farTap_.self = this;
    hostTap_.in = true;
    farTap_.in = false;
    if (host) install(&host->audio.modems.hdlc_rx, hostTap_);
    if (hostFax) install(&hostFax->modems.hdlc_rx, hostTap_);
    if (farFax) install(&farFax->modems.hdlc_rx, farTap_);
    if (farModem) install(&farModem->audio.modems.hdlc_rx, farTap_);
    // A Class 2 modem's fax machine decodes every frame itself (the tap above sees them all).
    if (host && farFax) installSend(farFax);
}

void Faults::installSend(fax_state_t* fax) {
    t30_state_t& t30 = fax->t30;
    if (t30.send_hdlc_handler == &Faults::onFarSend) return;
    farSendTap_.self = this;
    farSendTap_.fax = fax;
    farSendTap_.original = t30.send_hdlc_handler;
    farSendTap_.originalUser = t30.send_hdlc_user_data;
    t30.send_hdlc_handler = &Faults::onFarSend;
    t30.send_hdlc_user_data = &farSendTap_;
}

void Faults::onFarSend(void* user, const uint8_t* msg, int len) {
    SendTap& tap = *static_cast<SendTap*>(user);
    if (tap.original) tap.original(tap.originalUser, msg, len);
    if (!msg || len < 3) return;  // the end of a run of frames
    const std::string type = frameType(msg[2]);
    if (!pageSpeedFrame(type)) return;
    Faults& f = *tap.self;
    const int occurrence = countType(f.farPageFrameCounts_, type);
    FrameSpec spec;
    for (const FrameSpec& s : f.opt_.Corrupt)
        if (s.In && s.Number == 0 && s.Type == type && s.Occurrence == occurrence) spec = s;
    if (spec.Type.empty()) return;
    // The frame now waits in the transmitter: it leaves with a wrong FCS.
    char what[64];
    std::snprintf(what, sizeof what, "in frame at page speed (%s #%d)", type.c_str(), occurrence);
    if (hdlc_tx_corrupt_frame(&tap.fax->modems.hdlc_tx) == 0)
        f.log_(std::string("fault: bad FCS on ") + what);
    else
        f.log_(std::string("fault: could not spoil ") + what);
}

bool Faults::matches(const std::vector<FrameSpec>& specs, bool in, int number, const std::string& type,
                     int occurrence) {
    for (const FrameSpec& s : specs) {
        if (s.In != in) continue;
        if (s.Number > 0 ? s.Number == number : (s.Type == type && s.Occurrence == occurrence)) return true;
    }
    return false;
}

void Faults::onFrame(void* user, const uint8_t* pkt, int len, int ok) {
    Tap& tap = *static_cast<Tap*>(user);
    Faults& f = *tap.self;
    if (len < 3 || !ok) {  // status reports, and frames the line itself garbled
        if (tap.original) tap.original(tap.originalUser, pkt, len, ok);
        return;
    }
    const int dir = tap.in ? 0 : 1;
    const int number = ++f.frames_[dir];
    const std::string type = frameType(pkt[2]);
    const int occurrence = countType(f.typeCounts_[dir], type);
    const char* dirName = tap.in ? "in" : "out";
    char what[96];
    std::snprintf(what, sizeof what, "%s frame %d (%s #%d)", dirName, number, type.c_str(), occurrence);
    if (f.matches(f.opt_.Drop, tap.in, number, type, occurrence)) {
        f.log_(std::string("fault: dropped ") + what);
        return;
    }
    if (f.matches(f.opt_.Corrupt, tap.in, number, type, occurrence)) {
        f.log_(std::string("fault: bad FCS on ") + what);
        if (tap.original) tap.original(tap.originalUser, pkt, len, 0);
        return;
    }
    if (tap.in && f.matches(f.opt_.Repeat, true, number, type, occurrence)) {
        f.log_(std::string("fault: will repeat ") + what);
        f.repeatArmed_ = true;
        f.hostSpoke_ = false;
    }
    if (tap.original) tap.original(tap.originalUser, pkt, len, ok);
}

size_t Faults::hostReadLimit(size_t wanted) {
    if (stalled_) return 0;
    if (opt_.ThrottleBps <= 0) return wanted;
    return std::min(wanted, static_cast<size_t>(readTokens_));
}

size_t Faults::hostWriteLimit(size_t wanted) {
    if (opt_.ThrottleBps <= 0) return wanted;
    const size_t n = std::min(wanted, static_cast<size_t>(writeTokens_));
    writeTokens_ -= static_cast<double>(n);
    return n;
}

void Faults::hostLine(const std::string& line) {
    std::string up;
    for (char c : line) up += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (up.find("+FTH=") != std::string::npos) {
        lastFramesWereTx_ = true;
        rxArmed_ = false;
    } else if (up.find("+FRH=") != std::string::npos) {
        lastFramesWereTx_ = false;
        rxArmed_ = false;
    } else if (up.find("+FTM=") != std::string::npos && up.find('?') == std::string::npos) {
        // After our own frames (DCS) the data is the TCF; after the far end's (CFR, MCF) a page.
        txKind_ = lastFramesWereTx_ ? DataKind::Tcf : DataKind::Page;
        hostInData_ = true;
        hostDle_ = false;
        txZeros_ = 0;
        if (txKind_ == DataKind::Tcf) {
            ++tcfsSeen_;
            spoilThis_ = tcfsSeen_ <= opt_.FttTrainings;
            if (spoilThis_) log_("fault: spoiling training " + std::to_string(tcfsSeen_));
        }
    } else if (up.find("+FRM=") != std::string::npos && up.find('?') == std::string::npos) {
        rxKind_ = lastFramesWereTx_ ? DataKind::Page : DataKind::Tcf;
        rxArmed_ = true;
    } else if (up.find("+FDT") != std::string::npos && up.find('?') == std::string::npos) {
        // Class 2 / 2.0: page data follows the modem's CONNECT (the host waits for it).
        txKind_ = DataKind::Page;
        hostInData_ = true;
        hostDle_ = false;
    } else if (up.find("+FDR") != std::string::npos && up.find('?') == std::string::npos) {
        rxKind_ = DataKind::Page;
        rxArmed_ = true;
    }
}

void Faults::fromHost(uint8_t* buf, size_t n) {
    if (opt_.ThrottleBps > 0) readTokens_ -= static_cast<double>(n);
    for (size_t i = 0; i < n; ++i) {
        const uint8_t c = buf[i];
        if (!hostInData_) {
            if (c == '\r' || c == '\n') {
                if (!hostLine_.empty()) hostLine(hostLine_);
                hostLine_.clear();
            } else if (c >= 0x20 && hostLine_.size() < 200) {
                hostLine_ += static_cast<char>(c);
            }
            continue;
        }
        if (hostDle_) {
            hostDle_ = false;
            // DLE ETX ends the data; in Class 2.0 also DLE "." "," and ";" (page end codes).
            if (c == 0x03 || c == '.' || c == ',' || c == ';') {
                hostInData_ = false;
                continue;
            }
        } else if (c == 0x10) {
            hostDle_ = true;
            continue;
        }
        if (txKind_ == DataKind::Tcf && spoilThis_ && c == 0x00 && ++txZeros_ % 8 == 0) {
            buf[i] = 0x55;  // one byte in eight carries ones: the far end sees a bad line
        }
        if (txKind_ == DataKind::Page) {
            ++hostPageBytes_;
            if (opt_.StallAfter >= 0 && hostPageBytes_ >= opt_.StallAfter && !stalled_) {
                stalled_ = true;
                log_("fault: modem stops taking data after " + std::to_string(hostPageBytes_) + " page bytes");
                // The rest of this read still reaches the modem; nothing after it does.
            }
            if (opt_.HangupAfter >= 0 && hostPageBytes_ >= opt_.HangupAfter && !hangup_) {
                hangup_ = true;
                log_("fault: far end hangs up after " + std::to_string(hostPageBytes_) + " page bytes sent");
            }
        }
    }
}

void Faults::toHost(const uint8_t* buf, size_t n) {
    for (size_t i = 0; i < n; ++i) {
        const uint8_t c = buf[i];
        if (!modemInData_) {
            if (c == '\r' || c == '\n') {
                if (rxArmed_ && modemLine_.find("CONNECT") != std::string::npos) {
                    modemInData_ = true;
                    modemDle_ = false;
                    rxArmed_ = false;
                } else if (!modemLine_.empty()) {
                    rxArmed_ = rxArmed_ && modemLine_.find("ERROR") == std::string::npos;
                }
                modemLine_.clear();
            } else if (c >= 0x20 && modemLine_.size() < 100) {
                modemLine_ += static_cast<char>(c);
            }
            continue;
        }
        if (modemDle_) {
            modemDle_ = false;
            if (c == 0x03) {
                modemInData_ = false;
                continue;
            }
        } else if (c == 0x10) {
            modemDle_ = true;
            continue;
        }
        if (rxKind_ == DataKind::Page) {
            ++rxPageBytes_;
            if (opt_.HangupAfter >= 0 && rxPageBytes_ >= opt_.HangupAfter && !hangup_) {
                hangup_ = true;
                log_("fault: far end hangs up after " + std::to_string(rxPageBytes_) + " page bytes received");
            }
        }
    }
}

bool Faults::hangupDue() {
    if (!hangup_) return false;
    hangup_ = false;
    opt_.HangupAfter = -1;  // once per run
    return true;
}

void Faults::farAudio(int16_t* block, int n, const int16_t* hostTx) {
    if (opt_.ThrottleBps > 0) refillTokens(n);
    const bool heard = loud(block, n);
    trackFarBursts(block, n, heard);
    passThroughDelay(block, n, heard);
    replayLastBurst(block, n, hostTx);
}

void Faults::refillTokens(int n) {
    // Tokens for one block; a little headroom so that a burst of a few bytes passes.
    const double perBlock = opt_.ThrottleBps / 8.0 * n / kSampleRate;
    readTokens_ = std::min(readTokens_ + perBlock, perBlock * 4);
    writeTokens_ = std::min(writeTokens_ + perBlock, perBlock * 4);
}

void Faults::trackFarBursts(const int16_t* block, int n, bool heard) {
    if (heard && !farActive_ && farSilentBlocks_ >= kBurstGapBlocks) {
        ++farBursts_;
        burst_.clear();
        log_("far end transmission " + std::to_string(farBursts_) + " starts");
        if (farBursts_ == opt_.DelayResponse && opt_.DelayMs > 0) {
            log_("fault: delaying it by " + std::to_string(opt_.DelayMs) + " ms");
            extraDelay_.insert(extraDelay_.end(), static_cast<size_t>(opt_.DelayMs) * kSampleRate / 1000, 0);
            delayOwed_ += static_cast<size_t>(opt_.DelayMs) * kSampleRate / 1000;
        }
    }
    if (heard) {
        farActive_ = true;
        farSilentBlocks_ = 0;
        if (burst_.size() < kMaxBurst) burst_.insert(burst_.end(), block, block + n);
    } else {
        ++farSilentBlocks_;
        if (farSilentBlocks_ >= kBurstGapBlocks) farActive_ = false;
    }
}

void Faults::passThroughDelay(int16_t* block, int n, bool heard) {
    // The delay line: what went in comes out later; during long silence the delay is taken
    // back out again so that later exchanges keep their normal timing.
    if (extraDelay_.empty() && delayOwed_ == 0) return;
    if (!heard && delayOwed_ > 0 && farSilentBlocks_ > 50 && extraDelay_.size() >= static_cast<size_t>(n)) {
        const size_t take = std::min(delayOwed_, static_cast<size_t>(n));
        delayOwed_ -= take;
        extraDelay_.erase(extraDelay_.end() - static_cast<long>(take), extraDelay_.end());
    }
    extraDelay_.insert(extraDelay_.end(), block, block + n);
    for (int i = 0; i < n; ++i) {
        block[i] = extraDelay_.front();
        extraDelay_.pop_front();
    }
}

void Faults::replayLastBurst(int16_t* block, int n, const int16_t* hostTx) {
    // A repeat: after the host has answered (it spoke, then fell silent), the far end's last
    // transmission is heard once more.
    if (repeatArmed_ && !farActive_) {
        if (loud(hostTx, n)) {
            hostSpoke_ = true;
            hostSilentBlocks_ = 0;
        } else if (hostSpoke_ && ++hostSilentBlocks_ >= 4) {
            repeatArmed_ = false;
            replay_ = burst_;
            replayPos_ = 0;
            log_("fault: the far end's last command is heard again");
        }
    }
    if (replayPos_ < replay_.size()) {
        for (int i = 0; i < n && replayPos_ < replay_.size(); ++i) block[i] = replay_[replayPos_++];
    }
}

}  // namespace vline
