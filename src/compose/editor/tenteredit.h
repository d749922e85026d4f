// TEnterEdit: a one-line edit in which Enter does not end the dialog but moves the focus to the
// next control of the window, the way a form is filled in field by field. The Enter key is swallowed.
#pragma once

#include <QLineEdit>

namespace telvane::editor {

class TEnterEdit : public QLineEdit {
    Q_OBJECT
public:
    explicit TEnterEdit(QWidget* parent = nullptr);

protected:
    void keyPressEvent(QKeyEvent* event) override;
};

}  // namespace telvane::editor
