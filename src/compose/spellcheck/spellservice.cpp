// SpellService (see spellservice.h).
#include "compose/spellcheck/spellservice.h"

#include <sys/stat.h>

#include <algorithm>
#include <map>
#include <memory>

#include "compose/spell/charset.h"
#include "compose/spell/dictpath.h"
#include "app/appstate.h"

namespace telvane::spellcheck {

namespace {

std::map<std::string, std::unique_ptr<SpellService>>& services() {
    static std::map<std::string, std::unique_ptr<SpellService>> all;
    return all;
}

bool fileExists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

bool isWordChar(QChar c) { return c.isLetterOrNumber(); }
bool isApostrophe(QChar c) { return c == QLatin1Char('\'') || c == QChar(0x2019); }

}  // namespace

std::optional<std::string> toCp1252(const QString& word) {
    std::string out;
    out.reserve(static_cast<size_t>(word.size()));
    for (char32_t cp : word.toUcs4()) {
        const auto c = spell::fromUnicode(cp);
        if (!c) return std::nullopt;
        out.push_back(static_cast<char>(*c));
    }
    return out;
}

QString fromCp1252(const std::string& text) {
    QString out;
    out.reserve(static_cast<qsizetype>(text.size()));
    for (char c : text) {
        const char32_t u = spell::toUnicode(static_cast<unsigned char>(c));
        out += QString::fromUcs4(&u, 1);
    }
    return out;
}

QList<TextWord> wordsOfText(const QString& text) {
    QList<TextWord> words;
    const int n = static_cast<int>(text.size());
    int p = 0;
    while (p < n) {
        while (p < n && !isWordChar(text[p])) ++p;
        if (p >= n) break;
        const int start = p;
        bool digits = false;
        while (p < n) {
            const QChar ch = text[p];
            if (isWordChar(ch)) {
                digits = digits || ch.isDigit();
                ++p;
            } else if (isApostrophe(ch) && p + 1 < n && text[p + 1].isLetter()) {
                ++p;
            } else {
                break;
            }
        }
        if (!digits) words.append(TextWord{start, p - start});
    }
    return words;
}

std::string spellLanguage() {
    const std::vector<std::string> installed = spell::installedLanguages();
    const std::string& chosen = app::appSettings().Other.SpellLanguage;
    if (std::find(installed.begin(), installed.end(), chosen) != installed.end()) return chosen;
    return spell::languageForLocale(spell::environmentLocale(), installed);
}

std::string mainDictionaryFor(const std::string& programDir) {
    return spell::mainDictionaryPath(programDir, spellLanguage());
}

SpellService& SpellService::instance(const std::string& programDir) {
    auto& all = services();
    auto it = all.find(programDir);
    if (it == all.end())
        it = all.emplace(programDir, std::unique_ptr<SpellService>(new SpellService(programDir))).first;
    return *it->second;
}

void SpellService::notifyDictionariesChanged() {
    for (auto& [dir, service] : services()) {
        service->forget();
        emit service->changed();
    }
}

void SpellService::notifyLanguageChanged() {
    for (auto& [dir, service] : services()) {
        service->spell_.close();
        service->opened_ = false;
        service->user_ = -1;
        service->forget();
        emit service->changed();
    }
}

SpellService::SpellService(std::string programDir) : programDir_(std::move(programDir)) {}

void SpellService::open() {
    if (opened_) return;
    opened_ = true;
    spell_.DictionaryName = mainDictionaryFor(programDir_);
    spell_.openMainDictionary(spell_.DictionaryName);
    const std::string user = spell::userDictionaryPath(programDir_);
    user_ = fileExists(user) ? spell_.openUserDictionary(user) : spell_.createUserDictionary(user);
}

void SpellService::forget() { known_.clear(); }

bool SpellService::available() {
    open();
    return spell_.mainOpen();
}

bool SpellService::isWord(const QString& word) {
    open();
    if (ignored_.contains(word)) return true;
    auto it = known_.constFind(word);
    if (it != known_.constEnd()) return *it;
    const auto w = toCp1252(word);
    const bool ok = !w || !spell::inAlphabet(*w) || spell_.isWord(*w);
    if (known_.size() > 50000) known_.clear();
    known_.insert(word, ok);
    return ok;
}

QStringList SpellService::suggest(const QString& word) {
    open();
    QStringList out;
    const auto w = toCp1252(word);
    if (!w) return out;
    for (const std::string& s : spell_.suggest(*w)) out << fromCp1252(s);
    return out;
}

bool SpellService::canAdd() {
    open();
    return user_ != -1;
}

bool SpellService::addWord(const QString& word) {
    open();
    const auto w = toCp1252(word);
    if (!w || user_ == -1 || !spell_.addWord(*w, user_)) return false;
    notifyDictionariesChanged();
    return true;
}

void SpellService::ignore(const QString& word) {
    ignored_.insert(word);
    emit changed();
}

bool SpellService::asYouType() { return app::appSettings().Other.SpellCheckAsYouType; }

void SpellService::setAsYouType(bool on) {
    if (app::appSettings().Other.SpellCheckAsYouType == on) return;
    app::appSettings().Other.SpellCheckAsYouType = on;
    app::saveSettings();
    for (auto& [dir, service] : services()) emit service->changed();
}

}  // namespace telvane::spellcheck
