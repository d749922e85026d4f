// TPhoneBookEditor: the "Phone Book Editor" dialog for one entry: Name (at most 35 characters) and
// Number (at most 25). "&Accept" (default button) closes with 1, "Cance&l" (cancel button) with 2.
// Nothing typed is validated: an empty name or number is stored as it is.
#pragma once

#include <QDialog>

class QLineEdit;
class QPushButton;

namespace telvane::phonebook {

class TPhoneBookEditor : public QDialog {
    Q_OBJECT
public:
    static constexpr int kNameLength = 35;
    static constexpr int kNumberLength = 25;

    explicit TPhoneBookEditor(QWidget* parent = nullptr);

    QLineEdit* Name = nullptr;
    QLineEdit* Number = nullptr;
    QPushButton* AcceptButton = nullptr;
    QPushButton* CancelButton = nullptr;
    QPushButton* HelpButton = nullptr;

public slots:
    void reject() override;
};

}  // namespace telvane::phonebook
