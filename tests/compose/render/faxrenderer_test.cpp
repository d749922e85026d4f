// The render core with the real rich-text documents and page encoder, without widgets (a
// QGuiApplication, offscreen): the empty test, the zoom, the phases, file names in the data
// directory, the page order of cover and document, pagination without lost or repeated lines,
// crisp text at its true size, loading from the outgoing log, clean-up after failures, and the
// working directories of renders to files.
#include "compose/render/faxrenderer.h"
#include "compose/render/rtftofax.h"

#include "compose/render/faxjoin.h"
#include "records/fax_tables.h"
#include "records/record_set.h"
#include "records/xb_access.h"
#include "renderutil.h"
#include "support/peers.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFont>
#include <QFontMetricsF>

#include <csignal>
#include <numeric>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using namespace telvane::render;
using rendertest::Para;
using rendertest::TempDir;
using telvane::faximage::Raster;
using telvane::richdoc::RichDocument;

// The phases a render went through.
struct Recorder {
    QStringList phases;
    void attach(FaxRenderer& r) {
        r.OnPhase = [this](const char* status) { phases << QString::fromLatin1(status); };
    }
};

// A part as the memo transfer sees it, to store test parts in the outgoing log.
class PartMemo : public telvane::records::RichTextTarget {
public:
    explicit PartMemo(RichDocument& part) : part_(part) {}
    void clear() override { part_.clearAll(); }
    bool loadFromFile(const std::string& path) override { return part_.loadFromFile(QString::fromStdString(path)); }
    bool saveToFile(const std::string& path) override { return part_.saveToFile(QString::fromStdString(path)); }

private:
    RichDocument& part_;
};

class Rendering : public ::testing::Test {
protected:
    void SetUp() override { rendertest::ensureApp(); }
};

// Lines of capitals and digits (no descenders) so that each text line is one band of ink.
std::vector<Para> numberedLines(int count, int points = 10) {
    std::vector<Para> out;
    for (int i = 1; i <= count; ++i) out.push_back({QStringLiteral("LINE %1 HELLO").arg(i), points});
    return out;
}

int totalBands(const std::vector<Raster>& pages) {
    int n = 0;
    for (const Raster& p : pages) n += int(rendertest::inkBands(p, 0, 2140).size());  // the mark pel is at row 2151
    return n;
}

TEST_F(Rendering, ZoomFollowsTheScreenResolution) {
    EXPECT_EQ(renderingZoom(96), 208);
    EXPECT_EQ(renderingZoom(120), 166);
    EXPECT_EQ(renderingZoom(144), 138);
    EXPECT_EQ(renderingZoom(72), 277);
}

TEST_F(Rendering, EmptyTest) {
    RichDocument part;
    EXPECT_TRUE(telvane::richdoc::isEmpty(part));
    part.setRtf("   \n\n  \t \n");
    EXPECT_TRUE(telvane::richdoc::isEmpty(part)) << "spaces and empty lines";
    part.setRtf(QByteArray(255, ' '));
    EXPECT_TRUE(telvane::richdoc::isEmpty(part));
    part.setRtf(QByteArray(256, ' '));
    EXPECT_FALSE(telvane::richdoc::isEmpty(part)) << "256 characters or more always count";
    part.setRtf("  x  ");
    EXPECT_FALSE(telvane::richdoc::isEmpty(part));
    part.setRtf(QByteArray(210, '\n') + "signed");
    EXPECT_FALSE(telvane::richdoc::isEmpty(part)) << "text below 200 blank lines is still contents";
}

TEST_F(Rendering, AnEmptyFaxMakesNoFile) {
    TempDir d;
    FaxRenderer r;
    Recorder rec;
    rec.attach(r);
    const FaxFileResult res =
        r.CreateFaxFile(d.dir(), partsFromRtf({}, rendertest::makeRtf({{QStringLiteral("  "), 12}})));
    EXPECT_TRUE(res.empty);
    EXPECT_TRUE(res.fileName.empty());
    EXPECT_FALSE(res.failed());
    EXPECT_EQ(r.lastPageCount(), 0);
    EXPECT_EQ(rec.phases, QStringList{QStringLiteral("Creating fax file")});
    EXPECT_TRUE(d.names().empty());
}

