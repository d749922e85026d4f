// The faults that can reach every class, run against the Class 1, Class 2 and Class 2.0
// machines alike (each with its scripted modem and fake clock): a call lost in the middle of a
// page, a page that takes longer than a minute to arrive, a sender's page whose line time is
// longer than any fixed page-end wait, a modem that stops taking page data, and a call whose fax
// could not be stored, and a header line that must not make a page longer than its paper.
#include <gtest/gtest.h>

#include "support/tempdir.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "fakeclass2.h"
#include "fakemodem.h"
#include "rawt4.h"
#include "transport/fax/faxsession.h"
#include "transport/fax/t30.h"
#include "errors/errors.h"
#include "faximage/mhdecoder.h"
#include "faximage/ovffile.h"

using namespace telvane::transport;
using faxtest::FakeClass2;
using faxtest::FakeModem;
using telvane::errors::ecFatalTimeout;
using telvane::errors::EOvxException;

namespace {

using Dir = telvane::test::TempDir;

enum class Machine { Class1, Class2, Class20 };
constexpr Machine kEveryClass[] = {Machine::Class1, Machine::Class2, Machine::Class20};

const char* Name(Machine m) {
    switch (m) {
    case Machine::Class1: return "Class 1";
    case Machine::Class2: return "Class 2";
    case Machine::Class20: return "Class 2.0";
    }
    return "";
}

std::vector<uint8_t> page(int seed, int lines = 100) { return faxtest::codedPage(seed, lines); }

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// What a session left behind: its events, the fax files with their pages' data, the history.
struct Outcome {
    std::vector<int> Logs, Finishes;
    std::vector<std::vector<std::vector<uint8_t>>> Files;  // per fax file, its pages' data
    int Confirmed = 0;
    std::string History;
    int64_t Now = 0;  // the modem's fake clock when the session ended
    bool InProgress = false;
    std::vector<uint8_t> SentPage;              // the last page's data as the modem got it
    std::vector<std::pair<int, int>> Progress;  // each status shown: progress code, pages confirmed
};

void attach(TOvxCustomAbstractFax& fax, Outcome& out) {
    fax.OnFaxLog = [&out](TOvxAbstractFax&, int c) { out.Logs.push_back(c); };
    fax.OnFaxFinish = [&out](TOvxAbstractFax&, int c) { out.Finishes.push_back(c); };
}

void collect(const Dir& dir, faxtest::SimulatedLink& modem, TOvxCustomAbstractFax& fax, Outcome& out) {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir.dir()))
        if (e.path().extension() == ".OVF") names.push_back(e.path().string());
    std::sort(names.begin(), names.end());
    for (const auto& n : names) out.Files.push_back(faxtest::readPages(n));
    out.Confirmed = fax.pagesConfirmed();
    out.History = readFile(dir / "OVEXFAX.HIS");
    out.Now = modem.Now;
    out.InProgress = fax.inProgress();
}

// A call to receive: the pages the far end sends (each answered before the next), where the
// call is lost (half-way through page `lostInPage`, 1-based; 0: never), and the pace at which
// page data arrives (pieces of `chunk` bytes, `chunkMs` apart; 0: all at once).
struct Incoming {
    std::vector<std::vector<uint8_t>> Pages;
    int LostInPage = 0;
    long Chunk = 0;
    int64_t ChunkMs = 0;
};

