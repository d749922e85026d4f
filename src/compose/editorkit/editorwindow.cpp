// EditorWindow (see editorwindow.h).
#include "compose/editorkit/editorwindow.h"

#include "compose/editorkit/hintgate.h"
#include "compose/editorkit/toolbarscroller.h"
#include "app/placement.h"
#include "app/uihelpers.h"

#include <QAbstractSpinBox>
#include <QComboBox>

namespace telvane::editorkit {

EditorWindow::EditorWindow(std::string programDir, QWidget* parent)
    : QDialog(parent), programDir_(std::move(programDir)) {
    setWindowFlags(windowFlags() | Qt::WindowMaximizeButtonHint | Qt::WindowMinimizeButtonHint);
    setSizeGripEnabled(true);
}

void EditorWindow::finishWindow(const QWidget* widestBar) {
    followHintSetting(this);
    resize(defaultEditorSize(widestBar, minimumSizeHint()));
    app::restoreWindowPlacement(this, programDir_);
}

void EditorWindow::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (shown_) return;
    shown_ = true;
    firstShow();
    markUnchanged();
}

namespace {

// The line edits a user types content into (not those inside font and size boxes).
QList<QLineEdit*> contentFields(const QWidget* window) {
    QList<QLineEdit*> out;
    for (QLineEdit* e : window->findChildren<QLineEdit*>()) {
        const QWidget* parent = e->parentWidget();
        if (qobject_cast<const QComboBox*>(parent) || qobject_cast<const QAbstractSpinBox*>(parent)) continue;
        out << e;
    }
    return out;
}

}  // namespace

void EditorWindow::markUnchanged() {
    fieldTexts_.clear();
    for (QLineEdit* e : contentFields(this)) fieldTexts_.append({e, e->text()});
    for (richtext::TRichText* r : findChildren<richtext::TRichText*>()) r->document()->setModified(false);
}

bool EditorWindow::hasChanges() const {
    for (const auto& [field, text] : fieldTexts_)
        if (field && field->text() != text) return true;
    for (const richtext::TRichText* r : findChildren<richtext::TRichText*>())
        if (r->document()->isModified()) return true;
    return false;
}

void EditorWindow::done(int result) {
    app::keepWindowPlacement(this, programDir_);
    QDialog::done(result);
}

void EditorWindow::reject() {
    if (shown_ && hasChanges()) {
        const int answer = app::askYesNoCancel(QStringLiteral("Save changes?"), windowTitle());
        if (answer == app::Prompter::AnswerCancel) return;
        if (answer == app::Prompter::AnswerYes) {
            acceptClick();
            return;
        }
    }
    done(2);
}

}  // namespace telvane::editorkit
