// The receivers' look at a page while it arrives: its T.4 lines are decoded as they come, so
// that a page is judged before it is confirmed (T.30 copy quality: MCF, RTP or RTN) and a page
// that the viewer, printer and exports could not show is never taken; and, for Class 2 / 2.0
// modems, which of the two bit orders the modem hands the page data over in.
// Guarantees: fixed memory whatever the page's size; Feed never fails; the verdict depends only
// on the bytes fed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "faximage/mhdecoder.h"

namespace telvane::transport {

// The longest page every reader of a received fax takes: the exports draw a standard page at
// twice its lines, and a BMP holds at most 32767 rows.
inline constexpr long kMaxReceivedPageLines = 16383;

enum class TPageVerdict {
    Good,     // MCF
    Poor,     // kept, but the line needs retraining (RTP): some lines damaged or no RTC
    Bad,      // not taken (RTN): nothing readable, or too many lines damaged
    TooTall,  // not taken (RTN): longer than the readers can show
};

class TPageCheck {
public:
    TPageCheck();
    // Starts a page.
    void reset();
    // Takes the next piece of the page's data (T.4 bit order, least significant bit first).
    void feed(const uint8_t* data, size_t len);
    // Damaged lines that were taken out before the data came here (2-D page data coded into MH
    // drops them): they count as lines and as damaged ones.
    void addLostLines(long lines) { lost_ += lines > 0 ? lines : 0; }
    // The page's data is complete: the verdict.
    TPageVerdict finish();
    long lines() const { return lines_; }
    long damagedLines() const { return damaged_; }
    bool tooTall() const { return lines_ > kMaxReceivedPageLines; }

private:
    struct Counter final : telvane::faximage::FaxLineSink {
        TPageCheck* self = nullptr;
        void faxLine(const uint8_t*, size_t) override;
    };
    Counter counter_;
    telvane::faximage::FaxLineDecoder decoder_;
    long lines_ = 0;
    long damaged_ = 0;
    long lost_ = 0;
    long errorsSeen_ = 0;
    bool finished_ = false;
    TPageVerdict verdict_ = TPageVerdict::Bad;
};

// Reads the bit order of page data a Class 2 / 2.0 modem delivers: the first kSample bytes are
// held back, then decoded both ways; the order that yields more whole lines wins (the direct
// one on a tie). Bytes come out in T.4 order.
class TBitOrder {
public:
    static constexpr size_t kSample = 1024;
    void reset();
    // Appends `data` in T.4 order to `out` (nothing while the sample is being gathered).
    void feed(const uint8_t* data, size_t len, std::vector<uint8_t>& out);
    // The page ends: whatever was held back, in the order the sample shows.
    void flush(std::vector<uint8_t>& out);
    // Whether the data was found reversed (once decided).
    bool reversed() const { return reversed_; }
    bool decided() const { return decided_; }

private:
    void decide();
    std::vector<uint8_t> held_;
    bool decided_ = false;
    bool reversed_ = false;
};

uint8_t reverseBits(uint8_t b);

}  // namespace telvane::transport
