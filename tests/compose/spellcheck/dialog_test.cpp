// The "Spell Check" dialog walked by script, its wiring in both editors, and checking as you type.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

#include <QAbstractTextDocumentLayout>
#include <QImage>
#include <QPainter>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextLayout>
#include <QToolButton>

#include "app/appstate.h"
#include "compose/cover/tcovereditor.h"
#include "compose/editor/tfaxeditor.h"
#include "compose/richtext/trichtoolbar.h"
#include "compose/spell/dictformat.h"
#include "compose/spell/tacropspell.h"
#include "compose/spellcheck/spellasyoutype.h"
#include "compose/spellcheck/spellservice.h"
#include "compose/spellcheck/tspellcheckdialog.h"
#include "compose/editors_fixture.h"
#include "compose/spell/spelltest.h"

using namespace telvane;
using namespace telvane::spellcheck;
using namespace telvane::editortest;

namespace {

const std::vector<std::string> kWords = {"the", "quick", "brown", "fox",   "jumps", "over", "lazy",
                                         "dog", "hello", "world", "again", "text",  "a",    "cat"};

class SpellDialogTest : public EditorsTest {
protected:
    void SetUp() override {
        EditorsTest::SetUp();
        spell::test::writeAll(dir() + "tvn.dct", spell::buildMainDictionary(kWords, "TEST").bytes);
    }
    // Shows the dialog without a modal loop and lets it reach its first stop.
    void start(TSpellCheckDialog& dialog, richtext::TRichText& rt) {
        dialog.setRichText(&rt);
        dialog.show();
        for (int i = 0; i < 20 && dialog.Word->text().isEmpty() && dialog.isVisible(); ++i)
            editortest::app()->processEvents();
    }
    bool userHolds(const char* word) {
        spell::TAcropSpell s;
        s.DictionaryName = dir() + "none.dct";
        return s.openUserDictionary(dir() + "tvnu.dct") >= 0 && s.isWord(word);
    }
};

QString labelOf(QWidget* buddy) {
    for (QLabel* l : buddy->parentWidget()->findChildren<QLabel*>()) {
        if (l->buddy() == buddy) return l->text();
    }
    return {};
}

// The ranges that the highlighter drew in the first paragraph, as "start+length".
QStringList marks(richtext::TRichText& rt) {
    QStringList out;
    for (QTextBlock b = rt.document()->begin(); b.isValid(); b = b.next()) {
        for (const QTextLayout::FormatRange& r : b.layout()->formats()) {
            if (r.format.underlineStyle() == QTextCharFormat::WaveUnderline) {
                out << b.text().mid(r.start, r.length);
            }
        }
    }
    return out;
}

}  // namespace

TEST_F(SpellDialogTest, ControlsCaptionsAndHints) {
    TSpellCheckDialog dialog(dir());
    EXPECT_EQ(dialog.windowTitle(), "Spell Check");
    EXPECT_EQ(labelOf(dialog.Word), "Possible spelling error");
    EXPECT_EQ(labelOf(dialog.ReplaceAs), "Replace with");
    EXPECT_EQ(labelOf(dialog.WordList), "Possible replacements");
    EXPECT_EQ(dialog.Word->toolTip(), "The spell checker does not have this word in its dictionary");
    EXPECT_EQ(dialog.ReplaceAs->toolTip(), "The spelling error will be replaced with this word if you click Replace");
    EXPECT_EQ(dialog.WordList->toolTip(),
              "Click one of these suggested replacements to move it into the Replace With box");
    EXPECT_EQ(dialog.Replace->text(), "Replace ");
    EXPECT_TRUE(dialog.Replace->isDefault());
    EXPECT_EQ(dialog.Replace->toolTip(), "Replace the word");
    EXPECT_EQ(dialog.GetNextWordButton->text(), "&Skip Word");
    EXPECT_EQ(dialog.GetNextWordButton->toolTip(), "Skip the word");
    EXPECT_EQ(dialog.Addbutton->text(), "&Add Word");
    EXPECT_EQ(dialog.Addbutton->toolTip(), "Add the word to the user dictionary");
    EXPECT_EQ(dialog.Cancelbutton->text(), "Cancel");
    EXPECT_EQ(dialog.Cancelbutton->toolTip(), "Cancel the spell check");
    EXPECT_TRUE(dialog.mainDictionaryOpen());
    // The user dictionary is created on first use, holding only "A".
    EXPECT_TRUE(dialog.Addbutton->isEnabled());
    const auto images = spell::readDictionaryImages(spell::test::readAll(dir() + "tvnu.dct"));
    ASSERT_EQ(images.size(), 1u);
    EXPECT_EQ(spell::wordsOf(images[0]), std::vector<std::string>{"A"});
}

