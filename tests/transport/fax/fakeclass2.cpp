// The scripted Class 2 / 2.0 modem (see fakeclass2.h).
#include "fakeclass2.h"

#include <algorithm>

#include "transport/fax/pagecheck.h"

namespace faxtest {

namespace {
constexpr uint8_t DLE = 0x10, ETX = 0x03, XON = 0x11, DC2 = 0x12;
bool Starts(const std::string& s, const std::string& p) { return s.compare(0, p.size(), p) == 0; }
}  // namespace

void FakeClass2::Bytes(int64_t due, std::vector<uint8_t> bytes) {
    if (later_.empty() && due <= Now) {
        in_.insert(in_.end(), bytes.begin(), bytes.end());
        return;
    }
    if (!later_.empty()) due = std::max(due, later_.back().Due);
    later_.push_back({due, std::move(bytes)});
}

void FakeClass2::LineAt(int64_t due, const std::string& s) {
    const std::string l = "\r\n" + s + "\r\n";
    Bytes(due, std::vector<uint8_t>(l.begin(), l.end()));
}

void FakeClass2::Line(const std::string& s) { LineAt(Now, s); }

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
    // Input that was due arrives one piece per read, as from a real port.
    if (in_.empty() && !later_.empty() && Now >= later_.front().Due) {
        in_.insert(in_.end(), later_.front().Bytes.begin(), later_.front().Bytes.end());
        later_.pop_front();
    }
    size_t n = 0;
    while (n < len && !in_.empty()) {
        buf[n++] = in_.front();
        in_.pop_front();
    }
    return n;
}

bool FakeClass2::Write(const uint8_t* data, size_t len) {
    if (stalled_) return true;  // the bytes stay in a buffer that never drains
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
            if (StallAfterPageBytes >= 0 && ++pageBytes_ > StallAfterPageBytes) {
                stalled_ = true;  // takes nothing more and never answers
                return true;
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
    FlowDuringPage.push_back(OutputFlow);
    // The answer comes when the line has carried what the modem took.
    const int64_t due =
        LineBps > 0 ? std::max(Now, ConnectAt + static_cast<int64_t>(page_.size()) * 8000 / LineBps) : Now;
    Pages.push_back(page_);
    PageEnds.push_back(code);
    page_.clear();
    if (!class20_) {
        LineAt(due, "OK");
        return;
    }
    if (!PageEndReply.empty()) {
        for (const auto& l : PageEndReply) LineAt(due, l);
        return;
    }
    const char status = PageStatus.empty() ? '1' : PageStatus.front();
    if (!PageStatus.empty()) PageStatus.pop_front();
    LineAt(due, "+FPS:" + std::string(1, status) + ",0,0,0,0");
    if (status == '1' && code == '.') LineAt(due, "+FHS:" + FinalHangup);
    LineAt(due, status == '1' ? "OK" : "ERROR");
}

void FakeClass2::SendIncomingPage() {
    InPage p = Incoming.front();
    Incoming.pop_front();
    std::vector<uint8_t> data;
    const size_t size =
        p.HangupAfter >= 0 ? std::min(p.Data.size(), static_cast<size_t>(p.HangupAfter)) : p.Data.size();
    for (size_t i = 0; i < size; ++i) {
        const uint8_t b = ReverseIncoming ? telvane::transport::ReverseBits(p.Data[i]) : p.Data[i];
        if (b == DLE) data.push_back(DLE);
        data.push_back(b);
    }
    int64_t due = Now;
    if (IncomingChunk > 0) {
        for (size_t pos = 0; pos < data.size(); pos += static_cast<size_t>(IncomingChunk)) {
            due += IncomingChunkMs;
            const size_t end = std::min(data.size(), pos + static_cast<size_t>(IncomingChunk));
            Bytes(due,
                  std::vector<uint8_t>(data.begin() + static_cast<long>(pos), data.begin() + static_cast<long>(end)));
        }
    } else {
        Bytes(due, data);
    }
    Bytes(due, {DLE, ETX});
    if (p.HangupAfter >= 0) {
        // The far end is gone in the middle of the page.
        LineAt(due, N("+FHNG:", "+FHS:") + "90");
        LineAt(due, "OK");
        Incoming.clear();
        return;
    }
    if (p.ErrorInstead) {
        LineAt(due, "ERROR");
        Incoming.push_front({p.Data, p.Status, p.PostPage, false, -1});
        return;
    }
    LineAt(due, N("+FPTS:", "+FPS:") + std::string(1, p.Status));
    LineAt(due, "+FET:" + std::string(1, p.PostPage));
    LineAt(due, "OK");
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
    } else if (cmd == "AT+FLO=?") {
        Line(FlowReply);
        Line("OK");
    } else if (cmd == "AT+FDIS=?" || cmd == "AT+FIS=?" || cmd == "AT+FDCC=?" || cmd == "AT+FCC=?") {
        Line(RangesReply);
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
        pageBytes_ = 0;
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