TEST_F(Rendering, CoverPagesComeFirstInOneFile) {
    TempDir d, coverOnly, docOnly;
    const QByteArray cover = rendertest::makeRtf({{QStringLiteral("COVER SHEET FOR TEST"), 20}});
    std::vector<Para> doc = numberedLines(20);
    doc.push_back({QStringLiteral("\f"), 0});
    for (const Para& p : numberedLines(5, 14)) doc.push_back(p);
    const QByteArray document = rendertest::makeRtf(doc);

    FaxRenderer r;
    Recorder rec;
    rec.attach(r);
    const FaxFileResult res = r.CreateFaxFile(d.dir(), partsFromRtf(cover, document));
    ASSERT_FALSE(res.failed()) << res.errorText.toStdString();
    EXPECT_EQ(res.fileName, d.dir() + "TVN_1.OVF");
    EXPECT_EQ(res.pageCount, 3);
    EXPECT_EQ(r.lastPageCount(), 3);
    EXPECT_EQ(rendertest::fileHeader(res.fileName).pageCount, 3);
    EXPECT_EQ(d.names(), std::vector<std::string>{"TVN_1.OVF"}) << "no _TMP.BMP, no TVNFX files";
    EXPECT_EQ(rec.phases, (QStringList{QStringLiteral("Creating fax file"), QStringLiteral("Creating fax file...."),
                                       QStringLiteral("Creating fax file........")}));
    EXPECT_FALSE(res.empty);

    // The same pages as the parts rendered alone, cover first.
    const FaxFileResult c = r.CreateFaxFile(coverOnly.dir(), partsFromRtf(cover, {}));
    const FaxFileResult m = r.CreateFaxFile(docOnly.dir(), partsFromRtf({}, document));
    ASSERT_EQ(c.pageCount, 1);
    ASSERT_EQ(m.pageCount, 2);
    EXPECT_EQ(rendertest::pageData(res.fileName, 1), rendertest::pageData(c.fileName, 1));
    EXPECT_EQ(rendertest::pageData(res.fileName, 2), rendertest::pageData(m.fileName, 1));
    EXPECT_EQ(rendertest::pageData(res.fileName, 3), rendertest::pageData(m.fileName, 2));
    EXPECT_NE(rendertest::pageData(res.fileName, 1), rendertest::pageData(res.fileName, 2));
}

TEST_F(Rendering, PagesAreFineFaxPagesWithTheMarkPel) {
    TempDir d;
    FaxRenderer r;
    const FaxFileResult res = r.CreateFaxFile(d.dir(), partsFromRtf({}, rendertest::makeRtf(numberedLines(3))));
    ASSERT_EQ(res.pageCount, 1);
    telvane::faximage::OvfReader reader;
    ASSERT_EQ(reader.open(res.fileName), 0);
    telvane::faximage::OvfPageHeader page;
    ASSERT_EQ(reader.seekPage(1, page), 0);
    EXPECT_TRUE(page.fine());
    EXPECT_TRUE(page.lineRecords());
    EXPECT_FALSE(page.wide());
    const auto pages = rendertest::decodePages(res.fileName);
    ASSERT_EQ(pages.size(), 1u);
    const Raster& p = pages[0];
    EXPECT_EQ(p.width, 1728);
    EXPECT_EQ(p.height, 2156) << "one coded line per bitmap row";
    // The encoder's left margin of 50 pels comes before the bitmap.
    EXPECT_TRUE(p.pixel(50 + 1659, 2151));
    EXPECT_EQ(rendertest::inkBands(p, 2140).size(), 1u);
    // Text starts at the 49-pel offsets.
    const auto bands = rendertest::inkBands(p, 0, 2140);
    ASSERT_EQ(bands.size(), 3u);
    EXPECT_GE(bands[0].first, 49);
    EXPECT_LT(bands[0].first, 49 + 15);
    int left = p.width;
    for (int y = bands[0].first; y < bands[0].second; ++y)
        for (int x = 0; x < p.width; ++x)
            if (p.pixel(x, y)) {
                left = std::min(left, x);
                break;
            }
    EXPECT_GE(left, 50 + 49);
    EXPECT_LT(left, 50 + 49 + 6);
}

