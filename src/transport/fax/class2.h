// The Class 2 and Class 2.0 send and receive machines: the modem runs T.30 itself and is driven
// with the "+F" commands of EIA/TIA-592 (Class 2.0, ITU-T T.32) and the earlier Class 2 set;
// the program reads the modem's "+F" reports. Also the start of a session whose class is to be
// detected: init strings, "AT+FCLASS=?", then the machine of the best class takes over.
// Guarantees: every failure path closes the file, logs its code, hangs up and reports the error
// once; a hang-up report's code is stored before anything else is done with it; a received page
// stays in the file only when the modem reported it good and the readers can show it; every page
// of a call goes into one fax file; lines are matched as "+F" reports before result words, and
// reports by their exact name, so a remote ID such as "OK", "RING" or "FHNG" is never taken for
// a result or a hang-up.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "transport/fax/class1.h"
#include "transport/fax/faxframework.h"
#include "transport/fax/faxreceiver.h"
#include "transport/fax/faxsender.h"
#include "transport/fax/t30timers.h"
#include "transport/fax/t4fill.h"

namespace telvane::transport {

class TOvxCustomSendFax;
class TOvxCustomReceiveFax;

// Command and report names of a class ("DIS" / "IS" ...). Commands are "AT+F" + name, reports
// "+F" + name. PageStatus is also the command that sets the answer to a received page ("AT+FPTS="
// / "AT+FPS="); Abort is "AT+FK" in Class 2 and "AT+FKS" in Class 2.0; BitOrder sets the bit
// order of page data ("AT+FBOR=" / "AT+FBO=").
struct TClass2Names {
    std::string SelectClass, Model, Manufacturer, Revision;
    std::string SessionCmd, LocalIdCmd, CapabilitiesCmd;
    std::string Connect, RemoteCaps, Negotiated, TransmitId, CalledId, PageStatus, Hangup;
    std::string Abort, BitOrder;
};
TClass2Names class2Names(TFaxClass c);

// A parameter report (vr,br,wd,ln,df,ec,bf,st) read after its colon. Fields are separated by
// commas and read as hexadecimal numbers (Class 2.0 reports bit maps such as "3" for VR).
struct TClass2Params {
    bool Fine = false;
    long Bps = 9600;
    bool Wide = false;
    bool Ecm = false;
    int ScanCode = 0;
};
TClass2Params parseClass2Params(std::string_view report);
// The session parameters sent with AT+FDIS= / AT+FIS=: "1,5,0,2,0,1,0,0" and the like.
std::string class2SessionParams(bool fine, char bpsDigit, bool wide, bool ecm);
// The hang-up code of a hang-up report: the first three characters after the colon, trimmed.
std::string class2HangupCode(std::string_view report);
// What a hang-up code means (T.32 hang-up status codes, shared by Class 2 modems).
std::string hangupReason(std::string_view code);
// What a modem offers for its session parameters (the reply to "AT+FDIS=?" / "AT+FIS=?" or
// "AT+FDCC=?" / "AT+FCC=?", one parenthesised list of values or "a-b" ranges per parameter):
// the highest bit-rate digit and whether error correction can be had. Valid is false when the
// reply could not be read (then nothing is limited).
struct TClass2Ranges {
    bool Valid = false;
    int MaxBitRate = 5;
    bool Ecm = true;
    // Limits a desired bit-rate digit and error correction to what the modem offers.
    void clamp(char& bpsDigit, bool& ecm) const;
};
TClass2Ranges parseClass2Ranges(std::string_view reply);
// Whether a reply listing values ("(0-2)", "0,1,2", "(0,1)") offers `value`.
bool rangeOffers(std::string_view reply, int value);
// A remote ID as reported: a leading quote becomes a blank, trailing characters that are not
// letters or digits go, the rest is trimmed.
std::string cleanClass2Id(std::string_view report);
// Whether `line` is the report "+F" + name (followed by a colon, a blank or nothing).
bool isClass2Report(std::string_view line, std::string_view name);
// The text after the report's colon, trimmed.
std::string reportValue(std::string_view line);
// Whether `line` is a "+F" report of any name (leading blanks aside).
bool isClass2ReportLine(std::string_view line);

// Builds the machine for a session: the class's own, or the detecting start when the class
// is fcDetect or fcUnknown.
std::unique_ptr<TFaxMachine> makeSendMachine(TOvxCustomSendFax& fax, TFaxLink& link);
std::unique_ptr<TFaxMachine> makeReceiveMachine(TOvxCustomReceiveFax& fax, TFaxLink& link);

class TClass2Sender final : public TFaxSender {
public:
    TClass2Sender(TOvxCustomSendFax& fax, TFaxLink& link, TFaxClass cls);
    ~TClass2Sender() override;

protected:
    void onStart() override;
    void onLine(TResult r, const std::string& line) override;
    void onFrame(const hdlc::TFrame&) override {}
    void onFrameFailed(TResult) override {}
    void onData(const uint8_t*, size_t, bool) override {}
    void onTimeout() override;
    void onOutput() override;
    bool onByte(uint8_t c) override;
    const TStateChanges& stateChanges() const override;
    void newFax() override;
    void startFax() override;
    void endPageData() override;
    void pageDataWritten(size_t bytes) override;
    // Raw page data gets fill for the negotiated minimum scan time, as the header and cover lines
    // do: a modem that pads by itself adds nothing to lines that are long enough already, and
    // one that does not would otherwise send short lines faster than the receiver takes them.
    TFillInserter* rawDataFiller() override { return minBytes_ > 0 ? &filler_ : nullptr; }
    void fail(int code) override;

private:
    // One command of the set-up before the dial: its state, whether ERROR may answer it (a
    // question the modem need not know), the command (made when it is due; empty: left out) and
    // what is done with its reply lines.
    struct TStep {
        int State;
        bool Optional;
        std::function<std::string()> MakeCommand;
        std::function<void(const std::string& reply)> TakeReply;
    };
    bool is20() const { return cls_ == fcClass2_0; }
    long sessionBps() const { return session_.Bps > 0 ? session_.Bps : 9600; }
    void command(const std::string& cmd, int next, int64_t ticks = t30::kT3Ticks);
    void startUp();
    void nextStep();
    void initLine(TResult r, const std::string& line);
    std::string sessionParams(size_t index) const;
    void dial();
    void sendFDT();
    void report(const std::string& line);
    void beginData();
    void startData();
    void startPage();
    int64_t pageEndTicks();
    void pageAccepted();
    void pageRejected();
    void afterPageOk();
    void retransmit();
    // The modem's lines in each state (OnLine).
    void tf2ConnectLine(TResult r);
    void tf2GetParamsLine(TResult r);
    void tf2SndNwPrmLine(TResult r);
    void tf2SendEOPLine(TResult r);
    void tf2WaitFETLine(TResult r);
    void tf20ChckPgLine(TResult r);
    void tf2WaitPgOKLine(TResult r);

