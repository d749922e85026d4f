// Documents in the fax editor: adding (button path and files dropped from a file manager), order,
// removal, refusal of a file that cannot be read, the preview of the whole fax; and through the composing commands, a new fax
// opened with documents attached, kept with the record (edit, clone) and rendered after the typed
// pages, with the copies of a cancelled fax removed.
#include <QDropEvent>
#include <QImage>
#include <QLabel>
#include <QMimeData>
#include <QPushButton>
#include <QTreeWidget>
#include <QUrl>

#include <unistd.h>

#include <filesystem>
#include <set>
#include <sstream>

#include "compose/commands/composecommands.h"
#include "compose/editor/tenteredit.h"
#include "compose/editor/tfaxeditor.h"
#include "compose/editors_fixture.h"
#include "compose/render/faxrenderer.h"
#include "compose/render/renderutil.h"
#include "faximage/viewer/faxviewer.h"
#include "records/file_io.h"
#include "records/table.h"
#include "records/test_util.h"
#include "support/peers.h"
#include "support/scriptedprompter.h"

namespace telvane::editortest {
namespace {

namespace fs = std::filesystem;

class Attachments : public EditorsTest {
protected:
    void SetUp() override {
        EditorsTest::SetUp();
        rendertest::putBuiltProgramsOnPath();
        ASSERT_TRUE(outside_.isValid());
    }

    // A plain-text file outside the data directory; `lines` lines make about lines / 60 pages.
    QString textFile(const QString& name, int lines = 3) {
        const QString path = outside_.filePath(name);
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        for (int i = 1; i <= lines; ++i) f.write(QByteArray("Line ") + QByteArray::number(i) + "\n");
        return path;
    }

    QString bitmapFile(const QString& name) {
        QImage image(400, 300, QImage::Format_Mono);
        image.fill(1);
        const QString path = outside_.filePath(name);
        EXPECT_TRUE(image.save(path, "BMP"));
        return path;
    }

    static QStringList listed(const editor::TFaxEditor& e) {
        QStringList rows;
        for (int i = 0; i < e.DocumentList->topLevelItemCount(); ++i)
            rows << e.DocumentList->topLevelItem(i)->text(0) + QLatin1Char('/') +
                        e.DocumentList->topLevelItem(i)->text(1);
        return rows;
    }

    // Hands files to the editor and lets events run until it has finished adding them.
    static bool added(editor::TFaxEditor& e, const QStringList& files) {
        e.addDocuments(files);
        return settled(e);
    }
    static bool settled(editor::TFaxEditor& e) {
        return test::waitUntil([&e] { return !e.addingDocuments(); }, 120);
    }

    std::vector<std::string> storedCopies() const {
        std::vector<std::string> names;
        const fs::path d = render::documentsDir(dir());
        if (fs::exists(d))
            for (const auto& entry : fs::directory_iterator(d)) names.push_back(entry.path().filename().string());
        return names;
    }

