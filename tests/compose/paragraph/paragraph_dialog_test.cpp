// Tests of the paragraph properties dialog: unit rules with the worked examples, read-back on every
// write, "Same as Left Indent", hints by unit, OK applying spacing then indents, Cancel applying
// nothing, and text that is not a number keeping the old value.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTextBlock>

#include "compose/paragraph/paragraphunits.h"
#include "compose/paragraph/tparagraphpropdlg.h"
#include "compose/richtext/trichtext.h"
#include "support/qtapp.h"
#include "app/uihelpers.h"
#include "support/scriptedprompter.h"

using telvane::paragraph::TParagraphPropDlg;
using telvane::richdoc::ParagraphMetrics;
using telvane::richtext::TRichText;
namespace unit = telvane::paragraph;

namespace {

const QLocale kC = QLocale::c();

// An editor whose paragraph at the caret has the given metrics.
void setParagraph(TRichText& rt, const ParagraphMetrics& m) {
    rt.insertPlainText(QStringLiteral("text"));
    rt.setParagraphIndents(m.firstIndent, m.leftIndent, m.rightIndent);
    rt.setParagraphSpacing(m.spaceBefore, m.spaceAfter, m.lineHeight);
}

}  // namespace

TEST(ParagraphUnits, WorkedExamples) {
    EXPECT_EQ(unit::formatIndent(720, unit::Unit::Inch, kC), QStringLiteral("0.50"));
    EXPECT_EQ(unit::formatIndent(720, unit::Unit::Cm, kC), QStringLiteral("1.27"));
    EXPECT_EQ(unit::parseIndent(QStringLiteral("1.27"), unit::Unit::Cm, kC), 720);
    EXPECT_EQ(unit::formatSpacing(240, kC), QStringLiteral("12"));
    EXPECT_EQ(unit::parseSpacing(QStringLiteral("12"), kC), 240);
    EXPECT_EQ(unit::formatIndent(100, unit::Unit::Inch, kC), QStringLiteral("0.07"));
    EXPECT_EQ(unit::parseIndent(QStringLiteral("0.07"), unit::Unit::Inch, kC), 101);
    EXPECT_EQ(unit::parseIndent(QString(), unit::Unit::Inch, kC), 0);
    EXPECT_EQ(unit::parseSpacing(QStringLiteral("  "), kC), 0);
    EXPECT_FALSE(unit::parseIndent(QStringLiteral("abc"), unit::Unit::Inch, kC).has_value());
    EXPECT_FALSE(unit::parseSpacing(QStringLiteral("1e400"), kC).has_value());
    EXPECT_EQ(unit::parseIndent(QStringLiteral("-0.25"), unit::Unit::Inch, kC), -360);
    EXPECT_EQ(unit::formatIndent(-360, unit::Unit::Inch, kC), QStringLiteral("-0.25"));
    EXPECT_EQ(unit::formatIndent(1440 * 2000, unit::Unit::Inch, kC), QStringLiteral("2000.00"));
    // A comma locale reads and writes its own separator.
    const QLocale german(QLocale::German, QLocale::Germany);
    EXPECT_EQ(unit::formatIndent(720, unit::Unit::Cm, german), QStringLiteral("1,27"));
    EXPECT_EQ(unit::parseIndent(QStringLiteral("1,27"), unit::Unit::Cm, german), 720);
    EXPECT_EQ(unit::unitWord(unit::Unit::Inch), QStringLiteral("inches"));
    EXPECT_EQ(unit::unitWord(unit::Unit::Cm), QStringLiteral("centimeters"));
}

class ParagraphDialog : public ::testing::Test {
protected:
    void SetUp() override { QLocale::setDefault(QLocale::c()); }
    void open(const ParagraphMetrics& m) {
        setParagraph(rt, m);
        dlg.setRichText(&rt);
        dlg.readParagraph();
    }
    TRichText rt;
    TParagraphPropDlg dlg;
};

TEST_F(ParagraphDialog, ShowsValuesAndSwitchesUnits) {
    open({720, 720, 0, 240, 0, 0});
    EXPECT_EQ(dlg.windowTitle(), QStringLiteral("Paragraph Properties"));
    EXPECT_EQ(dlg.ComboBox1->currentText(), QStringLiteral("Inch"));
    EXPECT_EQ(dlg.FirstIndentCombo->currentText(), QStringLiteral("Same as Left Indent"));
    EXPECT_FALSE(dlg.FirstIndent->isEnabled());
    EXPECT_EQ(dlg.LeftIndent->text(), QStringLiteral("0.50"));
    EXPECT_EQ(dlg.SpaceBeforePts->text(), QStringLiteral("12"));
    EXPECT_EQ(dlg.LeftIndent->toolTip(), QStringLiteral("Specify left indent for the paragraph in inches"));

    dlg.ComboBox1->setCurrentIndex(1);
    EXPECT_EQ(dlg.LeftIndent->text(), QStringLiteral("1.27"));
    EXPECT_EQ(dlg.storedValue(TParagraphPropDlg::Left), 720);
    EXPECT_EQ(dlg.FirstIndent->toolTip(), QStringLiteral("Specify first line indent for the paragraph in centimeters"));
    EXPECT_EQ(dlg.RightIndent->toolTip(), QStringLiteral("Specify right indent for the paragraph in centimeters"));
    EXPECT_EQ(dlg.SpaceBeforePts->text(), QStringLiteral("12"));

    dlg.ComboBox1->setCurrentIndex(0);
    EXPECT_EQ(dlg.LeftIndent->text(), QStringLiteral("0.50"));
    EXPECT_EQ(dlg.storedValue(TParagraphPropDlg::Left), 720);
}

