// Protocol elements: T.30 frame contents, HDLC framing and DLE transparency, result lines,
// and the framework's rules (class parsing, header tokens, naming, history lines).
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "transport/fax/class1.h"
#include "transport/fax/faxsession.h"
#include "transport/fax/faxframework.h"
#include "transport/fax/hdlc.h"
#include "transport/fax/resultline.h"
#include "transport/fax/t30.h"

using namespace telvane::transport;

// The ID goes out last character first and the padding after it, as real machines send it:
// a receiver reversing the 20 bytes reads the blanks in front of the ID, not after it.
TEST(T30Frames, StationIdIsReversedThenPaddedAndReadBack) {
    const auto fif = t30::encodeId("+1 555 0100");
    ASSERT_EQ(fif.size(), 20u);
    EXPECT_EQ(fif[0], '0');   // the ID's last character first
    EXPECT_EQ(fif[10], '+');  // its first character right before the padding
    EXPECT_EQ(fif[11], ' ');  // padding last
    EXPECT_EQ(fif[19], ' ');
    const std::string asRead(fif.rbegin(), fif.rend());
    EXPECT_EQ(asRead, "         +1 555 0100");
    EXPECT_EQ(t30::decodeId(fif.data(), fif.size()), "+1 555 0100");
    EXPECT_EQ(t30::encodeId("123456789012345678901234").size(), 20u);
    EXPECT_EQ(t30::decodeId(fif.data(), 0), "");
    // Control bytes, DEL and C1 controls (0x9B = CSI) from the remote never pass through.
    auto hostile =
        t30::encodeId(std::string("A\x1b[2J\x9b"
                                  "31mB\x7f\x85"
                                  "C"));
    EXPECT_EQ(t30::decodeId(hostile.data(), hostile.size()), "A [2J 31mB  C");
    auto latin = t30::encodeId("M\xFCller");
    EXPECT_EQ(t30::decodeId(latin.data(), latin.size()), "M\xFCller");
}

TEST(T30Frames, DisBytesAndParsing) {
    EXPECT_EQ(t30::buildDISFif(6), (std::vector<uint8_t>{0x00, 0x6E, 0xF9, 0x00}));
    EXPECT_EQ(t30::buildDISFif(4), (std::vector<uint8_t>{0x00, 0x4E, 0xF9, 0x00}));
    EXPECT_EQ(t30::buildDISFif(1), (std::vector<uint8_t>{0x00, 0x42, 0xF9, 0x00}));
    EXPECT_EQ(t30::buildDISFif(0)[1], 0x4E);

    const uint8_t dis[] = {0x00, 0x6E, 0xF9 & ~0x70, 0x00};  // 14400, fine, scan bits 0x00
    const auto caps = t30::parseDIS(dis, sizeof dis);
    EXPECT_TRUE(caps.Fine);
    EXPECT_EQ(caps.ScanTimeCode, 5);
    EXPECT_EQ(t30::highestIndex(caps.Speeds), 6);
    EXPECT_TRUE(caps.Speeds & (1u << 3));  // 0x0C: 7200 and 9600
    EXPECT_TRUE(caps.Speeds & (1u << 5));  // V.17 (bits 11, 12, 14) includes 12000
    const uint8_t dis96[] = {0x00, 0x04, 0x71, 0x00};
    const auto c96 = t30::parseDIS(dis96, sizeof dis96);
    EXPECT_FALSE(c96.Fine);
    EXPECT_TRUE(c96.Wide);
    EXPECT_EQ(c96.ScanTimeCode, 0);
    EXPECT_EQ(t30::highestIndex(c96.Speeds), 4);
    EXPECT_TRUE(c96.Speeds & (1u << 3));  // V.29 alone: 9600 and 7200
    EXPECT_EQ(t30::parseDIS(dis, 1).Speeds, t30::kBaseSpeeds);
}