    QTemporaryDir outside_;
};

TEST_F(Attachments, AddOrderRemoveAndDropInTheEditor) {
    auto editor = std::make_unique<editor::TFaxEditor>(dir());
    editor::TFaxEditor& e = *editor;
    ASSERT_TRUE(added(e, {textFile("one.txt"), textFile("two.txt", 130)}));
    EXPECT_EQ(prompts().count(PromptRecord::Information), 0);
    EXPECT_EQ(listed(e), QStringList({"one.txt/1", "two.txt/3"}));

    // A file that cannot be read is named and left out; the others of the same call are added.
    ASSERT_TRUE(added(e, {outside_.filePath("gone.pdf"), bitmapFile("three.bmp")}));
    ASSERT_EQ(prompts().count(PromptRecord::Information), 1);
    EXPECT_TRUE(prompts().records[0].text.contains("\"gone.pdf\"")) << prompts().records[0].text.toStdString();
    EXPECT_EQ(listed(e), QStringList({"one.txt/1", "two.txt/3", "three.bmp/1"}));
    EXPECT_EQ(storedCopies().size(), 3u);

    // The last one added is selected; Up twice brings it first, Down once moves it back one.
    e.MoveUpButton->click();
    e.MoveUpButton->click();
    e.MoveUpButton->click();  // already first: nothing happens
    e.MoveDownButton->click();
    EXPECT_EQ(listed(e), QStringList({"one.txt/1", "three.bmp/1", "two.txt/3"}));
    ASSERT_EQ(e.documents().size(), 3u);
    EXPECT_EQ(e.documents()[1].title, "three.bmp");

    // Remove takes the selected one and its copy.
    const std::string removed = e.documents()[1].storedName;
    e.RemoveDocumentButton->click();
    EXPECT_EQ(listed(e), QStringList({"one.txt/1", "two.txt/3"}));
    EXPECT_FALSE(fs::exists(render::documentsDir(dir()) + removed));

    // Files dropped from a file manager are attached and the Attachments page shows.
    e.show();
    QMimeData mime;
    mime.setUrls({QUrl::fromLocalFile(textFile("dropped.txt"))});
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&e, &enter);
    EXPECT_TRUE(enter.isAccepted());
    QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&e, &drop);
    EXPECT_TRUE(drop.isAccepted());
    ASSERT_TRUE(settled(e));
    EXPECT_EQ(e.currentPage(), editor::TFaxEditor::AttachmentsPage);
    EXPECT_EQ(listed(e), QStringList({"one.txt/1", "two.txt/3", "dropped.txt/1"}));

    // The window closes without the fax being stored: its copies go.
    editor.reset();
    EXPECT_TRUE(storedCopies().empty());
}

// Children of this process running telvane-faxconv (its name is cut to 15 characters in /proc).
int converterChildren() {
    int count = 0;
    for (const auto& entry : fs::directory_iterator("/proc")) {
        QFile stat(QString::fromStdString(entry.path().string() + "/stat"));
        if (!stat.open(QIODevice::ReadOnly)) continue;
        const QByteArray line = stat.readAll();
        const qsizetype open = line.indexOf('('), close = line.lastIndexOf(')');
        if (open < 0 || close < open) continue;
        const QList<QByteArray> after = line.mid(close + 2).split(' ');
        if (line.mid(open + 1, close - open - 1) == "telvane-faxconv" && after.size() > 1 &&
            after[1].toLongLong() == ::getpid())
            ++count;
    }
    return count;
}

// A document whose conversion never ends (PostScript looping for ever) is checked while the window
// stays responsive; Stop, and closing the window, end it and leave nothing attached and no copy.
TEST_F(Attachments, AddingRunsBesideTheWindowAndStopsWithoutTrace) {
    TELVANE_REQUIRE_PEER(rendertest::haveTool(QStringLiteral("ps2pdf")), "Ghostscript's ps2pdf (ghostscript)");
    // Should the stop fail, the converter still ends within its own limit.
    qputenv("TELVANE_FAXCONV_LIMITS", "seconds=60");
    const QString endless = outside_.filePath("endless.ps");
    {
        QFile f(endless);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("%!PS\n{ } loop\n");
    }
    {
        editor::TFaxEditor e(dir());
        e.show();
        e.attachmentsButtonClick();
        e.addDocuments({endless});
        // Events keep running while the converter works: this wait is itself the window's event loop.
        ASSERT_TRUE(test::waitUntil([] { return converterChildren() == 1; }, 60));
        EXPECT_TRUE(e.addingDocuments());
        EXPECT_TRUE(e.AddingPanel->isVisible());
        EXPECT_TRUE(e.AddingLabel->text().contains("endless.ps")) << e.AddingLabel->text().toStdString();
        EXPECT_FALSE(e.OKButton->isEnabled());
        EXPECT_FALSE(e.PreviewButton->isEnabled());
        // A file handed in meanwhile waits its turn; Stop ends both.
        e.addDocuments({textFile("waiting.txt")});
        e.StopAddingButton->click();
        ASSERT_TRUE(settled(e));
        EXPECT_EQ(converterChildren(), 0);
        EXPECT_TRUE(listed(e).isEmpty());
        EXPECT_TRUE(storedCopies().empty());
        EXPECT_FALSE(e.AddingPanel->isVisible());
        EXPECT_TRUE(e.OKButton->isEnabled());
        EXPECT_EQ(prompts().records.size(), 0u);  // stopping is not an error

        // Adding works again after a stop.
        ASSERT_TRUE(added(e, {textFile("after.txt")}));
        EXPECT_EQ(listed(e), QStringList({"after.txt/1"}));
        e.keepDocuments();
    }
    EXPECT_EQ(storedCopies().size(), 1u);

    // The window closed while a document is being checked: no converter and no new copy remain.
    {
        auto editor = std::make_unique<editor::TFaxEditor>(dir());
        editor->addDocuments({endless});
        ASSERT_TRUE(test::waitUntil([] { return converterChildren() == 1; }, 60));
        editor->CancelButton->click();
        editor.reset();
    }
    EXPECT_EQ(converterChildren(), 0);
    EXPECT_EQ(storedCopies().size(), 1u);
    qunsetenv("TELVANE_FAXCONV_LIMITS");
}

