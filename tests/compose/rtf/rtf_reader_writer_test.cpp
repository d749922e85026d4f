// Tests of the Qt-free RTF reader and writer: what common word processors write, insert points as
// fields, round trips, and malformed input.
#include <gtest/gtest.h>

#include <string>

#include "compose/rtf/rtfreader.h"
#include "compose/rtf/rtfwriter.h"
#include "compose/rtf/textcodec.h"

using namespace telvane::rtf;
using telvane::rtf::Run;

namespace {

std::string textOf(const Paragraph& p) {
    std::string s;
    for (const telvane::rtf::Run& r : p.runs) s += r.text;
    return s;
}

std::string fontOf(const Document& d, const telvane::rtf::Run& r) { return d.fonts.at(r.format.font).name; }

}  // namespace

TEST(RtfReader, WordPadStyleTextAndCharacterAttributes) {
    const Document d = readRtf(
        "{\\rtf1\\ansi\\ansicpg1252\\deff0{\\fonttbl{\\f0\\fswiss\\fcharset0 Arial;}{\\f1\\froman Times New "
        "Roman;}}\r\n{\\colortbl ;\\red255\\green0\\blue0;}\r\n"
        "\\viewkind4\\uc1\\pard\\f0\\fs20 plain \\b bold\\b0  \\i italic\\i0  \\ul under\\ulnone  "
        "\\f1\\fs32\\cf1 big red\\cf0\\par\r\n"
        "second\\par\r\n}");
    ASSERT_EQ(d.paragraphs.size(), 2u);
    const auto& runs = d.paragraphs[0].runs;
    EXPECT_EQ(textOf(d.paragraphs[0]), "plain bold italic under big red");
    EXPECT_EQ(textOf(d.paragraphs[1]), "second");
    ASSERT_GE(runs.size(), 7u);
    EXPECT_EQ(runs[0].text, "plain ");
    EXPECT_FALSE(runs[0].format.bold);
    EXPECT_EQ(runs[0].format.halfPoints, 20);
    EXPECT_EQ(runs[1].text, "bold");
    EXPECT_TRUE(runs[1].format.bold);
    EXPECT_EQ(runs[3].text, "italic");
    EXPECT_TRUE(runs[3].format.italic);
    EXPECT_EQ(runs[5].text, "under");
    EXPECT_TRUE(runs[5].format.underline);
    const telvane::rtf::Run& big = runs.back();
    EXPECT_EQ(big.text, "big red");
    EXPECT_EQ(fontOf(d, big), "Times New Roman");
    EXPECT_EQ(big.format.halfPoints, 32);
    ASSERT_LT(big.format.color, static_cast<int>(d.colors.size()));
    EXPECT_EQ(d.colors[big.format.color], (Color{255, 0, 0}));
}

TEST(RtfReader, SymbolWordsBecomeTheirCharacters) {
    const Document d = readRtf(
        "{\\rtf1\\ansi{\\fonttbl{\\f0 Arial;}}\\pard\\lquote a\\rquote\\ldblquote b\\rdblquote\\bullet\\endash"
        "\\emdash|\\emspace\\enspace\\qmspace|\\cell\\nestcell\\tab|\\line|\\unknownword|\\par}");
    ASSERT_EQ(d.paragraphs.size(), 1u);
    EXPECT_EQ(textOf(d.paragraphs[0]), "\u2018a\u2019\u201Cb\u201D\u2022\u2013\u2014|   |\t\t\t|\n||");
}

TEST(RtfReader, ParagraphAttributesAndBreaks) {
    const Document d = readRtf(
        "{\\rtf1\\ansi{\\fonttbl{\\f0 Arial;}}"
        "\\pard\\qc\\li720\\ri360\\fi-360\\sb120\\sa240\\sl-300\\slmult0 centred\\par"
        "\\pard\\qj justified\\line second line\\tab tabbed\\par"
        "\\pard\\qr right\\page after break\\par"
        "\\pard\\pagebb break before\\par}");
    ASSERT_EQ(d.paragraphs.size(), 5u);
    const ParaFormat& c = d.paragraphs[0].format;
    EXPECT_EQ(c.align, Align::Center);
    EXPECT_EQ(c.leftIndent, 720);
    EXPECT_EQ(c.rightIndent, 360);
    EXPECT_EQ(c.firstIndent, -360);
    EXPECT_EQ(c.spaceBefore, 120);
    EXPECT_EQ(c.spaceAfter, 240);
    EXPECT_EQ(c.lineHeight, -300);
    EXPECT_EQ(d.paragraphs[1].format.align, Align::Justify);
    EXPECT_EQ(textOf(d.paragraphs[1]), "justified\nsecond line\ttabbed");
    EXPECT_EQ(d.paragraphs[2].format.align, Align::Right);
    EXPECT_EQ(textOf(d.paragraphs[2]), "right");
    EXPECT_FALSE(d.paragraphs[2].format.pageBreakBefore);
    EXPECT_TRUE(d.paragraphs[3].format.pageBreakBefore);
    EXPECT_EQ(textOf(d.paragraphs[3]), "after break");
    EXPECT_TRUE(d.paragraphs[4].format.pageBreakBefore);
}

