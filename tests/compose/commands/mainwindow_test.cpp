// A newcomer's session through the main window with the composing hooks installed: two phone-book
// entries, a cover template with merge fields, a fax that uses both, then the program closed and
// started again, and the fax opened for editing and cloned. With TELVANE_SCREENSHOT_DIR set, the
// windows met on the way are saved there as PNGs. A fax opened with documents handed over renders
// their pages from the log.
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QPushButton>
#include <QToolButton>

#include "compose/commands/composehooks.h"
#include "compose/cover/tcoverbrowse.h"
#include "compose/cover/tcovereditor.h"
#include "compose/editor/tenteredit.h"
#include "compose/editor/tfaxeditor.h"
#include "compose/phonebook/tphonebook.h"
#include "compose/phonebook/tphonebookeditor.h"
#include "compose/editors_fixture.h"
#include "compose/render/faxdocuments.h"
#include "compose/render/renderutil.h"
#include "app/printjobs.h"
#include "records/fax_tables.h"
#include "settings/inifile.h"
#include "shell/mainscreen.h"

namespace telvane::editortest {
namespace {

void shot(QWidget* window, const QString& name) {
    const QString dir = qEnvironmentVariable("TELVANE_SCREENSHOT_DIR");
    if (!dir.isEmpty()) window->grab().save(dir + QLatin1Char('/') + name + QStringLiteral(".png"));
}

class MainWindowTest : public EditorsTest {
protected:
    void SetUp() override {
        EditorsTest::SetUp();
        app::firstRunSetupPending() = false;
        commands_ = app::MainWindowCommands{};
        composecommands::addComposeCommands(commands_);
        // A port is set and both logs carry every tag, so start-up asks nothing.
        settings::IniFile ini;
        ini.writeInteger("Modem", "ComPort", 0);
        ini.save(dir() + "TVN.INI");
        rebuildLogs(dir());
    }
    void TearDown() override {
        stop();
        commands_ = app::MainWindowCommands{};
        app::setMainWindow(nullptr);
    }

    shell::TMainScreen& start() {
        window_ = std::make_unique<shell::TMainScreen>(commands_);
        app::setMainWindow(window_.get());
        window_->show();
        for (int i = 0; i < 1000 && window_->firstActivationPending(); ++i)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        return *window_;
    }
    void stop() {
        if (window_) window_->close();
        window_.reset();
    }

    // A file `name` holding `bytes` in `where`; its path.
    static QString fileWith(const QTemporaryDir& where, const QString& name, const QByteArray& bytes) {
        const QString path = where.filePath(name);
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
        return path;
    }
    // Lets events run until the fax editor has added the documents handed to it.
    static bool settled(editor::TFaxEditor* e) {
        return test::waitUntil([e] { return !e->addingDocuments(); }, 120);
    }

