// ECM frames and the coding bits of DIS/DCS (see ecmframes.h).
#include "transport/fax/ecmframes.h"

#include "transport/fax/t30.h"

namespace telvane::transport::ecm {

Frame classify(uint8_t fcf) {
    switch (fcf) {
    case fcfFCD: return Frame::FCD;
    case fcfRCP: return Frame::RCP;
    default: break;
    }
    switch (fcf & ~kXBit) {
    case fcfPPS: return Frame::PPS;
    case fcfEOR: return Frame::EOR;
    case fcfRR: return Frame::RR;
    case fcfCTC: return Frame::CTC;
    case fcfPPR: return Frame::PPR;
    case fcfRNR: return Frame::RNR;
    case fcfERR: return Frame::ERR;
    case fcfCTR: return Frame::CTR;
    default: return Frame::Unknown;
    }
}

const char* frameName(Frame f) {
    static const char* const names[] = {"?", "FCD", "RCP", "PPS", "EOR", "RR", "CTC", "PPR", "RNR", "ERR", "CTR"};
    return names[static_cast<int>(f)];
}

namespace {

// Post-message commands (T.30: MPS X111 0010, EOM X111 0001, EOP X111 0100, PRI-MPS X111 1010,
// PRI-EOM X111 1001, PRI-EOP X111 1100).
struct Command {
    PostPage command;
    uint8_t fcf;
};
const Command kCommands[] = {{PostPage::Null, 0x00},  {PostPage::MPS, 0x4E},    {PostPage::EOM, 0x8E},
                             {PostPage::EOP, 0x2E},   {PostPage::PriMPS, 0x5E}, {PostPage::PriEOM, 0x9E},
                             {PostPage::PriEOP, 0x3E}};

uint8_t withX(uint8_t fcf, bool xBit) { return static_cast<uint8_t>(fcf | (xBit ? kXBit : 0)); }

// The first octet of PPS and EOR: NULL stays 0, a command carries the X bit as its own FCF would.
uint8_t commandOctet(PostPage command, bool xBit) {
    return command == PostPage::Null ? 0x00 : withX(postPageFcf(command), xBit);
}

}  // namespace

uint8_t postPageFcf(PostPage command) {
    for (const Command& c : kCommands)
        if (c.command == command) return c.fcf;
    return 0x00;
}

bool parsePostPage(uint8_t fcf, PostPage& command) {
    if (fcf == 0x00) {
        command = PostPage::Null;
        return true;
    }
    // A command with either value of X.
    for (const Command& c : kCommands) {
        if (c.command != PostPage::Null && c.fcf == (fcf & ~kXBit)) {
            command = c.command;
            return true;
        }
    }
    return false;
}

Content buildPps(const PpsFields& fields, bool xBit) {
    const int frames = fields.Frames < 1 ? 1 : fields.Frames > kMaxFrames ? kMaxFrames : fields.Frames;
    return {withX(fcfPPS, xBit),
            {commandOctet(fields.Command, xBit), static_cast<uint8_t>(fields.Page & 0xFF),
             static_cast<uint8_t>(fields.Block & 0xFF), static_cast<uint8_t>(frames - 1)}};
}

bool parsePps(const uint8_t* fif, size_t len, PpsFields& fields) {
    if (len < 4) return false;
    PostPage command;
    if (!parsePostPage(fif[0], command)) return false;
    fields.Command = command;
    fields.Page = fif[1];
    fields.Block = fif[2];
    fields.Frames = fif[3] + 1;
    return true;
}

Content buildEor(PostPage command, bool xBit) { return {withX(fcfEOR, xBit), {commandOctet(command, xBit)}}; }

bool parseEor(const uint8_t* fif, size_t len, PostPage& command) { return len >= 1 && parsePostPage(fif[0], command); }

Content buildCtc(int speedIndex, bool xBit) {
    // The rate bits (11-14) of the DCS octet 2 for that speed; the other bits are not used.
    const std::vector<uint8_t> dcs = t30::buildDCSFif(speedIndex, false, false, 0);
    return {withX(fcfCTC, xBit), {0x00, static_cast<uint8_t>(dcs[1] & 0x3C)}};
}

int parseCtc(const uint8_t* fif, size_t len, t30::Modulation* modulation) {
    if (len < 2) return 0;
    const t30::DcsParams p = t30::parseDCS(fif, 2);
    if (!p.Valid) return 0;
    if (modulation) *modulation = p.Mod;
    return p.SpeedIndex;
}

Content buildSimple(Frame frame, bool xBit) {
    switch (frame) {
    case Frame::RR: return {withX(fcfRR, xBit), {}};
    case Frame::RNR: return {withX(fcfRNR, xBit), {}};
    case Frame::ERR: return {withX(fcfERR, xBit), {}};
    case Frame::CTR: return {withX(fcfCTR, xBit), {}};
    default: return {fcfRCP, {}};
    }
}

void TFrameMap::set(int frame) {
    if (frame >= 0 && frame < kMaxFrames)
        bits_[frame / 8] = static_cast<uint8_t>(bits_[frame / 8] | (1u << (frame % 8)));
}

bool TFrameMap::test(int frame) const {
    return frame >= 0 && frame < kMaxFrames && (bits_[frame / 8] >> (frame % 8)) & 1;
}

int TFrameMap::count() const {
    int n = 0;
    for (uint8_t b : bits_) n += __builtin_popcount(b);
    return n;
}

std::vector<int> TFrameMap::frames() const {
    std::vector<int> frames;
    for (int f = 0; f < kMaxFrames; ++f)
        if (test(f)) frames.push_back(f);
    return frames;
}

bool TFrameMap::operator==(const TFrameMap& other) const {
    for (int i = 0; i < kMaxFrames / 8; ++i)
        if (bits_[i] != other.bits_[i]) return false;
    return true;
}

Content buildPpr(const TFrameMap& missing, bool xBit) {
    return {withX(fcfPPR, xBit), std::vector<uint8_t>(missing.octets(), missing.octets() + kMaxFrames / 8)};
}

bool parsePpr(const uint8_t* fif, size_t len, TFrameMap& missing) {
    if (len < kMaxFrames / 8) return false;
    missing = TFrameMap();
    for (int f = 0; f < kMaxFrames; ++f)
        if ((fif[f / 8] >> (f % 8)) & 1) missing.set(f);
    return true;
}

bool testBit(const uint8_t* fif, size_t len, int bit) {
    if (bit < 1) return false;
    const size_t octet = static_cast<size_t>(bit - 1) / 8;
    if (octet >= len) return false;
    // Octets 4 on are present only while the octet before each ends in a set extend bit; what
    // follows the last one is not FIF (a Class 1 modem hands on the FCS there).
    for (size_t i = 2; i < octet; ++i)
        if (!(fif[i] & 0x80)) return false;
    return (fif[octet] >> ((bit - 1) % 8)) & 1;
}

void setBit(std::vector<uint8_t>& fif, int bit) {
    if (bit < 1) return;
    const size_t octet = static_cast<size_t>(bit - 1) / 8;
    if (fif.size() <= octet) fif.resize(octet + 1, 0x00);
    // Octets 3 on end in an extend bit: every octet before the last one present says so.
    for (size_t i = 2; i < octet; ++i) fif[i] = static_cast<uint8_t>(fif[i] | 0x80);
    fif[octet] = static_cast<uint8_t>(fif[octet] | (1u << ((bit - 1) % 8)));
}

CodingOffer parseCoding(const uint8_t* fif, size_t len) {
    CodingOffer o;
    o.TwoD = testBit(fif, len, kBitTwoD);
    o.Ecm = testBit(fif, len, kBitEcm);
    o.T6 = o.Ecm && testBit(fif, len, kBitT6);
    o.Frames64 = o.Ecm && testBit(fif, len, kBitFrames64);
    return o;
}

void addCoding(std::vector<uint8_t>& fif, const CodingOffer& offer) {
    if (offer.TwoD) setBit(fif, kBitTwoD);
    if (!offer.Ecm) return;
    setBit(fif, kBitEcm);
    if (offer.T6) setBit(fif, kBitT6);
    if (offer.Frames64) setBit(fif, kBitFrames64);
}

CodingChoice chooseCoding(const CodingOffer& own, const CodingOffer& remote, bool smallFrames) {
    CodingChoice c;
    c.Ecm = own.Ecm && remote.Ecm;
    if (c.Ecm && own.T6 && remote.T6)
        c.Coding = faximage::FaxCoding::MMR;
    else if (own.TwoD && remote.TwoD)
        c.Coding = faximage::FaxCoding::MR;
    c.FrameSize = c.Ecm ? (smallFrames ? kSmallFrameSize : kFrameSize) : 0;
    return c;
}

CodingOffer selectedCoding(const CodingChoice& choice) {
    CodingOffer o;
    o.TwoD = choice.Coding == faximage::FaxCoding::MR;
    o.Ecm = choice.Ecm;
    o.T6 = choice.Ecm && choice.Coding == faximage::FaxCoding::MMR;
    o.Frames64 = choice.Ecm && choice.FrameSize == kSmallFrameSize;
    return o;
}

}  // namespace telvane::transport::ecm
