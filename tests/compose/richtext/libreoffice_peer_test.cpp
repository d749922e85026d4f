// Peer tests against LibreOffice (headless): RTF we write converts to the same text, with insert
// point placeholders visible; RTF LibreOffice writes loads with its attributes; and such a
// document keeps every attribute and insert point through our own save and load.
#include <gtest/gtest.h>

#include "support/peers.h"

#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QUrl>

#include "compose/richdoc/richtextformat.h"
#include "compose/richtext/trichtext.h"
#include "support/qtapp.h"
#include "richtexttest.h"

using telvane::richdoc::ParagraphMetrics;
using telvane::richtext::TextAttributes;
using telvane::richtext::TRichText;
using telvane::testing::attributesAt;

namespace {

class LibreOffice : public ::testing::Test {
protected:
    void SetUp() override {
        soffice_ = QStandardPaths::findExecutable(QStringLiteral("soffice"));
        TELVANE_REQUIRE_PEER(!(soffice_.isEmpty()), "soffice (libreoffice-writer-nogui) is not installed");
        ASSERT_TRUE(dir_.isValid());
    }

    // Converts a file with soffice; returns the converted file's path or an empty string.
    QString convert(const QString& input, const QString& filter, const QString& extension) {
        const QString out = dir_.filePath(QStringLiteral("out"));
        QProcess p;
        p.setProcessChannelMode(QProcess::MergedChannels);
        p.start(soffice_, {QStringLiteral("-env:UserInstallation=") + QUrl::fromLocalFile(profileDir()).toString(),
                           QStringLiteral("--headless"), QStringLiteral("--convert-to"), filter,
                           QStringLiteral("--outdir"), out, input});
        if (!p.waitForFinished(180000)) {
            p.kill();
            p.waitForFinished();
            ADD_FAILURE() << "soffice did not finish";
            return {};
        }
        const QString result =
            out + QLatin1Char('/') + QFileInfo(input).completeBaseName() + QLatin1Char('.') + extension;
        if (!QFile::exists(result)) {
            ADD_FAILURE() << "soffice made no output: " << p.readAll().toStdString();
            return {};
        }
        return result;
    }

    static QString profileDir() {
        static QTemporaryDir profile;
        return profile.path();
    }

    QString path(const QString& name) const { return dir_.filePath(name); }

    QString soffice_;
    QTemporaryDir dir_;
};

QString readText(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return {};
    QString text = QString::fromUtf8(f.readAll());
    if (text.startsWith(QChar(0xFEFF))) text.remove(0, 1);
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    while (text.endsWith(QLatin1Char('\n'))) text.chop(1);
    return text;
}

int find(const TRichText& rt, const QString& word) {
    // Positions in the document count a marker as one character, as text() does while visible.
    return static_cast<int>(rt.document()->toPlainText().indexOf(word));
}

// A document with bold, italic, underline, two fonts, sizes, centred and justified paragraphs,
// indents and a page break, written as LibreOffice's own flat ODF.
const char kFlatOdt[] = R"(<?xml version="1.0" encoding="UTF-8"?>
<office:document xmlns:office="urn:oasis:names:tc:opendocument:xmlns:office:1.0"
 xmlns:style="urn:oasis:names:tc:opendocument:xmlns:style:1.0"
 xmlns:text="urn:oasis:names:tc:opendocument:xmlns:text:1.0"
 xmlns:fo="urn:oasis:names:tc:opendocument:xmlns:xsl-fo-compatible:1.0"
 xmlns:svg="urn:oasis:names:tc:opendocument:xmlns:svg-compatible:1.0"
 office:version="1.2" office:mimetype="application/vnd.oasis.opendocument.text">
 <office:font-face-decls>
  <style:font-face style:name="Liberation Sans" svg:font-family="'Liberation Sans'"/>
  <style:font-face style:name="Liberation Serif" svg:font-family="'Liberation Serif'"/>
 </office:font-face-decls>
 <office:automatic-styles>
  <style:style style:name="P1" style:family="paragraph"><style:paragraph-properties fo:text-align="center"/><style:text-properties style:font-name="Liberation Sans" fo:font-size="14pt"/></style:style>
  <style:style style:name="P2" style:family="paragraph"><style:paragraph-properties fo:text-align="justify" fo:margin-left="0.5in" fo:margin-right="0.25in" fo:text-indent="0.25in"/><style:text-properties style:font-name="Liberation Serif" fo:font-size="11pt"/></style:style>
  <style:style style:name="P3" style:family="paragraph"><style:paragraph-properties fo:break-before="page"/><style:text-properties style:font-name="Liberation Sans" fo:font-size="10pt"/></style:style>
  <style:style style:name="T1" style:family="text"><style:text-properties fo:font-weight="bold"/></style:style>
  <style:style style:name="T2" style:family="text"><style:text-properties fo:font-style="italic"/></style:style>
  <style:style style:name="T3" style:family="text"><style:text-properties style:text-underline-style="solid" style:text-underline-width="auto" style:text-underline-color="font-color"/></style:style>
 </office:automatic-styles>
 <office:body><office:text>
  <text:p text:style-name="P1">Centred <text:span text:style-name="T1">bold</text:span> title</text:p>
  <text:p text:style-name="P2">Justified <text:span text:style-name="T2">italic</text:span> and <text:span text:style-name="T3">underlined</text:span> text in serif.</text:p>
  <text:p text:style-name="P3">Second page</text:p>
 </office:text></office:body>
</office:document>
)";

}  // namespace

