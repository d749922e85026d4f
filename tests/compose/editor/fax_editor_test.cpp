// The fax editor as a window: pages and zoom, the added tool-bar buttons, the three fields, the
// return-to-the-editor rule, the default font and the kept placement.
#include <QFile>
#include <QFontDialog>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QMenu>
#include <QPushButton>
#include <QStackedWidget>
#include <QTest>
#include <QTextBlock>
#include <QToolButton>
#include <QToolTip>

#include <functional>
#include <utility>
#include <vector>

#include "compose/cover/tcoverbrowse.h"
#include "compose/editorkit/partbuttons.h"
#include "compose/editor/tenteredit.h"
#include "compose/editor/tfaxeditor.h"
#include "compose/editorkit/zoombutton.h"
#include "compose/phonebook/tphonebook.h"
#include "compose/richtext/trichtoolbar.h"
#include "compose/spellcheck/tspellcheckdialog.h"
#include "compose/editors_fixture.h"
#include "support/scriptedprompter.h"

namespace telvane::editortest {
namespace {

using FaxEditorTest = EditorsTest;

QStringList addedControls(richtext::TRichToolBar* bar) {
    QStringList names;
    bool afterSpell = false;
    for (int i = 0; i < bar->layout()->count(); ++i) {
        QWidget* w = bar->layout()->itemAt(i)->widget();
        if (!w) continue;
        if (afterSpell) names << w->objectName();
        if (w == bar->SpellCheckButton) afterSpell = true;
    }
    return names;
}

QStringList checkedZoomItems(editorkit::TZoomButton* button) {
    QStringList checked;
    for (QAction* item : button->zoomMenu()->actions())
        if (item->isChecked()) checked << item->text();
    return checked;
}

TEST_F(FaxEditorTest, PagesActAsRadioGroupAndZoomFollowsThePartShown) {
    editor::TFaxEditor editor(dir());
    editor.show();
    EXPECT_EQ(editor.windowTitle(), "Fax Editor");
    EXPECT_EQ(editor.currentPage(), editor::TFaxEditor::RecipientPage);
    EXPECT_TRUE(editor.RecipientButton->isChecked());
    EXPECT_FALSE(editor.Zoombutton->isVisible());

    editor.DocumentButton->click();
    EXPECT_EQ(editor.currentPage(), editor::TFaxEditor::DocumentPage);
    EXPECT_TRUE(editor.DocumentButton->isChecked());
    EXPECT_FALSE(editor.RecipientButton->isChecked());
    EXPECT_TRUE(editor.Zoombutton->isVisible());
    EXPECT_EQ(editor.Zoombutton->text(), "100%");

    // The menu acts on the document while its button is down, and checks the present zoom.
    editor.Zoombutton->chooseZoom(70);
    EXPECT_EQ(editor.RichDoc->Zooming(), 70);
    EXPECT_EQ(editor.RichCover->Zooming(), 100);
    EXPECT_EQ(editor.Zoombutton->text(), "70%");
    editor.Zoombutton->dropDown();
    EXPECT_EQ(checkedZoomItems(editor.Zoombutton), QStringList{"70%"});
    editor.Zoombutton->zoomMenu()->close();

    editor.CoverButton->click();
    EXPECT_EQ(editor.currentPage(), editor::TFaxEditor::CoverPage);
    EXPECT_EQ(editor.Zoombutton->text(), "100%");
    editor.Zoombutton->zoomMenu()->actions().at(1)->trigger();  // "80%"
    EXPECT_EQ(editor.RichCover->Zooming(), 80);
    EXPECT_EQ(editor.RichDoc->Zooming(), 70);
    editor.DocumentButton->click();
    EXPECT_EQ(editor.Zoombutton->text(), "70%");

    editor.RecipientButton->click();
    EXPECT_FALSE(editor.Zoombutton->isVisible());
    EXPECT_EQ(editor.Zoombutton->zoomMenu()->actions().size(), 3);
}

TEST_F(FaxEditorTest, ToolBarsCarryTheAddedButtonsInOrderWithSpacers) {
    editor::TFaxEditor editor(dir());
    EXPECT_EQ(addedControls(editor.RichToolDoc),
              (QStringList{"Spacer", "DocPageBreakButton", "Spacer", "ParagraphSetupButton", "Spacer",
                           "DocWordWrapButton", "Spacer", "DocDefFontbutton"}));
    EXPECT_EQ(addedControls(editor.RichToolCover),
              (QStringList{"Spacer", "CoverDocPageBreakButton", "Spacer", "CoverParagraphSetupbutton", "Spacer",
                           "CoverDocWordWrapButton", "Spacer", "CoverDefFontbutton", "Spacer", "LoadCoverButton"}));
    for (QWidget* spacer : editor.RichToolDoc->findChildren<QWidget*>("Spacer")) EXPECT_EQ(spacer->width(), 2);
    EXPECT_EQ(editor.LoadCoverButton->toolTip(), "Load Cover Sheet from Template");
    EXPECT_EQ(editor.DocButtons.pageBreak->toolTip(), "Insert Page Break");
    EXPECT_EQ(editor.DocButtons.paragraph->toolTip(), "Paragraph properties");
    EXPECT_EQ(editor.CoverButtons.defaultFont->toolTip(), "Set the default font for the editor");
}

TEST_F(FaxEditorTest, PageBreakAsksWithNoAsDefaultAndInsertsOnlyOnYes) {
    editor::TFaxEditor editor(dir());
    editor.show();
    editor.DocumentButton->click();
    editor.RichDoc->insertPlainText("First page");
    const int activations = editor.activations();

    editor.DocButtons.pageBreak->click();  // the scripted prompter answers No
    ASSERT_EQ(prompts().records.size(), 1);
    EXPECT_EQ(prompts().records[0].kind, PromptRecord::YesNoDefaultNo);
    EXPECT_EQ(prompts().records[0].text, "Add a page break here?");
    EXPECT_EQ(prompts().records[0].caption, "Page Break");
    EXPECT_EQ(editor.RichDoc->document()->blockCount(), 1);
    EXPECT_EQ(editor.RichDoc->text(), "First page");

    prompts().answers = {true};
    editor.DocButtons.pageBreak->click();
    ASSERT_EQ(editor.RichDoc->document()->blockCount(), 2);
    EXPECT_EQ(editor.RichDoc->document()->lastBlock().blockFormat().pageBreakPolicy(),
              QTextFormat::PageBreak_AlwaysBefore);
    // A message box is no return from one of the editor's own windows: the page and caret stay.
    EXPECT_EQ(editor.activations(), activations);
    EXPECT_EQ(editor.currentPage(), editor::TFaxEditor::DocumentPage);
    EXPECT_GT(editor.RichDoc->textCursor().position(), 0);
}

TEST_F(FaxEditorTest, WordWrapToggledTwiceRestoresStateHintAndButton) {
    editor::TFaxEditor editor(dir());
    QToolButton* wrap = editor.DocButtons.wordWrap;
    const bool initial = editor.RichDoc->WordWrap();
    EXPECT_FALSE(initial);
    EXPECT_EQ(wrap->toolTip(), "Toggle word wrap on");
    EXPECT_FALSE(wrap->isChecked());

    wrap->click();
    EXPECT_TRUE(editor.RichDoc->WordWrap());
    EXPECT_TRUE(wrap->isChecked());
    EXPECT_EQ(wrap->toolTip(), "Toggle word wrap off");
    EXPECT_FALSE(editor.RichCover->WordWrap());

    wrap->click();
    EXPECT_EQ(editor.RichDoc->WordWrap(), initial);
    EXPECT_FALSE(wrap->isChecked());
    EXPECT_EQ(wrap->toolTip(), "Toggle word wrap on");
}

TEST_F(FaxEditorTest, FieldsKeepTheirLimitsAndEnterMovesTheFocusOn) {
    editor::TFaxEditor editor(dir());
    editor.show();
    editor.Recipient->setText(QString(60, 'r'));
    editor.FaxNumber->setText(QString(60, '5'));
    editor.Subject->setText(QString(60, 's'));
    EXPECT_EQ(editor.Recipient->text().size(), 35);
    EXPECT_EQ(editor.FaxNumber->text().size(), 25);
    EXPECT_EQ(editor.Subject->text().size(), 50);

    editor.Recipient->setFocus();
    QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier, QStringLiteral("\r"));
    QApplication::sendEvent(editor.Recipient, &enter);
    EXPECT_TRUE(enter.isAccepted());
    EXPECT_EQ(editor.focusWidget(), editor.FaxNumber);
    EXPECT_EQ(editor.Recipient->text().size(), 35);
    EXPECT_TRUE(editor.isVisible()) << "Enter must not close the window through its default button";

