// Peer tests: our MH coder against netpbm (g3topbm, pbmtog3) and libtiff (tiffcp), our TIFF
// and PDF exports against tiffinfo, tiffcp, tiff2pdf and pdftoppm, and the telvane-faxconv tool.
#include "faximage/faxconverter.h"
#include "faximage/faxexport.h"
#include "faximage/faxinput.h"
#include "faximage/faxunpacker.h"
#include "testutil.h"

#include <tiffio.h>

#include <gtest/gtest.h>

#include "support/peers.h"

#include <cstdio>
#include <cstring>
#include <sys/wait.h>

using namespace telvane::faximage;
using namespace faxtest;

namespace {

bool haveTool(const char* name) {
    return std::system((std::string("command -v ") + name + " >/dev/null 2>&1").c_str()) == 0;
}

int run(const std::string& cmd, std::string* output = nullptr) {
    std::FILE* p = popen((cmd + " 2>&1").c_str(), "r");
    if (!p) return -1;
    std::string out;
    char buf[4096];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    int status = pclose(p);
    if (output) *output = out;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

#define REQUIRE_TOOL(name) \
    TELVANE_REQUIRE_PEER(haveTool(name), name << " is not installed (listed in scripts/deps/faximage.txt)")

// Raw PBM (P4) reading and writing.
Raster readPbm(const std::string& path) {
    Bytes b = readFile(path);
    std::size_t pos = 0;
    auto token = [&]() {
        std::string t;
        while (pos < b.size()) {
            char c = char(b[pos]);
            if (c == '#') {
                while (pos < b.size() && b[pos] != '\n') ++pos;
            } else if (std::isspace(static_cast<unsigned char>(c))) {
                if (!t.empty()) break;
                ++pos;
            } else {
                t += c;
                ++pos;
            }
        }
        return t;
    };
    if (token() != "P4") return Raster();
    int w = std::stoi(token()), h = std::stoi(token());
    ++pos;
    Raster r(w, h);
    if (b.size() - pos < r.bits.size()) return Raster();
    std::memcpy(r.bits.data(), b.data() + pos, r.bits.size());
    return r;
}

void writePbm(const std::string& path, const Raster& r) {
    std::string head = "P4\n" + std::to_string(r.width) + " " + std::to_string(r.height) + "\n";
    Bytes b(head.begin(), head.end());
    b.insert(b.end(), r.bits.begin(), r.bits.end());
    writeFile(path, b);
}

// Codes a raster into an OVF file and returns the page's coded bytes without record lengths.
Bytes encodeToOvf(const std::string& path, const Raster& r, bool fine) {
    TOvxFaxConverter c;
    c.InputDocumentType = idBitmap;
    c.Bitmap = &r;
    c.LeftMargin = 0;
    c.SetOptions(0);
    c.Resolution = fine ? frHigh : frNormal;
    c.Width = r.width == 2048 ? fwWide : fwNormal;
    c.OutFileName = path;
    EXPECT_EQ(c.Convert(), 0);
    Bytes f = readFile(path);
    std::uint32_t len = f[64] | (f[65] << 8) | (f[66] << 16) | (std::uint32_t(f[67]) << 24);
    Bytes coded;
    for (std::size_t q = 80; q + 2 <= 80 + len;) {
        std::size_t l = f[q] | (f[q + 1] << 8);
        coded.insert(coded.end(), f.begin() + long(q + 2), f.begin() + long(q + 2 + l));
        q += 2 + l;
    }
    return coded;
}

Raster decodeOvf(const std::string& path, int page = 1) {
    TOvxFaxUnpacker u;
    u.SetInFileName(path);
    Raster r;
    bool fine = false;
    EXPECT_EQ(u.UnpackPageToRaster(page, r, fine), 0);
    return r;
}

// A page that looks like a letter: text-like rows of short runs, blank gaps, a rule.
Raster letterPage(int width, int height, unsigned seed) {
    Raster r(width, height);
    Raster ink = randomRaster(width, height, seed, 45);
    for (int y = 0; y < height; ++y) {
        bool textRow = (y / 24) % 2 == 0 && (y % 24) < 18;
        if (textRow) std::memcpy(r.row(y), ink.row(y), r.stride / 2);
        if (y == height / 2) std::memset(r.row(y) + 10, 0xFF, r.stride - 20);
    }
    return r;
}

std::string bin(const char* tool) {
    const char* dir = std::getenv("TELVANE_BIN");
    return std::string(dir ? dir : TELVANE_BINARY_DIR "/bin") + "/" + tool;
}

}  // namespace

TEST(NetpbmPeer, OurCodedPagesDecodeWithG3topbm) {
    REQUIRE_TOOL("g3topbm");
    TempDir dir;
    for (int width : {1728, 2048}) {
        Raster r = letterPage(width, 400, unsigned(width));
        writeFile(dir.file("page.g3"), encodeToOvf(dir.file("page.ovf"), r, true));
        ASSERT_EQ(run("g3topbm -reversebits " + dir.file("page.g3") + " > " + dir.file("page.pbm")), 0);
        Raster back = readPbm(dir.file("page.pbm"));
        ASSERT_EQ(back.width, width);
        ASSERT_EQ(back.height, 400);
        EXPECT_EQ(back.bits, r.bits) << width;
    }
}

TEST(NetpbmPeer, Pbmtog3PagesDecodeWithOurDecoder) {
    REQUIRE_TOOL("pbmtog3");
    TempDir dir;
    Raster r = letterPage(1728, 300, 77);
    writePbm(dir.file("in.pbm"), r);
    ASSERT_EQ(run("pbmtog3 -reversebits " + dir.file("in.pbm") + " > " + dir.file("in.g3")), 0);
    writeRawOvf(dir.file("in.ovf"), {readFile(dir.file("in.g3"))}, FAX_FINE);
    Raster back = decodeOvf(dir.file("in.ovf"));
    ASSERT_EQ(back.height, 300);
    EXPECT_EQ(back.bits, r.bits);
}

TEST(LibtiffPeer, TiffcpGroup3PagesDecodeWithOurDecoder) {
    REQUIRE_TOOL("tiffcp");
    TempDir dir;
    Raster r = letterPage(1728, 250, 5);
    {
        TIFF* t = TIFFOpen(dir.file("plain.tif").c_str(), "w");
        ASSERT_NE(t, nullptr);
        TIFFSetField(t, TIFFTAG_IMAGEWIDTH, 1728);
        TIFFSetField(t, TIFFTAG_IMAGELENGTH, 250);
        TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 1);
        TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, 1);
        TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE);
        TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, 250);
        for (int y = 0; y < 250; ++y) TIFFWriteScanline(t, r.row(y), std::uint32_t(y), 0);
        TIFFClose(t);
    }
    ASSERT_EQ(run("tiffcp -c g3:1d -f lsb2msb -r 100000 " + dir.file("plain.tif") + " " + dir.file("g3.tif")), 0);
    TIFF* t = TIFFOpen(dir.file("g3.tif").c_str(), "r");
    ASSERT_NE(t, nullptr);
    ASSERT_EQ(TIFFNumberOfStrips(t), 1u);
    tmsize_t size = TIFFRawStripSize(t, 0);
    Bytes coded(static_cast<std::size_t>(size), 0);
    ASSERT_EQ(TIFFReadRawStrip(t, 0, coded.data(), size), size);
    TIFFClose(t);
    writeRawOvf(dir.file("g3.ovf"), {coded}, FAX_FINE);
    Raster back = decodeOvf(dir.file("g3.ovf"));
    ASSERT_EQ(back.height, 250);
    EXPECT_EQ(back.bits, r.bits);
}

