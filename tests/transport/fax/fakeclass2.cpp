// The scripted Class 2 / 2.0 modem (see fakeclass2.h).
#include "fakeclass2.h"

#include <algorithm>

#include "transport/fax/pagecheck.h"

namespace faxtest {

namespace {
constexpr uint8_t DLE = 0x10, ETX = 0x03, XON = 0x11, DC2 = 0x12;
bool starts(const std::string& s, const std::string& p) { return s.compare(0, p.size(), p) == 0; }

// Whether every value of a capability or session command ("AT+FDIS=1,5,0,...") lies within the
// ranges the modem answers "=?" with ("(0,1),(0-5),..."): a strict modem refuses anything else.
bool withinRanges(const std::string& cmd, const std::string& ranges) {
    std::vector<std::string> fields;
    for (size_t i = 0; i < ranges.size();) {
        const size_t open = ranges.find('(', i);
        if (open == std::string::npos) break;
        const size_t close = ranges.find(')', open);
        fields.push_back(ranges.substr(open + 1, close - open - 1));
        i = close + 1;
    }
    std::vector<int> values;
    for (size_t i = cmd.find('=') + 1; i <= cmd.size();) {
        const size_t comma = std::min(cmd.find(',', i), cmd.size());
        values.push_back(std::stoi(cmd.substr(i, comma - i)));
        i = comma + 1;
    }
    for (size_t f = 0; f < values.size() && f < fields.size(); ++f) {
        bool offered = false;
        for (size_t i = 0; i < fields[f].size() && !offered;) {
            const size_t comma = std::min(fields[f].find(',', i), fields[f].size());
            const std::string item = fields[f].substr(i, comma - i);
            const size_t dash = item.find('-');
            const int low = std::stoi(item), high = dash == std::string::npos ? low : std::stoi(item.substr(dash + 1));
            offered = values[f] >= low && values[f] <= high;
            i = comma + 1;
        }
        if (!offered) return false;
    }
    return true;
}
}  // namespace

void FakeClass2::bytes(int64_t due, std::vector<uint8_t> bytes) {
    if (later_.empty() && due <= Now) {
        in_.insert(in_.end(), bytes.begin(), bytes.end());
        return;
    }
    if (!later_.empty()) due = std::max(due, later_.back().Due);
    later_.push_back({due, std::move(bytes)});
}

void FakeClass2::lineAt(int64_t due, const std::string& s) {
    const std::string l = "\r\n" + s + "\r\n";
    bytes(due, std::vector<uint8_t>(l.begin(), l.end()));
}

void FakeClass2::line(const std::string& s) { lineAt(Now, s); }

void FakeClass2::ring(int times) {
    for (int i = 0; i < times; ++i) line("RING");
}

size_t FakeClass2::countCommand(const std::string& prefix) const {
    return static_cast<size_t>(
        std::count_if(Commands.begin(), Commands.end(), [&](const std::string& c) { return starts(c, prefix); }));
}

int FakeClass2::indexOf(const std::string& prefix) const {
    for (size_t i = 0; i < Commands.size(); ++i)
        if (starts(Commands[i], prefix)) return static_cast<int>(i);
    return -1;
}

size_t FakeClass2::read(uint8_t* buf, size_t len) {
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

bool FakeClass2::write(const uint8_t* data, size_t len) {
    if (stalled_) return true;  // the bytes stay in a buffer that never drains
    for (size_t i = 0; i < len; ++i) {
        const uint8_t c = data[i];
        if (waitDc2_) {
            if (c == DC2) {
                ++Dc2Count;
                waitDc2_ = false;
                sendIncomingPage();
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
                    endPage(ETX);
                else if (class20_ && (c == ',' || c == ';' || c == '.'))
                    endPage(static_cast<char>(c));
                else if (c == ETX)
                    endPage(ETX);
                continue;
            }
            if (c == DLE)
                dle_ = true;
            else
                page_.push_back(c);
            continue;
        }
        if (c == '\r') {
            if (!cmd_.empty()) command(cmd_);
            cmd_.clear();
        } else if (c >= 0x20) {
            cmd_ += static_cast<char>(c);
        }
    }
    return true;
}

void FakeClass2::endPage(char code) {
    data_ = false;
    FlowDuringPage.push_back(OutputFlow);
    // The answer comes when the line has carried what the modem took.
    const int64_t due =
        LineBps > 0 ? std::max(Now, ConnectAt + static_cast<int64_t>(page_.size()) * 8000 / LineBps) : Now;
    Pages.push_back(page_);
    PageEnds.push_back(code);
    page_.clear();
    if (!class20_) {
        lineAt(due, "OK");
        return;
    }
    if (!PageEndReply.empty()) {
        for (const auto& l : PageEndReply) lineAt(due, l);
        return;
    }
    const char status = PageStatus.empty() ? '1' : PageStatus.front();
    if (!PageStatus.empty()) PageStatus.pop_front();
    lineAt(due, "+FPS:" + std::string(1, status) + ",0,0,0,0");
    if (status == '1' && code == '.') lineAt(due, "+FHS:" + FinalHangup);
    lineAt(due, status == '1' ? "OK" : "ERROR");
}

void FakeClass2::sendIncomingPage() {
    InPage p = Incoming.front();
    Incoming.pop_front();
    std::vector<uint8_t> data;
    const size_t size =
        p.HangupAfter >= 0 ? std::min(p.Data.size(), static_cast<size_t>(p.HangupAfter)) : p.Data.size();
    for (size_t i = 0; i < size; ++i) {
        const uint8_t b = ReverseIncoming ? telvane::transport::reverseBits(p.Data[i]) : p.Data[i];
        if (b == DLE) data.push_back(DLE);
        data.push_back(b);
    }
    int64_t due = Now;
    if (IncomingChunk > 0) {
        for (size_t pos = 0; pos < data.size(); pos += static_cast<size_t>(IncomingChunk)) {
            due += IncomingChunkMs;
            const size_t end = std::min(data.size(), pos + static_cast<size_t>(IncomingChunk));
            bytes(due,
                  std::vector<uint8_t>(data.begin() + static_cast<long>(pos), data.begin() + static_cast<long>(end)));
        }
    } else {
        bytes(due, data);
    }
    bytes(due, {DLE, ETX});
    if (p.HangupAfter >= 0) {
        // The far end is gone in the middle of the page.
        lineAt(due, n("+FHNG:", "+FHS:") + "90");
        lineAt(due, "OK");
        Incoming.clear();
        return;
    }
    if (p.ErrorInstead) {
        lineAt(due, "ERROR");
        Incoming.push_front({p.Data, p.Status, p.PostPage, false, -1});
        return;
    }
    lineAt(due, n("+FPTS:", "+FPS:") + std::string(1, p.Status));
    lineAt(due, "+FET:" + std::string(1, p.PostPage));
    lineAt(due, "OK");
    if (p.PostPage == '2' || p.PostPage == '5') done_ = true;
}

void FakeClass2::command(const std::string& cmd) {
    Commands.push_back(cmd);
    if (OnCommand) OnCommand(cmd);
    for (const auto& [prefix, lines] : Override) {
        if (starts(cmd, prefix)) {
            for (const auto& l : lines) line(l);
            return;
        }
    }
    for (const auto& prefix : RejectedCommands) {
        if (starts(cmd, prefix)) {
            line("ERROR");
            return;
        }
    }
    if (cmd == "AT+FCLASS=?") {
        line(ClassReply);
        line("OK");
    } else if (cmd == "AT+FLO=?") {
        line(FlowReply);
        line("OK");
    } else if (cmd == "AT+FDIS=?" || cmd == "AT+FIS=?" || cmd == "AT+FDCC=?" || cmd == "AT+FCC=?") {
        line(RangesReply);
        line("OK");
    } else if (starts(cmd, "AT+FDIS=") || starts(cmd, "AT+FIS=") || starts(cmd, "AT+FDCC=") || starts(cmd, "AT+FCC=")) {
        line(withinRanges(cmd, RangesReply) ? "OK" : "ERROR");
    } else if (starts(cmd, "ATD")) {
        if (DialResult == "CONNECT") {
            line(n("+FCON", "+FCO"));
            line(n("+FCSI:", "+FCI:") + "\"" + RemoteId + "\"");
            line(n("+FDIS:", "+FIS:") + RemoteCaps);
            line("OK");
        } else if (!DialResult.empty()) {
            line(DialResult);
        }
    } else if (cmd == "AT+FDT") {
        line(n("+FDCS:", "+FCS:") + Negotiated);
        line("CONNECT");
        if (SendXon && !class20_) in_.push_back(XON);
        data_ = true;
        dle_ = false;
        page_.clear();
        pageBytes_ = 0;
        ConnectAt = Now;
        FirstDataAt = -1;
    } else if (starts(cmd, "AT+FET=")) {
        const char status = PageStatus.empty() ? '1' : PageStatus.front();
        if (!PageStatus.empty()) PageStatus.pop_front();
        line("+FPTS:" + std::string(1, status));
        if (cmd == "AT+FET=2" && status == '1') line("+FHNG:" + FinalHangup);
        line("OK");
    } else if (cmd == "AT+FPS?") {
        line("+FPS:2,0,0,0,0");
        line("OK");
    } else if (cmd == "ATA") {
        line(n("+FCON", "+FCO"));
        line(n("+FTSI:", "+FTI:") + "\"" + IncomingId + "\"");
        line(n("+FDCS:", "+FCS:") + IncomingParams);
        line("OK");
    } else if (cmd == "AT+FDR") {
        if (done_ || Incoming.empty()) {
            done_ = false;
            line(n("+FHNG:", "+FHS:") + FinalHangup);
            line("OK");
        } else {
            line(n("+FDCS:", "+FCS:") + IncomingParams);
            line("CONNECT");
            waitDc2_ = true;
        }
    } else {
        line("OK");
    }
}

}  // namespace faxtest