Outcome Receive(Machine m, const Incoming& call) {
    Dir dir;
    Outcome out;
    TOvxReceiveFax fax;
    TOvxFaxLog history;
    fax.setDestinationDir(dir.dir());
    fax.setStationID("OUR STATION");
    fax.DesiredBPS = 9600;
    fax.OneFax = true;
    history.FaxHistoryName = dir / "OVEXFAX.HIS";
    fax.FaxLog = &history;
    attach(fax, out);
    const size_t n = call.Pages.size();
    if (m == Machine::Class1) {
        FakeModem modem;
        modem.Frames.push_back(FakeModem::ident(t30::fcfTSI, "CALLER"));
        modem.Frames.push_back(FakeModem::frame(t30::fcfDCS, t30::buildDCSFif(4, false, false, 0), true));
        modem.RxData.push_back(std::vector<uint8_t>(1728, 0));  // TCF at 9600
        for (size_t p = 0; p < n; ++p) {
            modem.RxData.push_back(call.Pages[p]);
            modem.Frames.push_back(FakeModem::frame(p + 1 < n ? t30::fcfMPS : t30::fcfEOP));
        }
        modem.Frames.push_back(FakeModem::frame(t30::fcfDCN));
        if (call.LostInPage > 0) modem.VanishInRxData = call.LostInPage + 1;  // the first reception is TCF
        modem.RxChunk = call.Chunk;
        modem.RxChunkMs = call.ChunkMs;
        fax.useLinkForTesting(&modem);
        fax.StartReceive();
        faxtest::drive(fax, modem);
        modem.ring(1);
        faxtest::drive(fax, modem);
        collect(dir, modem, fax, out);
    } else {
        FakeClass2 modem(m == Machine::Class20);
        modem.IncomingParams = "0,3,0,2,0,0,0,0";
        for (size_t p = 0; p < n; ++p) {
            FakeClass2::InPage in;
            in.Data = call.Pages[p];
            in.PostPage = p + 1 < n ? '0' : '2';
            if (static_cast<int>(p) + 1 == call.LostInPage) in.HangupAfter = static_cast<long>(in.Data.size() / 2);
            modem.Incoming.push_back(in);
        }
        modem.IncomingChunk = call.Chunk;
        modem.IncomingChunkMs = call.ChunkMs;
        fax.setFaxClass(m == Machine::Class20 ? fcClass2_0 : fcClass2);
        fax.useLinkForTesting(&modem);
        fax.StartReceive();
        faxtest::drive(fax, modem, [&modem] { return !modem.States.empty() && modem.States.back() == "rfWaiting"; });
        modem.ring(1);
        faxtest::drive(fax, modem);
        collect(dir, modem, fax, out);
    }
    return out;
}

// A fax to send, one page of `lines` blank lines at 2400 bit/s, to a modem that takes the data
// at once and answers the page's end when the line has carried it, or (stallAfter >= 0) stops
// taking data after that many bytes and never answers. With `rawPage` the page is that raw
// data instead of line records; `header` is the header line drawn above the page.
Outcome send(Machine m, int lines, long stallAfter, const std::string& header = "",
             const std::vector<uint8_t>* rawPage = nullptr, bool cancelAtPageEnd = false) {
    Dir dir;
    Outcome out;
    TOvxSendFax fax;
    TOvxFaxLog history;
    if (rawPage) {
        telvane::faximage::OvfWriter w;
        EXPECT_EQ(w.create(dir / "doc.ovf"), 0);
        w.beginPage(0);
        w.append(rawPage->data(), rawPage->size());
        w.endPage();
        w.close();
    } else {
        faxtest::makeFaxFile(dir / "doc.ovf", {0}, lines);
    }
    fax.SetFaxFile(dir / "doc.ovf");
    fax.HeaderLine = header;
    fax.OnFaxStatus = [&out, cancelAtPageEnd](TOvxAbstractFax& f, bool, bool) {
        auto& send = static_cast<TOvxSendFax&>(f);
        out.Progress.emplace_back(send.faxProgress(), send.pagesConfirmed());
        if (cancelAtPageEnd && send.faxProgress() == fpSendPageStatus) send.CancelSession();
    };
    fax.PhoneNumber = "5550100";
    fax.setStationID("OUR STATION");
    fax.DesiredBPS = 2400;
    history.FaxHistoryName = dir / "OVEXFAX.HIS";
    fax.FaxLog = &history;
    attach(fax, out);
    if (m == Machine::Class1) {
        FakeModem modem;
        modem.Frames.push_back(FakeModem::ident(t30::fcfCSI, "FAR END"));
        modem.Frames.push_back(FakeModem::dis(false, 6));
        modem.Frames.push_back(FakeModem::frame(t30::fcfCFR));
        modem.Frames.push_back(FakeModem::frame(t30::fcfMCF));
        modem.BufferedBps = 2400;
        modem.StallAfterPageBytes = stallAfter;
        fax.useLinkForTesting(&modem);
        fax.StartSend();
        faxtest::drive(fax, modem);
        collect(dir, modem, fax, out);
        if (!modem.TxData.empty()) out.SentPage = modem.TxData.back();
    } else {
        FakeClass2 modem(m == Machine::Class20);
        modem.Negotiated = "0,0,0,2,0,0,0,0";  // 2400 bit/s
        modem.LineBps = 2400;
        modem.StallAfterPageBytes = stallAfter;
        fax.setFaxClass(m == Machine::Class20 ? fcClass2_0 : fcClass2);
        fax.useLinkForTesting(&modem);
        fax.StartSend();
        faxtest::drive(fax, modem);
        collect(dir, modem, fax, out);
        if (!modem.Pages.empty()) out.SentPage = modem.Pages.back();
    }
    return out;
}