TEST_F(SpellDialogTest, AddWordIsDisabledWithoutAUserDictionary) {
    // A main dictionary where the user dictionary should be: not a user dictionary.
    spell::test::writeAll(dir() + "tvnu.dct", spell::buildMainDictionary({"X"}, "M").bytes);
    TSpellCheckDialog wrongKind(dir());
    EXPECT_FALSE(wrongKind.Addbutton->isEnabled());
    TSpellCheckDialog nowhere("/nonexistent-telvane-dir/");
    EXPECT_FALSE(nowhere.Addbutton->isEnabled());
}

TEST_F(SpellDialogTest, ScriptedWalkReplacesSkipsAddsAndCompletes) {
    richtext::TRichText rt;
    rt.setPlainText(QStringLiteral("Helo world, the qick brown fox 42 r2d2.\nZorbly jumps over the lazzy dog."));
    // "qick" in bold: the replacement keeps it.
    QTextCursor bold(rt.document());
    bold.setPosition(16);
    bold.setPosition(20, QTextCursor::KeepAnchor);
    QTextCharFormat f;
    f.setFontWeight(QFont::Bold);
    bold.mergeCharFormat(f);

    TSpellCheckDialog dialog(dir());
    start(dialog, rt);
    ASSERT_EQ(dialog.Word->text(), "Helo");
    ASSERT_GT(dialog.WordList->count(), 0);
    EXPECT_EQ(dialog.WordList->item(0)->text(), "Hello");
    EXPECT_EQ(dialog.ReplaceAs->text(), "Hello");
    ASSERT_EQ(rt.extraSelections().size(), 1);
    EXPECT_EQ(rt.extraSelections()[0].cursor.selectedText(), "Helo");
    // A click on a suggestion moves it into the box.
    if (dialog.WordList->count() > 1) {
        dialog.wordListClick(dialog.WordList->item(1));
        EXPECT_EQ(dialog.ReplaceAs->text(), dialog.WordList->item(1)->text());
    }
    dialog.ReplaceAs->setText(QStringLiteral("Hello"));
    dialog.Replace->click();
    EXPECT_TRUE(rt.toPlainText().startsWith("Hello world, the qick"));
    ASSERT_EQ(dialog.Word->text(), "qick");
    EXPECT_EQ(dialog.ReplaceAs->text(), "quick");
    dialog.Replace->click();
    EXPECT_TRUE(rt.toPlainText().startsWith("Hello world, the quick brown"));
    QTextCursor at(rt.document());
    at.setPosition(18);
    EXPECT_EQ(at.charFormat().fontWeight(), QFont::Bold);
    // Words with digits are passed over; the next stop is on the second line.
    ASSERT_EQ(dialog.Word->text(), "Zorbly");
    dialog.Addbutton->click();
    EXPECT_TRUE(userHolds("zorbly"));
    ASSERT_EQ(dialog.Word->text(), "lazzy");
    dialog.GetNextWordButton->click();
    // End of the text: hidden, told, closed with 1.
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(dialog.result(), 1);
    EXPECT_EQ(prompts().texts(), QStringList{"Spell check complete"});
    EXPECT_TRUE(rt.extraSelections().isEmpty());
    EXPECT_EQ(rt.toPlainText(), "Hello world, the quick brown fox 42 r2d2.\nZorbly jumps over the lazzy dog.");
    // Each replacement is one undo step.
    rt.document()->undo();
    EXPECT_TRUE(rt.toPlainText().startsWith("Hello world, the qick brown"));
    rt.document()->undo();
    EXPECT_TRUE(rt.toPlainText().startsWith("Helo world, the qick brown"));

    // The added word is known to the next check at once.
    rt.setPlainText(QStringLiteral("Zorbly again"));
    TSpellCheckDialog second(dir());
    start(second, rt);
    EXPECT_FALSE(second.isVisible());
    EXPECT_EQ(prompts().texts().size(), 2);
}

