// telvane-spell: the program's spell checker from the command line. Text is UTF-8; words with a
// character that Windows-1252 or the dictionary alphabet lacks cannot be judged by the dictionaries
// and count as correct.
// Exit status 0 on success, 1 when a file cannot be used, 2 on a usage error.
#include <clocale>
#include <cwctype>
#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <vector>

#include "compose/spell/charset.h"
#include "compose/spell/dictformat.h"
#include "compose/spell/dictpath.h"
#include "compose/spell/tacropspell.h"

using namespace telvane::spell;

namespace {

constexpr int kOk = 0;
constexpr int kProblem = 1;
constexpr int kUsage = 2;

const char* kHelp = R"(Usage: telvane-spell COMMAND [OPTIONS]

Commands:
  check              read text on standard input and print each unknown word on
                     its own line, in text order
  suggest            read one word a line on standard input and print for each
                     the word, a tab and its suggestions separated by ", ",
                     best first (nothing after the tab when there are none)
  add WORD --user FILE
                     add WORD to the user dictionary FILE (created when missing)
  dump FILE          print the headers and the words of every dictionary in FILE
  --help             this text

Options:
  --dict FILE        main dictionary (default: the program's tvn.dct)
  --language CODE    the program's main dictionary of that language (en_GB,
                     de_DE, fr_FR, ...; default en_US)
  --user FILE        user dictionary (default: none)
  --max N            number of suggestions (default 10, at most 220)

Words are UTF-8; a word with a character outside Windows-1252 or the dictionary
alphabet (letters, apostrophe, hyphen) counts as correct.
Exit status: 0 success, 1 a dictionary or file cannot be used, 2 usage error.
)";

int usage(const std::string& message) {
    std::cerr << "telvane-spell: " << message << "\nTry 'telvane-spell --help'.\n";
    return kUsage;
}

bool exists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

bool isLink(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

// Letters, digits and inner apostrophes make a word, as in the editors; words with digits are skipped.
std::vector<std::u32string> wordsOf(const std::u32string& text) {
    std::vector<std::u32string> words;
    auto isWordChar = [](char32_t c) { return std::iswalnum(static_cast<wint_t>(c)) != 0; };
    auto isApostrophe = [](char32_t c) { return c == U'\'' || c == 0x2019; };
    size_t i = 0;
    while (i < text.size()) {
        while (i < text.size() && !isWordChar(text[i])) ++i;
        const size_t start = i;
        bool digits = false;
        while (i < text.size()) {
            if (isWordChar(text[i])) {
                digits = digits || std::iswdigit(static_cast<wint_t>(text[i]));
                ++i;
            } else if (isApostrophe(text[i]) && i + 1 < text.size() &&
                       std::iswalpha(static_cast<wint_t>(text[i + 1]))) {
                ++i;
            } else {
                break;
            }
        }
        if (i > start && !digits) words.push_back(text.substr(start, i - start));
    }
    return words;
}

int dump(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        std::cerr << "telvane-spell: cannot read " << path << "\n";
        return kProblem;
    }
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::string error;
    const auto images = readDictionaryImages(bytes, &error);
    if (images.empty()) {
        std::cerr << "telvane-spell: " << path << " is not a dictionary file: " << error << "\n";
        return kProblem;
    }
    for (size_t i = 0; i < images.size(); ++i) {
        const DictHeader& h = images[i].header;
        std::cout << "# dictionary " << i + 1 << " at offset " << images[i].headerOffset << ": "
                  << (h.kind ? "main" : "user") << ", used nodes " << h.usedNodes << ", node slots " << h.nodeSlots
                  << ", words " << h.wordCount << "\n";
        for (const std::string& w : wordsOf(images[i])) std::cout << toUtf8(w) << "\n";
    }
    return kOk;
}

}  // namespace

