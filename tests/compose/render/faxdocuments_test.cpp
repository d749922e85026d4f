// Documents attached to a fax: the list kept in the RTFDOC memo (round trip, replacement, names
// that must never become paths), private copies in the data directory, refusal of documents that
// cannot be read (named, nothing left behind), and the pages they add to a rendered fax, checked
// against pdfinfo and tiffinfo for a PDF made by LibreOffice, one made by Ghostscript, a
// multi-page TIFF and a picture, with one page read back by tesseract.
#include "compose/render/faxdocuments.h"
#include "compose/render/faxrenderer.h"

#include "renderutil.h"
#include "support/peers.h"

#include <gtest/gtest.h>

#include <QImage>
#include <QPainter>

#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>

namespace {

using namespace telvane::render;
using rendertest::TempDir;
using telvane::test::commandOutput;
using telvane::test::runCapture;

class Documents : public ::testing::Test {
protected:
    void SetUp() override {
        rendertest::ensureApp();
        rendertest::putBuiltProgramsOnPath();
    }

    FaxDocument store(const std::string& source) {
        std::string error;
        std::optional<FaxDocument> d = storeDocument(data_.dir(), source, error);
        EXPECT_TRUE(d) << error;
        return d.value_or(FaxDocument{});
    }

    // A page of text in 40-point type, as a PNG or BMP picture.
    static void writePicture(const std::string& path, const QString& text) {
        QImage image(1200, 900, QImage::Format_RGB32);
        image.fill(Qt::white);
        QPainter p(&image);
        QFont font(QStringLiteral("Liberation Sans"));
        font.setPixelSize(90);
        p.setFont(font);
        p.drawText(image.rect(), Qt::AlignCenter, text);
        p.end();
        ASSERT_TRUE(image.save(QString::fromStdString(path)));
    }

    int convertedPages(const FaxDocument& d) {
        std::string error;
        const std::string out = work_.file(d.storedName + ".ovf");
        const int pages = convertDocument(data_.dir(), d, out, error);
        EXPECT_GT(pages, 0) << error;
        EXPECT_EQ(rendertest::fileHeader(out).pageCount, pages);
        return pages;
    }

