// The Class 1 send and receive machines against a scripted modem with a fake clock: the
// protocol's edge cases that a real line cannot produce on demand.
#include <gtest/gtest.h>

#include "support/tempdir.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>

#include "transport/fax/class1.h"
#include "fakemodem.h"
#include "rawt4.h"
#include "transport/fax/faxsession.h"
#include "errors/errors.h"
#include "transport/eventsink.h"
#include "faximage/ovffile.h"
#include "faximage/mhcoder.h"
#include "faximage/mhdecoder.h"
#include "faximage/mrcoder.h"
#include "faximage/mrdecoder.h"
#include "transport/fax/ecmblock.h"
#include "faximage/raster.h"

using namespace telvane;
using namespace telvane::transport;
using faxtest::FakeModem;

namespace {

using faxtest::codedLineBits;
using faxtest::kBlank;
using faxtest::kEnd;
using faxtest::makeFaxFile;
using faxtest::makeRawFaxFile;
constexpr uint16_t kFaxFine = telvane::faximage::FAX_FINE;

using Dir = telvane::test::TempDir;

struct Events {
    std::vector<int> Logs, Errors, Finishes;
    int StatusFirst = 0, StatusLast = 0;
    void attach(TOvxCustomAbstractFax& fax) {
        fax.OnFaxLog = [this](TOvxAbstractFax&, int c) { Logs.push_back(c); };
        fax.OnFaxError = [this](TOvxAbstractFax&, int c) { Errors.push_back(c); };
        fax.OnFaxFinish = [this](TOvxAbstractFax&, int c) { Finishes.push_back(c); };
        fax.OnFaxStatus = [this](TOvxAbstractFax&, bool f, bool l) {
            StatusFirst += f;
            StatusLast += l;
        };
    }
};

struct SendRig {
    Dir dir;
    FakeModem modem;
    TOvxSendFax fax;
    TOvxFaxLog history;
    Events events;
    explicit SendRig(std::vector<uint16_t> pages = {0}, int lines = 20) {
        makeFaxFile(dir / "doc.ovf", pages, lines);
        fax.SetFaxFile(dir / "doc.ovf");
        fax.PhoneNumber = "5550100";
        fax.setStationID("OUR STATION");
        fax.DesiredBPS = 14400;
        fax.setDialRetryWait(5);
        history.FaxHistoryName = dir / "OVEXFAX.HIS";
        fax.FaxLog = &history;
        fax.useLinkForTesting(&modem);
        events.attach(fax);
    }
    void run() {
        fax.StartSend();
        faxtest::drive(fax, modem);
    }
    std::vector<t30::DcsParams> dcs() const {
        std::vector<t30::DcsParams> v;
        for (const auto& f : modem.SentFrames)
            if (f.Fcf == t30::fcfDCS) v.push_back(t30::parseDCS(f.Fif.data(), f.Fif.size()));
        return v;
    }
};

void remoteAnswers(FakeModem& m, bool fine, int highest, std::vector<faxtest::RxFrame> after, uint8_t scan = 0x70) {
    m.Frames.push_back(FakeModem::ident(t30::fcfCSI, "FAR END"));
    m.Frames.push_back(FakeModem::dis(fine, highest, scan));
    for (auto& f : after) m.Frames.push_back(f);
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

}  // namespace

TEST(Class1Send, OnePageCallRunsThePhasesInOrder) {
    SendRig rig;
    remoteAnswers(rig.modem, true, 6, {FakeModem::frame(t30::fcfCFR), FakeModem::frame(t30::fcfMCF)});
    rig.run();

    EXPECT_FALSE(rig.fax.inProgress());
    EXPECT_EQ(rig.events.Finishes, std::vector<int>{0});
    EXPECT_TRUE(rig.events.Errors.empty());
    EXPECT_EQ(rig.events.Logs, (std::vector<int>{1, 2}));
    EXPECT_EQ(rig.events.StatusFirst, 1);
    EXPECT_EQ(rig.events.StatusLast, 1);
    EXPECT_EQ(rig.fax.remoteID(), "FAR END");
    EXPECT_EQ(rig.modem.countCommand("ATDT5550100"), 1u);
    EXPECT_EQ(rig.modem.countCommand("ATE0Q0V1X4S0=0S2=43"), 1u);
    ASSERT_EQ(rig.modem.fcfs(), (std::vector<uint8_t>{t30::fcfTSI, t30::fcfDCS, t30::fcfEOP, t30::fcfDCN}));
    EXPECT_EQ(rig.modem.SentFrames[0].Control, t30::ctlNotFinal);
    EXPECT_EQ(rig.modem.SentFrames[1].Control, t30::ctlFinal);
    EXPECT_EQ(t30::decodeId(rig.modem.SentFrames[0].Fif.data(), 20), "OUR STATION");
    EXPECT_EQ(rig.dcs().at(0).SpeedIndex, 6);
    EXPECT_EQ(rig.fax.connectBPS(), 14400);
    EXPECT_FALSE(rig.fax.highResolution());
    EXPECT_EQ(rig.fax.pageWidth(), 1728);
    EXPECT_FALSE(rig.fax.errorControl());
    EXPECT_EQ(rig.modem.countCommand("AT+FTM=145"), 1u);  // training
    EXPECT_EQ(rig.modem.countCommand("AT+FTM=146"), 1u);  // page
    ASSERT_EQ(rig.modem.TxData.size(), 2u);
    EXPECT_EQ(rig.modem.TxData[0].size(), 2592u);
    EXPECT_TRUE(std::all_of(rig.modem.TxData[0].begin(), rig.modem.TxData[0].end(), [](uint8_t b) { return b == 0; }));
    EXPECT_EQ(rig.modem.TxData[1].size(), 20u * 6 + 12);  // no scan-time padding at code 0
    EXPECT_EQ(rig.modem.countCommand("ATH"), 1u);

    const auto& states = rig.modem.States;
    auto pos = [&](const char* s) { return std::find(states.begin(), states.end(), s) - states.begin(); };
    EXPECT_LT(pos("tfDial"), pos("tf1Connect"));
    EXPECT_LT(pos("tf1Connect"), pos("tf1TrainStrt"));
    EXPECT_LT(pos("tf1WaitCFR"), pos("tfSendPage"));
    EXPECT_LT(pos("tfSendPage"), pos("tf1WaitMCF"));
    EXPECT_LT(pos("tf1WaitMCF"), pos("tfClose"));
    EXPECT_EQ(states.back(), "tfDone");

    const std::string his = readFile(rig.dir / "OVEXFAX.HIS");
    EXPECT_NE(his.find("Transmit " + (rig.dir / "doc.ovf") + " to 5550100 started at "), std::string::npos);
    EXPECT_NE(his.find("Transmit to FAR END finished OK at "), std::string::npos);
}

TEST(Class1Send, FinePageToRemoteWithoutFineFailsBeforeTraining) {
    SendRig rig({kFaxFine});
    remoteAnswers(rig.modem, false, 6, {});
    rig.run();
    EXPECT_EQ(rig.events.Finishes, std::vector<int>{errors::ecFaxIncompatible});
    EXPECT_EQ(rig.events.Errors, std::vector<int>{errors::ecFaxIncompatible});
    EXPECT_EQ(rig.modem.countCommand("AT+FTM=1"), 0u);
    EXPECT_EQ(rig.modem.countCommand("AT+FTM=9"), 0u);
    EXPECT_TRUE(rig.modem.SentFrames.empty());
    EXPECT_EQ(rig.events.Logs, (std::vector<int>{1, 3}));
}

TEST(Class1Send, NinetySixHundredTrainingAndLinePadding) {
    SendRig rig({0}, 10);
    rig.fax.DesiredBPS = 9600;
    // Scan bits 0x00: minimum scan time code 5, 20 ms at standard resolution.
    remoteAnswers(rig.modem, true, 6, {FakeModem::frame(t30::fcfCFR), FakeModem::frame(t30::fcfMCF)}, 0x00);
    rig.run();
    ASSERT_EQ(rig.events.Finishes, std::vector<int>{0});
    ASSERT_EQ(rig.modem.TxData.size(), 2u);
    EXPECT_EQ(rig.modem.TxData[0].size(), 1728u);
    EXPECT_EQ(rig.dcs().at(0).SpeedIndex, 4);
    EXPECT_EQ(rig.modem.SentFrames[1].Fif[2], 0x88);  // scan byte of code 5 | 0x88
    // Ten 6-byte lines and the 12-byte page end, each padded to 24 bytes.
    EXPECT_EQ(rig.modem.TxData[1].size(), 11u * 24);
    EXPECT_EQ(rig.modem.countCommand("AT+FTM=96"), 2u);
}

TEST(Class1Send, TwoFttsStepDownTheSpeed) {
    SendRig rig;
    rig.fax.DesiredBPS = 9600;
    remoteAnswers(rig.modem, true, 4,
                  {FakeModem::frame(t30::fcfFTT), FakeModem::frame(t30::fcfFTT), FakeModem::frame(t30::fcfCFR),
                   FakeModem::frame(t30::fcfMCF)});
    rig.run();
    ASSERT_EQ(rig.events.Finishes, std::vector<int>{0});
    const auto dcs = rig.dcs();
    ASSERT_EQ(dcs.size(), 3u);
    EXPECT_EQ(dcs[0].SpeedIndex, 4);
    EXPECT_EQ(dcs[1].SpeedIndex, 3);
    EXPECT_EQ(dcs[2].SpeedIndex, 2);
    EXPECT_EQ(rig.modem.TxData.at(2).size(), 4800u / 100 * 18);
    EXPECT_EQ(rig.fax.connectBPS(), 4800);
    const auto fcfs = rig.modem.fcfs();
    EXPECT_EQ(std::count(fcfs.begin(), fcfs.end(), t30::fcfTSI), 1);
}

TEST(Class1Send, TrainingFailsWhenNoLowerSpeedIsLeft) {
    SendRig rig;
    rig.fax.DesiredBPS = 2400;
    remoteAnswers(rig.modem, true, 4, {FakeModem::frame(t30::fcfFTT)});
    rig.run();
    EXPECT_EQ(rig.events.Finishes, std::vector<int>{errors::ecFaxTrainError});
}

// RTN: T.30 has the sender train again and send the same page again. A page refused three
// times ends the call with a mid-session failure.
TEST(Class1Send, PageRefusedThreeTimesEndsTheCallWithMidSessionFailure) {
    SendRig rig;
    remoteAnswers(rig.modem, true, 6,
                  {FakeModem::frame(t30::fcfCFR), FakeModem::frame(0x4D), FakeModem::frame(t30::fcfCFR),
                   FakeModem::frame(0x4D), FakeModem::frame(t30::fcfCFR), FakeModem::frame(0x4D)});
    rig.run();
    EXPECT_EQ(rig.events.Finishes, std::vector<int>{errors::ecFaxSessionError});
    EXPECT_EQ(rig.events.Errors, std::vector<int>{errors::ecFaxSessionError});
    EXPECT_EQ(rig.modem.TxData.size(), 6u);  // three trainings, three times the page
    EXPECT_EQ(rig.fax.pagesConfirmed(), 0);
    const std::string his = readFile(rig.dir / "OVEXFAX.HIS");
    EXPECT_NE(his.find("  (Fax failed in mid-session)"), std::string::npos);
}

// RTN once: trained again (DCS, TCF) and the page sent again, confirmed once. RTP: the page
// counts as arrived; the line is trained again before the next page.
TEST(Class1Send, RtnResendsThePageAndRtpRetrainsBeforeTheNext) {
    {
        SendRig rig;
        remoteAnswers(rig.modem, true, 6,
                      {FakeModem::frame(t30::fcfCFR), FakeModem::frame(t30::fcfRTN), FakeModem::frame(t30::fcfCFR),
                       FakeModem::frame(t30::fcfMCF)});
        rig.run();
        EXPECT_EQ(rig.events.Finishes, std::vector<int>{0});
        EXPECT_EQ(rig.modem.TxData.size(), 4u);  // two trainings, the page twice
        EXPECT_EQ(rig.fax.pagesConfirmed(), 1);
        const auto fcfs = rig.modem.fcfs();
        EXPECT_EQ(std::count(fcfs.begin(), fcfs.end(), t30::fcfDCS), 2);
        EXPECT_EQ(std::count(fcfs.begin(), fcfs.end(), t30::fcfEOP), 2);
    }
    {
        SendRig rig({0, 0});
        remoteAnswers(rig.modem, true, 6,
                      {FakeModem::frame(t30::fcfCFR), FakeModem::frame(t30::fcfRTP), FakeModem::frame(t30::fcfCFR),
                       FakeModem::frame(t30::fcfMCF)});
        rig.run();
        EXPECT_EQ(rig.events.Finishes, std::vector<int>{0});
        EXPECT_EQ(rig.modem.TxData.size(), 4u);  // training, page 1, training, page 2
        EXPECT_EQ(rig.fax.pagesConfirmed(), 2);
        EXPECT_EQ(rig.modem.fcfs(),
                  (std::vector<uint8_t>{t30::fcfTSI, t30::fcfDCS, t30::fcfMPS, t30::fcfDCS, t30::fcfEOP, t30::fcfDCN}));
    }
}

// RTN, and the far end will not take the page again: it answers the new DCS with DCN, or never
// answers it. The fax fails on the refused page (-8069), not as a cancel or a time-out.
TEST(Class1Send, RetrainingRefusedAfterRtnFailsOnThePage) {
    const std::vector<faxtest::RxFrame> refusals[] = {
        {FakeModem::frame(t30::fcfDCN)},
        {FakeModem::silence(), FakeModem::silence(), FakeModem::silence(), FakeModem::silence()}};
    for (const auto& refusal : refusals) {
        SCOPED_TRACE(refusal.size() == 1 ? "DCN" : "silence");
        SendRig rig;
        std::vector<faxtest::RxFrame> answers{FakeModem::frame(t30::fcfCFR), FakeModem::frame(t30::fcfRTN)};
        answers.insert(answers.end(), refusal.begin(), refusal.end());
        remoteAnswers(rig.modem, true, 6, answers);
        rig.run();
        EXPECT_EQ(rig.events.Finishes, std::vector<int>{errors::ecFaxSessionError});
        EXPECT_EQ(rig.fax.pagesConfirmed(), 0);
    }
}

TEST(Class1Send, UnansweredPostPageFrameIsRepeatedThreeTimes) {
    SendRig rig;
    remoteAnswers(rig.modem, true, 6,
                  {FakeModem::frame(t30::fcfCFR), FakeModem::silence(), FakeModem::silence(), FakeModem::silence(),
                   FakeModem::silence()});
    rig.run();
    EXPECT_EQ(rig.events.Finishes, std::vector<int>{errors::ecFatalTimeout});
    const auto fcfs = rig.modem.fcfs();
    EXPECT_EQ(std::count(fcfs.begin(), fcfs.end(), t30::fcfEOP), 4);
    EXPECT_NE(std::find(rig.modem.States.begin(), rig.modem.States.end(), "tf1WaitEOP"), rig.modem.States.end());
}

TEST(Class1Send, RepeatedPostPageFrameThatIsAnsweredSucceeds) {
    SendRig rig({0, 0});
    remoteAnswers(rig.modem, true, 6,
                  {FakeModem::frame(t30::fcfCFR), FakeModem::silence(), FakeModem::frame(t30::fcfMCF),
                   FakeModem::frame(t30::fcfMCF)});
    rig.run();
    EXPECT_EQ(rig.events.Finishes, std::vector<int>{0});
    EXPECT_EQ(rig.modem.fcfs(),
              (std::vector<uint8_t>{t30::fcfTSI, t30::fcfDCS, t30::fcfMPS, t30::fcfMPS, t30::fcfEOP, t30::fcfDCN}));
    EXPECT_EQ(rig.fax.currentPage(), 2);
}

TEST(Class1Send, ResolutionChangeReturnsToPhaseB) {
    SendRig rig({0, kFaxFine});
    remoteAnswers(
        rig.modem, true, 6,
        {FakeModem::frame(t30::fcfCFR), FakeModem::frame(t30::fcfMCF), FakeModem::ident(t30::fcfCSI, "FAR END"),
         FakeModem::dis(true, 6), FakeModem::frame(t30::fcfCFR), FakeModem::frame(t30::fcfMCF)});
    rig.run();
    ASSERT_EQ(rig.events.Finishes, std::vector<int>{0});
    const auto fcfs = rig.modem.fcfs();
    EXPECT_EQ(std::count(fcfs.begin(), fcfs.end(), t30::fcfEOM), 1);
    const auto dcs = rig.dcs();
    ASSERT_EQ(dcs.size(), 2u);
    EXPECT_FALSE(dcs[0].Fine);
    EXPECT_TRUE(dcs[1].Fine);
    EXPECT_TRUE(rig.fax.highResolution());
}

TEST(Class1Send, BusyNumberIsDialledDialAttemptsTimes) {
    SendRig rig;
    rig.modem.DialResult = "BUSY";
    rig.fax.DialAttempts = 3;
    rig.run();
    EXPECT_EQ(rig.modem.countCommand("ATD"), 3u);
    EXPECT_EQ(rig.events.Finishes, std::vector<int>{errors::ecFaxBusy});
    EXPECT_EQ(rig.events.Errors, std::vector<int>{errors::ecFaxBusy});
    EXPECT_EQ(rig.events.Logs, (std::vector<int>{1, 3}));
    EXPECT_GE(rig.modem.Now, 2 * 5 * 1000 - 200);  // two retry waits of 5 s
}

TEST(Class1Send, DialResults) {
    // Nobody answering (no result within the dial wait, NO ANSWER, or NO CARRIER as most modems
    // say then) is "did not answer", not "busy".
    const std::pair<const char*, int> cases[] = {{"", errors::ecFaxNoAnswer},
                                                 {"NO CARRIER", errors::ecFaxNoAnswer},
                                                 {"NO DIALTONE", errors::ecFaxNoDialTone},
                                                 {"VOICE", errors::ecFaxVoiceCall},
                                                 {"NO ANSWER", errors::ecFaxNoAnswer},
                                                 {"BUSY", errors::ecFaxBusy}};
    for (const auto& [reply, code] : cases) {
        SendRig rig;
        rig.modem.DialResult = reply;
        rig.fax.DialAttempts = 1;
        rig.run();
        EXPECT_EQ(rig.events.Finishes, std::vector<int>{code}) << reply;
    }
}

TEST(Class1Send, GarbageAndOverlongLinesAreIgnored) {
    SendRig rig;
    rig.modem.Garbage = {"\x01\x02zzz\x7f", std::string(3000, 'Q')};
    remoteAnswers(rig.modem, true, 6, {FakeModem::frame(t30::fcfCFR), FakeModem::frame(t30::fcfMCF)});
    rig.run();
    EXPECT_EQ(rig.events.Finishes, std::vector<int>{0});
}

TEST(Class1Send, ModemVanishingMidPageEndsTheSession) {
    SendRig rig({0}, 200);
    rig.modem.DieAfterPageBytes = 300;
    remoteAnswers(rig.modem, true, 6, {FakeModem::frame(t30::fcfCFR), FakeModem::frame(t30::fcfMCF)});
    rig.run();
    EXPECT_FALSE(rig.fax.inProgress());
    ASSERT_EQ(rig.events.Finishes.size(), 1u);
    EXPECT_LT(rig.events.Finishes[0], 0);
    EXPECT_EQ(rig.events.Errors, rig.events.Finishes);
}

TEST(Class1Send, CancelMidPage) {
    SendRig rig({0}, 200);
    rig.modem.OnPageData = [&] { rig.fax.CancelSession(); };
    remoteAnswers(rig.modem, true, 6, {FakeModem::frame(t30::fcfCFR), FakeModem::frame(t30::fcfMCF)});
    rig.run();
    EXPECT_EQ(rig.events.Finishes, std::vector<int>{errors::ecCancelRequested});
    EXPECT_EQ(rig.fax.faxProgress(), fpCancel);
    EXPECT_EQ(rig.events.Logs, (std::vector<int>{1, 3}));
}

TEST(Class1Send, NextFaxHandlerAndContinueAfterError) {
    SendRig rig;
    makeFaxFile(rig.dir / "two.ovf", {0}, 5);
    std::vector<std::string> numbers = {"111", "222"};
    size_t next = 0;
    rig.fax.OnFaxNext = [&](TOvxAbstractFax&, std::string& n, std::string& f, std::string& c) {
        if (next < numbers.size()) {
            n = numbers[next++];
            f = rig.dir / "two.ovf";
        }
        c.clear();
    };
    rig.modem.DialResult = "BUSY";
    rig.fax.DialAttempts = 1;
    rig.run();
    EXPECT_EQ(rig.modem.countCommand("ATDT111"), 1u);
    EXPECT_EQ(rig.modem.countCommand("ATDT222"), 1u);
    EXPECT_EQ(rig.events.Logs, (std::vector<int>{1, 3, 1, 3}));
    EXPECT_EQ(rig.events.Finishes, std::vector<int>{errors::ecFaxBusy});
}

TEST(Class1Send, TwoFilesAreMergedIntoOneCall) {
    SendRig rig({0}, 5);
    makeFaxFile(rig.dir / "b.ovf", {0, 0}, 5);
    rig.fax.FaxFileList.push_back(rig.dir / "b.ovf");
    remoteAnswers(rig.modem, true, 6,
                  {FakeModem::frame(t30::fcfCFR), FakeModem::frame(t30::fcfMCF), FakeModem::frame(t30::fcfMCF),
                   FakeModem::frame(t30::fcfMCF)});
    rig.run();
    EXPECT_EQ(rig.events.Finishes, std::vector<int>{0});
    EXPECT_EQ(rig.modem.TxData.size(), 4u);  // TCF and three pages
    EXPECT_EQ(rig.fax.totalPages(), 3);
    const std::string his = readFile(rig.dir / "OVEXFAX.HIS");
    EXPECT_NE(his.find("Transmit " + (rig.dir / "doc.ovf") + " to 5550100 started at "), std::string::npos) << his;
    EXPECT_NE(his.find("Transmit " + (rig.dir / "b.ovf") + " to 5550100 started at "), std::string::npos) << his;
    // The merged temporary file is gone once the session has finished.
    EXPECT_EQ(his.find("~OV"), std::string::npos);
}

TEST(Class1Send, NoFileIsAnError) {
    SendRig rig;
    rig.fax.FaxFileList.clear();
    rig.run();
    EXPECT_EQ(rig.events.Finishes, std::vector<int>{errors::ecNoFilename});
}

TEST(Class1Send, StartChecks) {
    TOvxSendFax fax;
    try {
        fax.StartSend();
        FAIL() << "started without a port";
    } catch (const errors::EOvxException& e) {
        EXPECT_EQ(e.ErrorCode(), errors::ecPortNotAssigned);
    }
}

namespace {

struct ReceiveRig {
    Dir dir;
    FakeModem modem;
    TOvxReceiveFax fax;
    TOvxFaxLog history;
    Events events;
    std::vector<std::string> stored;
    ReceiveRig() {
        fax.setDestinationDir(dir.dir());
        fax.setStationID("OUR CSI");
        fax.DesiredBPS = 14400;
        fax.OneFax = true;
        history.FaxHistoryName = dir / "OVEXFAX.HIS";
        fax.FaxLog = &history;
        fax.useLinkForTesting(&modem);
        events.attach(fax);
        fax.OnFaxLog = [this](TOvxAbstractFax& cp, int c) {
            events.Logs.push_back(c);
            if (c == lfaxReceiveStart) stored.push_back(cp.FaxFile());
        };
    }
    void run() {
        fax.StartReceive();
        faxtest::drive(fax, modem);  // up to waiting for a call
        modem.ring(1);
        faxtest::drive(fax, modem);
    }
    // The call ended in failure (logged start, then failure) and the file it began is gone.
    void expectFailedWithNoFileKept() {
        EXPECT_FALSE(fax.inProgress());
        ASSERT_EQ(events.Finishes.size(), 1u);
        EXPECT_LT(events.Finishes[0], 0);
        EXPECT_EQ(events.Logs, (std::vector<int>{4, 7}));
        ASSERT_EQ(stored.size(), 1u);
        EXPECT_FALSE(std::filesystem::exists(stored[0]));
    }
};

// Real page data (the receiver judges what it gets), DLE bytes included.
std::vector<uint8_t> page(int seed, int lines = 100) { return faxtest::codedPage(seed, lines); }

void callerSends(FakeModem& m, int pages, bool fine, int speed = 6,
                 std::vector<uint8_t> tcf = std::vector<uint8_t>(2592, 0)) {
    m.Frames.push_back(FakeModem::ident(t30::fcfTSI, "CALLER"));
    m.Frames.push_back(FakeModem::frame(t30::fcfDCS, t30::buildDCSFif(speed, fine, false, 0), true));
    m.RxData.push_back(std::move(tcf));
    for (int p = 0; p < pages; ++p) {
        m.RxData.push_back(page(p));
        m.Frames.push_back(FakeModem::frame(p + 1 < pages ? t30::fcfMPS : t30::fcfEOP));
    }
    m.Frames.push_back(FakeModem::frame(t30::fcfDCN));
}

}  // namespace

TEST(Class1Receive, TwoPagesAreStoredRawWithTheirFlags) {
    ReceiveRig rig;
    callerSends(rig.modem, 2, true);
    rig.run();
    ASSERT_EQ(rig.events.Finishes, std::vector<int>{0});
    EXPECT_EQ(rig.events.Logs, (std::vector<int>{4, 5}));
    EXPECT_EQ(rig.fax.remoteID(), "CALLER");
    ASSERT_EQ(rig.stored.size(), 1u);
    EXPECT_EQ(rig.stored[0], rig.dir / "FAX0001.OVF");
    EXPECT_EQ(rig.fax.FaxFile(), "");  // cleared after log code 5
    const auto fcfs = rig.modem.fcfs();
    EXPECT_EQ(fcfs, (std::vector<uint8_t>{t30::fcfCSI, t30::fcfDIS, t30::fcfCFR, t30::fcfMCF, t30::fcfMCF}));
    EXPECT_EQ(rig.modem.SentFrames[1].Fif[2], 0xF9);
    EXPECT_EQ(t30::decodeId(rig.modem.SentFrames[0].Fif.data(), 20), "OUR CSI");
    EXPECT_EQ(rig.modem.countCommand("AT+FRM=145"), 1u);
    EXPECT_EQ(rig.modem.countCommand("ATA"), 1u);
    EXPECT_EQ(rig.fax.connectBPS(), 14400);
    EXPECT_TRUE(rig.fax.highResolution());
    EXPECT_EQ(rig.fax.pageWidth(), 1728);
    EXPECT_FALSE(rig.fax.errorControl());

    telvane::faximage::OvfReader r;
    ASSERT_EQ(r.open(rig.stored[0]), 0);
    ASSERT_EQ(r.pageCount(), 2);
    EXPECT_EQ(r.header().senderId, "CALLER");
    for (int p = 1; p <= 2; ++p) {
        telvane::faximage::OvfPageHeader ph;
        ASSERT_EQ(r.seekPage(p, ph), 0);
        EXPECT_EQ(ph.imageFlags, kFaxFine);
        std::vector<uint8_t> all;
        EXPECT_EQ(r.readPageData([&](const uint8_t* d, size_t n) {
            all.insert(all.end(), d, d + n);
            return true;
        }),
                  0);
        EXPECT_EQ(all, page(p - 1));
    }
    const std::string his = readFile(rig.dir / "OVEXFAX.HIS");
    EXPECT_NE(his.find("Receive " + rig.stored[0] + " from CALLER started at "), std::string::npos);
    EXPECT_NE(his.find("Receive finished OK at "), std::string::npos);
}

// A call that rings while the modem is being set up: the RING before "AT+FCLASS=1" is confirmed
// is passed over (it used to fail the start with -8063); the call is answered at the next ring.
TEST(Class1Receive, RingDuringSetUpIsPassedOver) {
    ReceiveRig rig;
    rig.modem.Refuse = {{"AT+FCLASS=1", "RING\r\n\r\nOK"}, {"AT+FCLASS=1", "RING\r\n\r\nOK"}};
    callerSends(rig.modem, 1, false);
    rig.run();
    EXPECT_EQ(rig.events.Finishes, std::vector<int>{0});
    EXPECT_EQ(rig.events.Logs, (std::vector<int>{4, 5}));
    EXPECT_EQ(rig.modem.countCommand("AT+FCLASS=1"), 2u);
}

TEST(Class1Receive, TrainingWithExactlyTenPercentNonZeroGetsFtt) {
    ReceiveRig rig;
    std::vector<uint8_t> bad(1730, 0);  // the length of a good TCF at 9600
    std::fill(bad.begin(), bad.begin() + 173, 0x55);
    callerSends(rig.modem, 1, false, 4, bad);
    // After FTT the caller sends DCS at 7200 and a good TCF.
    auto dcn = rig.modem.Frames.back();
    rig.modem.Frames.pop_back();
    auto eop = rig.modem.Frames.back();
    rig.modem.Frames.pop_back();
    rig.modem.Frames.push_back(FakeModem::frame(t30::fcfDCS, t30::buildDCSFif(3, false, false, 0), true));
    rig.modem.Frames.push_back(eop);
    rig.modem.Frames.push_back(dcn);
    auto page = rig.modem.RxData.back();
    rig.modem.RxData.pop_back();
    rig.modem.RxData.push_back(std::vector<uint8_t>(1296, 0));
    rig.modem.RxData.push_back(page);
    rig.run();
    EXPECT_EQ(rig.events.Finishes, std::vector<int>{0});
    const auto fcfs = rig.modem.fcfs();
    ASSERT_GE(fcfs.size(), 4u);
    EXPECT_EQ(fcfs[2], t30::fcfFTT);
    EXPECT_EQ(fcfs[3], t30::fcfCFR);
    EXPECT_EQ(rig.modem.countCommand("AT+FRM=72"), 2u);  // training, then the page
    EXPECT_EQ(rig.fax.connectBPS(), 7200);
    EXPECT_FALSE(rig.fax.highResolution());
}

TEST(Class1Receive, RejectedCallIsLoggedAsSkipped) {
    ReceiveRig rig;
    rig.fax.OnFaxAccept = [](TOvxAbstractFax& cp, bool& accept) { accept = cp.remoteID() != "CALLER"; };
    callerSends(rig.modem, 1, false);
    rig.run();
    EXPECT_EQ(rig.events.Finishes, std::vector<int>{errors::ecFileRejected});
    EXPECT_EQ(rig.events.Logs, std::vector<int>{6});
    EXPECT_TRUE(rig.stored.empty());
    EXPECT_FALSE(std::filesystem::exists(rig.dir / "FAX0001.OVF"));
}

// A call lost in its first page leaves no fax: no page was confirmed, so no file stays.
TEST(Class1Receive, ModemVanishingInTheFirstPageLeavesNoFile) {
    ReceiveRig rig;
    rig.modem.VanishInRxData = 2;  // TCF, then half of page 1
    callerSends(rig.modem, 1, false);
    rig.run();
    rig.expectFailedWithNoFileKept();
}

// T.30 T1: the called terminal repeats DIS after each T4 without a command for 35 s, then gives up.
TEST(Class1Receive, SilentCallerGetsIdentRepeatedThenTimeout) {
    ReceiveRig rig;
    for (int i = 0; i < 4; ++i) rig.modem.Frames.push_back(FakeModem::silence());
    rig.run();
    EXPECT_EQ(rig.events.Finishes, std::vector<int>{errors::ecFatalTimeout});
    const auto fcfs = rig.modem.fcfs();
    // Each round is CSI + DIS on the line (about 1 s here) and T4 (3 s): 35 s hold 8 or more.
    EXPECT_GE(std::count(fcfs.begin(), fcfs.end(), t30::fcfDIS), 8);
    EXPECT_LE(std::count(fcfs.begin(), fcfs.end(), t30::fcfDIS), 14);
    EXPECT_GE(rig.modem.Now, 35000);
}

TEST(Class1Receive, CancelWhileWaitingForACall) {
    ReceiveRig rig;
    rig.fax.StartReceive();
    faxtest::drive(rig.fax, rig.modem);
    EXPECT_TRUE(rig.fax.inProgress());
    EXPECT_EQ(rig.fax.faxProgress(), fpWaiting);
    rig.fax.CancelSession();
    faxtest::drive(rig.fax, rig.modem);
    EXPECT_FALSE(rig.fax.inProgress());
    EXPECT_EQ(rig.events.Finishes, std::vector<int>{errors::ecCancelRequested});
    EXPECT_TRUE(rig.events.Logs.empty());
}

TEST(Class1Send, HeaderLineAndTextCoverArePartOfThePages) {
    SendRig rig({0}, 4);
    rig.fax.HeaderLine = "FROM $F TO $R PAGE $P OF $N";
    rig.fax.HeaderSender = "ANN";
    rig.fax.HeaderRecipient = "BOB";
    std::ofstream(rig.dir / "cover.txt") << "Cover line one\r\nCover $R line two\n";
    rig.fax.CoverFile = rig.dir / "cover.txt";
    remoteAnswers(rig.modem, true, 6,
                  {FakeModem::frame(t30::fcfCFR), FakeModem::frame(t30::fcfMCF), FakeModem::frame(t30::fcfMCF)}, 0x10);
    rig.run();
    ASSERT_EQ(rig.events.Finishes, std::vector<int>{0});
    ASSERT_EQ(rig.modem.TxData.size(), 3u);  // TCF, cover page, file page
    EXPECT_EQ(rig.fax.totalPages(), 2);
    EXPECT_EQ(rig.modem.fcfs()[2], t30::fcfMPS);
    // Scan-time code 1 at 14400: lines of at least 9 bytes. Every page starts with 8 blank lines.
    const size_t minBytes = 9;
    for (size_t p = 1; p <= 2; ++p) {
        const auto& d = rig.modem.TxData[p];
        ASSERT_GT(d.size(), 8 * minBytes);
        for (size_t l = 0; l < 8; ++l) {
            EXPECT_TRUE(std::equal(kBlank, kBlank + 6, d.begin() + static_cast<long>(l * minBytes))) << p << " " << l;
            EXPECT_TRUE(std::all_of(d.begin() + static_cast<long>(l * minBytes + 6),
                                    d.begin() + static_cast<long>((l + 1) * minBytes),
                                    [](uint8_t b) { return b == 0; }));
        }
    }
    // The header's rendered rows take the place of the file page's 4 blank lines; page end follows.
    EXPECT_GT(rig.modem.TxData[2].size(), 8 * minBytes + 16 * minBytes + 12 - 1);
    // The cover page holds its two text lines (16 rows each) and ends with the page end code.
    const auto& cover = rig.modem.TxData[1];
    EXPECT_TRUE(std::equal(kEnd, kEnd + 12, cover.end() - 12));
    EXPECT_GE(cover.size(), (8 + 16 + 32) * minBytes);
}

TEST(Class1Send, EventsWaitForTheSinkAndTimeOutToDefaults) {
    // A sink that never runs the next-fax question: the session takes the default (no fax).
    struct DeafSink final : TOvxEventSink {
        int asked = 0;
        bool runOnAppThread(const std::function<void()>& call, int timeoutMs) override {
            if (timeoutMs == 2000) {
                ++asked;
                return false;
            }
            call();
            return true;
        }
    } sink;
    SendRig rig;
    rig.fax.setEventSink(&sink);
    bool handlerRan = false;
    rig.fax.OnFaxNext = [&](TOvxAbstractFax&, std::string& n, std::string&, std::string&) {
        handlerRan = true;
        n = "1";
    };
    rig.run();
    EXPECT_EQ(sink.asked, 1);
    EXPECT_FALSE(handlerRan);
    EXPECT_EQ(rig.events.Finishes, std::vector<int>{0});
    EXPECT_EQ(rig.modem.countCommand("ATD"), 0u);
}

TEST(Class1Send, TimedStatusWithinAPageAfterThreeThenEveryTwoIntervals) {
    SendRig rig({0}, 2000);
    rig.fax.StatusInterval = 1;
    rig.fax.MaxSendCount = 5;
    rig.modem.LineBps = 2400;  // 12 kB of page data: about 40 s on the line
    int64_t pageStart = -1;
    std::vector<int64_t> inPage;
    rig.modem.OnPageData = [&] { pageStart = rig.modem.Now; };
    rig.fax.OnFaxStatus = [&](TOvxAbstractFax&, bool first, bool last) {
        if (pageStart >= 0 && rig.modem.TxData.size() == 1 && !first && !last) inPage.push_back(rig.modem.Now);
    };
    remoteAnswers(rig.modem, true, 6, {FakeModem::frame(t30::fcfCFR), FakeModem::frame(t30::fcfMCF)});
    rig.run();
    ASSERT_EQ(rig.events.Finishes, std::vector<int>{0});
    ASSERT_GE(pageStart, 0);
    // A pass of 5 blocks takes 100 ms at this rate: events come at most one pass late.
    ASSERT_GE(inPage.size(), 15u);
    EXPECT_GE(inPage[0] - pageStart, 3000);
    EXPECT_LE(inPage[0] - pageStart, 3000 + 150);
    for (size_t i = 1; i < inPage.size(); ++i) {
        EXPECT_GE(inPage[i] - inPage[i - 1], 2000) << i;
        EXPECT_LE(inPage[i] - inPage[i - 1], 2000 + 150) << i;
    }
}

// The first status event of each page's data names that page (not the one before, nor none),
// with and without error correction.
TEST(Class1Send, PageDataStatusNamesThePageFromItsFirstEvent) {
    const auto pageStarts = [](TOvxSendFax& fax, std::vector<int>& starts) {
        fax.OnFaxStatus = [&starts, last = 0](TOvxAbstractFax& f, bool, bool) mutable {
            if (f.faxProgress() == fpSendPage && last != fpSendPage) starts.push_back(f.currentPage());
            last = f.faxProgress();
        };
    };
    {
        SendRig rig({0, 0});
        std::vector<int> starts;
        pageStarts(rig.fax, starts);
        remoteAnswers(rig.modem, false, 6,
                      {FakeModem::frame(t30::fcfCFR), FakeModem::frame(t30::fcfMCF), FakeModem::frame(t30::fcfMCF)});
        rig.run();
        ASSERT_EQ(rig.events.Finishes, std::vector<int>{0});
        EXPECT_EQ(starts, (std::vector<int>{1, 2}));
    }
    {
        SendRig rig({0});
        rig.fax.setDesiredECM(true);
        std::vector<int> starts;
        pageStarts(rig.fax, starts);
        faxtest::RxFrame dis = FakeModem::dis(true, 6);
        ecm::addCoding(dis.Fif, {true, true, true, false});
        rig.modem.Frames = {FakeModem::ident(t30::fcfCSI, "FAR END"), dis, FakeModem::frame(t30::fcfCFR),
                            FakeModem::frame(t30::fcfMCF)};
        rig.run();
        ASSERT_EQ(rig.events.Finishes, std::vector<int>{0});
        ASSERT_TRUE(rig.fax.errorControl());
        EXPECT_EQ(starts, std::vector<int>{1});
    }
}

// With a deep tty buffer the page leaves our buffer at once, and the modem answers only when
// the line has carried it: 24 kB take 20 s at 9600 and 13 s at 14400, longer than the plain
// response time. So too for MR page data (a far end offering 2-D with a 20 ms scan time: its
// 4000 lines take 80 s).
TEST(Class1Send, PageAnswerIsAwaitedForTheLineTimeOfTheQueuedData) {
    struct Case {
        long bps;
        bool twoD;
    };
    for (const Case c : {Case{9600, false}, Case{14400, false}, Case{14400, true}}) {
        SCOPED_TRACE(testing::Message() << c.bps << (c.twoD ? " MR" : " MH"));
        SendRig rig({0, 0}, 4000);
        rig.fax.DesiredBPS = c.bps;
        rig.modem.BufferedBps = c.bps;
        remoteAnswers(rig.modem, false, 6,
                      {FakeModem::frame(t30::fcfCFR), FakeModem::frame(t30::fcfMCF), FakeModem::frame(t30::fcfMCF)},
                      c.twoD ? 0x00 : 0x70);
        if (c.twoD) ecm::addCoding(rig.modem.Frames[1].Fif, {true, false, false, false});
        rig.run();
        EXPECT_EQ(rig.events.Finishes, std::vector<int>{0});
        EXPECT_EQ(rig.fax.coding(), c.twoD ? telvane::faximage::FaxCoding::MR : telvane::faximage::FaxCoding::MH);
        ASSERT_EQ(rig.modem.TxData.size(), 3u);  // TCF and two pages
        EXPECT_GT(rig.modem.TxData[1].size() * 8 / static_cast<size_t>(c.bps), 10u);
    }
}

TEST(Class1Send, TimedStatusOutsidePagesEveryInterval) {
    SendRig rig;
    rig.fax.StatusInterval = 2;
    rig.modem.DialResult = "";  // never answers: the dial wait passes in timed status events
    rig.fax.setDialWait(20);
    rig.fax.DialAttempts = 1;
    std::vector<int64_t> times;
    rig.fax.OnFaxStatus = [&](TOvxAbstractFax&, bool first, bool last) {
        if (!first && !last && rig.fax.faxProgress() == fpDialing) times.push_back(rig.modem.Now);
    };
    rig.run();
    EXPECT_EQ(rig.events.Finishes, std::vector<int>{errors::ecFaxNoAnswer});
    ASSERT_GE(times.size(), 9u);
    for (size_t i = 2; i < times.size(); ++i) EXPECT_EQ(times[i] - times[i - 1], 2000) << i;
}

namespace {

// A renderer standing in for a system font: `rows` rows, black over the first 64 pels.
class StubRenderer final : public telvane::faximage::FaxTextRenderer {
public:
    StubRenderer(int rows, int prepareResult) : rows_(rows), prepareResult_(prepareResult) {}
    int prepare(bool, int, int) override { return prepareResult_; }
    int rowCount() const override { return rows_; }
    std::size_t maxChars() const override { return 0; }
    int maxWidth() const override { return 1712; }
    void renderLine(std::string_view, telvane::faximage::Raster& out) override {
        out = telvane::faximage::Raster(1712, rows_);
        for (int y = 0; y < rows_; ++y) std::fill(out.row(y), out.row(y) + 8, 0xFF);
    }

private:
    int rows_, prepareResult_;
};

struct FactoryScope {
    std::vector<std::string> asked;
    explicit FactoryScope(int prepareResult = 0, bool loads = true) {
        TOvxCustomSendFax::setEnhancedTextFactory(
            [this, prepareResult, loads](const TOvxFont& font) -> std::unique_ptr<telvane::faximage::FaxTextRenderer> {
                asked.push_back(font.Name + "/" + std::to_string(font.Height));
                if (!loads) return nullptr;
                return std::make_unique<StubRenderer>(font.Height < 0 ? -font.Height : font.Height, prepareResult);
            });
    }
    ~FactoryScope() { TOvxCustomSendFax::setEnhancedTextFactory({}); }
};

// A send with a header line and a text cover; returns the data of the cover and the file page.
std::vector<std::vector<uint8_t>> sendHeaderAndCover(SendRig& rig) {
    rig.fax.HeaderLine = "HEADER $P";
    std::ofstream(rig.dir / "cover.txt") << "Cover text\n";
    rig.fax.CoverFile = rig.dir / "cover.txt";
    remoteAnswers(rig.modem, true, 6,
                  {FakeModem::frame(t30::fcfCFR), FakeModem::frame(t30::fcfMCF), FakeModem::frame(t30::fcfMCF)});
    rig.run();
    if (rig.modem.TxData.size() != 3) return {};
    return {rig.modem.TxData[1], rig.modem.TxData[2]};
}

}  // namespace

TEST(Class1Send, EnhancedTextUsesTheHeaderFontForHeadersAndTheTextFontForCovers) {
    FactoryScope factory;
    SendRig rig({0}, 4);
    rig.fax.EnhTextEnabled = true;
    rig.fax.EnhHeaderFont = "MS Sans Serif";
    rig.fax.EnhFont = "Arial";
    rig.fax.EnhFont.Height = -30;
    const auto pages = sendHeaderAndCover(rig);
    ASSERT_EQ(rig.events.Finishes, std::vector<int>{0});
    ASSERT_EQ(pages.size(), 2u);
    EXPECT_EQ(factory.asked, (std::vector<std::string>{"MS Sans Serif/-13", "Arial/-30"}));
    // File page: 8 blank lines, 13 header rows (one run of 64 black pels after the margin) over
    // the file's 4 blank lines, and page end. Cover: 8 blank lines, 13 header rows, 30 text rows,
    // page end.
    telvane::faximage::FaxLineCoder coder;
    coder.setup(1728, 16, false);
    std::vector<uint8_t> raster(216, 0);
    std::fill(raster.begin(), raster.begin() + 8, 0xFF);
    const size_t stubRow = coder.codeLine(raster.data());
    EXPECT_EQ(pages[1].size(), 8 * 6 + 13 * stubRow + 12);
    EXPECT_EQ(pages[0].size(), 8 * 6 + (13 + 30) * stubRow + 12);
}

TEST(Class1Send, EnhancedTextFallsBackToTheBitmapFontWithoutAFactory) {
    TOvxCustomSendFax::setEnhancedTextFactory({});
    SendRig plain({0}, 4);
    const auto bitmap = sendHeaderAndCover(plain);
    SendRig enhanced({0}, 4);
    enhanced.fax.EnhTextEnabled = true;
    enhanced.fax.EnhHeaderFont = "MS Sans Serif";
    const auto fallback = sendHeaderAndCover(enhanced);
    ASSERT_EQ(bitmap.size(), 2u);
    EXPECT_EQ(enhanced.events.Finishes, std::vector<int>{0});
    EXPECT_EQ(fallback, bitmap);
    // The bitmap font's header: 16 rows of the large glyphs after the blank lines.
    EXPECT_GT(bitmap[1].size(), 8 * 6 + 16 * 6 + 12 - 1);
}

TEST(Class1Send, EnhancedFontFailuresEndTheFaxBeforeDialling) {
    {
        FactoryScope factory(0, false);
        SendRig rig({0}, 4);
        rig.fax.EnhTextEnabled = true;
        rig.fax.HeaderLine = "HEADER";
        rig.run();
        EXPECT_EQ(rig.events.Finishes, std::vector<int>{errors::ecFontFileNotFound});
        EXPECT_EQ(rig.modem.countCommand("ATD"), 0u);
        EXPECT_EQ(rig.events.Logs, (std::vector<int>{1, 3}));
    }
    {
        FactoryScope factory(errors::ecEnhFontTooBig);
        SendRig rig({0}, 4);
        rig.fax.EnhTextEnabled = true;
        rig.fax.HeaderLine = "HEADER";
        rig.run();
        EXPECT_EQ(rig.events.Finishes, std::vector<int>{errors::ecEnhFontTooBig});
        EXPECT_EQ(rig.modem.countCommand("ATD"), 0u);
    }
    {
        // Without a header line or a text cover no font is needed.
        FactoryScope factory(0, false);
        SendRig rig({0}, 4);
        rig.fax.EnhTextEnabled = true;
        remoteAnswers(rig.modem, true, 6, {FakeModem::frame(t30::fcfCFR), FakeModem::frame(t30::fcfMCF)});
        rig.run();
        EXPECT_EQ(rig.events.Finishes, std::vector<int>{0});
        EXPECT_TRUE(factory.asked.empty());
    }
}

namespace {

struct CountingDisplay final : TOvxAbstractFaxStatus {
    using TOvxAbstractFaxStatus::TOvxAbstractFaxStatus;
    int updates = 0, last = 0;
    void updateDisplay(TOvxAbstractFax&, bool, bool Last) override {
        ++updates;
        last += Last;
    }
};

struct CountingLog final : TOvxFaxLog {
    using TOvxFaxLog::TOvxFaxLog;
    std::vector<int> codes;
    void updateLog(TOvxAbstractFax&, int code) override { codes.push_back(code); }
};

}  // namespace

TEST(ComponentOwner, EmptyStatusDisplayAndFaxLogAreFoundAmongTheOwnersComponents) {
    TOvxComponentOwner owner;
    CountingDisplay display(&owner);
    CountingLog log(&owner);
    CountingDisplay stranger;  // belongs to no owner: never picked
    SendRig rig;
    rig.fax.FaxLog = nullptr;
    rig.fax.setOwner(&owner);
    remoteAnswers(rig.modem, true, 6, {FakeModem::frame(t30::fcfCFR), FakeModem::frame(t30::fcfMCF)});
    rig.run();
    EXPECT_EQ(rig.events.Finishes, std::vector<int>{0});
    EXPECT_EQ(rig.fax.StatusDisplay, &display);
    EXPECT_EQ(rig.fax.FaxLog, &log);
    EXPECT_GT(display.updates, 2);
    EXPECT_EQ(display.last, 1);
    EXPECT_EQ(log.codes, (std::vector<int>{1, 2}));
    EXPECT_EQ(stranger.updates, 0);
}

TEST(ComponentOwner, PropertiesSetByTheApplicationAreKept) {
    TOvxComponentOwner owner;
    CountingLog ownersLog(&owner);
    CountingLog chosen;
    SendRig rig;
    rig.fax.setOwner(&owner);
    rig.fax.FaxLog = &chosen;
    rig.modem.DialResult = "NO CARRIER";
    rig.run();
    EXPECT_EQ(rig.fax.FaxLog, &chosen);
    EXPECT_EQ(chosen.codes, (std::vector<int>{1, 3}));
    EXPECT_TRUE(ownersLog.codes.empty());
}

TEST(ComponentOwner, DestroyedComponentsLeaveNoDanglingReferences) {
    TOvxComponentOwner owner;
    TOvxSendFax fax(&owner);
    {
        CountingDisplay display(&owner);
        CountingLog log(&owner);
        fax.StatusDisplay = &display;
        fax.FaxLog = &log;
        EXPECT_EQ(owner.firstStatusDisplay(), &display);
    }
    EXPECT_EQ(fax.StatusDisplay, nullptr);
    EXPECT_EQ(fax.FaxLog, nullptr);
    EXPECT_EQ(owner.firstStatusDisplay(), nullptr);
    EXPECT_EQ(owner.firstFaxLog(), nullptr);

    // Moving a component to another owner takes it out of the first.
    TOvxComponentOwner other;
    CountingLog moved(&owner);
    moved.setOwner(&other);
    EXPECT_EQ(owner.firstFaxLog(), nullptr);
    EXPECT_EQ(other.firstFaxLog(), &moved);

    // An owner that goes first detaches its components.
    auto shortLived = std::make_unique<TOvxComponentOwner>();
    CountingDisplay orphan(shortLived.get());
    shortLived.reset();
    EXPECT_EQ(orphan.owner(), nullptr);
}

TEST(Class1Send, DamagedFaxFileIsRefusedBeforeTheCall) {
    SendRig rig({0, 0}, 20);
    const std::string path = rig.dir / "doc.ovf";
    std::filesystem::resize_file(path, std::filesystem::file_size(path) - 10);  // page 2 cut short
    rig.run();
    EXPECT_EQ(rig.events.Finishes, std::vector<int>{errors::ecFaxBadFormat});
    EXPECT_EQ(rig.modem.countCommand("ATD"), 0u);
}

// --- Recovery and timing rules of T.30, against a modem that behaves like real ones ---

namespace {

size_t indexOf(const std::vector<std::string>& commands, const std::string& prefix, size_t from = 0) {
    for (size_t i = from; i < commands.size(); ++i)
        if (commands[i].rfind(prefix, 0) == 0) return i;
    return std::string::npos;
}

long countFcf(const FakeModem& m, uint8_t fcf) {
    const auto f = m.fcfs();
    return std::count(f.begin(), f.end(), fcf);
}

// A fax file whose one page is raw T.4 data: `lines` white lines then RTC.
void makeRawFaxFile(const std::string& path, int lines) { makeRawFaxFile(path, faxtest::rawT4Page(lines)); }

}  // namespace

// ERROR in answer to the dial is the modem refusing the call: the attempt ends at once with
// "Failed to connect", without asking for frames.
TEST(Class1Recovery, ErrorToTheDialEndsTheAttemptAtOnce) {
    SendRig rig;
    rig.modem.DialResult = "ERROR";
    rig.run();
    EXPECT_EQ(rig.events.Finishes, std::vector<int>{errors::ecFaxNoCarrier});
    EXPECT_EQ(rig.modem.countCommand("AT+FRH=3"), 0u);
    EXPECT_EQ(rig.modem.countCommand("ATDT"), 1u);
    EXPECT_EQ(rig.events.Logs, (std::vector<int>{1, 3}));
}

// Once the call is connected, a garbled first frame (the modem's ERROR for its bad FCS) is not
// the end of the call: T.30 listens for DIS until T1, and the far end's repeat gets through.
TEST(Class1Recovery, GarbledFirstFrameAfterConnectIsListenedForAgain) {
    SendRig rig;
    faxtest::RxFrame garbled = FakeModem::ident(t30::fcfCSI, "FAR END");
    garbled.BadFcs = true;
    rig.modem.Frames.push_back(garbled);
    remoteAnswers(rig.modem, true, 6, {FakeModem::frame(t30::fcfCFR), FakeModem::frame(t30::fcfMCF)});
    rig.run();
    EXPECT_EQ(rig.events.Finishes, std::vector<int>{0});
    EXPECT_EQ(rig.fax.pagesConfirmed(), 1);
    EXPECT_EQ(rig.fax.remoteID(), "FAR END");
}

// A modem that answers ERROR or NO CARRIER at any step ends the fax with that step's error
// (and the session ends: no further faxes), never a hang.
TEST(Class1Recovery, RefusalAtEachStepEndsTheFax) {
    const struct {
        const char* Command;
        const char* Reply;
        int Code;
    } cases[] = {{"AT+FCLASS=1", "ERROR", errors::ecFaxInitError},
                 {"AT+FTH=3", "ERROR", errors::ecFaxBadModemResult},
                 {"AT+FTM=145", "ERROR", errors::ecFaxTrainError},
                 {"AT+FTM=146", "ERROR", errors::ecFaxSessionError},
                 {"AT+FTM=146", "NO CARRIER", errors::ecFaxSessionError}};
    for (const auto& c : cases) {
        SendRig rig;
        remoteAnswers(rig.modem, true, 6, {FakeModem::frame(t30::fcfCFR), FakeModem::frame(t30::fcfMCF)});
        rig.modem.Refuse.push_back({c.Command, c.Reply});
        rig.run();
        EXPECT_FALSE(rig.fax.inProgress()) << c.Command;
        EXPECT_EQ(rig.events.Finishes, std::vector<int>{c.Code}) << c.Command << " -> " << c.Reply;
    }
}

// A modem without "AT+FTS" answers ERROR: the silence before the TCF is our own pause then.
TEST(Class1Recovery, ModemWithoutSilenceCommandStillTrains) {
    SendRig rig;
    remoteAnswers(rig.modem, true, 6, {FakeModem::frame(t30::fcfCFR), FakeModem::frame(t30::fcfMCF)});
    rig.modem.Refuse.push_back({"AT+FTS=", "ERROR"});
    rig.run();
    EXPECT_EQ(rig.events.Finishes, std::vector<int>{0});
    EXPECT_EQ(rig.modem.countCommand("AT+FTM=145"), 1u);
}

// T.30: 75 +/- 20 ms of silence between DCS and TCF: the modem is asked for 70 ms of silence
// right after DCS, then trains, with no pause of ours added (measured on the modem's clock, which
// the silence command advances by the time asked).
TEST(Class1Recovery, SilenceBetweenDcsAndTcf) {
    SendRig rig;
    remoteAnswers(rig.modem, true, 6, {FakeModem::frame(t30::fcfCFR), FakeModem::frame(t30::fcfMCF)});
    rig.run();
    ASSERT_EQ(rig.events.Finishes, std::vector<int>{0});
    const auto& cmds = rig.modem.Commands;
    const size_t fts = indexOf(cmds, "AT+FTS=");
    ASSERT_NE(fts, std::string::npos);
    EXPECT_EQ(cmds[fts], "AT+FTS=7");
    ASSERT_LT(fts + 1, cmds.size());
    EXPECT_EQ(cmds[fts + 1], "AT+FTM=145");
    EXPECT_LT(indexOf(cmds, "AT+FTH=3"), fts);
    // Our signals in order: TSI and DCS, then TCF; the gap before TCF is the turnaround.
    const std::vector<int64_t> gaps = rig.modem.turnarounds();
    ASSERT_GE(gaps.size(), 2u);
    EXPECT_GE(gaps[1], 55);
    EXPECT_LE(gaps[1], 95);
}

// CFR lost: after T4 without an answer DCS (with TSI) and TCF are sent again.
TEST(Class1Recovery, LostCfrRepeatsDcsAndTraining) {
    SendRig rig;
    remoteAnswers(rig.modem, true, 6,
                  {FakeModem::silence(), FakeModem::frame(t30::fcfCFR), FakeModem::frame(t30::fcfMCF)});
    rig.run();
    EXPECT_EQ(rig.events.Finishes, std::vector<int>{0});
    EXPECT_EQ(rig.modem.fcfs(),
              (std::vector<uint8_t>{t30::fcfTSI, t30::fcfDCS, t30::fcfTSI, t30::fcfDCS, t30::fcfEOP, t30::fcfDCN}));
    ASSERT_EQ(rig.modem.TxData.size(), 3u);  // TCF, TCF, page
    EXPECT_EQ(rig.modem.TxData[0].size(), tcfLength(14400));
    EXPECT_EQ(rig.modem.TxData[1].size(), tcfLength(14400));
}

// CFR with a bad FCS (the modem says ERROR after it): the command is repeated at once
// instead of waiting for a frame that will not come.
TEST(Class1Recovery, GarbledCfrRepeatsDcsAndTraining) {
    SendRig rig;
    auto bad = FakeModem::frame(t30::fcfCFR);
    bad.BadFcs = true;
    remoteAnswers(rig.modem, true, 6, {bad, FakeModem::frame(t30::fcfCFR), FakeModem::frame(t30::fcfMCF)});
    rig.run();
    EXPECT_EQ(rig.events.Finishes, std::vector<int>{0});
    EXPECT_EQ(countFcf(rig.modem, t30::fcfDCS), 2);
    EXPECT_EQ(rig.modem.TxData.size(), 3u);
}

// No answer to DCS at all: DCS + TCF are repeated three times, then the call ends.
TEST(Class1Recovery, UnansweredDcsIsRepeatedThreeTimes) {
    SendRig rig;
    remoteAnswers(rig.modem, true, 6, {});
    rig.run();
    EXPECT_EQ(rig.events.Finishes, std::vector<int>{errors::ecFatalTimeout});
    EXPECT_EQ(countFcf(rig.modem, t30::fcfDCS), 4);
    EXPECT_EQ(rig.modem.countCommand("AT+FTM=145"), 4u);
}

// Two FTT answers: 14400 (V.17) -> 12000 (V.17) -> 9600 (V.29). Each DCS names the rate and
// modulation of the "AT+FTM=" code that follows it.
TEST(Class1Recovery, FallBackNamesTheModulationItTrainsWith) {
    SendRig rig;
    remoteAnswers(rig.modem, false, 6,
                  {FakeModem::frame(t30::fcfFTT), FakeModem::frame(t30::fcfFTT), FakeModem::frame(t30::fcfCFR),
                   FakeModem::frame(t30::fcfMCF)});
    rig.run();
    ASSERT_EQ(rig.events.Finishes, std::vector<int>{0});
    const auto dcs = rig.dcs();
    ASSERT_EQ(dcs.size(), 3u);
    EXPECT_EQ(dcs[0].SpeedIndex, 6);
    EXPECT_EQ(dcs[1].SpeedIndex, 5);
    EXPECT_EQ(dcs[2].SpeedIndex, 4);
    EXPECT_EQ(dcs[1].Mod, t30::Modulation::V17);
    EXPECT_EQ(dcs[2].Mod, t30::Modulation::V29);
    const auto& cmds = rig.modem.Commands;
    const size_t a = indexOf(cmds, "AT+FTM=145"), b = indexOf(cmds, "AT+FTM=121"), c = indexOf(cmds, "AT+FTM=96");
    ASSERT_NE(c, std::string::npos);
    EXPECT_LT(a, b);
    EXPECT_LT(b, c);
    EXPECT_EQ(rig.fax.connectBPS(), 9600);
}

// Real modems say CONNECT when they find the flags, about a second before the frame: an MCF
// whose CONNECT comes just before T4 runs out is still read, not cut off and repeated.
TEST(Class1Recovery, ResponseAlreadyArrivingIsNotCutOff) {
    SendRig rig;
    auto late = FakeModem::frame(t30::fcfMCF);
    late.DelayMs = 2900;
    remoteAnswers(rig.modem, true, 6, {FakeModem::frame(t30::fcfCFR), late});
    rig.modem.FrameDelayMs = 1000;
    rig.run();
    EXPECT_EQ(rig.events.Finishes, std::vector<int>{0});
    EXPECT_EQ(countFcf(rig.modem, t30::fcfEOP), 1);
}

// A frame that stops half-way; the modem ends the aborted reception with OK but no DLE ETX.
// That OK, and the CONNECT for the repeated EOP, must still be read as result lines.
TEST(Class1Recovery, AbortedFrameWithoutDleEtxResynchronises) {
    SendRig rig;
    auto broken = FakeModem::frame(t30::fcfMCF);
    broken.Truncated = true;
    remoteAnswers(rig.modem, true, 6, {FakeModem::frame(t30::fcfCFR), broken, FakeModem::frame(t30::fcfMCF)});
    rig.run();
    EXPECT_EQ(rig.events.Finishes, std::vector<int>{0});
    EXPECT_EQ(countFcf(rig.modem, t30::fcfEOP), 2);
    EXPECT_EQ(rig.modem.fcfs().back(), t30::fcfDCN);
}

// The modem stops taking page data (CTS low for good) and never answers: the fax ends with
// a time-out after a bounded time instead of waiting forever.
TEST(Class1Recovery, ModemThatStopsTakingPageDataEndsTheFax) {
    SendRig rig({0}, 2000);
    remoteAnswers(rig.modem, true, 6, {FakeModem::frame(t30::fcfCFR), FakeModem::frame(t30::fcfMCF)});
    rig.modem.StallAfterPageBytes = 3000;
    rig.run();
    EXPECT_TRUE(rig.modem.stalled());
    EXPECT_FALSE(rig.fax.inProgress());
    EXPECT_EQ(rig.events.Finishes, std::vector<int>{errors::ecFatalTimeout});
    EXPECT_EQ(rig.events.Logs, (std::vector<int>{1, 3}));
    EXPECT_LT(rig.modem.Now, 120000);  // the fake clock: the stall was noticed within the page timer
}

// A remote whose DIS offers 303 mm (width field 2) can take a 2048-pel page.
TEST(Class1Recovery, Dis303mmTakesWidePages) {
    SendRig rig({telvane::faximage::FAX_WIDE});
    rig.modem.Frames.push_back(FakeModem::ident(t30::fcfCSI, "FAR END"));
    rig.modem.Frames.push_back(FakeModem::frame(t30::fcfDIS, {0x00, 0x6E, 0xFA, 0x00}));
    rig.modem.Frames.push_back(FakeModem::frame(t30::fcfCFR));
    rig.modem.Frames.push_back(FakeModem::frame(t30::fcfMCF));
    rig.run();
    EXPECT_EQ(rig.events.Finishes, std::vector<int>{0});
    ASSERT_EQ(rig.dcs().size(), 1u);
    EXPECT_TRUE(rig.dcs()[0].Wide);
}

// Raw page data to a machine with a 20 ms minimum scan time gets fill before each EOL: at
// 14400 bit/s every line with data lasts at least 36 bytes; RTC stays six bare EOLs.
TEST(Class1Recovery, RawPagesGetFillForTheMinimumScanTime) {
    SendRig rig;
    makeRawFaxFile(rig.dir / "raw.ovf", 30);
    rig.fax.SetFaxFile(rig.dir / "raw.ovf");
    remoteAnswers(rig.modem, true, 6, {FakeModem::frame(t30::fcfCFR), FakeModem::frame(t30::fcfMCF)}, 0x00);
    rig.run();
    ASSERT_EQ(rig.events.Finishes, std::vector<int>{0});
    ASSERT_EQ(rig.modem.TxData.size(), 2u);
    const auto lines = codedLineBits(rig.modem.TxData[1]);
    ASSERT_EQ(lines.size(), 30u);
    for (size_t bits : lines) EXPECT_GE(bits, 36u * 8);
    // The six EOLs of RTC follow the last line with nothing between them.
    const auto& page = rig.modem.TxData[1];
    ASSERT_GE(page.size(), 12u);
    EXPECT_TRUE(std::equal(kEnd + 1, kEnd + 12, page.end() - 11));
}

// A page that takes more than a minute to arrive (90 kB at 9600 bit/s, in pieces a second
// apart) is kept: the page timer only runs while no data comes.
TEST(Class1Recovery, PageLongerThanAMinuteIsReceived) {
    ReceiveRig rig;
    rig.fax.DesiredBPS = 9600;
    callerSends(rig.modem, 1, true, 4, std::vector<uint8_t>(1728, 0));
    rig.modem.RxData.back() = page(3, 1500);
    ASSERT_GT(rig.modem.RxData.back().size(), 75000u);
    rig.modem.RxChunk = 1200;
    rig.modem.RxChunkMs = 1000;
    rig.run();
    ASSERT_EQ(rig.events.Finishes, std::vector<int>{0});
    EXPECT_GT(rig.modem.Now, 75000);
    telvane::faximage::OvfReader r;
    ASSERT_EQ(r.open(rig.stored.at(0)), 0);
    ASSERT_EQ(r.pageCount(), 1);
}

// Page data that stops (the line goes quiet, no result) ends the call after the page timer;
// the unfinished page is not kept, and a fax without any page leaves no file.
TEST(Class1Recovery, PageDataThatStopsEndsTheCall) {
    ReceiveRig rig;
    callerSends(rig.modem, 1, false);
    rig.modem.RxChunk = 500;
    rig.modem.RxChunkMs = 200;
    rig.modem.RxStallAfter = 1500;
    rig.run();
    EXPECT_FALSE(rig.fax.inProgress());
    EXPECT_EQ(rig.events.Finishes, std::vector<int>{errors::ecFatalTimeout});
    EXPECT_EQ(rig.events.Logs, (std::vector<int>{4, 7}));
    EXPECT_FALSE(std::filesystem::exists(rig.stored.at(0)));
}

// Our MCF to EOP was lost: the caller repeats EOP and gets MCF again (not a hang-up); the
// page is stored once.
TEST(Class1Recovery, RepeatedEopGetsMcfAgain) {
    ReceiveRig rig;
    callerSends(rig.modem, 1, false);
    rig.modem.Frames.pop_back();  // DCN
    rig.modem.Frames.push_back(FakeModem::frame(t30::fcfEOP));
    rig.modem.Frames.push_back(FakeModem::frame(t30::fcfDCN));
    rig.run();
    ASSERT_EQ(rig.events.Finishes, std::vector<int>{0});
    EXPECT_EQ(rig.modem.fcfs(),
              (std::vector<uint8_t>{t30::fcfCSI, t30::fcfDIS, t30::fcfCFR, t30::fcfMCF, t30::fcfMCF}));
    EXPECT_EQ(rig.events.Logs, (std::vector<int>{4, 5}));
    telvane::faximage::OvfReader r;
    ASSERT_EQ(r.open(rig.stored.at(0)), 0);
    EXPECT_EQ(r.pageCount(), 1);
}

// "+FCERROR" to the training's "AT+FRM=" (the modem still hears the DCS): asked again, the
// training is received and the call goes on.
TEST(Class1Recovery, FcErrorOnFirstReceiveIsRetried) {
    ReceiveRig rig;
    callerSends(rig.modem, 1, false);
    rig.modem.FcErrorOnFirstFrm = true;
    rig.run();
    ASSERT_EQ(rig.events.Finishes, std::vector<int>{0});
    EXPECT_EQ(rig.modem.countCommand("AT+FRM=145"), 2u);
    EXPECT_EQ(rig.modem.countCommand("AT+FRM=146"), 1u);
    EXPECT_EQ(rig.modem.fcfs(), (std::vector<uint8_t>{t30::fcfCSI, t30::fcfDIS, t30::fcfCFR, t30::fcfMCF}));
}

// TSI arrived but DCS was garbled and the caller waits for our answer: we send DIS again
// (T1 has not run out) instead of giving up, and the repeated DCS gets through.
TEST(Class1Recovery, LostDcsAfterTsiGetsDisAgain) {
    ReceiveRig rig;
    rig.modem.Frames.push_back(FakeModem::ident(t30::fcfTSI, "CALLER"));
    auto bad = FakeModem::frame(t30::fcfDCS, t30::buildDCSFif(6, false, false, 0), true);
    bad.BadFcs = true;
    rig.modem.Frames.push_back(bad);
    rig.modem.Frames.push_back(FakeModem::silence());
    callerSends(rig.modem, 1, false);
    rig.run();
    ASSERT_EQ(rig.events.Finishes, std::vector<int>{0});
    EXPECT_EQ(rig.modem.fcfs(),
              (std::vector<uint8_t>{t30::fcfCSI, t30::fcfDIS, t30::fcfCSI, t30::fcfDIS, t30::fcfCFR, t30::fcfMCF}));
    EXPECT_EQ(rig.fax.remoteID(), "CALLER");
}

// A DCS naming V.17 at 9600 is received with the V.17 modulation codes.
TEST(Class1Recovery, V17At9600IsReceivedWithV17Codes) {
    ReceiveRig rig;
    rig.modem.Frames.push_back(FakeModem::ident(t30::fcfTSI, "CALLER"));
    rig.modem.Frames.push_back(FakeModem::frame(t30::fcfDCS, {0x00, 0x26, 0x88, 0x00}, true));  // bits 11, 14
    rig.modem.RxData.push_back(std::vector<uint8_t>(tcfLength(9600), 0));
    rig.modem.RxData.push_back(page(1, 60));
    rig.modem.Frames.push_back(FakeModem::frame(t30::fcfEOP));
    rig.modem.Frames.push_back(FakeModem::frame(t30::fcfDCN));
    rig.run();
    ASSERT_EQ(rig.events.Finishes, std::vector<int>{0});
    EXPECT_EQ(rig.modem.countCommand("AT+FRM=97"), 1u);
    EXPECT_EQ(rig.modem.countCommand("AT+FRM=98"), 1u);
    EXPECT_EQ(rig.modem.countCommand("AT+FRM=96"), 0u);
}

// After EOM (a change of resolution) the far end's DIS may take longer than a plain response:
// the sender waits for it as in phase B (T1), not just the modem's response time.
TEST(Class1Recovery, DisAfterEomMayComeLate) {
    SendRig rig({0, kFaxFine});
    auto lateCsi = FakeModem::ident(t30::fcfCSI, "FAR END");
    lateCsi.DelayMs = 12000;
    remoteAnswers(rig.modem, true, 6,
                  {FakeModem::frame(t30::fcfCFR), FakeModem::frame(t30::fcfMCF), lateCsi, FakeModem::dis(true, 6),
                   FakeModem::frame(t30::fcfCFR), FakeModem::frame(t30::fcfMCF)});
    rig.run();
    EXPECT_EQ(rig.events.Finishes, std::vector<int>{0});
    EXPECT_EQ(countFcf(rig.modem, t30::fcfEOM), 1);
    EXPECT_EQ(countFcf(rig.modem, t30::fcfDCS), 2);
    ASSERT_EQ(rig.dcs().size(), 2u);
    EXPECT_TRUE(rig.dcs()[1].Fine);
}

// The page's carrier never comes (NO CARRIER to "AT+FRM="), then the caller's EOP: no page
// arrived, so it is answered RTN, never MCF, and the call that ends there keeps no fax.
TEST(Class1Recovery, PostPageCommandWithoutAPageIsAnsweredRtn) {
    ReceiveRig rig;
    callerSends(rig.modem, 1, false);
    rig.modem.NoCarrierOnFrm = 2;  // the training, then the page
    rig.run();
    EXPECT_EQ(rig.modem.fcfs(), (std::vector<uint8_t>{t30::fcfCSI, t30::fcfDIS, t30::fcfCFR, t30::fcfRTN}));
    rig.expectFailedWithNoFileKept();
}

// T.30 copy quality: a page is answered by what arrived. A page without its RTC is kept but asks
// for retraining (RTP); one with more than a tenth of its lines damaged is refused (RTN) and not
// kept, so the caller sends it again or reports it undelivered.
TEST(Class1Receive, PageIsAnsweredByItsCopyQuality) {
    std::vector<uint8_t> noRtc = page(0);
    noRtc.resize(noRtc.size() - sizeof faxtest::kEnd);
    std::vector<uint8_t> damaged = page(1);
    for (size_t i = 40; i < damaged.size() - sizeof faxtest::kEnd; i += 23) damaged[i] = 0xFF;
    // Single bits turned over, as a line hit does: mostly codes still valid, lines of the wrong
    // width that the decoder drops.
    std::vector<uint8_t> shortened = page(3);
    for (size_t i = 40; i < shortened.size() - sizeof faxtest::kEnd; i += 40) shortened[i] ^= 0x08;
    struct Case {
        const char* name;
        std::vector<uint8_t> data;
        uint8_t answer;
    };
    for (const Case& c :
         {Case{"whole", page(2), t30::fcfMCF}, Case{"without RTC", noRtc, t30::fcfRTP},
          Case{"damaged", damaged, t30::fcfRTN}, Case{"lines of the wrong width", shortened, t30::fcfRTN}}) {
        SCOPED_TRACE(c.name);
        ReceiveRig rig;
        callerSends(rig.modem, 1, false);
        rig.modem.RxData.back() = c.data;
        rig.run();
        EXPECT_EQ(rig.modem.fcfs(), (std::vector<uint8_t>{t30::fcfCSI, t30::fcfDIS, t30::fcfCFR, c.answer}));
        if (c.answer == t30::fcfRTN) {
            rig.expectFailedWithNoFileKept();
            continue;
        }
        EXPECT_EQ(rig.events.Finishes, std::vector<int>{0});
        telvane::faximage::OvfReader r;
        ASSERT_EQ(rig.stored.size(), 1u);
        ASSERT_EQ(r.open(rig.stored[0]), 0);
        EXPECT_EQ(r.pageCount(), 1);
    }
}

// After CFR the page's carrier never comes and the modem says nothing at all (no "+FCERROR", no
// NO CARRIER): when T2 runs out we listen for frames again, as T.30 does, and the caller's EOP
// is answered RTN instead of the call ending on our time-out.
TEST(Class1Recovery, SilenceInsteadOfThePageGoesBackToTheFrames) {
    ReceiveRig rig;
    callerSends(rig.modem, 1, false);
    rig.modem.RxData.pop_back();  // the page never comes: "AT+FRM=" hears nothing
    rig.run();
    EXPECT_EQ(rig.modem.fcfs(), (std::vector<uint8_t>{t30::fcfCSI, t30::fcfDIS, t30::fcfCFR, t30::fcfRTN}));
    EXPECT_GE(rig.modem.countCommand("AT+FRH=3"), 2u);
    rig.expectFailedWithNoFileKept();
}

// Our MCF to EOP is lost and the caller's repeated EOP arrives garbled (bad FCS): it is
// answered like the clean repeat, so the caller gets MCF and does not send the fax again.
TEST(Class1Recovery, GarbledRepeatOfEopGetsMcfAgain) {
    ReceiveRig rig;
    callerSends(rig.modem, 1, false);
    rig.modem.Frames.pop_back();  // DCN
    faxtest::RxFrame garbled = FakeModem::frame(t30::fcfEOP);
    garbled.BadFcs = true;
    rig.modem.Frames.push_back(garbled);
    rig.modem.Frames.push_back(FakeModem::frame(t30::fcfDCN));
    rig.run();
    ASSERT_EQ(rig.events.Finishes, std::vector<int>{0});
    EXPECT_EQ(rig.modem.fcfs(),
              (std::vector<uint8_t>{t30::fcfCSI, t30::fcfDIS, t30::fcfCFR, t30::fcfMCF, t30::fcfMCF}));
    EXPECT_EQ(rig.events.Logs, (std::vector<int>{4, 5}));
    EXPECT_EQ(faxtest::readPages(rig.stored.at(0)).size(), 1u);
}

// --- error correction (T.30 Annex A) in the Class 1 send machine ---
namespace {

// The far end's CSI and a DIS offering 2-D, ECM and T.6 as `offer` says, then `after`.
void remoteOffers(FakeModem& m, const ecm::CodingOffer& offer, int highest, std::vector<faxtest::RxFrame> after,
                  uint8_t scan = 0x70) {
    faxtest::RxFrame dis = FakeModem::dis(true, highest, scan);
    ecm::addCoding(dis.Fif, offer);
    m.Frames.push_back(FakeModem::ident(t30::fcfCSI, "FAR END"));
    m.Frames.push_back(dis);
    for (auto& f : after) m.Frames.push_back(f);
}
constexpr ecm::CodingOffer kFullOffer{true, true, true, false};

// A PPR for `frames`; `from` on, every bit is set too (as some receivers set those past the
// block's last frame).
faxtest::RxFrame ppr(std::initializer_list<int> frames, int from = ecm::kMaxFrames) {
    ecm::TFrameMap missing;
    for (int f : frames) missing.set(f);
    for (int f = from; f < ecm::kMaxFrames; ++f) missing.set(f);
    return FakeModem::frame(ecm::fcfPPR, ecm::buildPpr(missing, false).Fif);
}

// An ECM rig: the fax file's one page is `lines` lines of short runs (`flags`: its
// resolution), ECM wanted.
struct EcmRig : SendRig {
    std::vector<uint8_t> mh;
    explicit EcmRig(int lines, uint16_t flags = 0) {
        mh = faxtest::codedPage(7, lines);
        makeRawFaxFile(dir / "dense.ovf", {mh}, flags);
        fax.SetFaxFile(dir / "dense.ovf");
        fax.setDesiredECM(true);
    }
    // The frames of each page-data transmission that carried frames (the TCF carries none),
    // read back from its bit stream; each must end with three RCP and every frame be non-final.
    std::vector<std::vector<std::vector<uint8_t>>> carriers() const {
        std::vector<std::vector<std::vector<uint8_t>>> out;
        for (const auto& data : modem.TxData) {
            hdlc::THdlcDecoder decoder(ecm::kFrameSize + 4);
            std::vector<std::vector<uint8_t>> frames;
            decoder.feed(data.data(), data.size(), frames);
            EXPECT_EQ(decoder.badFrames(), 0);
            if (frames.empty()) continue;
            EXPECT_GE(frames.size(), 3u);
            for (size_t i = 0; i < frames.size(); ++i) {
                EXPECT_EQ(frames[i].at(1), t30::ctlNotFinal);
                EXPECT_EQ(frames[i].at(2), i + 3 < frames.size() ? ecm::fcfFCD : ecm::fcfRCP);
            }
            out.push_back(frames);
        }
        return out;
    }
    // The FCD frame numbers of each transmission, in the order sent.
    std::vector<std::vector<int>> transmissions() const {
        std::vector<std::vector<int>> out;
        for (const auto& frames : carriers()) {
            out.emplace_back();
            for (const auto& f : frames)
                if (f.at(2) == ecm::fcfFCD) out.back().push_back(f.at(3));
        }
        return out;
    }
    std::vector<ecm::PpsFields> pps() const {
        std::vector<ecm::PpsFields> v;
        for (const auto& f : modem.SentFrames) {
            if (ecm::classify(f.Fcf) != ecm::Frame::PPS) continue;
            ecm::PpsFields p;
            EXPECT_TRUE(ecm::parsePps(f.Fif.data(), f.Fif.size(), p));
            v.push_back(p);
        }
        return v;
    }
    // The page as the far end puts it together: each transmission's frames (the latest copy of
    // each), the block taken once the PPS after it finds it whole.
    std::vector<uint8_t> receivedPage() const {
        std::vector<uint8_t> page;
        ecm::TEcmBlockAssembler block;
        block.beginBlock(ecm::kFrameSize);
        const auto sent = carriers();
        const auto commands = pps();
        for (size_t i = 0; i < sent.size() && i < commands.size(); ++i) {
            for (const auto& f : sent[i])
                if (f.at(2) == ecm::fcfFCD) block.addFrame(f.data() + 3, f.size() - 3);
            if (block.complete(commands[i].Frames)) {
                block.Data(commands[i].Frames, page);
                block.beginBlock(ecm::kFrameSize);
            }
        }
        return page;
    }
};

std::vector<std::vector<uint8_t>> mhLines(const std::vector<uint8_t>& data) { return faxtest::mhRows(data); }

struct LineList final : telvane::faximage::FaxLineSink {
    std::vector<std::vector<uint8_t>> lines;
    void faxLine(const uint8_t* line, size_t bytes) override { lines.emplace_back(line, line + bytes); }
};

// Where each EOL of raw T.4 data ends: the index of its one (bit i is bit i % 8 of byte i / 8).
std::vector<size_t> eolEnds(const std::vector<uint8_t>& data) {
    std::vector<size_t> ends;
    size_t zeros = 0;
    for (size_t i = 0; i < data.size() * 8; ++i) {
        if (!((data[i / 8] >> (i % 8)) & 1)) {
            ++zeros;
            continue;
        }
        if (zeros >= 11) ends.push_back(i);
        zeros = 0;
    }
    return ends;
}

// The lines of an MR (or MMR) page; `ended`: it ended with its end code, nothing damaged.
std::vector<std::vector<uint8_t>> mrLines(const std::vector<uint8_t>& data, bool* ended,
                                          telvane::faximage::FaxCoding coding = telvane::faximage::FaxCoding::MR) {
    LineList l;
    telvane::faximage::FaxMrDecoder d(&l);
    d.reset(coding, 1728);
    d.feed(data.data(), data.size());
    d.finish();
    *ended = d.pageEnded() && d.damagedLines() == 0;
    return l.lines;
}

std::vector<std::vector<uint8_t>> mmrLines(const std::vector<uint8_t>& data, bool* ended) {
    return mrLines(data, ended, telvane::faximage::FaxCoding::MMR);
}

}  // namespace

// Both ends offer ECM and T.6: DCS selects them, the page goes out in MMR as FCD frames at the
// page speed (HDLC in page data, "AT+FTM=146") with three RCP, PPS-EOP names it; a PPR for
// frames 3 and 17 (and, as some receivers send, for every frame past the block) has exactly
// frames 3 and 17 sent again, and the frames put together decode to the page's lines.
TEST(Class1Ecm, PageGoesOutInMmrBlocksAndPprFramesAreSentAgain) {
    EcmRig rig(300);
    remoteOffers(rig.modem, kFullOffer, 6,
                 {FakeModem::frame(t30::fcfCFR), ppr({3, 17}, 100), FakeModem::frame(t30::fcfMCF)});
    rig.run();

    ASSERT_EQ(rig.events.Finishes, std::vector<int>{0});
    EXPECT_TRUE(rig.fax.errorControl());
    EXPECT_EQ(rig.fax.pagesConfirmed(), 1);
    ASSERT_EQ(rig.modem.SentFrames.size() > 1, true);
    const auto& dcs = rig.modem.SentFrames[1];
    ASSERT_EQ(dcs.Fcf, t30::fcfDCS);
    const ecm::CodingOffer chosen = ecm::parseCoding(dcs.Fif.data(), dcs.Fif.size());
    EXPECT_TRUE(chosen.Ecm);
    EXPECT_TRUE(chosen.T6);
    EXPECT_FALSE(chosen.Frames64);
    EXPECT_EQ(rig.modem.countCommand("AT+FTM=146"), 2u);

    const auto sent = rig.transmissions();
    ASSERT_EQ(sent.size(), 2u);
    ASSERT_GT(sent[0].size(), 17u);
    for (size_t i = 0; i < sent[0].size(); ++i) EXPECT_EQ(sent[0][i], static_cast<int>(i));
    EXPECT_EQ(sent[1], (std::vector<int>{3, 17}));

    const auto pps = rig.pps();
    ASSERT_EQ(pps.size(), 2u);
    for (const auto& p : pps) {
        EXPECT_EQ(p.Command, ecm::PostPage::EOP);
        EXPECT_EQ(p.Page, 0);
        EXPECT_EQ(p.Block, 0);
        EXPECT_EQ(p.Frames, static_cast<int>(sent[0].size()));
    }
    EXPECT_EQ(rig.modem.fcfs().back(), t30::fcfDCN);

    bool ended = false;
    const auto lines = mmrLines(rig.receivedPage(), &ended);
    EXPECT_TRUE(ended);
    EXPECT_EQ(lines, mhLines(rig.mh));
    EXPECT_EQ(lines.size(), 300u);
}

// A page longer than one block (256 frames of 256 octets) goes out as several: PPS-NULL after
// each block but the last, the block counter counting up, each block confirmed before the next.
TEST(Class1Ecm, LongPageIsSentInSeveralBlocks) {
    EcmRig rig(2500);
    remoteOffers(rig.modem, kFullOffer, 6,
                 {FakeModem::frame(t30::fcfCFR), FakeModem::frame(t30::fcfMCF), FakeModem::frame(t30::fcfMCF),
                  FakeModem::frame(t30::fcfMCF), FakeModem::frame(t30::fcfMCF)});
    rig.run();

    ASSERT_EQ(rig.events.Finishes, std::vector<int>{0});
    const auto pps = rig.pps();
    ASSERT_GE(pps.size(), 2u);
    for (size_t i = 0; i < pps.size(); ++i) {
        EXPECT_EQ(pps[i].Block, static_cast<int>(i));
        EXPECT_EQ(pps[i].Command, i + 1 < pps.size() ? ecm::PostPage::Null : ecm::PostPage::EOP);
        if (i + 1 < pps.size()) {
            EXPECT_EQ(pps[i].Frames, ecm::kMaxFrames);
        }
    }
    bool ended = false;
    EXPECT_EQ(mmrLines(rig.receivedPage(), &ended), mhLines(rig.mh));
    EXPECT_TRUE(ended);
}

// The fourth PPR for a block: CTC names the next lower speed; after CTR the missing frames go
// out at that speed with its long training. Where no lower speed is left the block is given up
// with EOR-EOP, and after ERR the call ends as sent.
TEST(Class1Ecm, FourthPprFallsBackWithCtcOrGivesTheBlockUpWithEor) {
    {
        EcmRig rig(100);
        remoteOffers(rig.modem, kFullOffer, 6,
                     {FakeModem::frame(t30::fcfCFR), ppr({1}), ppr({1}), ppr({1}), ppr({1}),
                      FakeModem::frame(ecm::fcfCTR), FakeModem::frame(t30::fcfMCF)});
        rig.run();
        ASSERT_EQ(rig.events.Finishes, std::vector<int>{0});
        size_t ctc = 0;
        for (const auto& f : rig.modem.SentFrames)
            if (ecm::classify(f.Fcf) == ecm::Frame::CTC) {
                ++ctc;
                EXPECT_EQ(ecm::parseCtc(f.Fif.data(), f.Fif.size()), 5);
            }
        EXPECT_EQ(ctc, 1u);
        EXPECT_EQ(rig.transmissions().size(), 5u);  // the block, three resends, the resend after CTR
        EXPECT_EQ(rig.transmissions().back(), std::vector<int>{1});
        EXPECT_EQ(rig.modem.countCommand("AT+FTM=121"), 1u);  // V.17 12000, long training
        EXPECT_EQ(rig.fax.connectBPS(), 12000);
        EXPECT_EQ(countFcf(rig.modem, ecm::fcfEOR | ecm::kXBit), 0);
    }
    {
        EcmRig rig(100);
        rig.fax.DesiredBPS = 2400;
        remoteOffers(
            rig.modem, kFullOffer, 6,
            {FakeModem::frame(t30::fcfCFR), ppr({2}), ppr({2}), ppr({2}), ppr({2}), FakeModem::frame(ecm::fcfERR)});
        rig.run();
        ASSERT_EQ(rig.events.Finishes, std::vector<int>{0});
        EXPECT_EQ(rig.transmissions().size(), 4u);
        ASSERT_EQ(countFcf(rig.modem, ecm::fcfEOR | ecm::kXBit), 1);
        for (const auto& f : rig.modem.SentFrames)
            if (ecm::classify(f.Fcf) == ecm::Frame::EOR) {
                ecm::PostPage command = ecm::PostPage::Null;
                EXPECT_TRUE(ecm::parseEor(f.Fif.data(), f.Fif.size(), command));
                EXPECT_EQ(command, ecm::PostPage::EOP);
            }
        EXPECT_EQ(rig.modem.fcfs().back(), t30::fcfDCN);
    }
}

// RNR is answered RR until the far end is ready; a far end that stays busy past T5 ends the
// fax with a time-out instead of holding the line.
TEST(Class1Ecm, RnrIsAnsweredWithRrUntilReadyOrT5) {
    {
        EcmRig rig(50);
        remoteOffers(rig.modem, kFullOffer, 6,
                     {FakeModem::frame(t30::fcfCFR), FakeModem::frame(ecm::fcfRNR), FakeModem::frame(ecm::fcfRNR),
                      FakeModem::frame(t30::fcfMCF)});
        rig.run();
        ASSERT_EQ(rig.events.Finishes, std::vector<int>{0});
        EXPECT_EQ(countFcf(rig.modem, ecm::fcfRR | ecm::kXBit), 2);
        EXPECT_EQ(rig.transmissions().size(), 1u);
    }
    {
        EcmRig rig(50);
        std::vector<faxtest::RxFrame> busy{FakeModem::frame(t30::fcfCFR)};
        for (int i = 0; i < 200; ++i) busy.push_back(FakeModem::frame(ecm::fcfRNR));
        remoteOffers(rig.modem, kFullOffer, 6, busy);
        rig.run();
        EXPECT_EQ(rig.events.Errors, std::vector<int>{errors::ecFatalTimeout});
        EXPECT_FALSE(rig.modem.Frames.empty());  // it gave up, not the script
        EXPECT_EQ(rig.fax.pagesConfirmed(), 0);
    }
}

// ECM only when both ends offer it and the user wants it. Without ECM, 2-D coding (which needs
// no option) when both ends offer it: DCS selects it (bit 16) and the page goes out as MR page
// data, read here bit by bit: a one-dimensional line (tag bit 1 after its EOL) opens the page
// and every K-th line (K 2 at standard, 4 at fine resolution), the others are two-dimensional
// (tag 0); each line with its EOL lasts the far end's 20 ms (36 bytes at 14400 bit/s); RTC is
// six EOL + 1 with nothing between them, and only the zeros of the last byte follow it. A far
// end without 2-D gets MH page data, filled the same way.
TEST(Class1Ecm, WithoutEcmThePageIsMrDataWhenBothOffer2DElseMh) {
    struct Case {
        bool wanted;
        ecm::CodingOffer remote;
        uint16_t flags;
        int k;  // 0: MH
    };
    const Case cases[] = {{true, {true, false, false, false}, 0, 2},
                          {false, kFullOffer, kFaxFine, 4},
                          {true, {false, false, false, false}, 0, 0},
                          {false, {false, true, true, false}, kFaxFine, 0}};
    constexpr size_t kMinLineBits = 36 * 8;
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "ECM wanted " << c.wanted << ", far 2-D " << c.remote.TwoD << ", K " << c.k);
        EcmRig rig(30, c.flags);
        rig.fax.setDesiredECM(c.wanted);
        remoteOffers(rig.modem, c.remote, 6, {FakeModem::frame(t30::fcfCFR), FakeModem::frame(t30::fcfMCF)}, 0x00);
        rig.run();
        ASSERT_EQ(rig.events.Finishes, std::vector<int>{0});
        const auto& dcs = rig.modem.SentFrames.at(1);
        const ecm::CodingOffer chosen = ecm::parseCoding(dcs.Fif.data(), dcs.Fif.size());
        EXPECT_FALSE(chosen.Ecm || chosen.T6);
        EXPECT_EQ(chosen.TwoD, c.k != 0);
        EXPECT_FALSE(rig.fax.errorControl());
        EXPECT_EQ(rig.fax.coding(), c.k ? telvane::faximage::FaxCoding::MR : telvane::faximage::FaxCoding::MH);
        ASSERT_EQ(rig.modem.TxData.size(), 2u);
        const auto& page = rig.modem.TxData[1];
        const auto rows = mhLines(rig.mh);
        if (c.k == 0) {
            EXPECT_EQ(mhLines(page), rows);
            for (size_t bits : codedLineBits(page)) EXPECT_GE(bits, kMinLineBits);
            continue;
        }
        const auto bit = [&page](size_t i) { return (page[i / 8] >> (i % 8)) & 1; };
        const std::vector<size_t> ends = eolEnds(page);
        ASSERT_EQ(ends.size(), rows.size() + 6);
        for (size_t i = 0; i < rows.size(); ++i) {
            EXPECT_EQ(bit(ends[i] + 1), i % static_cast<size_t>(c.k) == 0 ? 1 : 0) << "line " << i;
            EXPECT_GE(ends[i + 1] - ends[i], kMinLineBits) << "line " << i;
        }
        for (size_t i = rows.size(); i < ends.size(); ++i) {
            EXPECT_EQ(bit(ends[i] + 1), 1) << "RTC";
            if (i > rows.size()) {
                EXPECT_EQ(ends[i] - ends[i - 1], 13u) << "RTC";
            }
        }
        const size_t tail = ends.back() + 2;
        EXPECT_LT(page.size() * 8 - tail, 8u);
        for (size_t i = tail; i < page.size() * 8; ++i) EXPECT_EQ(bit(i), 0);
        bool ended = false;
        EXPECT_EQ(mrLines(page, &ended), rows);
        EXPECT_TRUE(ended);
    }
}