    TFaxClass cls_;
    TClass2Names names_;
    std::vector<TStep> steps_;
    size_t step_ = 0;
    std::string reply_;        // information lines of the set-up command being answered
    std::string flowReply_;    // "AT+FLO=?"
    std::string rangesReply_;  // "AT+FDIS=?" / "AT+FIS=?"
    TClass2Params remote_, session_;
    bool fdtSent_ = false;
    bool pageGood_ = false;
    bool hungUp_ = false;
    char lastStatus_ = 0;
    int abortCode_ = 0;  // the abort command was sent: the session fails with this once it is answered
    int confirmed_ = 0;
    size_t lastOutUsed_ = 0;
    TFillInserter filler_;
};

class TClass2Receiver final : public TFaxReceiver {
public:
    TClass2Receiver(TOvxCustomReceiveFax& fax, TFaxLink& link, TFaxClass cls);

protected:
    void onStart() override;
    void onLine(TResult r, const std::string& line) override;
    void onFrame(const hdlc::TFrame&) override {}
    void onFrameFailed(TResult) override {}
    void onData(const uint8_t* data, size_t len, bool end) override;
    void onTimeout() override;
    const TStateChanges& stateChanges() const override;
    void initCall() override;
    void answer() override;
    void reject() override;
    void fail(int code) override;

private:
    bool is20() const { return cls_ == fcClass2_0; }
    void command(const std::string& cmd, int next, int64_t ticks = t30::kT3Ticks);
    void startUp();
    void nextInitStep();
    std::string capabilities() const;
    // ERROR or NO CARRIER in a call: the modem refused a command, or the call was lost.
    void callFailed(TResult r);
    void report(const std::string& line);
    void startPage();
    // The modem's lines in each state (OnLine).
    void rfInitLine(TResult r, const std::string& line);
    void rf2ValCnnctLine(TResult r);
    void rf2GtSndIDLine(TResult r);
    void rf2GtCnnctLine(TResult r);
    void rf2GtPgRsltLine(TResult r);
    void rf2GetFHNGLine(TResult r);

    // One set-up command: its state, whether ERROR may answer it, the command (empty: the
    // capabilities, made from the modem's ranges when they are due).
    struct TStep {
        int State;
        bool Optional;
        std::string Command;
    };
    TFaxClass cls_;
    TClass2Names names_;
    std::vector<TStep> steps_;
    size_t step_ = 0;
    std::string reply_;        // information lines of the set-up command being answered
    std::string rangesReply_;  // "AT+FDCC=?" / "AT+FCC=?"
    int pageErrors_ = 0;
    char status_ = 0;  // the modem's page status digit (0: none reported)
    char postPage_ = 0;
    bool lastPage_ = false;
    bool refusing_ = false;  // the page status was set to refuse the page; its OK is awaited
    int abortCode_ = 0;
    TClass2Params dcs_;
    TBitOrder bitOrder_;
    std::vector<uint8_t> converted_;
};

}  // namespace telvane::transport