    TempDir data_;
    TempDir work_;
};

TEST_F(Documents, ListInTheMemoRoundTripsReplacesAndRefusesForeignNames) {
    const std::vector<FaxDocument> list = {{"0123456789abcdef.pdf", "Invoice {march} \\ 2026.pdf", 3},
                                           {"fedcba9876543210.tif", "Zeugnis Müller.tif", 1}};
    const std::string rtf = "{\\rtf1\\ansi Body text\\par}";
    const std::string stored = withDocuments(rtf, list);
    EXPECT_NE(stored.find("Body text"), std::string::npos);
    EXPECT_EQ(stored.back(), '}');
    const std::vector<FaxDocument> back = documentsIn(stored);
    ASSERT_EQ(back.size(), 2u);
    for (std::size_t i = 0; i < 2; ++i) {
        EXPECT_EQ(back[i].storedName, list[i].storedName);
        EXPECT_EQ(back[i].title, list[i].title);
        EXPECT_EQ(back[i].pages, list[i].pages);
    }
    // Saving again replaces the list instead of adding to it.
    const std::string again = withDocuments(stored, {list[1]});
    ASSERT_EQ(documentsIn(again).size(), 1u);
    EXPECT_EQ(documentsIn(again)[0].storedName, list[1].storedName);
    EXPECT_TRUE(documentsIn(withDocuments(again, {})).empty());
    // A memo written by anyone else never names a path or another kind of file.
    for (const char* hostile :
         {"{\\*\\tvndocument ../../../etc/passwd 1 41}", "{\\*\\tvndocument 0123456789ABCDEF.pdf 1 41}",
          "{\\*\\tvndocument 0123456789abcdef.exe 1 41}", "{\\*\\tvndocument 0123456789abcdef.pdf x 41}",
          "{\\*\\tvndocument 0123456789abcdef.pdf 1 4}", "{\\*\\tvndocument /tmp/x.pdf 1 41}"})
        EXPECT_TRUE(documentsIn(std::string("{\\rtf1 ") + hostile + "}").empty()) << hostile;
}

TEST_F(Documents, StoredCopyIsPrivateAndOutlivesTheOriginal) {
    const std::string source = work_.file("letter.txt");
    work_.write("letter.txt", "Dear Sir,\nthe parts arrived.\n");
    const FaxDocument d = store(source);
    EXPECT_EQ(d.title, "letter.txt");
    EXPECT_EQ(d.pages, 1);
    struct stat dir {
    }, file{};
    ASSERT_EQ(::stat(documentsDir(data_.dir()).c_str(), &dir), 0);
    ASSERT_EQ(::stat((documentsDir(data_.dir()) + d.storedName).c_str(), &file), 0);
    EXPECT_EQ(dir.st_mode & 0777, 0700u);
    EXPECT_EQ(file.st_mode & 0777, 0600u);
    std::filesystem::remove(source);
    EXPECT_EQ(convertedPages(d), 1);
    removeStoredDocument(data_.dir(), d);
    EXPECT_FALSE(std::filesystem::exists(documentsDir(data_.dir()) + d.storedName));
}

TEST_F(Documents, UnreadableDocumentsAreNamedAndLeaveNothing) {
    work_.write("broken.pdf", "%PDF-1.4 this is not really a PDF");
    work_.write("notes.odt", "PK");
    for (const std::string name : {"broken.pdf", "notes.odt", "missing.tif"}) {
        std::string error;
        EXPECT_FALSE(storeDocument(data_.dir(), work_.file(name), error)) << name;
        EXPECT_NE(error.find("\"" + name + "\""), std::string::npos) << error;
    }
    const std::filesystem::path dir = documentsDir(data_.dir());
    EXPECT_TRUE(!std::filesystem::exists(dir) || std::filesystem::is_empty(dir));

    // A stored copy that went missing fails the whole render, named, with no fax file left.
    work_.write("a.txt", "text\n");
    const FaxDocument gone = store(work_.file("a.txt"));
    std::filesystem::remove(documentsDir(data_.dir()) + gone.storedName);
    FaxRenderer r;
    const FaxFileResult res =
        r.CreateFaxFile(data_.dir(), partsFromRtf({}, rendertest::makeRtf({{QStringLiteral("Body")}})), {gone});
    EXPECT_TRUE(res.failed());
    EXPECT_TRUE(res.unreadableDocument);
    EXPECT_NE(res.errorText.toStdString().find("\"a.txt\""), std::string::npos);
    EXPECT_TRUE(res.fileName.empty());
    for (const std::string& n : data_.names()) EXPECT_EQ(n.find(".OVF"), std::string::npos) << n;
}

TEST_F(Documents, PdfTiffAndPicturePagesFollowTheTypedPagesAsTheirToolsCount) {
    TELVANE_REQUIRE_PEER(
        rendertest::haveTool(QStringLiteral("soffice")) && rendertest::haveTool(QStringLiteral("gs")) &&
            rendertest::haveTool(QStringLiteral("pdfinfo")) && rendertest::haveTool(QStringLiteral("tiffinfo")) &&
            rendertest::haveTool(QStringLiteral("tesseract")),
        "LibreOffice, Ghostscript, poppler-utils, libtiff-tools and tesseract (scripts/deps/tests)");
    // LibreOffice: a two-page text document.
    work_.write("office.rtf", "{\\rtf1\\ansi Office page one\\par\\page Office page two\\par}");
    std::string out;
    ASSERT_EQ(runCapture("cd '" + work_.pathNoSlash() + "' && HOME='" + work_.pathNoSlash() +
                             "' soffice --headless --convert-to pdf office.rtf >/dev/null 2>&1",
                         &out),
              0)
        << out;
    // Ghostscript: three pages of PostScript, as a PDF and as a multi-page G4 TIFF.
    std::string ps = "%!PS\n/Helvetica findfont 48 scalefont setfont\n";
    for (int page = 1; page <= 3; ++page)
        ps += "72 600 moveto (Ghostscript page " + std::to_string(page) + ") show showpage\n";
    work_.write("three.ps", ps);
    const std::string gs = "gs -q -dNOPAUSE -dBATCH -dSAFER -sPAPERSIZE=letter ";
    ASSERT_EQ(
        runCapture("cd '" + work_.pathNoSlash() + "' && " + gs + "-sDEVICE=pdfwrite -sOutputFile=ghost.pdf three.ps",
                   &out),
        0)
        << out;
    ASSERT_EQ(runCapture("cd '" + work_.pathNoSlash() + "' && " + gs +
                             "-sDEVICE=tiffg4 -r204x196 -sOutputFile=three.tif three.ps",
                         &out),
              0)
        << out;
    writePicture(work_.file("picture.png"), QStringLiteral("ATTACHED PICTURE"));

    const auto pdfPages = [&](const std::string& name) {
        return std::stoi(commandOutput("pdfinfo '" + work_.file(name) + "' | sed -n 's/^Pages: *//p'"));
    };
    const int tiffPages =
        std::stoi(commandOutput("tiffinfo '" + work_.file("three.tif") + "' 2>/dev/null | grep -c 'TIFF Directory'"));
    EXPECT_EQ(pdfPages("office.pdf"), 2);
    EXPECT_EQ(tiffPages, 3);

    const std::vector<FaxDocument> docs = {store(work_.file("office.pdf")), store(work_.file("ghost.pdf")),
                                           store(work_.file("three.tif")), store(work_.file("picture.png"))};
    EXPECT_EQ(docs[0].pages, pdfPages("office.pdf"));
    EXPECT_EQ(docs[1].pages, pdfPages("ghost.pdf"));
    EXPECT_EQ(docs[2].pages, tiffPages);
    EXPECT_EQ(docs[3].pages, 1);

    FaxRenderer r;
    const FaxFileResult res =
        r.CreateFaxFile(data_.dir(), partsFromRtf({}, rendertest::makeRtf({{QStringLiteral("Typed body")}})), docs);
    ASSERT_FALSE(res.failed()) << res.errorText.toStdString();
    const int expected = 1 + docs[0].pages + docs[1].pages + docs[2].pages + docs[3].pages;
    EXPECT_EQ(res.pageCount, expected);
    const std::vector<telvane::faximage::Raster> pages = rendertest::decodePages(res.fileName);
    ASSERT_EQ(int(pages.size()), expected);
    for (std::size_t i = 0; i < pages.size(); ++i) {
        EXPECT_EQ(pages[i].width, 1728) << "page " << i + 1;
        EXPECT_FALSE(rendertest::inkBands(pages[i]).empty()) << "page " << i + 1;
        // Fine resolution: a letter page is about 2150 rows. The 1200 x 900 picture fills the
        // width and keeps its shape, as 1728 x 1245 fine pels.
        if (i + 1 < pages.size())
            EXPECT_GT(pages[i].height, 1900) << "page " << i + 1;
        else
            EXPECT_NEAR(pages[i].height, 1728 * 900 / 1200 * 196 / 204, 3);
    }

    // The second Ghostscript page, after the typed page and the two LibreOffice pages.
    const std::string pbm = work_.file("page.pbm");
    rendertest::writePbm(pages[4], pbm);
    const QString text = rendertest::ocrImage(QString::fromStdString(pbm));
    EXPECT_TRUE(text.contains(QStringLiteral("Ghostscript page 2"))) << text.toStdString();
}

}  // namespace