// --- error correction in the Class 1 receive machine ---
namespace {

// A page of `lines` lines of short runs coded in MMR, cut into 256-octet frames.
struct MmrPage {
    std::vector<std::vector<uint8_t>> rows;
    ecm::TEcmPageSplitter frames;
    explicit MmrPage(int lines) : rows(mhLines(faxtest::codedPage(5, lines))) {
        telvane::faximage::FaxMrCoder coder;
        coder.beginPage(telvane::faximage::FaxCoding::MMR, 1728);
        std::vector<uint8_t> data;
        for (const auto& row : rows) {
            const size_t n = coder.codeLine(row.data());
            data.insert(data.end(), coder.data(), coder.data() + n);
        }
        const size_t n = coder.endPage();
        data.insert(data.end(), coder.data(), coder.data() + n);
        frames.beginPage(ecm::kFrameSize);
        EXPECT_EQ(frames.append(data.data(), data.size()), data.size());
        frames.endPage();
    }
    // The page carrier of a transmission of `sent` frames, three RCP after them.
    std::vector<uint8_t> carrier(const std::vector<int>& sent) const {
        hdlc::THdlcEncoder bits;
        bits.addFlags(20);
        for (int f : sent) {
            std::vector<uint8_t> body{t30::kAddress, t30::ctlNotFinal, ecm::fcfFCD};
            const auto fif = frames.fcdFif(f);
            body.insert(body.end(), fif.begin(), fif.end());
            bits.addFrame(body);
        }
        for (int i = 0; i < 3; ++i) bits.addFrame({t30::kAddress, t30::ctlNotFinal, ecm::fcfRCP});
        bits.addFlags(2);
        return bits.bytes();
    }
    faxtest::RxFrame pps() const {
        const ecm::Content c = ecm::buildPps({ecm::PostPage::EOP, 0, 0, frames.frameCount()}, true);
        return FakeModem::frame(c.Fcf, c.Fif);
    }
    // Every frame number but `missing` (-1: all of them).
    std::vector<int> allBut(int missing) const {
        std::vector<int> sent;
        for (int f = 0; f < frames.frameCount(); ++f)
            if (f != missing) sent.push_back(f);
        return sent;
    }
    // A caller's TSI and DCS (14400, MMR with ECM), the training, the page's first carrier of
    // `sent` frames and its PPS, queued on `m`.
    void callUpToPps(FakeModem& m, const std::vector<int>& sent) const {
        auto dcs = t30::buildDCSFif(6, false, false, 0);
        ecm::addCoding(dcs, {false, true, true, false});
        m.Frames.push_back(FakeModem::ident(t30::fcfTSI, "CALLER"));
        m.Frames.push_back(FakeModem::frame(t30::fcfDCS, dcs, true));
        m.RxData.push_back(std::vector<uint8_t>(2592, 0));
        m.RxData.push_back(carrier(sent));
        m.Frames.push_back(pps());
    }
};

}  // namespace

