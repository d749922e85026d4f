// The body of the libFuzzer targets of the T.4 2-D (MR) and T.6 (MMR) decoders. The first byte
// picks the line width (1728, 2048, or one of 2..255 x 16 less a few pels, so odd widths and
// the widest line occur), the second where the data is cut in two pieces. Checked: every line
// has the width's bytes and no pel beyond the width; lines come no faster than the codes
// allow; and at a fax file width the page transcoded into MH decodes with the MH decoder into
// the same lines.
#pragma once

#include "faximage/mhdecoder.h"
#include "faximage/mrdecoder.h"
#include "faximage/transcode.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

namespace fuzz2d {

// Keeps a running hash of the lines it is given.
struct HashSink : telvane::faximage::FaxLineSink {
    std::size_t bytes = 0;
    int width = 0;
    long lines = 0;
    std::uint64_t hash = 1469598103934665603ull;
    void faxLine(const std::uint8_t* line, std::size_t n) override {
        if (bytes != 0 && n != bytes) std::abort();
        if (width % 8 && (line[n - 1] & (0xFF >> (width % 8)))) std::abort();  // pad bits stay white
        for (std::size_t i = 0; i < n; ++i) hash = (hash ^ line[i]) * 1099511628211ull;
        ++lines;
    }
};

inline int run(telvane::faximage::FaxCoding coding, const std::uint8_t* data, std::size_t size) {
    using namespace telvane::faximage;
    if (size < 2) return 0;
    const int width = data[0] == 0 ? 1728 : data[0] == 1 ? 2048 : data[0] * 16 - data[0] % 7;
    const std::size_t cut = data[1] % (size - 1);
    const std::uint8_t* page = data + 2;
    const std::size_t pageSize = size - 2;

    HashSink sink;
    sink.bytes = std::size_t(width + 7) / 8;
    sink.width = width;
    FaxMrDecoder d(&sink);
    d.reset(coding, width);
    if (!d.feed(page, std::min(cut, pageSize)))
        d.feed(page + std::min(cut, pageSize), pageSize - std::min(cut, pageSize));
    d.finish();
    // An MMR line takes one bit at least, an MR line an EOL and a tag bit.
    const long most = long(pageSize) * 8 / (coding == FaxCoding::MR ? 13 : 1) + 1;
    if (sink.lines != d.linesDelivered() || sink.lines > most) std::abort();

    if (width == 1728 || width == 2048) {
        FaxPageTranscoder t;
        if (t.begin(coding, width) != 0) std::abort();
        std::vector<std::uint8_t> mh;
        t.feed(page, pageSize, mh);
        t.finish(mh);
        HashSink again;
        again.bytes = sink.bytes;
        again.width = width;
        FaxLineDecoder mhDecoder(&again);
        if (!mhDecoder.feed(mh.data(), mh.size())) mhDecoder.finish();
        if (again.lines != sink.lines || again.hash != sink.hash || t.lines() != sink.lines) std::abort();
    }
    return 0;
}

}  // namespace fuzz2d
