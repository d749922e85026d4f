// Cover templates: the template editor as a window, the insert menu, the browser's New, Clone,
// Edit and Delete, and loading a template into a fax with its merge fields replaced by the values
// of that moment.
#include <QLineEdit>
#include <QTextCursor>
#include <QTextDocument>
#include <QMenu>
#include <QPushButton>
#include <QToolButton>

#include <map>

#include "compose/commands/composecommands.h"
#include "compose/cover/merge.h"
#include "compose/cover/startertemplates.h"
#include "compose/richtext/richtextmemo.h"
#include "compose/richtext/trichtext.h"
#include "compose/cover/tcoverbrowse.h"
#include "compose/cover/tcovereditor.h"
#include "compose/editor/tenteredit.h"
#include "compose/editor/tfaxeditor.h"
#include "compose/editors_fixture.h"
#include "support/scriptedprompter.h"

namespace telvane::editortest {
namespace {

class CoverTest : public EditorsTest {
protected:
    void openCovers() {
        xb_.bind(covers_);
        ASSERT_TRUE(records::OpenCoverDBF(dir(), covers_, xb_));
    }
    std::vector<std::string> descriptions() {
        std::vector<std::string> out;
        for (covers_.first(); !covers_.eof(); covers_.next()) out.push_back(covers_.currentRow().text("DESCRIPT"));
        return out;
    }
    // Loads the first template into a fax editor through its "Load Template" button.
    void loadTemplateInto(editor::TFaxEditor& editor) {
        whenModal<cover::TCoverBrowse>([](cover::TCoverBrowse* b) {
            EXPECT_TRUE(b->AcceptButton->isVisible());
            EXPECT_FALSE(b->CloseButton->isVisible());
            b->AcceptButton->click();
        });
        editor.LoadCoverButton->click();
    }