TEST(T30Frames, DcsBytesRoundTrip) {
    // 9600, fine, remote scan-time code 5 (20 ms both): scan byte 0x00 | 0x88.
    EXPECT_EQ(t30::buildDCSFif(4, true, false, 5), (std::vector<uint8_t>{0x00, 0x46, 0x88, 0x00}));
    EXPECT_EQ(t30::buildDCSFif(6, false, true, 0), (std::vector<uint8_t>{0x00, 0x22, 0xF9, 0x00}));
    EXPECT_EQ(t30::buildDCSFif(3, false, false, 4)[2], 0x88);
    EXPECT_EQ(t30::buildDCSFif(3, true, false, 4)[2], 0xA8);
    for (int speed = 1; speed <= 6; ++speed) {
        for (bool fine : {false, true}) {
            const auto fif = t30::buildDCSFif(speed, fine, !fine, 3);
            const auto p = t30::parseDCS(fif.data(), fif.size());
            EXPECT_EQ(p.SpeedIndex, speed);
            EXPECT_EQ(p.Fine, fine);
            EXPECT_EQ(p.Wide, !fine);
        }
    }
}

TEST(T30Frames, FcfRecognitionTakesEitherXBit) {
    EXPECT_EQ(t30::classify(0x80), t30::Frame::DIS);
    EXPECT_EQ(t30::classify(0x81), t30::Frame::DIS);
    EXPECT_EQ(t30::classify(0x42), t30::Frame::CSI);
    EXPECT_EQ(t30::classify(0x82), t30::Frame::DCS);
    EXPECT_EQ(t30::classify(0x85), t30::Frame::CFR);
    EXPECT_EQ(t30::classify(0x45), t30::Frame::FTT);
    EXPECT_EQ(t30::classify(0x8C), t30::Frame::MCF);
    EXPECT_EQ(t30::classify(0x4D), t30::Frame::RTN);
    EXPECT_EQ(t30::classify(0xCC), t30::Frame::RTP);
    EXPECT_EQ(t30::classify(0x4E), t30::Frame::MPS);
    EXPECT_EQ(t30::classify(0x8E), t30::Frame::EOM);
    EXPECT_EQ(t30::classify(0x2E), t30::Frame::EOP);
    EXPECT_EQ(t30::classify(0xFA), t30::Frame::DCN);
    // Responses too: a far end that sets the X bit in MCF or RTP is not misunderstood.
    EXPECT_EQ(t30::classify(0x8D), t30::Frame::MCF);
    EXPECT_EQ(t30::classify(0xCD), t30::Frame::RTP);
    EXPECT_EQ(t30::classify(0x8B), t30::Frame::Unknown);
}

TEST(T30Speeds, ModulationsChoiceAndStepDown) {
    const auto own = t30::parseModulations("24,48,72,73,74,96,97,98,121,122,145,146");
    EXPECT_EQ(t30::highestIndex(own), 6);
    EXPECT_EQ(t30::parseModulations("24,48"), t30::kBaseSpeeds);
    EXPECT_EQ(t30::parseModulations("24,48,96"), t30::kBaseSpeeds | (1u << 4));
    const t30::SpeedSet remote = t30::kBaseSpeeds | (1u << 3) | (1u << 4);
    EXPECT_EQ(t30::chooseSpeed(own, remote, 14400), 4);
    EXPECT_EQ(t30::chooseSpeed(own, own, 9600), 4);
    EXPECT_EQ(t30::chooseSpeed(own, own, 9999), 4);
    EXPECT_EQ(t30::chooseSpeed(own, own, 2000), 0);
    EXPECT_EQ(t30::stepDown(own, remote, 4), 3);
    EXPECT_EQ(t30::stepDown(own, remote, 3), 2);
    EXPECT_EQ(t30::stepDown(own, t30::kBaseSpeeds | (1u << 4), 4), 2);
    EXPECT_EQ(t30::stepDown(own, remote, 1), 0);
    EXPECT_STREQ(t30::longTrainCode(6), "145");
    EXPECT_STREQ(t30::shortTrainCode(6), "146");
    EXPECT_STREQ(t30::shortTrainCode(5), "122");
}

TEST(T30Speeds, ScanTimeAndMinimumBytes) {
    EXPECT_EQ(t30::minBytesPerLine(5, false, 9600), 24);  // 20 ms at 9600
    EXPECT_EQ(t30::minBytesPerLine(4, true, 9600), 12);   // 10 ms fine
    EXPECT_EQ(t30::minBytesPerLine(7, false, 14400), 72);
    EXPECT_EQ(t30::minBytesPerLine(0, false, 14400), 0);
    EXPECT_EQ(t30::minBytesPerLine(9, false, 14400), 0);
    EXPECT_EQ(tcfLength(9600), 1728u);
    EXPECT_EQ(tcfLength(14400), 2592u);
    EXPECT_EQ(tcfLength(999999), 8192u);
}

