// The language of the spelling dictionary, as Preferences offers it: a labelled list of the
// languages whose main dictionary is installed, headed by "Same as the system", which follows the
// user's locale. Storing the choice into the settings makes the open spell checkers use the new
// dictionary at once.
#pragma once

#include <QWidget>

#include "settings/settings.h"

class QComboBox;

namespace telvane::sessions {

class SpellLanguageChoice : public QWidget {
    Q_OBJECT
public:
    explicit SpellLanguageChoice(QWidget* parent = nullptr);

    void loadFrom(const settings::Settings& s);
    // Stores the choice into s (Other.SpellLanguage); when it changed, the spell checkers reopen
    // their dictionaries.
    void storeInto(settings::Settings& s) const;

    QComboBox* SpellLanguage = nullptr;
};

}  // namespace telvane::sessions