TEST_F(LibreOffice, ReadsOurRtfAsTheSameTextWithPlaceholdersVisible) {
    TRichText rt;
    rt.setInputAttributes({QStringLiteral("Arial"), 12, telvane::richtext::kStyleBold});
    rt.insertPlainText(QStringLiteral("Fax for "));
    rt.insertInsertPoint(1, QStringLiteral("[RECIPIENT]"));
    rt.setInputAttributes({QStringLiteral("Times New Roman"), 10, telvane::richtext::kStyleItalic});
    rt.insertPlainText(QStringLiteral(" at "));
    rt.insertInsertPoint(2, QStringLiteral("[FAX#]"));
    rt.insertPlainText(QStringLiteral("\nCaf\u00e9 \u20ac 5 \u0416 {braces} back\\slash\ttab"));
    rt.insertPageBreak();
    rt.insertPlainText(QStringLiteral("Page two"));
    const QString rtfPath = path(QStringLiteral("ours.rtf"));
    ASSERT_TRUE(rt.saveToFile(rtfPath));

    const QString txt = convert(rtfPath, QStringLiteral("txt:Text (encoded):UTF8"), QStringLiteral("txt"));
    ASSERT_FALSE(txt.isEmpty());
    EXPECT_EQ(readText(txt), rt.text());
    EXPECT_EQ(rt.text(), QStringLiteral("Fax for *[RECIPIENT] at *[FAX#]\nCaf\u00e9 \u20ac 5 \u0416 {braces} "
                                        "back\\slash\ttab\nPage two"));

    // With hidden markers the placeholders still show.
    rt.setHideInsertPointMarks(true);
    const QString hiddenPath = path(QStringLiteral("hidden.rtf"));
    ASSERT_TRUE(rt.saveToFile(hiddenPath));
    const QString hiddenTxt = convert(hiddenPath, QStringLiteral("txt:Text (encoded):UTF8"), QStringLiteral("txt"));
    ASSERT_FALSE(hiddenTxt.isEmpty());
    const QString shown = readText(hiddenTxt);
    EXPECT_TRUE(shown.contains(QStringLiteral("[RECIPIENT]"))) << shown.toStdString();
    EXPECT_TRUE(shown.contains(QStringLiteral("[FAX#]"))) << shown.toStdString();
}