TEST(LibtiffPeer, ExportedTiffClassFReadsBackWithLibtiffTools) {
    REQUIRE_TOOL("tiffinfo");
    REQUIRE_TOOL("tiff2pdf");
    TempDir dir;
    Raster p1 = letterPage(1728, 200, 1);
    Raster p2 = letterPage(1728, 120, 2);
    encodeToOvf(dir.file("a.ovf"), p1, false);
    encodeToOvf(dir.file("b.ovf"), p2, true);
    ASSERT_EQ(ExportFaxToTiff(dir.file("a.ovf"), dir.file("a.tif")), 0);
    std::string info;
    ASSERT_EQ(run("tiffinfo " + dir.file("a.tif"), &info), 0);
    EXPECT_NE(info.find("CCITT Group 3"), std::string::npos) << info;
    EXPECT_NE(info.find("204, 98"), std::string::npos) << info;
    EXPECT_NE(info.find("Image Width: 1728 Image Length: 200"), std::string::npos) << info;
    ASSERT_EQ(run("tiff2pdf -o " + dir.file("a.pdf") + " " + dir.file("a.tif")), 0);
    // libtiff decodes our Group 3 data to the same raster.
    ASSERT_EQ(run("tiffcp -c none -f msb2lsb " + dir.file("a.tif") + " " + dir.file("plain.tif")), 0);
    auto src = MakeTiffSource(dir.file("plain.tif"));
    ASSERT_EQ(src->open(), 0);
    ASSERT_EQ(src->beginPage(), 0);
    std::uint8_t line[256];
    for (int y = 0; y < 200; ++y) {
        bool eop = false, more = false;
        ASSERT_EQ(src->readLine(line, eop, more), 0);
        ASSERT_FALSE(eop);
        ASSERT_EQ(Bytes(line, line + 216), Bytes(p1.row(y), p1.row(y) + 216)) << y;
    }
    ASSERT_EQ(ExportFaxToTiff(dir.file("b.ovf"), dir.file("b.tif")), 0);
    ASSERT_EQ(run("tiffinfo " + dir.file("b.tif"), &info), 0);
    EXPECT_NE(info.find("204, 196"), std::string::npos) << info;
}