// A block whose frame 2 never arrives: PPR names frame 2 each time; a CTC moves the next carrier
// to 12000 bit/s with its long training (after CTR); when the sender gives the block up (EOR-EOP,
// answered ERR) the page is kept with every line before the gap and the lost lines counted.
TEST(Class1EcmReceive, GivenUpBlockKeepsWhatArrivedAndCtcChangesTheSpeed) {
    ReceiveRig rig;
    rig.fax.setDesiredECM(true);
    const MmrPage page(60);
    ASSERT_GT(page.frames.frameCount(), 3);
    FakeModem& m = rig.modem;
    page.callUpToPps(m, page.allBut(2));
    const ecm::Content ctc = ecm::buildCtc(5, true);
    m.Frames.push_back(FakeModem::frame(ctc.Fcf, ctc.Fif));
    m.RxData.push_back(page.carrier({}));
    m.Frames.push_back(page.pps());
    const ecm::Content eor = ecm::buildEor(ecm::PostPage::EOP, true);
    m.Frames.push_back(FakeModem::frame(eor.Fcf, eor.Fif));
    m.Frames.push_back(FakeModem::frame(t30::fcfDCN));
    rig.run();

    ASSERT_EQ(rig.events.Finishes, std::vector<int>{0});
    EXPECT_EQ(rig.events.Logs, (std::vector<int>{4, 5}));
    EXPECT_TRUE(rig.fax.errorControl());
    EXPECT_EQ(rig.fax.codingText(), "MMR, ECM");
    EXPECT_EQ(rig.fax.connectBPS(), 12000);
    // Our answers: PPR (frame 2), CTR, PPR (frame 2), ERR.
    std::vector<uint8_t> answers;
    for (const auto& f : m.SentFrames)
        if (ecm::classify(f.Fcf) != ecm::Frame::Unknown) answers.push_back(f.Fcf);
    EXPECT_EQ(answers, (std::vector<uint8_t>{ecm::fcfPPR, ecm::fcfCTR, ecm::fcfPPR, ecm::fcfERR}));
    for (const auto& f : m.SentFrames)
        if (f.Fcf == ecm::fcfPPR) {
            ecm::TFrameMap missing;
            ASSERT_TRUE(ecm::parsePpr(f.Fif.data(), f.Fif.size(), missing));
            EXPECT_EQ(missing.frames(), std::vector<int>{2});
        }
    // The carrier after CTR: V.17 12000 with the long training, the next one with the short.
    EXPECT_EQ(m.countCommand("AT+FRM=121"), 1u);
    EXPECT_EQ(m.countCommand("AT+FRM=122"), 1u);

    ASSERT_EQ(rig.stored.size(), 1u);
    const auto pages = faxtest::readPages(rig.stored[0]);
    ASSERT_EQ(pages.size(), 1u);
    const auto kept = mhLines(pages[0]);
    ASSERT_GT(kept.size(), 0u);
    ASSERT_LT(kept.size(), page.rows.size());
    EXPECT_TRUE(std::equal(kept.begin(), kept.end(), page.rows.begin()));
    EXPECT_GT(rig.fax.damagedLines(), 0);
}

