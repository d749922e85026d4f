// TPhoneBook (see tphonebook.h).
#include "compose/phonebook/tphonebook.h"

#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "compose/editor/recordwrite.h"
#include "compose/phonebook/tphonebookeditor.h"
#include "compose/editor/hintgate.h"
#include "records/fax_tables.h"
#include "shell/helpwindow.h"
#include "shell/loggrid.h"
#include "shell/uihelpers.h"

namespace telvane {
namespace {

constexpr int kHelpPhoneBook = 1019;

}  // namespace

TPhoneBook::TPhoneBook(std::string programDir, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint),
      programDir_(std::move(programDir)) {
  setObjectName(QStringLiteral("PhoneBook"));
  setWindowTitle(QStringLiteral("Phone Book Browser"));
  xb_.bind(table_);

  PhoneGrid = new TLogGrid(this);
  PhoneGrid->setObjectName(QStringLiteral("PhoneGrid"));
  model_ = new LogTableModel(table_, {{"NAME", QStringLiteral("Name"), 35}, {"PHONE", QStringLiteral("Fax #"), 25}},
                             PhoneGrid);
  PhoneGrid->setLogModel(model_);
  PhoneGrid->setMinimumSize(PhoneGrid->fontMetrics().averageCharWidth() * 72, PhoneGrid->fontMetrics().height() * 14);

  NewButton = MakePushButton(this, "NewButton", QStringLiteral("&New"), QStringLiteral("Create a new phone book entry"));
  EditButton = MakePushButton(this, "EditButton", QStringLiteral("&Edit"),
                          QStringLiteral("Edit the currently selected phone book entry"));
  DeleteButton = MakePushButton(this, "DeleteButton", QStringLiteral("&Delete"),
                            QStringLiteral("Delete the currently selected phone book entry"));
  AcceptButton = MakePushButton(this, "AcceptButton", QStringLiteral("&Accept"), QStringLiteral("Use this phone book entry"));
  CancelButton = MakePushButton(this, "CancelButton", QStringLiteral("Cance&l"),
                            QStringLiteral("Cancel - do not use any of these phone book entries"));
  CloseButton = MakePushButton(this, "CloseButton", QStringLiteral("C&lose"), QStringLiteral("Close the Phone Book Browser"));
  HelpButton = MakePushButton(this, "HelpButton", QStringLiteral("&Help"), QStringLiteral("Get Windows help for Phonebook Browser"));

  auto* buttons = new QHBoxLayout;
  for (QPushButton* b : {NewButton, EditButton, DeleteButton}) buttons->addWidget(b);
  buttons->addStretch(1);
  for (QPushButton* b : {AcceptButton, CancelButton, CloseButton, HelpButton}) buttons->addWidget(b);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(PhoneGrid, 1);
  layout->addLayout(buttons);
  layout->setSizeConstraint(QLayout::SetFixedSize);

  connect(NewButton, &QPushButton::clicked, this, &TPhoneBook::NewButtonClick);
  connect(EditButton, &QPushButton::clicked, this, &TPhoneBook::EditButtonClick);
  connect(DeleteButton, &QPushButton::clicked, this, &TPhoneBook::DeleteButtonClick);
  connect(AcceptButton, &QPushButton::clicked, this, &TPhoneBook::AcceptButtonClick);
  connect(CancelButton, &QPushButton::clicked, this, [this] { done(2); });
  connect(CloseButton, &QPushButton::clicked, this, [this] { done(2); });
  connect(HelpButton, &QPushButton::clicked, this, [] { ShowHelp(kHelpPhoneBook); });
  connect(PhoneGrid, &QAbstractItemView::doubleClicked, this, [this] {
    if (pick_) AcceptButtonClick();
  });
  FollowHintSetting(this);
  SetPickMode(false);
}

TPhoneBook::~TPhoneBook() {
  // The model listens to this window's record set, which goes before the child widgets do.
  PhoneGrid->setModel(nullptr);
  delete model_;
  model_ = nullptr;
  try {
    table_.close();
  } catch (const records::EXbError&) {
    // Every change was posted when it was made.
  }
}

bool TPhoneBook::OpenTable() { return records::OpenPhoneDBF(programDir_, table_, xb_); }

void TPhoneBook::SetPickMode(bool pick) {
  pick_ = pick;
  AcceptButton->setVisible(pick);
  CancelButton->setVisible(pick);
  CloseButton->setVisible(!pick);
  (pick ? AcceptButton : CloseButton)->setDefault(true);
  applyButtonStates();
}

void TPhoneBook::reject() { done(2); }

bool TPhoneBook::hasRecords() const { return table_.active() && table_.visibleCount() > 0; }

void TPhoneBook::SetButtonStates() {
  LetMessagesRun();
  applyButtonStates();
}

void TPhoneBook::applyButtonStates() {
  const bool any = hasRecords();
  EditButton->setEnabled(any);
  DeleteButton->setEnabled(any);
  if (pick_) AcceptButton->setEnabled(any);
}

void TPhoneBook::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  SetButtonStates();
}

void TPhoneBook::editEntry(bool append) {
  TPhoneBookEditor editor(this);
  if (!append) {
    const records::Row row = table_.currentRow();
    editor.Name->setText(QString::fromStdString(row.text("NAME")));
    editor.Number->setText(QString::fromStdString(row.text("PHONE")));
  }
  CenterDialog(&editor);
  if (editor.exec() == 1) {
    WriteRecord(
        table_, append,
        [&] {
          table_.fieldByName("NAME").setString(editor.Name->text().toStdString());
          table_.fieldByName("PHONE").setString(editor.Number->text().toStdString());
        },
        QStringLiteral("The phone book entry could not be saved."));
  }
  model_->reload();
  SetButtonStates();
}

void TPhoneBook::NewButtonClick() { editEntry(true); }

void TPhoneBook::EditButtonClick() {
  if (!hasRecords()) {
    Beep();
    return;
  }
  editEntry(false);
}

void TPhoneBook::DeleteButtonClick() {
  if (!hasRecords()) {
    Beep();
    return;
  }
  const QString name = QString::fromStdString(table_.currentRow().text("NAME"));
  if (AskYesNoDefaultNo(QStringLiteral("Delete the current phone book entry?:\r") + name, QStringLiteral("Delete"))) {
    try {
      table_.deleteRecord();
    } catch (const records::EXbError& e) {
      ShowInformation(QStringLiteral("The phone book entry could not be deleted.\r") + QString::fromStdString(e.what()));
    }
  }
  model_->reload();
  SetButtonStates();
}

void TPhoneBook::AcceptButtonClick() {
  if (!hasRecords()) {
    Beep();
    return;
  }
  const records::Row row = table_.currentRow();
  pickedName_ = QString::fromStdString(row.text("NAME"));
  pickedNumber_ = QString::fromStdString(row.text("PHONE"));
  done(1);
}

}  // namespace telvane
