// The wizard's form helpers (see formparts.h).
#include "sessions/formparts.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QVBoxLayout>

#include <algorithm>

namespace telvane::sessions {

QLabel* wrapped(const QString& text) {
    auto* label = new QLabel(text);
    label->setWordWrap(true);
    return label;
}

void addQuestion(QVBoxLayout* layout, const QString& text) {
    layout->addSpacing(6);
    layout->addWidget(wrapped(text));
}

QVBoxLayout* pageLayout(QWidget* page) {
    auto* layout = new QVBoxLayout(page);
    layout->setContentsMargins(4, 0, 4, 0);
    layout->setSpacing(4);
    return layout;
}

QGroupBox* radioGroup(QWidget* owner, const QString& title, const QString& name, const QStringList& items, int columns,
                      QButtonGroup*& group) {
    auto* box = new QGroupBox(title);
    box->setObjectName(name);
    auto* grid = new QGridLayout(box);
    group = new QButtonGroup(owner);
    group->setObjectName(name);
    for (int i = 0; i < items.size(); ++i) {
        auto* radio = new QRadioButton(items[i]);
        radio->setObjectName(name + QString::number(i));
        group->addButton(radio, i);
        grid->addWidget(radio, i / columns, i % columns);
    }
    return box;
}

void setRadioIndex(QButtonGroup* group, int index) {
    const int count = static_cast<int>(group->buttons().size());
    if (index >= count) index = count - 1;
    if (index < 0) {
        group->setExclusive(false);
        for (QAbstractButton* b : group->buttons()) b->setChecked(false);
        group->setExclusive(true);
        return;
    }
    group->button(index)->setChecked(true);
}

QLineEdit* lineEdit(const QString& name, int maxLength) {
    auto* edit = new QLineEdit;
    edit->setObjectName(name);
    if (maxLength > 0) edit->setMaxLength(maxLength);
    return edit;
}

QCheckBox* checkBox(const QString& name, const QString& caption) {
    auto* box = new QCheckBox(caption);
    box->setObjectName(name);
    return box;
}

QPushButton* button(const QString& name, const QString& caption) {
    auto* b = new QPushButton(caption);
    b->setObjectName(name);
    b->setAutoDefault(false);
    return b;
}

void addCaptionedEdit(QVBoxLayout* layout, const QString& caption, QLineEdit* edit, const QString& note) {
    auto* label = new QLabel(caption);
    label->setBuddy(edit);
    layout->addWidget(label);
    auto* row = new QHBoxLayout;
    row->addWidget(edit, 2);
    if (!note.isEmpty()) row->addWidget(new QLabel(note), 1);
    layout->addLayout(row);
}

void keepOnScreen(QWidget* window) {
    const QScreen* screen = window->screen() ? window->screen() : QGuiApplication::primaryScreen();
    if (!screen) return;
    const QRect area = screen->availableGeometry();
    QPoint pos = window->pos();
    const QSize size = window->frameGeometry().size();
    if (pos.x() + size.width() > area.right() + 1) pos.setX(area.right() + 1 - size.width());
    if (pos.y() + size.height() > area.bottom() + 1) pos.setY(area.bottom() + 1 - size.height());
    pos.setX(std::max(pos.x(), area.left()));
    pos.setY(std::max(pos.y(), area.top()));
    window->move(pos);
}

QString elided(const QLabel* label, const QString& text, int width) {
    return label->fontMetrics().elidedText(text, Qt::ElideMiddle, width);
}

}  // namespace telvane::sessions
