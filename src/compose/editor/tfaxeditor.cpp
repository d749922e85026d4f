// TFaxEditor (see tfaxeditor.h).
#include "compose/editor/tfaxeditor.h"

#include <QButtonGroup>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QStackedWidget>
#include <QToolButton>
#include <QVBoxLayout>

#include "compose/cover/merge.h"
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
#include "app/faxnumber.h"
#include "app/helpwindow.h"
#include "app/uihelpers.h"

namespace telvane {
namespace {

constexpr int kHelpFaxEditor = 1015;

}  // namespace

TFaxEditor::TFaxEditor(std::string dir, QWidget* parent) : EditorWindow(std::move(dir), parent) {
    setObjectName(QStringLiteral("FaxEditor"));
    setWindowTitle(QStringLiteral("Fax Editor"));

    Notebook = new QStackedWidget(this);
    Notebook->setObjectName(QStringLiteral("Notebook"));
    Notebook->insertWidget(CoverPage, buildPartPage(RichToolCover, RichCover, "RichToolCover", "RichCover"));
    Notebook->insertWidget(DocumentPage, buildPartPage(RichToolDoc, RichDoc, "RichToolDoc", "RichDoc"));
    Notebook->insertWidget(RecipientPage, buildRecipientPage());

    const auto activate = [this] { FormActivate(); };
    DocButtons = AddPartButtons(RichToolDoc, RichDoc,
                                {"DocPageBreakButton", "ParagraphSetupButton", "DocWordWrapButton", "DocDefFontbutton"},
                                programDir(), activate);
    CoverButtons = AddPartButtons(
        RichToolCover, RichCover,
        {"CoverDocPageBreakButton", "CoverParagraphSetupbutton", "CoverDocWordWrapButton", "CoverDefFontbutton"},
        programDir(), activate);
    LoadCoverButton = new QToolButton(RichToolCover);
    LoadCoverButton->setObjectName(QStringLiteral("LoadCoverButton"));
    LoadCoverButton->setText(QStringLiteral("Load Template"));
    LoadCoverButton->setToolTip(QStringLiteral("Load Cover Sheet from Template"));
    LoadCoverButton->setAutoRaise(true);
    LoadCoverButton->setFocusPolicy(Qt::NoFocus);
    AddToToolBar(RichToolCover, LoadCoverButton);
    connect(LoadCoverButton, &QToolButton::clicked, this, &TFaxEditor::LoadCoverButtonClick);

    connect(RichCover, &TRichText::GetTextToInsert, this, &TFaxEditor::answerMergeField, Qt::DirectConnection);
    for (TRichText* part : {RichCover, RichDoc}) {
        connect(part, &TRichText::StartSpellCheck, this, [this, part] { RichStartSpellCheck(part); });
        new SpellAsYouType(part, programDir());
    }

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(4, 4, 4, 4);
    layout->addWidget(Notebook, 1);
    layout->addWidget(buildBottomPanel());

    showPage(RecipientPage);
    FinishWindow(RichToolCover);
}

TFaxEditor::~TFaxEditor() = default;

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
    AddressButton = MakePushButton(page, "AddressButton", QStringLiteral("&Phonebook"),
                                   QStringLiteral("Click here to access the Phone Book"));
    grid->addWidget(AddressButton, 3, 1, Qt::AlignLeft);
    grid->setColumnStretch(2, 1);
    grid->setRowStretch(4, 1);
    connect(AddressButton, &QPushButton::clicked, this, &TFaxEditor::AddressButtonClick);
    return page;
}

QWidget* TFaxEditor::buildPartPage(TRichToolBar*& bar, TRichText*& part, const char* barName, const char* partName) {
    auto* page = new QWidget(this);
    auto* layout = new QVBoxLayout(page);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    bar = new TRichToolBar(page);
    bar->setObjectName(QString::fromLatin1(barName));
    part = new TRichText(page);
    part->setObjectName(QString::fromLatin1(partName));
    bar->SetEditor(part);
    layout->addWidget(new TToolBarScroller(bar, page));
    layout->addWidget(part, 1);
    return page;
}