    QKeyEvent enter2(QEvent::KeyPress, Qt::Key_Enter, Qt::KeypadModifier, QStringLiteral("\r"));
    QApplication::sendEvent(editor.FaxNumber, &enter2);
    EXPECT_EQ(editor.focusWidget(), editor.Subject);
}

// Back from the template browser, the spell check or the phone book the editor stays on the page
// the user was on (it used to jump to "Recipient Info"), with both carets at the start.
TEST_F(FaxEditorTest, ReturningFromItsOwnWindowKeepsThePageWithCaretsAtStart) {
    editor::TFaxEditor editor(dir());
    editor.show();
    EXPECT_EQ(editor.activations(), 1);
    EXPECT_EQ(editor.currentPage(), editor::TFaxEditor::RecipientPage);
    editor.RichCover->insertPlainText("Cover text that runs on");
    editor.DocumentButton->click();
    editor.RichDoc->insertPlainText("Document text that runs on");
    ASSERT_GT(editor.RichDoc->textCursor().position(), 0);

    struct Return {
        const char* window;
        QPushButton* pageButton;
        editor::TFaxEditor::Page page;
        std::function<void()> open;
    };
    const std::vector<Return> returns = {
        {"template browser", editor.CoverButton, editor::TFaxEditor::CoverPage,
         [&] { editor.LoadCoverButton->click(); }},
        {"spell check", editor.DocumentButton, editor::TFaxEditor::DocumentPage,
         [&] { emit editor.RichDoc->StartSpellCheck(); }},
        {"phone book", editor.RecipientButton, editor::TFaxEditor::RecipientPage,
         [&] { editor.AddressButton->click(); }},
    };
    int activations = editor.activations();
    for (const Return& r : returns) {
        r.pageButton->click();
        whenModal<QDialog>([](QDialog* window) { window->reject(); });
        r.open();
        EXPECT_EQ(editor.activations(), ++activations) << r.window;
        EXPECT_EQ(editor.currentPage(), r.page) << r.window;
        EXPECT_TRUE(r.pageButton->isChecked()) << r.window;
        EXPECT_EQ(editor.Zoombutton->isVisible(), r.page != editor::TFaxEditor::RecipientPage) << r.window;
        EXPECT_EQ(editor.RichDoc->textCursor().position(), 0) << r.window;
        EXPECT_EQ(editor.RichCover->textCursor().position(), 0) << r.window;
    }
}

// Load Template and the spell check are reached from the keyboard: Alt+O on the cover sheet opens
// the template browser, F7 in either text part the spell check.
TEST_F(FaxEditorTest, LoadTemplateAndSpellCheckAreReachedFromTheKeyboard) {
    editor::TFaxEditor editor(dir());
    editor.show();
    QApplication::setActiveWindow(&editor);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&editor));
    editor.CoverButton->click();
    bool browsed = false;
    whenModal<cover::TCoverBrowse>([&](cover::TCoverBrowse* browse) {
        browsed = true;
        browse->reject();
    });
    // A button's key clicks it a moment later, as a mouse click would look.
    QTest::keyClick(editor.RichCover, Qt::Key_O, Qt::AltModifier);
    EXPECT_TRUE(telvane::test::waitUntil([&] { return browsed; }, 5));
    for (const auto& [page, part] :
         {std::pair{editor.CoverButton, editor.RichCover}, std::pair{editor.DocumentButton, editor.RichDoc}}) {
        page->click();
        part->insertPlainText("Sume text");
        bool checked = false;
        whenModal<spellcheck::TSpellCheckDialog>([&](spellcheck::TSpellCheckDialog* spell) {
            checked = true;
            spell->reject();
        });
        QTest::keyClick(part, Qt::Key_F7);
        EXPECT_TRUE(telvane::test::waitUntil([&] { return checked; }, 5)) << page->text().toStdString();
    }
}