TEST_F(Rendering, LongDocumentLosesAndRepeatsNoLine) {
    TempDir d;
    FaxRenderer r;
    const FaxFileResult res = r.CreateFaxFile(d.dir(), partsFromRtf({}, rendertest::makeRtf(numberedLines(150))));
    ASSERT_FALSE(res.failed());
    EXPECT_EQ(res.pageCount, 3);  // about 62 lines of 10 pt fit on a page
    const auto pages = rendertest::decodePages(res.fileName);
    ASSERT_EQ(pages.size(), 3u);
    EXPECT_EQ(totalBands(pages), 150);
    // Text stays within the page: nothing below the bottom limit but the mark pel.
    for (const Raster& p : pages) EXPECT_TRUE(rendertest::inkBands(p, 2107, 2140).empty());
}

// A paragraph that runs over several pages keeps its line analysis between pages: every page
// but the last is full, line for line as many as a page of one-line paragraphs.
TEST_F(Rendering, OneLongParagraphFillsEveryPage) {
    TempDir d;
    QString text;
    for (int i = 1; i <= 2600; ++i) text += QStringLiteral("HELLO %1 ").arg(i);
    FaxRenderer r;
    const FaxFileResult res = r.CreateFaxFile(d.dir(), partsFromRtf({}, rendertest::makeRtf({{text, 10}})));
    ASSERT_FALSE(res.failed());
    const auto pages = rendertest::decodePages(res.fileName);
    ASSERT_GE(pages.size(), 3u);
    ASSERT_EQ(int(pages.size()), res.pageCount);
    const FaxFileResult lines = r.CreateFaxFile(d.dir(), partsFromRtf({}, rendertest::makeRtf(numberedLines(70))));
    const auto reference = rendertest::decodePages(lines.fileName);
    ASSERT_EQ(reference.size(), 2u);
    const std::size_t full = rendertest::inkBands(reference[0], 0, 2140).size();
    for (std::size_t p = 0; p + 1 < pages.size(); ++p)
        EXPECT_EQ(rendertest::inkBands(pages[p], 0, 2140).size(), full) << "page " << p + 1;
    const std::size_t last = rendertest::inkBands(pages.back(), 0, 2140).size();
    EXPECT_GT(last, 0u);
    EXPECT_LE(last, full);
}

// Runs of black pels on row y of a page.
int blackRuns(const Raster& p, int y) {
    int runs = 0;
    for (int x = 0; x < p.width; ++x) runs += p.pixel(x, y) && (x == 0 || !p.pixel(x - 1, y)) ? 1 : 0;
    return runs;
}

// A word far wider than the line (200,000 capital Hs, two stems each) starts on a line of its
// own and is broken at the end of every line: each line of it is as full as the first, and
// counting the stems a quarter of the way down each line finds every character drawn once.
// Its layout takes time in proportion to its length (bench/rendering measures it), so this
// test ends about as soon as one of the same text in ordinary words.
TEST_F(Rendering, AnOverLongWordIsBrokenAtTheLineEnd) {
    constexpr int kLetters = 200000;
    TempDir d;
    FaxRenderer r;
    const FaxFileResult res = r.CreateFaxFile(
        d.dir(),
        partsFromRtf({}, rendertest::makeRtf({{QStringLiteral("HI ") + QString(kLetters, QLatin1Char('H')), 10}})));
    ASSERT_FALSE(res.failed());
    const auto pages = rendertest::decodePages(res.fileName);
    ASSERT_EQ(int(pages.size()), res.pageCount);
    ASSERT_GE(pages.size(), 2u);
    std::vector<int> letters;  // Hs on each line of the word
    int hiWidth = 0;
    for (const Raster& p : pages) {
        for (const auto& [top, bottom] : rendertest::inkBands(p, 0, 2140)) {
            const int y = top + (bottom - top) / 4;
            if (hiWidth == 0) {
                int right = 0;
                for (int x = 0; x < p.width; ++x) right = p.pixel(x, y) ? x : right;
                hiWidth = right;
                continue;
            }
            letters.push_back(blackRuns(p, y) / 2);
        }
    }
    ASSERT_GE(letters.size(), 2u);
    EXPECT_LT(hiWidth, pages[0].width / 4) << "the word starts a line of its own after \"HI\"";
    EXPECT_GT(letters.front(), 50);
    for (std::size_t i = 1; i + 1 < letters.size(); ++i) ASSERT_EQ(letters[i], letters.front()) << "line " << i;
    EXPECT_LE(letters.back(), letters.front());
    EXPECT_EQ(std::accumulate(letters.begin(), letters.end(), 0), kLetters);
}

