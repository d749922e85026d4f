// The T.4 two-dimensional (MR) and T.6 (MMR) page decoder: consumes a page's coded bytes
// (first bit in bit 0 of each byte) in pieces of any size and delivers each decoded line, of
// (width + 7) / 8 bytes, MSB first, 1 = black, to a FaxLineSink as the MH decoder does.
// MR: codes before the page's first EOL are ignored; the tag bit after each EOL says whether a
// line is one-dimensional (MH codes) or two-dimensional (coded against the line before it);
// zero fill before an EOL is allowed; three EOLs with nothing but tag bits between them end
// the page (RTC). A line with an invalid code, a code that leads outside the line, or an EOL
// before its end is damaged: it is not delivered, and as the 2-D lines after it refer to it,
// decoding resumes at the next one-dimensional line (EOL + 1). The first line is coded against
// an all-white line, so a page that opens with a 2-D line still decodes.
// MMR: the first line is coded against an all-white line; EOFB ends the page. Any error ends
// the page at the damaged line: the lines before it are delivered, the rest is ignored.
// Guarantees: fixed memory (two changing-element lists and one line), never reads outside
// the given bytes, terminates on any input; each call does work bounded by its input.
#pragma once

#include "faximage/mhdecoder.h"
#include "faximage/mrcodes.h"

#include <cstddef>
#include <cstdint>

namespace telvane::faximage {

class FaxMrDecoder {
public:
    explicit FaxMrDecoder(FaxLineSink* sink = nullptr) : sink_(sink) { reset(FaxCoding::MMR, 1728); }
    FaxMrDecoder(const FaxMrDecoder&) = delete;
    FaxMrDecoder& operator=(const FaxMrDecoder&) = delete;
    void setSink(FaxLineSink* sink) { sink_ = sink; }

    // Starts a page coded in MR or MMR (anything else is read as MMR) with lines of `width`
    // pels (clamped to 1..kMaxLineWidth).
    void reset(FaxCoding coding, int width);
    // Decodes more bytes of the page; returns true once the decoder takes no more data (the
    // page end code was seen, or an MMR page ended at an error).
    bool feed(const std::uint8_t* data, std::size_t size);
    // Ends the page at the end of its data: decodes the bits still held; a line left
    // unfinished counts as damaged.
    void finish();

    // RTC (MR) or EOFB (MMR) was seen.
    bool pageEnded() const { return st_.ended; }
    long linesDelivered() const { return lines_; }
    // Lines lost to errors (for MMR: 1 when the page ended at an error or was cut short).
    long damagedLines() const { return damaged_; }
    int width() const { return width_; }
    FaxCoding coding() const { return coding_; }

private:
    enum class Phase : std::uint8_t {
        SeekEol,  // MR: before the page's first EOL
        Tag,      // MR: the bit after an EOL
        Modes,    // 2-D line: the next mode code
        Runs1D,   // MR 1-D line: the next run code
        HFirst,   // horizontal mode: the first run (colour of a0)
        HSecond,  // horizontal mode: the second run
        LineEnd,  // MR: the line is complete, fill and EOL expected
        Skip,     // MR: after an error, up to the next EOL
    };
    // Everything the decoding of a page carries from code to code. The decoding loop keeps a
    // copy in local variables and hands it back before calling the rarer steps below.
    struct State {
        std::uint64_t acc;  // pending bits, next bit in bit 0; bits above nbits are 0
        int nbits;
        Phase phase;
        bool black;     // colour of a0 (2-D) or of the next run (1-D)
        bool zeros;     // eleven or more zero bits were dropped: the next one ends an EOL
        bool refValid;  // MR: the reference line was decoded intact
        bool lineOpen;  // MR: a line began at an EOL and was not delivered
        bool skipped;   // codes of the line were skipped after an error
        bool ended;
        bool halted;
        int a0;       // 2-D: a0 (-1: the imaginary element before the line); 1-D: pels so far
        int a1;       // horizontal mode: a1 once the first run is read
        int bi;       // index of b1 in the reference list (its parity is a0's colour)
        int run;      // make-up pels of the run being read
        int changes;  // changes of the current line so far
        int eolRun;   // EOLs since the last code of a line
        std::int32_t* ref;
        std::int32_t* cur;
    };

    // Decodes the bits in hand and those of [p, end); at the end of the data (Final) also the
    // last bits, which need not fill a code.
    template <bool Final>
    void decode(const std::uint8_t* p, const std::uint8_t* end);
    // The current line holds codes.
    bool lineHasCodes() const;
    // The rarer steps, on st_: EOLs, tag bits, skipping, errors. False when the bits in hand
    // are not enough to go on.
    bool step(bool final);
    void drop(int n) {
        st_.acc = n >= 64 ? 0 : st_.acc >> n;
        st_.nbits -= n;
    }
    void onEol();
    void fail();
    // Paints a decoded line from its changes and hands it to the sink.
    void deliver(const std::int32_t* cur, int changes);

    FaxLineSink* sink_;
    FaxCoding coding_ = FaxCoding::MMR;
    int width_ = 1728;
    State st_{};
    long lines_ = 0;
    long damaged_ = 0;
    bool dirty_ = true;  // line_ may hold black pels
    std::int32_t listA_[kChangeListSize] = {-1, -1};
    std::int32_t listB_[kChangeListSize] = {-1, -1};
    std::uint8_t line_[kMaxLineWidth / 8];
};

}  // namespace telvane::faximage