TEST_F(FaxEditorTest, ShowingSetsUsLetterWithHalfInchMargins) {
    editor::TFaxEditor editor(dir());
    editor.show();
    for (richtext::TRichText* part : {editor.RichCover, editor.RichDoc}) {
        const richdoc::PageLayoutTwips layout = part->pageLayout();
        EXPECT_EQ(layout.width, 12240);
        EXPECT_EQ(layout.height, 15840);
        EXPECT_EQ(layout.marginLeft, 720);
        EXPECT_EQ(layout.marginTop, 720);
        EXPECT_EQ(layout.marginRight, 720);
        EXPECT_EQ(layout.marginBottom, 720);
    }
}

TEST_F(FaxEditorTest, DefaultFontIsStoredWithoutReformattingTheText) {
    editor::TFaxEditor editor(dir());
    editor.show();
    editor.DocumentButton->click();
    editor.RichDoc->setInputAttributes({QStringLiteral("Liberation Sans"), 12, 0});
    editor.RichDoc->insertPlainText("Existing text");
    const QByteArray before = editor.RichDoc->rtf();

    whenModal<QFontDialog>([](QFontDialog* dialog) {
        QFont font(QStringLiteral("DejaVu Sans"), 14);
        font.setBold(true);
        font.setUnderline(true);
        dialog->setCurrentFont(font);
        dialog->accept();
    });
    editor.DocButtons.defaultFont->click();

    EXPECT_EQ(app::appSettings().DefaultFont.Name, "DejaVu Sans");
    EXPECT_EQ(app::appSettings().DefaultFont.Size, 14);
    EXPECT_TRUE(app::appSettings().DefaultFont.Bold);
    EXPECT_FALSE(app::appSettings().DefaultFont.Italic);
    EXPECT_TRUE(app::appSettings().DefaultFont.Underline);
    settings::Settings reread;
    reread.loadFrom(dir());
    EXPECT_EQ(reread.DefaultFont.Name, "DejaVu Sans");
    EXPECT_EQ(reread.DefaultFont.Size, 14);
    EXPECT_TRUE(reread.DefaultFont.Bold);
    EXPECT_EQ(editor.RichDoc->rtf(), before);

    // Cancelling the dialog keeps what is stored.
    whenModal<QFontDialog>([](QFontDialog* dialog) {
        dialog->setCurrentFont(QFont(QStringLiteral("Liberation Serif"), 20));
        dialog->reject();
    });
    editor.CoverButtons.defaultFont->click();
    EXPECT_EQ(app::appSettings().DefaultFont.Name, "DejaVu Sans");
    EXPECT_EQ(app::appSettings().DefaultFont.Size, 14);
}