// The rows a page's data decodes to.
std::vector<std::string> pageRows(const std::vector<uint8_t>& data) {
    struct Sink final : telvane::faximage::FaxLineSink {
        std::vector<std::string> rows;
        void faxLine(const uint8_t* line, size_t bytes) override {
            rows.emplace_back(reinterpret_cast<const char*>(line), bytes);
        }
    } sink;
    telvane::faximage::FaxLineDecoder decoder(&sink);
    decoder.feed(data.data(), data.size());
    decoder.finish();
    return sink.rows;
}

// Waits for a call with `modem`, takes the destination directory away, then lets the phone
// ring: the finish codes, and how often the machine answered.
template <typename Modem>
std::pair<std::vector<int>, size_t> ringWithoutDestination(Modem& modem, TOvxReceiveFax& fax, const Dir& dir) {
    Outcome out;
    attach(fax, out);
    std::filesystem::create_directories(dir / "in");
    fax.setDestinationDir(dir / "in");
    fax.OneFax = true;
    fax.useLinkForTesting(&modem);
    fax.StartReceive();
    faxtest::drive(fax, modem, [&modem] { return !modem.States.empty() && modem.States.back() == "rfWaiting"; });
    std::filesystem::remove(dir / "in");
    modem.ring(1);
    faxtest::drive(fax, modem);
    return {out.Finishes, modem.countCommand("ATA")};
}

}  // namespace

// A fax is only answered when it can be stored: a receive started on a missing directory fails
// at once, and a call that rings after the directory went is not answered ("Path not found").
TEST(EveryClass, CallWhoseFaxCannotBeStoredIsNotAnswered) {
    {
        Dir dir;
        TOvxReceiveFax fax;
        FakeModem modem;
        fax.useLinkForTesting(&modem);
        fax.setDestinationDir(dir / "missing");
        EXPECT_THROW(fax.StartReceive(), EOvxException);
        EXPECT_FALSE(fax.inProgress());
        EXPECT_TRUE(modem.Commands.empty());
    }
    for (const Machine m : kEveryClass) {
        SCOPED_TRACE(Name(m));
        Dir dir;
        TOvxReceiveFax fax;
        std::pair<std::vector<int>, size_t> result;
        if (m == Machine::Class1) {
            FakeModem modem;
            result = ringWithoutDestination(modem, fax, dir);
        } else {
            FakeClass2 modem(m == Machine::Class20);
            modem.Incoming.push_back({page(1)});
            fax.setFaxClass(m == Machine::Class20 ? fcClass2_0 : fcClass2);
            result = ringWithoutDestination(modem, fax, dir);
        }
        EXPECT_EQ(result.first, std::vector<int>{telvane::errors::ecPathNotFound});
        EXPECT_EQ(result.second, 0u);
    }
}

