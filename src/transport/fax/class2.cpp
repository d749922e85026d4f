// Class 2 / 2.0 names and parameter strings, and the start of a session whose class is to be
// detected (see class2.h).
#include "transport/fax/class2.h"

#include <cctype>

#include "transport/fax/faxsession.h"

namespace telvane::transport {

namespace {

std::string_view Trim(std::string_view s) {
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
    return s;
}

// A field read as hexadecimal; -1 when it holds no digit.
int HexField(std::string_view f) {
    f = Trim(f);
    if (f.empty()) return -1;
    int v = 0;
    for (char c : f) {
        const int d = std::isdigit(static_cast<unsigned char>(c)) ? c - '0'
                      : std::isxdigit(static_cast<unsigned char>(c))
                          ? std::toupper(static_cast<unsigned char>(c)) - 'A' + 10
                          : -1;
        if (d < 0 || v > 0xFFFF) return -1;
        v = v * 16 + d;
    }
    return v;
}

// The detecting start knows only the start and its failure.
constexpr TStateEdges kDetectSendEdges[] = {{tfNone, States({tfInit})}, {tfAbort, States({tfDone})}};
constexpr TStateEdges kDetectReceiveEdges[] = {{rfNone, States({rfInit})}, {rfAbort, States({rfDone})}};
constexpr TStateChanges kDetectSendChanges{{}, kDetectSendEdges, tfAbort, tfDone};
constexpr TStateChanges kDetectReceiveChanges{{}, kDetectReceiveEdges, rfAbort, rfDone};

// Resolves the class when asked to detect it: init strings on the first start, then
// "AT+FCLASS=?"; the machine of the best class the modem names takes over.
class TClassDetector final : public TFaxMachine {
public:
    TClassDetector(TOvxCustomAbstractFax& fax, TFaxLink& link, bool sending)
        : TFaxMachine(fax, link), sending_(sending) {}

protected:
    void OnStart() override {
        Progress(fpInitModem);
        if (sending_) link_.SetBaud(19200);
        link_.SetDTR(true);
        link_.SetRTS(true);
        if (fax_.SoftwareFlow) link_.SetSoftwareFlow(false);
        Goto(sending_ ? static_cast<int>(tfInit) : static_cast<int>(rfInit));
        const auto* send = dynamic_cast<TOvxCustomSendFax*>(&fax_);
        std::vector<TScriptStep> steps = FirstStartSteps(send ? send->DefaultInit() : DefaultInitString(true, false));
        steps.push_back({"AT+FCLASS=?", ecFaxBadModemResult});
        RunScript(std::move(steps), [this](int rc, const std::vector<std::string>& replies) {
            if (rc != 0) {
                Fail(rc);
                return;
            }
            fax_.MarkInitDone();
            const TFaxClassSet set = ParseFaxClasses(replies.back());
            fax_.SetSupported(set);
            const TFaxClass best = BestFaxClass(set);
            if (best == fcUnknown) {
                Fail(ecFaxBadModemResult);
                return;
            }
            fax_.SetSessionClass(best);
            if (sending_) {
                auto& send = static_cast<TOvxCustomSendFax&>(fax_);
                if (best == fcClass1)
                    fax_.HandOver(std::make_unique<TClass1Sender>(send, link_));
                else
                    fax_.HandOver(std::make_unique<TClass2Sender>(send, link_, best));
            } else {
                auto& recv = static_cast<TOvxCustomReceiveFax&>(fax_);
                if (best == fcClass1)
                    fax_.HandOver(std::make_unique<TClass1Receiver>(recv, link_));
                else
                    fax_.HandOver(std::make_unique<TClass2Receiver>(recv, link_, best));
            }
            StopTimer();
            Finish();
        });
    }
    void OnLine(TResult, const std::string&) override {}
    void OnFrame(const hdlc::TFrame&) override {}
    void OnFrameFailed(TResult) override {}
    void OnData(const uint8_t*, size_t, bool) override {}
    void OnTimeout() override { Fail(ecFaxBadModemResult); }
    void OnCancel() override {
        Progress(fpCancel);
        Fail(ecCancelRequested);
    }
    void OnDeviceLost() override { Fail(-160); }
    const char* StateName(int state) const override {
        return sending_ ? SendStateName(state) : ReceiveStateName(state);
    }
    const TStateChanges& StateChanges() const override { return sending_ ? kDetectSendChanges : kDetectReceiveChanges; }

private:
    void Fail(int code) {
        if (Finished()) return;
        Goto(sending_ ? static_cast<int>(tfAbort) : static_cast<int>(rfAbort));
        StopTimer();
        fax_.FireError(code);
        if (auto* send = dynamic_cast<TOvxCustomSendFax*>(&fax_)) send->SessionEnded();
        Goto(sending_ ? static_cast<int>(tfDone) : static_cast<int>(rfDone));
        Status(false, true);
        fax_.FireFinish(code);
        Finish();
    }
    bool sending_;
};

}  // namespace

TClass2Names Class2Names(TFaxClass c) {
    if (c == fcClass2_0)
        return {"CLASS=2.0", "MM?", "MI?", "MR?", "IS", "LI", "CC", "CO", "IS", "CS", "TI", "CI", "PS", "FHS"};
    return {"CLASS=2", "MDL?", "MFR?", "REV?", "DIS", "LID", "DCC", "CON", "DIS", "DCS", "TSI", "CSI", "PTS", "FHNG"};
}

bool IsClass2Report(std::string_view line, std::string_view name) {
    line = Trim(line);
    if (line.size() < 2 + name.size() || line.substr(0, 2) != "+F" || line.substr(2, name.size()) != name) return false;
    const std::string_view rest = line.substr(2 + name.size());
    return rest.empty() || rest.front() == ':' || rest.front() == ' ';
}

bool IsClass2ReportLine(std::string_view line) {
    const size_t lead = line.find_first_not_of(' ');
    return lead != std::string_view::npos && line.substr(lead, 2) == "+F";
}

std::string ReportValue(std::string_view line) {
    const size_t colon = line.find(':');
    return std::string(Trim(colon == std::string_view::npos ? std::string_view() : line.substr(colon + 1)));
}

TClass2Params ParseClass2Params(std::string_view report) {
    const std::string value = ReportValue(report);
    std::vector<int> f;
    size_t start = 0;
    while (start <= value.size() && f.size() < 8) {
        size_t comma = value.find(',', start);
        if (comma == std::string::npos) comma = value.size();
        f.push_back(HexField(std::string_view(value).substr(start, comma - start)));
        start = comma + 1;
    }
    f.resize(8, -1);
    TClass2Params p;
    p.Fine = f[0] > 0 && (f[0] & 1);
    static const long kBps[] = {2400, 4800, 7200, 9600, 12000, 14400};
    p.Bps = f[1] >= 0 && f[1] <= 5 ? kBps[f[1]] : 9600;
    // 1 is 2048 pels; 2 (2432) includes 2048 as well.
    p.Wide = f[2] == 1 || f[2] == 2;
    p.Ecm = f[5] == 1 || f[5] == 2;
    p.ScanCode = f[7] >= 0 && f[7] <= 7 ? f[7] : 0;
    return p;
}

std::string Class2SessionParams(bool fine, char bpsDigit, bool wide, bool ecm) {
    std::string s;
    s += fine ? '1' : '0';
    s += ',';
    s += bpsDigit;
    s += ',';
    s += wide ? '1' : '0';
    s += ",2,0,";
    s += ecm ? '1' : '0';
    s += ",0,0";
    return s;
}

std::string Class2HangupCode(std::string_view report) {
    const size_t colon = report.find(':');
    if (colon == std::string_view::npos) return std::string();
    return std::string(Trim(report.substr(colon + 1, 3)));
}

std::string CleanClass2Id(std::string_view report) {
    std::string id = ReportValue(report);
    if (!id.empty() && id.front() == '"') id.front() = ' ';
    while (!id.empty() && !std::isalnum(static_cast<unsigned char>(id.back()))) id.pop_back();
    return std::string(Trim(id)).substr(0, 20);
}

std::unique_ptr<TFaxMachine> MakeSendMachine(TOvxCustomSendFax& fax, TFaxLink& link) {
    const TFaxClass c = fax.FaxClass();
    fax.SetSessionClass(c == fcUnknown ? fcDetect : c);
    if (c == fcClass1) return std::make_unique<TClass1Sender>(fax, link);
    if (c == fcClass2 || c == fcClass2_0) return std::make_unique<TClass2Sender>(fax, link, c);
    return std::make_unique<TClassDetector>(fax, link, true);
}

std::unique_ptr<TFaxMachine> MakeReceiveMachine(TOvxCustomReceiveFax& fax, TFaxLink& link) {
    const TFaxClass c = fax.FaxClass();
    fax.SetSessionClass(c == fcUnknown ? fcDetect : c);
    if (c == fcClass1) return std::make_unique<TClass1Receiver>(fax, link);
    if (c == fcClass2 || c == fcClass2_0) return std::make_unique<TClass2Receiver>(fax, link, c);
    return std::make_unique<TClassDetector>(fax, link, false);
}

}  // namespace telvane::transport
