// Keyboard reach of a window in widget tests: the push buttons a user sees that no key reaches (no
// Alt+letter, no shortcut) and the Alt+letters that more than one visible control claims. Radio
// buttons and check boxes are left out: Tab and the arrow keys reach them within their group.
#pragma once

#include <QAbstractButton>
#include <QGroupBox>
#include <QKeySequence>
#include <QLabel>
#include <QMap>
#include <QPushButton>
#include <QStringList>
#include <QWidget>

namespace telvane::test {

// The Alt+letter a caption defines ("&&" is a literal ampersand), or "" when it has none.
inline QString mnemonicOf(const QString& caption) {
    for (qsizetype at = caption.indexOf(QLatin1Char('&')); at >= 0 && at + 1 < caption.size();
         at = caption.indexOf(QLatin1Char('&'), at + 2)) {
        if (caption.at(at + 1) != QLatin1Char('&')) return caption.mid(at + 1, 1).toLower();
    }
    return {};
}

// Visible push buttons with a caption that neither an Alt+letter nor a shortcut reaches.
inline QStringList buttonsWithoutKeys(const QWidget* window) {
    QStringList out;
    for (const QPushButton* b : window->findChildren<QPushButton*>()) {
        if (!b->isVisibleTo(window) || b->text().isEmpty()) continue;
        if (mnemonicOf(b->text()).isEmpty() && b->shortcut().isEmpty()) out << b->text();
    }
    return out;
}

// Alt+letters claimed by more than one visible control (buttons, labels, group boxes), as
// "letter: caption | caption".
inline QStringList sharedMnemonics(const QWidget* window) {
    QMap<QString, QStringList> owners;
    const auto note = [&](const QWidget* w, const QString& caption) {
        const QString key = mnemonicOf(caption);
        if (!key.isEmpty() && w->isVisibleTo(window)) owners[key] << caption;
    };
    for (const QAbstractButton* b : window->findChildren<QAbstractButton*>()) note(b, b->text());
    for (const QLabel* l : window->findChildren<QLabel*>())
        if (l->buddy()) note(l, l->text());
    for (const QGroupBox* g : window->findChildren<QGroupBox*>()) note(g, g->title());
    QStringList out;
    for (auto it = owners.cbegin(); it != owners.cend(); ++it)
        if (it.value().size() > 1) out << it.key() + QStringLiteral(": ") + it.value().join(QStringLiteral(" | "));
    return out;
}

}  // namespace telvane::test
