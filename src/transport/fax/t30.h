// ITU-T T.30 control frames as this engine exchanges them with a Class 1 modem.
// FCF values are kept in the modem's bit order (the T.30 value with its bits reversed); the
// calling side sets bit 0 (the T.30 X bit). DIS/DCS carry four FIF bytes. Station IDs are
// 20 bytes, sent last character first, then the space padding. Also holds the speed and scan-time
// tables that the Class 1 machines share.
// Guarantees: every function here is pure and total: out-of-range indexes and short frames
// yield documented defaults, never undefined behaviour.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace telvane::transport::t30 {

// FCF values sent.
inline constexpr uint8_t fcfDIS = 0x80;
inline constexpr uint8_t fcfCSI = 0x40;
inline constexpr uint8_t fcfDCS = 0x83;
inline constexpr uint8_t fcfTSI = 0x43;
inline constexpr uint8_t fcfCFR = 0x84;
inline constexpr uint8_t fcfFTT = 0x44;
inline constexpr uint8_t fcfMCF = 0x8C;
inline constexpr uint8_t fcfRTN = 0x4C;
inline constexpr uint8_t fcfRTP = 0xCC;
inline constexpr uint8_t fcfMPS = 0x4F;
inline constexpr uint8_t fcfEOM = 0x8F;
inline constexpr uint8_t fcfEOP = 0x2F;
inline constexpr uint8_t fcfDCN = 0xFB;

// Frames recognised on receipt (either value of the X bit).
enum class Frame { Unknown, DIS, CSI, DCS, CFR, FTT, MCF, RTN, RTP, MPS, EOM, EOP, DCN };
Frame classify(uint8_t fcf);
const char* frameName(Frame f);

inline constexpr uint8_t ctlFinal = 0x13;
inline constexpr uint8_t ctlNotFinal = 0x03;
inline constexpr uint8_t kAddress = 0xFF;
inline constexpr int kIdLength = 20;

// Speed index 1..6: 2400, 4800, 7200, 9600, 12000, 14400 bps. 0 for anything else.
int speedBps(int index);

// Modulations of T.30 Table 2 (bits 11-14). We send 2400/4800 with V.27 ter, 7200/9600 with
// V.29 and 12000/14400 with V.17 (SendModulation); a received DCS may also name V.17 at 7200
// or 9600, or V.33, which is read but never offered.
enum class Modulation { V27ter, V29, V17, V33 };
Modulation sendModulation(int index);
// "AT+FTM=" / "AT+FRM=" modulation codes of T.31: long and short training.
// V.33 has no T.31 code; the V.17 code of the same speed is the nearest a modem can do.
// Indexes outside 1..6 give "96".
const char* longTrainCode(int index, Modulation m);
const char* shortTrainCode(int index, Modulation m);
inline const char* longTrainCode(int index) { return longTrainCode(index, sendModulation(index)); }
inline const char* shortTrainCode(int index) { return shortTrainCode(index, sendModulation(index)); }
// Highest speed index whose speed does not exceed bps (at least 1).
int indexForBps(long bps);

// Bit mask of speed indexes (bit i set = index i available).
using SpeedSet = unsigned;
inline constexpr SpeedSet kBaseSpeeds = (1u << 1) | (1u << 2);
// Speeds announced by "AT+FTM=?" / "AT+FRM=?": 1 and 2 always, 3..6 for "72", "96", "121", "145".
SpeedSet parseModulations(std::string_view reply);
int highestIndex(SpeedSet set);
// The highest index in both sets whose speed does not exceed maxBps; 0 when none.
int chooseSpeed(SpeedSet own, SpeedSet remote, long maxBps);
// The next lower index below `current` present in both sets; 0 when none.
int stepDown(SpeedSet own, SpeedSet remote, int current);

// Capabilities read from a DIS (or DCS, for the receiver's use).
struct Capabilities {
    SpeedSet Speeds = kBaseSpeeds;
    bool Fine = false;
    bool Wide = false;
    int ScanTimeCode = 0;  // 0..7
};
Capabilities parseDIS(const uint8_t* fif, size_t len);
struct DcsParams {
    bool Valid = false;  // the rate bits name a rate of T.30 Table 2
    int SpeedIndex = 3;
    Modulation Mod = Modulation::V29;
    bool Fine = false;
    bool Wide = false;
    int ScanTimeCode = 0;
};
DcsParams parseDCS(const uint8_t* fif, size_t len);

// FIF of our DIS: own highest speed index (0 when none known). 2400 and 4800 give V.27 ter,
// 7200 and 9600 V.27 ter and V.29, 12000 and 14400 V.27 ter, V.29 and V.17 (T.30 Table 2
// lets a DIS offer V.17 only as a whole, so a receiver offering it must take 14400 too).
std::vector<uint8_t> buildDISFif(int ownHighestIndex);
// FIF of a DCS: chosen speed index, page resolution and width, remote's scan-time code.
std::vector<uint8_t> buildDCSFif(int speedIndex, bool fine, bool wide, int remoteScanTimeCode);

// Minimum scan-line time in ms for a code 0..7 and resolution; bytes per line at bps.
int scanTimeMs(int code, bool fine);
int minBytesPerLine(int code, bool fine, long bps);

// Station ID as the 20 FIF bytes of CSI/TSI (its characters reversed, then blanks), and back
// (reversed, trimmed at both ends).
std::vector<uint8_t> encodeId(std::string_view id);
std::string decodeId(const uint8_t* fif, size_t len);

}  // namespace telvane::transport::t30
