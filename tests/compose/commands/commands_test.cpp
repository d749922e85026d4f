// The main window's composing commands: New, Clone and Edit of an outgoing fax write the record
// only on Accept and carry all five parts; Cover Sheets and Phone Book open their browsers.
#include <QDir>
#include <QFile>
#include <QPushButton>

#include <algorithm>

#include "compose/commands/composecommands.h"
#include "compose/cover/tcoverbrowse.h"
#include "compose/editor/tenteredit.h"
#include "compose/editor/tfaxeditor.h"
#include "compose/phonebook/tphonebook.h"
#include "compose/editors_fixture.h"
#include "support/scriptedprompter.h"

namespace telvane::editortest {
namespace {

class CommandsTest : public EditorsTest {
protected:
    void SetUp() override {
        EditorsTest::SetUp();
        xb_.bind(fax_);
        ASSERT_TRUE(records::OpenFaxDBF(dir(), fax_, xb_));
    }
    void TearDown() override { fax_.close(); }

    // Writes a fax through New.
    void newFax(const QString& recipient, const QString& number, const QString& subject, const QString& cover,
                const QString& doc) {
        whenModal<editor::TFaxEditor>([=](editor::TFaxEditor* e) {
            e->Recipient->setText(recipient);
            e->FaxNumber->setText(number);
            e->Subject->setText(subject);
            e->RichCover->insertPlainText(cover);
            e->RichDoc->insertPlainText(doc);
            e->OKButton->click();
        });
        ASSERT_TRUE(telvane::composecommands::newFax(fax_, xb_, dir(), false));
    }

    std::string field(const char* name) { return fax_.currentRow().text(name); }
    std::string memo(const char* name) { return fax_.currentRow().memo(name); }

