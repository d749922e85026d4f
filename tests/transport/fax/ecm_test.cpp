// ECM building blocks (T.30 Annex A): FCF values checked against their T.30 bit patterns, PPS,
// EOR, CTC and PPR contents, the DIS/DCS bits of Table 2 for ECM, 64-octet frames, 2-D and T.6
// coding, the choice of coding, and partial pages cut by the sender and put together by the
// receiver from frames arriving in any order.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "transport/fax/ecmblock.h"
#include "transport/fax/ecmframes.h"
#include "transport/fax/hdlc.h"
#include "transport/fax/t30.h"

using namespace telvane::transport;
using telvane::faximage::FaxCoding;

namespace {

// An FCF written as in T.30 ("X111 1101", first transmitted bit first) as the modem delivers it
// (first bit in bit 0), with the X bit given.
uint8_t fromT30(const std::string& written, bool x) {
    uint8_t v = 0;
    int bit = 0;
    for (char c : written) {
        if (c == ' ') continue;
        if (c == '1' || (c == 'X' && x)) v = static_cast<uint8_t>(v | (1u << bit));
        ++bit;
    }
    return v;
}

// T.30 Table 2 bit n of a FIF (bit 1 = first bit of octet 1).
bool bit(const std::vector<uint8_t>& fif, int n) {
    return static_cast<size_t>(n - 1) / 8 < fif.size() && (fif[static_cast<size_t>(n - 1) / 8] >> ((n - 1) % 8)) & 1;
}

}  // namespace

