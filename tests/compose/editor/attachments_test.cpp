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

#include <filesystem>

#include "compose/commands/composecommands.h"
#include "compose/editor/tenteredit.h"
#include "compose/editor/tfaxeditor.h"
#include "compose/editors_fixture.h"
#include "compose/render/faxrenderer.h"
#include "compose/render/renderutil.h"
#include "faximage/viewer/faxviewer.h"
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
    EXPECT_TRUE(e.addDocuments({textFile("one.txt"), textFile("two.txt", 130)}));
    EXPECT_EQ(listed(e), QStringList({"one.txt/1", "two.txt/3"}));

    // A file that cannot be read is named and left out; the others of the same call are added.
    EXPECT_FALSE(e.addDocuments({outside_.filePath("gone.pdf"), bitmapFile("three.bmp")}));
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
    EXPECT_EQ(e.currentPage(), editor::TFaxEditor::AttachmentsPage);
    EXPECT_EQ(listed(e), QStringList({"one.txt/1", "two.txt/3", "dropped.txt/1"}));

    // The window closes without the fax being stored: its copies go.
    editor.reset();
    EXPECT_TRUE(storedCopies().empty());
}

TEST_F(Attachments, PreviewShowsTheWholeFaxAndLeavesNoFile) {
    editor::TFaxEditor e(dir());
    e.RichDoc->insertPlainText("Typed page");
    ASSERT_TRUE(e.addDocuments({textFile("long.txt", 130), bitmapFile("stamp.bmp")}));
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

    records::RecordSet fax_;
    records::TXbAccess xb_;
};

TEST_F(AttachedFax, NewFaxWithDocumentsIsKeptWithTheRecordAndRendered) {
    const QStringList files = {textFile("invoice.txt", 70), bitmapFile("stamp.bmp")};
    QStringList shown;
    whenModal<editor::TFaxEditor>([&](editor::TFaxEditor* e) {
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

TEST_F(AttachedFax, CancelledFaxWithDocumentsLeavesNoRecordAndNoCopy) {
    whenModal<editor::TFaxEditor>([](editor::TFaxEditor* e) { e->CancelButton->click(); });
    EXPECT_FALSE(composecommands::newFaxWithDocuments(fax_, xb_, dir(), {textFile("draft.txt")}));
    EXPECT_EQ(fax_.visibleCount(), 0u);
    EXPECT_TRUE(storedCopies().empty());
}

}  // namespace
}  // namespace telvane::editortest
