// The T.4 one-dimensional page decoder: consumes the coded bytes of a page (LSB-first bit order)
// in pieces of any size and delivers the decoded raster lines (MSB first, 1 = black).
// Rules: run codes before the page's first EOL are ignored; a line is delivered at the EOL that
// ends it when it holds 216 or 256 whole bytes (1728 or 2048 pels), otherwise dropped and
// counted; a run that would take a line past 4096 pels is ignored; an invalid code is counted and
// skipped up to the next 0 bit so that the next EOL resynchronises; three EOLs with no run code
// between them end the page. An EOL is eleven or more 0 bits followed by a 1 (fill bits allowed).
// Guarantees: fixed memory (a 512-byte line), never reads outside the given bytes, terminates
// on any input. Its state between calls (checkInvariant, where assertions are on): fewer than 64
// bits in hand and none above them, the line within its buffer with black pels only in the bytes
// marked dirty, zeros held back only as the start of an EOL.
#pragma once

#include <cassert>
#include <cstddef>
#include <cstdint>

namespace telvane::faximage {

class FaxLineSink {
public:
    virtual ~FaxLineSink() = default;
    virtual void faxLine(const std::uint8_t* line, std::size_t bytes) = 0;
};

class FaxLineDecoder {
public:
    static constexpr int kMaxLineBytes = 512;

    explicit FaxLineDecoder(FaxLineSink* sink = nullptr) : sink_(sink) { reset(); }
    void setSink(FaxLineSink* sink) { sink_ = sink; }

    // Starts a new page.
    void reset();
    // Decodes more bytes of the page; returns true once the page end code has been seen
    // (later bytes are then ignored).
    bool feed(const std::uint8_t* data, std::size_t size);
    // Ends the page at the end of its data: decodes the bits still held and delivers a last
    // line that has a valid width but no EOL behind it.
    void finish();

    bool pageEnded() const { return ended_; }
    long linesDelivered() const { return lines_; }
    long codeErrors() const { return errors_; }
    // Lines ended by an EOL but dropped for their width (damage that left valid codes).
    long wrongWidthLines() const { return wrongWidth_; }

private:
    enum class Step { Done, NeedBits };
    Step step(bool final);
    void drop(int n) {
        assert(n >= 0 && n <= nbits_);
        acc_ = n >= 64 ? 0 : acc_ >> n;
        nbits_ -= n;
    }
    void endOfLine();
    void addRun(int run);
    void checkInvariant() const;
    // Sets pels [start, start + run) of the line.
    void fillBlack(int start, int run) {
        assert(start >= 0 && run > 0 && start + run <= kMaxLineBytes * 8);
        const int end = start + run;
        const int sb = start >> 3, eb = (end - 1) >> 3;
        const std::uint8_t first = std::uint8_t(0xFF >> (start & 7));
        const std::uint8_t last = std::uint8_t(0xFF << (7 - ((end - 1) & 7)));
        if (eb >= dirty_) dirty_ = eb + 1;
        if (sb == eb) {
            line_[sb] |= first & last;
        } else {
            line_[sb] |= first;
            for (int i = sb + 1; i < eb; ++i) line_[i] = 0xFF;
            line_[eb] |= last;
        }
    }

    FaxLineSink* sink_;
    std::uint64_t acc_;  // pending bits, next bit in bit 0; bits above nbits_ are 0
    int nbits_;          // 0..63
    int pendingZeros_;   // zero bits already dropped at a code boundary (always >= 11 when set)
    bool skipOnes_;      // after an invalid code: skipping 1 bits up to the next 0
    bool black_;
    bool seenEol_;
    bool ended_;
    int eolRun_;  // EOLs since the last run code
    int pos_;     // pels assembled in the current line
    int dirty_;   // line bytes that may hold black pels
    long lines_;
    long errors_;
    long wrongWidth_;
    std::uint8_t line_[kMaxLineBytes + 8];  // 8 bytes of slack for word-wide stores
};

}  // namespace telvane::faximage