// The call is lost half-way through page 2, after page 1 was confirmed: the fax is kept with
// page 1, logged as received in part ("Receive incomplete"), and the session reports the
// failure. A call lost in page 1 leaves no file: nothing was confirmed.
TEST(EveryClass, CallLostInPageTwoKeepsTheConfirmedPage) {
    for (const Machine m : kEveryClass) {
        SCOPED_TRACE(Name(m));
        const Outcome out = Receive(m, {{page(1), page(2)}, 2});
        EXPECT_FALSE(out.InProgress);
        ASSERT_EQ(out.Finishes.size(), 1u);
        EXPECT_LT(out.Finishes[0], 0);
        EXPECT_EQ(out.Logs, (std::vector<int>{lfaxReceiveStart, lfaxReceivePartial}));
        EXPECT_EQ(out.Confirmed, 1);
        ASSERT_EQ(out.Files.size(), 1u);
        EXPECT_EQ(out.Files[0], std::vector<std::vector<uint8_t>>{page(1)});
        EXPECT_NE(out.History.find("Receive incomplete at "), std::string::npos) << out.History;
        EXPECT_NE(out.History.find(", 1 page kept"), std::string::npos) << out.History;
    }
    for (const Machine m : kEveryClass) {
        SCOPED_TRACE(Name(m));
        const Outcome out = Receive(m, {{page(1), page(2)}, 1});
        EXPECT_EQ(out.Logs, (std::vector<int>{lfaxReceiveStart, lfaxReceiveFail}));
        EXPECT_EQ(out.Confirmed, 0);
        EXPECT_TRUE(out.Files.empty());
    }
}

// A dense page arriving for about 75 s (a second between pieces of its data) is received
// whole: the page timer only runs while nothing arrives.
TEST(EveryClass, PageLongerThanAMinuteIsReceived) {
    const std::vector<uint8_t> dense = page(3, 1500);
    ASSERT_GT(dense.size(), 75000u);
    for (const Machine m : kEveryClass) {
        SCOPED_TRACE(Name(m));
        const Outcome out = Receive(m, {{dense}, 0, 1200, 1000});
        EXPECT_EQ(out.Finishes, std::vector<int>{0});
        EXPECT_EQ(out.Logs, (std::vector<int>{lfaxReceiveStart, lfaxReceiveOk}));
        EXPECT_GT(out.Now, 70000);
        ASSERT_EQ(out.Files.size(), 1u);
        EXPECT_EQ(out.Files[0], std::vector<std::vector<uint8_t>>{dense});
    }
}

// 12,000 lines at 2400 bit/s: the modem holds about 240 s of line time when our own buffer is
// empty. The answer to the page's end is awaited that long (and more), not a fixed time.
TEST(EveryClass, PageEndIsAwaitedForTheLineTimeOfTheQueuedData) {
    for (const Machine m : kEveryClass) {
        SCOPED_TRACE(Name(m));
        const Outcome out = send(m, 12000, -1);
        EXPECT_EQ(out.Finishes, std::vector<int>{0});
        EXPECT_EQ(out.Logs, (std::vector<int>{1, 2}));
        EXPECT_EQ(out.Confirmed, 1);
        EXPECT_GT(out.Now, 200000);  // the fake clock: the page really took that long
    }
}

// The modem stops taking page data and says nothing: the fax fails with a time-out within the
// page timer's reach instead of "Sending page data" for ever, and no page counts as sent.
TEST(EveryClass, ModemThatStopsTakingPageDataEndsTheSend) {
    for (const Machine m : kEveryClass) {
        SCOPED_TRACE(Name(m));
        const Outcome out = send(m, 2000, 3000);
        EXPECT_FALSE(out.InProgress);
        EXPECT_EQ(out.Finishes, std::vector<int>{ecFatalTimeout});
        EXPECT_EQ(out.Logs, (std::vector<int>{1, 3}));
        EXPECT_EQ(out.Confirmed, 0);
        EXPECT_LT(out.Now, 120000);
    }
}