TEST_F(LibreOffice, ItsRtfLoadsWithAttributesAndSurvivesOurRoundTrip) {
    const QString fodt = path(QStringLiteral("peer.fodt"));
    {
        QFile f(fodt);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(kFlatOdt);
    }
    const QString rtfPath = convert(fodt, QStringLiteral("rtf"), QStringLiteral("rtf"));
    ASSERT_FALSE(rtfPath.isEmpty());

    TRichText rt;
    ASSERT_TRUE(rt.loadFromFile(rtfPath));
    ASSERT_EQ(rt.lines(), (QStringList{QStringLiteral("Centred bold title"),
                                       QStringLiteral("Justified italic and underlined text in serif."),
                                       QStringLiteral("Second page")}));

    const TextAttributes title = attributesAt(rt, find(rt, QStringLiteral("Centred")) + 1);
    EXPECT_EQ(title.name, QStringLiteral("Liberation Sans"));
    EXPECT_EQ(title.size, 14);
    EXPECT_EQ(title.style, 0);
    EXPECT_EQ(rt.textCursor().blockFormat().alignment() & Qt::AlignHorizontal_Mask, Qt::AlignHCenter);
    EXPECT_EQ(attributesAt(rt, find(rt, QStringLiteral("bold")) + 1).style, telvane::richtext::kStyleBold);

    const TextAttributes body = attributesAt(rt, find(rt, QStringLiteral("Justified")) + 1);
    EXPECT_EQ(body.name, QStringLiteral("Liberation Serif"));
    EXPECT_EQ(body.size, 11);
    EXPECT_EQ(rt.textCursor().blockFormat().alignment() & Qt::AlignHorizontal_Mask, Qt::AlignJustify);
    EXPECT_EQ(rt.paragraph(), (ParagraphMetrics{1080, 720, 360, 0, 0, 0}));
    EXPECT_EQ(attributesAt(rt, find(rt, QStringLiteral("italic")) + 1).style, telvane::richtext::kStyleItalic);
    EXPECT_EQ(attributesAt(rt, find(rt, QStringLiteral("underlined")) + 1).style, telvane::richtext::kStyleUnderline);

    const TextAttributes second = attributesAt(rt, find(rt, QStringLiteral("Second")) + 1);
    EXPECT_EQ(second.size, 10);
    const QTextBlock first = rt.document()->begin();
    EXPECT_FALSE(telvane::richdoc::startsNewPage(first.next()));
    EXPECT_TRUE(telvane::richdoc::startsNewPage(first.next().next()));

    // Add insert points, then our own save and load keeps every attribute and every tag.
    QTextCursor c(rt.document());
    c.setPosition(find(rt, QStringLiteral(" title")));
    rt.setTextCursor(c);
    rt.insertInsertPoint(3, QStringLiteral("[SUBJECT]"));
    c.movePosition(QTextCursor::End);
    rt.setTextCursor(c);
    rt.insertInsertPoint(4, QStringLiteral("[DATE]"));
    const QString ours = path(QStringLiteral("again.rtf"));
    ASSERT_TRUE(rt.saveToFile(ours));
    TRichText back;
    ASSERT_TRUE(back.loadFromFile(ours));
    const telvane::rtf::Document before = telvane::richdoc::documentToModel(rt.document());
    const telvane::rtf::Document after = telvane::richdoc::documentToModel(back.document());
    EXPECT_TRUE(before.paragraphs == after.paragraphs);
    EXPECT_TRUE(before.fonts == after.fonts);
    EXPECT_TRUE(before.colors == after.colors);
    const auto points = back.insertPoints();
    ASSERT_EQ(points.size(), 2u);
    EXPECT_EQ(points[0].tag, 3);
    EXPECT_EQ(points[0].text, QStringLiteral("[SUBJECT]"));
    EXPECT_EQ(points[1].tag, 4);
    EXPECT_EQ(points[1].text, QStringLiteral("[DATE]"));
    EXPECT_EQ(back.text(), rt.text());
}
