// SpellLanguageChoice (see spelllanguagechoice.h).
#include "sessions/spelllanguagechoice.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>

#include "compose/spell/dictpath.h"
#include "compose/spellcheck/spellservice.h"

namespace telvane::sessions {

namespace {

QString languageName(const std::string& code) {
    for (const spell::Language& l : spell::languages()) {
        if (code == l.code) return QString::fromUtf8(l.name);
    }
    return QString::fromStdString(code);
}

}  // namespace

SpellLanguageChoice::SpellLanguageChoice(QWidget* parent) : QWidget(parent) {
    SpellLanguage = new QComboBox(this);
    SpellLanguage->setObjectName(QStringLiteral("SpellLanguage"));
    SpellLanguage->setToolTip(QStringLiteral("The language of the dictionary the spell checker uses"));
    const std::vector<std::string> installed = spell::installedLanguages();
    SpellLanguage->addItem(QStringLiteral("Same as the system (%1)")
                               .arg(languageName(spell::languageForLocale(spell::environmentLocale(), installed))),
                           QString());
    for (const std::string& code : installed) SpellLanguage->addItem(languageName(code), QString::fromStdString(code));
    auto* label = new QLabel(QStringLiteral("&Spelling dictionary:"), this);
    label->setBuddy(SpellLanguage);
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->addWidget(label);
    row->addWidget(SpellLanguage, 1);
}

void SpellLanguageChoice::loadFrom(const settings::Settings& s) {
    const int at = SpellLanguage->findData(QString::fromStdString(s.Other.SpellLanguage));
    SpellLanguage->setCurrentIndex(at < 0 ? 0 : at);
}

void SpellLanguageChoice::storeInto(settings::Settings& s) const {
    const std::string chosen = SpellLanguage->currentData().toString().toStdString();
    if (chosen == s.Other.SpellLanguage) return;
    s.Other.SpellLanguage = chosen;
    spellcheck::SpellService::notifyLanguageChanged();
}

}  // namespace telvane::sessions
