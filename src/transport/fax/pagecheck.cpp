// Received pages judged while they arrive, and the bit order of Class 2 page data (see
// pagecheck.h).
#include "transport/fax/pagecheck.h"

#include <algorithm>

namespace telvane::transport {

uint8_t reverseBits(uint8_t b) {
    b = static_cast<uint8_t>((b & 0xF0) >> 4 | (b & 0x0F) << 4);
    b = static_cast<uint8_t>((b & 0xCC) >> 2 | (b & 0x33) << 2);
    return static_cast<uint8_t>((b & 0xAA) >> 1 | (b & 0x55) << 1);
}

TPageCheck::TPageCheck() {
    counter_.self = this;
    decoder_.setSink(&counter_);
    reset();
}

void TPageCheck::reset() {
    decoder_.reset();
    lines_ = damaged_ = lost_ = errorsSeen_ = 0;
    finished_ = false;
    verdict_ = TPageVerdict::Bad;
}

// A line that follows invalid codes counts as damaged; so does a line the decoder dropped for
// its width (counted in the verdict).
void TPageCheck::Counter::faxLine(const uint8_t*, size_t) {
    ++self->lines_;
    const long errors = self->decoder_.codeErrors();
    if (errors != self->errorsSeen_) {
        ++self->damaged_;
        self->errorsSeen_ = errors;
    }
}

void TPageCheck::feed(const uint8_t* data, size_t len) {
    // Past the limit the page is refused whatever follows: nothing more to decode.
    if (finished_ || tooTall()) return;
    decoder_.feed(data, len);
}

TPageVerdict TPageCheck::finish() {
    if (finished_) return verdict_;
    finished_ = true;
    if (!tooTall()) decoder_.finish();
    if (decoder_.codeErrors() != errorsSeen_) ++damaged_;
    // Damage that left valid codes shows only in the widths: those lines are lost.
    const long lost = decoder_.wrongWidthLines() + lost_;
    const long lines = lines_ + lost, damaged = damaged_ + lost;
    if (tooTall())
        verdict_ = TPageVerdict::TooTall;
    else if (lines_ == 0 || damaged * 10 > lines)
        verdict_ = TPageVerdict::Bad;
    else if (damaged > 0 || !decoder_.pageEnded())
        verdict_ = TPageVerdict::Poor;
    else
        verdict_ = TPageVerdict::Good;
    return verdict_;
}

void TBitOrder::reset() {
    held_.clear();
    decided_ = false;
    reversed_ = false;
}

void TBitOrder::decide() {
    struct Count final : telvane::faximage::FaxLineSink {
        long lines = 0;
        void faxLine(const uint8_t*, size_t) override { ++lines; }
    };
    Count direct, reversed;
    telvane::faximage::FaxLineDecoder a(&direct), b(&reversed);
    a.feed(held_.data(), held_.size());
    std::vector<uint8_t> flipped(held_.size());
    std::transform(held_.begin(), held_.end(), flipped.begin(), reverseBits);
    b.feed(flipped.data(), flipped.size());
    reversed_ = reversed.lines > direct.lines;
    decided_ = true;
    if (reversed_) held_.swap(flipped);
}

void TBitOrder::feed(const uint8_t* data, size_t len, std::vector<uint8_t>& out) {
    if (decided_) {
        const size_t start = out.size();
        out.insert(out.end(), data, data + len);
        if (reversed_)
            std::transform(out.begin() + static_cast<long>(start), out.end(), out.begin() + static_cast<long>(start),
                           reverseBits);
        return;
    }
    const size_t take = std::min(len, kSample - held_.size());
    held_.insert(held_.end(), data, data + take);
    if (held_.size() < kSample) return;
    decide();
    out.insert(out.end(), held_.begin(), held_.end());
    held_.clear();
    feed(data + take, len - take, out);
}

void TBitOrder::flush(std::vector<uint8_t>& out) {
    if (decided_) return;
    decide();
    out.insert(out.end(), held_.begin(), held_.end());
    held_.clear();
}

}  // namespace telvane::transport
