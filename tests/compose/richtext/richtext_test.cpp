// Tests of TRichText: RTF load and save through files and memo fields, attributes, page breaks,
// insert points and their merge, the word walk, paragraph metrics, zoom, and the tool bar wiring.
#include <gtest/gtest.h>

#include <QAbstractTextDocumentLayout>
#include <QApplication>
#include <QKeyEvent>
#include <QTextLayout>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QTextDocument>
#include <QComboBox>
#include <QLayout>
#include <QScrollBar>
#include <QToolButton>

#include "compose/richtext/richtextmemo.h"
#include "compose/richtext/trichtext.h"
#include "compose/richtext/trichtoolbar.h"
#include "support/qtapp.h"
#include "richtexttest.h"
#include "app/uihelpers.h"
#include "support/scriptedprompter.h"

using telvane::richdoc::ParagraphMetrics;
using telvane::richtext::InsertPointInfo;
using telvane::richtext::TextAttributes;
using telvane::richtext::TRichText;
using telvane::testing::attributesAt;

namespace {

void type(TRichText& rt, const QString& text) { rt.insertPlainText(text); }

// Fills an editor with a document that uses every attribute the component keeps.
void buildSample(TRichText& rt) {
    rt.setInputAttributes({QStringLiteral("Arial"), 10, telvane::richtext::kStyleBold});
    type(rt, QStringLiteral("Bold Arial "));
    rt.setInputAttributes(
        {QStringLiteral("Courier New"), 14, telvane::richtext::kStyleItalic | telvane::richtext::kStyleUnderline});
    type(rt, QStringLiteral("italic courier"));
    rt.setParagraphIndents(1440, 720, 360);
    rt.setParagraphSpacing(240, 120, 300);
    rt.setParagraphAlignment(Qt::AlignHCenter);
    rt.insertPageBreak();
    rt.setInputAttributes({QStringLiteral("Arial"), 12, 0});
    type(rt, QStringLiteral("To "));
    rt.insertInsertPoint(1, QStringLiteral("[RECIPIENT]"));
    type(rt, QStringLiteral(" at "));
    rt.insertInsertPoint(2, QStringLiteral("[FAX#]"));
}

}  // namespace

TEST(RichText, SaveAndLoadKeepTextAttributesParagraphsAndInsertPoints) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("Eraseme.rtf"));
    TRichText source;
    buildSample(source);
    QString error;
    ASSERT_TRUE(source.saveToFile(path, &error)) << error.toStdString();

    TRichText loaded;
    ASSERT_TRUE(loaded.loadFromFile(path, &error)) << error.toStdString();
    EXPECT_EQ(loaded.text(), source.text());
    EXPECT_EQ(loaded.text(), QStringLiteral("Bold Arial italic courier\nTo *[RECIPIENT] at *[FAX#]"));

    const TextAttributes bold = attributesAt(loaded, 2);
    EXPECT_EQ(bold.name, QStringLiteral("Arial"));
    EXPECT_EQ(bold.size, 10);
    EXPECT_EQ(bold.style, telvane::richtext::kStyleBold);
    const TextAttributes courier = attributesAt(loaded, 15);
    EXPECT_EQ(courier.name, QStringLiteral("Courier New"));
    EXPECT_EQ(courier.size, 14);
    EXPECT_EQ(courier.style, telvane::richtext::kStyleItalic | telvane::richtext::kStyleUnderline);

    QTextBlock first = loaded.document()->begin();
    QTextBlock second = first.next();
    ASSERT_TRUE(second.isValid());
    EXPECT_EQ(first.blockFormat().alignment() & Qt::AlignHorizontal_Mask, Qt::AlignHCenter);
    EXPECT_TRUE(telvane::richdoc::startsNewPage(second));
    EXPECT_FALSE(telvane::richdoc::startsNewPage(first));
    loaded.setTextCursor(QTextCursor(first));
    EXPECT_EQ(loaded.paragraph(), (ParagraphMetrics{1440, 720, 360, 240, 120, 300}));

    const std::vector<InsertPointInfo> points = loaded.insertPoints();
    ASSERT_EQ(points.size(), 2u);
    EXPECT_EQ(points[0].tag, 1);
    EXPECT_EQ(points[0].text, QStringLiteral("[RECIPIENT]"));
    EXPECT_EQ(points[1].tag, 2);
    EXPECT_EQ(points[1].text, QStringLiteral("[FAX#]"));

    // A second save of the loaded document is byte for byte the first.
    const QString again = dir.filePath(QStringLiteral("again.rtf"));
    ASSERT_TRUE(loaded.saveToFile(again));
    QFile a(path), b(again);
    ASSERT_TRUE(a.open(QIODevice::ReadOnly) && b.open(QIODevice::ReadOnly));
    EXPECT_EQ(a.readAll(), b.readAll());
}

