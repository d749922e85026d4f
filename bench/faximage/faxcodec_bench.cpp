// Throughput of our T.4 MH coder and decoder beside libtiff's Group 3 1-D codec, and of our
// T.4 2-D (MR) and T.6 (MMR) coder and decoder beside libtiff's Group 3 2-D and Group 4 codecs,
// on the same fine-resolution 1728-pel pages: a dense text page, a sparse letter, a blank page
// and a dithered photo. Items per second are pages per second.
#include "faximage/faxinput.h"
#include "faximage/mhcoder.h"
#include "faximage/mhdecoder.h"
#include "faximage/mrcoder.h"
#include "faximage/mrdecoder.h"
#include "faximage/raster.h"

#include <benchmark/benchmark.h>
#include <tiffio.h>

#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <vector>

using namespace telvane::faximage;

namespace {

constexpr int kWidth = 1728;
constexpr int kRows = 2200;

void drawText(Raster& page, int firstRow, int lastRow, int leftPel, int rightPel, unsigned seed) {
    BitmapFontRenderer font(false);
    font.prepare(true, kWidth, 0);
    std::mt19937 rng(seed);
    Raster line;
    for (int y = firstRow; y + font.rowCount() <= lastRow; y += font.rowCount() + 8) {
        std::string text;
        int chars = (rightPel - leftPel) / 20 - int(rng() % 10);
        for (int i = 0; i < chars; ++i) text += (rng() % 6 == 0) ? ' ' : char('a' + rng() % 26);
        font.renderLine(text, line);
        for (int r = 0; r < line.height; ++r)
            for (int x = 0; x < line.width && leftPel + x < kWidth; ++x)
                if (line.pixel(x, r)) page.setPixel(leftPel + x, y + r, true);
    }
}

Raster makePage(int kind) {
    Raster page(kWidth, kRows);
    switch (kind) {
    case 0:  // dense text
        drawText(page, 40, kRows - 40, 60, kWidth - 60, 1);
        break;
    case 1:  // sparse letter: address block, a few paragraphs, signature rule
        drawText(page, 120, 260, 100, 700, 2);
        drawText(page, 500, 900, 100, kWidth - 100, 3);
        for (int x = 100; x < 600; ++x) page.setPixel(x, 1100, true);
        break;
    case 2:  // blank
        break;
    default:  // dithered photo: smooth shading with rings
        for (int y = 0; y < kRows; ++y)
            for (int x = 0; x < kWidth; ++x) {
                double d = std::hypot(x - kWidth / 2.0, (y - kRows / 2.0) / 2);
                int grey = int(382 + 300 * std::sin(d / 40.0) * std::cos(x / 300.0));
                if (ditherBlack(x, y, grey)) page.setPixel(x, y, true);
            }
        break;
    }
    return page;
}

const char* kNames[] = {"dense_text", "sparse_letter", "blank", "dithered_photo"};

const Raster& page(int kind) {
    static std::vector<Raster> pages = [] {
        std::vector<Raster> v;
        for (int k = 0; k < 4; ++k) v.push_back(makePage(k));
        return v;
    }();
    return pages[std::size_t(kind)];
}

std::vector<std::uint8_t> encodeOurs(const Raster& r) {
    FaxLineCoder coder;
    coder.setup(kWidth, 0, false);
    std::vector<std::uint8_t> out;
    std::uint8_t raster[4096] = {};
    for (int y = 0; y < r.height; ++y) {
        std::memcpy(raster, r.row(y), r.stride);
        std::size_t n = coder.codeLine(raster);
        out.insert(out.end(), coder.data(), coder.data() + n);
    }
    out.insert(out.end(), kPageEndBlock, kPageEndBlock + 12);
    return out;
}

// libtiff over a growable memory buffer.
struct MemFile {
    std::vector<std::uint8_t> bytes;
    std::size_t pos = 0;
};
tmsize_t mRead(thandle_t h, void* b, tmsize_t n) {
    auto* f = static_cast<MemFile*>(h);
    std::size_t k = std::min<std::size_t>(std::size_t(n), f->bytes.size() - std::min(f->pos, f->bytes.size()));
    std::memcpy(b, f->bytes.data() + f->pos, k);
    f->pos += k;
    return tmsize_t(k);
}
tmsize_t mWrite(thandle_t h, void* b, tmsize_t n) {
    auto* f = static_cast<MemFile*>(h);
    if (f->pos + std::size_t(n) > f->bytes.size()) f->bytes.resize(f->pos + std::size_t(n));
    std::memcpy(f->bytes.data() + f->pos, b, std::size_t(n));
    f->pos += std::size_t(n);
    return n;
}
toff_t mSeek(thandle_t h, toff_t off, int whence) {
    auto* f = static_cast<MemFile*>(h);
    f->pos = std::size_t(whence == SEEK_CUR ? f->pos + off : whence == SEEK_END ? f->bytes.size() + off : off);
    return f->pos;
}
int mClose(thandle_t) { return 0; }
toff_t mSize(thandle_t h) { return static_cast<MemFile*>(h)->bytes.size(); }
int mMap(thandle_t, void**, toff_t*) { return 0; }
void mUnmap(thandle_t, void*, toff_t) {}

TIFF* openMem(MemFile& f, const char* mode) {
    f.pos = 0;
    return TIFFClientOpen("bench", mode, &f, mRead, mWrite, mSeek, mClose, mSize, mMap, mUnmap);
}

// libtiff's codings: Group 3 1-D (MH), Group 3 2-D (MR, K = 4 at fine resolution), Group 4 (MMR).
void encodeTiff(const Raster& r, MemFile& f, FaxCoding coding = FaxCoding::MH) {
    f.bytes.clear();
    TIFF* t = openMem(f, "w");
    TIFFSetField(t, TIFFTAG_IMAGEWIDTH, kWidth);
    TIFFSetField(t, TIFFTAG_IMAGELENGTH, r.height);
    TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 1);
    TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, 1);
    TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE);
    TIFFSetField(t, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
    TIFFSetField(t, TIFFTAG_YRESOLUTION, 196.0f);
    TIFFSetField(t, TIFFTAG_COMPRESSION, coding == FaxCoding::MMR ? COMPRESSION_CCITTFAX4 : COMPRESSION_CCITTFAX3);
    if (coding != FaxCoding::MMR)
        TIFFSetField(t, TIFFTAG_GROUP3OPTIONS, coding == FaxCoding::MR ? std::uint32_t(GROUP3OPT_2DENCODING) : 0u);
    TIFFSetField(t, TIFFTAG_FILLORDER, FILLORDER_LSB2MSB);
    TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, r.height);
    TIFFWriteEncodedStrip(t, 0, const_cast<std::uint8_t*>(r.bits.data()), tmsize_t(r.bits.size()));
    TIFFClose(t);
}