TEST_F(FaxEditorTest, HintsFollowTheShowHintsSetting) {
    editor::TFaxEditor editor(dir());
    editor.show();
    const auto askHint = [](QWidget* control) {
        QHelpEvent request(QEvent::ToolTip, QPoint(2, 2), control->mapToGlobal(QPoint(2, 2)));
        QApplication::sendEvent(control, &request);
    };
    app::appSettings().Hints.On = false;
    askHint(editor.OKButton);
    askHint(editor.DocButtons.wordWrap);
    EXPECT_FALSE(QToolTip::isVisible());

    app::appSettings().Hints.On = true;
    askHint(editor.OKButton);
    EXPECT_TRUE(QToolTip::isVisible());
    EXPECT_EQ(QToolTip::text(), "Ok - save changes to this fax");
    QToolTip::hideText();
}

TEST_F(FaxEditorTest, PlacementIsKeptInTheSettingsFile) {
    QRect wanted;
    {
        editor::TFaxEditor editor(dir());
        editor.show();
        wanted = QRect(QPoint(3, 4), editor.minimumSizeHint().expandedTo(QSize(600, 450)));
        editor.setGeometry(wanted);
        editor.done(2);
    }
    QFile ini(QString::fromStdString(dir()) + "TVN.INI");
    ASSERT_TRUE(ini.open(QIODevice::ReadOnly));
    const QString text = QString::fromLatin1(ini.readAll());
    EXPECT_TRUE(text.contains("[TFaxEditor_Placement]")) << text.toStdString();
    EXPECT_TRUE(text.contains("Left=3")) << text.toStdString();

    editor::TFaxEditor again(dir());
    EXPECT_EQ(again.geometry(), wanted);
}

}  // namespace
}  // namespace telvane::editortest

