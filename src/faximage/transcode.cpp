// MR/MMR to MH transcoding (see transcode.h): the 2-D decoder hands each line to the MH line
// coder, whose bytes go straight to the caller's buffer.
#include "faximage/transcode.h"

#include "errors/errors.h"

namespace telvane::faximage {

int FaxPageTranscoder::begin(FaxCoding from, int width) {
    if ((from != FaxCoding::MR && from != FaxCoding::MMR) || (width != 1728 && width != 2048))
        return errors::ecBadArgument;
    decoder_.reset(from, width);
    coder_.setup(width, 0, false);
    finished_ = false;
    return errors::ecOK;
}

void FaxPageTranscoder::faxLine(const std::uint8_t* line, std::size_t) {
    const std::size_t n = coder_.codeLine(line);
    out_->insert(out_->end(), coder_.data(), coder_.data() + n);
}

void FaxPageTranscoder::feed(const std::uint8_t* data, std::size_t size, std::vector<std::uint8_t>& out) {
    out_ = &out;
    decoder_.feed(data, size);
}

void FaxPageTranscoder::finish(std::vector<std::uint8_t>& out) {
    if (finished_) return;
    finished_ = true;
    out_ = &out;
    decoder_.finish();
    out.insert(out.end(), kPageEndBlock, kPageEndBlock + sizeof kPageEndBlock);
}

}  // namespace telvane::faximage
