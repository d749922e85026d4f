// Note dialog of a received fax.
#include "shell/receivenotes.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace telvane {

TEditReceiveNotes::TEditReceiveNotes(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("EditReceiveNotes"));
    setWindowTitle(QStringLiteral("Received Fax Notes"));
    setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);

    m_descript = new QLabel(QStringLiteral("From: "), this);
    m_descript->setObjectName(QStringLiteral("Descript"));
    m_notes = new QLineEdit(this);
    m_notes->setObjectName(QStringLiteral("Notes"));
    m_notes->setMaxLength(kNotesLength);
    m_notes->setMinimumWidth(m_notes->fontMetrics().horizontalAdvance(QLatin1Char('M')) * 36);
    m_descript->setBuddy(m_notes);

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
    layout->addWidget(m_descript);
    layout->addWidget(m_notes);
    layout->addSpacing(6);
    layout->addLayout(buttons);
    setFixedSize(sizeHint());
}

void TEditReceiveNotes::reject() { done(2); }

}  // namespace telvane
