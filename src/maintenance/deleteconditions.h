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

    QRadioButton* rFrom() const { return m_rFrom; }
    QRadioButton* rRecipient() const { return m_rRecipient; }
    QRadioButton* rPhone() const { return m_rPhone; }
    QLineEdit* FaxFROM() const { return m_from; }
    QLineEdit* FaxRECIPIENT() const { return m_recipient; }
    QLineEdit* FaxPHONE() const { return m_phone; }
    QCheckBox* ExactMatch() const { return m_exact; }

    // The chosen field's name (FROM, RECIPIENT or PHONE) and its text.
    std::string chosenField() const;
    QString chosenText() const;
    // The expression for the choices made (empty when the chosen field is empty).
    std::string expression() const;

    void OkButtonClick();

private:
    QLineEdit* chosenEdit() const;

    QRadioButton* m_rFrom;
    QRadioButton* m_rRecipient;
    QRadioButton* m_rPhone;
    QLineEdit* m_from;
    QLineEdit* m_recipient;
    QLineEdit* m_phone;
    QCheckBox* m_exact;
};

}  // namespace telvane::maintenance
