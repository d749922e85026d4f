// Our DIS and DCS bytes read by an independent decoder: spandsp's T.30 frame logger (a test
// peer), which prints every field of a DIS/DTC/DCS as T.30 Table 2 defines it. Each speed we
// can choose must be named in the DCS with the modulation whose code we hand to "AT+FTM=",
// each DIS must offer exactly the modulations we can receive, and DCS frames coded by T.30
// must be read by us as the peer reads them. The same for the bits of ECM, frame size, 2-D and
// T.6 coding, and the peer's names for our ECM frames.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "transport/fax/class1.h"
#include "transport/fax/ecmframes.h"
#include "transport/fax/t30.h"

extern "C" {
#include <spandsp.h>
}

using namespace telvane::transport;

namespace {

std::string gDecoded;
void collect(int, const char* text) { gDecoded += text; }

// The peer's reading of a DIS or DCS frame (FCF and FIF as sent).
std::string peerDecode(uint8_t fcf, const std::vector<uint8_t>& fif) {
    static t30_state_t* t30 = [] {
        t30_state_t* s = t30_init(nullptr, 1, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
        logging_state_t* log = t30_get_logging_state(s);
        span_log_set_level(log, SPAN_LOG_FLOW);
        span_log_set_message_handler(log, collect);
        return s;
    }();
    std::vector<uint8_t> frame{0xFF, 0x13, fcf};
    frame.insert(frame.end(), fif.begin(), fif.end());
    gDecoded.clear();
    t30_decode_dis_dtc_dcs(t30, frame.data(), static_cast<int>(frame.size()));
    return gDecoded;
}

std::string field(const std::string& decoded, const std::string& name) {
    const size_t p = decoded.find(name + ": ");
    if (p == std::string::npos) return "(missing)";
    const size_t start = p + name.size() + 2;
    return decoded.substr(start, decoded.find('\n', start) - start);
}

// The modulation family of a T.31 modulation code.
std::string family(const std::string& code) {
    if (code == "24" || code == "48") return "V.27ter";
    if (code == "72" || code == "96") return "V.29";
    return "V.17";  // 73, 74, 97, 98, 121, 122, 145, 146
}

}  // namespace

TEST(T30Peer, EveryDcsRateIsTheModulationWeTrainWith) {
    for (int index = 1; index <= 6; ++index) {
        const auto fif = t30::buildDCSFif(index, false, false, 0);
        const std::string rate = field(peerDecode(t30::fcfDCS, fif), "Selected data signalling rate");
        const std::string bps = std::to_string(t30::speedBps(index)) + "bps";
        EXPECT_NE(rate.find(bps), std::string::npos) << "index " << index << ": " << rate;
        EXPECT_NE(rate.find(family(t30::longTrainCode(index))), std::string::npos) << "index " << index << ": " << rate;
        EXPECT_EQ(family(t30::longTrainCode(index)), family(t30::shortTrainCode(index)));
    }
}

TEST(T30Peer, DisOffersWhatWeCanReceive) {
    const std::pair<int, const char*> cases[] = {{1, "V.27 ter fall-back mode"},  {2, "V.27 ter"},
                                                 {3, "V.27 ter and V.29"},        {4, "V.27 ter and V.29"},
                                                 {5, "V.27 ter, V.29, and V.17"}, {6, "V.27 ter, V.29, and V.17"}};
    for (const auto& [index, expected] : cases) {
        const std::string decoded = peerDecode(t30::fcfDIS, t30::buildDISFif(index));
        EXPECT_EQ(field(decoded, "Supported data signalling rates"), expected) << "highest index " << index;
        EXPECT_EQ(field(decoded, "R8x7.7lines/mm and/or 200x200pels/25.4mm"), "Set");
    }
}

// Every DCS rate code of T.30 Table 2 that the peer knows: we read speed and modulation alike
// and pick the "AT+FRM=" code of that modulation.
TEST(T30Peer, ReceivedDcsIsReadAsThePeerReadsIt) {
    for (uint8_t bits = 0; bits < 0x40; bits += 4) {
        const std::vector<uint8_t> fif{0x00, static_cast<uint8_t>(0x02 | bits), 0x88, 0x00};
        const std::string rate = field(peerDecode(t30::fcfDCS, fif), "Selected data signalling rate");
        const auto ours = t30::parseDCS(fif.data(), fif.size());
        if (rate == "Invalid" || rate == "Reserved") {
            // The peer's edition of T.30 no longer has V.33 (bits 13 without 14): we still read it.
            if (ours.Valid) {
                EXPECT_EQ(ours.Mod, t30::Modulation::V33) << std::hex << int(bits);
            }
            continue;
        }
        ASSERT_TRUE(ours.Valid) << rate;
        EXPECT_NE(rate.find(std::to_string(t30::speedBps(ours.SpeedIndex)) + "bps"), std::string::npos) << rate;
        const std::string code = t30::longTrainCode(ours.SpeedIndex, ours.Mod);
        EXPECT_NE(rate.find(family(code)), std::string::npos) << rate << " read as AT+FRM=" << code;
        EXPECT_EQ(family(code), family(t30::shortTrainCode(ours.SpeedIndex, ours.Mod)));
    }
}

// Recording width (bits 17, 18): 255 mm and 303 mm both mean a 2048-pel page can be received.
TEST(T30Peer, DisWidthFieldAsThePeerReadsIt) {
    for (uint8_t w = 0; w < 4; ++w) {
        const std::vector<uint8_t> fif{0x00, 0x4E, static_cast<uint8_t>(0xF8 | w), 0x00};
        const std::string width = field(peerDecode(t30::fcfDIS, fif), "Recording width");
        const bool peerWide = width.find("255mm") != std::string::npos || width.find("303mm") != std::string::npos;
        if (width == "Invalid") continue;
        EXPECT_EQ(t30::parseDIS(fif.data(), fif.size()).Wide, peerWide) << width;
    }
    const uint8_t dis303[] = {0x00, 0x4E, 0xFA, 0x00};
    EXPECT_TRUE(t30::parseDIS(dis303, sizeof dis303).Wide);
}

// ECM, 64-octet frames, 2-D and T.6 coding in our DIS and DCS, as the peer reads them, and back.
TEST(T30Peer, CodingAndEcmBitsAsThePeerReadsThem) {
    struct Case {
        bool dis;
        ecm::CodingOffer offer;
        const char* twoD;
        const char* ecmField;
        const char* t6;
        const char* frameSize;  // DCS only
    };
    const Case cases[] = {
        {true, {true, true, true, false}, "Set", "ECM", "Set", nullptr},
        {true, {true, false, false, false}, "Set", "Non-ECM", "Not set", nullptr},
        {false, {false, true, true, true}, "Not set", "ECM", "Set", "64 octets"},
        {false, {false, true, false, false}, "Not set", "ECM", "Not set", "256 octets"},
        {false, {true, false, false, false}, "Set", "Non-ECM", "Not set", "256 octets"},
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> fif = c.dis ? t30::buildDISFif(6) : t30::buildDCSFif(6, true, false, 0);
        ecm::addCoding(fif, c.offer);
        const std::string decoded = peerDecode(c.dis ? t30::fcfDIS : t30::fcfDCS, fif);
        EXPECT_EQ(field(decoded, "2-D coding"), c.twoD) << decoded;
        EXPECT_EQ(field(decoded, "Error correction mode (ECM)"), c.ecmField) << decoded;
        EXPECT_EQ(field(decoded, "T.6 coding"), c.t6) << decoded;
        if (c.frameSize) {
            EXPECT_EQ(field(decoded, "Frame size"), c.frameSize) << decoded;
        }
        const ecm::CodingOffer back = ecm::parseCoding(fif.data(), fif.size());
        EXPECT_EQ(back.TwoD, c.offer.TwoD);
        EXPECT_EQ(back.Ecm, c.offer.Ecm);
        EXPECT_EQ(back.T6, c.offer.T6);
        EXPECT_EQ(back.Frames64, c.offer.Frames64);
    }
}

TEST(T30Peer, EcmFramesHaveThePeersNames) {
    const std::pair<uint8_t, const char*> frames[] = {
        {ecm::fcfPPS, "PPS"}, {ecm::fcfPPR, "PPR"}, {ecm::fcfCTC, "CTC"}, {ecm::fcfCTR, "CTR"}, {ecm::fcfEOR, "EOR"},
        {ecm::fcfERR, "ERR"}, {ecm::fcfRR, "RR"},   {ecm::fcfRNR, "RNR"}, {ecm::fcfFCD, "FCD"}, {ecm::fcfRCP, "RCP"}};
    for (const auto& [fcf, name] : frames) {
        EXPECT_STREQ(t30_frametype(fcf), name);
        EXPECT_STREQ(ecm::frameName(ecm::classify(fcf)), name);
        if (fcf != ecm::fcfFCD && fcf != ecm::fcfRCP) {
            EXPECT_STREQ(t30_frametype(static_cast<uint8_t>(fcf | ecm::kXBit)), name);
        }
    }
}
