// Path lookup of the spelling dictionaries and the languages they are built for.
#include "compose/spell/dictpath.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdlib>

namespace telvane::spell {

namespace {

bool isFile(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::string executableDir() {
    char buf[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0) return {};
    std::string path(buf, static_cast<size_t>(n));
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

// The program's dictionary of that name: in $TELVANE_DICT_DIR, beside the executable, or installed;
// empty when absent.
std::string programDictionary(const std::string& file) {
    const char* dir = std::getenv("TELVANE_DICT_DIR");
    if (dir && *dir && isFile(std::string(dir) + "/" + file)) return std::string(dir) + "/" + file;
    const std::string beside = executableDir() + file;
    if (isFile(beside)) return beside;
    // An installed program: PREFIX/bin/telvane and PREFIX/share/telvane/tvn.dct.
    const std::string shared = executableDir() + "../share/telvane/" + file;
    if (isFile(shared)) return shared;
#ifdef TELVANE_DICT_INSTALL_DIR
    const std::string installed = std::string(TELVANE_DICT_INSTALL_DIR) + "/" + file;
    if (isFile(installed)) return installed;
#endif
    return {};
}

constexpr const char* kAmerican = "en_US";

}  // namespace

const std::vector<Language>& languages() {
    // Every Debian word list whose letters Windows-1252 has; the first of a language is its default.
    static const std::vector<Language> all = {
        {"en_US", "american-english", "wamerican", "English (United States)"},
        {"en_GB", "british-english", "wbritish", "English (United Kingdom)"},
        {"en_CA", "canadian-english", "wcanadian", "English (Canada)"},
        {"de_DE", "ngerman", "wngerman", "German"},
        {"de_CH", "swiss", "wswiss", "German (Switzerland)"},
        {"fr_FR", "french", "wfrench", "French"},
        {"es_ES", "spanish", "wspanish", "Spanish"},
        {"it_IT", "italian", "witalian", "Italian"},
        {"pt_PT", "portuguese", "wportuguese", "Portuguese"},
        {"pt_BR", "brazilian", "wbrazilian", "Portuguese (Brazil)"},
        {"nl_NL", "dutch", "wdutch", "Dutch"},
        {"da_DK", "danish", "wdanish", "Danish"},
        {"sv_SE", "swedish", "wswedish", "Swedish"},
        {"nb_NO", "bokmaal", "wnorwegian", "Norwegian Bokmal"},
        {"nn_NO", "nynorsk", "wnorwegian", "Norwegian Nynorsk"},
        {"ca_ES", "catalan", "wcatalan", "Catalan"},
    };
    return all;
}

std::string dictionaryFileFor(const std::string& code) {
    return code.empty() || code == kAmerican ? kMainDictionaryFile : "tvn-" + code + ".dct";
}

std::vector<std::string> installedLanguages() {
    std::vector<std::string> codes;
    for (const Language& l : languages()) {
        if (!programDictionary(dictionaryFileFor(l.code)).empty()) codes.emplace_back(l.code);
    }
    return codes;
}

std::string languageForLocale(const std::string& locale, const std::vector<std::string>& installed) {
    const std::string name = locale.substr(0, locale.find_first_of(".@"));
    const std::string language = name.substr(0, name.find('_'));
    const std::string territory = name.size() > language.size() ? name.substr(language.size() + 1) : std::string();
    const auto has = [&](const std::string& code) {
        return std::find(installed.begin(), installed.end(), code) != installed.end();
    };
    if (has(name)) return name;
    if (language == "en" && !territory.empty() && territory != "US" && territory != "PH" && has("en_GB")) {
        return "en_GB";
    }
    for (const std::string& code : installed) {
        if (code.compare(0, language.size() + 1, language + "_") == 0) return code;
    }
    return kAmerican;
}

std::string environmentLocale() {
    for (const char* variable : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* value = std::getenv(variable);
        if (value && *value) return value;
    }
    return {};
}

std::string mainDictionaryPath(const std::string& dataDir, const std::string& language) {
    if (!dataDir.empty() && isFile(dataDir + kMainDictionaryFile)) return dataDir + kMainDictionaryFile;
    const std::string own = programDictionary(dictionaryFileFor(language));
    if (!own.empty()) return own;
    const std::string fallback = programDictionary(kMainDictionaryFile);
    return fallback.empty() ? executableDir() + kMainDictionaryFile : fallback;
}

std::string userDictionaryPath(const std::string& dataDir) { return dataDir + kUserDictionaryFile; }

}  // namespace telvane::spell