TEST(RtfReader, CharactersUnicodeAndCodePage) {
    const Document d = readRtf(
        "{\\rtf1\\ansi\\ansicpg1252\\uc1 caf\\'e9 \\'80 \\u8364? \\uc2\\u1046\\'3f\\'3f x "
        "\\uc1\\u-10179?\\u-8704? \\{braces\\} \\\\ \\lquote q\\rquote\\~nb\\par}");
    ASSERT_EQ(d.paragraphs.size(), 1u);
    EXPECT_EQ(textOf(d.paragraphs[0]),
              "caf\xC3\xA9 \xE2\x82\xAC \xE2\x82\xAC \xD0\x96 x \xF0\x9F\x98\x80 {braces} \\ "
              "\xE2\x80\x98q\xE2\x80\x99\xC2\xA0nb");
}

TEST(RtfReader, SkipsDestinationsPicturesAndUnknownIgnorables) {
    const Document d = readRtf(
        "{\\rtf1{\\*\\generator Writer;}{\\info{\\title T}{\\author A}}{\\stylesheet{\\s0 Normal;}}"
        "{\\header head}{\\footer foot}{\\*\\unknowndest secret}"
        "\\pard visible{\\pict\\pngblip\\picw10 89504e47}{\\*\\shppict{\\pict 00}}{\\nonshppict{\\pict 00}}"
        "{\\unknownword still shown}{\\*\\bkmkstart b}"
        "\\bin4 {}\\} tail\\par}");
    ASSERT_EQ(d.paragraphs.size(), 1u);
    EXPECT_EQ(textOf(d.paragraphs[0]), "visiblestill shown tail");
}

TEST(RtfReader, TablesBecomeTabbedLines) {
    const Document d = readRtf(
        "{\\rtf1\\trowd\\cellx1000\\cellx2000\\pard\\intbl a1\\cell b1\\cell\\row"
        "\\trowd\\cellx1000\\cellx2000\\pard\\intbl a2\\cell b2\\cell\\row\\pard after\\par}");
    ASSERT_EQ(d.paragraphs.size(), 3u);
    EXPECT_EQ(textOf(d.paragraphs[0]), "a1\tb1\t");
    EXPECT_EQ(textOf(d.paragraphs[1]), "a2\tb2\t");
    EXPECT_EQ(textOf(d.paragraphs[2]), "after");
}

TEST(RtfReader, UnicodeRunInsideUprGroup) {
    const Document d = readRtf("{\\rtf1 {\\upr{ansi text}{\\*\\ud{\\u1046?}}} end\\par}");
    ASSERT_EQ(d.paragraphs.size(), 1u);
    EXPECT_EQ(textOf(d.paragraphs[0]), "\xD0\x96 end");
}

TEST(RtfReader, OrdinaryFieldsShowTheirResult) {
    const Document d =
        readRtf("{\\rtf1 see {\\field{\\*\\fldinst HYPERLINK \"http://x\"}{\\fldrslt link text}} now\\par}");
    ASSERT_EQ(d.paragraphs.size(), 1u);
    EXPECT_EQ(textOf(d.paragraphs[0]), "see link text now");
    for (const telvane::rtf::Run& r : d.paragraphs[0].runs) {
        EXPECT_FALSE(r.marker);
        EXPECT_EQ(r.insertPoint, 0);
    }
}