TEST_F(SpellDialogTest, CancelEndsTheWalk) {
    richtext::TRichText rt;
    rt.setPlainText(QStringLiteral("the wrold is a cat"));
    TSpellCheckDialog dialog(dir());
    start(dialog, rt);
    ASSERT_EQ(dialog.Word->text(), "wrold");
    EXPECT_EQ(rt.extraSelections().size(), 1);
    dialog.Cancelbutton->click();
    EXPECT_EQ(dialog.result(), 2);
    EXPECT_TRUE(rt.extraSelections().isEmpty());
    EXPECT_TRUE(prompts().texts().isEmpty());
    EXPECT_EQ(rt.toPlainText(), "the wrold is a cat");
}

TEST_F(SpellDialogTest, WordsOutsideTheCodePageAreNotReported) {
    richtext::TRichText rt;
    rt.setPlainText(
        QString::fromUtf8("\xCE\xBA\xCE\xB1\xCE\xBB\xCE\xB7\xCE\xBC\xCE\xAD\xCF\x81\xCE\xB1 the "
                          "\xC5\x81\xC3\xB3\x64\xC5\xBA \xC5\xBDi\xC5\xBE"
                          "ek \xC2\xB5m wrold"));
    TSpellCheckDialog dialog(dir());
    start(dialog, rt);
    EXPECT_EQ(dialog.Word->text(), "wrold");
}

TEST_F(SpellDialogTest, TheDictionaryIsInTheUsersLanguage) {
    // The program's dictionaries of the build, and none of the user's own in the data directory.
    ::setenv("TELVANE_DICT_DIR", TELVANE_BINARY_DIR "/bin", 1);
    std::remove((dir() + "tvn.dct").c_str());
    richtext::TRichText rt;
    rt.setPlainText(QStringLiteral("The report summarises the colour of the catalogue."));
    // Chosen in Preferences, or by default from a British locale: the text is correct.
    for (const char* chosen : {"en_GB", ""}) {
        app::appSettings().Other.SpellLanguage = chosen;
        ::setenv("LC_ALL", "en_GB.UTF-8", 1);
        TSpellCheckDialog dialog(dir());
        start(dialog, rt);
        EXPECT_FALSE(dialog.isVisible()) << chosen;
        EXPECT_TRUE(dialog.Word->text().isEmpty()) << chosen << ": stopped at " << dialog.Word->text().toStdString();
    }
    EXPECT_EQ(prompts().texts(), (QStringList{"Spell check complete", "Spell check complete"}));
    // American English stops there.
    app::appSettings().Other.SpellLanguage = "en_US";
    TSpellCheckDialog american(dir());
    start(american, rt);
    EXPECT_EQ(american.Word->text(), "summarises");
    american.Cancelbutton->click();
    ::unsetenv("LC_ALL");
    ::unsetenv("TELVANE_DICT_DIR");
    app::appSettings().Other.SpellLanguage.clear();
}

TEST_F(SpellDialogTest, BothEditorsOpenTheDialogOnTheirPart) {
    editor::TFaxEditor editor(dir());
    editor.RichCover->setPlainText(QStringLiteral("the covr"));
    editor.RichDoc->setPlainText(QStringLiteral("the documnt"));
    QString seen;
    whenModal<TSpellCheckDialog>([&](TSpellCheckDialog* d) {
        for (int i = 0; i < 20 && d->Word->text().isEmpty(); ++i) editortest::app()->processEvents();
        seen = d->Word->text();
        d->Cancelbutton->click();
    });
    editor.RichToolDoc->SpellCheckButton->click();
    EXPECT_EQ(seen, "documnt");
    whenModal<TSpellCheckDialog>([&](TSpellCheckDialog* d) {
        for (int i = 0; i < 20 && d->Word->text().isEmpty(); ++i) editortest::app()->processEvents();
        seen = d->Word->text();
        d->Cancelbutton->click();
    });
    editor.RichToolCover->SpellCheckButton->click();
    EXPECT_EQ(seen, "covr");

    cover::TCoverEditor cover(dir());
    cover.RichCover->setPlainText(QStringLiteral("a templat"));
    whenModal<TSpellCheckDialog>([&](TSpellCheckDialog* d) {
        for (int i = 0; i < 20 && d->Word->text().isEmpty(); ++i) editortest::app()->processEvents();
        seen = d->Word->text();
        d->Replace->click();  // "template" is not known either: the box holds the word itself
    });
    cover.RichToolCover->SpellCheckButton->click();
    EXPECT_EQ(seen, "templat");
    EXPECT_EQ(prompts().texts(), QStringList{"Spell check complete"});
}

