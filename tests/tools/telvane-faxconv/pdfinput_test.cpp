// PDF and PostScript documents as telvane-faxconv input, against documents made by outside
// programs in the test: LibreOffice writes a PDF from text, Ghostscript a PDF (A4) and the
// PostScript is run through ps2pdf. The fax pages are checked for their size against pdfinfo's
// page size and read back with tesseract; bad input must fail cleanly without leaving a file.
#include <gtest/gtest.h>

#include "support/pbm.h"
#include "support/peers.h"
#include "support/tempdir.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;
using telvane::test::haveProgram;
using telvane::test::runCapture;
using telvane::test::TempDir;
using telvane::test::toolPath;

namespace {

// Width and height of a raw PBM (P4) file; {0, 0} when it is none.
std::pair<int, int> pbmSize(const std::string& path) {
    telvane::test::PbmImage image;
    return telvane::test::readPbm(path, image) ? std::make_pair(image.width, image.height) : std::make_pair(0, 0);
}

// Page size in points from pdfinfo ("Page size:      595.276 x 841.89 pts (A4)").
std::pair<double, double> pdfPageSize(const std::string& pdf) {
    std::string out;
    runCapture("pdfinfo '" + pdf + "'", &out);
    const std::size_t at = out.find("Page size:");
    if (at == std::string::npos) return {0, 0};
    double w = 0, h = 0;
    std::sscanf(out.c_str() + at, "Page size: %lf x %lf", &w, &h);
    return {w, h};
}

int pageCount(const std::string& ovf) {
    std::string out;
    if (runCapture("'" + toolPath("telvane-faxconv") + "' info '" + ovf + "'", &out) != 0) return -1;
    const std::size_t at = out.find("Pages:");
    return at == std::string::npos ? -1 : std::atoi(out.c_str() + at + 6);
}

// The page as PBM, and tesseract's text of it (upper-cased).
std::string ocrPage(const TempDir& w, const std::string& ovf, int page, std::pair<int, int>* size) {
    const std::string pbm = w.file("page" + std::to_string(page) + ".pbm");
    if (runCapture("'" + toolPath("telvane-faxconv") + "' from-fax '" + ovf + "' '" + pbm + "' --page " +
                   std::to_string(page)) != 0)
        return {};
    if (size) *size = pbmSize(pbm);
    std::string text;
    runCapture("tesseract '" + pbm + "' - -l eng 2>/dev/null", &text);
    for (char& c : text) c = char(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

// Fine-resolution rows for a page of the given size in points scaled to 1728 pels across.
int expectedRows(std::pair<double, double> pts) {
    return int(std::lround(1728.0 * pts.second / pts.first * 196.0 / 204.0));
}

class PdfInput : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* t : {"tesseract", "pdfinfo"})
            TELVANE_REQUIRE_PEER(haveProgram(t), t << " is not installed (scripts/deps/tests/)");
    }
    TempDir w;
};

TEST_F(PdfInput, LibreOfficePdfFillsTheFaxLineAndReadsBack) {
    TELVANE_REQUIRE_PEER(haveProgram("soffice"), "LibreOffice is not installed");
    std::ofstream(w.file("letter.txt")) << "QUARTERLY INVOICE\n\nPLEASE FIND THE STATEMENT ENCLOSED\n";
    std::string out;
    ASSERT_EQ(runCapture("cd '" + w.pathNoSlash() + "' && HOME='" + w.pathNoSlash() +
                             "' soffice --headless --convert-to pdf letter.txt",
                         &out),
              0)
        << out;
    const std::string pdf = w.file("letter.pdf");
    ASSERT_TRUE(fs::exists(pdf)) << out;
    const std::string ovf = w.file("letter.ovf");
    ASSERT_EQ(runCapture("'" + toolPath("telvane-faxconv") + "' to-fax '" + pdf + "' '" + ovf + "' --fine", &out), 0)
        << out;
    EXPECT_EQ(pageCount(ovf), 1);
    std::pair<int, int> size;
    const std::string text = ocrPage(w, ovf, 1, &size);
    EXPECT_EQ(size.first, 1728);
    EXPECT_NEAR(size.second, expectedRows(pdfPageSize(pdf)), 2);
    for (const char* word : {"QUARTERLY", "INVOICE", "STATEMENT", "ENCLOSED"})
        EXPECT_NE(text.find(word), std::string::npos) << word << " not read in:\n" << text;
}

