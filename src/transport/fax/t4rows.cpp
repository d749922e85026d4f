// Dropping a page's white top rows (see t4rows.h).
#include "transport/fax/t4rows.h"

#include <algorithm>

#include "faximage/mhdecoder.h"

namespace telvane::transport {

namespace {
// Sixteen zeros: with the one that follows them, an EOL whatever zeros came before.
constexpr uint8_t kEolZeros[2] = {0x00, 0x00};
// Eleven zeros and a one: an EOL as its own two bytes, in transmission order.
constexpr uint8_t kEol[2] = {0x00, 0x08};

class WhiteLines final : public telvane::faximage::FaxLineSink {
public:
    void faxLine(const uint8_t* line, size_t bytes) override {
        ++lines;
        white = white && std::all_of(line, line + bytes, [](uint8_t b) { return b == 0; });
    }
    int lines = 0;
    bool white = true;
};
}  // namespace

void TRowDropper::reset(int rows) {
    left_ = rows > 0 ? rows : 0;
    dropped_ = 0;
    zeroRun_ = 0;
    inRow_ = false;
    row_.clear();
}

bool TRowDropper::whiteRow(const std::vector<uint8_t>& row) {
    WhiteLines sink;
    telvane::faximage::FaxLineDecoder decoder(&sink);
    decoder.feed(kEolZeros, sizeof kEolZeros);
    decoder.feed(row.data(), row.size());
    decoder.feed(kEol, sizeof kEol);
    decoder.finish();
    return sink.lines == 1 && sink.white && decoder.codeErrors() == 0;
}

bool TRowDropper::dropRecord(const uint8_t* data, size_t len) {
    if (left_ == 0) return false;
    if (!whiteRow(std::vector<uint8_t>(data, data + len))) {
        left_ = 0;  // drawn on, or the page's end: everything from here is kept
        return false;
    }
    --left_;
    ++dropped_;
    return true;
}

void TRowDropper::feedRaw(const uint8_t* data, size_t len, std::vector<uint8_t>& out) {
    size_t i = 0;
    for (; i < len && left_ > 0; ++i) {
        for (int b = 0; b < 8 && left_ > 0; ++b) {
            if (!((data[i] >> b) & 1)) {
                ++zeroRun_;
                continue;
            }
            const bool eol = zeroRun_ >= 11;
            zeroRun_ = 0;
            if (!eol) continue;
            // An EOL ends the row before it (its bits below this one are zeros) and starts the next.
            if (inRow_) {
                if (!whiteRow(row_)) {
                    out.insert(out.end(), kEolZeros, kEolZeros + 2);
                    out.insert(out.end(), row_.begin(), row_.end());
                    left_ = 0;
                    break;
                }
                ++dropped_;
                if (--left_ == 0) {
                    // The row starting here is the first one kept.
                    out.insert(out.end(), kEolZeros, kEolZeros + 2);
                    break;
                }
            }
            inRow_ = true;
            row_.clear();
        }
        if (left_ == 0) break;
        if (inRow_) row_.push_back(data[i]);
    }
    if (left_ == 0) out.insert(out.end(), data + i, data + len);
}

}  // namespace telvane::transport