TEST(T30Training, FewerThanTenPercentNonZeroIsGood) {
    EXPECT_TRUE(tcfGood(1728, 172, 9600));
    EXPECT_FALSE(tcfGood(1730, 173, 9600));  // exactly 10 % fails
    EXPECT_FALSE(tcfGood(0, 0, 9600));
    EXPECT_TRUE(tcfGood(1728, 0, 9600));
    EXPECT_TRUE(tcfGood(tcfLength(14400), 0, 14400));
    EXPECT_TRUE(tcfGood(tcfLength(2400), 0, 2400));
}

// T.30 asks 1.5 s +/- 10 % of zeros: a short burst of zeros, or a TCF that runs on far longer
// than any sender makes it, is no proof that the line carries the speed.
TEST(T30Training, TcfMustHaveAboutTheExpectedLength) {
    EXPECT_FALSE(tcfGood(100, 0, 9600));    // 83 ms of zeros
    EXPECT_FALSE(tcfGood(1400, 0, 9600));   // 1.17 s
    EXPECT_TRUE(tcfGood(1500, 0, 9600));    // 1.25 s
    EXPECT_TRUE(tcfGood(1800, 0, 9600));    // 1.5 s exactly
    EXPECT_TRUE(tcfGood(2300, 0, 9600));    // 1.92 s
    EXPECT_FALSE(tcfGood(2500, 0, 9600));   // 2.08 s
    EXPECT_FALSE(tcfGood(1728, 0, 14400));  // 9600's length is too short at 14400
}

TEST(Hdlc, FrameBytesAndDleDoubling) {
    const auto f = hdlc::buildFrame(0x83, {0x10, 0x02}, true);
    EXPECT_EQ(f, (std::vector<uint8_t>{0xFF, 0x13, 0x83, 0x10, 0x10, 0x02, 0x10, 0x03}));
    EXPECT_EQ(hdlc::buildFrame(0x43, {}, false)[1], 0x03);

    std::vector<uint8_t> line = {0x00, 0x80, 0x10, 0x05};
    std::vector<uint8_t> out;
    appendPaddedLine(line.data(), line.size(), 8, out);
    EXPECT_EQ(out, (std::vector<uint8_t>{0x00, 0x80, 0x10, 0x10, 0x05, 0, 0, 0, 0}));
}

TEST(Hdlc, DecoderUndoublesAndStopsAtDleEtx) {
    const std::vector<uint8_t> in = {0xFF, 0x13, 0x10, 0x10, 0x80, 0x10, 0x03, 'O', 'K'};
    hdlc::TDleDecoder d;
    const size_t used = d.feed(in.data(), in.size());
    EXPECT_EQ(used, 7u);
    ASSERT_TRUE(d.done());
    EXPECT_EQ(d.Data(), (std::vector<uint8_t>{0xFF, 0x13, 0x10, 0x80}));
    EXPECT_EQ(d.nonZero(), 4u);

    // Split anywhere, including between DLE and its partner.
    hdlc::TDleDecoder d2;
    for (uint8_t b : in) {
        if (d2.done()) break;
        d2.feed(&b, 1);
    }
    EXPECT_EQ(d2.Data(), d.Data());

    hdlc::TDleDecoder small(2);
    const std::vector<uint8_t> big = {1, 2, 3, 4, 0x10, 0x03};
    small.feed(big.data(), big.size());
    EXPECT_TRUE(small.overflow());
    EXPECT_EQ(small.Data().size(), 2u);
    EXPECT_EQ(small.count(), 4u);

    hdlc::TFrame frame;
    EXPECT_FALSE(hdlc::parseFrame({0xFF, 0x13}, frame));
    ASSERT_TRUE(hdlc::parseFrame(d.Data(), frame));
    EXPECT_TRUE(frame.isFinal());
    EXPECT_EQ(frame.Fcf, 0x10);
}