TEST_F(Attachments, PreviewShowsTheWholeFaxAndLeavesNoFile) {
    editor::TFaxEditor e(dir());
    e.RichDoc->insertPlainText("Typed page");
    ASSERT_TRUE(added(e, {textFile("long.txt", 130), bitmapFile("stamp.bmp")}));
    int pages = -1;
    QString shown;
    whenModal<QDialog>([&](QDialog* preview) {
        EXPECT_EQ(preview->objectName(), "FaxPreview");
        if (auto* viewer = preview->findChild<faximage::TOvxFaxViewer*>("PreviewViewer")) {
            pages = viewer->pageCount();
            // Shown at half size, so that a page's width fits the window.
            EXPECT_TRUE(viewer->Scaling());
            EXPECT_EQ(viewer->HorizDiv(), 2 * viewer->HorizMult());
        }
        if (auto* where = preview->findChild<QLabel*>()) shown = where->text();
        preview->accept();
    });
    e.PreviewButton->click();
    EXPECT_EQ(pages, 1 + 3 + 1);
    EXPECT_EQ(shown, "Page 1 of 5");
    for (const auto& entry : fs::directory_iterator(dir())) EXPECT_NE(entry.path().extension(), ".OVF") << entry.path();
}

class AttachedFax : public Attachments {
protected:
    void SetUp() override {
        Attachments::SetUp();
        xb_.bind(fax_);
        ASSERT_TRUE(records::OpenFaxDBF(dir(), fax_, xb_));
    }
    void TearDown() override { fax_.close(); }

    // A new fax with these files attached, saved.
    void saveFaxWith(const QStringList& files) {
        whenModal<editor::TFaxEditor>([](editor::TFaxEditor* e) {
            EXPECT_TRUE(settled(*e));
            e->FaxNumber->setText("555-0100");
            e->OKButton->click();
        });
        ASSERT_TRUE(composecommands::newFaxWithDocuments(fax_, xb_, dir(), files));
    }
    // Removes the fax's second document and accepts.
    static void removeSecondDocument(editor::TFaxEditor* e) {
        e->DocumentList->setCurrentItem(e->DocumentList->topLevelItem(1));
        e->RemoveDocumentButton->click();
        e->OKButton->click();
    }

    records::RecordSet fax_;
    records::TXbAccess xb_;
};