// The modem stops taking data (CTS low for good) in the middle of our PPR and never answers:
// the call ends with a time-out soon after instead of waiting for the modem for ever, and the
// page it never finished is not kept.
TEST(Class1EcmReceive, ModemThatStopsTakingOurPprEndsTheCall) {
    ReceiveRig rig;
    rig.fax.setDesiredECM(true);
    const MmrPage page(60);
    rig.modem.StallInFrame = ecm::fcfPPR;
    page.callUpToPps(rig.modem, page.allBut(2));
    int64_t stalledAt = -1;
    rig.fax.StartReceive();
    faxtest::drive(rig.fax, rig.modem);  // up to waiting for a call
    rig.modem.ring(1);
    faxtest::drive(rig.fax, rig.modem, [&] {
        if (stalledAt < 0 && rig.modem.stalled()) stalledAt = rig.modem.Now;
        return false;
    });
    ASSERT_GE(stalledAt, 0);
    EXPECT_EQ(rig.events.Finishes, std::vector<int>{errors::ecFatalTimeout});
    rig.expectFailedWithNoFileKept();
    EXPECT_LT(rig.modem.Now - stalledAt, 60000);  // the fake clock: within a minute of the stall
}

// A CTC names the rate to go on at as DCS bits 11-14, modulation included: after CTR the next
// carrier is received with that modulation's long training code (V.17 has its own codes at 9600
// and 7200, V.29 and V.27 ter theirs), and the block it completes is taken whole.
TEST(Class1EcmReceive, CtcRateIsReceivedWithTheModulationItNames) {
    struct Case {
        uint8_t rateBits;  // CTC FIF octet 2
        const char* code;
        long bps;
    };
    const Case cases[] = {{0x24, "97", 9600}, {0x2C, "73", 7200}, {0x04, "96", 9600},  {0x0C, "72", 7200},
                          {0x08, "48", 4800}, {0x00, "24", 2400}, {0x28, "121", 12000}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.code);
        ReceiveRig rig;
        rig.fax.setDesiredECM(true);
        const MmrPage page(60);
        FakeModem& m = rig.modem;
        page.callUpToPps(m, page.allBut(2));
        m.Frames.push_back(FakeModem::frame(static_cast<uint8_t>(ecm::fcfCTC | ecm::kXBit), {0x00, c.rateBits}));
        m.RxData.push_back(page.carrier({2}));
        m.Frames.push_back(page.pps());
        m.Frames.push_back(FakeModem::frame(t30::fcfDCN));
        rig.run();

        ASSERT_EQ(rig.events.Finishes, std::vector<int>{0});
        EXPECT_EQ(rig.fax.connectBPS(), c.bps);
        std::string carrierAfterCtr;
        for (const std::string& cmd : m.Commands)
            if (cmd.rfind("AT+FRM=", 0) == 0) carrierAfterCtr = cmd;
        EXPECT_EQ(carrierAfterCtr, std::string("AT+FRM=") + c.code);
        ASSERT_EQ(rig.stored.size(), 1u);
        const auto pages = faxtest::readPages(rig.stored[0]);
        ASSERT_EQ(pages.size(), 1u);
        EXPECT_EQ(mhLines(pages[0]), page.rows);
        EXPECT_EQ(rig.fax.damagedLines(), 0);
    }
}

