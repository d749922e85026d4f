// TEnterEdit (see tenteredit.h).
#include "compose/editor/tenteredit.h"

#include <QKeyEvent>

namespace telvane::editor {

TEnterEdit::TEnterEdit(QWidget* parent) : QLineEdit(parent) {}

void TEnterEdit::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        if (QWidget* next = nextInFocusChain()) {
            // Skip whatever cannot take the focus (labels, hidden pages) up to the next control that can.
            while (next != this && !(next->isEnabled() && next->isVisible() && (next->focusPolicy() & Qt::TabFocus)))
                next = next->nextInFocusChain();
            next->setFocus(Qt::TabFocusReason);
        }
        event->accept();
        return;
    }
    QLineEdit::keyPressEvent(event);
}

}  // namespace telvane::editor