namespace telvane::editortest {
namespace {

// Cancel, Escape or the close button on a changed fax asks "Save changes?": Cancel keeps the
// window open, No discards, Yes accepts. An untouched fax closes without a question.
TEST_F(FaxEditorTest, CancellingAChangedFaxAsksToSave) {
    {
        editor::TFaxEditor editor(dir());
        editor.Recipient->setText("Ann");
        editor.show();
        editor.CancelButton->click();
        EXPECT_FALSE(editor.isVisible());
        EXPECT_EQ(editor.result(), 2);
        EXPECT_EQ(prompts().count(PromptRecord::YesNoCancel), 0);  // filled before showing: not a change
    }
    const auto askedOnce = [this](int before) { return prompts().count(PromptRecord::YesNoCancel) == before + 1; };
    {
        editor::TFaxEditor editor(dir());
        editor.show();
        editor.Subject->setText("Offer");
        prompts().choices = {app::Prompter::AnswerCancel};
        QKeyEvent esc(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
        QApplication::sendEvent(&editor, &esc);
        EXPECT_TRUE(askedOnce(0));
        EXPECT_EQ(prompts().records.back().text, "Save changes?");
        EXPECT_EQ(prompts().records.back().caption, "Fax Editor");
        EXPECT_TRUE(editor.isVisible());
        prompts().choices = {app::Prompter::AnswerNo};
        editor.CancelButton->click();
        EXPECT_TRUE(askedOnce(1));
        EXPECT_FALSE(editor.isVisible());
        EXPECT_EQ(editor.result(), 2);
    }
    {
        editor::TFaxEditor editor(dir());
        editor.show();
        editor.DocumentButton->click();
        editor.RichDoc->insertPlainText("Dear Ann");
        prompts().choices = {app::Prompter::AnswerYes};
        editor.close();
        EXPECT_TRUE(askedOnce(2));
        EXPECT_FALSE(editor.isVisible());
        EXPECT_EQ(editor.result(), 1);  // kept, as with Accept
    }
}

// A fax number a modem could not dial is refused at Accept, on the Recipient page; a number
// written with blanks, brackets and dashes is taken.
TEST_F(FaxEditorTest, AcceptRefusesANumberAModemCannotDial) {
    editor::TFaxEditor editor(dir());
    editor.show();
    editor.FaxNumber->setText("call me maybe!");
    editor.DocumentButton->click();
    editor.OKButton->click();
    EXPECT_TRUE(editor.isVisible());
    ASSERT_EQ(prompts().texts().size(), 1);
    EXPECT_TRUE(
        prompts().texts()[0].startsWith("The fax number \"call me maybe!\" holds characters a modem cannot dial"))
        << prompts().texts()[0].toStdString();
    EXPECT_EQ(editor.currentPage(), editor::TFaxEditor::RecipientPage);
    EXPECT_TRUE(editor.RecipientButton->isChecked());
    editor.FaxNumber->setText("+1 (555) 010-0100");
    editor.OKButton->click();
    EXPECT_FALSE(editor.isVisible());
    EXPECT_EQ(editor.result(), 1);
}

}  // namespace
}  // namespace telvane::editortest
