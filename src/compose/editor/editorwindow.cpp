// EditorWindow (see editorwindow.h).
#include "compose/editor/editorwindow.h"

#include "compose/editor/hintgate.h"
#include "compose/editor/toolbarscroller.h"
#include "app/placement.h"

namespace telvane {

EditorWindow::EditorWindow(std::string programDir, QWidget* parent)
    : QDialog(parent), programDir_(std::move(programDir)) {
    setWindowFlags(windowFlags() | Qt::WindowMaximizeButtonHint | Qt::WindowMinimizeButtonHint);
    setSizeGripEnabled(true);
}

void EditorWindow::FinishWindow(const QWidget* widestBar) {
    FollowHintSetting(this);
    resize(DefaultEditorSize(widestBar, minimumSizeHint()));
    RestoreWindowPlacement(this, programDir_);
}

void EditorWindow::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (shown_) return;
    shown_ = true;
    FirstShow();
}

void EditorWindow::done(int result) {
    KeepWindowPlacement(this, programDir_);
    QDialog::done(result);
}

void EditorWindow::reject() { done(2); }

}  // namespace telvane
