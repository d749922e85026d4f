// Scripted Class 1 modem for the fax machine unit tests (see fakemodem.h).
#include "fakemodem.h"

#include <algorithm>
#include <fstream>

namespace faxtest {

using telvane::transport::hdlc::DLE;
using telvane::transport::hdlc::ETX;

RxFrame FakeModem::Frame(uint8_t fcf, std::vector<uint8_t> fif, bool final) {
    RxFrame f;
    f.Fcf = fcf;
    f.Fif = std::move(fif);
    f.Final = final;
    return f;
}

RxFrame FakeModem::Dis(bool fine, int highestIndex, uint8_t scanBits) {
    auto fif = telvane::transport::t30::BuildDISFif(highestIndex);
    if (!fine) fif[1] &= static_cast<uint8_t>(~0x40);
    fif[2] = static_cast<uint8_t>((fif[2] & ~0x70) | scanBits);
    return Frame(telvane::transport::t30::fcfDIS, fif, true);
}

void FakeModem::Ring(int times) {
    for (int i = 0; i < times; ++i) Reply("RING");
}

size_t FakeModem::CountCommand(const std::string& prefix) const {
    size_t n = 0;
    for (const auto& c : Commands)
        if (c.rfind(prefix, 0) == 0) ++n;
    return n;
}

std::vector<uint8_t> FakeModem::Fcfs() const {
    std::vector<uint8_t> v;
    for (const auto& f : SentFrames) v.push_back(f.Fcf);
    return v;
}

void FakeModem::Reply(const std::string& s) {
    const std::string text = "\r\n" + s + "\r\n";
    in_.insert(in_.end(), text.begin(), text.end());
}

size_t FakeModem::Read(uint8_t* buf, size_t len) {
    if (dead_) return 0;
    if (okDueMs_ >= 0 && Now >= okDueMs_) {
        okDueMs_ = -1;
        Reply("OK");
    }
    size_t n = 0;
    while (n < len && !in_.empty()) {
        buf[n++] = in_.front();
        in_.pop_front();
    }
    if (in_.empty() && dieWhenDrained_) dead_ = true;
    return n;
}

void FakeModem::DeliverFrame() {
    if (Frames.empty()) return;
    RxFrame f = Frames.front();
    Frames.pop_front();
    if (f.Silence) return;
    Reply("CONNECT");
    std::vector<uint8_t> bytes = telvane::transport::hdlc::BuildFrame(f.Fcf, f.Fif, f.Final);
    in_.insert(in_.end(), bytes.begin(), bytes.end());
    Reply("OK");
    mode_ = Mode::Command;
}

void FakeModem::Command(const std::string& cmd) {
    Commands.push_back(cmd);
    for (const auto& g : Garbage) Reply(g);
    if (cmd == "AT+FCLASS=?") {
        Reply(ClassReply);
        Reply("OK");
    } else if (cmd == "AT+FTM=?" || cmd == "AT+FRM=?") {
        Reply(SpeedReply);
        Reply("OK");
    } else if (cmd.rfind("ATD", 0) == 0) {
        if (DialResult == "CONNECT")
            DeliverFrame();
        else if (!DialResult.empty())
            Reply(DialResult);
    } else if (cmd == "ATA") {
        Reply("CONNECT");
        mode_ = Mode::TxFrame;
        tx_.clear();
    } else if (cmd == "AT+FTH=3") {
        Reply("CONNECT");
        mode_ = Mode::TxFrame;
        tx_.clear();
    } else if (cmd == "AT+FRH=3") {
        mode_ = Mode::RxFrameWait;
        DeliverFrame();
    } else if (cmd.rfind("AT+FTM=", 0) == 0) {
        Reply("CONNECT");
        mode_ = Mode::TxData;
        tx_.clear();
        txStartMs_ = Now;
        txBytes_ = 0;
    } else if (cmd.rfind("AT+FRM=", 0) == 0) {
        if (RxData.empty()) return;
        Reply("CONNECT");
        std::vector<uint8_t> data;
        telvane::transport::hdlc::EscapeDle(RxData.front().data(), RxData.front().size(), data);
        RxData.pop_front();
        if (++frmCount_ == 2 && VanishInSecondRxData) {
            in_.insert(in_.end(), data.begin(), data.begin() + static_cast<long>(data.size() / 2));
            dieWhenDrained_ = true;
            return;
        }
        in_.insert(in_.end(), data.begin(), data.end());
        in_.push_back(DLE);
        in_.push_back(ETX);
        Reply("NO CARRIER");
    } else {
        Reply("OK");
    }
}

void FakeModem::EndTxFrame() {
    SentFrame f;
    if (tx_.size() >= 3) {
        f.Control = tx_[1];
        f.Fcf = tx_[2];
        f.Fif.assign(tx_.begin() + 3, tx_.end());
    }
    SentFrames.push_back(f);
    tx_.clear();
    if (f.Control & 0x10) {
        Reply("OK");
        mode_ = Mode::Command;
    } else {
        Reply("CONNECT");
    }
}

void FakeModem::EndTxData() {
    TxData.push_back(tx_);
    tx_.clear();
    if (BufferedBps > 0)
        okDueMs_ = std::max(Now, txStartMs_ + txBytes_ * 8000 / BufferedBps);
    else
        Reply("OK");
    mode_ = Mode::Command;
}

bool FakeModem::Write(const uint8_t* data, size_t len) {
    if (dead_) return false;
    for (size_t i = 0; i < len; ++i) {
        const uint8_t b = data[i];
        switch (mode_) {
        case Mode::Command:
            if (b == '\r') {
                if (!cmd_.empty()) Command(cmd_);
                cmd_.clear();
            } else if (b >= 0x20) {
                cmd_ += static_cast<char>(b);
            }
            break;
        case Mode::RxFrameWait:
            // Any character ends a reception the modem is waiting for.
            Reply("OK");
            mode_ = Mode::Command;
            break;
        case Mode::RxData: break;
        case Mode::TxFrame:
        case Mode::TxData:
            if (dle_) {
                dle_ = false;
                if (b == ETX) {
                    if (mode_ == Mode::TxFrame)
                        EndTxFrame();
                    else
                        EndTxData();
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
            break;
        }
    }
    return true;
}

namespace {
const uint8_t kBlank[6] = {0x00, 0x80, 0xB2, 0x59, 0x01, 0x00};
const uint8_t kEnd[12] = {0x00, 0x80, 0x00, 0x08, 0x80, 0x00, 0x08, 0x80, 0x00, 0x08, 0x80, 0x00};
void Put16(std::ofstream& o, unsigned v) {
    o.put(char(v & 0xFF));
    o.put(char(v >> 8));
}
void Put32(std::ofstream& o, unsigned v) {
    for (int i = 0; i < 4; ++i) o.put(char((v >> (8 * i)) & 0xFF));
}
}  // namespace

void MakeFaxFile(const std::string& path, const std::vector<uint16_t>& flags, int lines) {
    std::ofstream o(path, std::ios::binary);
    o.write("OVF10\x1A", 6);
    Put32(o, 0);
    o.put(0);
    o.write(std::string(20, ' ').data(), 20);
    o.put(0);
    Put16(o, static_cast<unsigned>(flags.size()));
    Put32(o, 64);
    o.write(std::string(26, '\0').data(), 26);
    for (uint16_t f : flags) {
        Put32(o, static_cast<unsigned>(lines * 8 + 14));
        Put16(o, f | 0x04u);
        o.write(std::string(10, '\0').data(), 10);
        for (int i = 0; i < lines; ++i) {
            Put16(o, 6);
            o.write(reinterpret_cast<const char*>(kBlank), 6);
        }
        Put16(o, 12);
        o.write(reinterpret_cast<const char*>(kEnd), 12);
    }
}

void Drive(telvane::transport::TOvxCustomAbstractFax& fax, FakeModem& modem, int maxSteps) {
    for (int i = 0; i < maxSteps && fax.InProgress(); ++i) {
        fax.ServiceSession();
        if (!fax.InProgress() || modem.HasInput()) continue;
        int64_t wake = fax.NextWakeMs();
        if (modem.NextEventMs() >= 0 && (wake < 0 || modem.NextEventMs() < wake)) wake = modem.NextEventMs();
        if (wake < 0) break;
        if (wake > modem.Now) modem.Now = wake;
    }
}

}  // namespace faxtest
