// ITU-T T.30 Annex A (error correction mode, ECM): the frames of the ECM procedure, and the
// DIS/DCS bits of error correction and of the codings (T.30 Table 2: 2-D coding, bit 16; ECM,
// bit 27; 64-octet frames, bit 28 of DCS; T.6 coding, bit 31), with the choice of coding from
// what both stations offer.
// FCF values are kept as the modem delivers them (the T.30 value with its bits reversed), X bit
// (bit 0) clear, as in t30.h; the builders below set it when asked. FCD and RCP are sent with
// the non-final control field, every other frame here as a final frame.
// Guarantees: every function is pure and total; short or malformed FIFs are reported as such,
// never read past their length.
#pragma once

#include "faximage/mrcodes.h"
#include "transport/fax/t30.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace telvane::transport::ecm {

inline constexpr uint8_t fcfFCD = 0x06;  // facsimile coded data      0110 0000
inline constexpr uint8_t fcfRCP = 0x86;  // return to control (block) 0110 0001
inline constexpr uint8_t fcfPPS = 0xBE;  // partial page signal       X111 1101
inline constexpr uint8_t fcfEOR = 0xCE;  // end of retransmission     X111 0011
inline constexpr uint8_t fcfRR = 0x6E;   // receive ready             X111 0110
inline constexpr uint8_t fcfCTC = 0x12;  // continue to correct       X100 1000
inline constexpr uint8_t fcfPPR = 0xBC;  // partial page request      X011 1101
inline constexpr uint8_t fcfRNR = 0xEC;  // receive not ready         X011 0111
inline constexpr uint8_t fcfERR = 0x1C;  // response to EOR           X011 1000
inline constexpr uint8_t fcfCTR = 0xC4;  // response to CTC           X010 0011
// The X bit: set in the frames of the station that received DIS (the caller of a send).
inline constexpr uint8_t kXBit = 0x01;

inline constexpr int kMaxFrames = 256;  // FCD frames in one partial page (block)
inline constexpr int kFrameSize = 256;  // octets of fax data in an FCD frame
inline constexpr int kSmallFrameSize = 64;

enum class Frame { Unknown, FCD, RCP, PPS, EOR, RR, CTC, PPR, RNR, ERR, CTR };
// The ECM frame of a received FCF (either value of the X bit).
Frame classify(uint8_t fcf);
const char* frameName(Frame f);

// A frame's FCF and FIF as SendFrame takes them.
struct Content {
    uint8_t Fcf = 0;
    std::vector<uint8_t> Fif;
};

// The post-message part of PPS and EOR: NULL after a partial page that is not the last of its
// page, else the page's post-message command (PRI-: with a procedure interrupt).
enum class PostPage { Null, MPS, EOM, EOP, PriMPS, PriEOM, PriEOP };
// Its FCF (X bit clear); 0x00 for NULL.
uint8_t postPageFcf(PostPage command);
// The command of an FCF (either X); false for none.
bool parsePostPage(uint8_t fcf, PostPage& command);

// PPS: FIF octet 1 the post-message command, 2 the page counter, 3 the block
// counter (pages and partial pages counted from 0, modulo 256), 4 the number of frames of the
// partial page minus 1.
struct PpsFields {
    PostPage Command = PostPage::Null;
    int Page = 0;
    int Block = 0;
    int Frames = 1;  // 1..256
};
Content buildPps(const PpsFields& fields, bool xBit);
// False for a FIF shorter than four octets or an unknown command.
bool parsePps(const uint8_t* fif, size_t len, PpsFields& fields);

// EOR: the post-message command of the block given up on.
Content buildEor(PostPage command, bool xBit);
bool parseEor(const uint8_t* fif, size_t len, PostPage& command);

// CTC: its FIF has the form of DCS octets 1 and 2, of which bits 11-14 give the signalling
// rate to go on at.
Content buildCtc(int speedIndex, bool xBit);
// The speed index (1..6) of a CTC FIF; 0 when it names no rate. `modulation`, when given,
// receives the modulation the rate bits name (V.17 at 9600 and 7200 as well as V.29).
int parseCtc(const uint8_t* fif, size_t len, t30::Modulation* modulation = nullptr);

// The frames without FIF: RR, RNR, ERR, CTR (and RCP, which has no X bit).
Content buildSimple(Frame frame, bool xBit);

// The 256 bits of a PPR: bit n set for frame n to be sent again (bit n % 8 of octet n / 8,
// the first bit of each octet first).
class TFrameMap {
public:
    void set(int frame);
    bool test(int frame) const;
    int count() const;
    bool empty() const { return count() == 0; }
    // The frames set, in order.
    std::vector<int> frames() const;
    const uint8_t* octets() const { return bits_; }
    bool operator==(const TFrameMap& other) const;

private:
    uint8_t bits_[kMaxFrames / 8] = {};
};
Content buildPpr(const TFrameMap& missing, bool xBit);
// False for a FIF shorter than 32 octets.
bool parsePpr(const uint8_t* fif, size_t len, TFrameMap& missing);

// DIS/DCS bits, numbered as in T.30 Table 2 (bit 1 is the first bit of the FIF). A bit past
// octet 3 is read only when the extend bits (24, 32, ...) before its octet are all set.
inline constexpr int kBitTwoD = 16;
inline constexpr int kBitEcm = 27;
inline constexpr int kBitFrames64 = 28;  // DCS only; set to 0 in DIS
inline constexpr int kBitT6 = 31;
bool testBit(const uint8_t* fif, size_t len, int bit);
// Sets a bit, adding octets as needed with the extend bit (24, 32, ...) of each octet before
// the new ones set, so that the receiver reads on to it.
void setBit(std::vector<uint8_t>& fif, int bit);

// What a DIS offers or a DCS selects.
struct CodingOffer {
    bool TwoD = false;      // T.4 2-D coding (MR)
    bool Ecm = false;       // error correction mode
    bool T6 = false;        // T.6 coding (MMR); only valid with ECM
    bool Frames64 = false;  // DCS: 64-octet frames
};
// Reads the bits of a DIS or DCS FIF; T.6 without ECM is read as not offered.
CodingOffer parseCoding(const uint8_t* fif, size_t len);
// Adds the bits of `offer` to a DIS or DCS FIF (as t30::BuildDISFif/BuildDCSFif make them);
// T.6 is set only together with ECM, 64-octet frames only with ECM.
void addCoding(std::vector<uint8_t>& fif, const CodingOffer& offer);

// What a sending station uses with a remote station.
struct CodingChoice {
    faximage::FaxCoding Coding = faximage::FaxCoding::MH;
    bool Ecm = false;
    int FrameSize = 0;  // octets per FCD frame with ECM, else 0
};
// ECM when both offer it; MMR when both offer T.6 and ECM is used, else MR when both offer 2-D
// coding, else MH; 64-octet frames when `smallFrames` asks for them (with ECM).
CodingChoice chooseCoding(const CodingOffer& own, const CodingOffer& remote, bool smallFrames);
// The DCS bits of a choice.
CodingOffer selectedCoding(const CodingChoice& choice);

}  // namespace telvane::transport::ecm