TEST(RtfReader, InsertPointFieldsGiveMarkerTagAndText) {
    const Document d = readRtf(
        "{\\rtf1{\\fonttbl{\\f0 Arial;}}{\\colortbl;\\red255\\green0\\blue0;}Dear "
        "{\\field{\\*\\fldinst MERGEFIELD TelvaneInsertPoint1 }{\\fldrslt {\\v *}{\\cf1 [RECIPIENT]}}}, "
        "{\\field{\\*\\fldinst {MERGEFIELD TelvaneInsertPoint25}}{\\fldrslt {\\cf1 no marker}}}"
        "{\\field{\\*\\fldinst MERGEFIELD TelvaneInsertPoint3}{\\fldrslt }}\\par}");
    ASSERT_EQ(d.paragraphs.size(), 1u);
    const auto& runs = d.paragraphs[0].runs;
    ASSERT_EQ(runs.size(), 7u);
    EXPECT_EQ(runs[0].text, "Dear ");
    EXPECT_TRUE(runs[1].marker);
    EXPECT_EQ(runs[1].insertPoint, 1);
    EXPECT_TRUE(runs[1].format.hidden);
    EXPECT_EQ(runs[2].text, "[RECIPIENT]");
    EXPECT_EQ(runs[2].insertPoint, 1);
    EXPECT_EQ(runs[3].text, ", ");
    EXPECT_EQ(runs[3].insertPoint, 0);
    // A result without the marker character still yields a (visible) marker.
    EXPECT_TRUE(runs[4].marker);
    EXPECT_EQ(runs[4].insertPoint, 25);
    EXPECT_FALSE(runs[4].format.hidden);
    EXPECT_EQ(runs[5].text, "no marker");
    // An empty result keeps the insert point.
    EXPECT_TRUE(runs[6].marker);
    EXPECT_EQ(runs[6].insertPoint, 3);
}

TEST(RtfReader, PlainTextInput) {
    const Document d = readPlainText(
        "one\r\ntwo\n\nthr\xE9"
        "e");
    ASSERT_EQ(d.paragraphs.size(), 4u);
    EXPECT_EQ(textOf(d.paragraphs[0]), "one");
    EXPECT_EQ(textOf(d.paragraphs[2]), "");
    EXPECT_EQ(textOf(d.paragraphs[3]),
              "thr\xC3\xA9"
              "e");  // Windows-1252 when not UTF-8
    EXPECT_TRUE(looksLikeRtf("  \r\n{\\rtf1}"));
    EXPECT_FALSE(looksLikeRtf("{\\rt"));
}

TEST(RtfReader, MalformedInputLoadsWhatCanBeRead) {
    // Truncated in the middle of a group and of an escape.
    Document d = readRtf("{\\rtf1{\\fonttbl{\\f0 Arial;}}\\pard first\\par second {\\b bo\\'e");
    ASSERT_EQ(d.paragraphs.size(), 2u);
    EXPECT_EQ(textOf(d.paragraphs[0]), "first");
    EXPECT_EQ(textOf(d.paragraphs[1]), "second bo");
    // Stray closing braces and huge numbers.
    d = readRtf("{\\rtf1}}}} \\fs99999999999999999999 \\li-99999999999999 text\\par}}");
    ASSERT_EQ(d.paragraphs.size(), 1u);
    EXPECT_EQ(textOf(d.paragraphs[0]), " text");
    EXPECT_EQ(d.paragraphs[0].format.leftIndent, -1000000000);
    // Deep nesting does not recurse.
    std::string deep = "{\\rtf1 ";
    deep += std::string(200000, '{') + "deep" + std::string(100000, '}');
    d = readRtf(deep);
    ASSERT_EQ(d.paragraphs.size(), 1u);
    EXPECT_EQ(textOf(d.paragraphs[0]), "deep");
    // \bin with a length past the end, \u with a huge value, a font that does not exist.
    d = readRtf("{\\rtf1 a\\u99999999999 b \\f77 c\\bin999999999 xyz");
    ASSERT_EQ(d.paragraphs.size(), 1u);
    EXPECT_EQ(d.paragraphs[0].runs.front().text.substr(0, 1), "a");
    EXPECT_TRUE(readRtf("").paragraphs.empty());
    EXPECT_TRUE(readRtf("\\").paragraphs.empty());
}