// Frames at a page speed are framed by us: the V.41 check value ("123456789" gives 0x906E,
// the CRC-16 of X.25/HDLC), a flag as 0111 1110, a 0 after every five 1 bits inside a frame so
// that no flag appears there, and the decoder finding the frame at any bit position after idle
// 1 bits, while a turned-over bit makes the frame count as bad instead of being handed on.
TEST(Hdlc, BitFramingOfFramesSentAsPageData) {
    const std::string check = "123456789";
    EXPECT_EQ(hdlc::frameCheck(reinterpret_cast<const uint8_t*>(check.data()), check.size()), 0x906E);

    hdlc::THdlcEncoder flagsOnly;
    flagsOnly.addFlags(2);
    EXPECT_EQ(flagsOnly.bytes(), (std::vector<uint8_t>{0x7E, 0x7E}));

    const std::vector<uint8_t> body{0xFF, 0x03, 0x06, 0x7E, 0xFF, 0xFF, 0x1F, 0x10, 0x00};
    hdlc::THdlcEncoder enc;
    enc.addFlags(1);
    enc.addFrame(body);
    const std::vector<uint8_t> stream = enc.bytes();
    // The first flag, then the frame's bits: 0xFF stuffed is 11111 0 111.
    ASSERT_GE(stream.size(), 3u);
    EXPECT_EQ(stream[0], 0x7E);
    EXPECT_EQ(stream[1], 0xDF);  // bits 1111 1011 in transmission order
    int run = 0, longest = 0;
    for (size_t i = 1; i < stream.size(); ++i)
        for (int b = 0; b < 8; ++b) {
            run = ((stream[i] >> b) & 1) ? run + 1 : 0;
            if (i * 8 + static_cast<size_t>(b) < stream.size() * 8 - 16) longest = std::max(longest, run);
        }
    EXPECT_LE(longest, 6);  // inside the frame at most five; six only in its closing flag

    for (int shift = 0; shift < 8; ++shift) {
        // `shift` idle 1 bits ahead of the stream.
        std::vector<uint8_t> shifted(stream.size() + 1, 0xFF);
        for (size_t i = 0; i < stream.size() * 8; ++i) {
            const size_t at = i + static_cast<size_t>(shift);
            if (!((stream[i / 8] >> (i % 8)) & 1))
                shifted[at / 8] = static_cast<uint8_t>(shifted[at / 8] & ~(1u << (at % 8)));
        }
        hdlc::THdlcDecoder dec;
        std::vector<std::vector<uint8_t>> frames;
        dec.feed(shifted.data(), shifted.size(), frames);
        ASSERT_EQ(frames.size(), 1u) << "shift " << shift;
        EXPECT_EQ(frames[0], body);
        EXPECT_EQ(dec.badFrames(), 0);
    }
    std::vector<uint8_t> spoilt = stream;
    spoilt[3] ^= 0x04;
    hdlc::THdlcDecoder dec;
    std::vector<std::vector<uint8_t>> frames;
    dec.feed(spoilt.data(), spoilt.size(), frames);
    EXPECT_TRUE(frames.empty());
    EXPECT_EQ(dec.badFrames(), 1);
}

TEST(ResultLines, MatchingBySubstring) {
    EXPECT_EQ(classifyResult("OK"), TResult::Ok);
    EXPECT_EQ(classifyResult("CONNECT 14400"), TResult::Connect);
    EXPECT_EQ(classifyResult("NO CARRIER"), TResult::NoCarrier);
    EXPECT_EQ(classifyResult("NO ANSWER"), TResult::NoAnswer);
    EXPECT_EQ(classifyResult("BUSY"), TResult::Busy);
    EXPECT_EQ(classifyResult("VCON"), TResult::Voice);
    EXPECT_EQ(classifyResult("NO DIALTONE"), TResult::NoDialTone);
    EXPECT_EQ(classifyResult("RING"), TResult::Ring);
    EXPECT_EQ(classifyResult("+FCERROR"), TResult::Error);
    EXPECT_EQ(classifyResult("NO CARRIER", true), TResult::NoCarrier);
    EXPECT_EQ(classifyResult("NO C", true), TResult::NoCarrier);
    EXPECT_EQ(classifyResult("0,1,1.0"), TResult::None);
}

