// TFaxEditor (see tfaxeditor.h).
#include "compose/editor/tfaxeditor.h"

#include <QButtonGroup>
#include <QDialog>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QFile>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QStackedWidget>
#include <QToolButton>
#include <QTreeWidget>
#include <QUrl>
#include <QVBoxLayout>

#include <algorithm>
#include <atomic>
#include <deque>
#include <filesystem>
#include <mutex>
#include <thread>
#include <utility>

#include "compose/cover/merge.h"
#include "compose/render/faxrenderer.h"
#include "faximage/viewer/faxviewer.h"
#include "compose/cover/startertemplates.h"
#include "compose/cover/tcoverbrowse.h"
#include "compose/editor/tenteredit.h"
#include "compose/editorkit/toolbarscroller.h"
#include "compose/editorkit/zoombutton.h"
#include "compose/phonebook/tphonebook.h"
#include "compose/richtext/trichtext.h"
#include "compose/richtext/trichtoolbar.h"
#include "compose/spellcheck/spellasyoutype.h"
#include "compose/spellcheck/tspellcheckdialog.h"
#include "compose/editorkit/hintgate.h"
#include "records/fax_tables.h"
#include "settings/printspool.h"
#include "app/faxnumber.h"
#include "app/helpwindow.h"
#include "app/printjobs.h"
#include "app/uihelpers.h"

