// ECM partial pages (see ecmblock.h).
#include "transport/fax/ecmblock.h"

#include <algorithm>

namespace telvane::transport::ecm {

namespace {

int validFrameSize(int frameSize) { return frameSize == kSmallFrameSize ? kSmallFrameSize : kFrameSize; }

}  // namespace

TEcmPageSplitter::TEcmPageSplitter() { data_.reserve(static_cast<size_t>(kFrameSize) * kMaxFrames); }

void TEcmPageSplitter::beginPage(int frameSize) {
    frameSize_ = validFrameSize(frameSize);
    data_.clear();
    block_ = 0;
    last_ = false;
}

size_t TEcmPageSplitter::append(const uint8_t* data, size_t len) {
    const size_t take = std::min(len, blockOctets() - data_.size());
    data_.insert(data_.end(), data, data + take);
    return take;
}

void TEcmPageSplitter::nextBlock() {
    data_.clear();
    ++block_;
    last_ = false;
}

int TEcmPageSplitter::frameCount() const {
    return static_cast<int>((data_.size() + static_cast<size_t>(frameSize_) - 1) / static_cast<size_t>(frameSize_));
}

std::vector<uint8_t> TEcmPageSplitter::fcdFif(int frame) const {
    if (frame < 0 || frame >= frameCount()) return {};
    std::vector<uint8_t> fif(1 + static_cast<size_t>(frameSize_), 0x00);
    fif[0] = static_cast<uint8_t>(frame);
    const size_t from = static_cast<size_t>(frame) * static_cast<size_t>(frameSize_);
    const size_t n = std::min(static_cast<size_t>(frameSize_), data_.size() - from);
    std::copy_n(data_.begin() + static_cast<std::ptrdiff_t>(from), n, fif.begin() + 1);
    return fif;
}

TEcmBlockAssembler::TEcmBlockAssembler()
    : data_(static_cast<size_t>(kFrameSize) * kMaxFrames), length_(kMaxFrames, 0) {}

void TEcmBlockAssembler::beginBlock(int frameSize) {
    frameSize_ = validFrameSize(frameSize);
    std::fill(length_.begin(), length_.end(), 0);
}

bool TEcmBlockAssembler::addFrame(const uint8_t* fif, size_t len) {
    if (len < 2 || len - 1 > static_cast<size_t>(frameSize_)) return false;
    const int frame = fif[0];
    std::copy_n(fif + 1, len - 1, data_.begin() + static_cast<std::ptrdiff_t>(frame) * frameSize_);
    length_[static_cast<size_t>(frame)] = static_cast<uint16_t>(len - 1);
    return true;
}

TFrameMap TEcmBlockAssembler::missing(int frameCount) const {
    TFrameMap missing;
    for (int f = 0; f < std::clamp(frameCount, 0, kMaxFrames); ++f)
        if (length_[static_cast<size_t>(f)] == 0) missing.set(f);
    return missing;
}

void TEcmBlockAssembler::Data(int frameCount, std::vector<uint8_t>& out) const {
    for (int f = 0; f < std::clamp(frameCount, 0, kMaxFrames); ++f) {
        const auto from = data_.begin() + static_cast<std::ptrdiff_t>(f) * frameSize_;
        const uint16_t n = length_[static_cast<size_t>(f)];
        if (n == 0)
            out.insert(out.end(), static_cast<size_t>(frameSize_), 0x00);
        else
            out.insert(out.end(), from, from + n);
    }
}

}  // namespace telvane::transport::ecm
