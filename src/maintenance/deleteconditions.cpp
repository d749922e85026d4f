#include "maintenance/deleteconditions.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include "maintenance/cleanupexpr.h"
#include "app/uihelpers.h"

namespace telvane::maintenance {

TDeleteForConditions::TDeleteForConditions(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("TDeleteForConditions"));
    setWindowTitle(QStringLiteral("Delete Faxes Where...."));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);

    const auto choice = [this](const char* name, const QString& caption, const QString& hint) {
        auto* r = new QRadioButton(caption, this);
        r->setObjectName(QString::fromLatin1(name));
        r->setToolTip(hint);
        return r;
    };
    const auto field = [this](const char* name, int maxLength) {
        auto* e = new QLineEdit(this);
        e->setObjectName(QString::fromLatin1(name));
        e->setMaxLength(maxLength);
        return e;
    };
    m_rFrom =
        choice("rFrom", QStringLiteral("Fax is FROM:"), QStringLiteral("For received faxes, who was the fax from"));
    m_rRecipient =
        choice("rRecipient", QStringLiteral("RECIPIENT is:"), QStringLiteral("For SENT faxes, who is the fax to"));
    m_rPhone =
        choice("rPhone", QStringLiteral("FAX # is:"), QStringLiteral("For SENT faxes, what fax number is the fax to"));
    m_from = field("FaxFROM", 20);
    m_recipient = field("FaxRECIPIENT", 35);
    m_phone = field("FaxPHONE", 25);
    m_rRecipient->setChecked(true);

    m_exact = new QCheckBox(QStringLiteral("Text must match exactly"), this);
    m_exact->setObjectName(QStringLiteral("ExactMatch"));
    m_exact->setChecked(true);
    auto* note = new QLabel(QStringLiteral("(uncheck to allow  partial matches)"), this);

    auto* grid = new QGridLayout;
    grid->addWidget(m_rFrom, 0, 0);
    grid->addWidget(m_from, 0, 1);
    grid->addWidget(m_rRecipient, 1, 0);
    grid->addWidget(m_recipient, 1, 1);
    grid->addWidget(m_rPhone, 2, 0);
    grid->addWidget(m_phone, 2, 1);
    grid->setColumnMinimumWidth(1, m_from->fontMetrics().averageCharWidth() * 36);

    QPushButton* ok = MakePushButton(this, "OkButton", QStringLiteral("Ok"), {});
    QPushButton* cancel = MakePushButton(this, "CancelButton", QStringLiteral("Cancel"), {});
    connect(ok, &QPushButton::clicked, this, [this] { OkButtonClick(); });
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(ok);
    buttons->addWidget(cancel);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    layout->addWidget(m_exact);
    layout->addWidget(note);
    layout->addLayout(buttons);
    adjustSize();  // its real size, for centring before it is shown
}

void TDeleteForConditions::prepareOutgoing(const QString& recipient, const QString& phone) {
    m_rFrom->setEnabled(false);
    m_from->setEnabled(false);
    m_rRecipient->setChecked(true);
    m_recipient->setText(recipient);
    m_phone->setText(phone);
}

void TDeleteForConditions::prepareIncoming(const QString& from) {
    for (QWidget* w : {static_cast<QWidget*>(m_rRecipient), static_cast<QWidget*>(m_recipient),
                       static_cast<QWidget*>(m_rPhone), static_cast<QWidget*>(m_phone)})
        w->setEnabled(false);
    m_rFrom->setChecked(true);
    m_from->setText(from.trimmed());
}

QLineEdit* TDeleteForConditions::chosenEdit() const {
    if (m_rFrom->isChecked()) return m_from;
    if (m_rPhone->isChecked()) return m_phone;
    return m_recipient;
}

std::string TDeleteForConditions::chosenField() const {
    if (m_rFrom->isChecked()) return "FROM";
    if (m_rPhone->isChecked()) return "PHONE";
    return "RECIPIENT";
}

QString TDeleteForConditions::chosenText() const { return chosenEdit()->text(); }

std::string TDeleteForConditions::expression() const {
    return matchExpression(chosenField(), chosenText(), m_exact->isChecked());
}

void TDeleteForConditions::OkButtonClick() {
    if (matchValue(chosenText()).empty()) {
        ShowInformation(QStringLiteral("Please enter a value"));
        return;
    }
    if (AskYesNo(QStringLiteral("Are you sure you wish to delete all faxes matching this criteria?"),
                 QStringLiteral("VERIFY DELETE")))
        accept();
}

}  // namespace telvane::maintenance