struct CountSink : FaxLineSink {
    long lines = 0;
    void faxLine(const std::uint8_t*, std::size_t) override { ++lines; }
};

void bmOurEncode(benchmark::State& state) {
    const Raster& r = page(int(state.range(0)));
    FaxLineCoder coder;
    coder.setup(kWidth, 0, false);
    std::size_t bytes = 0;
    for (auto _ : state) {
        bytes = 0;
        for (int y = 0; y < r.height; ++y) bytes += coder.codeLine(r.row(y));
        benchmark::DoNotOptimize(bytes);
    }
    state.SetItemsProcessed(state.iterations());
    state.counters["coded_bytes"] = double(bytes);
    state.SetLabel(kNames[state.range(0)]);
}

void bmOurDecode(benchmark::State& state) {
    std::vector<std::uint8_t> coded = encodeOurs(page(int(state.range(0))));
    for (auto _ : state) {
        CountSink sink;
        FaxLineDecoder d(&sink);
        d.feed(coded.data(), coded.size());
        if (sink.lines != kRows) state.SkipWithError("wrong line count");
        benchmark::DoNotOptimize(sink.lines);
    }
    state.SetItemsProcessed(state.iterations());
    state.SetLabel(kNames[state.range(0)]);
}

const char* kCodingNames[] = {"MH", "MR", "MMR"};

// Page kind and coding of a benchmark's arguments, as its label.
std::string label(const benchmark::State& state) {
    return std::string(kNames[state.range(0)]) + " " + kCodingNames[state.range(1)];
}