TEST_F(SpellDialogTest, AsYouTypeMarksUnknownWordsAndOffersTheContextMenu) {
    richtext::TRichText rt;
    rt.resize(600, 300);
    auto* live = new SpellAsYouType(&rt, dir());
    ASSERT_TRUE(live->active());
    rt.setPlainText(QStringLiteral("hello wrold, the dgo\nZorblix again"));
    editortest::app()->processEvents();
    EXPECT_EQ(marks(rt), (QStringList{"wrold", "dgo", "Zorblix"}));
    // Typing into one paragraph re-checks it.
    QTextCursor c(rt.document());
    c.movePosition(QTextCursor::End);
    c.insertText(QStringLiteral(" txet"));
    EXPECT_EQ(marks(rt), (QStringList{"wrold", "dgo", "Zorblix", "txet"}));

    // The context menu over "wrold": suggestions first, then Add Word and Ignore.
    QTextCursor onWord(rt.document());
    onWord.setPosition(8);
    std::unique_ptr<QMenu> menu(live->buildContextMenu(rt.cursorRect(onWord).center()));
    const QList<QAction*> actions = menu->actions();
    ASSERT_GT(actions.size(), 3);
    EXPECT_EQ(actions[0]->text(), "world");
    QAction* add = menu->findChild<QAction*>("SpellAddWord");
    QAction* ignore = menu->findChild<QAction*>("SpellIgnore");
    ASSERT_TRUE(add && ignore);
    EXPECT_TRUE(add->isEnabled());
    actions[0]->trigger();
    EXPECT_TRUE(rt.toPlainText().startsWith("hello world, the dgo"));
    EXPECT_EQ(marks(rt), (QStringList{"dgo", "Zorblix", "txet"}));
    rt.document()->undo();  // one step back to the misspelling
    EXPECT_TRUE(rt.toPlainText().startsWith("hello wrold,"));

    // Ignore: for this run only.
    onWord.setPosition(18);
    menu.reset(live->buildContextMenu(rt.cursorRect(onWord).center()));
    menu->findChild<QAction*>("SpellIgnore")->trigger();
    EXPECT_FALSE(marks(rt).contains("dgo"));
    // Add Word: into the user dictionary, unmarked everywhere.
    onWord = QTextCursor(rt.document());
    onWord.setPosition(rt.toPlainText().indexOf("Zorblix") + 2);
    menu.reset(live->buildContextMenu(rt.cursorRect(onWord).center()));
    menu->findChild<QAction*>("SpellAddWord")->trigger();
    EXPECT_FALSE(marks(rt).contains("Zorblix"));
    EXPECT_TRUE(userHolds("zorblix"));

    // Over a known word only the switch is added; switching off removes every mark and is kept.
    onWord.setPosition(1);
    menu.reset(live->buildContextMenu(rt.cursorRect(onWord).center()));
    EXPECT_EQ(menu->findChild<QAction*>("SpellAddWord"), nullptr);
    QAction* toggle = menu->findChild<QAction*>("SpellAsYouTypeToggle");
    ASSERT_TRUE(toggle && toggle->isChecked());
    toggle->trigger();
    EXPECT_FALSE(live->active());
    EXPECT_TRUE(marks(rt).isEmpty());
    settings::Settings reread;
    reread.loadFrom(dir());
    EXPECT_FALSE(reread.Other.SpellCheckAsYouType);
    SpellService::setAsYouType(true);
    EXPECT_TRUE(live->active());
    EXPECT_FALSE(marks(rt).isEmpty());
}

TEST_F(SpellDialogTest, MarksNeverReachThePaintedFaxPage) {
    auto paint = [](richtext::TRichText& rt) {
        QImage page(850, 1100, QImage::Format_RGB32);
        page.fill(Qt::white);
        QPainter p(&page);
        rt.paintPage(p, 0, 0, page.width(), page.height(), 0);
        return page;
    };
    const QString text = QStringLiteral("Plese recieve the docment\nwrold");
    richtext::TRichText plain;
    plain.setPlainText(text);
    richtext::TRichText marked;
    auto* live = new SpellAsYouType(&marked, dir());
    marked.setPlainText(text);
    editortest::app()->processEvents();
    ASSERT_TRUE(live->active());
    ASSERT_EQ(marks(marked).size(), 4);
    const QImage page = paint(marked);
    int ink = 0;
    for (int y = 0; y < 200; ++y)
        for (int x = 0; x < page.width(); ++x) ink += page.pixel(x, y) != qRgb(255, 255, 255);
    EXPECT_GT(ink, 100);  // the text itself is there
    EXPECT_EQ(page, paint(plain));
}