TEST(RichText, LoadFailureLeavesContentAndClearEmpties) {
    TRichText rt;
    type(rt, QStringLiteral("keep me"));
    QString error;
    EXPECT_FALSE(rt.loadFromFile(QStringLiteral("/nonexistent/dir/x.rtf"), &error));
    EXPECT_FALSE(error.isEmpty());
    EXPECT_EQ(rt.text(), QStringLiteral("keep me"));
    EXPECT_FALSE(rt.saveToFile(QStringLiteral("/nonexistent/dir/x.rtf"), &error));
    rt.clearAll();
    EXPECT_EQ(rt.textLength(), 0);
    EXPECT_TRUE(rt.lines().isEmpty());
}

TEST(RichText, MemoRoundTripAndThePageALoadStartsFrom) {
    QTemporaryDir dir;
    const std::string d = dir.path().toStdString() + "/";
    telvane::records::RecordSet table;
    telvane::records::TXbAccess xb;
    ASSERT_TRUE(telvane::records::OpenFaxDBF(d, table, xb));
    table.append();
    TRichText source;
    type(source, QStringLiteral("kept in the memo"));
    ASSERT_TRUE(telvane::richtext::SaveRichText(source, "RTFDOC", xb, d));
    table.post();

    TRichText back;
    EXPECT_TRUE(telvane::richtext::LoadRichText(back, "RTFDOC", xb, d));
    EXPECT_EQ(back.text(), QStringLiteral("kept in the memo"));

    // The cover memo is empty: the controls end up empty, each on the page its caller asked for.
    const telvane::richdoc::PageLayoutTwips narrow{5760, 15840, 720, 720, 720, 720};
    TRichText kept, reset;
    for (TRichText* control : {&kept, &reset}) {
        control->setPageLayout(narrow);
        type(*control, QStringLiteral("replaced"));
    }
    telvane::richtext::LoadRichText(kept, "RTFCOVER", xb, d, telvane::richtext::MemoPage::Keep);
    telvane::richtext::LoadRichText(reset, "RTFCOVER", xb, d, telvane::richtext::MemoPage::Reset);
    EXPECT_EQ(kept.textLength(), 0);
    EXPECT_EQ(reset.textLength(), 0);
    EXPECT_EQ(kept.pageLayout().width, 5760);
    EXPECT_EQ(reset.pageLayout().width, 12240);
}

TEST(RichText, PlainTextFileLoadsAsLines) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("plain.txt"));
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("first line\r\n\r\n  third\r\n");
    f.close();
    TRichText rt;
    ASSERT_TRUE(rt.loadFromFile(path));
    EXPECT_EQ(rt.lines(), (QStringList{QStringLiteral("first line"), QString(), QStringLiteral("  third")}));
    EXPECT_EQ(rt.textLength(), 19);
}

TEST(RichText, InputAttributesApplyToTextTypedNext) {
    TRichText rt;
    // An empty control types in its default font, Arial 12 pt, which is also what it stores.
    EXPECT_EQ(rt.currentAttributes().name, QStringLiteral("Arial"));
    EXPECT_EQ(rt.currentAttributes().size, 12);
    TRichText unformatted;
    unformatted.insertPlainText(QStringLiteral("x"));
    TRichText stored;
    stored.setRtf(unformatted.rtf());
    EXPECT_EQ(attributesAt(stored, 1).name, QStringLiteral("Arial"));
    EXPECT_EQ(attributesAt(stored, 1).size, 12);
    rt.setInputAttributes({QStringLiteral("Times New Roman"), 18, telvane::richtext::kStyleItalic});
    const TextAttributes before = rt.currentAttributes();
    EXPECT_EQ(before.name, QStringLiteral("Times New Roman"));
    EXPECT_EQ(before.size, 18);
    EXPECT_EQ(before.style, telvane::richtext::kStyleItalic);
    type(rt, QStringLiteral("abc"));
    const TextAttributes typed = attributesAt(rt, 2);
    EXPECT_EQ(typed.name, QStringLiteral("Times New Roman"));
    EXPECT_EQ(typed.size, 18);
    EXPECT_EQ(typed.style, telvane::richtext::kStyleItalic);
}

