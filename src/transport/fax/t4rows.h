// Dropping white rows at the top of a page's one-dimensional T.4 data, so that the header line
// drawn above a page takes the place of its top margin and the page keeps the length of its
// paper. Works on line records (one coded row each) and on raw data in transmission order
// (least significant bit first). A row starts with its EOL (eleven or more zeros, then a one).
// Guarantees: only white rows are dropped, at most the number asked for and only before the
// first row that is not white, so nothing drawn on a page is lost (a page without that much top
// margin comes out longer instead); what is passed on decodes to the page's remaining rows and
// keeps its RTC.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace telvane::transport {

class TRowDropper {
public:
    // Starts a page whose first `rows` rows are to go where they are white (0: all passes).
    void reset(int rows);
    // Whether rows may still be dropped (else everything passes as it is).
    bool dropping() const { return left_ > 0; }
    // A line record: true when it is dropped.
    bool dropRecord(const uint8_t* data, size_t len);
    // A piece of raw data: appends what is not dropped to `out`.
    void feedRaw(const uint8_t* data, size_t len, std::vector<uint8_t>& out);
    int dropped() const { return dropped_; }

private:
    // Whether `row` (coded bytes starting with its EOL) decodes to one white row.
    static bool whiteRow(const std::vector<uint8_t>& row);

    int left_ = 0;
    int dropped_ = 0;
    int zeroRun_ = 0;
    bool inRow_ = false;        // raw data: the first EOL has been seen
    std::vector<uint8_t> row_;  // raw data: the bytes of the row being read, from its EOL's one
};

}  // namespace telvane::transport