    app::MainWindowCommands commands_;
    std::unique_ptr<shell::TMainScreen> window_;
};

void addEntry(phonebook::TPhoneBook* book, const QString& name, const QString& number) {
    whenModal<phonebook::TPhoneBookEditor>([=](phonebook::TPhoneBookEditor* e) {
        e->Name->setText(name);
        e->Number->setText(number);
        shot(e, "phone-book-editor");
        e->AcceptButton->click();
    });
    book->NewButton->click();
}

TEST_F(MainWindowTest, NewcomerComposesAFaxFromPhoneBookAndTemplateAndFindsItAfterARestart) {
    shell::TMainScreen& main = start();
    EXPECT_EQ(main.FaxTable().visibleCount(), 0u);

    whenModal<phonebook::TPhoneBook>([](phonebook::TPhoneBook* book) {
        addEntry(book, "smith", "555-0200");
        addEntry(book, "Jones & Co", "555-0100");
        shot(book, "phone-book");
        book->CloseButton->click();
    });
    main.mnuPhoneBookClick();

    whenModal<cover::TCoverBrowse>([](cover::TCoverBrowse* browse) {
        // A newcomer finds the starter templates.
        EXPECT_EQ(browse->CoverGrid->model()->rowCount(), 3);
        whenModal<cover::TCoverEditor>([](cover::TCoverEditor* e) {
            e->CoverDescription->setText("Standard cover");
            e->RichCover->insertPlainText("FAX to ");
            e->insertItemClick("Recipient");
            e->RichCover->insertPlainText(" (");
            e->insertItemClick("Fax Number");
            e->RichCover->insertPlainText(")\rSubject: ");
            e->insertItemClick("Subject");
            e->RichCover->insertPlainText("\rSent ");
            e->insertItemClick("Date");
            e->RichCover->insertPlainText(" ");
            e->insertItemClick("Time");
            shot(e, "cover-editor");
            e->AcceptButton->click();
        });
        browse->NewButton->click();
        shot(browse, "cover-browser");
        browse->CloseButton->click();
    });
    main.mnuCoverClick();

    whenModal<editor::TFaxEditor>([](editor::TFaxEditor* e) {
        e->Subject->setText("Price list");
        whenModal<phonebook::TPhoneBook>([](phonebook::TPhoneBook* book) {
            book->PhoneTable().first();  // "Jones & Co" comes before "smith"
            book->AcceptButton->click();
        });
        e->AddressButton->click();
        whenModal<cover::TCoverBrowse>([](cover::TCoverBrowse* browse) {
            // "Business", "Personal", "Standard cover", "Urgent": the one made above.
            QAbstractItemModel* model = browse->CoverGrid->model();
            ASSERT_EQ(model->index(2, 0).data().toString(), "Standard cover");
            browse->CoverGrid->setCurrentIndex(model->index(2, 0));
            browse->AcceptButton->click();
        });
        e->LoadCoverButton->click();
        e->DocumentButton->click();
        e->RichDoc->insertPlainText("Please find our new prices below.");
        shot(e, "fax-editor-document");
        e->CoverButton->click();
        shot(e, "fax-editor-cover");
        e->OKButton->click();
    });
    main.NewbuttonClick();
    ASSERT_EQ(main.FaxTable().visibleCount(), 1u);
    shot(&main, "main-window");
    stop();

    shell::TMainScreen& again = start();
    ASSERT_EQ(again.FaxTable().visibleCount(), 1u);
    again.FaxTable().first();
    EXPECT_EQ(again.FaxTable().currentRow().text("RECIPIENT"), "Jones & Co");
    EXPECT_EQ(again.FaxTable().currentRow().text("PHONE"), "555-0100");
    EXPECT_EQ(again.FaxTable().currentRow().text("SUBJECT"), "Price list");

    QString cover, doc;
    whenModal<editor::TFaxEditor>([&](editor::TFaxEditor* e) {
        cover = e->RichCover->text();
        doc = e->RichDoc->text();
        e->CancelButton->click();
    });
    again.EditButtonClick();
    EXPECT_TRUE(cover.startsWith("FAX to Jones & Co (555-0100)\nSubject: Price list\nSent ")) << cover.toStdString();
    EXPECT_EQ(doc, "Please find our new prices below.");

    whenModal<editor::TFaxEditor>([](editor::TFaxEditor* e) {
        EXPECT_EQ(e->Subject->text(), "[clone]Price list");
        e->OKButton->click();
    });
    again.mnuCloneClick();
    EXPECT_EQ(again.FaxTable().visibleCount(), 2u);
    EXPECT_FALSE(again.cloneRequested());
}

// The entry point for documents handed over (a printed job): the main window's command opens a new
// fax with them attached; once accepted, the outgoing fax renders their pages as Send and View do,
// and the files handed over may go.
TEST_F(MainWindowTest, FaxOpenedWithDocumentsRendersTheirPagesFromTheLog) {
    shell::TMainScreen& main = start();
    rendertest::putBuiltProgramsOnPath();
    QTemporaryDir outside;
    const QString job = fileWith(outside, QStringLiteral("job.txt"), QByteArray("A printed line\n").repeated(100));

    QString recipient = QStringLiteral("unset");
    whenModal<editor::TFaxEditor>([&](editor::TFaxEditor* e) {
        recipient = e->Recipient->text();
        EXPECT_TRUE(settled(e));
        EXPECT_EQ(e->documents().size(), 1u);
        e->AttachmentsButton->click();
        shot(e, "fax-editor-attachments");
        e->OKButton->click();
    });
    ASSERT_TRUE(commands_.newFaxWithDocuments(main, {job}));
    EXPECT_TRUE(recipient.isEmpty());
    ASSERT_TRUE(QFile::remove(job));
    ASSERT_EQ(main.FaxTable().visibleCount(), 1u);

    const QString file = main.CreateFaxFile();
    ASSERT_FALSE(file.isEmpty());
    EXPECT_FALSE(main.renderedFaxWasEmpty());
    EXPECT_EQ(main.renderedPageCount(), 2);
    QFile::remove(file);
}

// Documents dropped from the log: deleting a fax, and a clean-up that deleted faxes, remove the
// copies of its documents that no fax names any more.
TEST_F(MainWindowTest, DeletingOrCleaningUpFaxesRemovesTheirDocumentCopies) {
    bool cleanedUp = false;
    commands_.faxLogCleanup = [&cleanedUp](app::IMainWindow& m) {
        m.FaxTable().first();
        m.FaxTable().deleteRecord();
        cleanedUp = true;
        return true;
    };
    shell::TMainScreen& main = start();
    rendertest::putBuiltProgramsOnPath();
    QTemporaryDir outside;
    const QString job = fileWith(outside, QStringLiteral("job.txt"), "A printed line\n");
    const auto copies = [this] {
        return QDir(QString::fromStdString(render::documentsDir(dir()))).entryList(QDir::Files).size();
    };
    for (const bool cleanUp : {false, true}) {
        whenModal<editor::TFaxEditor>([](editor::TFaxEditor* e) {
            EXPECT_TRUE(settled(e));
            e->FaxNumber->setText("555-0100");
            e->OKButton->click();
        });
        ASSERT_TRUE(commands_.newFaxWithDocuments(main, {job}));
        ASSERT_EQ(copies(), 1) << cleanUp;
        prompts().answers = {true};
        if (cleanUp)
            main.FaxlogCleanup1Click();
        else
            main.DeleteButtonClick();
        EXPECT_EQ(main.FaxTable().visibleCount(), 0u) << cleanUp;
        EXPECT_EQ(copies(), 0) << cleanUp;
    }
    EXPECT_TRUE(cleanedUp);
}

// A printed job opens its fax over the outgoing log, where the saved fax then stands ready: the
// log's commands are enabled for it as after New.
TEST_F(MainWindowTest, APrintedJobBecomesAFaxReadyInTheOutgoingLog) {
    shell::TMainScreen& main = start();
    rendertest::putBuiltProgramsOnPath();
    main.selectPage(app::IMainWindow::kIncomingPage);
    QTemporaryDir spool;
    const QString job = fileWith(spool, QStringLiteral("job-2-memo.ps"),
                                 "%!PS\n/Helvetica findfont 24 scalefont setfont 72 700 moveto (Memo) show showpage\n");
    int pageShown = -1;
    whenModal<editor::TFaxEditor>([&](editor::TFaxEditor* e) {
        pageShown = main.currentPage();
        EXPECT_TRUE(settled(e));
        EXPECT_EQ(e->documents().size(), 1u);
        e->FaxNumber->setText("555-0100");
        e->OKButton->click();
    });
    EXPECT_EQ(offerPrintJobAsNewFax(main, commands_, job), app::PrintJobQueue::Outcome::Done);
    EXPECT_EQ(pageShown, int(app::IMainWindow::kOutgoingPage));
    EXPECT_EQ(main.FaxTable().visibleCount(), 1u);
    QStringList disabled;
    for (const char* name : {"EditButton", "DeleteButton", "SendButton", "ViewFaxButton", "Printbutton"})
        if (!main.button(name)->isEnabled()) disabled << name;
    EXPECT_EQ(disabled.join('|').toStdString(), "");
}

// A printed job whose document cannot be read is not removed from the spool when the user saves
// the fax without it: they are asked, and No keeps the job.
TEST_F(MainWindowTest, APrintedJobThatCannotBeAttachedIsKeptWhenItsFaxIsSaved) {
    shell::TMainScreen& main = start();
    rendertest::putBuiltProgramsOnPath();
    QTemporaryDir spool;
    const QString job =
        fileWith(spool, QStringLiteral("job-1.pdf"), "%PDF-1.4\ncut short by a failing printer driver\n");
    whenModal<editor::TFaxEditor>([](editor::TFaxEditor* e) {
        EXPECT_TRUE(settled(e));
        EXPECT_TRUE(e->documents().empty());
        e->FaxNumber->setText("555-0100");
        e->RichDoc->insertPlainText("Cover note");
        e->OKButton->click();
    });
    prompts().answers = {false};
    EXPECT_EQ(offerPrintJobAsNewFax(main, commands_, job), app::PrintJobQueue::Outcome::Keep);
    EXPECT_EQ(main.FaxTable().visibleCount(), 1u);
    ASSERT_EQ(prompts().texts().size(), 2) << prompts().texts().join('|').toStdString();
    EXPECT_TRUE(prompts().texts()[0].contains("\"job-1.pdf\"")) << prompts().texts()[0].toStdString();
    EXPECT_TRUE(prompts().texts()[1].contains("Discard")) << prompts().texts()[1].toStdString();
}

}  // namespace
}  // namespace telvane::editortest
