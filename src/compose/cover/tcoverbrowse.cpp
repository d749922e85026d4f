// TCoverBrowse (see tcoverbrowse.h).
#include "compose/cover/tcoverbrowse.h"

#include <QLineEdit>
#include <QPushButton>

#include "compose/cover/tcovereditor.h"
#include "compose/editorkit/defaultfont.h"
#include "compose/editorkit/recordwrite.h"
#include "compose/richtext/richtextmemo.h"
#include "compose/richtext/trichtext.h"
#include "app/appstate.h"
#include "app/uihelpers.h"

namespace telvane::cover {
namespace {

constexpr int kHelpCoverBrowser = 1017;

}  // namespace

TCoverBrowse::TCoverBrowse(records::RecordSet& coverTable, records::TXbAccess& coverXb, std::string programDir,
                           QWidget* parent)
    : editorkit::RecordBrowser(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint, parent),
      table_(coverTable),
      xb_(coverXb),
      programDir_(std::move(programDir)) {
    setObjectName(QStringLiteral("CoverBrowse"));
    setWindowTitle(QStringLiteral("Cover Sheet Template Browser"));

    CoverGrid = makeGrid("CoverGrid", table_, {{"DESCRIPT", QStringLiteral("Description"), 35}}, 48);
    NewButton = app::makePushButton(this, "NewButton", QStringLiteral("&New"),
                                    QStringLiteral("Create a new fax cover template"));
    ModifyButton = app::makePushButton(this, "ModifyButton", QStringLiteral("&Edit"),
                                       QStringLiteral("Edit the currently selected fax cover template"));
    CloneButton = app::makePushButton(this, "CloneButton", QStringLiteral("&Clone"),
                                      QStringLiteral("Clone the currently selected fax cover template"));
    DeleteButton = app::makePushButton(this, "DeleteButton", QStringLiteral("&Delete"),
                                       QStringLiteral("Delete  the currently selected fax cover template"));
    connect(NewButton, &QPushButton::clicked, this, &TCoverBrowse::newButtonClick);
    connect(ModifyButton, &QPushButton::clicked, this, &TCoverBrowse::modifyButtonClick);
    connect(CloneButton, &QPushButton::clicked, this, &TCoverBrowse::cloneButtonClick);
    connect(DeleteButton, &QPushButton::clicked, this, &TCoverBrowse::DeleteButtonClick);
    finishLayout(
        {NewButton, ModifyButton, CloneButton, DeleteButton},
        {QStringLiteral("Use this cover sheet template"), QStringLiteral("Cancel - do not use any of these templates"),
         QStringLiteral("Close the Cover Sheet Template Browser"),
         QStringLiteral("Open the help for Cover Sheet Template Browser"), kHelpCoverBrowser});
}

void TCoverBrowse::storeTemplate(TCoverEditor& editor, bool append) {
    editorkit::writeRecord(
        table_, append,
        [&] {
            table_.fieldByName("DESCRIPT")
                .setString(editor.CoverDescription->text().left(TCoverEditor::kDescriptionLength).toStdString());
            if (!richtext::SaveRichText(*editor.RichCover, "COVER", xb_, programDir_))
                throw editorkit::memoError("COVER", xb_.lastError());
        },
        QStringLiteral("The cover template could not be saved."));
    reloadGrid();
    applyButtonStates();
}

void TCoverBrowse::setPickMode(bool pick) {
    editorkit::RecordBrowser::setPickMode(pick);
    applyButtonStates();
}

void TCoverBrowse::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    applyButtonStates();
}

void TCoverBrowse::applyButtonStates() {
    const bool any = hasRecords();
    for (QPushButton* b : {ModifyButton, CloneButton, DeleteButton}) b->setEnabled(any);
    if (pickMode()) AcceptButton->setEnabled(any);
}

void TCoverBrowse::newButtonClick() {
    TCoverEditor editor(programDir_, this);
    if (cloneMode_) {
        const records::Row row = table_.currentRow();
        editor.CoverDescription->setText(QStringLiteral("[clone]") + QString::fromStdString(row.text("DESCRIPT")));
        richtext::LoadRichText(*editor.RichCover, "COVER", xb_, programDir_);
    } else {
        editor.CoverDescription->clear();
        editorkit::applyDefaultFont(*editor.RichCover, app::appSettings());
    }
    cloneMode_ = false;
    if (editor.exec() == 1) storeTemplate(editor, true);
}

void TCoverBrowse::cloneButtonClick() {
    if (!recordsOrBeep()) return;
    cloneMode_ = true;
    newButtonClick();
}

void TCoverBrowse::modifyButtonClick() {
    if (!recordsOrBeep()) return;
    TCoverEditor editor(programDir_, this);
    editor.CoverDescription->setText(QString::fromStdString(table_.currentRow().text("DESCRIPT")));
    richtext::LoadRichText(*editor.RichCover, "COVER", xb_, programDir_);
    if (editor.exec() == 1) storeTemplate(editor, false);
}

void TCoverBrowse::DeleteButtonClick() {
    if (!recordsOrBeep()) return;
    deleteCurrentRecord(QStringLiteral("Delete the current cover template?:\r") +
                            QString::fromStdString(table_.currentRow().text("DESCRIPT")),
                        QStringLiteral("The cover template could not be deleted."));
    applyButtonStates();
}

void TCoverBrowse::acceptButtonClick() {
    if (!recordsOrBeep()) return;
    done(1);
}

}  // namespace telvane::cover