TEST_F(Rendering, TextIsCrispAndTrueToSize) {
    TempDir d;
    FaxRenderer r;
    const FaxFileResult res = r.CreateFaxFile(
        d.dir(),
        partsFromRtf({}, rendertest::makeRtf({{QStringLiteral("HHHH EEEE"), 36},
                                              {QStringLiteral("The quick brown fox jumps over the lazy dog."), 10}})));
    const auto pages = rendertest::decodePages(res.fileName);
    ASSERT_EQ(pages.size(), 1u);
    const Raster& p = pages[0];
    const auto bands = rendertest::inkBands(p, 0, 2140);
    ASSERT_GE(bands.size(), 2u);
    QFont font(QStringLiteral("Arial"));
    const double dpi = 96.0 * renderingZoom(96) / 100.0;
    font.setPixelSize(qRound(36 * dpi / 72));
    const double capHeight = QFontMetricsF(font).capHeight();
    const int measured = bands[0].second - bands[0].first;
    EXPECT_NEAR(measured, capHeight, 3.0) << "36 pt capitals at about 200 pels per inch";

    // No speckles: every black pel of the text touches another one (grey edges thresholded
    // pel by pel would leave isolated dots).
    int isolated = 0;
    for (int y = 1; y < 2140; ++y)
        for (int x = 1; x < p.width - 1; ++x) {
            if (!p.pixel(x, y)) continue;
            bool neighbour = false;
            for (int dy = -1; dy <= 1 && !neighbour; ++dy)
                for (int dx = -1; dx <= 1 && !neighbour; ++dx) neighbour = (dx || dy) && p.pixel(x + dx, y + dy);
            isolated += neighbour ? 0 : 1;
        }
    EXPECT_EQ(isolated, 0);
}

TEST_F(Rendering, NextFreeFirstPageName) {
    TempDir d;
    std::ofstream(d.file("TVN_1.OVF")) << "keep";
    FaxRenderer r;
    const FaxFileResult res = r.CreateFaxFile(d.dir(), partsFromRtf(rendertest::makeRtf(numberedLines(2)), {}));
    EXPECT_EQ(res.fileName, d.dir() + "TVN_2.OVF");
    EXPECT_EQ(rendertest::fileHeader(res.fileName).pageCount, 1);
    EXPECT_EQ(rendertest::fileHeader(d.file("TVN_1.OVF")).pageCount, 0);
    EXPECT_EQ(d.names(), (std::vector<std::string>{"TVN_1.OVF", "TVN_2.OVF"}));
}

TEST_F(Rendering, FailureLeavesNoFiles) {
    TempDir d;
    // Page 2's file name is taken by a directory: the encoder cannot write it.
    std::filesystem::create_directory(d.file("TVNFX2.OVF"));
    FaxRenderer r;
    Recorder rec;
    rec.attach(r);
    const FaxFileResult res = r.CreateFaxFile(d.dir(), partsFromRtf({}, rendertest::makeRtf(numberedLines(100))));
    EXPECT_TRUE(res.failed());
    EXPECT_LT(res.errorCode, 0);
    EXPECT_FALSE(res.errorText.isEmpty());
    EXPECT_TRUE(res.fileName.empty());
    EXPECT_EQ(r.lastPageCount(), 0);
    EXPECT_EQ(d.names(), std::vector<std::string>{"TVNFX2.OVF"}) << "page 1 and _TMP.BMP are removed";

    // A data directory that does not exist.
    const FaxFileResult gone =
        r.CreateFaxFile(d.dir() + "no-such-dir/", partsFromRtf({}, rendertest::makeRtf(numberedLines(1))));
    EXPECT_TRUE(gone.failed());
    EXPECT_LT(gone.errorCode, 0);

    // An unreadable part file is a failure, not an empty fax.
    const FaxFileResult unreadable =
        r.CreateFaxFile(d.dir(), partsFromFiles(QString(), QString::fromStdString(d.file("missing.rtf"))));
    EXPECT_TRUE(unreadable.failed());
    EXPECT_FALSE(unreadable.empty);
}