// Receive mode answers call after call in one session: the lines lost in one fax (a block given
// up) are that fax's, not counted again for the next fax, which arrives whole.
TEST(Class1EcmReceive, DamagedLinesAreCountedPerFax) {
    ReceiveRig rig;
    rig.fax.OneFax = false;
    rig.fax.setDesiredECM(true);
    std::vector<long> damagedAtLog;
    rig.fax.OnFaxLog = [&](TOvxAbstractFax& cp, int c) {
        if (c == lfaxReceiveOk || c == lfaxReceivePartial) damagedAtLog.push_back(cp.damagedLines());
    };
    const MmrPage page(60);
    FakeModem& m = rig.modem;
    for (const bool giveUp : {true, false}) {
        page.callUpToPps(m, page.allBut(giveUp ? 2 : -1));
        if (giveUp) {
            // Frame 2 is asked for twice, does not come again, and the block is given up.
            m.RxData.push_back(page.carrier({}));
            m.Frames.push_back(page.pps());
            m.RxData.push_back(page.carrier({}));
            const ecm::Content eor = ecm::buildEor(ecm::PostPage::EOP, true);
            m.Frames.push_back(FakeModem::frame(eor.Fcf, eor.Fif));
        }
        m.Frames.push_back(FakeModem::frame(t30::fcfDCN));
    }
    rig.fax.StartReceive();
    faxtest::drive(rig.fax, m);
    for (int call = 0; call < 2; ++call) {
        m.ring(1);
        faxtest::drive(rig.fax, m);
    }
    rig.fax.CancelSession();
    faxtest::drive(rig.fax, m);

    ASSERT_EQ(damagedAtLog.size(), 2u);
    EXPECT_GT(damagedAtLog[0], 0);
    EXPECT_EQ(damagedAtLog[1], 0);
}
