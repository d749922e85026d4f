// Transcoding a received page from MR or MMR into MH, the coding of fax files, so that every
// reader of a fax file (decoder, viewer, printer, exports, the send sessions) reads it.
// The output is a raw page (no line records): each decoded line coded as the MH line coder
// codes it (byte-aligned EOL, run codes, zero fill), then the page end block (RTC).
// Streaming: data is taken in pieces of any size and the lines decoded so far are appended to
// the caller's buffer at once; memory stays fixed apart from that buffer.
// Damaged data: every line that decodes is kept; lines lost to errors are counted
// (damagedLines()), and a page whose data ended without its page end code is reported too, so
// that the caller can mark the page.
#pragma once

#include "faximage/mhcoder.h"
#include "faximage/mrdecoder.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace telvane::faximage {

class FaxPageTranscoder : private FaxLineSink {
public:
    FaxPageTranscoder() : decoder_(this) {}
    // Starts a page coded in MR or MMR whose lines are `width` pels (1728 or 2048, the widths
    // of a fax file); returns 0, or -1002 for another width or coding.
    int begin(FaxCoding from, int width);
    // Decodes more of the page and appends the MH data of the lines found to `out`.
    void feed(const std::uint8_t* data, std::size_t size, std::vector<std::uint8_t>& out);
    // Ends the page at the end of its data: appends the last line still held and the page end.
    void finish(std::vector<std::uint8_t>& out);

    long lines() const { return decoder_.linesDelivered(); }
    long damagedLines() const { return decoder_.damagedLines(); }
    // The page end code (RTC or EOFB) was found.
    bool pageEnded() const { return decoder_.pageEnded(); }
    // Lines were lost, or the data ended before its page end code.
    bool damaged() const { return damagedLines() > 0 || !pageEnded(); }

private:
    void faxLine(const std::uint8_t* line, std::size_t bytes) override;

    FaxMrDecoder decoder_;
    FaxLineCoder coder_;
    std::vector<std::uint8_t>* out_ = nullptr;
    bool finished_ = false;
};

}  // namespace telvane::faximage
