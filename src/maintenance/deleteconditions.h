// TDeleteForConditions: which faxes to delete by who sent them, who they went to or the fax
// number, with an exact or a partial match. Ok checks that the chosen field holds something and
// asks once more before it closes.
#pragma once

#include <QDialog>

#include <string>

class QCheckBox;
class QLineEdit;
class QRadioButton;

namespace telvane::maintenance {

class TDeleteForConditions : public QDialog {
    Q_OBJECT
public:
    explicit TDeleteForConditions(QWidget* parent = nullptr);

    // Outgoing page: FROM disabled, RECIPIENT chosen, fields filled from the current record.
    void prepareOutgoing(const QString& recipient, const QString& phone);
    // Incoming page: RECIPIENT and FAX # disabled, FROM chosen and filled (trimmed).
    void prepareIncoming(const QString& from);

    QRadioButton* rFrom() const { return rFrom_; }
    QRadioButton* rRecipient() const { return rRecipient_; }
    QRadioButton* rPhone() const { return rPhone_; }
    QLineEdit* FaxFROM() const { return from_; }
    QLineEdit* FaxRECIPIENT() const { return recipient_; }
    QLineEdit* FaxPHONE() const { return phone_; }
    QCheckBox* ExactMatch() const { return exact_; }

    // The chosen field's name (FROM, RECIPIENT or PHONE) and its text.
    std::string chosenField() const;
    QString chosenText() const;
    // The expression for the choices made (empty when the chosen field is empty).
    std::string expression() const;

    void OkButtonClick();

private:
    QLineEdit* chosenEdit() const;

    QRadioButton* rFrom_;
    QRadioButton* rRecipient_;
    QRadioButton* rPhone_;
    QLineEdit* from_;
    QLineEdit* recipient_;
    QLineEdit* phone_;
    QCheckBox* exact_;
};

}  // namespace telvane::maintenance
