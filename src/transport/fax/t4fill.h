// Fill for raw T.4 page data (ITU-T T.4 "fill"): zero bits put before an EOL so that every
// coded line, EOL included, lasts at least the receiver's minimum scan-line time.
// Data is in transmission order (least significant bit of each byte first), as page data
// is handed to a Class 1 modem. An EOL is eleven or more zeros followed by a one.
// Guarantees: the output decodes to the same lines as the input; only zero bits are added,
// and only in front of the one that ends an EOL; the empty lines between the EOLs of an RTC
// get no fill, so the RTC stays six consecutive EOLs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace telvane::transport {

class TFillInserter {
public:
    // Starts a page with `minBytes` per line (0: data passes unchanged).
    void reset(size_t minBytes);
    // Appends `data` with fill added to `out`; whole bytes only, a partial byte is kept.
    void feed(const uint8_t* data, size_t len, std::vector<uint8_t>& out);
    // Appends the kept partial byte (padded with zero bits) at the end of the page.
    void flush(std::vector<uint8_t>& out);

private:
    void putBit(int bit, std::vector<uint8_t>& out);
    size_t minBits_ = 0;
    size_t zeroRun_ = 0;        // zeros just read
    size_t lineBits_ = 0;       // bits written since the last EOL ended
    bool lineHasData_ = false;  // a one other than an EOL's was written in this line
    uint8_t acc_ = 0;
    int accBits_ = 0;
};

}  // namespace telvane::transport
