// HDLC framing towards a Class 1 modem and the DLE decoder (see hdlc.h).
#include "transport/fax/hdlc.h"

#include <cstdio>

#include "transport/fax/t30.h"

namespace telvane::transport::hdlc {

void escapeDle(const uint8_t* data, size_t len, std::vector<uint8_t>& out) {
    for (size_t i = 0; i < len; ++i) {
        out.push_back(data[i]);
        if (data[i] == DLE) out.push_back(DLE);
    }
}

std::vector<uint8_t> buildFrame(uint8_t fcf, const std::vector<uint8_t>& fif, bool final) {
    std::vector<uint8_t> body{t30::kAddress, final ? t30::ctlFinal : t30::ctlNotFinal, fcf};
    body.insert(body.end(), fif.begin(), fif.end());
    std::vector<uint8_t> out;
    out.reserve(body.size() + 4);
    escapeDle(body.data(), body.size(), out);
    out.push_back(DLE);
    out.push_back(ETX);
    return out;
}

uint16_t frameCheck(const uint8_t* data, size_t len) {
    uint16_t crc = 0xFFFF;
    for (size_t i = 0; i < len; ++i) {
        crc ^= data[i];
        for (int b = 0; b < 8; ++b) crc = (crc & 1) ? static_cast<uint16_t>((crc >> 1) ^ 0x8408) : crc >> 1;
    }
    return static_cast<uint16_t>(~crc);
}

void THdlcEncoder::putBit(bool one) {
    if (bits_ == 0 || bits_ == 8) {
        out_.push_back(0);
        bits_ = 0;
    }
    if (one) out_.back() = static_cast<uint8_t>(out_.back() | (1u << bits_));
    ++bits_;
}

// A frame's bits, least significant first; after five 1 bits in a row a 0 is inserted so that
// no flag (0111 1110) appears inside a frame.
void THdlcEncoder::putByte(uint8_t b, bool stuffed) {
    for (int i = 0; i < 8; ++i) {
        const bool one = (b >> i) & 1;
        putBit(one);
        if (!stuffed) continue;
        ones_ = one ? ones_ + 1 : 0;
        if (ones_ == 5) {
            putBit(false);
            ones_ = 0;
        }
    }
}

void THdlcEncoder::addFlags(int count) {
    for (int i = 0; i < count; ++i) putByte(0x7E, false);
}

void THdlcEncoder::addFrame(const std::vector<uint8_t>& body) {
    ones_ = 0;
    for (uint8_t b : body) putByte(b, true);
    const uint16_t fcs = frameCheck(body.data(), body.size());
    putByte(static_cast<uint8_t>(fcs & 0xFF), true);
    putByte(static_cast<uint8_t>(fcs >> 8), true);
    addFlags(1);
}

std::vector<uint8_t> THdlcEncoder::bytes() const {
    std::vector<uint8_t> out = out_;
    if (!out.empty() && bits_ < 8) out.back() = static_cast<uint8_t>(out.back() | (0xFF << bits_));
    return out;
}

void THdlcDecoder::putBit(bool one) {
    if (!inFrame_) return;
    if (one) byte_ = static_cast<uint8_t>(byte_ | (1u << nbits_));
    if (++nbits_ < 8) return;
    if (frame_.size() < max_ + 2)
        frame_.push_back(byte_);
    else
        overlong_ = true;
    byte_ = 0;
    nbits_ = 0;
}

// The bits before a flag are the frame and the flag's own leading 0: a frame when that leaves
// whole bytes, address, control and FCF besides the FCS, and the FCS checks.
void THdlcDecoder::endFrame(std::vector<std::vector<uint8_t>>& frames) {
    const size_t n = frame_.size();
    if (n == 0) return;  // flags in a row
    if (nbits_ != 1 || overlong_ || n < 5 ||
        frameCheck(frame_.data(), n - 2) != static_cast<uint16_t>(frame_[n - 2] | (frame_[n - 1] << 8))) {
        ++bad_;
        return;
    }
    frames.emplace_back(frame_.begin(), frame_.end() - 2);
}

// 1 bits are held until the 0 after them tells what they were: five and a 0 are data with an
// inserted 0, six and a 0 a flag, seven or more an abort or the idle line.
void THdlcDecoder::feed(const uint8_t* data, size_t len, std::vector<std::vector<uint8_t>>& frames) {
    for (size_t i = 0; i < len; ++i) {
        for (int b = 0; b < 8; ++b) {
            if ((data[i] >> b) & 1) {
                if (++ones_ == 7) {
                    if (inFrame_ && !frame_.empty()) ++bad_;
                    inFrame_ = false;
                }
                continue;
            }
            const int run = ones_;
            ones_ = 0;
            if (run >= 7) continue;
            if (run == 6) {
                if (inFrame_) endFrame(frames);
                frame_.clear();
                byte_ = 0;
                nbits_ = 0;
                overlong_ = false;
                inFrame_ = true;
                continue;
            }
            for (int k = 0; k < run; ++k) putBit(true);
            if (run != 5) putBit(false);
        }
    }
}

void TDleDecoder::reset() {
    pendingDle_ = false;
    done_ = false;
    overflow_ = false;
    count_ = 0;
    nonZero_ = 0;
    data_.clear();
}

void TDleDecoder::put(uint8_t b) {
    ++count_;
    if (b != 0) ++nonZero_;
    if (!keep_) return;
    if (data_.size() < max_)
        data_.push_back(b);
    else
        overflow_ = true;
}

size_t TDleDecoder::feed(const uint8_t* data, size_t len) {
    size_t i = 0;
    while (i < len && !done_) {
        const uint8_t b = data[i++];
        if (pendingDle_) {
            pendingDle_ = false;
            if (b == ETX)
                done_ = true;
            else if (b == DLE)
                put(DLE);
            else if (b == SUB) {
                put(DLE);
                put(DLE);
            }
        } else if (b == DLE) {
            pendingDle_ = true;
        } else {
            put(b);
        }
    }
    return i;
}

bool parseFrame(const std::vector<uint8_t>& bytes, TFrame& frame) {
    if (bytes.size() < 3) return false;
    frame.Control = bytes[1];
    frame.Fcf = bytes[2];
    frame.Fif.assign(bytes.begin() + 3, bytes.end());
    return true;
}

std::string describeFrame(const TFrame& frame) {
    std::string s = t30::frameName(t30::classify(frame.Fcf));
    s += frame.isFinal() ? " final" : "";
    char hex[8];
    std::snprintf(hex, sizeof hex, " %02x", frame.Fcf);
    s += hex;
    for (size_t i = 0; i < frame.Fif.size() && i < 24; ++i) {
        std::snprintf(hex, sizeof hex, " %02x", frame.Fif[i]);
        s += hex;
    }
    return s;
}

}  // namespace telvane::transport::hdlc
