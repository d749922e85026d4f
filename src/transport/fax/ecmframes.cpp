// ECM frames and the coding bits of DIS/DCS (see ecmframes.h).
#include "transport/fax/ecmframes.h"

#include "transport/fax/t30.h"

namespace telvane::transport::ecm {

Frame Classify(uint8_t fcf) {
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

const char* FrameName(Frame f) {
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

uint8_t WithX(uint8_t fcf, bool xBit) { return static_cast<uint8_t>(fcf | (xBit ? kXBit : 0)); }

// The first octet of PPS and EOR: NULL stays 0, a command carries the X bit as its own FCF would.
uint8_t CommandOctet(PostPage command, bool xBit) {
    return command == PostPage::Null ? 0x00 : WithX(PostPageFcf(command), xBit);
}

}  // namespace

uint8_t PostPageFcf(PostPage command) {
    for (const Command& c : kCommands)
        if (c.command == command) return c.fcf;
    return 0x00;
}

bool ParsePostPage(uint8_t fcf, PostPage& command) {
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

Content BuildPps(const PpsFields& fields, bool xBit) {
    const int frames = fields.Frames < 1 ? 1 : fields.Frames > kMaxFrames ? kMaxFrames : fields.Frames;
    return {WithX(fcfPPS, xBit),
            {CommandOctet(fields.Command, xBit), static_cast<uint8_t>(fields.Page & 0xFF),
             static_cast<uint8_t>(fields.Block & 0xFF), static_cast<uint8_t>(frames - 1)}};
}

bool ParsePps(const uint8_t* fif, size_t len, PpsFields& fields) {
    if (len < 4) return false;
    PostPage command;
    if (!ParsePostPage(fif[0], command)) return false;
    fields.Command = command;
    fields.Page = fif[1];
    fields.Block = fif[2];
    fields.Frames = fif[3] + 1;
    return true;
}

Content BuildEor(PostPage command, bool xBit) { return {WithX(fcfEOR, xBit), {CommandOctet(command, xBit)}}; }

bool ParseEor(const uint8_t* fif, size_t len, PostPage& command) { return len >= 1 && ParsePostPage(fif[0], command); }

Content BuildCtc(int speedIndex, bool xBit) {
    // The rate bits (11-14) of the DCS octet 2 for that speed; the other bits are not used.
    const std::vector<uint8_t> dcs = t30::BuildDCSFif(speedIndex, false, false, 0);
    return {WithX(fcfCTC, xBit), {0x00, static_cast<uint8_t>(dcs[1] & 0x3C)}};
}

int ParseCtc(const uint8_t* fif, size_t len) {
    if (len < 2) return 0;
    const t30::DcsParams p = t30::ParseDCS(fif, 2);
    return p.Valid ? p.SpeedIndex : 0;
}

Content BuildSimple(Frame frame, bool xBit) {
    switch (frame) {
    case Frame::RR: return {WithX(fcfRR, xBit), {}};
    case Frame::RNR: return {WithX(fcfRNR, xBit), {}};
    case Frame::ERR: return {WithX(fcfERR, xBit), {}};
    case Frame::CTR: return {WithX(fcfCTR, xBit), {}};
    default: return {fcfRCP, {}};
    }
}

void TFrameMap::Set(int frame) {
    if (frame >= 0 && frame < kMaxFrames)
        bits_[frame / 8] = static_cast<uint8_t>(bits_[frame / 8] | (1u << (frame % 8)));
}

bool TFrameMap::Test(int frame) const {
    return frame >= 0 && frame < kMaxFrames && (bits_[frame / 8] >> (frame % 8)) & 1;
}

int TFrameMap::Count() const {
    int n = 0;
    for (uint8_t b : bits_) n += __builtin_popcount(b);
    return n;
}

std::vector<int> TFrameMap::Frames() const {
    std::vector<int> frames;
    for (int f = 0; f < kMaxFrames; ++f)
        if (Test(f)) frames.push_back(f);
    return frames;
}

bool TFrameMap::operator==(const TFrameMap& other) const {
    for (int i = 0; i < kMaxFrames / 8; ++i)
        if (bits_[i] != other.bits_[i]) return false;
    return true;
}

Content BuildPpr(const TFrameMap& missing, bool xBit) {
    return {WithX(fcfPPR, xBit), std::vector<uint8_t>(missing.Octets(), missing.Octets() + kMaxFrames / 8)};
}

bool ParsePpr(const uint8_t* fif, size_t len, TFrameMap& missing) {
    if (len < kMaxFrames / 8) return false;
    missing = TFrameMap();
    for (int f = 0; f < kMaxFrames; ++f)
        if ((fif[f / 8] >> (f % 8)) & 1) missing.Set(f);
    return true;
}

bool TestBit(const uint8_t* fif, size_t len, int bit) {
    if (bit < 1) return false;
    const size_t octet = static_cast<size_t>(bit - 1) / 8;
    return octet < len && (fif[octet] >> ((bit - 1) % 8)) & 1;
}

void SetBit(std::vector<uint8_t>& fif, int bit) {
    if (bit < 1) return;
    const size_t octet = static_cast<size_t>(bit - 1) / 8;
    if (fif.size() <= octet) fif.resize(octet + 1, 0x00);
    // Octets 3 on end in an extend bit: every octet before the last one present says so.
    for (size_t i = 2; i < octet; ++i) fif[i] = static_cast<uint8_t>(fif[i] | 0x80);
    fif[octet] = static_cast<uint8_t>(fif[octet] | (1u << ((bit - 1) % 8)));
}

CodingOffer ParseCoding(const uint8_t* fif, size_t len) {
    CodingOffer o;
    o.TwoD = TestBit(fif, len, kBitTwoD);
    o.Ecm = TestBit(fif, len, kBitEcm);
    o.T6 = o.Ecm && TestBit(fif, len, kBitT6);
    o.Frames64 = o.Ecm && TestBit(fif, len, kBitFrames64);
    return o;
}

void AddCoding(std::vector<uint8_t>& fif, const CodingOffer& offer) {
    if (offer.TwoD) SetBit(fif, kBitTwoD);
    if (!offer.Ecm) return;
    SetBit(fif, kBitEcm);
    if (offer.T6) SetBit(fif, kBitT6);
    if (offer.Frames64) SetBit(fif, kBitFrames64);
}

CodingChoice ChooseCoding(const CodingOffer& own, const CodingOffer& remote, bool smallFrames) {
    CodingChoice c;
    c.Ecm = own.Ecm && remote.Ecm;
    if (c.Ecm && own.T6 && remote.T6)
        c.Coding = faximage::FaxCoding::MMR;
    else if (own.TwoD && remote.TwoD)
        c.Coding = faximage::FaxCoding::MR;
    c.FrameSize = c.Ecm ? (smallFrames ? kSmallFrameSize : kFrameSize) : 0;
    return c;
}

CodingOffer SelectedCoding(const CodingChoice& choice) {
    CodingOffer o;
    o.TwoD = choice.Coding == faximage::FaxCoding::MR;
    o.Ecm = choice.Ecm;
    o.T6 = choice.Ecm && choice.Coding == faximage::FaxCoding::MMR;
    o.Frames64 = choice.Ecm && choice.FrameSize == kSmallFrameSize;
    return o;
}

}  // namespace telvane::transport::ecm
