// The Class 1 AT commands (EIA/TIA-578, ITU-T T.31) the fax machines write, in one place.
#pragma once

#include <string>

namespace telvane::transport::at {

inline constexpr const char* kClassQuery = "AT+FCLASS=?";
inline constexpr const char* kClass1 = "AT+FCLASS=1";
inline constexpr const char* kTxModulations = "AT+FTM=?";
inline constexpr const char* kRxModulations = "AT+FRM=?";
inline constexpr const char* kTxFrames = "AT+FTH=3";  // send V.21 HDLC frames
inline constexpr const char* kRxFrames = "AT+FRH=3";  // receive V.21 HDLC frames
inline constexpr const char* kAnswer = "ATA";
inline constexpr const char* kHangUp = "ATH";

// Send / receive data with a modulation code ("96", "145"...).
inline std::string txData(const char* code) { return std::string("AT+FTM=") + code; }
inline std::string rxData(const char* code) { return std::string("AT+FRM=") + code; }
// Stop sending and stay silent for tens x 10 ms.
inline std::string txSilence(int tens) { return "AT+FTS=" + std::to_string(tens); }
inline std::string dial(bool tone, const std::string& prefix, const std::string& number) {
    return std::string(tone ? "ATDT" : "ATDP") + prefix + number;
}

}  // namespace telvane::transport::at
