// Where the spelling dictionaries live, and which language they are in. A main dictionary is built
// for each language whose Debian word list is installed: "tvn.dct" (American English, the one every
// program falls back on) and "tvn-<language>.dct" for the others, beside the programs (the build
// writes them next to the executables) or in the installed share/telvane; a directory named by the
// environment variable TELVANE_DICT_DIR is looked at first (a relocated set). A "tvn.dct" in the data
// directory takes precedence over all of them, so that a user can put a dictionary of their own
// there. The user dictionary "tvnu.dct" lives in the data directory and is created there on first
// use.
#pragma once

#include <string>
#include <vector>

namespace telvane::spell {

inline constexpr const char* kMainDictionaryFile = "tvn.dct";
inline constexpr const char* kUserDictionaryFile = "tvnu.dct";

// A language a main dictionary can be built for: its code (language_TERRITORY, as in locale names),
// the file of its word list under /usr/share/dict and the Debian package that has it.
struct Language {
    const char* code;
    const char* wordList;
    const char* package;
    const char* name;  // in English
};
const std::vector<Language>& languages();
// "tvn.dct" for American English, "tvn-<code>.dct" for the others.
std::string dictionaryFileFor(const std::string& code);

// The codes of the languages whose main dictionary is installed, in the order of languages().
std::vector<std::string> installedLanguages();
// The installed language that suits a locale name ("de_AT.UTF-8", "en_AU", "C"...): the same
// language and territory, else the same language (British spelling for the English of other
// territories than the United States, Canada and the Philippines), else American English.
std::string languageForLocale(const std::string& locale, const std::vector<std::string>& installed);
// The user's locale from the environment (LC_ALL, LC_MESSAGES, LANG), as LanguageForLocale takes it.
std::string environmentLocale();

// The main dictionary to open: <dataDir>tvn.dct when it exists; else the dictionary of the language
// (empty: American English) beside the running executable, or installed; else tvn.dct there; when
// none exists, the path of tvn.dct beside the executable. dataDir is empty or ends with '/'.
std::string mainDictionaryPath(const std::string& dataDir = {}, const std::string& language = {});
// <dataDir>tvnu.dct
std::string userDictionaryPath(const std::string& dataDir);

}  // namespace telvane::spell