TEST(RichText, PageBreakStartsParagraphWithSameAttributesAndDoesNotSpread) {
    TRichText rt;
    rt.setInputAttributes({QStringLiteral("Arial"), 16, telvane::richtext::kStyleBold});
    type(rt, QStringLiteral("before"));
    rt.insertPageBreak();
    EXPECT_EQ(rt.currentAttributes().size, 16);
    EXPECT_EQ(rt.currentAttributes().style, telvane::richtext::kStyleBold);
    type(rt, QStringLiteral("after"));
    QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier, QStringLiteral("\r"));
    QCoreApplication::sendEvent(&rt, &enter);
    type(rt, QStringLiteral("next"));
    EXPECT_EQ(rt.lines(), (QStringList{QStringLiteral("before"), QStringLiteral("after"), QStringLiteral("next")}));
    const QTextBlock b0 = rt.document()->begin();
    EXPECT_FALSE(telvane::richdoc::startsNewPage(b0));
    EXPECT_TRUE(telvane::richdoc::startsNewPage(b0.next()));
    EXPECT_FALSE(telvane::richdoc::startsNewPage(b0.next().next())) << "Enter must not repeat the break";
    // Two page breaks in a row are two pages.
    rt.insertPageBreak();
    EXPECT_TRUE(telvane::richdoc::startsNewPage(rt.document()->lastBlock()));
    // The break survives storage, and the paragraph split off after it does not start a page.
    TRichText copy;
    copy.setRtf(rt.rtf());
    ASSERT_EQ(copy.document()->blockCount(), 4);
    EXPECT_FALSE(telvane::richdoc::startsNewPage(copy.document()->begin()));
    EXPECT_TRUE(telvane::richdoc::startsNewPage(copy.document()->begin().next()));
    EXPECT_FALSE(telvane::richdoc::startsNewPage(copy.document()->begin().next().next()));
    EXPECT_TRUE(telvane::richdoc::startsNewPage(copy.document()->lastBlock()));
    EXPECT_EQ(attributesAt(rt, rt.document()->characterCount() - 2).size, 16);
}

TEST(RichText, InsertPointTagZeroIsRefusedWithMessage) {
    telvane::ScopedScriptedPrompter prompts;
    TRichText rt;
    EXPECT_FALSE(rt.insertInsertPoint(0, QStringLiteral("[X]")));
    EXPECT_TRUE(rt.insertPoints().empty());
    EXPECT_EQ(rt.textLength(), 0);
    EXPECT_EQ(prompts->texts(), QStringList{QStringLiteral("Insertpoint-tag has to be >0")});
    EXPECT_TRUE(rt.insertInsertPoint(2, QStringLiteral("[FAX#]")));
    EXPECT_EQ(prompts->records.size(), 1);
}

TEST(RichText, InsertPointTextIsRedAndTypingAfterItIsNot) {
    TRichText rt;
    rt.insertInsertPoint(3, QStringLiteral("[SUBJECT]"));
    type(rt, QStringLiteral(" plain"));
    QTextCursor c(rt.document());
    c.setPosition(3);
    EXPECT_EQ(c.charFormat().foreground().color(), QColor(Qt::red));
    c.setPosition(rt.document()->characterCount() - 2);
    EXPECT_NE(c.charFormat().foreground().color(), QColor(Qt::red));
    const auto points = rt.insertPoints();
    ASSERT_EQ(points.size(), 1u);
    EXPECT_EQ(points[0].text, QStringLiteral("[SUBJECT]"));
}

