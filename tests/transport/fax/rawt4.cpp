#include "rawt4.h"

#include "faximage/mhdecoder.h"

#include <algorithm>

#include "faximage/mhcoder.h"
#include "faximage/ovffile.h"

namespace faxtest {

const uint8_t kBlank[6] = {0x00, 0x80, 0xB2, 0x59, 0x01, 0x00};
const uint8_t kEnd[12] = {0x00, 0x80, 0x00, 0x08, 0x80, 0x00, 0x08, 0x80, 0x00, 0x08, 0x80, 0x00};

std::vector<uint8_t> rawT4Page(int lines) {
    std::vector<uint8_t> data;
    for (int i = 0; i < lines; ++i) data.insert(data.end(), kBlank, kBlank + 6);
    data.insert(data.end(), kEnd, kEnd + 12);
    return data;
}

std::vector<uint8_t> codedPage(int seed, int lines) {
    telvane::faximage::FaxLineCoder coder;
    coder.setup(1728, 0, false);
    std::vector<uint8_t> data;
    std::vector<uint8_t> raster(216);
    uint32_t s = 2166136261u ^ static_cast<uint32_t>(seed);
    for (int y = 0; y < lines; ++y) {
        std::fill(raster.begin(), raster.end(), 0);
        for (size_t x = 0; x < raster.size(); x += 9) {
            s = s * 1664525u + 1013904223u;
            raster[x] = static_cast<uint8_t>(s >> 24);
        }
        const size_t n = coder.codeLine(raster.data());
        data.insert(data.end(), coder.data(), coder.data() + n);
    }
    data.insert(data.end(), kEnd, kEnd + 12);
    return data;
}

namespace {
struct LineList final : telvane::faximage::FaxLineSink {
    std::vector<std::vector<uint8_t>> lines;
    void faxLine(const uint8_t* line, size_t bytes) override { lines.emplace_back(line, line + bytes); }
};
}  // namespace

std::vector<std::vector<uint8_t>> mhRows(const std::vector<uint8_t>& data) {
    LineList l;
    telvane::faximage::FaxLineDecoder d(&l);
    d.feed(data.data(), data.size());
    d.finish();
    return l.lines;
}

std::vector<size_t> codedLineBits(const std::vector<uint8_t>& data) {
    std::vector<size_t> lines;
    size_t zeros = 0, bits = 0;
    bool hasData = false;
    for (uint8_t byte : data) {
        for (int b = 0; b < 8; ++b) {
            ++bits;
            if (((byte >> b) & 1) == 0) {
                ++zeros;
                continue;
            }
            if (zeros >= 11) {
                if (hasData) lines.push_back(bits);
                bits = 0;
                hasData = false;
            } else {
                hasData = true;
            }
            zeros = 0;
        }
    }
    return lines;
}

std::vector<std::vector<uint8_t>> readPages(const std::string& path, std::vector<uint16_t>* flags) {
    std::vector<std::vector<uint8_t>> pages;
    telvane::faximage::OvfReader r;
    if (r.open(path) != 0) return pages;
    for (int p = 1; p <= r.pageCount(); ++p) {
        telvane::faximage::OvfPageHeader ph;
        if (r.seekPage(p, ph) != 0) break;
        if (flags) flags->push_back(ph.imageFlags);
        std::vector<uint8_t> data;
        const uint8_t* block = nullptr;
        size_t size = 0;
        bool isLine = false;
        while (r.nextBlock(block, size, isLine) > 0) data.insert(data.end(), block, block + size);
        pages.push_back(data);
    }
    return pages;
}

}  // namespace faxtest