TEST_F(Rendering, ACallWhileRenderingIsRefused) {
    TempDir d;
    FaxRenderer r;
    FaxFileResult nested;
    bool asked = false;
    r.OnPhase = [&](const char* status) {
        if (QLatin1String(status) == QLatin1String("Creating fax file....") && !asked) {
            asked = true;
            nested = r.CreateFaxFile(d.dir(), partsFromRtf({}, rendertest::makeRtf(numberedLines(1))));
        }
    };
    const FaxFileResult outer = r.CreateFaxFile(d.dir(), partsFromRtf({}, rendertest::makeRtf(numberedLines(2))));
    ASSERT_TRUE(asked);
    EXPECT_TRUE(nested.failed());
    EXPECT_FALSE(outer.failed());
    EXPECT_EQ(outer.pageCount, 1);
    EXPECT_FALSE(r.busy());
}

TEST_F(Rendering, PartsComeFromTheCurrentRecordOfTheOutgoingLog) {
    TempDir d;
    telvane::records::RecordSet table;
    telvane::records::TXbAccess xb;
    ASSERT_TRUE(telvane::records::OpenFaxDBF(d.dir(), table, xb));
    RichDocument cover, doc;
    cover.setRtf(rendertest::makeRtf({{QStringLiteral("COVER"), 24}}));
    doc.setRtf(rendertest::makeRtf(numberedLines(4)));
    table.append();
    PartMemo coverMemo(cover), docMemo(doc);
    ASSERT_TRUE(telvane::records::SaveRichText(coverMemo, "RTFCOVER", xb, d.dir()));
    ASSERT_TRUE(telvane::records::SaveRichText(docMemo, "RTFDOC", xb, d.dir()));
    table.fieldByName("SUBJECT").setString("rendered from the log");
    table.post();
    std::filesystem::remove(d.file("Eraseme.rtf"));

    FaxRenderer r;
    const FaxFileResult res = r.CreateFaxFile(d.dir(), partsFromRecord(xb, d.dir()));
    ASSERT_FALSE(res.failed()) << res.errorText.toStdString();
    EXPECT_EQ(res.pageCount, 2);
    EXPECT_FALSE(std::filesystem::exists(d.file("Eraseme.rtf")));
    const auto pages = rendertest::decodePages(res.fileName);
    ASSERT_EQ(pages.size(), 2u);
    EXPECT_EQ(rendertest::inkBands(pages[0], 0, 2140).size(), 1u) << "the cover";
    EXPECT_EQ(rendertest::inkBands(pages[1], 0, 2140).size(), 4u) << "the document";
}

TEST_F(Rendering, EachFaxStartsFromTheDefaultPageLayout) {
    TempDir a, b;
    FaxRenderer r;
    // A narrow page of its own: 3 inches of text width.
    QByteArray narrow = rendertest::makeRtf(numberedLines(1));
    narrow.insert(narrow.indexOf("{\\fonttbl"), "\\paperw5760\\paperh15840\\margl720\\margr720 ");
    r.CreateFaxFile(a.dir(), partsFromRtf({}, narrow));
    EXPECT_EQ(r.richDocument().pageLayout().width, 5760);
    r.CreateFaxFile(b.dir(), partsFromRtf({}, rendertest::makeRtf(numberedLines(1))));
    EXPECT_EQ(r.richDocument().pageLayout().width, 12240);
}

}  // namespace

