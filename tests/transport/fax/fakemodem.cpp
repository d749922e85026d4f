// Scripted Class 1 modem for the fax machine unit tests (see fakemodem.h).
#include "fakemodem.h"
#include "rawt4.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>

namespace faxtest {

using telvane::transport::hdlc::DLE;
using telvane::transport::hdlc::ETX;

RxFrame FakeModem::frame(uint8_t fcf, std::vector<uint8_t> fif, bool final) {
    RxFrame f;
    f.Fcf = fcf;
    f.Fif = std::move(fif);
    f.Final = final;
    return f;
}

RxFrame FakeModem::dis(bool fine, int highestIndex, uint8_t scanBits) {
    auto fif = telvane::transport::t30::buildDISFif(highestIndex);
    if (!fine) fif[1] &= static_cast<uint8_t>(~0x40);
    fif[2] = static_cast<uint8_t>((fif[2] & ~0x70) | scanBits);
    return frame(telvane::transport::t30::fcfDIS, fif, true);
}

void FakeModem::ring(int times) {
    for (int i = 0; i < times; ++i) reply("RING");
}

size_t FakeModem::countCommand(const std::string& prefix) const {
    size_t n = 0;
    for (const auto& c : Commands)
        if (c.rfind(prefix, 0) == 0) ++n;
    return n;
}

std::vector<uint8_t> FakeModem::fcfs() const {
    std::vector<uint8_t> v;
    for (const auto& f : SentFrames) v.push_back(f.Fcf);
    return v;
}

void FakeModem::reply(const std::string& s) {
    const std::string text = "\r\n" + s + "\r\n";
    in_.insert(in_.end(), text.begin(), text.end());
}

uint16_t hdlcFcs(const std::vector<uint8_t>& bytes) {
    uint16_t crc = 0xFFFF;
    for (uint8_t b : bytes) {
        crc ^= b;
        for (int i = 0; i < 8; ++i) crc = (crc & 1) ? static_cast<uint16_t>((crc >> 1) ^ 0x8408) : crc >> 1;
    }
    return static_cast<uint16_t>(~crc);
}

int64_t FakeModem::nextEventMs() const {
    int64_t t = okDueMs_;
    if (!later_.empty() && (t < 0 || later_.front().Due < t)) t = later_.front().Due;
    return t;
}

std::vector<int64_t> FakeModem::turnarounds() const {
    std::vector<int64_t> gaps;
    for (size_t i = 0; i < Line.size(); ++i) {
        if (!Line[i].Ours) continue;
        int64_t lastEnd = -1;
        for (size_t k = 0; k < Line.size(); ++k)
            if (k != i && Line[k].End >= 0 && Line[k].End <= Line[i].Start) lastEnd = std::max(lastEnd, Line[k].End);
        if (lastEnd >= 0) gaps.push_back(Line[i].Start - lastEnd);
    }
    return gaps;
}

void FakeModem::later(int64_t due, std::vector<uint8_t> bytes) {
    if (!later_.empty()) due = std::max(due, later_.back().Due);
    later_.push_back({due, std::move(bytes)});
}

bool FakeModem::refused(const std::string& cmd) {
    for (auto it = Refuse.begin(); it != Refuse.end(); ++it) {
        if (cmd.rfind(it->first, 0) == 0) {
            reply(it->second);
            Refuse.erase(it);
            return true;
        }
    }
    return false;
}

size_t FakeModem::read(uint8_t* buf, size_t len) {
    if (dead_) return 0;
    // Input that was due arrives one piece per read, as from a real port.
    if (in_.empty() && !later_.empty() && Now >= later_.front().Due) {
        in_.insert(in_.end(), later_.front().Bytes.begin(), later_.front().Bytes.end());
        later_.pop_front();
        if (later_.empty()) rxPending_ = false;
    }
    if (okDueMs_ >= 0 && Now >= okDueMs_) {
        okDueMs_ = -1;
        reply("OK");
    }
    size_t n = 0;
    while (n < len && !in_.empty()) {
        buf[n++] = in_.front();
        in_.pop_front();
    }
    if (in_.empty() && dieWhenDrained_) dead_ = true;
    return n;
}

void FakeModem::deliverFrame() {
    if (Frames.empty()) return;
    RxFrame f = Frames.front();
    Frames.pop_front();
    if (f.Silence) return;
    Line.push_back({Now + f.DelayMs, Now + f.DelayMs + FrameDelayMs, false});
    const std::string connect = "\r\nCONNECT\r\n";
    later(Now + f.DelayMs, std::vector<uint8_t>(connect.begin(), connect.end()));
    rxPending_ = true;
    // Address, control, FCF, FIF and the two FCS bytes, DLE doubled, then DLE ETX.
    std::vector<uint8_t> body;
    body.reserve(f.Fif.size() + 5);
    body.push_back(0xFF);
    body.push_back(static_cast<uint8_t>(f.Final ? 0x13 : 0x03));
    body.push_back(f.Fcf);
    body.insert(body.end(), f.Fif.begin(), f.Fif.end());
    const uint16_t fcs = hdlcFcs(body);
    body.push_back(static_cast<uint8_t>(fcs & 0xFF));
    body.push_back(static_cast<uint8_t>(fcs >> 8));
    if (f.BadFcs) body.back() ^= 0x5A;
    std::vector<uint8_t> bytes;
    if (f.Truncated) {
        telvane::transport::hdlc::escapeDle(body.data(), body.size() / 2, bytes);
        later(Now + f.DelayMs + FrameDelayMs, bytes);
        return;  // the modem stays in the reception until a character ends it: it then says
                 // OK without closing the frame with DLE ETX
    }
    telvane::transport::hdlc::escapeDle(body.data(), body.size(), bytes);
    bytes.push_back(DLE);
    bytes.push_back(ETX);
    const std::string result = f.BadFcs ? "\r\nERROR\r\n" : "\r\nOK\r\n";
    bytes.insert(bytes.end(), result.begin(), result.end());
    later(Now + f.DelayMs + FrameDelayMs, bytes);
    mode_ = Mode::Command;
}

void FakeModem::command(const std::string& cmd) {
    Commands.push_back(cmd);
    for (const auto& g : Garbage) reply(g);
    if (refused(cmd)) return;
    if (cmd == "AT+FCLASS=?") {
        reply(ClassReply);
        reply("OK");
    } else if (cmd == "AT+FTM=?" || cmd == "AT+FRM=?") {
        reply(SpeedReply);
        reply("OK");
    } else if (cmd.rfind("ATD", 0) == 0) {
        if (DialResult == "CONNECT")
            deliverFrame();
        else if (!DialResult.empty())
            reply(DialResult);
    } else if (cmd == "ATA") {
        reply("CONNECT");
        mode_ = Mode::TxFrame;
        tx_.clear();
    } else if (cmd == "AT+FTH=3") {
        reply("CONNECT");
        mode_ = Mode::TxFrame;
        Line.push_back({Now, -1, true});
        tx_.clear();
    } else if (cmd == "AT+FRH=3") {
        mode_ = Mode::RxFrameWait;
        deliverFrame();
    } else if (cmd.rfind("AT+FTS=", 0) == 0) {
        // Silence for the time asked, then OK.
        const std::string ok = "\r\nOK\r\n";
        later(Now + 10 * std::atol(cmd.c_str() + 7), std::vector<uint8_t>(ok.begin(), ok.end()));
    } else if (cmd.rfind("AT+FTM=", 0) == 0) {
        reply("CONNECT");
        Line.push_back({Now, -1, true});
        mode_ = Mode::TxData;
        tx_.clear();
        txStartMs_ = Now;
        txBytes_ = 0;
    } else if (cmd.rfind("AT+FRM=", 0) == 0) {
        if (FcErrorOnFirstFrm) {
            FcErrorOnFirstFrm = false;
            reply("+FCERROR");
            return;
        }
        if (++frmCalls_ == NoCarrierOnFrm) {
            reply("NO CARRIER");
            return;
        }
        if (RxData.empty()) {
            // Nothing to hear: the modem waits for a carrier until a character ends the wait.
            mode_ = Mode::RxFrameWait;
            return;
        }
        reply("CONNECT");
        if (RxChunk > 0 && frmCount_ >= 1) {  // page data (the first reception is the TCF)
            ++frmCount_;
            std::vector<uint8_t> data;
            telvane::transport::hdlc::escapeDle(RxData.front().data(), RxData.front().size(), data);
            RxData.pop_front();
            int64_t due = Now;
            if (RxStallAfter >= 0 && data.size() > static_cast<size_t>(RxStallAfter)) {
                data.resize(static_cast<size_t>(RxStallAfter));
                for (size_t pos = 0; pos < data.size(); pos += static_cast<size_t>(RxChunk)) {
                    due += RxChunkMs;
                    const size_t end = std::min(data.size(), pos + static_cast<size_t>(RxChunk));
                    later(due, std::vector<uint8_t>(data.begin() + static_cast<long>(pos),
                                                    data.begin() + static_cast<long>(end)));
                }
                return;  // the line goes quiet: no DLE ETX, no result
            }
            for (size_t pos = 0; pos < data.size(); pos += static_cast<size_t>(RxChunk)) {
                due += RxChunkMs;
                const size_t end = std::min(data.size(), pos + static_cast<size_t>(RxChunk));
                later(due, std::vector<uint8_t>(data.begin() + static_cast<long>(pos),
                                                data.begin() + static_cast<long>(end)));
            }
            const std::string tail = "\x10\x03\r\nNO CARRIER\r\n";
            later(due, std::vector<uint8_t>(tail.begin(), tail.end()));
            return;
        }
        std::vector<uint8_t> data;
        telvane::transport::hdlc::escapeDle(RxData.front().data(), RxData.front().size(), data);
        RxData.pop_front();
        Line.push_back({Now, Now, false});
        if (++frmCount_ == VanishInRxData) {
            in_.insert(in_.end(), data.begin(), data.begin() + static_cast<long>(data.size() / 2));
            dieWhenDrained_ = true;
            return;
        }
        in_.insert(in_.end(), data.begin(), data.end());
        in_.push_back(DLE);
        in_.push_back(ETX);
        reply("NO CARRIER");
    } else {
        reply("OK");
    }
}

void FakeModem::endTxFrame() {
    if (!Line.empty() && Line.back().Ours) Line.back().End = Now;
    SentFrame f;
    if (tx_.size() >= 3) {
        f.Control = tx_[1];
        f.Fcf = tx_[2];
        f.Fif.assign(tx_.begin() + 3, tx_.end());
    }
    SentFrames.push_back(f);
    tx_.clear();
    if (f.Control & 0x10) {
        reply("OK");
        mode_ = Mode::Command;
    } else {
        reply("CONNECT");
    }
}

void FakeModem::endTxData() {
    TxData.push_back(tx_);
    tx_.clear();
    if (BufferedBps > 0)
        okDueMs_ = std::max(Now, txStartMs_ + txBytes_ * 8000 / BufferedBps);
    else
        reply("OK");
    if (!Line.empty() && Line.back().Ours) Line.back().End = okDueMs_ >= 0 ? okDueMs_ : Now;
    mode_ = Mode::Command;
}

bool FakeModem::write(const uint8_t* data, size_t len) {
    if (dead_) return false;
    if (stalled_) return true;  // the bytes stay in a buffer that never drains
    for (size_t i = 0; i < len; ++i) {
        const uint8_t b = data[i];
        switch (mode_) {
        case Mode::Command:
            if (rxPending_) {
                // Any character ends a frame reception under way; whatever had not come yet
                // is lost and the modem answers OK (without DLE ETX).
                rxPending_ = false;
                later_.clear();
                reply("OK");
                break;
            }
            if (b == '\r') {
                if (!cmd_.empty()) command(cmd_);
                cmd_.clear();
            } else if (b >= 0x20) {
                cmd_ += static_cast<char>(b);
            }
            break;
        case Mode::RxFrameWait:
            // Any character ends a reception the modem is waiting for.
            later_.clear();
            rxPending_ = false;
            reply("OK");
            mode_ = Mode::Command;
            break;
        case Mode::RxData: break;
        case Mode::TxFrame:
        case Mode::TxData:
            if (dle_) {
                dle_ = false;
                if (b == ETX) {
                    if (mode_ == Mode::TxFrame)
                        endTxFrame();
                    else
                        endTxData();
                } else if (b == DLE) {
                    tx_.push_back(DLE);
                }
            } else if (b == DLE) {
                dle_ = true;
            } else {
                tx_.push_back(b);
            }
            if (mode_ == Mode::TxData && TxData.size() >= 1 && pageBytes_ == 0 && OnPageData) OnPageData();
            if (mode_ == Mode::TxData && TxData.size() >= 1) ++pageBytes_;
            if (mode_ == Mode::TxData) ++txBytes_;
            if (mode_ == Mode::TxData && LineBps > 0) {
                lineBits_ += 8;
                const int64_t ms = lineBits_ * 1000 / LineBps;
                Now += ms - lineMs_;
                lineMs_ = ms;
            }
            if (mode_ == Mode::TxData && DieAfterPageBytes >= 0 && TxData.size() >= 1 &&
                pageBytes_ > DieAfterPageBytes) {
                dead_ = true;
                return false;
            }
            if (mode_ == Mode::TxData && StallAfterPageBytes >= 0 && TxData.size() >= 1 &&
                pageBytes_ > StallAfterPageBytes) {
                stalled_ = true;  // takes nothing more and never answers
                return true;
            }
            if (mode_ == Mode::TxFrame && StallInFrame != 0 && tx_.size() == 3 &&
                (tx_[2] & 0xFE) == (StallInFrame & 0xFE)) {
                stalled_ = true;
                return true;
            }
            break;
        }
    }
    return true;
}

namespace {
void put16(std::ostream& o, unsigned v) {
    o.put(char(v & 0xFF));
    o.put(char(v >> 8));
}
void put32(std::ostream& o, unsigned v) {
    for (int i = 0; i < 4; ++i) o.put(char((v >> (8 * i)) & 0xFF));
}

// The 64-byte file header of a fax file of `pages` pages.
void putFileHeader(std::ostream& o, size_t pages) {
    o.write("OVF10\x1A", 6);
    put32(o, 0);
    o.put(0);
    o.write(std::string(20, ' ').data(), 20);
    o.put(0);
    put16(o, static_cast<unsigned>(pages));
    put32(o, 64);
    o.write(std::string(26, '\0').data(), 26);
}
}  // namespace

void makeFaxFile(const std::string& path, const std::vector<uint16_t>& flags, int lines) {
    std::ofstream o(path, std::ios::binary);
    putFileHeader(o, flags.size());
    for (uint16_t f : flags) {
        put32(o, static_cast<unsigned>(lines * 8 + 14));
        put16(o, f | 0x04u);
        o.write(std::string(10, '\0').data(), 10);
        for (int i = 0; i < lines; ++i) {
            put16(o, 6);
            o.write(reinterpret_cast<const char*>(kBlank), 6);
        }
        put16(o, 12);
        o.write(reinterpret_cast<const char*>(kEnd), 12);
    }
}

void makeRawFaxFile(const std::string& path, const std::vector<uint8_t>& data) {
    makeRawFaxFile(path, std::vector<std::vector<uint8_t>>{data});
}

void makeRawFaxFile(const std::string& path, const std::vector<std::vector<uint8_t>>& pages, uint16_t flags) {
    std::ofstream f(path, std::ios::binary);
    putFileHeader(f, pages.size());
    for (const std::vector<uint8_t>& data : pages) {
        put32(f, static_cast<unsigned>(data.size()));
        put16(f, flags);  // no line records: raw data
        f.write(std::string(10, '\0').data(), 10);
        f.write(reinterpret_cast<const char*>(data.data()), static_cast<long>(data.size()));
    }
}

}  // namespace faxtest