TEST_F(AttachedFax, NewFaxWithDocumentsIsKeptWithTheRecordAndRendered) {
    const QStringList files = {textFile("invoice.txt", 70), bitmapFile("stamp.bmp")};
    QStringList shown;
    whenModal<editor::TFaxEditor>([&](editor::TFaxEditor* e) {
        EXPECT_TRUE(settled(*e));
        shown = listed(*e);
        EXPECT_TRUE(e->Recipient->text().isEmpty());
        e->Recipient->setText("Acme");
        e->FaxNumber->setText("555-0100");
        e->RichDoc->insertPlainText("Please find the invoice attached.");
        e->OKButton->click();
    });
    ASSERT_TRUE(composecommands::newFaxWithDocuments(fax_, xb_, dir(), files));
    EXPECT_EQ(shown, QStringList({"invoice.txt/2", "stamp.bmp/1"}));
    // The fax holds copies of its own: the files handed over may go.
    for (const QString& f : files) QFile::remove(f);
    ASSERT_EQ(fax_.visibleCount(), 1u);
    fax_.first();
    EXPECT_NE(fax_.currentRow().memo("RTFDOC").find("Please find the invoice attached."), std::string::npos);

    // Edit and Clone show the same documents in the same order.
    for (bool clone : {false, true}) {
        whenModal<editor::TFaxEditor>([&](editor::TFaxEditor* e) {
            shown = listed(*e);
            e->OKButton->click();
        });
        ASSERT_TRUE(clone ? composecommands::newFax(fax_, xb_, dir(), true)
                          : composecommands::editFax(fax_, xb_, dir()));
        EXPECT_EQ(shown, QStringList({"invoice.txt/2", "stamp.bmp/1"})) << (clone ? "clone" : "edit");
    }
    EXPECT_EQ(storedCopies().size(), 2u);

    // The record renders typed page, then the documents' pages, as Resend and View see it.
    fax_.first();
    render::FaxRenderer renderer;
    const render::FaxFileResult result =
        renderer.CreateFaxFile(dir(), render::partsFromRecord(xb_, dir()), render::documentsFromRecord(xb_, dir()));
    ASSERT_FALSE(result.failed()) << result.errorText.toStdString();
    EXPECT_EQ(result.pageCount, 1 + 2 + 1);
}

// The copies kept for a fax's documents: one a clone shares stays until neither fax names it; one
// no fax names any more goes when the fax is saved without it or deleted.
TEST_F(AttachedFax, ACopyGoesOnlyWhenNoFaxNamesItAnyMore) {
    saveFaxWith({textFile("keep.txt"), textFile("drop.txt")});
    whenModal<editor::TFaxEditor>([](editor::TFaxEditor* e) { e->OKButton->click(); });
    fax_.first();
    ASSERT_TRUE(composecommands::newFax(fax_, xb_, dir(), true));
    ASSERT_EQ(fax_.visibleCount(), 2u);
    ASSERT_EQ(storedCopies().size(), 2u);

    for (const int kept : {2, 1}) {
        fax_.go(kept == 2 ? 1 : 2);
        whenModal<editor::TFaxEditor>(removeSecondDocument);
        ASSERT_TRUE(composecommands::editFax(fax_, xb_, dir()));
        EXPECT_EQ(storedCopies().size(), std::size_t(kept)) << "the other fax still names drop.txt: " << (kept == 2);
    }
    fax_.go(1);
    const std::vector<render::FaxDocument> left = render::documentsFromRecord(xb_, dir());
    ASSERT_EQ(left.size(), 1u);
    EXPECT_EQ(storedCopies(), std::vector<std::string>{left[0].storedName});

    for (const std::size_t kept : {1u, 0u}) {
        fax_.first();
        fax_.deleteRecord();
        render::removeUnnamedDocuments(dir(), *fax_.table());
        EXPECT_EQ(storedCopies().size(), kept);
    }
}

int gStopAt = 0;
int gChanges = 0;
int gReport = -1;

// Reports every change to a file ("<kind> <path>") and ends the process before the gStopAt-th.
void reportAndStop(const records::io::ChangeInfo& c) {
    const bool stop = ++gChanges == gStopAt;
    const std::string line = (stop ? "stop " : std::to_string(int(c.kind)) + " ") + c.path + "\n";
    if (::write(gReport, line.data(), line.size()) < 0) _exit(4);
    if (stop) _exit(42);
}

