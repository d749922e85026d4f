// Fill bits for raw T.4 data (see t4fill.h).
#include "transport/fax/t4fill.h"

namespace telvane::transport {

void TFillInserter::reset(size_t minBytes) {
    minBits_ = minBytes * 8;
    zeroRun_ = 0;
    lineBits_ = 0;
    lineHasData_ = false;
    acc_ = 0;
    accBits_ = 0;
}

void TFillInserter::putBit(int bit, std::vector<uint8_t>& out) {
    if (bit) acc_ = static_cast<uint8_t>(acc_ | (1u << accBits_));
    if (++accBits_ == 8) {
        out.push_back(acc_);
        acc_ = 0;
        accBits_ = 0;
    }
    ++lineBits_;
}

void TFillInserter::feed(const uint8_t* data, size_t len, std::vector<uint8_t>& out) {
    if (minBits_ == 0 && accBits_ == 0) {
        out.insert(out.end(), data, data + len);
        return;
    }
    for (size_t i = 0; i < len; ++i) {
        for (int b = 0; b < 8; ++b) {
            const int bit = (data[i] >> b) & 1;
            if (bit == 0) {
                ++zeroRun_;
                putBit(0, out);
                continue;
            }
            if (zeroRun_ >= 11) {
                // This one ends an EOL. A line with data shorter than the minimum gets zeros
                // in front of it; an empty line (EOL after EOL, as in RTC) gets none.
                if (lineHasData_ && lineBits_ + 1 < minBits_) {
                    const size_t fill = minBits_ - lineBits_ - 1;
                    for (size_t k = 0; k < fill; ++k) putBit(0, out);
                }
                putBit(1, out);
                lineBits_ = 0;
                lineHasData_ = false;
            } else {
                putBit(1, out);
                lineHasData_ = true;
            }
            zeroRun_ = 0;
        }
    }
}

void TFillInserter::flush(std::vector<uint8_t>& out) {
    if (accBits_ > 0) out.push_back(acc_);
    acc_ = 0;
    accBits_ = 0;
}

}  // namespace telvane::transport