QWidget* TFaxEditor::buildBottomPanel() {
    auto* panel = new QWidget(this);
    panel->setObjectName(QStringLiteral("BottomPanel"));
    auto* row = new QHBoxLayout(panel);
    row->setContentsMargins(0, 4, 0, 0);

    Helpbutton =
        MakePushButton(panel, "Helpbutton", QStringLiteral("&Help"), QStringLiteral("Open the help for Fax Editor"));
    RecipientButton = MakePushButton(panel, "RecipientButton", QStringLiteral("&Recipient Info"),
                                     QStringLiteral("Edit the recipient information"));
    DocumentButton = MakePushButton(panel, "DocumentButton", QStringLiteral("&Fax Document"),
                                    QStringLiteral("Edit the fax document"));
    CoverButton = MakePushButton(panel, "CoverButton", QStringLiteral("&Cover Sheet"),
                                 QStringLiteral("Edit the optional fax cover sheet"));
    Zoombutton = new TZoomButton([this] { return zoomTarget(); }, panel);
    Zoombutton->setAutoDefault(false);
    OKButton =
        MakePushButton(panel, "OKButton", QStringLiteral("&Accept"), QStringLiteral("Ok - save changes to this fax"));
    OKButton->setDefault(true);
    CancelButton = MakePushButton(panel, "CancelButton", QStringLiteral("Cance&l"),
                                  QStringLiteral("Cancel - do not save changes to this fax"));

    pageButtons_ = new QButtonGroup(this);
    pageButtons_->setExclusive(true);
    for (QPushButton* b : {RecipientButton, DocumentButton, CoverButton}) {
        b->setCheckable(true);
        pageButtons_->addButton(b);
    }
    RecipientButton->setChecked(true);

    row->addWidget(Helpbutton);
    row->addSpacing(12);
    row->addWidget(RecipientButton);
    row->addWidget(DocumentButton);
    row->addWidget(CoverButton);
    row->addWidget(Zoombutton);
    row->addStretch(1);
    row->addWidget(OKButton);
    row->addWidget(CancelButton);

    connect(Helpbutton, &QPushButton::clicked, this, [] { ShowHelp(kHelpFaxEditor); });
    connect(RecipientButton, &QPushButton::clicked, this, &TFaxEditor::RecipientButtonClick);
    connect(DocumentButton, &QPushButton::clicked, this, &TFaxEditor::DocumentButtonClick);
    connect(CoverButton, &QPushButton::clicked, this, &TFaxEditor::CoverButtonClick);
    connect(OKButton, &QPushButton::clicked, this, [this] { AcceptClick(); });
    connect(CancelButton, &QPushButton::clicked, this, [this] { reject(); });
    return panel;
}

void TFaxEditor::AcceptClick() {
    if (const QString problem = FaxNumberProblem(FaxNumber->text()); !problem.isEmpty()) {
        RecipientButtonClick();
        RecipientButton->setChecked(true);
        ShowInformation(problem);
        FaxNumber->setFocus();
        return;
    }
    done(1);
}

TFaxEditor::Page TFaxEditor::currentPage() const { return static_cast<Page>(Notebook->currentIndex()); }

TRichText* TFaxEditor::zoomTarget() const { return DocumentButton->isChecked() ? RichDoc : RichCover; }

void TFaxEditor::showPage(Page page) {
    Notebook->setCurrentIndex(page);
    QPushButton* button = page == RecipientPage ? RecipientButton : page == DocumentPage ? DocumentButton : CoverButton;
    button->setChecked(true);
    if (page == RecipientPage) {
        Zoombutton->hide();
    } else {
        Zoombutton->ShowZoom();
        Zoombutton->show();
    }
}

void TFaxEditor::RecipientButtonClick() { showPage(RecipientPage); }

void TFaxEditor::DocumentButtonClick() {
    showPage(DocumentPage);
    RichDoc->setFocus();
}

void TFaxEditor::CoverButtonClick() {
    showPage(CoverPage);
    RichCover->setFocus();
}

void TFaxEditor::RichStartSpellCheck(TRichText* part) {
    TSpellCheckDialog dialog(programDir(), this);
    dialog.SetRichText(part);
    FollowHintSetting(&dialog);
    dialog.adjustSize();  // centred at its real size
    CenterDialog(&dialog);
    dialog.exec();
    FormActivate();
}

void TFaxEditor::FormActivate() {
    CountActivation();
    showPage(RecipientPage);
    for (TRichText* part : {RichCover, RichDoc}) {
        part->ReLayout();
        part->Repaint();
        part->MoveToStart();
    }
}

void TFaxEditor::FirstShow() {
    for (TRichText* part : {RichCover, RichDoc}) {
        part->SetPageLayout(kEditorPageLayout);
        part->Repaint();
    }
    FormActivate();
    Recipient->setFocus();
}

void TFaxEditor::resizeEvent(QResizeEvent* event) {
    QDialog::resizeEvent(event);
    RichDoc->Repaint();
}

QString TFaxEditor::MergeFieldValue(int tag) const {
    MergeSource source;
    source.recipient = Recipient->text();
    source.faxNumber = FaxNumber->text();
    source.subject = Subject->text();
    source.now = QDateTime::currentDateTime();
    return MergeValue(tag, source);
}

void TFaxEditor::answerMergeField(int tag, QString& text, bool& answered) {
    const QString value = MergeFieldValue(tag);
    if (value.isNull()) return;
    text = value;
    answered = true;
}

void TFaxEditor::AddressButtonClick() {
    TPhoneBook book(programDir(), this);
    if (book.OpenTable()) {
        book.SetPickMode(true);
        CenterDialog(&book);
        if (book.exec() == 1) {
            Recipient->setText(book.PickedName());
            FaxNumber->setText(book.PickedNumber());
        }
    }
    FormActivate();
}

void TFaxEditor::LoadCoverButtonClick() {
    records::RecordSet coverTable;
    records::TXbAccess coverXb(coverTable);
    if (!OpenCoverTemplates(programDir(), coverTable, coverXb)) return;
    {
        TCoverBrowse browse(coverTable, coverXb, programDir(), this);
        browse.SetPickMode(true);
        CenterDialog(&browse);
        if (browse.exec() == 1) LoadTemplate(*RichCover, coverXb, programDir());
    }
    try {
        coverTable.close();
    } catch (const records::EXbError&) {
        // Every change made in the browser was posted there already.
    }
    FormActivate();
}

}  // namespace telvane