TEST(ResultLines, CollectorIgnoresControlsAndBoundsLength) {
    TResultLineCollector c;
    std::vector<std::string> got;
    for (char ch : std::string("\r\nOK\r\n\r\n\x01"
                               "CON\x7fNECT\r"))
        if (c.put(static_cast<uint8_t>(ch))) got.push_back(c.line());
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0], "OK");
    EXPECT_EQ(got[1], "CON\x7fNECT");

    std::string longLine(5000, 'A');
    longLine += "OK\r";
    std::string last;
    for (char ch : longLine)
        if (c.put(static_cast<uint8_t>(ch))) last = c.line();
    EXPECT_EQ(last.size(), TResultLineCollector::kMaxLine);
    EXPECT_EQ(classifyResult(last), TResult::None);  // the cut-off "OK" does not count
    for (char ch : std::string("OK\r"))
        if (c.put(static_cast<uint8_t>(ch))) last = c.line();
    EXPECT_EQ(last, "OK");
}

TEST(Framework, FaxClassesFromReply) {
    EXPECT_EQ(parseFaxClasses("0,1,1.0"), faxClassBit(fcClass1));
    EXPECT_EQ(parseFaxClasses("0,1,2,2.0"), faxClassBit(fcClass1) | faxClassBit(fcClass2) | faxClassBit(fcClass2_0));
    EXPECT_EQ(parseFaxClasses("0,2.0"), faxClassBit(fcClass2_0));
    EXPECT_EQ(parseFaxClasses("0,2"), faxClassBit(fcClass2));
    EXPECT_EQ(bestFaxClass(parseFaxClasses("0,1,2")), fcClass2);
    EXPECT_EQ(bestFaxClass(0), fcUnknown);
}

TEST(Framework, TimeDigitsAndStoredStrings) {
    EXPECT_EQ(secondsToTicks(60), 1092);
    EXPECT_EQ(ticksToSeconds(1092), 60);
    EXPECT_EQ(ticksToSeconds(secondsToTicks(1)), 1);
    EXPECT_EQ(bitRateDigit(9600), '3');
    EXPECT_EQ(bitRateDigit(9601), '3');
    EXPECT_EQ(bitRateDigit(14400), '5');
    EXPECT_EQ(bitRateDigit(2400), '0');
    EXPECT_EQ(defaultInitString(true, false), "ATE0Q0V1X4S0=0S2=43");
    EXPECT_EQ(defaultInitString(false, true), "ATE0Q0V1X1S0=0S2=43");
    EXPECT_EQ(defaultInitString(false, false), "ATE0Q0V1X2S0=0S2=43");
    EXPECT_EQ(defaultInitString(true, true), "ATE0Q0V1X3S0=0S2=43");
    EXPECT_EQ(normaliseModemInit("&fe0"), "AT&FE0");
    EXPECT_EQ(normaliseModemInit("at&f"), "AT&F");
    EXPECT_EQ(normaliseModemInit(std::string(60, 'x')).size(), 42u);
    EXPECT_EQ(normaliseDestinationDir("/tmp/in"), "/tmp/in/");
    EXPECT_EQ(normaliseDestinationDir("\"/tmp/in\""), "\"/tmp/in/\"");
    EXPECT_EQ(normaliseDestinationDir(""), "");
}

TEST(Framework, HeaderTokens) {
    THeaderValues v;
    v.Page = 3;
    v.TotalPages = 4;
    v.Sender = "Ann";
    v.StationID = "555";
    EXPECT_EQ(substituteHeader("Page $P of $N from $f", v), "Page 3 of 4 from Ann");
    EXPECT_EQ(substituteHeader("A $Xyz B", v), "A  B");
    EXPECT_EQ(substituteHeader("id:$Iabc end$", v), "id:555 end");
}