TEST(RichText, MergeReplacesEveryInsertPointTextByItsAnswer) {
    TRichText rt;
    rt.setInputAttributes({QStringLiteral("Arial"), 11, telvane::richtext::kStyleBold});
    type(rt, QStringLiteral("A "));
    rt.insertInsertPoint(1, QStringLiteral("[RECIPIENT]"));
    type(rt, QStringLiteral(" B "));
    rt.insertInsertPoint(2, QStringLiteral("[FAX#]"));
    type(rt, QStringLiteral(" C "));
    rt.insertInsertPoint(9, QStringLiteral("[UNKNOWN]"));
    type(rt, QStringLiteral(" D "));
    rt.insertInsertPoint(4, QStringLiteral("[DATE]"));
    type(rt, QStringLiteral(" E "));
    rt.insertInsertPoint(5, QStringLiteral("[TIME]"));

    QList<int> asked;
    QObject::connect(&rt, &TRichText::GetTextToInsert, [&](int tag, QString& text, bool& answered) {
        asked << tag;
        switch (tag) {
        case 1:
            text = QStringLiteral("John\r\nSmith\n");
            answered = true;
            break;
        case 2:
            text = QStringLiteral("{\\rtf1 {\\i 555-1234}}");
            answered = true;
            break;
        case 4:
            text = QStringLiteral("<html><b>today</b></html>");
            answered = true;
            break;
        case 5:
            text = QString();
            answered = true;
            break;
        default: break;
        }
    });
    rt.mergeInsertPoints();
    EXPECT_EQ(asked, (QList<int>{1, 2, 9, 4, 5}));
    EXPECT_EQ(rt.text(), QStringLiteral("A *John\nSmith B *555-1234 C * D *today E *"));
    const auto points = rt.insertPoints();
    ASSERT_EQ(points.size(), 5u);
    EXPECT_EQ(points[0].text, QStringLiteral("John\nSmith"));
    EXPECT_EQ(points[1].text, QStringLiteral("555-1234"));
    EXPECT_EQ(points[2].text, QString());
    EXPECT_EQ(points[3].text, QStringLiteral("today"));
    // Plain answers take the marker's attributes, not the red of the placeholder.
    QTextCursor c(rt.document());
    c.setPosition(5);
    EXPECT_NE(c.charFormat().foreground().color(), QColor(Qt::red));
    EXPECT_EQ(attributesAt(rt, 5).style, telvane::richtext::kStyleBold);
    EXPECT_EQ(attributesAt(rt, 5).size, 11);

    rt.setHideInsertPointMarks(true);
    EXPECT_EQ(rt.text(), QStringLiteral("A John\nSmith B 555-1234 C  D today E "));
    // Hidden markers survive storage; merging again replaces the merged values.
    TRichText copy;
    copy.setRtf(rt.rtf());
    EXPECT_TRUE(copy.hideInsertPointMarks());
    EXPECT_EQ(copy.text(), rt.text());
    QObject::connect(&copy, &TRichText::GetTextToInsert, [](int tag, QString& text, bool& answered) {
        text = QString::number(tag);
        answered = true;
    });
    copy.mergeInsertPoints();
    EXPECT_EQ(copy.text(), QStringLiteral("A 1 B 2 C 9 D 4 E 5"));
}

TEST(RichText, WordWalkFindsMarksAndReplacesWords) {
    TRichText rt;
    type(rt, QStringLiteral("Helo wrold, it's 42 a2b fine\nnext-line"));
    rt.wordWalkBegin();
    QStringList words;
    for (QString w = rt.wordWalkNext(); !w.isEmpty(); w = rt.wordWalkNext()) {
        words << w;
        if (w == QStringLiteral("wrold")) {
            rt.wordWalkMark();
            ASSERT_EQ(rt.extraSelections().size(), 1);
            EXPECT_EQ(rt.extraSelections()[0].cursor.selectedText(), QStringLiteral("wrold"));
            rt.wordWalkReplace(QStringLiteral("world"));
        }
    }
    EXPECT_EQ(words, (QStringList{"Helo", "wrold", "it's", "fine", "next", "line"}));
    EXPECT_EQ(rt.text(), QStringLiteral("Helo world, it's 42 a2b fine\nnext-line"));
    EXPECT_TRUE(rt.wordWalkNext().isEmpty());
    rt.wordWalkEnd();
    EXPECT_TRUE(rt.extraSelections().isEmpty());
    // A replacement of another length keeps the walk in step.
    rt.wordWalkBegin();
    EXPECT_EQ(rt.wordWalkNext(), QStringLiteral("Helo"));
    rt.wordWalkReplace(QStringLiteral("Hello there"));
    EXPECT_EQ(rt.wordWalkNext(), QStringLiteral("world"));
}

