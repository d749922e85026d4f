// PDF and PostScript documents as telvane-faxconv input, against documents made by outside
// programs in the test: LibreOffice writes a PDF from text, Ghostscript a PDF (A4) and the
// PostScript is run through ps2pdf. The fax pages are checked for their size against pdfinfo's
// page size and read back with tesseract; bad input must fail cleanly without leaving a file.
#include <gtest/gtest.h>

#include "support/pbm.h"
#include "support/peers.h"
#include "support/tempdir.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

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

// A PDF of one page per entry, each page a media box, an optional crop box ("" for none) and its
// content (by default the words "PAGE N" in Helvetica; fonts F1 Helvetica, F2 Times-Roman and F3
// Courier are there to use); the cross-reference table is exact, so Poppler needs no repair.
struct PdfPage {
    std::string mediaBox, cropBox, content;
};
std::string writePdf(const std::vector<PdfPage>& pages) {
    std::vector<std::string> objects = {"", "", "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>",
                                        "<< /Type /Font /Subtype /Type1 /BaseFont /Times-Roman >>",
                                        "<< /Type /Font /Subtype /Type1 /BaseFont /Courier >>"};
    std::string kids;
    for (std::size_t i = 0; i < pages.size(); ++i) {
        const std::string text = !pages[i].content.empty()
                                     ? pages[i].content
                                     : "BT /F1 24 Tf 40 40 Td (PAGE " + std::to_string(i + 1) + ") Tj ET";
        objects.push_back("<< /Length " + std::to_string(text.size()) + " >>\nstream\n" + text + "\nendstream");
        const std::string content = std::to_string(objects.size());
        objects.push_back("<< /Type /Page /Parent 2 0 R /MediaBox [" + pages[i].mediaBox + "]" +
                          (pages[i].cropBox.empty() ? "" : " /CropBox [" + pages[i].cropBox + "]") +
                          " /Resources << /Font << /F1 3 0 R /F2 4 0 R /F3 5 0 R >> >> /Contents " + content +
                          " 0 R >>");
        kids += std::to_string(objects.size()) + " 0 R ";
    }
    objects[0] = "<< /Type /Catalog /Pages 2 0 R >>";
    objects[1] = "<< /Type /Pages /Kids [" + kids + "] /Count " + std::to_string(pages.size()) + " >>";
    std::string pdf = "%PDF-1.4\n", xref;
    for (std::size_t i = 0; i < objects.size(); ++i) {
        char entry[32];
        std::snprintf(entry, sizeof entry, "%010zu 00000 n \n", pdf.size());
        xref += entry;
        pdf += std::to_string(i + 1) + " 0 obj\n" + objects[i] + "\nendobj\n";
    }
    const std::size_t xrefAt = pdf.size();
    pdf += "xref\n0 " + std::to_string(objects.size() + 1) + "\n0000000000 65535 f \n" + xref + "trailer\n<< /Size " +
           std::to_string(objects.size() + 1) + " /Root 1 0 R >>\nstartxref\n" + std::to_string(xrefAt) + "\n%%EOF\n";
    return pdf;
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

// Text drawn through the converter's own glyph filling and through Poppler's is, pel for pel, the
// page pdftoppm draws at the same resolution in one bit: each font at several sizes on pages of
// different sizes (a glyph kept from one page or one size must not show on another), grey,
// outlined, clipped, scaled, turned and kerned text, text half off the page, and the font a
// restored graphics state brings back.
TEST_F(PdfInput, TextIsDrawnAsPopplerDrawsItAlone) {
    TELVANE_REQUIRE_PEER(haveProgram("pdftoppm"), "pdftoppm (poppler-utils) is not installed");
    const std::vector<PdfPage> pages = {
        {"0 0 612 792", "",
         "BT /F1 24 Tf 72 700 Td (Helvetica at 24 ABC) Tj ET\n"
         "BT /F2 10 Tf 72 650 Td (Times at ten points) Tj /F3 14 Tf (Courier follows) Tj ET\n"
         "BT /F1 12 Tf 0.5 g 72 620 Td (grey text) Tj 0 g 1 Tr 0 -30 Td (outlined text) Tj 0 Tr ET\n"
         "q 72 500 100 20 re W n BT /F2 18 Tf 60 505 Td (clipped by a box) Tj ET Q\n"
         "q 0.5 0 0 0.5 300 300 cm BT /F1 30 Tf 0 0 Td (scaled by half) Tj ET Q\n"
         "BT /F3 16 Tf 0.866 0.5 -0.5 0.866 200 200 Tm (turned text) Tj ET\n"
         "BT /F2 12 Tf 72 400 Td [(Kerned) -500 (TJ) 120 (text)] TJ ET\n"
         "BT /F1 40 Tf -20 100 Td (EDGE) Tj 540 -100 Td (EDGE) Tj ET\n"
         "BT /F1 20 Tf 72 300 Td (before) Tj ET q BT /F2 8 Tf 72 280 Td (inside) Tj ET Q\n"
         "BT 72 260 Td (after the restore) Tj ET"},
        {"0 0 612 792", "",
         "BT /F1 11 Tf 72 700 Td (Helvetica at 11 ABC) Tj /F2 30 Tf 0 -50 Td (Times at thirty) Tj ET\n"
         "BT /F3 9 Tf 72 500 Td (Courier at nine) Tj ET"},
        {"0 0 595 842", "", "BT /F3 24 Tf 72 700 Td (COURIER ON A4) Tj /F1 24 Tf (HELVETICA) Tj ET"},
    };
    w.write("text.pdf", writePdf(pages));
    const std::string ovf = w.file("text.ovf");
    std::string out;
    ASSERT_EQ(runCapture("'" + toolPath("telvane-faxconv") + "' to-fax '" + w.file("text.pdf") + "' '" + ovf +
                             "' --fine --left-margin 0",
                         &out),
              0)
        << out;
    ASSERT_EQ(pageCount(ovf), int(pages.size()));
    for (std::size_t i = 0; i < pages.size(); ++i) {
        SCOPED_TRACE("page " + std::to_string(i + 1));
        const std::string page = std::to_string(i + 1);
        double widthPt = 0;
        std::sscanf(pages[i].mediaBox.c_str(), "0 0 %lf", &widthPt);
        // The converter's resolution: the page's width on 1728 pels, fine rows in proportion.
        const double xdpi = 1728 * 72.0 / widthPt;
        char resolution[96];
        std::snprintf(resolution, sizeof resolution, "-rx %.17g -ry %.17g", xdpi, xdpi * 196.0 / 204.0);
        ASSERT_EQ(runCapture("pdftoppm -mono -aa no -aaVector no " + std::string(resolution) + " -f " + page + " -l " +
                                 page + " -singlefile '" + w.file("text.pdf") + "' '" + w.file("poppler") + "'",
                             &out),
                  0)
            << out;
        ASSERT_EQ(runCapture("'" + toolPath("telvane-faxconv") + "' from-fax '" + ovf + "' '" + w.file("fax.pbm") +
                                 "' --page " + page,
                             &out),
                  0)
            << out;
        telvane::test::PbmImage fax, poppler;
        ASSERT_TRUE(telvane::test::readPbm(w.file("fax.pbm"), fax));
        ASSERT_TRUE(telvane::test::readPbm(w.file("poppler.pbm"), poppler));
        // pdftoppm sizes the page itself, rounding its height up where Poppler's device rounds.
        ASSERT_NEAR(fax.height, poppler.height, 1);
        ASSERT_GE(poppler.width, 1728);
        int differing = 0;
        for (int y = 0; y < std::min(fax.height, poppler.height); ++y)
            differing += fax.row(y).substr(0, 216) != poppler.row(y).substr(0, 216);
        EXPECT_EQ(differing, 0);
    }
}

// A page that cannot become a fax page (too long at the fax width, too narrow, a tiny crop box),
// in PDF and as PostScript through Ghostscript, fails the conversion naming the page: no fax
// file, no hidden partial one, and telvane-fax sends nothing.
TEST_F(PdfInput, UnfaxablePageIsAnErrorNamingItAndNothingIsSent) {
    TELVANE_REQUIRE_PEER(haveProgram("gs"), "Ghostscript is not installed");
    const std::string ps = "%!PS\n/Helvetica findfont 24 scalefont setfont 72 700 moveto (ONE) show showpage\n";
    const struct {
        const char* name;
        std::string document;
        const char* says;
    } cases[] = {
        {"long.pdf", writePdf({{"0 0 612 792", "", ""}, {"0 0 612 14400", "", ""}}), "page 2 is too long"},
        {"longer.pdf", writePdf({{"0 0 612 792", "", ""}, {"0 0 612 144000", "", ""}}), "page 2 is too long"},
        {"narrow.pdf", writePdf({{"0 0 612 792", "", ""}, {"0 0 2 792", "", ""}}), "page 2 is too small"},
        {"tiny-crop.pdf", writePdf({{"0 0 612 792", "", ""}, {"0 0 612 792", "0 0 0.5 0.5", ""}}),
         "page 2 is too small"},
        {"sliver-crop.pdf", writePdf({{"0 0 612 792", "", ""}, {"0 0 612 792", "100 100 101.5 700", ""}}),
         "page 2 is too small"},
        {"longer.ps", ps + "<< /PageSize [612 144000] >> setpagedevice 72 700 moveto (TWO) show showpage\n",
         "page 2 is too long"},
        {"narrow.ps", ps + "<< /PageSize [2 792] >> setpagedevice 0 700 moveto (TWO) show showpage\n",
         "page 2 is too small"},
        {"tiny.ps", ps + "<< /PageSize [0.5 0.5] >> setpagedevice 0 0 moveto (TWO) show showpage\n",
         "page 2 is too small"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const TempDir dir;
        dir.write(c.name, c.document);
        std::string out;
        EXPECT_EQ(runCapture("'" + toolPath("telvane-faxconv") + "' to-fax '" + dir.file(c.name) + "' '" +
                                 dir.file("out.ovf") + "' --fine",
                             &out),
                  1)
            << out;
        EXPECT_NE(out.find(c.says), std::string::npos) << out;
        EXPECT_EQ(dir.names(), std::vector<std::string>{c.name});
        EXPECT_EQ(runCapture("'" + toolPath("telvane-fax") + "' send --device '" + dir.file("no-modem") +
                                 "' --number 1 '" + dir.file(c.name) + "'",
                             &out),
                  1);
        EXPECT_NE(out.find(c.says), std::string::npos) << out;
        EXPECT_EQ(out.find("error -2001"), std::string::npos) << out;  // the modem was never looked for
    }
}

// Runs `command` with TMPDIR and TELVANE_FAXCONV_LIMITS set; returns its exit status.
int runLimited(const TempDir& dir, const std::string& limits, const std::string& command, std::string& out) {
    return runCapture("TMPDIR='" + dir.pathNoSlash() + "' TELVANE_FAXCONV_LIMITS='" + limits + "' " + command, &out);
}

std::string repeated(const std::string& s, int times) {
    std::string all;
    all.reserve(s.size() * std::size_t(times));
    for (int i = 0; i < times; ++i) all += s;
    return all;
}

// Every limit of a conversion stops it with a message naming the limit, for telvane-faxconv and for
// telvane-fax send; nothing is left behind, not even Ghostscript's temporaries (TMPDIR is the test's
// directory, which must hold only the input afterwards).
TEST_F(PdfInput, EachConversionLimitStopsItNamingTheLimit) {
    TELVANE_REQUIRE_PEER(haveProgram("gs"), "Ghostscript is not installed");
    const PdfPage letter{"0 0 612 792", "", ""};
    const struct {
        const char* name;
        std::string document;
        const char* limits;
        const char* says;
    } cases[] = {
        // The count is known at open: nothing is drawn.
        {"four.pdf", writePdf({letter, letter, letter, letter}), "pages=3", "limit pages=3"},
        // 22 inches are 4,140 fine lines at the fax width.
        {"legal-and-more.pdf", writePdf({letter, {"0 0 612 1584", "", ""}}), "lines=4000", "limit lines=4000"},
        // A million full-page fills take far longer than a second to draw on any machine.
        {"fills.pdf", writePdf({{"0 0 612 792", "", repeated("0 0 612 792 re f\n", 1000000)}}), "seconds=1",
         "page 1 took longer than 1 seconds to draw (limit seconds=1"},
        // A million nested graphics states need gigabytes in Poppler.
        {"nested.pdf", writePdf({{"0 0 612 792", "", repeated("q ", 1000000)}}), "memory=700", "limit memory=700"},
        {"loop.ps", "%!PS\n{} loop\n", "seconds=2", "Ghostscript took longer than 2 seconds"},
        {"endless.ps", "%!PS\n/Helvetica findfont 24 scalefont setfont {72 700 moveto (PAGE) show showpage} loop\n",
         "file=1", "grew beyond 1 MB (limit file=1"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const TempDir dir;
        dir.write(c.name, c.document);
        std::string out;
        EXPECT_EQ(runLimited(dir, c.limits,
                             "'" + toolPath("telvane-faxconv") + "' to-fax '" + dir.file(c.name) + "' '" +
                                 dir.file("out.ovf") + "' --fine",
                             out),
                  1)
            << out;
        EXPECT_NE(out.find(c.says), std::string::npos) << out;
        EXPECT_EQ(dir.names(), std::vector<std::string>{c.name});
        EXPECT_EQ(runLimited(dir, c.limits,
                             "'" + toolPath("telvane-fax") + "' send --device '" + dir.file("no-modem") +
                                 "' --number 1 '" + dir.file(c.name) + "'",
                             out),
                  1);
        EXPECT_NE(out.find(c.says), std::string::npos) << out;
        EXPECT_EQ(dir.names(), std::vector<std::string>{c.name});
    }
    std::string out;
    EXPECT_EQ(
        runCapture("TELVANE_FAXCONV_LIMITS=pages=0 '" + toolPath("telvane-faxconv") + "' to-fax x.pdf x.ovf", &out), 2);
    EXPECT_NE(out.find("'pages=0' is not NAME=NUMBER"), std::string::npos) << out;
}

// Starts `argv` with TMPDIR set to `tmp` and its output thrown away; its process ID.
pid_t startIn(const std::string& tmp, std::vector<std::string> argv) {
    std::vector<std::string> env = {"TMPDIR=" + tmp};
    for (char** e = environ; *e; ++e)
        if (std::strncmp(*e, "TMPDIR=", 7) != 0) env.emplace_back(*e);
    std::vector<char*> args, envp;
    for (std::string& a : argv) args.push_back(a.data());
    for (std::string& e : env) envp.push_back(e.data());
    args.push_back(nullptr);
    envp.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    if (posix_spawn(&pid, args[0], &actions, nullptr, args.data(), envp.data()) != 0) pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

// Living (not zombie) processes whose command line mentions `text`.
int processesMentioning(const std::string& text) {
    int count = 0;
    for (const auto& entry : fs::directory_iterator("/proc")) {
        const std::string pid = entry.path().filename().string();
        if (pid.find_first_not_of("0123456789") != std::string::npos) continue;
        std::string cmdline = telvane::test::readFile(entry.path().string() + "/cmdline");
        const std::string stat = telvane::test::readFile(entry.path().string() + "/stat");
        const std::size_t close = stat.rfind(')');
        if (close == std::string::npos || close + 2 >= stat.size() || stat[close + 2] == 'Z') continue;
        std::replace(cmdline.begin(), cmdline.end(), '\0', ' ');
        if (cmdline.find(text) != std::string::npos) ++count;
    }
    return count;
}

// Waits (up to a minute, checking every 20 ms) until `done` holds; whether it did.
bool eventually(const std::function<bool()>& done) {
    for (int i = 0; i < 3000; ++i) {
        if (done()) return true;
        ::usleep(20 * 1000);
    }
    return done();
}

// Everything under `dir`, as paths relative to it.
std::vector<std::string> everything(const TempDir& dir) {
    std::vector<std::string> all;
    for (const auto& e : fs::recursive_directory_iterator(dir.pathNoSlash()))
        all.push_back(fs::relative(e.path(), dir.pathNoSlash()).string());
    std::sort(all.begin(), all.end());
    return all;
}

std::vector<std::string> sorted(std::vector<std::string> names) {
    std::sort(names.begin(), names.end());
    return names;
}

// A conversion ended by SIGINT, SIGTERM or SIGHUP, while Ghostscript runs or while a page is being
// drawn into the hidden partial fax file, leaves no process and no file behind, for telvane-faxconv
// and for telvane-fax send (which converts through telvane-faxconv). Ended by SIGKILL it cannot
// clean up, but its children die with it and the next conversion removes what it left.
TEST_F(PdfInput, KilledConversionLeavesNoProcessAndTheNextRunNoFile) {
    TELVANE_REQUIRE_PEER(haveProgram("gs"), "Ghostscript is not installed");
    const std::string fills = writePdf({{"0 0 612 792", "", repeated("0 0 612 792 re f\n", 1000000)}});
    for (const bool viaSend : {false, true})
        for (const char* name : {"loop.ps", "fills.pdf"})
            for (const int sig : {SIGINT, SIGTERM, SIGHUP, SIGKILL}) {
                SCOPED_TRACE(std::string(viaSend ? "telvane-fax send " : "telvane-faxconv ") + name + " signal " +
                             std::to_string(sig));
                const TempDir dir;
                dir.write(name, std::string(name) == "loop.ps" ? "%!PS\n{} loop\n" : fills);
                const std::vector<std::string> command =
                    viaSend ? std::vector<std::string>{toolPath("telvane-fax"), "send",     "--device",
                                                       dir.file("no-modem"),    "--number", "1",
                                                       dir.file(name)}
                            : std::vector<std::string>{toolPath("telvane-faxconv"), "to-fax", dir.file(name),
                                                       dir.file("out.ovf")};
                const pid_t pid = startIn(dir.pathNoSlash(), command);
                ASSERT_GT(pid, 0);
                // Ghostscript running, or the partial fax file begun.
                ASSERT_TRUE(eventually([&] {
                    if (std::string(name) == "loop.ps") return processesMentioning(dir.file(name)) >= 2 + viaSend;
                    for (const std::string& f : everything(dir))
                        if (f.find("/.") != std::string::npos || f.rfind(".out.ovf.", 0) == 0) return true;
                    return false;
                }));
                ::kill(pid, sig);
                int status = 0;
                ASSERT_EQ(::waitpid(pid, &status, 0), pid);
                EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == sig) << status;
                EXPECT_TRUE(eventually([&] { return processesMentioning(dir.file(name)) == 0; }));
                if (sig != SIGKILL) {
                    EXPECT_EQ(everything(dir), std::vector<std::string>{name});
                    continue;
                }
                // The next run, after what was left has aged, converts and removes it.
                for (const std::string& f : everything(dir)) {
                    const struct timespec times[2] = {{::time(nullptr) - 3600, 0}, {::time(nullptr) - 3600, 0}};
                    ::utimensat(AT_FDCWD, dir.file(f).c_str(), times, AT_SYMLINK_NOFOLLOW);
                }
                const std::string good = std::string("good.") + (std::string(name) == "loop.ps" ? "ps" : "pdf");
                dir.write(good, good == "good.ps" ? "%!PS\n72 72 moveto 200 200 lineto stroke showpage\n"
                                                  : writePdf({{"0 0 612 792", "", ""}}));
                std::string out;
                if (viaSend) {
                    EXPECT_EQ(runLimited(dir, "pages=9",
                                         "'" + toolPath("telvane-fax") + "' send --device '" + dir.file("no-modem") +
                                             "' --number 1 '" + dir.file(good) + "'",
                                         out),
                              1);
                    EXPECT_EQ(everything(dir), sorted({good, name})) << out;
                } else {
                    EXPECT_EQ(runLimited(dir, "pages=9",
                                         "'" + toolPath("telvane-faxconv") + "' to-fax '" + dir.file(good) + "' '" +
                                             dir.file("out.ovf") + "'",
                                         out),
                              0);
                    EXPECT_EQ(everything(dir), sorted({good, name, "out.ovf"})) << out;
                }
            }
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
