// A scripted Class 2 / Class 2.0 modem with a fake clock, for driving the Class 2 machines in
// unit tests. It answers the "+F" commands the way EIA/TIA-592 and T.32 modems do: reports
// before the final result, CONNECT then (Class 2) XON before it takes page data, DLE
// transparency, page ends by DLE ETX or (Class 2.0) DLE "," ";" ".", the page transfer status,
// "+FET" and the hang-up report; on the receive side RING, the connection report, DC2 before
// page data and the status and post-page reports after it.
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
    bool SendXon = true;
    std::deque<char> PageStatus;                               // status digit per page sent (default '1')
    std::string FinalHangup = "0";                             // hang-up code after the last page
    std::map<std::string, std::vector<std::string>> Override;  // command prefix -> reply lines
    std::vector<std::string> RejectedCommands;                 // command prefixes answered ERROR
    std::function<void(const std::string&)> OnCommand;         // sees each command before the reply
    std::vector<std::string> PageEndReply;                     // Class 2.0: lines after a page end
    // Receiving: the pages the remote sends, each with its status and post-page digits.
    struct InPage {
        std::vector<uint8_t> Data;
        char Status = '1';
        char PostPage = '2';
        bool ErrorInstead = false;  // the modem answers ERROR instead of status and post-page
    };
    std::deque<InPage> Incoming;
    std::string IncomingId = "SENDER 1";
    std::string IncomingParams = "0,5,0,2,0,0,0,0";

    // --- what the machine did ---
    std::vector<std::string> Commands;
    std::vector<std::vector<uint8_t>> Pages;  // page data received, undoubled
    std::vector<char> PageEnds;               // ETX or the Class 2.0 codes
    int64_t ConnectAt = -1;                   // clock when CONNECT for page data was given
    int64_t FirstDataAt = -1;                 // clock when that page's first data byte arrived
    std::vector<int64_t> DataDelays;
    int Dc2Count = 0;

    void Ring(int times);
    size_t CountCommand(const std::string& prefix) const;
    int IndexOf(const std::string& prefix) const;
    bool HasInput() const { return !in_.empty(); }

    // TFaxLink (the rest: SimulatedLink)
    size_t Read(uint8_t* buf, size_t len) override;
    bool Write(const uint8_t* data, size_t len) override;
    size_t OutFree() override { return 8192; }
    size_t OutUsed() override { return 0; }
    void FlushIn() override { in_.clear(); }

private:
    void Line(const std::string& s);
    void Command(const std::string& cmd);
    void EndPage(char code);
    void SendIncomingPage();
    std::string N(const char* c2, const char* c20) const { return class20_ ? c20 : c2; }

    bool class20_;
    bool data_ = false;
    bool dle_ = false;
    bool waitDc2_ = false;
    bool done_ = false;
    std::string cmd_;
    std::deque<uint8_t> in_;
    std::vector<uint8_t> page_;
};

}  // namespace faxtest
