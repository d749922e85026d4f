// TCoverEditor (see tcovereditor.h).
#include "compose/cover/tcovereditor.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QVBoxLayout>

#include "compose/cover/merge.h"
#include "compose/editorkit/toolbarscroller.h"
#include "compose/editorkit/zoombutton.h"
#include "compose/richtext/trichtext.h"
#include "compose/richtext/trichtoolbar.h"
#include "app/helpwindow.h"
#include "app/uihelpers.h"
#include "compose/spellcheck/spellasyoutype.h"
#include "compose/spellcheck/tspellcheckdialog.h"
#include "compose/editorkit/hintgate.h"

namespace telvane::cover {
namespace {

constexpr int kHelpCoverEditor = 1018;

}  // namespace

TCoverEditor::TCoverEditor(std::string dir, QWidget* parent) : editorkit::EditorWindow(std::move(dir), parent) {
    setObjectName(QStringLiteral("CoverEditor"));
    setWindowTitle(QStringLiteral("Cover Sheet Template Editor"));

    RichToolCover = new richtext::TRichToolBar(this);
    RichToolCover->setObjectName(QStringLiteral("RichToolCover"));
    RichCover = new richtext::TRichText(this);
    RichCover->setObjectName(QStringLiteral("RichCover"));
    RichCover->setStyleSheet(QStringLiteral("TRichText { background: white; }"));
    RichToolCover->setEditor(RichCover);
    Buttons = editorkit::addPartButtons(RichToolCover, RichCover,
                                        {"PageBreakButton", "ParagraphSetupButton", "WordWrapButton", "DefFontButton"},
                                        programDir(), [this] { FormActivate(); });
    connect(RichCover, &richtext::TRichText::StartSpellCheck, this, &TCoverEditor::richStartSpellCheck);
    new spellcheck::SpellAsYouType(RichCover, programDir());

    auto* panel = new QWidget(this);
    panel->setObjectName(QStringLiteral("BottomPanel"));
    DescriptionLabel = new QLabel(QStringLiteral("Description"), panel);
    CoverDescription = new QLineEdit(panel);
    CoverDescription->setObjectName(QStringLiteral("CoverDescription"));
    CoverDescription->setMaxLength(kDescriptionLength);
    CoverDescription->setToolTip(QStringLiteral("Enter a description for this cover sheet template here"));
    CoverDescription->setMinimumWidth(CoverDescription->fontMetrics().averageCharWidth() * (kDescriptionLength + 4));
    DescriptionLabel->setBuddy(CoverDescription);
    HelpButton = app::makePushButton(panel, "HelpButton", QStringLiteral("&Help"),
                                     QStringLiteral("Open the help for Cover Sheet Template Editor"));
    InsertButton =
        app::makePushButton(panel, "InsertButton", QStringLiteral("&Insert"),
                            QStringLiteral("Insert a field from the recipient data, or the current date and time"));
    InsertMenu = new QMenu(InsertButton);
    InsertMenu->setObjectName(QStringLiteral("InsertMenu"));
    for (const MergeField& field : mergeFields()) {
        QAction* item = InsertMenu->addAction(field.caption);
        connect(item, &QAction::triggered, this, [this, item] { insertItemClick(item->text()); });
    }
    Zoombutton = new editorkit::TZoomButton([this] { return RichCover; }, panel);
    Zoombutton->setAutoDefault(false);
    AcceptButton = app::makePushButton(panel, "AcceptButton", QStringLiteral("&Accept"),
                                       QStringLiteral("Ok - save changes to this template"));
    CancelButton = app::makePushButton(panel, "CancelButton", QStringLiteral("Cance&l"),
                                       QStringLiteral("Cancel - do not save changes to this template"));

    auto* row = new QHBoxLayout(panel);
    row->setContentsMargins(0, 4, 0, 0);
    row->addWidget(DescriptionLabel);
    row->addWidget(CoverDescription, 1);
    row->addSpacing(12);
    row->addWidget(HelpButton);
    row->addWidget(InsertButton);
    row->addWidget(Zoombutton);
    row->addSpacing(12);
    row->addWidget(AcceptButton);
    row->addWidget(CancelButton);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(4, 4, 4, 4);
    layout->setSpacing(0);
    layout->addWidget(new editorkit::TToolBarScroller(RichToolCover, this));
    layout->addWidget(RichCover, 1);
    layout->addWidget(panel);

    connect(HelpButton, &QPushButton::clicked, this, [] { app::showHelp(kHelpCoverEditor); });
    connect(InsertButton, &QPushButton::clicked, this, &TCoverEditor::insertButtonClick);
    connect(AcceptButton, &QPushButton::clicked, this, [this] { done(1); });
    connect(CancelButton, &QPushButton::clicked, this, [this] { reject(); });

    finishWindow(RichToolCover);
}

TCoverEditor::~TCoverEditor() = default;

void TCoverEditor::insertButtonClick() { app::popupMenuUnder(InsertMenu, InsertButton); }

bool TCoverEditor::insertItemClick(const QString& caption) {
    const MergeField* field = mergeFieldForCaption(caption);
    if (!field) return false;
    RichCover->insertInsertPoint(field->tag, field->placeholder);
    RichCover->setFocus();
    return true;
}

void TCoverEditor::richStartSpellCheck() {
    spellcheck::TSpellCheckDialog dialog(programDir(), this);
    dialog.setRichText(RichCover);
    editorkit::followHintSetting(&dialog);
    dialog.adjustSize();  // centred at its real size
    app::centerDialog(&dialog);
    dialog.exec();
    FormActivate();
}

void TCoverEditor::FormActivate() {
    countActivation();
    RichCover->reLayout();
    RichCover->repaintDocument();
    RichCover->moveToStart();
}

void TCoverEditor::firstShow() {
    RichCover->setPageLayout(editorkit::kEditorPageLayout);
    FormActivate();
    RichCover->setFocus();
}

}  // namespace telvane::cover