void bmLibtiffEncode(benchmark::State& state) {
    const Raster& r = page(int(state.range(0)));
    const auto coding = FaxCoding(state.range(1));
    MemFile f;
    f.bytes.reserve(1 << 20);
    for (auto _ : state) {
        encodeTiff(r, f, coding);
        benchmark::DoNotOptimize(f.bytes.data());
    }
    state.SetItemsProcessed(state.iterations());
    state.counters["tiff_bytes"] = double(f.bytes.size());
    state.SetLabel(label(state));
}

void bmLibtiffDecode(benchmark::State& state) {
    const Raster& r = page(int(state.range(0)));
    MemFile f;
    encodeTiff(r, f, FaxCoding(state.range(1)));
    std::vector<std::uint8_t> out(r.bits.size());
    TIFF* t = openMem(f, "r");
    for (auto _ : state) {
        if (TIFFReadEncodedStrip(t, 0, out.data(), tmsize_t(out.size())) < 0)
            state.SkipWithError("libtiff decode failed");
        benchmark::DoNotOptimize(out.data());
    }
    TIFFClose(t);
    if (out != r.bits) state.SkipWithError("libtiff decoded a different page");
    state.SetItemsProcessed(state.iterations());
    state.SetLabel(label(state));
}

// Our MR (K = 4, fine) or MMR page of the kind.
std::vector<std::uint8_t> encodeOurs2D(const Raster& r, FaxCoding coding) {
    FaxMrCoder coder;
    coder.beginPage(coding, kWidth, kFactor(true));
    std::vector<std::uint8_t> out;
    for (int y = 0; y < r.height; ++y) {
        const std::size_t n = coder.codeLine(r.row(y));
        out.insert(out.end(), coder.data(), coder.data() + n);
    }
    const std::size_t n = coder.endPage();
    out.insert(out.end(), coder.data(), coder.data() + n);
    return out;
}

void bmOurEncode2D(benchmark::State& state) {
    const Raster& r = page(int(state.range(0)));
    const auto coding = FaxCoding(state.range(1));
    FaxMrCoder coder;
    std::size_t bytes = 0;
    for (auto _ : state) {
        coder.beginPage(coding, kWidth, kFactor(true));
        bytes = 0;
        for (int y = 0; y < r.height; ++y) bytes += coder.codeLine(r.row(y));
        bytes += coder.endPage();
        benchmark::DoNotOptimize(bytes);
    }
    state.SetItemsProcessed(state.iterations());
    state.counters["coded_bytes"] = double(bytes);
    state.SetLabel(label(state));
}

// Collects the decoded lines into a page, as a viewer would.
struct PageSink : FaxLineSink {
    std::vector<std::uint8_t>* page;
    std::size_t at = 0;
    void faxLine(const std::uint8_t* line, std::size_t bytes) override {
        if (at + bytes <= page->size()) std::memcpy(page->data() + at, line, bytes);
        at += bytes;
    }
};

void bmOurDecode2D(benchmark::State& state) {
    const Raster& r = page(int(state.range(0)));
    const auto coding = FaxCoding(state.range(1));
    const std::vector<std::uint8_t> coded = encodeOurs2D(r, coding);
    std::vector<std::uint8_t> out(r.bits.size());
    FaxMrDecoder d;
    for (auto _ : state) {
        PageSink sink;
        sink.page = &out;
        d.setSink(&sink);
        d.reset(coding, kWidth);
        d.feed(coded.data(), coded.size());
        d.finish();
        benchmark::DoNotOptimize(out.data());
    }
    if (out != r.bits) state.SkipWithError("decoded a different page");
    state.SetItemsProcessed(state.iterations());
    state.SetLabel(label(state));
}

}  // namespace

BENCHMARK(bmOurEncode)->DenseRange(0, 3);
BENCHMARK(bmOurDecode)->DenseRange(0, 3);
BENCHMARK(bmOurEncode2D)->ArgsProduct({{0, 1, 2, 3}, {1, 2}});
BENCHMARK(bmOurDecode2D)->ArgsProduct({{0, 1, 2, 3}, {1, 2}});
BENCHMARK(bmLibtiffEncode)->ArgsProduct({{0, 1, 2, 3}, {0, 1, 2}});
BENCHMARK(bmLibtiffDecode)->ArgsProduct({{0, 1, 2, 3}, {0, 1, 2}});

BENCHMARK_MAIN();