TEST(Framework, ReceivedFileNames) {
    const auto dir = std::filesystem::temp_directory_path() / ("faxnames-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    const std::string d = dir.string() + "/";
    std::tm tm{};
    tm.tm_year = 126;
    tm.tm_mon = 11;
    tm.tm_mday = 8;
    tm.tm_hour = 12;
    const std::time_t dec8 = std::mktime(&tm);
    EXPECT_EQ(nextReceiveFileName(d, fnCount, "OVF", dec8), d + "FAX0001.OVF");
    std::ofstream(d + "FAX0001.OVF") << "x";
    std::ofstream(d + "fax0002.ovf") << "x";
    EXPECT_EQ(nextReceiveFileName(d, fnCount, "OVF", dec8), d + "FAX0003.OVF");
    EXPECT_EQ(nextReceiveFileName(d, fnMonthDay, "OVF", dec8), d + "12080001.OVF");
    EXPECT_EQ(nextReceiveFileName(d, 7, "OVF", dec8), d + "noname.ovf");
    // With every counter name taken NONAME.OVF is next, then numbered NONAME names: a new fax
    // never gets the name of an existing file.
    for (int n = 3; n <= 9999; ++n) {
        char name[16];
        std::snprintf(name, sizeof name, "FAX%04d.OVF", n);
        std::ofstream(d + name) << "x";
    }
    EXPECT_EQ(nextReceiveFileName(d, fnCount, "OVF", dec8), d + "NONAME.OVF");
    std::ofstream(d + "noname.ovf") << "x";
    EXPECT_EQ(nextReceiveFileName(d, fnCount, "OVF", dec8), d + "NONAME1.OVF");
    EXPECT_EQ(nextReceiveFileName(d, 7, "OVF", dec8), d + "noname1.ovf");
    std::filesystem::remove_all(dir);
}

TEST(Framework, ReceivedFileIsCreatedUnderAFreeNameAndNeverReplacesOne) {
    const auto dir = std::filesystem::temp_directory_path() / ("faxcreate-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    const std::string d = dir.string() + "/";
    std::ofstream(d + "FAX0001.OVF") << "first";
    TOvxReceiveFax fax;
    fax.setDestinationDir(d);
    // A handler naming an existing file (or a file that appeared since the scan) gets the next
    // free name instead.
    fax.OnFaxName = [&](TOvxAbstractFax&, std::string& name) { name = d + "FAX0001.OVF"; };
    telvane::faximage::OvfWriter w;
    std::string name;
    ASSERT_EQ(fax.CreateFaxFile(w, "REMOTE", name), 0);
    EXPECT_EQ(name, d + "FAX0002.OVF");
    w.close();
    std::ifstream in(d + "FAX0001.OVF");
    std::string kept;
    in >> kept;
    EXPECT_EQ(kept, "first");
    EXPECT_EQ(std::filesystem::status(name).permissions() & std::filesystem::perms::all,
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    fax.OnFaxName = nullptr;
    ASSERT_EQ(fax.CreateFaxFile(w, "REMOTE", name), 0);
    EXPECT_EQ(name, d + "FAX0003.OVF");
    w.abandon();
    std::filesystem::remove_all(dir);
}

TEST(Framework, historyLines) {
    THistoryInfo i;
    i.File = "a.ovf";
    i.Phone = "123";
    i.remoteID = "REMOTE";
    i.DateTime = "12/08/26 10:00:00";
    i.ErrorText = "Called fax number was busy";
    i.hangupCode = "";
    EXPECT_EQ(historyLines(1, i), "Transmit a.ovf to 123 started at 12/08/26 10:00:00\r\n");
    EXPECT_EQ(historyLines(2, i), "Transmit to REMOTE finished OK at 12/08/26 10:00:00 \r\n\r\n");
    EXPECT_EQ(historyLines(3, i), "Transmit failed at 12/08/26 10:00:00\r\n  (Called fax number was busy) \r\n\r\n");
    EXPECT_EQ(historyLines(4, i), "Receive a.ovf from REMOTE started at 12/08/26 10:00:00\r\n");
    EXPECT_EQ(historyLines(5, i), "Receive finished OK at 12/08/26 10:00:00\r\n\r\n");
    EXPECT_EQ(historyLines(6, i), "Receive skipped at 12/08/26 10:00:00\r\n\r\n");
    EXPECT_EQ(historyLines(7, i), "Receive failed at 12/08/26 10:00:00\r\n  (Called fax number was busy)\r\n\r\n");
    i.Pages = 2;
    EXPECT_EQ(historyLines(8, i),
              "Receive incomplete at 12/08/26 10:00:00, 2 pages kept\r\n  (Called fax number was busy)\r\n\r\n");
    EXPECT_EQ(historyLines(9, i), "");
}

// Whatever class reported it, a remote station's ID never carries control bytes to logs and windows.
TEST(RemoteStation, ControlBytesOfTheIdBecomeBlanks) {
    telvane::transport::TOvxReceiveFax fax;
    fax.setRemoteID(std::string("AB\x1b[2J\x9b") + "C\x7f" + "D" + std::string(30, 'x'));
    EXPECT_EQ(fax.remoteID(), "AB [2J C D" + std::string(10, 'x'));
}