// The header line is drawn over the page's top margin: a page of line records and a raw page
// with 40 white rows at the top keep their number of rows, and every row below the header is
// the page's own. A raw page drawn on from its first row loses nothing: the header goes above it.
TEST(EveryClass, HeaderLineKeepsThePageLength) {
    std::vector<uint8_t> margin = faxtest::rawT4Page(40);
    margin.resize(margin.size() - sizeof faxtest::kEnd);  // the rows without their RTC
    const std::vector<uint8_t> drawn = page(4, 60);
    std::vector<uint8_t> withMargin = margin;
    withMargin.insert(withMargin.end(), drawn.begin(), drawn.end());
    const auto marginRows = pageRows(withMargin), drawnRows = pageRows(drawn);
    ASSERT_EQ(marginRows.size(), 100u);
    ASSERT_EQ(drawnRows.size(), 60u);
    for (const Machine m : kEveryClass) {
        SCOPED_TRACE(Name(m));
        const Outcome records = send(m, 100, -1, "FROM OUR STATION");
        EXPECT_EQ(records.Finishes, std::vector<int>{0});
        EXPECT_EQ(pageRows(records.SentPage).size(), 100u);

        const Outcome raw = send(m, 0, -1, "FROM OUR STATION", &withMargin);
        EXPECT_EQ(raw.Finishes, std::vector<int>{0});
        const auto sent = pageRows(raw.SentPage);
        ASSERT_EQ(sent.size(), marginRows.size());
        const auto firstBlack = [](const std::vector<std::string>& rows) {
            return std::find_if(rows.begin(), rows.end(),
                                [](const std::string& r) { return r.find_first_not_of('\0') != std::string::npos; });
        };
        // The header's own rows hold black; below them the page's white rows, then its drawing.
        const auto header = firstBlack(sent);
        ASSERT_NE(header, sent.end());
        EXPECT_LT(header - sent.begin(), 40);
        EXPECT_TRUE(std::equal(sent.end() - 60, sent.end(), marginRows.end() - 60));

        const Outcome full = send(m, 0, -1, "FROM OUR STATION", &drawn);
        const auto fullRows = pageRows(full.SentPage);
        ASSERT_GT(fullRows.size(), drawnRows.size());
        EXPECT_TRUE(std::equal(fullRows.end() - 60, fullRows.end(), drawnRows.begin()));
    }
}

// A page counts as sent only when the far end has confirmed it: the status after its data
// ("Sending EOP") comes with no page confirmed, the page-accepted status with one; a session
// cancelled between the two never reports the page accepted and confirms nothing.
TEST(EveryClass, PageIsSentOnlyOnceConfirmed) {
    const auto find = [](const Outcome& o, int code) {
        return std::find_if(o.Progress.begin(), o.Progress.end(), [code](const auto& p) { return p.first == code; });
    };
    for (const Machine m : kEveryClass) {
        SCOPED_TRACE(Name(m));
        const Outcome sent = send(m, 100, -1);
        EXPECT_EQ(sent.Finishes, std::vector<int>{0});
        const auto pageEnd = find(sent, fpSendPageStatus), accepted = find(sent, fpPageOK);
        ASSERT_NE(pageEnd, sent.Progress.end());
        ASSERT_NE(accepted, sent.Progress.end());
        EXPECT_LT(pageEnd, accepted);
        EXPECT_EQ(pageEnd->second, 0);
        EXPECT_EQ(accepted->second, 1);

        const Outcome cancelled = send(m, 100, -1, "", nullptr, true);
        EXPECT_EQ(cancelled.Finishes, std::vector<int>{telvane::errors::ecCancelRequested});
        EXPECT_NE(find(cancelled, fpSendPageStatus), cancelled.Progress.end());
        EXPECT_EQ(find(cancelled, fpPageOK), cancelled.Progress.end());
        EXPECT_EQ(cancelled.Confirmed, 0);
    }
}