TEST(EcmFrames, FcfValuesAreTheT30BitPatternsAndReadWithEitherX) {
    struct Case {
        ecm::Frame frame;
        const char* written;
    };
    const Case cases[] = {{ecm::Frame::PPS, "X111 1101"}, {ecm::Frame::EOR, "X111 0011"},
                          {ecm::Frame::RR, "X111 0110"},  {ecm::Frame::CTC, "X100 1000"},
                          {ecm::Frame::PPR, "X011 1101"}, {ecm::Frame::RNR, "X011 0111"},
                          {ecm::Frame::ERR, "X011 1000"}, {ecm::Frame::CTR, "X010 0011"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(ecm::frameName(c.frame));
        for (bool x : {false, true}) {
            const uint8_t fcf = fromT30(c.written, x);
            EXPECT_EQ(ecm::classify(fcf), c.frame);
            // None of them is taken for a frame of the phases without ECM.
            EXPECT_EQ(t30::classify(fcf), t30::Frame::Unknown);
            if (c.frame != ecm::Frame::PPS && c.frame != ecm::Frame::PPR && c.frame != ecm::Frame::CTC &&
                c.frame != ecm::Frame::EOR) {
                EXPECT_EQ(ecm::buildSimple(c.frame, x).Fcf, fcf);
                EXPECT_TRUE(ecm::buildSimple(c.frame, x).Fif.empty());
            }
        }
    }
    // FCD and RCP have no X bit.
    EXPECT_EQ(ecm::fcfFCD, fromT30("0110 0000", false));
    EXPECT_EQ(ecm::fcfRCP, fromT30("0110 0001", false));
    EXPECT_EQ(ecm::classify(ecm::fcfFCD), ecm::Frame::FCD);
    EXPECT_EQ(ecm::classify(ecm::fcfRCP), ecm::Frame::RCP);
    EXPECT_EQ(ecm::classify(ecm::fcfFCD | ecm::kXBit), ecm::Frame::Unknown);
    EXPECT_EQ(ecm::buildSimple(ecm::Frame::RCP, true).Fcf, ecm::fcfRCP);
    EXPECT_EQ(ecm::classify(t30::fcfMCF), ecm::Frame::Unknown);
}

TEST(EcmFrames, PpsCarriesCommandPageBlockAndFrameCountMinusOne) {
    // The post-message commands are the FCFs of MPS, EOM, EOP and their PRI- forms, with X.
    const std::pair<ecm::PostPage, const char*> commands[] = {
        {ecm::PostPage::MPS, "X111 0010"},    {ecm::PostPage::EOM, "X111 0001"},
        {ecm::PostPage::EOP, "X111 0100"},    {ecm::PostPage::PriMPS, "X111 1010"},
        {ecm::PostPage::PriEOM, "X111 1001"}, {ecm::PostPage::PriEOP, "X111 1100"}};
    for (const auto& [command, written] : commands) {
        EXPECT_EQ(ecm::postPageFcf(command), fromT30(written, false)) << written;
        const ecm::Content pps = ecm::buildPps({command, 2, 1, 17}, true);
        EXPECT_EQ(pps.Fcf, fromT30("X111 1101", true));
        EXPECT_EQ(pps.Fif, (std::vector<uint8_t>{fromT30(written, true), 2, 1, 16})) << written;
        ecm::PpsFields back;
        ASSERT_TRUE(ecm::parsePps(pps.Fif.data(), pps.Fif.size(), back));
        EXPECT_EQ(back.Command, command);
        EXPECT_EQ(back.Page, 2);
        EXPECT_EQ(back.Block, 1);
        EXPECT_EQ(back.Frames, 17);
    }
    EXPECT_EQ(t30::fcfMPS & ~ecm::kXBit, ecm::postPageFcf(ecm::PostPage::MPS));
    EXPECT_EQ(t30::fcfEOP & ~ecm::kXBit, ecm::postPageFcf(ecm::PostPage::EOP));

    // PPS-NULL: the first octet is 0 whatever X is; counters run modulo 256; 256 frames give 255.
    const ecm::Content null = ecm::buildPps({ecm::PostPage::Null, 300, 257, 256}, true);
    EXPECT_EQ(null.Fif, (std::vector<uint8_t>{0x00, 44, 1, 255}));
    ecm::PpsFields back;
    ASSERT_TRUE(ecm::parsePps(null.Fif.data(), null.Fif.size(), back));
    EXPECT_EQ(back.Command, ecm::PostPage::Null);
    EXPECT_EQ(back.Frames, 256);
    // Too short, or a first octet that is no post-message command.
    EXPECT_FALSE(ecm::parsePps(null.Fif.data(), 3, back));
    const uint8_t dis[] = {t30::fcfDIS, 0, 0, 0};
    EXPECT_FALSE(ecm::parsePps(dis, sizeof dis, back));

    const ecm::Content eor = ecm::buildEor(ecm::PostPage::EOP, true);
    EXPECT_EQ(eor.Fcf, fromT30("X111 0011", true));
    ecm::PostPage command = ecm::PostPage::Null;
    ASSERT_TRUE(ecm::parseEor(eor.Fif.data(), eor.Fif.size(), command));
    EXPECT_EQ(command, ecm::PostPage::EOP);
    EXPECT_FALSE(ecm::parseEor(eor.Fif.data(), 0, command));
}

TEST(EcmFrames, PprMapHasOneBitPerFrameFirstBitFirst) {
    ecm::TFrameMap missing;
    missing.set(3);
    missing.set(17);
    missing.set(255);
    missing.set(256);  // no such frame
    const ecm::Content ppr = ecm::buildPpr(missing, false);
    EXPECT_EQ(ppr.Fcf, fromT30("X011 1101", false));
    ASSERT_EQ(ppr.Fif.size(), 32u);
    std::vector<uint8_t> expected(32, 0);
    expected[0] = 0x08;   // frame 3: the fourth bit of octet 1
    expected[2] = 0x02;   // frame 17: the second bit of octet 3
    expected[31] = 0x80;  // frame 255: the last bit
    EXPECT_EQ(ppr.Fif, expected);
    ecm::TFrameMap back;
    ASSERT_TRUE(ecm::parsePpr(ppr.Fif.data(), ppr.Fif.size(), back));
    EXPECT_EQ(back.frames(), (std::vector<int>{3, 17, 255}));
    EXPECT_EQ(back.count(), 3);
    EXPECT_FALSE(ecm::parsePpr(ppr.Fif.data(), 31, back));
}

TEST(EcmFrames, CtcNamesTheRateAsDcsBits11To14) {
    // T.30 Table 2, bits 11-14: 2400 V.27 ter 0000, 4800 V.27 ter 0100, 7200 V.29 1100,
    // 9600 V.29 1000, 12000 V.17 0101, 14400 V.17 0001.
    const std::pair<int, const char*> rates[] = {{1, "0000"}, {2, "0100"}, {3, "1100"},
                                                 {4, "1000"}, {5, "0101"}, {6, "0001"}};
    for (const auto& [index, bits] : rates) {
        const ecm::Content ctc = ecm::buildCtc(index, true);
        EXPECT_EQ(ctc.Fcf, fromT30("X100 1000", true));
        ASSERT_EQ(ctc.Fif.size(), 2u);
        EXPECT_EQ(ctc.Fif[0], 0x00);
        for (int b = 0; b < 4; ++b) EXPECT_EQ(bit(ctc.Fif, 11 + b), bits[b] == '1') << index << " bit " << 11 + b;
        EXPECT_EQ(ecm::parseCtc(ctc.Fif.data(), ctc.Fif.size()), index);
    }
    const uint8_t v33[] = {0x00, 0x3C};  // bits 11-14 all set: no rate of Table 2
    EXPECT_EQ(ecm::parseCtc(v33, sizeof v33), 0);
    EXPECT_EQ(ecm::parseCtc(v33, 1), 0);
}

TEST(EcmCoding, DisAndDcsBitsOfTable2) {
    // DIS offering 2-D, ECM and T.6: bits 16, 27 and 31, nothing else changed.
    std::vector<uint8_t> dis = t30::buildDISFif(6);
    const std::vector<uint8_t> plain = dis;
    ecm::addCoding(dis, {true, true, true, false});
    ASSERT_EQ(dis.size(), 4u);
    for (int n = 1; n <= 32; ++n) {
        const bool expected = n == 16 || n == 27 || n == 31 || bit(plain, n);
        EXPECT_EQ(bit(dis, n), expected) << "bit " << n;
    }
    EXPECT_FALSE(bit(plain, 16));
    EXPECT_FALSE(bit(plain, 27));
    const ecm::CodingOffer read = ecm::parseCoding(dis.data(), dis.size());
    EXPECT_TRUE(read.TwoD && read.Ecm && read.T6);
    EXPECT_FALSE(read.Frames64);

    // DCS for MMR with 64-octet frames: bits 27, 28, 31; not 16 (2-D is MR).
    std::vector<uint8_t> dcs = t30::buildDCSFif(6, true, false, 0);
    ecm::addCoding(dcs, ecm::selectedCoding({FaxCoding::MMR, true, ecm::kSmallFrameSize}));
    EXPECT_TRUE(bit(dcs, 27) && bit(dcs, 28) && bit(dcs, 31));
    EXPECT_FALSE(bit(dcs, 16));
    EXPECT_EQ(dcs[3], 0x4C);

    // T.6 and the frame size mean nothing without ECM: neither read nor written.
    std::vector<uint8_t> noEcm = t30::buildDISFif(6);
    ecm::setBit(noEcm, ecm::kBitT6);
    EXPECT_FALSE(ecm::parseCoding(noEcm.data(), noEcm.size()).T6);
    std::vector<uint8_t> mrOnly = t30::buildDCSFif(4, false, false, 0);
    ecm::addCoding(mrOnly, {true, false, true, true});
    EXPECT_TRUE(bit(mrOnly, 16));
    EXPECT_FALSE(bit(mrOnly, 27) || bit(mrOnly, 28) || bit(mrOnly, 31));

    // A bit beyond the FIF adds octets and sets the extend bits (24, 32) before them.
    std::vector<uint8_t> shortFif{0x00, 0x02, 0x00};
    ecm::setBit(shortFif, 33);
    EXPECT_EQ(shortFif, (std::vector<uint8_t>{0x00, 0x02, 0x80, 0x80, 0x01}));
    EXPECT_FALSE(ecm::testBit(shortFif.data(), shortFif.size(), 41));
}

// A Class 1 modem hands on a received frame with its two FCS octets after the FIF. Octets
// past bit 24 exist only while the extend bit before them is set, so the FCS of a short DCS is
// never read as coding bits. The frames as received from spandsp's T.30 through its T.31 modem.
TEST(EcmCoding, OctetsAfterTheLastExtendedOneAreNotRead) {
    struct Case {
        std::vector<uint8_t> received;  // address to FCS, as the modem delivered it
        bool ecm, t6, twoD;
    };
    const Case cases[] = {
        {{0xFF, 0x13, 0x83, 0x00, 0x22, 0x78, 0xC6, 0x44}, false, false, false},      // MH, no ECM
        {{0xFF, 0x13, 0x83, 0x00, 0x22, 0xF8, 0x44, 0xEA, 0xDB}, true, true, false},  // MMR with ECM
        {{0xFF, 0x13, 0x83, 0x00, 0xA2, 0x78, 0xC6, 0x44}, false, false, true},       // MR, no ECM
    };
    for (const Case& c : cases) {
        hdlc::TFrame frame;
        ASSERT_TRUE(hdlc::parseFrame(c.received, frame));
        SCOPED_TRACE(hdlc::describeFrame(frame));
        const ecm::CodingOffer read = ecm::parseCoding(frame.Fif.data(), frame.Fif.size());
        EXPECT_EQ(read.Ecm, c.ecm);
        EXPECT_EQ(read.T6, c.t6);
        EXPECT_EQ(read.TwoD, c.twoD);
        EXPECT_FALSE(read.Frames64);
        const t30::DcsParams dcs = t30::parseDCS(frame.Fif.data(), frame.Fif.size());
        EXPECT_TRUE(dcs.Valid);
        EXPECT_EQ(dcs.SpeedIndex, 6);
    }
    // Bits of octet 5 count only with both extend bits, 24 and 32, set.
    const std::vector<uint8_t> gap{0x00, 0x02, 0x80, 0x00, 0x01};
    EXPECT_FALSE(ecm::testBit(gap.data(), gap.size(), 33));
    const std::vector<uint8_t> chain{0x00, 0x02, 0x80, 0x80, 0x01};
    EXPECT_TRUE(ecm::testBit(chain.data(), chain.size(), 33));
}

TEST(EcmCoding, ChoiceFromWhatBothStationsOffer) {
    const ecm::CodingOffer all{true, true, true, false};
    const ecm::CodingOffer twoDOnly{true, false, false, false};
    const ecm::CodingOffer none{};
    const ecm::CodingOffer ecmNoT6{false, true, false, false};
    struct Case {
        ecm::CodingOffer own, remote;
        bool small;
        FaxCoding coding;
        bool ecm;
        int frameSize;
    };
    const Case cases[] = {
        {all, all, false, FaxCoding::MMR, true, 256},    {all, all, true, FaxCoding::MMR, true, 64},
        {all, twoDOnly, false, FaxCoding::MR, false, 0},  // no ECM at the far end: MR, never MMR
        {all, none, false, FaxCoding::MH, false, 0},     {all, ecmNoT6, false, FaxCoding::MH, true, 256},
        {twoDOnly, all, false, FaxCoding::MR, false, 0},  // ECM not wanted here
        {none, all, false, FaxCoding::MH, false, 0},
    };
    for (const Case& c : cases) {
        const ecm::CodingChoice choice = ecm::chooseCoding(c.own, c.remote, c.small);
        EXPECT_EQ(choice.Coding, c.coding) << telvane::faximage::codingName(c.coding);
        EXPECT_EQ(choice.Ecm, c.ecm);
        EXPECT_EQ(choice.FrameSize, c.frameSize);
    }
    // A remote DIS with the T.6 bit but without ECM does not get MMR.
    std::vector<uint8_t> dis = t30::buildDISFif(6);
    ecm::setBit(dis, ecm::kBitTwoD);
    ecm::setBit(dis, ecm::kBitT6);
    EXPECT_EQ(ecm::chooseCoding(all, ecm::parseCoding(dis.data(), dis.size()), false).Coding, FaxCoding::MR);
}

TEST(EcmBlocks, PageIsCutIntoBlocksOf256FramesNumberedFromZero) {
    for (int frameSize : {256, 64}) {
        SCOPED_TRACE(frameSize);
        const size_t block = size_t(frameSize) * 256;
        std::vector<uint8_t> page(block + 1000);
        for (size_t i = 0; i < page.size(); ++i) page[i] = uint8_t(i * 7 + 1);
        ecm::TEcmPageSplitter s;
        s.beginPage(frameSize);
        EXPECT_EQ(s.append(page.data(), page.size()), block);
        EXPECT_TRUE(s.full());
        EXPECT_FALSE(s.lastBlock());
        EXPECT_EQ(s.frameCount(), 256);
        EXPECT_EQ(s.blockNumber(), 0);
        const std::vector<uint8_t> last = s.fcdFif(255);
        ASSERT_EQ(last.size(), size_t(frameSize) + 1);
        EXPECT_EQ(last[0], 255);
        EXPECT_EQ(std::vector<uint8_t>(last.begin() + 1, last.end()),
                  std::vector<uint8_t>(page.begin() + long(block) - frameSize, page.begin() + long(block)));
        EXPECT_TRUE(s.fcdFif(256).empty());

        s.nextBlock();
        EXPECT_EQ(s.append(page.data() + block, 1000), 1000u);
        s.endPage();
        EXPECT_TRUE(s.lastBlock());
        EXPECT_EQ(s.blockNumber(), 1);
        const int frames = (1000 + frameSize - 1) / frameSize;
        EXPECT_EQ(s.frameCount(), frames);
        // The page's last frame is full size, zero octets after its data.
        const std::vector<uint8_t> tail = s.fcdFif(frames - 1);
        ASSERT_EQ(tail.size(), size_t(frameSize) + 1);
        const size_t used = 1000 - size_t(frames - 1) * size_t(frameSize);
        EXPECT_TRUE(std::all_of(tail.begin() + 1 + long(used), tail.end(), [](uint8_t b) { return b == 0; }));
        EXPECT_EQ(tail[used], page[page.size() - 1]);
    }
}

TEST(EcmBlocks, ReceiverAssemblesFramesInAnyOrderAndAsksForTheMissingOnes) {
    const int frameSize = 64;
    std::vector<uint8_t> page(40 * frameSize - 10);
    std::mt19937 rng(7);
    for (uint8_t& b : page) b = uint8_t(rng());
    ecm::TEcmPageSplitter sender;
    sender.beginPage(frameSize);
    ASSERT_EQ(sender.append(page.data(), page.size()), page.size());
    sender.endPage();
    const int count = sender.frameCount();
    ASSERT_EQ(count, 40);

    ecm::TEcmBlockAssembler receiver;
    receiver.beginBlock(frameSize);
    std::vector<int> order(size_t(count), 0);
    for (int f = 0; f < count; ++f) order[size_t(f)] = f;
    std::shuffle(order.begin(), order.end(), rng);
    for (int f : order) {
        if (f == 3 || f == 17) continue;  // hit on the line
        const std::vector<uint8_t> fif = sender.fcdFif(f);
        EXPECT_TRUE(receiver.addFrame(fif.data(), fif.size()));
        if (f == 20) receiver.addFrame(fif.data(), fif.size());  // a frame twice
    }
    const ecm::TFrameMap missing = receiver.missing(count);
    EXPECT_EQ(missing.frames(), (std::vector<int>{3, 17}));
    EXPECT_FALSE(receiver.complete(count));
    // The PPR the receiver sends brings exactly those frames again.
    ecm::TFrameMap asked;
    const ecm::Content ppr = ecm::buildPpr(missing, false);
    ASSERT_TRUE(ecm::parsePpr(ppr.Fif.data(), ppr.Fif.size(), asked));
    for (int f : asked.frames()) {
        const std::vector<uint8_t> fif = sender.fcdFif(f);
        receiver.addFrame(fif.data(), fif.size());
    }
    EXPECT_TRUE(receiver.complete(count));
    std::vector<uint8_t> got;
    receiver.Data(count, got);
    ASSERT_EQ(got.size(), size_t(count * frameSize));
    EXPECT_EQ(std::vector<uint8_t>(got.begin(), got.begin() + long(page.size())), page);
}

TEST(EcmBlocks, ReceiverRefusesFramesThatCannotBelongAndFillsAGivenUpBlock) {
    ecm::TEcmBlockAssembler receiver;
    receiver.beginBlock(64);
    std::vector<uint8_t> tooLong(66, 0x55);
    tooLong[0] = 1;
    EXPECT_FALSE(receiver.addFrame(tooLong.data(), tooLong.size()));
    const uint8_t numberOnly[] = {2};
    EXPECT_FALSE(receiver.addFrame(numberOnly, sizeof numberOnly));
    std::vector<uint8_t> frame0(65, 0xAA);
    frame0[0] = 0;
    std::vector<uint8_t> frame2(11, 0xBB);  // a short frame is taken as it is
    frame2[0] = 2;
    ASSERT_TRUE(receiver.addFrame(frame0.data(), frame0.size()));
    ASSERT_TRUE(receiver.addFrame(frame2.data(), frame2.size()));
    EXPECT_EQ(receiver.missing(3).frames(), (std::vector<int>{1}));
    // After EOR the block is kept: frame 1 becomes zero octets (fill for the decoders).
    std::vector<uint8_t> data;
    receiver.Data(3, data);
    std::vector<uint8_t> expected(64, 0xAA);
    expected.insert(expected.end(), 64, 0x00);
    expected.insert(expected.end(), 10, 0xBB);
    EXPECT_EQ(data, expected);
    // A new block forgets the old frames.
    receiver.beginBlock(256);
    EXPECT_EQ(receiver.missing(2).count(), 2);
}
