// A scripted Class 2 / Class 2.0 modem with a fake clock, for driving the Class 2 machines in
// unit tests. It answers the "+F" commands the way EIA/TIA-592 and T.32 modems do: reports
// before the final result, CONNECT then (Class 2) XON before it takes page data, DLE
// transparency, page ends by DLE ETX or (Class 2.0) DLE "," ";" ".", the page transfer status,
// "+FET" and the hang-up report; on the receive side RING, the connection report, DC2 before
// page data and the status and post-page reports after it. Like real modems it may take a
// page's data faster than the line carries it and answer its end only when the line has,
// deliver received data at the line's pace, stop taking data, or lose the call mid-page.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "transport/fax/faxlink.h"
#include "transport/fax/simulatedlink.h"
#include "transport/fax/faxsession.h"

namespace faxtest {

class FakeClass2 final : public SimulatedLink {
public:
    explicit FakeClass2(bool class20) : class20_(class20) {}

    // --- script ---
    std::string ClassReply = "0,1,2,2.0";
    std::string DialResult = "CONNECT";  // CONNECT: a fax answers; else BUSY, NO CARRIER, "" (silence)
    std::string RemoteId = "FAR END";
    std::string RemoteCaps = "1,5,0,2,0,0,0,0";
    std::string Negotiated = "1,5,0,2,0,0,0,0";
    std::string FlowReply = "(0-2)";                                            // to "AT+FLO=?"
    std::string RangesReply = "(0,1),(0-5),(0-2),(0-2),(0-3),(0-2),(0),(0-7)";  // to "AT+FDIS=?" and the like
    bool SendXon = true;
    std::deque<char> PageStatus;                               // status digit per page sent (default '1')
    std::string FinalHangup = "0";                             // hang-up code after the last page
    std::map<std::string, std::vector<std::string>> Override;  // command prefix -> reply lines
    std::vector<std::string> RejectedCommands;                 // command prefixes answered ERROR
    std::function<void(const std::string&)> OnCommand;         // sees each command before the reply
    std::vector<std::string> PageEndReply;                     // Class 2.0: lines after a page end
    long LineBps = 0;               // sending: a page's end is answered when the line has carried it
    long StallAfterPageBytes = -1;  // sending: the modem takes no more page data after this many
    // Receiving: the pages the remote sends, each with its status and post-page digits.
    struct InPage {
        std::vector<uint8_t> Data;
        char Status = '1';
        char PostPage = '2';
        bool ErrorInstead = false;  // the modem answers ERROR instead of status and post-page
        long HangupAfter = -1;      // the call is lost after this many bytes of the page
    };
    std::deque<InPage> Incoming;
    std::string IncomingId = "SENDER 1";
    std::string IncomingParams = "0,5,0,2,0,0,0,0";
    long IncomingChunk = 0;        // received data comes in pieces of this size...
    int64_t IncomingChunkMs = 0;   // ...this far apart
    bool ReverseIncoming = false;  // received data is handed over in reversed bit order

    // --- what the machine did ---
    std::vector<std::string> Commands;
    std::vector<std::vector<uint8_t>> Pages;  // page data received, undoubled
    std::vector<char> PageEnds;               // ETX or the Class 2.0 codes
    int64_t ConnectAt = -1;                   // clock when CONNECT for page data was given
    int64_t FirstDataAt = -1;                 // clock when that page's first data byte arrived
    std::vector<int64_t> DataDelays;
    int Dc2Count = 0;
    std::vector<bool> FlowDuringPage;  // whether output flow control was on while each page came

    void ring(int times);
    size_t countCommand(const std::string& prefix) const;
    int indexOf(const std::string& prefix) const;
    bool hasInput() const override { return !in_.empty() || (!later_.empty() && Now >= later_.front().Due); }
    int64_t nextEventMs() const override { return later_.empty() ? -1 : later_.front().Due; }
    bool stalled() const override { return stalled_; }

    // TFaxLink (the rest: SimulatedLink)
    size_t read(uint8_t* buf, size_t len) override;
    bool write(const uint8_t* data, size_t len) override;
    size_t outFree() override { return stalled_ ? 0 : 8192; }
    size_t outUsed() override { return stalled_ ? 8192 : 0; }
    void flushIn() override { in_.clear(); }

private:
    void line(const std::string& s);
    void lineAt(int64_t due, const std::string& s);
    void bytes(int64_t due, std::vector<uint8_t> bytes);
    void command(const std::string& cmd);
    void endPage(char code);
    void sendIncomingPage();
    std::string n(const char* c2, const char* c20) const { return class20_ ? c20 : c2; }

    bool class20_;
    bool data_ = false;
    bool dle_ = false;
    bool waitDc2_ = false;
    bool done_ = false;
    bool stalled_ = false;
    long pageBytes_ = 0;
    std::string cmd_;
    std::deque<uint8_t> in_;
    struct Timed {
        int64_t Due;
        std::vector<uint8_t> Bytes;
    };
    std::deque<Timed> later_;  // input that arrives by itself, in order
    std::vector<uint8_t> page_;
};

}  // namespace faxtest
