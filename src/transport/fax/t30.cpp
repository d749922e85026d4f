// T.30 frame contents, speed and scan-time tables (see t30.h).
#include "transport/fax/t30.h"

#include <algorithm>

namespace telvane::transport::t30 {

Frame classify(uint8_t fcf) {
    switch (fcf) {
    case 0x80:
    case 0x81: return Frame::DIS;
    case 0x40:
    case 0x41:
    case 0x42:
    case 0x43: return Frame::CSI;
    case 0x82:
    case 0x83: return Frame::DCS;
    case 0x84:
    case 0x85: return Frame::CFR;
    case 0x44:
    case 0x45: return Frame::FTT;
    case 0x8C:
    case 0x8D: return Frame::MCF;
    case 0x4C:
    case 0x4D: return Frame::RTN;
    case 0xCC:
    case 0xCD: return Frame::RTP;
    case 0x4E:
    case 0x4F: return Frame::MPS;
    case 0x8E:
    case 0x8F: return Frame::EOM;
    case 0x2E:
    case 0x2F: return Frame::EOP;
    case 0xFA:
    case 0xFB: return Frame::DCN;
    default: return Frame::Unknown;
    }
}

const char* frameName(Frame f) {
    static const char* const names[] = {"?",   "DIS", "CSI/TSI", "DCS", "CFR", "FTT", "MCF",
                                        "RTN", "RTP", "MPS",     "EOM", "EOP", "DCN"};
    return names[static_cast<int>(f)];
}

namespace {
constexpr int kBps[7] = {0, 2400, 4800, 7200, 9600, 12000, 14400};
bool validIndex(int i) { return i >= 1 && i <= 6; }
const char* trainCode(int index, Modulation m, bool shortTrain) {
    switch (validIndex(index) ? index : 0) {
    case 1: return "24";
    case 2: return "48";
    case 3:
        if (m == Modulation::V17 || m == Modulation::V33) return shortTrain ? "74" : "73";
        return "72";
    case 4:
        if (m == Modulation::V17 || m == Modulation::V33) return shortTrain ? "98" : "97";
        return "96";
    case 5: return shortTrain ? "122" : "121";
    case 6: return shortTrain ? "146" : "145";
    default: return "96";
    }
}
}  // namespace

int speedBps(int index) { return validIndex(index) ? kBps[index] : 0; }

Modulation sendModulation(int index) {
    if (index >= 5) return Modulation::V17;
    if (index >= 3) return Modulation::V29;
    return Modulation::V27ter;
}

const char* longTrainCode(int index, Modulation m) { return trainCode(index, m, false); }
const char* shortTrainCode(int index, Modulation m) { return trainCode(index, m, true); }

int indexForBps(long bps) {
    int best = 1;
    for (int i = 1; i <= 6; ++i)
        if (kBps[i] <= bps) best = i;
    return best;
}

SpeedSet parseModulations(std::string_view reply) {
    SpeedSet s = kBaseSpeeds;
    const char* codes[] = {"72", "96", "121", "145"};
    for (int i = 0; i < 4; ++i)
        if (reply.find(codes[i]) != std::string_view::npos) s |= 1u << (i + 3);
    return s;
}

int highestIndex(SpeedSet set) {
    for (int i = 6; i >= 1; --i)
        if (set & (1u << i)) return i;
    return 0;
}

int chooseSpeed(SpeedSet own, SpeedSet remote, long maxBps) {
    for (int i = 6; i >= 1; --i)
        if ((own & remote & (1u << i)) && kBps[i] <= maxBps) return i;
    return 0;
}

int stepDown(SpeedSet own, SpeedSet remote, int current) {
    for (int i = std::min(current, 7) - 1; i >= 1; --i)
        if (own & remote & (1u << i)) return i;
    return 0;
}

namespace {
int scanCodeFromBits(uint8_t bits) {
    switch (bits & 0x70) {
    case 0x00: return 5;
    case 0x10: return 1;
    case 0x20: return 3;
    case 0x30: return 4;
    case 0x40: return 7;
    case 0x50: return 6;
    case 0x60: return 2;
    default: return 0;
    }
}
}  // namespace

// T.30 Table 2, bits 11-14 (FIF byte 1 as the modem delivers it: bit 11 = 0x04, bit 12 = 0x08,
// bit 13 = 0x10, bit 14 = 0x20).
namespace {
constexpr uint8_t kRateMask = 0x3C;
constexpr uint8_t kV27 = 0x08;  // bit 12
constexpr uint8_t kV29 = 0x04;  // bit 11
constexpr uint8_t kV33 = 0x10;  // bit 13
constexpr uint8_t kV17 = 0x20;  // bit 14
// Recording width, bits 17-18 (FIF byte 2: 0x01, 0x02): 0 = 215 mm, 1 = 255 mm, 2 = 303 mm
// (which includes 255 mm), 3 = invalid, read as 303 mm.
bool offersWide(uint8_t b) { return (b & 0x03) != 0; }
}  // namespace

Capabilities parseDIS(const uint8_t* fif, size_t len) {
    Capabilities c;
    if (len >= 2) {
        const uint8_t b = fif[1];
        // V.27 ter (2400, 4800) is assumed of every machine.
        if (b & kV29) c.Speeds |= (1u << 3) | (1u << 4);
        // V.17 is offered only together with V.29 and V.27 ter (bits 11, 12, 14); "bits 11, 12,
        // 13" is the old V.33 code, which a Class 1 modem cannot send.
        if ((b & kRateMask) == (kV29 | kV27 | kV17)) c.Speeds |= (1u << 5) | (1u << 6);
        c.Fine = (b & 0x40) != 0;
    }
    if (len >= 3) {
        c.Wide = offersWide(fif[2]);
        c.ScanTimeCode = scanCodeFromBits(fif[2]);
    }
    return c;
}

DcsParams parseDCS(const uint8_t* fif, size_t len) {
    DcsParams p;
    if (len >= 2) {
        const uint8_t b = fif[1];
        struct Rate {
            uint8_t Bits;
            int Index;
            Modulation Mod;
        };
        static const Rate rates[] = {{0x00, 1, Modulation::V27ter},     {kV27, 2, Modulation::V27ter},
                                     {kV29 | kV27, 3, Modulation::V29}, {kV29, 4, Modulation::V29},
                                     {kV17, 6, Modulation::V17},        {kV17 | kV27, 5, Modulation::V17},
                                     {kV17 | kV29, 4, Modulation::V17}, {kV17 | kV29 | kV27, 3, Modulation::V17},
                                     {kV33, 6, Modulation::V33},        {kV33 | kV27, 5, Modulation::V33}};
        for (const Rate& r : rates) {
            if ((b & kRateMask) == r.Bits) {
                p.Valid = true;
                p.SpeedIndex = r.Index;
                p.Mod = r.Mod;
            }
        }
        p.Fine = (b & 0x40) != 0;
    }
    if (len >= 3) {
        p.Wide = (fif[2] & 0x03) == 0x01;
        p.ScanTimeCode = scanCodeFromBits(fif[2]);
    }
    return p;
}

std::vector<uint8_t> buildDISFif(int ownHighestIndex) {
    static const uint8_t speedBits[7] = {kV29 | kV27,       0x00, kV27, kV29 | kV27, kV29 | kV27, kV17 | kV29 | kV27,
                                         kV17 | kV29 | kV27};
    const uint8_t bits = speedBits[validIndex(ownHighestIndex) ? ownHighestIndex : 0];
    return {0x00, static_cast<uint8_t>(0x02 | 0x40 | bits), 0xF9, 0x00};
}

std::vector<uint8_t> buildDCSFif(int speedIndex, bool fine, bool wide, int remoteScanTimeCode) {
    // The rate we send at, with the modulation sendModulation() names for it.
    static const uint8_t speedBits[7] = {kV29, 0x00, kV27, kV29 | kV27, kV29, kV17 | kV27, kV17};
    static const uint8_t scanBytes[8][2] = {{0x70, 0x70}, {0x10, 0x10}, {0x20, 0x10}, {0x20, 0x20},
                                            {0x00, 0x20}, {0x00, 0x00}, {0x40, 0x00}, {0x40, 0x40}};
    const uint8_t bits = speedBits[validIndex(speedIndex) ? speedIndex : 0];
    const int code = std::clamp(remoteScanTimeCode, 0, 7);
    uint8_t b3 = static_cast<uint8_t>(scanBytes[code][fine ? 1 : 0] | 0x88);
    if (wide) b3 |= 0x01;
    return {0x00, static_cast<uint8_t>(0x02 | (fine ? 0x40 : 0) | bits), b3, 0x00};
}

int scanTimeMs(int code, bool fine) {
    static const int ms[8][2] = {{0, 0}, {5, 5}, {10, 5}, {10, 10}, {20, 10}, {20, 20}, {40, 20}, {40, 40}};
    if (code < 0 || code > 7) return 0;
    return ms[code][fine ? 1 : 0];
}

int minBytesPerLine(int code, bool fine, long bps) {
    return static_cast<int>(static_cast<long long>(scanTimeMs(code, fine)) * bps / 8000);
}

std::vector<uint8_t> encodeId(std::string_view id) {
    // The ID's characters go out last one first, then the padding: a receiver that reverses the
    // 20 bytes reads the ID with the blanks in front, where T.30 puts them (its digits right-aligned).
    const std::string_view chars = id.substr(0, kIdLength);
    std::vector<uint8_t> fif(chars.rbegin(), chars.rend());
    fif.resize(kIdLength, ' ');
    return fif;
}

std::string decodeId(const uint8_t* fif, size_t len) {
    std::string s(reinterpret_cast<const char*>(fif), std::min<size_t>(len, kIdLength));
    std::reverse(s.begin(), s.end());
    // Control bytes, DEL and the C1 controls (0x9B is a terminal's CSI) become spaces: the ID
    // reaches logs, terminals and the screen.
    for (char& c : s) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || (u >= 0x7F && u <= 0x9F)) c = ' ';
    }
    const auto first = s.find_first_not_of(' ');
    if (first == std::string::npos) return {};
    const auto last = s.find_last_not_of(' ');
    return s.substr(first, last - first + 1);
}

}  // namespace telvane::transport::t30
