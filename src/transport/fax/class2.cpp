// Class 2 / 2.0 names and parameter strings, and the start of a session whose class is to be
// detected (see class2.h).
#include "transport/fax/class2.h"

#include <algorithm>
#include <cctype>

#include "transport/fax/faxsession.h"

namespace telvane::transport {

namespace {

std::string_view trim(std::string_view s) {
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
    return s;
}

// A field read as hexadecimal; -1 when it holds no digit.
int hexField(std::string_view f) {
    f = trim(f);
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
constexpr TStateEdges kDetectSendEdges[] = {{tfNone, states({tfInit})}, {tfAbort, states({tfDone})}};
constexpr TStateEdges kDetectReceiveEdges[] = {{rfNone, states({rfInit})}, {rfAbort, states({rfDone})}};
constexpr TStateChanges kDetectSendChanges{{}, kDetectSendEdges, tfAbort, tfDone};
constexpr TStateChanges kDetectReceiveChanges{{}, kDetectReceiveEdges, rfAbort, rfDone};

// Resolves the class when asked to detect it: init strings on the first start, then
// "AT+FCLASS=?"; the machine of the best class the modem names takes over.
class TClassDetector final : public TFaxMachine {
public:
    TClassDetector(TOvxCustomAbstractFax& fax, TFaxLink& link, bool sending)
        : TFaxMachine(fax, link), sending_(sending) {}

protected:
    void onStart() override {
        progress(fpInitModem);
        if (sending_) link_.setBaud(19200);
        link_.setDTR(true);
        link_.setRTS(true);
        if (fax_.SoftwareFlow) link_.setSoftwareFlow(false);
        goTo(sending_ ? static_cast<int>(tfInit) : static_cast<int>(rfInit));
        const auto* send = dynamic_cast<TOvxCustomSendFax*>(&fax_);
        std::vector<TScriptStep> steps = firstStartSteps(send ? send->defaultInit() : defaultInitString(true, false));
        steps.push_back({"AT+FCLASS=?", errors::ecFaxBadModemResult});
        runScript(std::move(steps), [this](int rc, const std::vector<std::string>& replies) {
            if (rc != 0) {
                fail(rc);
                return;
            }
            fax_.markInitDone();
            const TFaxClassSet set = parseFaxClasses(replies.back());
            fax_.setSupported(set);
            const TFaxClass best = bestFaxClass(set);
            if (best == fcUnknown) {
                fail(errors::ecFaxBadModemResult);
                return;
            }
            fax_.setSessionClass(best);
            if (sending_) {
                auto& send = static_cast<TOvxCustomSendFax&>(fax_);
                if (best == fcClass1)
                    fax_.handOver(std::make_unique<TClass1Sender>(send, link_));
                else
                    fax_.handOver(std::make_unique<TClass2Sender>(send, link_, best));
            } else {
                auto& recv = static_cast<TOvxCustomReceiveFax&>(fax_);
                if (best == fcClass1)
                    fax_.handOver(std::make_unique<TClass1Receiver>(recv, link_));
                else
                    fax_.handOver(std::make_unique<TClass2Receiver>(recv, link_, best));
            }
            stopTimer();
            finish();
        });
    }
    void onLine(TResult, const std::string&) override {}
    void onFrame(const hdlc::TFrame&) override {}
    void onFrameFailed(TResult) override {}
    void onData(const uint8_t*, size_t, bool) override {}
    void onTimeout() override { fail(errors::ecFaxBadModemResult); }
    void onCancel() override {
        progress(fpCancel);
        fail(errors::ecCancelRequested);
    }
    void onDeviceLost() override { fail(-160); }
    const char* stateName(int state) const override {
        return sending_ ? sendStateName(state) : receiveStateName(state);
    }
    const TStateChanges& stateChanges() const override { return sending_ ? kDetectSendChanges : kDetectReceiveChanges; }

private:
    void fail(int code) {
        if (finished()) return;
        goTo(sending_ ? static_cast<int>(tfAbort) : static_cast<int>(rfAbort));
        stopTimer();
        fax_.fireError(code);
        if (auto* send = dynamic_cast<TOvxCustomSendFax*>(&fax_)) send->sessionEnded();
        goTo(sending_ ? static_cast<int>(tfDone) : static_cast<int>(rfDone));
        Status(false, true);
        fax_.fireFinish(code);
        finish();
    }
    bool sending_;
};

}  // namespace

TClass2Names class2Names(TFaxClass c) {
    if (c == fcClass2_0)
        return {"CLASS=2.0", "MM?", "MI?", "MR?", "IS", "LI", "CC", "CO",
                "IS",        "CS",  "TI",  "CI",  "PS", "HS", "KS", "BO"};
    return {"CLASS=2", "MDL?", "MFR?", "REV?", "DIS", "LID", "DCC", "CON",
            "DIS",     "DCS",  "TSI",  "CSI",  "PTS", "HNG", "K",   "BOR"};
}

bool isClass2Report(std::string_view line, std::string_view name) {
    line = trim(line);
    if (line.size() < 2 + name.size() || line.substr(0, 2) != "+F" || line.substr(2, name.size()) != name) return false;
    const std::string_view rest = line.substr(2 + name.size());
    return rest.empty() || rest.front() == ':' || rest.front() == ' ';
}

bool isClass2ReportLine(std::string_view line) {
    const size_t lead = line.find_first_not_of(' ');
    return lead != std::string_view::npos && line.substr(lead, 2) == "+F";
}

std::string reportValue(std::string_view line) {
    const size_t colon = line.find(':');
    return std::string(trim(colon == std::string_view::npos ? std::string_view() : line.substr(colon + 1)));
}

TClass2Params parseClass2Params(std::string_view report) {
    const std::string value = reportValue(report);
    std::vector<int> f;
    size_t start = 0;
    while (start <= value.size() && f.size() < 8) {
        size_t comma = value.find(',', start);
        if (comma == std::string::npos) comma = value.size();
        f.push_back(hexField(std::string_view(value).substr(start, comma - start)));
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

std::string class2SessionParams(bool fine, char bpsDigit, bool wide, bool ecm) {
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

std::string class2HangupCode(std::string_view report) {
    const size_t colon = report.find(':');
    if (colon == std::string_view::npos) return std::string();
    return std::string(trim(report.substr(colon + 1, 3)));
}

std::string cleanClass2Id(std::string_view report) {
    // The ID is quoted: what lies between the quotes is the remote's, whatever its characters
    // (a modem that drops the opening quote still ends the ID with the closing one).
    std::string id = reportValue(report);
    if (!id.empty() && id.front() == '"') id.erase(0, 1);
    const size_t close = id.rfind('"');
    if (close != std::string::npos) id.erase(close);
    return std::string(trim(id)).substr(0, 20);
}

std::string hangupReason(std::string_view code) {
    int n = -1;
    for (char c : code) {
        if (!std::isdigit(static_cast<unsigned char>(c))) return "unknown hang-up code";
        n = (n < 0 ? 0 : n * 10) + (c - '0');
        if (n > 999) return "unknown hang-up code";
    }
    struct Known {
        int Code;
        const char* Text;
    };
    static const Known kKnown[] = {
        {0, "normal end of the call"},
        {1, "ring detected, but no fax handshake followed"},
        {2, "call aborted by the program"},
        {3, "no loop current"},
        {4, "ringback detected, nobody answered"},
        {5, "answered without a fax tone"},
        {11, "no answer from a fax machine (T1 expired)"},
        {21, "the remote fax cannot receive or send"},
        {25, "DCS sent three times without response"},
        {26, "DIS received three times: DCS not recognised"},
        {27, "failure to train at 2400 bit/s"},
        {43, "page data came too slowly from the program"},
        {52, "no response to MPS repeated three times"},
        {53, "invalid response to MPS"},
        {54, "no response to EOP repeated three times"},
        {55, "invalid response to EOP"},
        {56, "no response to EOM repeated three times"},
        {57, "invalid response to EOM"},
        {58, "unable to continue after PIN or PIP"},
        {73, "no page arrived within T2"},
        {74, "T1 expired after EOM"},
        {91, "no end of line within 5 seconds"},
        {101, "invalid response received"},
        {102, "invalid command received"},
    };
    for (const Known& k : kKnown)
        if (k.Code == n) return k.Text;
    if (n < 0) return "unknown hang-up code";
    if (n < 10) return "call placement or termination";
    if (n < 20) return "call establishment failed";
    if (n < 40) return "sending: negotiation failed";
    if (n < 50) return "sending: page data failed";
    if (n < 70) return "sending: post-page exchange failed";
    if (n < 90) return "receiving: negotiation failed";
    if (n < 100) return "receiving: page data failed";
    if (n < 120) return "receiving: post-page exchange failed";
    return "modem manufacturer's code";
}

namespace {
// The values a list such as "0-2", "(0,1)" or "0A-0F" names, read as hexadecimal; calls `use`
// for each (ranges are walked, bounded).
template <typename Use>
void forEachValue(std::string_view list, Use use) {
    size_t start = 0;
    while (start <= list.size()) {
        size_t comma = list.find(',', start);
        if (comma == std::string_view::npos) comma = list.size();
        std::string_view item = trim(list.substr(start, comma - start));
        while (!item.empty() && (item.front() == '(')) item.remove_prefix(1);
        while (!item.empty() && (item.back() == ')')) item.remove_suffix(1);
        const size_t dash = item.find('-');
        const int lo = hexField(item.substr(0, dash));
        const int hi = dash == std::string_view::npos ? lo : hexField(item.substr(dash + 1));
        if (lo >= 0 && hi >= lo && hi - lo < 256)
            for (int v = lo; v <= hi; ++v) use(v);
        start = comma + 1;
    }
}
}  // namespace

bool rangeOffers(std::string_view reply, int value) {
    bool found = false;
    forEachValue(reply, [&](int v) { found = found || v == value; });
    return found;
}

void TClass2Ranges::clamp(char& bpsDigit, bool& ecm) const {
    if (!Valid) return;
    bpsDigit = static_cast<char>('0' + std::min(bpsDigit - '0', MaxBitRate));
    ecm = ecm && Ecm;
}

TClass2Ranges parseClass2Ranges(std::string_view reply) {
    // One parenthesised list per parameter: vr, br, wd, ln, df, ec, bf, st.
    std::vector<std::string_view> fields;
    size_t depth = 0, start = std::string_view::npos;
    for (size_t i = 0; i < reply.size(); ++i) {
        if (reply[i] == '(' && depth++ == 0) start = i + 1;
        if (reply[i] == ')' && depth > 0 && --depth == 0) fields.push_back(reply.substr(start, i - start));
    }
    TClass2Ranges r;
    if (fields.size() < 6) return r;
    int maxBr = -1;
    forEachValue(fields[1], [&](int v) {
        if (v <= 5 && v > maxBr) maxBr = v;
    });
    if (maxBr < 0) return r;
    r.Valid = true;
    r.MaxBitRate = maxBr;
    r.Ecm = rangeOffers(fields[5], 1) || rangeOffers(fields[5], 2);
    return r;
}

std::unique_ptr<TFaxMachine> makeSendMachine(TOvxCustomSendFax& fax, TFaxLink& link) {
    const TFaxClass c = fax.FaxClass();
    fax.setSessionClass(c == fcUnknown ? fcDetect : c);
    if (c == fcClass1) return std::make_unique<TClass1Sender>(fax, link);
    if (c == fcClass2 || c == fcClass2_0) return std::make_unique<TClass2Sender>(fax, link, c);
    return std::make_unique<TClassDetector>(fax, link, true);
}

std::unique_ptr<TFaxMachine> makeReceiveMachine(TOvxCustomReceiveFax& fax, TFaxLink& link) {
    const TFaxClass c = fax.FaxClass();
    fax.setSessionClass(c == fcUnknown ? fcDetect : c);
    if (c == fcClass1) return std::make_unique<TClass1Receiver>(fax, link);
    if (c == fcClass2 || c == fcClass2_0) return std::make_unique<TClass2Receiver>(fax, link, c);
    return std::make_unique<TClassDetector>(fax, link, false);
}

}  // namespace telvane::transport