    records::RecordSet covers_;
    records::TXbAccess xb_;
};

TEST_F(CoverTest, EditorSetsItsPageOnTheFirstShowOnlyAndKeepsItsPlacement) {
    QRect wanted;
    {
        cover::TCoverEditor editor(dir());
        EXPECT_TRUE(editor.windowFlags() & Qt::WindowMaximizeButtonHint);
        EXPECT_TRUE(editor.windowFlags() & Qt::WindowMinimizeButtonHint);
        EXPECT_TRUE(editor.isSizeGripEnabled());
        editor.RichCover->setPageLayout({5760, 15840, 360, 360, 360, 360});
        editor.show();
        EXPECT_EQ(editor.RichCover->pageLayout().width, 12240);
        EXPECT_EQ(editor.RichCover->pageLayout().marginLeft, 720);
        EXPECT_EQ(editor.activations(), 1);
        editor.hide();
        editor.RichCover->setPageLayout({5760, 15840, 360, 360, 360, 360});
        editor.show();
        EXPECT_EQ(editor.RichCover->pageLayout().width, 5760) << "only the first show sets the page";
        EXPECT_EQ(editor.activations(), 1);
        wanted = QRect(QPoint(5, 6), editor.minimumSizeHint().expandedTo(QSize(600, 450)));
        editor.setGeometry(wanted);
        editor.reject();
        EXPECT_EQ(editor.result(), 2);
    }
    cover::TCoverEditor again(dir());
    EXPECT_EQ(again.geometry(), wanted);
}

// Cancelling a template with typed text asks before the text is thrown away.
TEST_F(CoverTest, CancellingAChangedTemplateAsksToSave) {
    cover::TCoverEditor editor(dir());
    editor.show();
    editor.RichCover->insertPlainText("Cover for ");
    prompts().choices = {app::Prompter::AnswerCancel, app::Prompter::AnswerNo};
    editor.CancelButton->click();
    ASSERT_EQ(prompts().count(PromptRecord::YesNoCancel), 1);
    EXPECT_EQ(prompts().records.back().text, "Save changes?");
    EXPECT_TRUE(editor.isVisible());
    editor.CancelButton->click();
    EXPECT_EQ(prompts().count(PromptRecord::YesNoCancel), 2);
    EXPECT_FALSE(editor.isVisible());
    EXPECT_EQ(editor.result(), 2);
}

TEST_F(CoverTest, InsertMenuInsertsTheFiveMergeFieldsWithTheirTags) {
    cover::TCoverEditor editor(dir());
    ASSERT_EQ(editor.InsertMenu->actions().size(), 5);
    for (QAction* item : editor.InsertMenu->actions()) item->trigger();
    const std::vector<richtext::InsertPointInfo> points = editor.RichCover->insertPoints();
    ASSERT_EQ(points.size(), 5u);
    const QString placeholders[] = {"[RECIPIENT]", "[FAX#]", "[SUBJECT]", "[DATE]", "[TIME]"};
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(points[i].tag, i + 1);
        EXPECT_EQ(points[i].text, placeholders[i]);
    }
    EXPECT_TRUE(editor.insertItemClick("fax &number"));
    EXPECT_EQ(editor.RichCover->insertPoints().back().tag, 2);
    EXPECT_EQ(editor.RichCover->insertPoints().back().text, "[FAX#]");
    EXPECT_FALSE(editor.insertItemClick("Weather"));
    EXPECT_EQ(editor.RichCover->insertPoints().size(), 6u);
}

TEST_F(CoverTest, MergeValuesAreCutToOneHundredAndUnknownTagsHaveNone) {
    cover::MergeSource source;
    source.recipient = QString(150, 'x');
    source.now = QDateTime(QDate(2026, 3, 4), QTime(13, 5, 9));
    EXPECT_EQ(cover::mergeValue(1, source), QString(100, 'x'));
    EXPECT_TRUE(cover::mergeValue(2, source).isEmpty());
    EXPECT_FALSE(cover::mergeValue(2, source).isNull()) << "an empty field is an answer";
    EXPECT_TRUE(cover::mergeValue(0, source).isNull());
    EXPECT_TRUE(cover::mergeValue(6, source).isNull());
    EXPECT_EQ(cover::mergeValue(4, source), QLocale::system().toString(QDate(2026, 3, 4), QLocale::ShortFormat));
    const QString time = cover::mergeValue(5, source);
    EXPECT_TRUE(time.contains("05")) << time.toStdString();
    EXPECT_TRUE(time.contains("09")) << "the long format carries seconds: " << time.toStdString();
}

TEST_F(CoverTest, BrowserCreatesClonesEditsAndDeletesTemplates) {
    openCovers();
    cover::TCoverBrowse browse(covers_, xb_, dir());

    whenModal<cover::TCoverEditor>([](cover::TCoverEditor* e) {
        EXPECT_EQ(e->CoverDescription->text(), "");
        EXPECT_TRUE(e->RichCover->text().isEmpty());
        e->CoverDescription->setText("Letterhead");
        e->RichCover->insertPlainText("To ");
        e->insertItemClick("Recipient");
        e->AcceptButton->click();
    });
    browse.newButtonClick();
    EXPECT_EQ(descriptions(), std::vector<std::string>{"Letterhead"});

    covers_.first();
    whenModal<cover::TCoverEditor>([](cover::TCoverEditor* e) {
        EXPECT_EQ(e->CoverDescription->text(), "[clone]Letterhead");
        ASSERT_EQ(e->RichCover->insertPoints().size(), 1u);
        EXPECT_EQ(e->RichCover->insertPoints()[0].text, "[RECIPIENT]");
        e->AcceptButton->click();
    });
    browse.cloneButtonClick();
    // The next New starts empty again.
    whenModal<cover::TCoverEditor>([](cover::TCoverEditor* e) {
        EXPECT_EQ(e->CoverDescription->text(), "");
        EXPECT_TRUE(e->RichCover->text().isEmpty());
        e->CancelButton->click();
    });
    browse.newButtonClick();
    EXPECT_EQ(descriptions(), (std::vector<std::string>{"Letterhead", "[clone]Letterhead"}));

    // Edit the clone: a long description is kept to 35 characters.
    covers_.first();
    covers_.next();
    whenModal<cover::TCoverEditor>([](cover::TCoverEditor* e) {
        EXPECT_EQ(e->CoverDescription->text(), "[clone]Letterhead");
        e->CoverDescription->setText(QString("Zed template ").repeated(4));
        e->AcceptButton->click();
    });
    browse.modifyButtonClick();
    const std::vector<std::string> afterEdit = descriptions();
    ASSERT_EQ(afterEdit.size(), 2u);
    EXPECT_EQ(afterEdit[1], QString("Zed template ").repeated(4).left(35).trimmed().toStdString());

    // Delete asks with No as the default; No keeps the template.
    covers_.first();
    browse.DeleteButtonClick();
    ASSERT_EQ(prompts().records.size(), 1);
    EXPECT_EQ(prompts().records[0].kind, PromptRecord::YesNoDefaultNo);
    EXPECT_EQ(prompts().records[0].text, "Delete the current cover template?:\rLetterhead");
    EXPECT_EQ(prompts().records[0].caption, "Delete");
    EXPECT_EQ(descriptions().size(), 2u);
    covers_.first();
    prompts().answers = {true};
    browse.DeleteButtonClick();
    EXPECT_EQ(descriptions().size(), 1u);
}

TEST_F(CoverTest, ActingOnAnEmptyTableOnlyBeeps) {
    openCovers();
    cover::TCoverBrowse browse(covers_, xb_, dir());
    browse.setPickMode(true);
    browse.show();
    // Nothing to act on: only New is offered.
    EXPECT_TRUE(browse.NewButton->isEnabled());
    for (QPushButton* b : {browse.ModifyButton, browse.CloneButton, browse.DeleteButton, browse.AcceptButton})
        EXPECT_FALSE(b->isEnabled()) << b->objectName().toStdString();
    browse.modifyButtonClick();
    browse.cloneButtonClick();
    browse.DeleteButtonClick();
    browse.acceptButtonClick();
    EXPECT_EQ(prompts().count(PromptRecord::Beep), 4);
    EXPECT_EQ(prompts().count(PromptRecord::YesNoDefaultNo), 0);
    EXPECT_EQ(browse.result(), 0) << "Accept without a template does not close the browser";
    EXPECT_EQ(covers_.recCount(), 0u);

    whenModal<cover::TCoverEditor>([](cover::TCoverEditor* e) {
        e->CoverDescription->setText("First");
        e->AcceptButton->click();
    });
    browse.newButtonClick();
    for (QPushButton* b : {browse.ModifyButton, browse.CloneButton, browse.DeleteButton, browse.AcceptButton})
        EXPECT_TRUE(b->isEnabled()) << b->objectName().toStdString();
    covers_.first();
    prompts().answers = {true};
    browse.DeleteButtonClick();
    EXPECT_TRUE(descriptions().empty());
    EXPECT_FALSE(browse.ModifyButton->isEnabled());
}

// In every starter template the merge fields' values start at one column, whatever the length
// of their labels ("Subject:" is shorter than "Fax number:" and longer than "To:").
TEST_F(CoverTest, StarterTemplateValuesStartAtOneColumn) {
    xb_.bind(covers_);
    ASSERT_TRUE(cover::openCoverTemplates(dir(), covers_, xb_));
    int templates = 0;
    for (covers_.first(); !covers_.eof(); covers_.next(), ++templates) {
        richtext::TRichText rich;
        rich.resize(900, 700);
        rich.show();
        ASSERT_TRUE(LoadRichText(rich, "COVER", xb_, dir()));
        std::map<int, QString> columns;
        for (const char* field : {"[RECIPIENT]", "[FAX#]", "[SUBJECT]", "[DATE]", "[TIME]"}) {
            QTextCursor at = rich.document()->find(QString::fromLatin1(field));
            if (at.isNull()) continue;
            at.setPosition(at.selectionStart());
            columns[rich.cursorRect(at).left()] += QString::fromLatin1(field);
        }
        EXPECT_EQ(columns.size(), 1u) << templates << ": " << columns.begin()->second.toStdString() << " at "
                                      << columns.begin()->first;
    }
    EXPECT_EQ(templates, 3);
    covers_.close();
}

// A fresh data directory offers the starter templates, each with its merge fields; a table that
// exists, even an emptied one, is left as the user made it.
TEST_F(CoverTest, StarterTemplatesAreOfferedOnAFreshDataDirectoryOnly) {
    xb_.bind(covers_);
    ASSERT_TRUE(cover::openCoverTemplates(dir(), covers_, xb_));
    EXPECT_EQ(descriptions(), (std::vector<std::string>{"Business", "Personal", "Urgent"}));
    EXPECT_EQ(cover::starterCoverDescriptions(), (QStringList{"Business", "Personal", "Urgent"}));
    covers_.close();

    editor::TFaxEditor editor(dir());
    editor.show();
    editor.Recipient->setText("Jones & Co");
    editor.FaxNumber->setText("555-0123");
    editor.Subject->setText("Your order");
    whenModal<cover::TCoverBrowse>([](cover::TCoverBrowse* b) {
        b->CoverGrid->setFocus();
        b->AcceptButton->click();  // the first in description order: "Business"
    });
    editor.LoadCoverButton->click();
    const QString text = editor.RichCover->text();
    EXPECT_TRUE(text.startsWith("FAX\n")) << text.toStdString();
    for (const char* value : {"To:", "Jones & Co", "555-0123", "Your order"})
        EXPECT_TRUE(text.contains(value)) << value << " in " << text.toStdString();
    for (const char* placeholder : {"[RECIPIENT]", "[FAX#]", "[SUBJECT]", "[DATE]"})
        EXPECT_FALSE(text.contains(placeholder)) << text.toStdString();
    EXPECT_EQ(editor.RichCover->insertPoints().size(), 4u);

    // Every starter holds the fields a cover needs; the urgent one the time as well.
    openCovers();
    std::vector<size_t> fields;
    for (covers_.first(); !covers_.eof(); covers_.next()) {
        richtext::TRichText rich;
        ASSERT_TRUE(richtext::LoadRichText(rich, "COVER", xb_, dir()));
        fields.push_back(rich.insertPoints().size());
    }
    EXPECT_EQ(fields, (std::vector<size_t>{4, 4, 5}));

    prompts().defaultAnswer = true;
    {
        cover::TCoverBrowse browse(covers_, xb_, dir());
        for (int i = 0; i < 3; ++i) {
            covers_.first();
            browse.DeleteButtonClick();
        }
    }
    covers_.close();
    ASSERT_TRUE(cover::openCoverTemplates(dir(), covers_, xb_));
    EXPECT_TRUE(descriptions().empty());
}

TEST_F(CoverTest, LoadedTemplateShowsTheValuesNotThePlaceholders) {
    addTemplate("All fields", writeAllFields);
    editor::TFaxEditor editor(dir());
    editor.show();
    editor.Recipient->setText("Jones & Co");
    editor.FaxNumber->setText("555-0123");
    editor.Subject->setText("Your order");
    const QDateTime before = QDateTime::currentDateTime();
    loadTemplateInto(editor);
    const QDateTime after = QDateTime::currentDateTime();

    const QString text = editor.RichCover->text();
    for (const char* placeholder : {"[RECIPIENT]", "[FAX#]", "[SUBJECT]", "[DATE]", "[TIME]"})
        EXPECT_FALSE(text.contains(placeholder)) << text.toStdString();
    EXPECT_FALSE(text.contains('*')) << "markers are hidden after the merge";
    const std::vector<richtext::InsertPointInfo> points = editor.RichCover->insertPoints();
    ASSERT_EQ(points.size(), 5u);
    EXPECT_EQ(points[0].text, "Jones & Co");
    EXPECT_EQ(points[1].text, "555-0123");
    EXPECT_EQ(points[2].text, "Your order");
    EXPECT_TRUE(points[3].text == cover::mergeDateText(before.date()) ||
                points[3].text == cover::mergeDateText(after.date()));
    bool timeMatches = false;
    for (QDateTime t = before.addSecs(-1); t <= after.addSecs(1) && !timeMatches; t = t.addSecs(1))
        timeMatches = points[4].text == cover::mergeTimeText(t.time());
    EXPECT_TRUE(timeMatches) << points[4].text.toStdString();
    EXPECT_TRUE(text.startsWith("Dear Jones & Co at 555-0123, re Your order, on ")) << text.toStdString();
    for (const richtext::InsertPointInfo& p : points) EXPECT_TRUE(p.markerHidden);
    // Loading is a return from the editor's own window.
    EXPECT_EQ(editor.currentPage(), editor::TFaxEditor::RecipientPage);
    // Later changes to the fields do not touch the loaded cover sheet.
    editor.Recipient->setText("Someone else");
    EXPECT_EQ(editor.RichCover->insertPoints()[0].text, "Jones & Co");
}

TEST_F(CoverTest, MergedCoverSurvivesSavingAndReopeningTheFax) {
    addTemplate("All fields", writeAllFields);
    records::RecordSet fax;
    records::TXbAccess faxXb(fax);
    ASSERT_TRUE(records::OpenFaxDBF(dir(), fax, faxXb));
    whenModal<editor::TFaxEditor>([this](editor::TFaxEditor* e) {
        e->Recipient->setText("Smith");
        e->FaxNumber->setText("555-0456");
        e->Subject->setText("Invoice");
        loadTemplateInto(*e);
        e->OKButton->click();
    });
    ASSERT_TRUE(composecommands::newFax(fax, faxXb, dir(), false));
    fax.first();
    const std::string rtf = fax.currentRow().memo("RTFCOVER");
    EXPECT_EQ(rtf.find("[RECIPIENT]"), std::string::npos);
    EXPECT_NE(rtf.find("Smith"), std::string::npos);

    QString reopened;
    std::vector<richtext::InsertPointInfo> points;
    whenModal<editor::TFaxEditor>([&](editor::TFaxEditor* e) {
        reopened = e->RichCover->text();
        points = e->RichCover->insertPoints();
        e->CancelButton->click();
    });
    composecommands::editFax(fax, faxXb, dir());
    EXPECT_TRUE(reopened.startsWith("Dear Smith at 555-0456, re Invoice, on ")) << reopened.toStdString();
    EXPECT_FALSE(reopened.contains('*'));
    ASSERT_EQ(points.size(), 5u);
    EXPECT_EQ(points[0].text, "Smith");
    fax.close();
}

TEST_F(CoverTest, TemplateWithoutInsertPointsIsCopiedUnchanged) {
    addTemplate("Plain", [](richtext::TRichText& t) {
        t.setInputAttributes({QStringLiteral("Liberation Serif"), 16, richtext::kStyleBold});
        t.insertPlainText("Plain cover text");
        t.textCursor().insertBlock();
        t.setInputAttributes({QStringLiteral("Liberation Sans"), 10, richtext::kStyleItalic});
        t.insertPlainText("Second line");
    });
    richtext::TRichText reference;
    {
        openCovers();
        covers_.first();
        ASSERT_TRUE(richtext::LoadRichText(reference, "COVER", xb_, dir()));
        covers_.close();
    }
    editor::TFaxEditor editor(dir());
    editor.show();
    editor.RichCover->insertPlainText("Earlier cover text");
    loadTemplateInto(editor);
    EXPECT_EQ(editor.RichCover->text(), "Plain cover text\nSecond line");
    EXPECT_EQ(editor.RichCover->rtf(), reference.rtf());
}

TEST_F(CoverTest, CancelledPickAndUnansweredTagsLeaveWhatTheyShould) {
    addTemplate("Odd tag", [](richtext::TRichText& t) {
        t.insertPlainText("Ref: ");
        ASSERT_TRUE(t.insertInsertPoint(7, "[OTHER]"));
        t.insertPlainText(" end");
    });
    editor::TFaxEditor editor(dir());
    editor.show();
    editor.RichCover->insertPlainText("My own cover");

    whenModal<cover::TCoverBrowse>([](cover::TCoverBrowse* b) { b->CancelButton->click(); });
    editor.LoadCoverButton->click();
    EXPECT_EQ(editor.RichCover->text(), "My own cover");

    loadTemplateInto(editor);
    EXPECT_EQ(editor.RichCover->text(), "Ref:  end");
    ASSERT_EQ(editor.RichCover->insertPoints().size(), 1u);
    EXPECT_TRUE(editor.RichCover->insertPoints()[0].text.isEmpty());
}

}  // namespace
}  // namespace telvane::editortest