namespace telvane::editor {
namespace {

constexpr int kHelpFaxEditor = 1015;

// The local files among dropped URLs.
QStringList droppedFiles(const QMimeData* mime) {
    QStringList files;
    if (!mime || !mime->hasUrls()) return files;
    for (const QUrl& url : mime->urls())
        if (url.isLocalFile()) files << url.toLocalFile();
    return files;
}

QString documentFilter() {
    QStringList patterns;
    for (const std::string& ext : render::documentExtensions())
        patterns << QStringLiteral("*.") + QString::fromStdString(ext);
    return QStringLiteral("Documents (%1);;All files (*)").arg(patterns.join(QLatin1Char(' ')));
}

// The name a document is shown by: a job from the user's print spool by the title its program gave
// it ("letter.pdf", not "job-7-letter.pdf"), any other file by its own name.
std::string shownName(const std::string& path, const std::string& spoolDir) {
    const std::filesystem::path p(path);
    const std::string name = p.filename().string();
    if (spoolDir.empty() || p.parent_path() != std::filesystem::path(spoolDir)) return name;
    return settings::printJobTitle(name);
}

}  // namespace

// The files being added: the window hands paths in, a worker thread copies and checks them one by
// one and hands documents (or the messages of those that cannot be read) back under the mutex.
struct editor::TFaxEditor::AddingJob {
    std::atomic<bool> stop{false};
    std::mutex mutex;
    std::deque<std::string> waiting;                               // not yet taken by the worker
    std::vector<std::pair<QString, render::FaxDocument>> checked;  // source and copy, not yet taken by the window
    QStringList problems;
    std::string current;    // title of the file being checked
    int total = 0;          // files handed in
    int taken = 0;          // files the worker has begun
    bool finished = false;  // the worker takes nothing more
    std::thread worker;
};

editor::TFaxEditor::TFaxEditor(std::string dir, QWidget* parent) : editorkit::EditorWindow(std::move(dir), parent) {
    setObjectName(QStringLiteral("FaxEditor"));
    setWindowTitle(QStringLiteral("Fax Editor"));

    Notebook = new QStackedWidget(this);
    Notebook->setObjectName(QStringLiteral("Notebook"));
    Notebook->insertWidget(CoverPage, buildPartPage(RichToolCover, RichCover, "RichToolCover", "RichCover"));
    Notebook->insertWidget(DocumentPage, buildPartPage(RichToolDoc, RichDoc, "RichToolDoc", "RichDoc"));
    Notebook->insertWidget(RecipientPage, buildRecipientPage());
    Notebook->insertWidget(AttachmentsPage, buildAttachmentsPage());
    setAcceptDrops(true);

    const auto activate = [this] { FormActivate(); };
    DocButtons = editorkit::addPartButtons(
        RichToolDoc, RichDoc, {"DocPageBreakButton", "ParagraphSetupButton", "DocWordWrapButton", "DocDefFontbutton"},
        programDir(), activate);
    CoverButtons = editorkit::addPartButtons(
        RichToolCover, RichCover,
        {"CoverDocPageBreakButton", "CoverParagraphSetupbutton", "CoverDocWordWrapButton", "CoverDefFontbutton"},
        programDir(), activate);
    LoadCoverButton = new QToolButton(RichToolCover);
    LoadCoverButton->setObjectName(QStringLiteral("LoadCoverButton"));
    // Alt+O reaches it from the cover text, where the focus stays (the button takes none).
    LoadCoverButton->setText(QStringLiteral("L&oad Template"));
    LoadCoverButton->setToolTip(QStringLiteral("Load Cover Sheet from Template"));
    LoadCoverButton->setAutoRaise(true);
    LoadCoverButton->setFocusPolicy(Qt::NoFocus);
    editorkit::addToToolBar(RichToolCover, LoadCoverButton);
    connect(LoadCoverButton, &QToolButton::clicked, this, &TFaxEditor::loadCoverButtonClick);

    connect(RichCover, &richtext::TRichText::GetTextToInsert, this, &TFaxEditor::answerMergeField,
            Qt::DirectConnection);
    for (richtext::TRichText* part : {RichCover, RichDoc}) {
        connect(part, &richtext::TRichText::StartSpellCheck, this, [this, part] { richStartSpellCheck(part); });
        new spellcheck::SpellAsYouType(part, programDir());
    }

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(4, 4, 4, 4);
    layout->addWidget(Notebook, 1);
    layout->addWidget(buildBottomPanel());

    showPage(RecipientPage);
    finishWindow(RichToolCover);
    // Closed while adding: what is being checked is not attached.
    connect(this, &QDialog::finished, this, [this] { stopAddingButtonClick(); });
}

TFaxEditor::~TFaxEditor() {
    if (adding_) {
        adding_->stop = true;
        adding_->worker.join();
        for (const auto& [source, copy] : adding_->checked) render::removeStoredDocument(programDir(), copy);
    }
    for (const render::FaxDocument& copy : madeHere_) render::removeStoredDocument(programDir(), copy);
}

QWidget* TFaxEditor::buildAttachmentsPage() {
    auto* page = new QWidget(this);
    page->setObjectName(QStringLiteral("AttachmentsPage"));
    auto* layout = new QHBoxLayout(page);
    layout->setContentsMargins(12, 12, 12, 12);
    DocumentList = new QTreeWidget(page);
    DocumentList->setObjectName(QStringLiteral("DocumentList"));
    DocumentList->setHeaderLabels({QStringLiteral("Name"), QStringLiteral("Pages")});
    DocumentList->setRootIsDecorated(false);
    DocumentList->setToolTip(
        QStringLiteral("Documents sent after the cover sheet and the fax document, in this order"));
    DocumentList->header()->setStretchLastSection(false);
    DocumentList->header()->setSectionResizeMode(0, QHeaderView::Stretch);
    DocumentList->header()->setSectionResizeMode(1, QHeaderView::ResizeToContents);
    AddingPanel = new QWidget(page);
    AddingPanel->setObjectName(QStringLiteral("AddingPanel"));
    AddingLabel = new QLabel(AddingPanel);
    AddingLabel->setObjectName(QStringLiteral("AddingLabel"));
    AddingProgress = new QProgressBar(AddingPanel);
    AddingProgress->setObjectName(QStringLiteral("AddingProgress"));
    AddingProgress->setRange(0, 0);  // busy: a document's pages are known only when it is checked
    AddingProgress->setTextVisible(false);
    StopAddingButton = app::makePushButton(AddingPanel, "StopAddingButton", QStringLiteral("&Stop"),
                                           QStringLiteral("Stop adding documents"));
    StopAddingButton->setAutoDefault(false);
    auto* addingRow = new QHBoxLayout(AddingPanel);
    addingRow->setContentsMargins(0, 0, 0, 0);
    addingRow->addWidget(AddingLabel, 1);
    addingRow->addWidget(AddingProgress);
    addingRow->addWidget(StopAddingButton);
    AddingPanel->hide();
    auto* listColumn = new QVBoxLayout();
    listColumn->addWidget(DocumentList, 1);
    listColumn->addWidget(AddingPanel);
    layout->addLayout(listColumn, 1);

    auto* column = new QVBoxLayout();
    AddDocumentButton = app::makePushButton(page, "AddDocumentButton", QStringLiteral("A&dd Document..."),
                                            QStringLiteral("Attach a PDF, PostScript, TIFF, image, text or RTF file"));
    RemoveDocumentButton = app::makePushButton(page, "RemoveDocumentButton", QStringLiteral("Re&move"),
                                               QStringLiteral("Remove the selected document from this fax"));
    MoveUpButton = app::makePushButton(page, "MoveUpButton", QStringLiteral("&Up"),
                                       QStringLiteral("Send the selected document earlier"));
    MoveDownButton = app::makePushButton(page, "MoveDownButton", QStringLiteral("Do&wn"),
                                         QStringLiteral("Send the selected document later"));
    PreviewButton = app::makePushButton(page, "PreviewButton", QStringLiteral("Pre&view Fax..."),
                                        QStringLiteral("Show the pages of the whole fax as it will be sent"));
    for (QPushButton* b : {AddDocumentButton, RemoveDocumentButton, MoveUpButton, MoveDownButton}) {
        b->setAutoDefault(false);
        column->addWidget(b);
    }
    column->addStretch(1);
    PreviewButton->setAutoDefault(false);
    column->addWidget(PreviewButton);
    layout->addLayout(column);

    connect(AddDocumentButton, &QPushButton::clicked, this, &TFaxEditor::addDocumentButtonClick);
    connect(RemoveDocumentButton, &QPushButton::clicked, this, &TFaxEditor::removeDocumentButtonClick);
    connect(MoveUpButton, &QPushButton::clicked, this, [this] { moveDocument(-1); });
    connect(MoveDownButton, &QPushButton::clicked, this, [this] { moveDocument(1); });
    connect(PreviewButton, &QPushButton::clicked, this, &TFaxEditor::previewButtonClick);
    connect(StopAddingButton, &QPushButton::clicked, this, &TFaxEditor::stopAddingButtonClick);
    fillDocumentList(-1);
    return page;
}

void TFaxEditor::fillDocumentList(int select) {
    DocumentList->clear();
    for (const render::FaxDocument& d : documents_) {
        auto* item = new QTreeWidgetItem(DocumentList);
        item->setText(0, QString::fromStdString(d.title));
        item->setText(1, QString::number(d.pages));
        item->setTextAlignment(1, Qt::AlignRight | Qt::AlignVCenter);
    }
    if (select >= 0 && select < DocumentList->topLevelItemCount())
        DocumentList->setCurrentItem(DocumentList->topLevelItem(select));
}

void TFaxEditor::addDocuments(const QStringList& paths) {
    if (paths.isEmpty()) return;
    if (!adding_) {
        adding_ = std::make_unique<AddingJob>();
        showAdding(true);
        AddingJob& job = *adding_;
        for (const QString& path : paths) job.waiting.push_back(path.toStdString());
        job.total = int(paths.size());
        // The worker lives no longer than the window: the destructor stops and joins it.
        job.worker =
            std::thread([this, &job, dir = programDir(), spool = app::PrintJobQueue::userSpoolDir().toStdString()] {
                const auto report = [this] {
                    QMetaObject::invokeMethod(
                        this, [this] { collectAdded(); }, Qt::QueuedConnection);
                };
                for (;;) {
                    std::string path;
                    {
                        const std::lock_guard<std::mutex> lock(job.mutex);
                        if (job.stop || job.waiting.empty()) {
                            job.waiting.clear();
                            job.finished = true;
                            break;
                        }
                        path = std::move(job.waiting.front());
                        job.waiting.pop_front();
                        ++job.taken;
                        job.current = shownName(path, spool);
                    }
                    report();
                    std::string error;
                    std::optional<render::FaxDocument> stored =
                        render::storeDocument(dir, path, error, &job.stop, shownName(path, spool));
                    const std::lock_guard<std::mutex> lock(job.mutex);
                    if (stored)
                        job.checked.emplace_back(QString::fromStdString(path), std::move(*stored));
                    else if (!error.empty())
                        job.problems << QString::fromStdString(error);
                }
                report();
            });
        return;
    }
    const std::lock_guard<std::mutex> lock(adding_->mutex);
    if (adding_->finished) {
        queued_ << paths;  // the worker has ended: the next one takes them
        return;
    }
    for (const QString& path : paths) adding_->waiting.push_back(path.toStdString());
    adding_->total += int(paths.size());
}

void editor::TFaxEditor::collectAdded() {
    if (!adding_) return;
    std::vector<std::pair<QString, render::FaxDocument>> checked;
    bool finished;
    QString progress;
    {
        const std::lock_guard<std::mutex> lock(adding_->mutex);
        checked.swap(adding_->checked);
        problems_ << adding_->problems;
        adding_->problems.clear();
        finished = adding_->finished;
        progress = QStringLiteral("Adding \"%1\" (%2 of %3)...")
                       .arg(QString::fromStdString(adding_->current))
                       .arg(adding_->taken)
                       .arg(adding_->total);
    }
    for (auto& [source, d] : checked) {
        sourceOf_[d.storedName] = source;
        madeHere_.push_back(d);
        documents_.push_back(std::move(d));
    }
    if (!checked.empty()) fillDocumentList(int(documents_.size()) - 1);
    if (!finished) {
        AddingLabel->setText(progress);
        return;
    }
    adding_->worker.join();
    adding_.reset();
    if (!queued_.isEmpty()) {
        const QStringList next = std::exchange(queued_, {});
        addDocuments(next);
        return;
    }
    showAdding(false);
    if (!problems_.isEmpty()) app::ShowInformation(std::exchange(problems_, {}).join(QLatin1Char('\n')));
}

QStringList editor::TFaxEditor::attachedSources() const {
    QStringList sources;
    for (const render::FaxDocument& d : documents_)
        if (const auto it = sourceOf_.find(d.storedName); it != sourceOf_.end()) sources << it->second;
    return sources;
}

void editor::TFaxEditor::stopAddingButtonClick() {
    queued_.clear();
    if (!adding_) return;
    adding_->stop = true;
    const std::lock_guard<std::mutex> lock(adding_->mutex);
    adding_->waiting.clear();
}

void editor::TFaxEditor::showAdding(bool adding) {
    AddingLabel->setText(adding ? QStringLiteral("Adding documents...") : QString());
    AddingPanel->setVisible(adding);
    OKButton->setEnabled(!adding);
    PreviewButton->setEnabled(!adding);
}

void TFaxEditor::setDocuments(std::vector<render::FaxDocument> documents) {
    documents_ = std::move(documents);
    fillDocumentList(-1);
}

void TFaxEditor::attachmentsButtonClick() {
    showPage(AttachmentsPage);
    DocumentList->setFocus();
}

void TFaxEditor::addDocumentButtonClick() {
    const QStringList files =
        QFileDialog::getOpenFileNames(this, QStringLiteral("Add Document"), QString(), documentFilter());
    if (!files.isEmpty()) addDocuments(files);
}

void TFaxEditor::removeDocumentButtonClick() {
    const int row = DocumentList->indexOfTopLevelItem(DocumentList->currentItem());
    if (row < 0 || row >= int(documents_.size())) return;
    const std::string name = documents_[std::size_t(row)].storedName;
    documents_.erase(documents_.begin() + row);
    // A copy made here goes now; one the stored fax keeps stays until the fax no longer lists it.
    const auto made = std::find_if(madeHere_.begin(), madeHere_.end(),
                                   [&](const render::FaxDocument& d) { return d.storedName == name; });
    if (made != madeHere_.end()) {
        render::removeStoredDocument(programDir(), *made);
        madeHere_.erase(made);
    }
    fillDocumentList(std::min(row, int(documents_.size()) - 1));
}

void TFaxEditor::moveDocument(int step) {
    const int row = DocumentList->indexOfTopLevelItem(DocumentList->currentItem());
    const int to = row + step;
    if (row < 0 || to < 0 || to >= int(documents_.size())) return;
    std::swap(documents_[std::size_t(row)], documents_[std::size_t(to)]);
    fillDocumentList(to);
}

void TFaxEditor::previewButtonClick() {
    if (addingDocuments()) return;
    render::FaxFileResult result;
    {
        app::HourGlass hourglass;
        render::FaxRenderer renderer;
        renderer.OnYield = [] { app::letMessagesRun(); };
        // A copy: the list may change while messages run during the rendering.
        const std::vector<render::FaxDocument> documents = documents_;
        result =
            renderer.CreateFaxFile(programDir(), render::partsFromRtf(RichCover->rtf(), RichDoc->rtf()), documents);
    }
    if (result.empty) {
        app::ShowInformation(QString::fromLatin1(render::kNoContentsMessage));
        return;
    }
    if (result.failed()) {
        app::ShowInformation(result.errorText);
        return;
    }
    const QString file = QString::fromStdString(result.fileName);
    {
        QDialog preview(this);
        preview.setObjectName(QStringLiteral("FaxPreview"));
        preview.setWindowTitle(QStringLiteral("Fax Preview"));
        auto* viewer = new faximage::TOvxFaxViewer(&preview);
        viewer->setObjectName(QStringLiteral("PreviewViewer"));
        auto* where = new QLabel(&preview);
        auto* previous = new QPushButton(QStringLiteral("&Previous Page"), &preview);
        auto* next = new QPushButton(QStringLiteral("&Next Page"), &preview);
        auto* close = new QPushButton(QStringLiteral("&Close"), &preview);
        const auto showWhere = [viewer, where] {
            where->setText(QStringLiteral("Page %1 of %2").arg(viewer->currentPage()).arg(viewer->pageCount()));
        };
        connect(previous, &QPushButton::clicked, &preview, [viewer, showWhere] {
            viewer->prevPage();
            showWhere();
        });
        connect(next, &QPushButton::clicked, &preview, [viewer, showWhere] {
            viewer->nextPage();
            showWhere();
        });
        connect(close, &QPushButton::clicked, &preview, &QDialog::accept);
        auto* row = new QHBoxLayout();
        row->addWidget(previous);
        row->addWidget(next);
        row->addWidget(where, 1);
        row->addWidget(close);
        auto* layout = new QVBoxLayout(&preview);
        layout->addWidget(viewer, 1);
        layout->addLayout(row);
        viewer->setFileName(file);
        // Half size, so that the page's width fits the window (loading a file resets the scale).
        viewer->setScale(1, 2, 1, 2);
        viewer->setScaling(true);
        showWhere();
        preview.resize(960, 760);
        preview.exec();
    }
    QFile::remove(file);
}

void TFaxEditor::dragEnterEvent(QDragEnterEvent* event) {
    if (!droppedFiles(event->mimeData()).isEmpty()) event->acceptProposedAction();
}

void TFaxEditor::dropEvent(QDropEvent* event) {
    const QStringList files = droppedFiles(event->mimeData());
    if (files.isEmpty()) return;
    event->acceptProposedAction();
    showPage(AttachmentsPage);
    addDocuments(files);
}

QWidget* TFaxEditor::buildRecipientPage() {
    auto* page = new QWidget(this);
    page->setObjectName(QStringLiteral("RecipientPage"));
    auto* grid = new QGridLayout(page);
    grid->setContentsMargins(24, 24, 24, 24);
    grid->setHorizontalSpacing(12);
    grid->setVerticalSpacing(10);

    const auto addField = [&](int row, const char* name, const QString& label, int limit, const QString& hint) {
        auto* edit = new TEnterEdit(page);
        edit->setObjectName(QString::fromLatin1(name));
        edit->setMaxLength(limit);
        edit->setToolTip(hint);
        // Room for the whole of the longest value in an average-width font.
        edit->setMinimumWidth(edit->fontMetrics().averageCharWidth() * (limit + 4));
        auto* caption = new QLabel(label, page);
        caption->setBuddy(edit);
        grid->addWidget(caption, row, 0);
        grid->addWidget(edit, row, 1);
        return edit;
    };
    Recipient = addField(0, "Recipient", QStringLiteral("Recipient"), kRecipientLength,
                         QStringLiteral("Enter recipient name here"));
    FaxNumber = addField(1, "FaxNumber", QStringLiteral("Fax Number"), kFaxNumberLength,
                         QStringLiteral("Enter recipient fax number here"));
    Subject = addField(2, "Subject", QStringLiteral("Subject"), kSubjectLength,
                       QStringLiteral("Enter subject (topic) of fax here"));
    AddressButton = app::makePushButton(page, "AddressButton", QStringLiteral("&Phonebook"),
                                        QStringLiteral("Click here to access the Phone Book"));
    grid->addWidget(AddressButton, 3, 1, Qt::AlignLeft);
    grid->setColumnStretch(2, 1);
    grid->setRowStretch(4, 1);
    connect(AddressButton, &QPushButton::clicked, this, &TFaxEditor::addressButtonClick);
    return page;
}

QWidget* TFaxEditor::buildPartPage(richtext::TRichToolBar*& bar, richtext::TRichText*& part, const char* barName,
                                   const char* partName) {
    auto* page = new QWidget(this);
    auto* layout = new QVBoxLayout(page);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    bar = new richtext::TRichToolBar(page);
    bar->setObjectName(QString::fromLatin1(barName));
    part = new richtext::TRichText(page);
    part->setObjectName(QString::fromLatin1(partName));
    bar->setEditor(part);
    layout->addWidget(new editorkit::TToolBarScroller(bar, page));
    layout->addWidget(part, 1);
    return page;
}

QWidget* TFaxEditor::buildBottomPanel() {
    auto* panel = new QWidget(this);
    panel->setObjectName(QStringLiteral("BottomPanel"));
    auto* row = new QHBoxLayout(panel);
    row->setContentsMargins(0, 4, 0, 0);

    Helpbutton = app::makePushButton(panel, "Helpbutton", QStringLiteral("&Help"),
                                     QStringLiteral("Open the help for Fax Editor"));
    RecipientButton = app::makePushButton(panel, "RecipientButton", QStringLiteral("&Recipient Info"),
                                          QStringLiteral("Edit the recipient information"));
    DocumentButton = app::makePushButton(panel, "DocumentButton", QStringLiteral("&Fax Document"),
                                         QStringLiteral("Edit the fax document"));
    CoverButton = app::makePushButton(panel, "CoverButton", QStringLiteral("&Cover Sheet"),
                                      QStringLiteral("Edit the optional fax cover sheet"));
    AttachmentsButton = app::makePushButton(panel, "AttachmentsButton", QStringLiteral("A&ttachments"),
                                            QStringLiteral("Documents sent after the fax document"));
    Zoombutton = new editorkit::TZoomButton([this] { return zoomTarget(); }, panel);
    Zoombutton->setAutoDefault(false);
    OKButton = app::makePushButton(panel, "OKButton", QStringLiteral("&Accept"),
                                   QStringLiteral("Ok - save changes to this fax"));
    OKButton->setDefault(true);
    CancelButton = app::makePushButton(panel, "CancelButton", QStringLiteral("Cance&l"),
                                       QStringLiteral("Cancel - do not save changes to this fax"));

    pageButtons_ = new QButtonGroup(this);
    pageButtons_->setExclusive(true);
    for (QPushButton* b : {RecipientButton, DocumentButton, CoverButton, AttachmentsButton}) {
        b->setCheckable(true);
        pageButtons_->addButton(b);
    }
    RecipientButton->setChecked(true);

    row->addWidget(Helpbutton);
    row->addSpacing(12);
    row->addWidget(RecipientButton);
    row->addWidget(DocumentButton);
    row->addWidget(CoverButton);
    row->addWidget(AttachmentsButton);
    row->addWidget(Zoombutton);
    row->addStretch(1);
    row->addWidget(OKButton);
    row->addWidget(CancelButton);

    connect(Helpbutton, &QPushButton::clicked, this, [] { app::showHelp(kHelpFaxEditor); });
    connect(RecipientButton, &QPushButton::clicked, this, &TFaxEditor::recipientButtonClick);
    connect(DocumentButton, &QPushButton::clicked, this, &TFaxEditor::documentButtonClick);
    connect(CoverButton, &QPushButton::clicked, this, &TFaxEditor::coverButtonClick);
    connect(AttachmentsButton, &QPushButton::clicked, this, &TFaxEditor::attachmentsButtonClick);
    connect(OKButton, &QPushButton::clicked, this, [this] { acceptClick(); });
    connect(CancelButton, &QPushButton::clicked, this, [this] { reject(); });
    return panel;
}

void TFaxEditor::acceptClick() {
    if (addingDocuments()) return;  // Accept is disabled until the documents are in
    if (const QString problem = app::faxNumberProblem(FaxNumber->text()); !problem.isEmpty()) {
        recipientButtonClick();
        RecipientButton->setChecked(true);
        app::ShowInformation(problem);
        FaxNumber->setFocus();
        return;
    }
    done(1);
}

TFaxEditor::Page TFaxEditor::currentPage() const { return static_cast<Page>(Notebook->currentIndex()); }

richtext::TRichText* TFaxEditor::zoomTarget() const { return DocumentButton->isChecked() ? RichDoc : RichCover; }

void TFaxEditor::showPage(Page page) {
    Notebook->setCurrentIndex(page);
    QPushButton* button = page == RecipientPage     ? RecipientButton
                          : page == DocumentPage    ? DocumentButton
                          : page == AttachmentsPage ? AttachmentsButton
                                                    : CoverButton;
    button->setChecked(true);
    if (page == RecipientPage || page == AttachmentsPage) {
        Zoombutton->hide();
    } else {
        Zoombutton->showZoom();
        Zoombutton->show();
    }
}

void TFaxEditor::recipientButtonClick() { showPage(RecipientPage); }

void TFaxEditor::documentButtonClick() {
    showPage(DocumentPage);
    RichDoc->setFocus();
}

void TFaxEditor::coverButtonClick() {
    showPage(CoverPage);
    RichCover->setFocus();
}

void TFaxEditor::richStartSpellCheck(richtext::TRichText* part) {
    spellcheck::TSpellCheckDialog dialog(programDir(), this);
    dialog.setRichText(part);
    editorkit::followHintSetting(&dialog);
    dialog.adjustSize();  // centred at its real size
    app::centerDialog(&dialog);
    dialog.exec();
    FormActivate();
}

void TFaxEditor::FormActivate() {
    countActivation();
    // Back from one of its own windows (template browser, spell check, phone book, paragraph
    // properties) the user stays on the page they were working on.
    showPage(currentPage());
    for (richtext::TRichText* part : {RichCover, RichDoc}) {
        part->reLayout();
        part->repaintDocument();
        part->moveToStart();
    }
}

void TFaxEditor::firstShow() {
    for (richtext::TRichText* part : {RichCover, RichDoc}) {
        part->setPageLayout(editorkit::kEditorPageLayout);
        part->repaintDocument();
    }
    showPage(RecipientPage);
    FormActivate();
    Recipient->setFocus();
}

void TFaxEditor::resizeEvent(QResizeEvent* event) {
    QDialog::resizeEvent(event);
    RichDoc->repaintDocument();
}

QString TFaxEditor::mergeFieldValue(int tag) const {
    cover::MergeSource source;
    source.recipient = Recipient->text();
    source.faxNumber = FaxNumber->text();
    source.subject = Subject->text();
    source.now = QDateTime::currentDateTime();
    return cover::mergeValue(tag, source);
}

void TFaxEditor::answerMergeField(int tag, QString& text, bool& answered) {
    const QString value = mergeFieldValue(tag);
    if (value.isNull()) return;
    text = value;
    answered = true;
}

void TFaxEditor::addressButtonClick() {
    phonebook::TPhoneBook book(programDir(), this);
    if (book.openTable()) {
        book.setPickMode(true);
        app::centerDialog(&book);
        if (book.exec() == 1) {
            Recipient->setText(book.pickedName());
            FaxNumber->setText(book.pickedNumber());
        }
    }
    FormActivate();
}

void TFaxEditor::loadCoverButtonClick() {
    records::RecordSet coverTable;
    records::TXbAccess coverXb(coverTable);
    if (!cover::openCoverTemplates(programDir(), coverTable, coverXb)) return;
    {
        cover::TCoverBrowse browse(coverTable, coverXb, programDir(), this);
        browse.setPickMode(true);
        app::centerDialog(&browse);
        if (browse.exec() == 1) cover::loadTemplate(*RichCover, coverXb, programDir());
    }
    try {
        coverTable.close();
    } catch (const records::EXbError&) {
        // Every change made in the browser was posted there already.
    }
    FormActivate();
}

}  // namespace telvane::editor
