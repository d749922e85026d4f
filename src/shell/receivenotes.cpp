// Note dialog of a received fax.
#include "shell/receivenotes.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace telvane::shell {

TEditReceiveNotes::TEditReceiveNotes(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("EditReceiveNotes"));
    setWindowTitle(QStringLiteral("Received Fax Notes"));
    setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);

    descript_ = new QLabel(QStringLiteral("From: "), this);
    descript_->setObjectName(QStringLiteral("Descript"));
    notes_ = new QLineEdit(this);
    notes_->setObjectName(QStringLiteral("Notes"));
    notes_->setMaxLength(kNotesLength);
    notes_->setMinimumWidth(notes_->fontMetrics().horizontalAdvance(QLatin1Char('M')) * 36);
    descript_->setBuddy(notes_);

    auto* accept = new QPushButton(QStringLiteral("&Accept"), this);
    accept->setObjectName(QStringLiteral("AcceptButton"));
    accept->setDefault(true);
    auto* cancel = new QPushButton(QStringLiteral("Cance&l"), this);
    cancel->setObjectName(QStringLiteral("CancelButton"));
    connect(accept, &QPushButton::clicked, this, [this] { done(1); });
    connect(cancel, &QPushButton::clicked, this, [this] { done(2); });

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(accept);
    buttons->addWidget(cancel);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(descript_);
    layout->addWidget(notes_);
    layout->addSpacing(6);
    layout->addLayout(buttons);
    setFixedSize(sizeHint());
}

void TEditReceiveNotes::reject() { done(2); }

}  // namespace telvane::shell
