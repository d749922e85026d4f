// Reading back what we render: a fax with a known English passage in Arial 10 pt and 12 pt is
// rendered, decoded with our page decoder and read by tesseract (English); at least 98 % of the
// words must come back exactly (the page order of cover and document is checked without OCR in
// faxrenderer_test). telvane-faxconv to-fax renders RTF through the same path.
#include "compose/render/faxrenderer.h"

#include "renderutil.h"

#include <gtest/gtest.h>

#include "support/peers.h"

#include <QProcess>

namespace {

using namespace telvane::render;
using rendertest::TempDir;

class ReadBack : public ::testing::Test {
protected:
    void SetUp() override {
        rendertest::ensureApp();
        TELVANE_REQUIRE_PEER(rendertest::haveTool(QStringLiteral("tesseract")),
                             "tesseract-ocr is not installed (scripts/deps/rendering.txt)");
    }
};

// OCR text of every page of a fax file, pages in order.
QString ocrFax(const std::string& ovf, const TempDir& work) {
    QString text;
    int n = 0;
    for (const auto& page : rendertest::decodePages(ovf)) {
        const std::string pbm = work.file("page" + std::to_string(++n) + ".pbm");
        rendertest::writePbm(page, pbm);
        text += rendertest::ocrImage(QString::fromStdString(pbm)) + QLatin1Char('\n');
    }
    return text;
}

TEST_F(ReadBack, PassageAtTenAndTwelvePointIsReadWordForWord) {
    const QString passage = rendertest::samplePassage();
    const QStringList expected = rendertest::words(passage);
    ASSERT_GE(expected.size(), 300);
    for (int points : {10, 12}) {
        TempDir d;
        FaxRenderer r;
        const FaxFileResult res = r.CreateFaxFile(d.dir(), partsFromRtf({}, rendertest::makeRtf({{passage, points}})));
        ASSERT_FALSE(res.failed()) << res.errorText.toStdString();
        const QStringList got = rendertest::words(ocrFax(res.fileName, d));
        const double accuracy = rendertest::wordAccuracy(expected, got);
        RecordProperty("accuracy_" + std::to_string(points) + "pt", std::to_string(accuracy));
        std::printf("Arial %d pt: %.2f %% of %lld words read back exactly\n", points, accuracy * 100,
                    static_cast<long long>(expected.size()));
        EXPECT_GE(accuracy, 0.98) << "Arial " << points << " pt";
    }
}

class FaxconvRtf : public ::testing::Test {
protected:
    void SetUp() override { rendertest::ensureApp(); }
    QString tool() const { return qEnvironmentVariable("TELVANE_BIN") + QStringLiteral("/telvane-faxconv"); }
    int run(const QStringList& args, QString* err = nullptr) const {
        QProcess p;
        p.start(tool(), args);
        if (!p.waitForFinished(120000)) return -1;
        if (err) *err = QString::fromUtf8(p.readAllStandardError());
        return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    }
};

TEST_F(FaxconvRtf, ToFaxRendersExactlyAsCreateFaxFile) {
    TempDir d, lib;
    std::vector<rendertest::Para> doc;
    for (int i = 1; i <= 90; ++i)
        doc.push_back({QStringLiteral("Paragraph %1 of a document faxed from a script.").arg(i), 11});
    const QByteArray rtf = rendertest::makeRtf(doc);
    std::ofstream(d.file("letter.rtf"), std::ios::binary).write(rtf.constData(), rtf.size());
    std::ofstream(d.file("letter.ovf")) << "an older output, replaced";
    QString err;
    ASSERT_EQ(run({QStringLiteral("to-fax"), QString::fromStdString(d.file("letter.rtf")),
                   QString::fromStdString(d.file("letter.ovf"))},
                  &err),
              0)
        << err.toStdString();
    EXPECT_EQ(d.names(), (std::vector<std::string>{"letter.ovf", "letter.rtf"})) << "no working files left";

    FaxRenderer r;
    const FaxFileResult res = r.CreateFaxFile(lib.dir(), partsFromRtf({}, rtf));
    ASSERT_EQ(res.pageCount, 2);
    ASSERT_EQ(rendertest::fileHeader(d.file("letter.ovf")).pageCount, 2);
    for (int p = 1; p <= 2; ++p)
        EXPECT_EQ(rendertest::pageData(d.file("letter.ovf"), p), rendertest::pageData(res.fileName, p)) << "page " << p;
}

TEST_F(FaxconvRtf, CoverComesFirst) {
    TempDir d, lib;
    const QByteArray cover = rendertest::makeRtf({{QStringLiteral("Cover sheet for Jones"), 14}});
    const QByteArray rtf = rendertest::makeRtf({{QStringLiteral("The document itself."), 11}});
    std::ofstream(d.file("cover.rtf"), std::ios::binary).write(cover.constData(), cover.size());
    std::ofstream(d.file("doc.rtf"), std::ios::binary).write(rtf.constData(), rtf.size());
    QString err;
    ASSERT_EQ(run({QStringLiteral("to-fax"), QString::fromStdString(d.file("doc.rtf")),
                   QString::fromStdString(d.file("out.ovf")), QStringLiteral("--cover"),
                   QString::fromStdString(d.file("cover.rtf"))},
                  &err),
              0)
        << err.toStdString();
    FaxRenderer r;
    const FaxFileResult res = r.CreateFaxFile(lib.dir(), partsFromRtf(cover, rtf));
    ASSERT_EQ(res.pageCount, 2);
    ASSERT_EQ(rendertest::fileHeader(d.file("out.ovf")).pageCount, 2);
    for (int p = 1; p <= 2; ++p)
        EXPECT_EQ(rendertest::pageData(d.file("out.ovf"), p), rendertest::pageData(res.fileName, p)) << "page " << p;
    EXPECT_NE(rendertest::pageData(d.file("out.ovf"), 1), rendertest::pageData(d.file("out.ovf"), 2));
}

TEST_F(FaxconvRtf, EmptyOrUnreadableDocumentFails) {
    TempDir d;
    std::ofstream(d.file("blank.rtf")) << "{\\rtf1\\ansi   \\par \\par }";
    std::ofstream(d.file("out.ovf")) << "kept";
    QString err;
    EXPECT_EQ(run({QStringLiteral("to-fax"), QString::fromStdString(d.file("blank.rtf")),
                   QString::fromStdString(d.file("out.ovf"))},
                  &err),
              1);
    EXPECT_TRUE(err.contains(QStringLiteral("Fax has no contents or cover sheet"))) << err.toStdString();
    EXPECT_EQ(run({QStringLiteral("to-fax"), QString::fromStdString(d.file("none.rtf")),
                   QString::fromStdString(d.file("out.ovf"))},
                  &err),
              1);
    EXPECT_FALSE(err.isEmpty());
    EXPECT_EQ(d.names(), (std::vector<std::string>{"blank.rtf", "out.ovf"})) << "no working files left";
    EXPECT_EQ(std::filesystem::file_size(d.file("out.ovf")), 4u) << "a failed run keeps an existing output";
}

}  // namespace