TEST(RichText, ParagraphMetricsActOnSelectedParagraphsAndSurviveZoom) {
    TRichText rt;
    type(rt, QStringLiteral("one\ntwo\nthree"));
    QTextCursor c(rt.document());
    c.setPosition(1);
    c.setPosition(5, QTextCursor::KeepAnchor);  // paragraphs one and two
    rt.setTextCursor(c);
    rt.setParagraphIndents(-100, 720, 1440);
    rt.setParagraphSpacing(100, 200, -400);
    const ParagraphMetrics set{-100, 720, 1440, 100, 200, -400};
    EXPECT_EQ(rt.paragraph(), set);
    rt.setZooming(70);
    EXPECT_EQ(rt.paragraph(), set);
    rt.setZooming(100);
    EXPECT_EQ(rt.paragraph(), set);
    c.setPosition(9);
    rt.setTextCursor(c);
    EXPECT_EQ(rt.paragraph(), ParagraphMetrics{});
    // The left indent is laid out at true size: 720 twips = half an inch.
    const QTextBlock one = rt.document()->begin();
    EXPECT_NEAR(one.blockFormat().leftMargin(), rt.logicalDpiY() / 2.0, 1.0);
}

TEST(RichText, ZoomScalesTheLayout) {
    TRichText rt;
    rt.setWordWrap(true);
    rt.setInputAttributes({QStringLiteral("Arial"), 12, 0});
    type(rt, QStringLiteral("one\ntwo\nthree\nfour"));
    const auto textHeight = [&rt] {
        QAbstractTextDocumentLayout* layout = rt.document()->documentLayout();
        return layout->blockBoundingRect(rt.document()->lastBlock()).bottom() -
               layout->blockBoundingRect(rt.document()->begin()).top();
    };
    const double normal = textHeight();
    rt.setZooming(200);
    EXPECT_EQ(rt.Zooming(), 200);
    const double zoomed = textHeight();
    EXPECT_NEAR(zoomed / normal, 2.0, 0.15);
    EXPECT_EQ(rt.lineWrapMode(), QTextEdit::FixedPixelWidth);
    EXPECT_NE(rt.wordWrapMode(), QTextOption::NoWrap);
    rt.setWordWrap(false);
    EXPECT_EQ(rt.wordWrapMode(), QTextOption::NoWrap);
    rt.setZooming(0);
    EXPECT_EQ(rt.Zooming(), 10);
}

TEST(RichText, MoveToStartPutsCaretAtTheBeginning) {
    TRichText rt;
    rt.resize(200, 100);
    for (int i = 0; i < 50; ++i) type(rt, QStringLiteral("line %1\n").arg(i));
    rt.moveToStart();
    EXPECT_EQ(rt.textCursor().position(), 0);
    EXPECT_EQ(rt.verticalScrollBar()->value(), 0);
}

TEST(RichToolBar, IconsInOrderWithRoomForMoreAndWiring) {
    TRichText rt;
    telvane::richtext::TRichToolBar bar;
    bar.setEditor(&rt);
    auto* extra = new QToolButton;
    extra->setObjectName(QStringLiteral("DocPageBreakButton"));
    bar.addControl(extra);
    QStringList names;
    for (QObject* o : bar.children()) {
        if (auto* w = qobject_cast<QWidget*>(o)) names << w->objectName();
    }
    const QStringList expected{"FontName",        "FontSize",   "NormalButton", "BoldButton",      "ItalicButton",
                               "UnderlineButton", "LeftButton", "RightButton",  "JustifyButton",   "CenterButton",
                               "CopyButton",      "CutButton",  "PasteButton",  "SpellCheckButton"};
    EXPECT_EQ(names.mid(0, expected.size()), expected);
    // The added control sits after the bar's own icons in the layout.
    auto* layout = bar.layout();
    int spellAt = -1, extraAt = -1;
    for (int i = 0; i < layout->count(); ++i) {
        if (layout->itemAt(i)->widget() == bar.SpellCheckButton) spellAt = i;
        if (layout->itemAt(i)->widget() == extra) extraAt = i;
    }
    EXPECT_EQ(extraAt, spellAt + 1);
    EXPECT_EQ(bar.FontSize->itemText(0), QStringLiteral("8"));

    int spellRequests = 0;
    QObject::connect(&rt, &TRichText::StartSpellCheck, [&] { ++spellRequests; });
    bar.SpellCheckButton->click();
    EXPECT_EQ(spellRequests, 1);

    bar.BoldButton->click();
    EXPECT_EQ(rt.currentAttributes().style & telvane::richtext::kStyleBold, telvane::richtext::kStyleBold);
    bar.NormalButton->click();
    EXPECT_EQ(rt.currentAttributes().style, 0);
    bar.CenterButton->click();
    EXPECT_EQ(rt.textCursor().blockFormat().alignment() & Qt::AlignHorizontal_Mask, Qt::AlignHCenter);
    EXPECT_TRUE(bar.CenterButton->isChecked());
    EXPECT_FALSE(bar.LeftButton->isChecked());
    bar.FontSize->textActivated(QStringLiteral("20"));
    EXPECT_EQ(rt.currentAttributes().size, 20);
}

