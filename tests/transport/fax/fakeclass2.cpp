// The scripted Class 2 / 2.0 modem (see fakeclass2.h).
#include "fakeclass2.h"

#include <algorithm>

namespace faxtest {

namespace {
constexpr uint8_t DLE = 0x10, ETX = 0x03, XON = 0x11, DC2 = 0x12;
bool Starts(const std::string& s, const std::string& p) { return s.compare(0, p.size(), p) == 0; }
}  // namespace

void FakeClass2::Line(const std::string& s) {
    const std::string l = "\r\n" + s + "\r\n";
    in_.insert(in_.end(), l.begin(), l.end());
}

void FakeClass2::Ring(int times) {
    for (int i = 0; i < times; ++i) Line("RING");
}

size_t FakeClass2::CountCommand(const std::string& prefix) const {
    return static_cast<size_t>(
        std::count_if(Commands.begin(), Commands.end(), [&](const std::string& c) { return Starts(c, prefix); }));
}

int FakeClass2::IndexOf(const std::string& prefix) const {
    for (size_t i = 0; i < Commands.size(); ++i)
        if (Starts(Commands[i], prefix)) return static_cast<int>(i);
    return -1;
}

size_t FakeClass2::Read(uint8_t* buf, size_t len) {
    size_t n = 0;
    while (n < len && !in_.empty()) {
        buf[n++] = in_.front();
        in_.pop_front();
    }
    return n;
}

bool FakeClass2::Write(const uint8_t* data, size_t len) {
    for (size_t i = 0; i < len; ++i) {
        const uint8_t c = data[i];
        if (waitDc2_) {
            if (c == DC2) {
                ++Dc2Count;
                waitDc2_ = false;
                SendIncomingPage();
            }
            continue;
        }
        if (data_) {
            if (FirstDataAt < 0) {
                FirstDataAt = Now;
                DataDelays.push_back(Now - ConnectAt);
            }
            if (dle_) {
                dle_ = false;
                if (c == DLE)
                    page_.push_back(DLE);
                else if (c == ETX && !class20_)
                    EndPage(ETX);
                else if (class20_ && (c == ',' || c == ';' || c == '.'))
                    EndPage(static_cast<char>(c));
                else if (c == ETX)
                    EndPage(ETX);
                continue;
            }
            if (c == DLE)
                dle_ = true;
            else
                page_.push_back(c);
            continue;
        }
        if (c == '\r') {
            if (!cmd_.empty()) Command(cmd_);
            cmd_.clear();
        } else if (c >= 0x20) {
            cmd_ += static_cast<char>(c);
        }
    }
    return true;
}

void FakeClass2::EndPage(char code) {
    data_ = false;
    Pages.push_back(page_);
    PageEnds.push_back(code);
    page_.clear();
    if (!class20_) {
        Line("OK");
        return;
    }
    if (!PageEndReply.empty()) {
        for (const auto& l : PageEndReply) Line(l);
        return;
    }
    const char status = PageStatus.empty() ? '1' : PageStatus.front();
    if (!PageStatus.empty()) PageStatus.pop_front();
    Line("+FPS:" + std::string(1, status) + ",0,0,0,0");
    if (status == '1' && code == '.') Line("+FHS:" + FinalHangup);
    Line(status == '1' ? "OK" : "ERROR");
}

void FakeClass2::SendIncomingPage() {
    InPage p = Incoming.front();
    Incoming.pop_front();
    for (uint8_t b : p.Data) {
        if (b == DLE) in_.push_back(DLE);
        in_.push_back(b);
    }
    in_.push_back(DLE);
    in_.push_back(ETX);
    if (p.ErrorInstead) {
        Line("ERROR");
        Incoming.push_front({p.Data, p.Status, p.PostPage, false});
        return;
    }
    Line(N("+FPTS:", "+FPS:") + std::string(1, p.Status));
    Line("+FET:" + std::string(1, p.PostPage));
    Line("OK");
    if (p.PostPage == '2' || p.PostPage == '5') done_ = true;
}

void FakeClass2::Command(const std::string& cmd) {
    Commands.push_back(cmd);
    if (OnCommand) OnCommand(cmd);
    for (const auto& [prefix, lines] : Override) {
        if (Starts(cmd, prefix)) {
            for (const auto& l : lines) Line(l);
            return;
        }
    }
    for (const auto& prefix : RejectedCommands) {
        if (Starts(cmd, prefix)) {
            Line("ERROR");
            return;
        }
    }
    if (cmd == "AT+FCLASS=?") {
        Line(ClassReply);
        Line("OK");
    } else if (Starts(cmd, "ATD")) {
        if (DialResult == "CONNECT") {
            Line(N("+FCON", "+FCO"));
            Line(N("+FCSI:", "+FCI:") + "\"" + RemoteId + "\"");
            Line(N("+FDIS:", "+FIS:") + RemoteCaps);
            Line("OK");
        } else if (!DialResult.empty()) {
            Line(DialResult);
        }
    } else if (cmd == "AT+FDT") {
        Line(N("+FDCS:", "+FCS:") + Negotiated);
        Line("CONNECT");
        if (SendXon && !class20_) in_.push_back(XON);
        data_ = true;
        dle_ = false;
        page_.clear();
        ConnectAt = Now;
        FirstDataAt = -1;
    } else if (Starts(cmd, "AT+FET=")) {
        const char status = PageStatus.empty() ? '1' : PageStatus.front();
        if (!PageStatus.empty()) PageStatus.pop_front();
        Line("+FPTS:" + std::string(1, status));
        if (cmd == "AT+FET=2" && status == '1') Line("+FHNG:" + FinalHangup);
        Line("OK");
    } else if (cmd == "AT+FPS?") {
        Line("+FPS:2,0,0,0,0");
        Line("OK");
    } else if (cmd == "ATA") {
        Line(N("+FCON", "+FCO"));
        Line(N("+FTSI:", "+FTI:") + "\"" + IncomingId + "\"");
        Line(N("+FDCS:", "+FCS:") + IncomingParams);
        Line("OK");
    } else if (cmd == "AT+FDR") {
        if (done_ || Incoming.empty()) {
            done_ = false;
            Line(N("+FHNG:", "+FHS:") + FinalHangup);
            Line("OK");
        } else {
            Line(N("+FDCS:", "+FCS:") + IncomingParams);
            Line("CONNECT");
            waitDc2_ = true;
        }
    } else {
        Line("OK");
    }
}

}  // namespace faxtest
