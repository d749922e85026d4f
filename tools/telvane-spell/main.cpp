// telvane-spell: the program's spell checker from the command line. Text is UTF-8; words with a
// character that Windows-1252 or the dictionary alphabet lacks cannot be judged by the dictionaries
// and count as correct.
// Exit status 0 on success, 1 when a file cannot be used, 2 on a usage error.
#include <climits>
#include <clocale>
#include <cwctype>
#include <fstream>
#include <iostream>
#include <iterator>
#include <optional>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <vector>

#include "cmdline/arguments.h"
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

struct Request {
    std::string command, word, dictPath, userPath, dumpPath, language;
    int maxSuggestions = TAcropSpell::kDefaultSuggestions;
};

// The command, its operand and the options; an exit status when the parse ends the run.
std::optional<int> parseArgs(int argc, char** argv, Request& r) {
    telvane::cmdline::Parser p;
    p.help({"--help", "-h"})
        .text("--dict", r.dictPath)
        .text("--user", r.userPath)
        .text("--language", r.language)
        .number("--max", r.maxSuggestions, INT_MIN, INT_MAX)
        .operands([&r](const std::string& a) {
            if (r.command.empty())
                r.command = a;
            else if (r.command == "add" && r.word.empty())
                r.word = a;
            else if (r.command == "dump" && r.dumpPath.empty())
                r.dumpPath = a;
            else
                return false;
            return true;
        });
    const telvane::cmdline::ParseResult result = p.parse(argc, argv);
    switch (result.status) {
    case telvane::cmdline::Status::ok: return std::nullopt;
    case telvane::cmdline::Status::help: std::cout << kHelp; return kOk;
    case telvane::cmdline::Status::missingValue: return usage(result.argument + " needs a value");
    case telvane::cmdline::Status::badValue: return usage(result.argument + " needs a number");
    case telvane::cmdline::Status::unknownOption: return usage("unknown option " + result.argument);
    case telvane::cmdline::Status::unexpectedOperand: return usage("unexpected argument " + result.argument);
    }
    return kUsage;
}

int add(TAcropSpell& spell, const Request& r) {
    if (r.word.empty()) return usage("add needs a word");
    if (r.userPath.empty()) return usage("add needs --user FILE");
    if (!r.dictPath.empty()) spell.DictionaryName = r.dictPath;
    const auto w = fromUtf8(r.word);
    if (!w) {
        std::cerr << "telvane-spell: \"" << r.word << "\" has characters outside Windows-1252\n";
        return kProblem;
    }
    if (isLink(r.userPath)) {
        std::cerr << "telvane-spell: " << r.userPath
                  << " is a symbolic link; a user dictionary is written in place and must be a file of its own\n";
        return kProblem;
    }
    const int n = exists(r.userPath) ? spell.openUserDictionary(r.userPath) : spell.createUserDictionary(r.userPath);
    if (n < 0) {
        std::cerr << "telvane-spell: cannot use " << r.userPath << " as a user dictionary\n";
        return kProblem;
    }
    if (!spell.addWord(*w, n)) {
        std::cerr << "telvane-spell: \"" << r.word << "\" was not added (longer than " << TAcropSpell::kMaxAddLength
                  << " letters, a character outside the alphabet, or the "
                  << "dictionary is full)\n";
        return kProblem;
    }
    return kOk;
}

bool openDictionaries(TAcropSpell& spell, const Request& r) {
    const std::string main = r.dictPath.empty() ? mainDictionaryPath({}, r.language) : r.dictPath;
    spell.DictionaryName = main;
    if (!spell.openMainDictionary(main)) {
        std::cerr << "telvane-spell: cannot open the main dictionary " << main << "\n";
        return false;
    }
    if (!r.userPath.empty() && spell.openUserDictionary(r.userPath) < 0) {
        std::cerr << "telvane-spell: cannot open the user dictionary " << r.userPath << "\n";
        return false;
    }
    return true;
}

int check(TAcropSpell& spell) {
    std::ostringstream text;
    text << std::cin.rdbuf();
    for (const std::u32string& u : wordsOf(decodeUtf8(text.str()))) {
        const std::string utf8 = encodeUtf8(u);
        const auto w = fromUtf8(utf8);
        if (w && inAlphabet(*w) && !spell.isWord(*w)) std::cout << utf8 << "\n";
    }
    return kOk;
}

int suggest(TAcropSpell& spell) {
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

}  // namespace

int main(int argc, char** argv) {
    std::setlocale(LC_CTYPE, "C.UTF-8");
    if (argc < 2) return usage("no command given");
    Request r;
    if (const std::optional<int> status = parseArgs(argc, argv, r)) return *status;
    if (r.command == "dump") {
        if (r.dumpPath.empty()) return usage("dump needs a file");
        return dump(r.dumpPath);
    }
    if (r.command != "check" && r.command != "suggest" && r.command != "add")
        return usage("unknown command " + r.command);
    TAcropSpell spell;
    spell.setMaxSuggestions(r.maxSuggestions);
    if (r.command == "add") return add(spell, r);
    if (!openDictionaries(spell, r)) return kProblem;
    return r.command == "check" ? check(spell) : suggest(spell);
}