TEST_F(PdfInput, PostScriptAndGhostscriptPdfKeepPagesAndPaperSizes) {
    TELVANE_REQUIRE_PEER(!(!haveProgram("ps2pdf") || !haveProgram("gs")), "Ghostscript is not installed");
    // Two Letter pages of PostScript, each with its own words.
    std::ofstream(w.file("two.ps")) << "%!PS-Adobe-3.0\n%%Pages: 2\n<< /PageSize [612 792] >> setpagedevice\n"
                                       "/Helvetica findfont 40 scalefont setfont\n"
                                       "72 650 moveto (FIRST PAGE ALPHA) show showpage\n"
                                       "72 650 moveto (SECOND PAGE OMEGA) show showpage\n";
    const std::string ovf = w.file("two.ovf");
    std::string out;
    ASSERT_EQ(runCapture("'" + toolPath("telvane-faxconv") + "' to-fax '" + w.file("two.ps") + "' '" + ovf + "' --fine",
                         &out),
              0)
        << out;
    ASSERT_EQ(pageCount(ovf), 2);
    std::pair<int, int> size;
    std::string text = ocrPage(w, ovf, 1, &size);
    EXPECT_NE(text.find("ALPHA"), std::string::npos) << text;
    EXPECT_EQ(text.find("OMEGA"), std::string::npos) << text;
    EXPECT_EQ(size, std::make_pair(1728, expectedRows({612, 792})));
    text = ocrPage(w, ovf, 2, &size);
    EXPECT_NE(text.find("OMEGA"), std::string::npos) << text;

    // An A4 PDF written by Ghostscript also fills the line, and normal resolution halves the rows.
    ASSERT_EQ(runCapture("gs -q -dNOPAUSE -dBATCH -dSAFER -sDEVICE=pdfwrite -sPAPERSIZE=a4 -sOutputFile='" +
                             w.file("a4.pdf") +
                             "' -c '/Helvetica findfont 40 scalefont setfont 72 650 moveto (PAPER SIZE) show showpage'",
                         &out),
              0)
        << out;
    const auto a4 = pdfPageSize(w.file("a4.pdf"));
    ASSERT_NEAR(a4.first, 595.3, 1.0);
    ASSERT_EQ(
        runCapture("'" + toolPath("telvane-faxconv") + "' to-fax '" + w.file("a4.pdf") + "' '" + w.file("a4.ovf") + "'",
                   &out),
        0)
        << out;
    text = ocrPage(w, w.file("a4.ovf"), 1, &size);
    EXPECT_EQ(size.first, 1728);
    EXPECT_NEAR(size.second, expectedRows(a4) / 2, 2);
}

TEST_F(PdfInput, BadDocumentsFailWithoutLeavingAFile) {
    std::ofstream(w.file("broken.pdf")) << "%PDF-1.4\nthis is not a PDF body\n";
    std::ofstream(w.file("broken.ps")) << "%!PS\n(unterminated string showpage\n";
    for (const char* name : {"broken.pdf", "broken.ps", "missing.pdf"}) {
        SCOPED_TRACE(name);
        const std::string ovf = w.file(std::string(name) + ".ovf");
        std::string out;
        EXPECT_EQ(runCapture("'" + toolPath("telvane-faxconv") + "' to-fax '" + w.file(name) + "' '" + ovf + "'", &out),
                  1)
            << out;
        EXPECT_NE(out.find("telvane-faxconv:"), std::string::npos) << out;
        EXPECT_FALSE(fs::exists(ovf));
    }
    // telvane-fax converts before it touches the modem: a bad document never reaches the device
    // check, a good one does.
    std::string out;
    EXPECT_EQ(runCapture("'" + toolPath("telvane-fax") + "' send --device '" + w.file("no-modem") + "' --number 1 '" +
                             w.file("broken.pdf") + "'",
                         &out),
              1);
    EXPECT_NE(out.find("could not convert"), std::string::npos) << out;
    std::ofstream(w.file("note.txt")) << "HELLO\n";
    EXPECT_EQ(runCapture("'" + toolPath("telvane-fax") + "' send --device '" + w.file("no-modem") + "' --number 1 '" +
                             w.file("note.txt") + "'",
                         &out),
              1);
    EXPECT_EQ(out.find("could not convert"), std::string::npos) << out;
    EXPECT_NE(out.find("error -2001"), std::string::npos) << out;
}

}  // namespace