TEST(PopplerPeer, ExportedPdfRendersWithTheRightSizeAndContent) {
    REQUIRE_TOOL("pdftoppm");
    TempDir dir;
    Raster page = letterPage(1728, 300, 9);
    encodeToOvf(dir.file("s.ovf"), page, false);
    ASSERT_EQ(ExportFaxToPdf(dir.file("s.ovf"), dir.file("s.pdf")), 0);
    // At 204 x 98 dpi a standard page renders one pixel per pel.
    ASSERT_EQ(run("pdftoppm -mono -rx 204 -ry 98 " + dir.file("s.pdf") + " " + dir.file("s")), 0);
    Raster back = readPbm(dir.file("s-1.pbm"));
    ASSERT_EQ(back.width, 1728);
    ASSERT_EQ(back.height, 300);
    long differ = 0;
    for (std::size_t i = 0; i < back.bits.size(); ++i)
        differ += __builtin_popcount(unsigned(back.bits[i] ^ page.bits[i]));
    EXPECT_LT(differ, long(1728) * 300 / 200) << "pels differing";
    // The aspect of a standard page: 1728 / 204 inches wide, 300 / 98 inches tall.
    ASSERT_EQ(run("pdftoppm -mono -r 72 " + dir.file("s.pdf") + " " + dir.file("t")), 0);
    Raster at72 = readPbm(dir.file("t-1.pbm"));
    EXPECT_NEAR(at72.width, 1728 * 72 / 204, 1);
    EXPECT_NEAR(at72.height, 300 * 72 / 98, 1);
}

TEST(FaxconvTool, ConvertsDescribesAndReportsErrors) {
    std::string tool = bin("telvane-faxconv");
    TELVANE_REQUIRE_PEER(!(run("test -x " + tool) != 0), "telvane-faxconv is not built");
    TempDir dir;
    std::string out;
    EXPECT_EQ(run(tool + " --help", &out), 0);
    EXPECT_NE(out.find("to-fax"), std::string::npos);
    EXPECT_EQ(run(tool, &out), 2);
    EXPECT_EQ(run(tool + " frobnicate", &out), 2);
    EXPECT_EQ(run(tool + " to-fax only-one-arg", &out), 2);
    EXPECT_EQ(run(tool + " to-fax a.xyz b.ovf", &out), 2);
    EXPECT_EQ(run(tool + " from-fax a.ovf b.jpg", &out), 2);

    writeFile(dir.file("note.txt"), Bytes{'H', 'i', '\f', 'p', '2'});
    ASSERT_EQ(
        run(tool + " to-fax " + dir.file("note.txt") + " " + dir.file("note.ovf") + " --fine --station-id 'ACME 1'",
            &out),
        0)
        << out;
    ASSERT_EQ(run(tool + " info " + dir.file("note.ovf"), &out), 0);
    EXPECT_NE(out.find("Pages:             2"), std::string::npos) << out;
    EXPECT_NE(out.find("\"ACME 1\""), std::string::npos) << out;
    EXPECT_NE(out.find("fine, 1728 pels, line records), 32 lines"), std::string::npos) << out;
    {
        // A sender ID with terminal controls is printed escaped.
        OvfWriter w;
        ASSERT_EQ(w.create(dir.file("esc.ovf"), std::string("X\x1b]0;owned\x07\x9b"
                                                            "2J")),
                  0);
        ASSERT_EQ(w.close(), 0);
        ASSERT_EQ(run(tool + " info " + dir.file("esc.ovf"), &out), 0);
        EXPECT_NE(out.find("\"X\\x1B]0;owned\\x07\\x9B2J\""), std::string::npos) << out;
        EXPECT_EQ(out.find('\x1b'), std::string::npos);
        EXPECT_EQ(out.find('\x9b'), std::string::npos);
    }

    for (const char* ext : {"pbm", "bmp", "pcx", "dcx", "tif", "pdf"}) {
        std::string target = dir.file(std::string("note.") + ext);
        EXPECT_EQ(run(tool + " from-fax " + dir.file("note.ovf") + " " + target + " --page 2", &out), 0) << ext << out;
        EXPECT_TRUE(std::filesystem::exists(target)) << ext;
    }
    EXPECT_EQ(run(tool + " from-fax " + dir.file("note.ovf") + " " + dir.file("x.pbm") + " --page 3", &out), 1);
    EXPECT_NE(out.find("File is not an OVF file (-8001)"), std::string::npos) << out;
    EXPECT_EQ(run(tool + " info " + dir.file("note.txt"), &out), 1);
    EXPECT_NE(out.find("File is not an OVF file"), std::string::npos) << out;
    EXPECT_EQ(run(tool + " to-fax " + dir.file("missing.bmp") + " " + dir.file("m.ovf"), &out), 1);
    EXPECT_NE(out.find("File not found (-2)"), std::string::npos) << out;

    // A fax rendered to a PBM and back in through TIFF keeps its content.
    ASSERT_EQ(run(tool + " from-fax " + dir.file("note.ovf") + " " + dir.file("all.tif"), &out), 0);
    ASSERT_EQ(run(tool + " to-fax " + dir.file("all.tif") + " " + dir.file("again.ovf") +
                      " --fine --left-margin 0 --no-center",
                  &out),
              0)
        << out;
    EXPECT_EQ(decodeOvf(dir.file("again.ovf"), 2).bits, decodeOvf(dir.file("note.ovf"), 2).bits);
}
