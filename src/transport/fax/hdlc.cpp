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