    records::RecordSet fax_;
    records::TXbAccess xb_;
};

TEST_F(CommandsTest, NewFaxStoresRecipientNumberSubjectAndBothRichTextParts) {
    newFax("Jones & Co", "555-0199", "Quarterly figures", "Cover words", "Document words");
    ASSERT_EQ(fax_.visibleCount(), 1u);
    fax_.first();
    EXPECT_EQ(field("RECIPIENT"), "Jones & Co");
    EXPECT_EQ(field("PHONE"), "555-0199");
    EXPECT_EQ(field("SUBJECT"), "Quarterly figures");
    EXPECT_FALSE(fax_.currentRow().boolean("SENT"));
    const std::string cover = memo("RTFCOVER");
    const std::string doc = memo("RTFDOC");
    EXPECT_EQ(cover.rfind("{\\rtf", 0), 0u);
    EXPECT_NE(cover.find("Cover words"), std::string::npos);
    EXPECT_EQ(cover.find("Document words"), std::string::npos);
    EXPECT_NE(doc.find("Document words"), std::string::npos);
}

TEST_F(CommandsTest, NewFaxAppliesTheDefaultFontToBothEmptyParts) {
    app::appSettings().DefaultFont.Name = "DejaVu Sans";
    app::appSettings().DefaultFont.Size = 14;
    app::appSettings().DefaultFont.Bold = true;
    richtext::TextAttributes cover, doc;
    whenModal<editor::TFaxEditor>([&](editor::TFaxEditor* e) {
        cover = e->RichCover->currentAttributes();
        doc = e->RichDoc->currentAttributes();
        e->RichDoc->insertPlainText("Typed");
        e->OKButton->click();
    });
    ASSERT_TRUE(telvane::composecommands::newFax(fax_, xb_, dir(), false));
    for (const richtext::TextAttributes& a : {cover, doc}) {
        EXPECT_EQ(a.name, "DejaVu Sans");
        EXPECT_EQ(a.size, 14);
        EXPECT_EQ(a.style, richtext::kStyleBold);
    }
    const std::string rtf = memo("RTFDOC");
    EXPECT_NE(rtf.find("DejaVu Sans"), std::string::npos);
    EXPECT_NE(rtf.find("\\fs28"), std::string::npos);
}

TEST_F(CommandsTest, CancelStoresNothing) {
    whenModal<editor::TFaxEditor>([](editor::TFaxEditor* e) {
        e->Recipient->setText("Nobody");
        e->RichDoc->insertPlainText("Lost on purpose");
        e->CancelButton->click();
    });
    EXPECT_FALSE(telvane::composecommands::newFax(fax_, xb_, dir(), false));
    EXPECT_EQ(fax_.recCount(), 0u);

    newFax("Kept", "1", "S", "", "Body");
    whenModal<editor::TFaxEditor>([](editor::TFaxEditor* e) {
        e->Recipient->setText("Changed");
        e->CancelButton->click();
    });
    EXPECT_FALSE(composecommands::editFax(fax_, xb_, dir()));
    EXPECT_EQ(fax_.recCount(), 1u);
    EXPECT_EQ(field("RECIPIENT"), "Kept");
}

TEST_F(CommandsTest, AFailedWriteLeavesNoRecordAndReopensTheEditorWithTheFax) {
    // A directory in place of the transfer file makes storing the rich text fail.
    ASSERT_TRUE(QDir().mkpath(QString::fromStdString(dir()) + records::kMemoTransferFile));
    QString reshownRecipient, reshownDoc;
    whenModal<editor::TFaxEditor>([&](editor::TFaxEditor* e) {
        e->Recipient->setText("Jones");
        e->RichDoc->insertPlainText("Typed with care");
        whenModal<editor::TFaxEditor>([&](editor::TFaxEditor* again) {
            reshownRecipient = again->Recipient->text();
            reshownDoc = again->RichDoc->text();
            again->CancelButton->click();
        });
        e->OKButton->click();
    });
    EXPECT_FALSE(telvane::composecommands::newFax(fax_, xb_, dir(), false));
    EXPECT_EQ(fax_.recCount(), 0u) << "no half-written record is left";
    ASSERT_EQ(prompts().count(PromptRecord::Information), 1);
    EXPECT_TRUE(prompts().records[0].text.startsWith("The fax could not be saved."))
        << prompts().records[0].text.toStdString();
    EXPECT_EQ(reshownRecipient, "Jones");
    EXPECT_EQ(reshownDoc, "Typed with care");
}

TEST_F(CommandsTest, CloneCopiesTheFaxAndMarksTheSubject) {
    newFax("Jones", "555-0100", "Order", "Cover page", "Body of the order");
    fax_.first();
    QString recipient, number, subject, cover, doc;
    whenModal<editor::TFaxEditor>([&](editor::TFaxEditor* e) {
        recipient = e->Recipient->text();
        number = e->FaxNumber->text();
        subject = e->Subject->text();
        cover = e->RichCover->text();
        doc = e->RichDoc->text();
        e->OKButton->click();
    });
    ASSERT_TRUE(telvane::composecommands::newFax(fax_, xb_, dir(), true));
    EXPECT_EQ(recipient, "Jones");
    EXPECT_EQ(number, "555-0100");
    EXPECT_EQ(subject, "[clone]Order");
    EXPECT_EQ(cover, "Cover page");
    EXPECT_EQ(doc, "Body of the order");
    EXPECT_EQ(fax_.visibleCount(), 2u);

    int clones = 0;
    for (fax_.first(); !fax_.eof(); fax_.next()) {
        if (field("SUBJECT") != "[clone]Order") continue;
        ++clones;
        EXPECT_NE(memo("RTFDOC").find("Body of the order"), std::string::npos);
        EXPECT_NE(memo("RTFCOVER").find("Cover page"), std::string::npos);
    }
    EXPECT_EQ(clones, 1);
}

TEST_F(CommandsTest, CloneOfAFiftyCharacterSubjectKeepsTheFirstFifty) {
    const QString subject = QString("S").repeated(45) + "12345";
    newFax("R", "1", subject, "", "");
    fax_.first();
    whenModal<editor::TFaxEditor>([](editor::TFaxEditor* e) { e->OKButton->click(); });
    ASSERT_TRUE(telvane::composecommands::newFax(fax_, xb_, dir(), true));
    std::vector<std::string> subjects;
    for (fax_.first(); !fax_.eof(); fax_.next()) subjects.push_back(field("SUBJECT"));
    const std::string expected = ("[clone]" + subject).left(50).toStdString();
    EXPECT_NE(std::find(subjects.begin(), subjects.end(), expected), subjects.end());
    EXPECT_EQ(expected.substr(0, 7), "[clone]");
}

TEST_F(CommandsTest, EditRewritesTheCurrentFaxOnAccept) {
    newFax("Old name", "111", "Topic", "Old cover", "Old body");
    whenModal<editor::TFaxEditor>([](editor::TFaxEditor* e) {
        EXPECT_EQ(e->Recipient->text(), "Old name");
        EXPECT_EQ(e->RichDoc->text(), "Old body");
        e->Recipient->setText("New name");
        e->RichDoc->moveCursor(QTextCursor::End);
        e->RichDoc->insertPlainText(" and more");
        e->OKButton->click();
    });
    ASSERT_TRUE(composecommands::editFax(fax_, xb_, dir()));
    EXPECT_EQ(fax_.visibleCount(), 1u);
    fax_.first();
    EXPECT_EQ(field("RECIPIENT"), "New name");
    EXPECT_EQ(field("SUBJECT"), "Topic");
    EXPECT_NE(memo("RTFDOC").find("Old body and more"), std::string::npos);
    EXPECT_NE(memo("RTFCOVER").find("Old cover"), std::string::npos);
}

TEST_F(CommandsTest, EditOnAnEmptyLogOnlyBeeps) {
    EXPECT_FALSE(composecommands::editFax(fax_, xb_, dir()));
    EXPECT_EQ(prompts().count(PromptRecord::Beep), 1);
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}

// Closes the browser of type W once it is up, after checking that it came up for maintenance.
template <class W>
void closeMaintenanceBrowser(const QString& title, bool& shown) {
    whenModal<W>([&shown, title](W* b) {
        shown = true;
        EXPECT_EQ(b->windowTitle(), title);
        EXPECT_TRUE(b->CloseButton->isVisible());
        EXPECT_FALSE(b->AcceptButton->isVisible());
        EXPECT_FALSE(b->CancelButton->isVisible());
        b->CloseButton->click();
    });
}

TEST_F(CommandsTest, CoverSheetsAndPhoneBookOpenTheirBrowsersForMaintenance) {
    bool coverShown = false;
    closeMaintenanceBrowser<cover::TCoverBrowse>(QStringLiteral("Cover Sheet Template Browser"), coverShown);
    records::RecordSet covers;
    records::TXbAccess coverXb(covers);
    composecommands::coverSheets(covers, coverXb, dir());
    EXPECT_TRUE(coverShown);
    EXPECT_FALSE(covers.active()) << "the cover table is closed after the browser";
    EXPECT_TRUE(QFile::exists(QString::fromStdString(dir()) + "TVNCOV.DBF"));

    bool bookShown = false;
    closeMaintenanceBrowser<phonebook::TPhoneBook>(QStringLiteral("Phone Book Browser"), bookShown);
    composecommands::phoneBook(dir());
    EXPECT_TRUE(bookShown);
    EXPECT_TRUE(QFile::exists(QString::fromStdString(dir()) + "TVNPB.DBF"));
}

}  // namespace
}  // namespace telvane::editortest
