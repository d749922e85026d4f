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
    rFrom_ =
        choice("rFrom", QStringLiteral("Fax is FROM:"), QStringLiteral("For received faxes, who was the fax from"));
    rRecipient_ =
        choice("rRecipient", QStringLiteral("RECIPIENT is:"), QStringLiteral("For SENT faxes, who is the fax to"));
    rPhone_ =
        choice("rPhone", QStringLiteral("FAX # is:"), QStringLiteral("For SENT faxes, what fax number is the fax to"));
    from_ = field("FaxFROM", 20);
    recipient_ = field("FaxRECIPIENT", 35);
    phone_ = field("FaxPHONE", 25);
    rRecipient_->setChecked(true);

    exact_ = new QCheckBox(QStringLiteral("Text must match exactly"), this);
    exact_->setObjectName(QStringLiteral("ExactMatch"));
    exact_->setChecked(true);
    auto* note = new QLabel(QStringLiteral("(uncheck to allow  partial matches)"), this);

    auto* grid = new QGridLayout;
    grid->addWidget(rFrom_, 0, 0);
    grid->addWidget(from_, 0, 1);
    grid->addWidget(rRecipient_, 1, 0);
    grid->addWidget(recipient_, 1, 1);
    grid->addWidget(rPhone_, 2, 0);
    grid->addWidget(phone_, 2, 1);
    grid->setColumnMinimumWidth(1, from_->fontMetrics().averageCharWidth() * 36);

    QPushButton* ok = app::makePushButton(this, "OkButton", QStringLiteral("Ok"), {});
    QPushButton* cancel = app::makePushButton(this, "CancelButton", QStringLiteral("Cancel"), {});
    connect(ok, &QPushButton::clicked, this, [this] { OkButtonClick(); });
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(ok);
    buttons->addWidget(cancel);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    layout->addWidget(exact_);
    layout->addWidget(note);
    layout->addLayout(buttons);
    adjustSize();  // its real size, for centring before it is shown
}

void TDeleteForConditions::prepareOutgoing(const QString& recipient, const QString& phone) {
    rFrom_->setEnabled(false);
    from_->setEnabled(false);
    rRecipient_->setChecked(true);
    recipient_->setText(recipient);
    phone_->setText(phone);
}

void TDeleteForConditions::prepareIncoming(const QString& from) {
    for (QWidget* w : {static_cast<QWidget*>(rRecipient_), static_cast<QWidget*>(recipient_),
                       static_cast<QWidget*>(rPhone_), static_cast<QWidget*>(phone_)})
        w->setEnabled(false);
    rFrom_->setChecked(true);
    from_->setText(from.trimmed());
}

QLineEdit* TDeleteForConditions::chosenEdit() const {
    if (rFrom_->isChecked()) return from_;
    if (rPhone_->isChecked()) return phone_;
    return recipient_;
}

std::string TDeleteForConditions::chosenField() const {
    if (rFrom_->isChecked()) return "FROM";
    if (rPhone_->isChecked()) return "PHONE";
    return "RECIPIENT";
}

QString TDeleteForConditions::chosenText() const { return chosenEdit()->text(); }

std::string TDeleteForConditions::expression() const {
    return matchExpression(chosenField(), chosenText(), exact_->isChecked());
}

void TDeleteForConditions::OkButtonClick() {
    if (matchValue(chosenText()).empty()) {
        app::ShowInformation(QStringLiteral("Please enter a value"));
        return;
    }
    if (app::AskYesNoDefaultNo(QStringLiteral("Are you sure you wish to delete all faxes matching this criteria?"),
                               QStringLiteral("VERIFY DELETE")))
        accept();
}

}  // namespace telvane::maintenance
