// TCoverBrowse (see tcoverbrowse.h).
#include "compose/cover/tcoverbrowse.h"

#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "compose/cover/tcovereditor.h"
#include "compose/editor/defaultfont.h"
#include "compose/editor/recordwrite.h"
#include "compose/richtext/richtextmemo.h"
#include "compose/richtext/trichtext.h"
#include "compose/editor/hintgate.h"
#include "shell/appstate.h"
#include "shell/helpwindow.h"
#include "shell/loggrid.h"
#include "shell/uihelpers.h"

namespace telvane {
namespace {

constexpr int kHelpCoverBrowser = 1017;

}  // namespace

TCoverBrowse::TCoverBrowse(records::RecordSet& coverTable, records::TXbAccess& coverXb, std::string programDir,
                           QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint),
      table_(coverTable),
      xb_(coverXb),
      programDir_(std::move(programDir)) {
  setObjectName(QStringLiteral("CoverBrowse"));
  setWindowTitle(QStringLiteral("Cover Sheet Template Browser"));

  CoverGrid = new TLogGrid(this);
  CoverGrid->setObjectName(QStringLiteral("CoverGrid"));
  model_ = new LogTableModel(table_, {{"DESCRIPT", QStringLiteral("Description"), 35}}, CoverGrid);
  CoverGrid->setLogModel(model_);
  CoverGrid->setMinimumSize(CoverGrid->fontMetrics().averageCharWidth() * 48, CoverGrid->fontMetrics().height() * 14);

  NewButton = MakePushButton(this, "NewButton", QStringLiteral("&New"), QStringLiteral("Create a new fax cover template"));
  ModifyButton = MakePushButton(this, "ModifyButton", QStringLiteral("&Edit"),
                            QStringLiteral("Edit the currently selected fax cover template"));
  CloneButton = MakePushButton(this, "CloneButton", QStringLiteral("&Clone"),
                           QStringLiteral("Clone the currently selected fax cover template"));
  DeleteButton = MakePushButton(this, "DeleteButton", QStringLiteral("&Delete"),
                            QStringLiteral("Delete  the currently selected fax cover template"));
  AcceptButton = MakePushButton(this, "AcceptButton", QStringLiteral("&Accept"), QStringLiteral("Use this cover sheet template"));
  CancelButton = MakePushButton(this, "CancelButton", QStringLiteral("Cance&l"),
                            QStringLiteral("Cancel - do not use any of these templates"));
  CloseButton = MakePushButton(this, "CloseButton", QStringLiteral("C&lose"),
                           QStringLiteral("Close the Cover Sheet Template Browser"));
  HelpButton = MakePushButton(this, "HelpButton", QStringLiteral("&Help"),
                          QStringLiteral("Get Windows help for Cover Sheet Template Browser"));

  auto* buttons = new QHBoxLayout;
  for (QPushButton* b : {NewButton, ModifyButton, CloneButton, DeleteButton}) buttons->addWidget(b);
  buttons->addStretch(1);
  for (QPushButton* b : {AcceptButton, CancelButton, CloseButton, HelpButton}) buttons->addWidget(b);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(CoverGrid, 1);
  layout->addLayout(buttons);
  layout->setSizeConstraint(QLayout::SetFixedSize);

  connect(NewButton, &QPushButton::clicked, this, &TCoverBrowse::NewButtonClick);
  connect(ModifyButton, &QPushButton::clicked, this, &TCoverBrowse::ModifyButtonClick);
  connect(CloneButton, &QPushButton::clicked, this, &TCoverBrowse::CloneButtonClick);
  connect(DeleteButton, &QPushButton::clicked, this, &TCoverBrowse::DeleteButtonClick);
  connect(AcceptButton, &QPushButton::clicked, this, &TCoverBrowse::AcceptButtonClick);
  connect(CancelButton, &QPushButton::clicked, this, [this] { done(2); });
  connect(CloseButton, &QPushButton::clicked, this, [this] { done(2); });
  connect(HelpButton, &QPushButton::clicked, this, [] { ShowHelp(kHelpCoverBrowser); });
  connect(CoverGrid, &QAbstractItemView::doubleClicked, this, [this] {
    if (pick_) AcceptButtonClick();
  });
  FollowHintSetting(this);
  SetPickMode(false);
}

TCoverBrowse::~TCoverBrowse() {
  // The model listens to the caller's table; it must stop before this window is gone.
  CoverGrid->setModel(nullptr);
  delete model_;
}

void TCoverBrowse::SetPickMode(bool pick) {
  pick_ = pick;
  AcceptButton->setVisible(pick);
  CancelButton->setVisible(pick);
  CloseButton->setVisible(!pick);
  (pick ? AcceptButton : CloseButton)->setDefault(true);
}

void TCoverBrowse::reject() { done(2); }

bool TCoverBrowse::hasRecords() const { return table_.active() && table_.visibleCount() > 0; }

void TCoverBrowse::storeTemplate(TCoverEditor& editor, bool append) {
  WriteRecord(
      table_, append,
      [&] {
        table_.fieldByName("DESCRIPT")
            .setString(editor.CoverDescription->text().left(TCoverEditor::kDescriptionLength).toStdString());
        if (!SaveRichText(*editor.RichCover, "COVER", xb_, programDir_)) throw MemoError("COVER", xb_.lastError());
      },
      QStringLiteral("The cover template could not be saved."));
  model_->reload();
}

void TCoverBrowse::NewButtonClick() {
  TCoverEditor editor(programDir_, this);
  if (cloneMode_) {
    const records::Row row = table_.currentRow();
    editor.CoverDescription->setText(QStringLiteral("[clone]") + QString::fromStdString(row.text("DESCRIPT")));
    LoadRichText(*editor.RichCover, "COVER", xb_, programDir_);
  } else {
    editor.CoverDescription->setText(QStringLiteral("{description}"));
    ApplyDefaultFont(*editor.RichCover, AppSettings());
  }
  cloneMode_ = false;
  if (editor.exec() == 1) storeTemplate(editor, true);
}

void TCoverBrowse::CloneButtonClick() {
  if (!hasRecords()) {
    Beep();
    return;
  }
  cloneMode_ = true;
  NewButtonClick();
}

void TCoverBrowse::ModifyButtonClick() {
  if (!hasRecords()) {
    Beep();
    return;
  }
  TCoverEditor editor(programDir_, this);
  editor.CoverDescription->setText(QString::fromStdString(table_.currentRow().text("DESCRIPT")));
  LoadRichText(*editor.RichCover, "COVER", xb_, programDir_);
  if (editor.exec() == 1) storeTemplate(editor, false);
}

void TCoverBrowse::DeleteButtonClick() {
  if (!hasRecords()) {
    Beep();
    return;
  }
  const QString description = QString::fromStdString(table_.currentRow().text("DESCRIPT"));
  if (AskYesNoDefaultNo(QStringLiteral("Delete the current cover template?:\r") + description, QStringLiteral("Delete"))) {
    try {
      table_.deleteRecord();
    } catch (const records::EXbError& e) {
      ShowInformation(QStringLiteral("The cover template could not be deleted.\r") + QString::fromStdString(e.what()));
    }
  }
  model_->reload();
}

void TCoverBrowse::AcceptButtonClick() {
  if (!hasRecords()) {
    Beep();
    return;
  }
  done(1);
}

}  // namespace telvane
