// The spell checker as the editors use it while typing: one engine for the program with the main
// dictionary of the user's language and the user dictionary of the data directory (created on first
// use), a list of words ignored for this run, and a cache of answers. Words are Qt strings; a word
// with a character that Windows-1252 or the dictionary alphabet lacks cannot be judged by the
// dictionaries and counts as correct.
#pragma once

#include <QHash>
#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>
#include <optional>
#include <string>

#include "compose/spell/tacropspell.h"

namespace telvane::spellcheck {

// Windows-1252 form of a word; empty when a character has none (the right single quotation mark
// counts as the apostrophe).
std::optional<std::string> toCp1252(const QString& word);
QString fromCp1252(const std::string& text);

// A word of a paragraph's text as the spell checker walks it: letters and digits with apostrophes
// inside; words holding a digit are left out.
struct TextWord {
    int start = 0;
    int length = 0;
};
QList<TextWord> wordsOfText(const QString& text);

// The language of the main dictionary: the setting Other.SpellLanguage when its dictionary is
// installed, else the installed one that suits the user's locale.
std::string spellLanguage();
// The main dictionary to open for a data directory (see spell::MainDictionaryPath).
std::string mainDictionaryFor(const std::string& programDir);

class SpellService : public QObject {
    Q_OBJECT
public:
    // The service of a data directory (ending with '/'); opened on first use.
    static SpellService& instance(const std::string& programDir);
    // Tells every service that the dictionaries changed on disk (a word was added elsewhere).
    static void notifyDictionariesChanged();
    // Tells every service that the language was changed: each opens its dictionaries again.
    static void notifyLanguageChanged();

    // True when a main dictionary could be opened.
    bool available();
    bool isWord(const QString& word);
    QStringList suggest(const QString& word);
    bool canAdd();
    bool addWord(const QString& word);
    // The word passes for the rest of this run.
    void ignore(const QString& word);

    // Checking as you type, from the settings (Other.SpellCheckAsYouType).
    static bool asYouType();
    static void setAsYouType(bool on);

signals:
    // Answers may have changed: marked words must be looked at again.
    void changed();

private:
    explicit SpellService(std::string programDir);
    void open();
    void forget();

    std::string programDir_;
    spell::TAcropSpell spell_;
    bool opened_ = false;
    int user_ = -1;
    QSet<QString> ignored_;
    QHash<QString, bool> known_;
};

}  // namespace telvane::spellcheck