// A program killed before any change to a file, while it saves a fax without one of its documents
// and then deletes it, never leaves a fax naming a copy that is gone; and a copy is removed only
// once the tables' change that dropped it is synced to disk.
TEST_F(AttachedFax, AKillAtAnyStepNeverLeavesAFaxNamingAMissingCopy) {
    saveFaxWith({textFile("keep.txt"), textFile("drop.txt")});
    fax_.close();
    const std::string base = dir() + "base/", work = dir() + "work/";
    fs::create_directories(base);
    for (const auto& e : fs::directory_iterator(dir()))
        if (e.path().filename() != "base")
            fs::copy(e.path(), base + e.path().filename().string(), fs::copy_options::recursive);

    bool completed = false;
    std::string changes;
    for (int n = 1; n < 400 && !completed; ++n) {
        fs::remove_all(work);
        fs::copy(base, work, fs::copy_options::recursive);
        const records::test::Child child = records::test::forkChild([&](int fd) {
            gStopAt = n;
            gReport = fd;
            settings::setProgramDir(work);
            records::RecordSet fax;
            records::TXbAccess xb(fax);
            if (!records::OpenFaxDBF(work, fax, xb)) _exit(3);
            records::io::setChangeObserver(reportAndStop);
            fax.first();
            whenModal<editor::TFaxEditor>(removeSecondDocument);
            if (!composecommands::editFax(fax, xb, work)) _exit(5);
            fax.first();
            fax.deleteRecord();
            render::removeUnnamedDocuments(work, *fax.table());
            fax.close();
            records::io::setChangeObserver(nullptr);
            _exit(0);
        });
        int status = 0;
        changes = records::test::finishChild(child, &status);
        ASSERT_TRUE(WIFEXITED(status)) << "ended abnormally at change " << n;
        const int code = WEXITSTATUS(status);
        ASSERT_TRUE(code == 0 || code == 42) << "exit " << code << " at change " << n;
        completed = code == 0;

        records::RecordSet fax;
        records::TXbAccess xb(fax);
        ASSERT_TRUE(records::OpenFaxDBF(work, fax, xb)) << "stopped at change " << n;
        for (fax.first(); !fax.eof(); fax.next())
            for (const render::FaxDocument& d : render::documentsFromRecord(xb, work))
                EXPECT_TRUE(fs::exists(render::documentsDir(work) + d.storedName))
                    << "stopped at change " << n << ": a fax names " << d.title << ", whose copy is gone";
        if (completed) {
            EXPECT_EQ(fax.visibleCount(), 0u);
            EXPECT_TRUE(fs::is_empty(render::documentsDir(work))) << "copies left after the fax was deleted";
        }
        fax.close();
    }
    settings::setProgramDir(dir());
    ASSERT_TRUE(completed);
    // In the whole run: no copy is removed while a write to the table or its memos is unsynced.
    std::set<std::string> unsynced;
    int removed = 0;
    std::istringstream lines(changes);
    for (std::string line; std::getline(lines, line);) {
        const std::size_t space = line.find(' ');
        const auto kind = records::io::Change(std::stoi(line.substr(0, space)));
        const std::string path = line.substr(space + 1);
        const std::string ext = fs::path(path).extension().string();
        if (ext == ".DBF" || ext == ".FPT") {
            if (kind == records::io::Change::Sync)
                unsynced.erase(path);
            else
                unsynced.insert(path);
        } else if (kind == records::io::Change::Remove && path.find("/documents/") != std::string::npos) {
            ++removed;
            EXPECT_TRUE(unsynced.empty()) << path << " removed before " << *unsynced.begin() << " was synced";
        }
    }
    EXPECT_EQ(removed, 2);
}

TEST_F(AttachedFax, CancelledFaxWithDocumentsLeavesNoRecordAndNoCopy) {
    whenModal<editor::TFaxEditor>([](editor::TFaxEditor* e) { e->CancelButton->click(); });
    EXPECT_FALSE(composecommands::newFaxWithDocuments(fax_, xb_, dir(), {textFile("draft.txt")}));
    EXPECT_EQ(fax_.visibleCount(), 0u);
    EXPECT_TRUE(storedCopies().empty());
}

}  // namespace
}  // namespace telvane::editortest
