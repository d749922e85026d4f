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

namespace telvane {
namespace {

constexpr int kHelpCoverEditor = 1018;

}  // namespace

TCoverEditor::TCoverEditor(std::string dir, QWidget* parent) : EditorWindow(std::move(dir), parent) {
    setObjectName(QStringLiteral("CoverEditor"));
    setWindowTitle(QStringLiteral("Cover Sheet Template Editor"));

    RichToolCover = new TRichToolBar(this);
    RichToolCover->setObjectName(QStringLiteral("RichToolCover"));
    RichCover = new TRichText(this);
    RichCover->setObjectName(QStringLiteral("RichCover"));
    RichCover->setStyleSheet(QStringLiteral("TRichText { background: white; }"));
    RichToolCover->SetEditor(RichCover);
    Buttons = AddPartButtons(RichToolCover, RichCover,
                             {"PageBreakButton", "ParagraphSetupButton", "WordWrapButton", "DefFontButton"},
                             programDir(), [this] { FormActivate(); });
    connect(RichCover, &TRichText::StartSpellCheck, this, &TCoverEditor::RichStartSpellCheck);
    new SpellAsYouType(RichCover, programDir());

    auto* panel = new QWidget(this);
    panel->setObjectName(QStringLiteral("BottomPanel"));
    DescriptionLabel = new QLabel(QStringLiteral("Description"), panel);
    CoverDescription = new QLineEdit(panel);
    CoverDescription->setObjectName(QStringLiteral("CoverDescription"));
    CoverDescription->setMaxLength(kDescriptionLength);
    CoverDescription->setToolTip(QStringLiteral("Enter a description for this cover sheet template here"));
    CoverDescription->setMinimumWidth(CoverDescription->fontMetrics().averageCharWidth() * (kDescriptionLength + 4));
    DescriptionLabel->setBuddy(CoverDescription);
    HelpButton = MakePushButton(panel, "HelpButton", QStringLiteral("&Help"),
                                QStringLiteral("Open the help for Cover Sheet Template Editor"));
    InsertButton =
        MakePushButton(panel, "InsertButton", QStringLiteral("&Insert"),
                       QStringLiteral("Insert a field from the recipient data, or the current date and time"));
    InsertMenu = new QMenu(InsertButton);
    InsertMenu->setObjectName(QStringLiteral("InsertMenu"));
    for (const MergeField& field : MergeFields()) {
        QAction* item = InsertMenu->addAction(field.caption);
        connect(item, &QAction::triggered, this, [this, item] { InsertItemClick(item->text()); });
    }
    Zoombutton = new TZoomButton([this] { return RichCover; }, panel);
    Zoombutton->setAutoDefault(false);
    AcceptButton = MakePushButton(panel, "AcceptButton", QStringLiteral("&Accept"),
                                  QStringLiteral("Ok - save changes to this template"));
    CancelButton = MakePushButton(panel, "CancelButton", QStringLiteral("Cance&l"),
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
    layout->addWidget(new TToolBarScroller(RichToolCover, this));
    layout->addWidget(RichCover, 1);
    layout->addWidget(panel);

    connect(HelpButton, &QPushButton::clicked, this, [] { ShowHelp(kHelpCoverEditor); });
    connect(InsertButton, &QPushButton::clicked, this, &TCoverEditor::InsertButtonClick);
    connect(AcceptButton, &QPushButton::clicked, this, [this] { done(1); });
    connect(CancelButton, &QPushButton::clicked, this, [this] { reject(); });

    FinishWindow(RichToolCover);
}

TCoverEditor::~TCoverEditor() = default;

void TCoverEditor::InsertButtonClick() { PopupMenuUnder(InsertMenu, InsertButton); }

bool TCoverEditor::InsertItemClick(const QString& caption) {
    const MergeField* field = MergeFieldForCaption(caption);
    if (!field) return false;
    RichCover->InsertInsertPoint(field->tag, field->placeholder);
    RichCover->setFocus();
    return true;
}

void TCoverEditor::RichStartSpellCheck() {
    TSpellCheckDialog dialog(programDir(), this);
    dialog.SetRichText(RichCover);
    FollowHintSetting(&dialog);
    dialog.adjustSize();  // centred at its real size
    CenterDialog(&dialog);
    dialog.exec();
    FormActivate();
}

void TCoverEditor::FormActivate() {
    CountActivation();
    RichCover->ReLayout();
    RichCover->Repaint();
    RichCover->MoveToStart();
}

void TCoverEditor::FirstShow() {
    RichCover->SetPageLayout(kEditorPageLayout);
    FormActivate();
    RichCover->setFocus();
}

}  // namespace telvane