TEST(RenderWorkDirs, ThoseOfKilledRendersAreRemovedByTheNextRender) {
    rendertest::ensureApp();
    TempDir d;
    // The working directory of a render whose process is gone, and of one still running.
    const pid_t gone = ::fork();
    if (gone == 0) ::_exit(0);
    ASSERT_GT(gone, 0);
    ::waitpid(gone, nullptr, 0);
    const QString stale = QString::fromStdString(d.file(".telvane-render-" + std::to_string(gone) + "-abc123"));
    const QString alive = QString::fromStdString(d.file(".telvane-render-" + std::to_string(::getppid()) + "-def456"));
    ASSERT_TRUE(QDir().mkpath(stale + "/inner"));
    ASSERT_TRUE(QDir().mkpath(alive));
    QFile doc(QString::fromStdString(d.file("doc.rtf")));
    ASSERT_TRUE(doc.open(QIODevice::WriteOnly));
    doc.write(rendertest::makeRtf(numberedLines(3)));
    doc.close();
    QString error;
    int pages = 0;
    ASSERT_TRUE(renderRtfToFaxFile(doc.fileName(), QString(), QString::fromStdString(d.file("out.ovf")), error, &pages))
        << error.toStdString();
    EXPECT_EQ(pages, 1);
    EXPECT_FALSE(QFileInfo::exists(stale));
    EXPECT_TRUE(QFileInfo::exists(alive));
    // The render's own working directory is gone too.
    const QStringList left = QDir(QString::fromStdString(d.path()))
                                 .entryList({QStringLiteral(".telvane-render-*")}, QDir::Dirs | QDir::Hidden);
    EXPECT_EQ(left, QStringList{QFileInfo(alive).fileName()});
}

// A render stopped by SIGINT, SIGTERM or SIGHUP (here telvane-faxconv's, in its own process)
// removes its working directory on the way out and leaves no output; it still dies of the signal.
TEST(RenderWorkDirs, ARenderStoppedBySignalRemovesItsOwn) {
    TempDir d;
    QFile doc(QString::fromStdString(d.file("long.rtf")));
    ASSERT_TRUE(doc.open(QIODevice::WriteOnly));
    doc.write(rendertest::makeRtf(numberedLines(6000)));
    doc.close();
    const std::string tool = telvane::test::toolPath("telvane-faxconv");
    for (int sig : {SIGTERM, SIGINT, SIGHUP}) {
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            // The signals' default actions, whatever this test inherited (a background job starts
            // with SIGINT ignored, and the render rightly leaves an ignored signal alone).
            for (int s : {SIGTERM, SIGINT, SIGHUP}) ::signal(s, SIG_DFL);
            sigset_t none;
            sigemptyset(&none);
            ::sigprocmask(SIG_SETMASK, &none, nullptr);
            ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
            ::execl(tool.c_str(), tool.c_str(), "to-fax", doc.fileName().toLocal8Bit().constData(),
                    d.file("out.ovf").c_str(), static_cast<char*>(nullptr));
            ::_exit(127);
        }
        const QDir dir(QString::fromStdString(d.path()));
        const QStringList pattern{QStringLiteral(".telvane-render-*")};
        // Wait until the render has its working directory with pages in it (or has ended).
        bool working = false;
        for (int i = 0; i < 6000 && !working; ++i) {
            for (const QString& w : dir.entryList(pattern, QDir::Dirs | QDir::Hidden))
                working |= !QDir(dir.filePath(w)).entryList(QDir::Files | QDir::Hidden).isEmpty();
            if (!working) ::usleep(10000);
            if (::waitpid(child, nullptr, WNOHANG) == child) FAIL() << "the render ended before it was stopped";
        }
        ASSERT_TRUE(working) << "signal " << sig;
        ::kill(child, sig);
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == sig) << "signal " << sig << ", status " << status;
        EXPECT_EQ(dir.entryList(pattern, QDir::Dirs | QDir::Hidden), QStringList()) << "signal " << sig;
        EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(d.file("out.ovf")))) << "signal " << sig;
    }
}