namespace {

QKeyEvent keyPress(int key, Qt::KeyboardModifiers mods, const QString& text = {}) {
    return QKeyEvent(QEvent::KeyPress, key, mods, text);
}

// Typing through the keyboard path a user takes (so Enter runs Qt's own paragraph split).
void keys(TRichText& rt, const QString& text) {
    for (QChar c : text) {
        const bool enter = c == QLatin1Char('\n');
        QKeyEvent e = keyPress(enter ? Qt::Key_Return : 0, Qt::NoModifier, enter ? QStringLiteral("\r") : QString(c));
        QApplication::sendEvent(&rt, &e);
    }
}

}  // namespace

// Ctrl+B, Ctrl+I and Ctrl+U switch the style for the text typed next (and for a selection),
// and the tool bar's buttons show it.
TEST(RichTextEditing, CtrlBIAndUToggleTheStyle) {
    TRichText rt;
    telvane::richtext::TRichToolBar bar;
    bar.setEditor(&rt);
    rt.show();
    rt.setFocus();
    rt.setInputAttributes({QStringLiteral("Arial"), 10, 0});
    for (auto [key, bit] :
         {std::pair{Qt::Key_B, telvane::richtext::kStyleBold}, std::pair{Qt::Key_I, telvane::richtext::kStyleItalic},
          std::pair{Qt::Key_U, telvane::richtext::kStyleUnderline}}) {
        QKeyEvent on = keyPress(key, Qt::ControlModifier);
        QApplication::sendEvent(&rt, &on);
        EXPECT_TRUE(rt.currentAttributes().style & bit) << key;
    }
    EXPECT_TRUE(bar.BoldButton->isChecked());
    EXPECT_TRUE(bar.UnderlineButton->isChecked());
    keys(rt, QStringLiteral("abc"));
    EXPECT_EQ(attributesAt(rt, 1).style,
              telvane::richtext::kStyleBold | telvane::richtext::kStyleItalic | telvane::richtext::kStyleUnderline);
    rt.moveCursor(QTextCursor::End);
    QKeyEvent off = keyPress(Qt::Key_B, Qt::ControlModifier);
    QApplication::sendEvent(&rt, &off);
    keys(rt, QStringLiteral("d"));
    EXPECT_FALSE(bar.BoldButton->isChecked());
    EXPECT_EQ(attributesAt(rt, 4).style, telvane::richtext::kStyleItalic | telvane::richtext::kStyleUnderline);
}

// The size set for a new document stays after Enter: the new paragraph types at the same size.
TEST(RichTextEditing, EnterKeepsTheTypingSize) {
    TRichText rt;
    rt.show();
    rt.setFocus();
    rt.setInputAttributes({QStringLiteral("Arial"), 10, 0});
    keys(rt, QStringLiteral("first\nsecond\n\nfourth"));
    EXPECT_EQ(rt.currentAttributes().size, 10);
    for (int pos : {1, 7, 15}) EXPECT_EQ(attributesAt(rt, pos).size, 10) << pos;
    EXPECT_EQ(rt.document()->blockCount(), 4);
}

// Centred and right-aligned paragraphs are drawn so while lines do not wrap (the default): they
// align within the page's text width, not within the longest line.
TEST(RichTextEditing, AlignmentShowsWithWordWrapOff) {
    TRichText rt;
    rt.resize(900, 400);
    rt.setPageLayout({12240, 15840, 720, 720, 720, 720});
    rt.setWordWrap(false);
    rt.show();
    rt.setInputAttributes({QStringLiteral("Arial"), 10, 0});
    type(rt, QStringLiteral("short"));
    QApplication::processEvents();
    QAbstractTextDocumentLayout* layout = rt.document()->documentLayout();
    const auto lineLeft = [&] {
        const QTextBlock b = rt.document()->begin();
        return layout->blockBoundingRect(b).left() + b.layout()->lineAt(0).naturalTextRect().left();
    };
    const qreal left = lineLeft();
    rt.setParagraphAlignment(Qt::AlignHCenter);
    QApplication::processEvents();
    const qreal centred = lineLeft();
    rt.setParagraphAlignment(Qt::AlignRight);
    QApplication::processEvents();
    const qreal right = lineLeft();
    // 7.5 inches of text width at the view's resolution: the word moves far to the right.
    EXPECT_GT(centred - left, 150);
    EXPECT_GT(right - centred, 150);
    // Long lines still do not wrap.
    type(rt, QString(400, QLatin1Char('x')));
    QApplication::processEvents();
    EXPECT_EQ(rt.document()->begin().layout()->lineCount(), 1);
}

