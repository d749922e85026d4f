// libFuzzer target: the BMP, PCX, DCX and TIFF readers of the page encoder; the first byte
// picks the reader, the rest is the file.
#include "faximage/faxinput.h"

#include <cstddef>
#include <cstdint>
#include <vector>

using namespace telvane::faximage;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    std::vector<std::uint8_t> file(data + 1, data + size);
    std::unique_ptr<FaxLineSource> src;
    switch (data[0] & 3) {
    case 0: src = makeBmpSource(std::move(file)); break;
    case 1: src = makePcxSource(std::move(file)); break;
    case 2: src = makeDcxSource(std::move(file)); break;
    default: src = makeTiffSource(std::move(file)); break;
    }
    if (src->open() != 0) return 0;
    std::vector<std::uint8_t> line;
    // The whole document: the readers bound pages and lines themselves (a page longer than
    // kMaxPageLines must fail, not be cut here).
    bool more = true;
    for (int page = 0; more; ++page) {
        if (src->beginPage() != 0) break;
        int w = src->imageWidth();
        if (w <= 0 || w > kMaxImageWidth) __builtin_trap();
        line.assign(std::size_t(w + 7) / 8, 0);
        bool eop = false;
        for (long lines = 0;; ++lines) {
            if (src->readLine(line.data(), eop, more) != 0) {
                more = false;
                break;
            }
            if (eop) break;
            if (lines > kMaxPageLines) __builtin_trap();  // readers must stop at the page limit
        }
    }
    src->close();
    return 0;
}
