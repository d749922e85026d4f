// TPhoneBookEditor (see tphonebookeditor.h).
#include "compose/phonebook/tphonebookeditor.h"

#include "app/faxnumber.h"
#include "compose/editorkit/hintgate.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "app/helpwindow.h"
#include "app/uihelpers.h"

namespace telvane::phonebook {
namespace {

constexpr int kHelpPhoneBookEditor = 1020;

}  // namespace

TPhoneBookEditor::TPhoneBookEditor(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint) {
    setObjectName(QStringLiteral("PhoneBookEditor"));
    setWindowTitle(QStringLiteral("Phone Book Editor"));

    Name = new QLineEdit(this);
    Name->setObjectName(QStringLiteral("Name"));
    Name->setMaxLength(kNameLength);
    Name->setToolTip(QStringLiteral("Type the recipient's name here"));
    Name->setMinimumWidth(Name->fontMetrics().averageCharWidth() * (kNameLength + 4));
    Number = new QLineEdit(this);
    Number->setObjectName(QStringLiteral("Number"));
    Number->setMaxLength(kNumberLength);
    Number->setToolTip(QStringLiteral("Type the fax number here"));
    auto* nameLabel = new QLabel(QStringLiteral("&Name"), this);
    nameLabel->setBuddy(Name);
    auto* numberLabel = new QLabel(QStringLiteral("Fax N&umber"), this);
    numberLabel->setBuddy(Number);

    AcceptButton = new QPushButton(QStringLiteral("&Accept"), this);
    AcceptButton->setObjectName(QStringLiteral("AcceptButton"));
    AcceptButton->setToolTip(QStringLiteral("Accept changes made and exit"));
    AcceptButton->setDefault(true);
    CancelButton = app::makePushButton(this, "CancelButton", QStringLiteral("Cance&l"),
                                       QStringLiteral("Cancel changes made and exit"));
    HelpButton = app::makePushButton(this, "HelpButton", QStringLiteral("&Help"),
                                     QStringLiteral("Open the help for Phone Book Editor"));

    auto* grid = new QGridLayout(this);
    grid->addWidget(nameLabel, 0, 0);
    grid->addWidget(Name, 0, 1);
    grid->addWidget(numberLabel, 1, 0);
    grid->addWidget(Number, 1, 1, Qt::AlignLeft);
    Number->setMinimumWidth(Number->fontMetrics().averageCharWidth() * (kNumberLength + 4));
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(AcceptButton);
    buttons->addWidget(CancelButton);
    buttons->addWidget(HelpButton);
    grid->addLayout(buttons, 2, 0, 1, 2);
    grid->setSizeConstraint(QLayout::SetFixedSize);

    editorkit::followHintSetting(this);
    connect(AcceptButton, &QPushButton::clicked, this, [this] {
        // A number the modem could not dial is refused here, where it can be put right.
        if (const QString problem = app::faxNumberProblem(Number->text()); !problem.isEmpty()) {
            app::ShowInformation(problem);
            Number->setFocus();
            return;
        }
        done(1);
    });
    connect(CancelButton, &QPushButton::clicked, this, [this] { done(2); });
    connect(HelpButton, &QPushButton::clicked, this, [] { app::showHelp(kHelpPhoneBookEditor); });
}

// Esc and the title bar's close button ask before typed changes are thrown away; the Cancel
// button says what it does and does not ask.
void TPhoneBookEditor::reject() {
    if ((Name->isModified() || Number->isModified()) &&
        !app::AskYesNoDefaultNo(QStringLiteral("Discard the changes made to this entry?"), windowTitle()))
        return;
    done(2);
}

}  // namespace telvane::phonebook