// The tool bar shows icons (the desktop theme's, else drawn ones), not ASCII stand-ins.
TEST(RichTextEditing, ToolBarButtonsShowIcons) {
    telvane::richtext::TRichToolBar bar;
    for (QToolButton* b :
         {bar.NormalButton, bar.BoldButton, bar.ItalicButton, bar.UnderlineButton, bar.LeftButton, bar.RightButton,
          bar.JustifyButton, bar.CenterButton, bar.CopyButton, bar.CutButton, bar.PasteButton, bar.SpellCheckButton}) {
        SCOPED_TRACE(b->objectName().toStdString());
        ASSERT_FALSE(b->icon().isNull());
        const QImage img = b->icon().pixmap(16, 16).toImage();
        int dark = 0;
        for (int y = 0; y < img.height(); ++y)
            for (int x = 0; x < img.width(); ++x)
                if (qAlpha(img.pixel(x, y)) > 128 && qGray(img.pixel(x, y)) < 128) ++dark;
        EXPECT_GT(dark, 8);  // something is drawn
        EXPECT_EQ(b->toolButtonStyle(), Qt::ToolButtonIconOnly);
        EXPECT_FALSE(b->toolTip().isEmpty());
    }
    // Each alignment has its own picture.
    const auto image = [](QToolButton* b) { return b->icon().pixmap(16, 16).toImage(); };
    EXPECT_NE(image(bar.LeftButton), image(bar.RightButton));
    EXPECT_NE(image(bar.CenterButton), image(bar.JustifyButton));
}

// Ctrl+U on a selection of mixed styles switches only underline, keeping bold where it was.
TEST(RichTextEditing, StyleKeyOnASelectionChangesOnlyThatStyle) {
    TRichText rt;
    telvane::richtext::TRichToolBar bar;
    bar.setEditor(&rt);
    rt.show();
    rt.setFocus();
    rt.setInputAttributes({QStringLiteral("Arial"), 10, telvane::richtext::kStyleBold});
    type(rt, QStringLiteral("ab"));
    rt.setInputAttributes({QStringLiteral("Arial"), 10, telvane::richtext::kStyleItalic});
    type(rt, QStringLiteral("cd"));
    QTextCursor c(rt.document());
    c.setPosition(0);
    c.setPosition(2, QTextCursor::KeepAnchor);
    rt.setTextCursor(c);
    QKeyEvent u = keyPress(Qt::Key_U, Qt::ControlModifier);
    QApplication::sendEvent(&rt, &u);
    EXPECT_EQ(attributesAt(rt, 1).style, telvane::richtext::kStyleBold | telvane::richtext::kStyleUnderline);
    EXPECT_EQ(attributesAt(rt, 4).style, telvane::richtext::kStyleItalic);
    EXPECT_EQ(attributesAt(rt, 1).size, 10);
}

// Enter as the very first key of a new text (the caret put back to the start, as the editors do
// when they open) keeps the size set for it, also in the stored RTF of the empty paragraph.
TEST(RichTextEditing, EnterFirstInANewTextKeepsTheSize) {
    TRichText rt;
    rt.show();
    rt.setFocus();
    rt.setInputAttributes({QStringLiteral("Courier New"), 10, 0});
    rt.moveToStart();
    QKeyEvent enter = keyPress(Qt::Key_Return, Qt::NoModifier);
    QApplication::sendEvent(&rt, &enter);
    EXPECT_EQ(rt.document()->blockCount(), 2);
    EXPECT_EQ(rt.currentAttributes().size, 10);
    type(rt, QStringLiteral("x"));
    TRichText stored;
    stored.setRtf(rt.rtf());
    EXPECT_EQ(attributesAt(stored, 0).size, 10);
    EXPECT_EQ(attributesAt(stored, 2).size, 10);
    EXPECT_EQ(attributesAt(stored, 2).name, QStringLiteral("Courier New"));
}