int main(int argc, char** argv) {
    std::setlocale(LC_CTYPE, "C.UTF-8");
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty()) return usage("no command given");
    std::string command, word, dictPath, userPath, dumpPath, language;
    int maxSuggestions = TAcropSpell::kDefaultSuggestions;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--help" || a == "-h") {
            std::cout << kHelp;
            return kOk;
        }
        if (a == "--dict" || a == "--user" || a == "--max" || a == "--language") {
            if (i + 1 >= args.size()) return usage(a + " needs a value");
            const std::string& v = args[++i];
            if (a == "--dict") dictPath = v;
            if (a == "--user") userPath = v;
            if (a == "--language") language = v;
            if (a == "--max") {
                try {
                    maxSuggestions = std::stoi(v);
                } catch (...) {
                    return usage("--max needs a number");
                }
            }
        } else if (!a.empty() && a[0] == '-') {
            return usage("unknown option " + a);
        } else if (command.empty()) {
            command = a;
        } else if ((command == "add" && word.empty())) {
            word = a;
        } else if (command == "dump" && dumpPath.empty()) {
            dumpPath = a;
        } else {
            return usage("unexpected argument " + a);
        }
    }
    if (command == "dump") {
        if (dumpPath.empty()) return usage("dump needs a file");
        return dump(dumpPath);
    }
    if (command != "check" && command != "suggest" && command != "add") return usage("unknown command " + command);

    TAcropSpell spell;
    spell.setMaxSuggestions(maxSuggestions);
    if (command == "add") {
        if (word.empty()) return usage("add needs a word");
        if (userPath.empty()) return usage("add needs --user FILE");
        if (!dictPath.empty()) spell.DictionaryName = dictPath;
        const auto w = fromUtf8(word);
        if (!w) {
            std::cerr << "telvane-spell: \"" << word << "\" has characters outside Windows-1252\n";
            return kProblem;
        }
        if (isLink(userPath)) {
            std::cerr << "telvane-spell: " << userPath
                      << " is a symbolic link; a user dictionary is written in place and must be a file of its own\n";
            return kProblem;
        }
        const int n = exists(userPath) ? spell.openUserDictionary(userPath) : spell.createUserDictionary(userPath);
        if (n < 0) {
            std::cerr << "telvane-spell: cannot use " << userPath << " as a user dictionary\n";
            return kProblem;
        }
        if (!spell.addWord(*w, n)) {
            std::cerr << "telvane-spell: \"" << word << "\" was not added (longer than " << TAcropSpell::kMaxAddLength
                      << " letters, a character outside the alphabet, or the "
                      << "dictionary is full)\n";
            return kProblem;
        }
        return kOk;
    }

    const std::string main = dictPath.empty() ? mainDictionaryPath({}, language) : dictPath;
    spell.DictionaryName = main;
    if (!spell.openMainDictionary(main)) {
        std::cerr << "telvane-spell: cannot open the main dictionary " << main << "\n";
        return kProblem;
    }
    if (!userPath.empty() && spell.openUserDictionary(userPath) < 0) {
        std::cerr << "telvane-spell: cannot open the user dictionary " << userPath << "\n";
        return kProblem;
    }
    if (command == "check") {
        std::ostringstream text;
        text << std::cin.rdbuf();
        for (const std::u32string& u : wordsOf(decodeUtf8(text.str()))) {
            const std::string utf8 = encodeUtf8(u);
            const auto w = fromUtf8(utf8);
            if (w && inAlphabet(*w) && !spell.isWord(*w)) std::cout << utf8 << "\n";
        }
        return kOk;
    }
    std::string line;
    while (std::getline(std::cin, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        std::cout << line << '\t';
        const auto w = fromUtf8(line);
        if (w && !w->empty()) {
            const auto list = spell.suggest(*w);
            for (size_t i = 0; i < list.size(); ++i) std::cout << (i ? ", " : "") << toUtf8(list[i]);
        }
        std::cout << '\n';
    }
    return kOk;
}