TEST_F(ParagraphDialog, ValuesFollowTheDisplayedTextAndOkAppliesThem) {
    open({100, 100, 0, 0, 0, 0});
    EXPECT_EQ(dlg.LeftIndent->text(), QStringLiteral("0.07"));
    EXPECT_EQ(dlg.storedValue(TParagraphPropDlg::Left), 101);
    EXPECT_EQ(dlg.storedValue(TParagraphPropDlg::First), 101);
    dlg.OKButton->click();
    EXPECT_EQ(dlg.result(), 1);
    EXPECT_EQ(rt.paragraph(), (ParagraphMetrics{101, 101, 0, 0, 0, 0}));
}

TEST_F(ParagraphDialog, IndentedByKeepsItsOwnFirstIndent) {
    open({1440, 720, 360, 0, 0, 0});
    EXPECT_EQ(dlg.FirstIndentCombo->currentText(), QStringLiteral("Indented by"));
    EXPECT_TRUE(dlg.FirstIndent->isEnabled());
    EXPECT_EQ(dlg.FirstIndent->text(), QStringLiteral("1.00"));
    dlg.LeftIndent->setText(QStringLiteral("0.25"));
    EXPECT_EQ(dlg.FirstIndent->text(), QStringLiteral("1.00"));
    // Choosing "Same as Left Indent" copies the left indent into the first indent.
    dlg.FirstIndentCombo->setCurrentIndex(0);
    EXPECT_FALSE(dlg.FirstIndent->isEnabled());
    EXPECT_EQ(dlg.FirstIndent->text(), QStringLiteral("0.25"));
    EXPECT_EQ(dlg.storedValue(TParagraphPropDlg::First), 360);
}

TEST_F(ParagraphDialog, SameAsLeftFollowsTypingAndEmptyIsZero) {
    open({0, 0, 0, 240, 120, 0});
    dlg.LeftIndent->setText(QStringLiteral("1.5"));
    EXPECT_EQ(dlg.FirstIndent->text(), QStringLiteral("1.5"));
    EXPECT_EQ(dlg.storedValue(TParagraphPropDlg::First), 2160);
    EXPECT_EQ(dlg.storedValue(TParagraphPropDlg::Left), 2160);
    dlg.SpaceBeforePts->clear();
    EXPECT_EQ(dlg.storedValue(TParagraphPropDlg::Before), 0);
    dlg.LineHeightPts->setText(QStringLiteral("-18"));  // negative values pass through
    dlg.RightIndent->setText(QStringLiteral("0.5"));
    dlg.OKButton->click();
    EXPECT_EQ(rt.paragraph(), (ParagraphMetrics{2160, 2160, 720, 0, 120, -360}));
}

TEST_F(ParagraphDialog, TextThatIsNoNumberKeepsTheOldValueAndIsReported) {
    telvane::ScopedScriptedPrompter prompts;
    open({0, 720, 0, 0, 0, 0});
    dlg.LeftIndent->setText(QStringLiteral("1x"));
    EXPECT_EQ(dlg.storedValue(TParagraphPropDlg::Left), 720);
    EXPECT_TRUE(prompts->records.isEmpty()) << "no message while typing";
    emit dlg.LeftIndent->editingFinished();
    ASSERT_EQ(prompts->records.size(), 1);
    EXPECT_EQ(prompts->records[0].text, QStringLiteral("'1x' is not a valid floating point value"));
    dlg.OKButton->click();
    EXPECT_EQ(rt.paragraph().leftIndent, 720);
}

TEST_F(ParagraphDialog, CancelAppliesNothing) {
    open({0, 720, 0, 240, 0, 0});
    dlg.LeftIndent->setText(QStringLiteral("2"));
    dlg.SpaceBeforePts->setText(QStringLiteral("30"));
    dlg.CancelButton->click();
    EXPECT_EQ(dlg.result(), 2);
    EXPECT_EQ(rt.paragraph(), (ParagraphMetrics{0, 720, 0, 240, 0, 0}));
}