TEST(RtfWriter, RoundTripKeepsEveryAttributeAndInsertPoint) {
    Document d;
    d.fonts = {Font{"Arial", "swiss", 0}, Font{"Courier New", "modern", 0}};
    d.colors = {Color{}, Color{255, 0, 0}};
    d.hasPageLayout = true;
    d.page = PageLayout{12240, 15840, 720, 720, 720, 720};
    Paragraph p1;
    p1.format.align = Align::Center;
    p1.format.leftIndent = 720;
    p1.format.firstIndent = -200;
    p1.format.rightIndent = 100;
    p1.format.spaceBefore = 240;
    p1.format.spaceAfter = 120;
    p1.format.lineHeight = 360;
    p1.mark.halfPoints = 20;
    CharFormat bold;
    bold.bold = true;
    bold.halfPoints = 20;
    CharFormat mixed;
    mixed.font = 1;
    mixed.italic = true;
    mixed.underline = true;
    mixed.halfPoints = 31;
    p1.runs = {telvane::rtf::Run{"Bold {x} \\ caf\xC3\xA9 \xE2\x82\xAC \xD0\x96 \xF0\x9F\x98\x80", bold, 0, false},
               telvane::rtf::Run{"mixed\tline\nbreak", mixed, 0, false}};
    Paragraph p2;
    p2.format.align = Align::Justify;
    p2.format.pageBreakBefore = true;
    p2.format.lineHeight = -280;
    CharFormat red;
    red.color = 1;
    CharFormat hiddenMarker;
    hiddenMarker.hidden = true;
    p2.runs = {telvane::rtf::Run{"To ", CharFormat{}, 0, false}, telvane::rtf::Run{"*", CharFormat{}, 1, true},
               telvane::rtf::Run{"[RECIPIENT]", red, 1, false},  telvane::rtf::Run{" and ", CharFormat{}, 0, false},
               telvane::rtf::Run{"*", hiddenMarker, 42, true},   telvane::rtf::Run{"value", CharFormat{}, 42, false}};
    Paragraph empty;
    Paragraph p3;
    p3.format.align = Align::Right;
    p3.runs = {telvane::rtf::Run{"end", CharFormat{}, 0, false}};
    d.paragraphs = {p1, p2, empty, p3};

    const std::string rtf = writeRtf(d);
    EXPECT_EQ(rtf.find_first_of("\x80\xC3"), std::string::npos) << "output must be 7-bit";
    EXPECT_NE(rtf.find("MERGEFIELD TelvaneInsertPoint42"), std::string::npos);
    const Document back = readRtf(rtf);
    EXPECT_EQ(back.fonts, d.fonts);
    EXPECT_EQ(back.colors, d.colors);
    EXPECT_TRUE(back.hasPageLayout);
    EXPECT_EQ(back.page, d.page);
    ASSERT_EQ(back.paragraphs.size(), d.paragraphs.size());
    for (size_t i = 0; i < d.paragraphs.size(); ++i) {
        EXPECT_EQ(back.paragraphs[i].format, d.paragraphs[i].format) << "paragraph " << i;
        EXPECT_EQ(back.paragraphs[i].mark, d.paragraphs[i].mark) << "paragraph " << i;
        ASSERT_EQ(back.paragraphs[i].runs.size(), d.paragraphs[i].runs.size()) << "paragraph " << i;
        for (size_t r = 0; r < d.paragraphs[i].runs.size(); ++r) {
            EXPECT_EQ(back.paragraphs[i].runs[r], d.paragraphs[i].runs[r]) << "paragraph " << i << " run " << r;
        }
    }
}

TEST(RtfWriter, ControlWordsAreDelimitedFromText) {
    Document d;
    Paragraph p;
    CharFormat b;
    b.bold = true;
    p.runs = {telvane::rtf::Run{"1234 digits", b, 0, false}, telvane::rtf::Run{" space first", CharFormat{}, 0, false}};
    d.paragraphs = {p};
    const Document back = readRtf(writeRtf(d));
    ASSERT_EQ(back.paragraphs.size(), 1u);
    EXPECT_EQ(textOf(back.paragraphs[0]), "1234 digits space first");
    EXPECT_EQ(back.paragraphs[0].runs[0].format.halfPoints, 24);
}

TEST(TextCodec, Cp1252AndUtf8) {
    EXPECT_EQ(cp1252ToUnicode(0x80), 0x20ACu);
    EXPECT_EQ(cp1252ToUnicode(0xE9), 0xE9u);
    EXPECT_EQ(unicodeToCp1252(0x20AC), 0x80);
    EXPECT_EQ(unicodeToCp1252(0x416), -1);
    std::string s;
    appendUtf8(s, 0x1F600);
    appendUtf8(s, 0xD800);  // a lone surrogate becomes U+FFFD
    size_t pos = 0;
    EXPECT_EQ(nextUtf8(s, pos), 0x1F600u);
    EXPECT_EQ(nextUtf8(s, pos), 0xFFFDu);
    EXPECT_EQ(pos, s.size());
    const std::string bad = "\xC3";  // truncated sequence
    pos = 0;
    EXPECT_EQ(nextUtf8(bad, pos), 0xFFFDu);
    EXPECT_EQ(pos, 1u);
}
