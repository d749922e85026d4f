// telvane-dctbuild [--english] WORDLIST OUTPUT: writes a main dictionary from a word list (one word
// a line, as Debian's /usr/share/dict lists are: UTF-8, or ISO 8859-1 for a file that is not valid
// UTF-8). Left out: words with characters that Windows-1252 or the dictionary alphabet lacks, and
// possessives ending in 's whose stem is listed (the checker accepts those by rule). With --english
// (the English lists) also one-letter words other than "a" and "I" (any single character passes
// anyway, and they would only crowd the suggestions), and two-letter entries other than the English
// words and common titles and abbreviations below: the lists' many element symbols and initialisms
// (Th, Ne, ht, ...) would let nearly any misspelling split into "two words" that outrank the word
// meant. The file is written whole or not at all.
#include <cstdio>
#include <fstream>
#include <iostream>
#include <iterator>
#include <optional>
#include <sstream>
#include <set>
#include <string>
#include <vector>

#include "compose/spell/charset.h"
#include "compose/spell/dictformat.h"

using namespace telvane::spell;

namespace {

const std::set<std::string> kTwoLetterWords = {"AD", "AH", "AM", "AN", "AS", "AT", "AW", "AX", "AY", "BE", "BY", "DO",
                                               "EH", "GO", "HA", "HE", "HI", "HO", "ID", "IF", "IN", "IS", "IT", "LA",
                                               "LO", "ME", "MY", "NO", "OF", "OH", "OK", "ON", "OR", "OW", "OX", "PI",
                                               "SO", "TO", "UH", "UM", "UP", "US", "WE", "YE", "YO",
                                               // titles and abbreviations common in letters
                                               "MR", "MS", "DR", "ST", "JR", "VS", "TV", "UK", "PC", "CD", "PM"};

// The bytes of ISO 8859-1 text as Windows-1252 (the same letters; C1 controls have no place in words).
std::optional<std::string> fromLatin1(const std::string& line) {
    for (char c : line) {
        const auto u = static_cast<unsigned char>(c);
        if (u >= 0x80 && u < 0xA0) return std::nullopt;
    }
    return line;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    const bool english = !args.empty() && args[0] == "--english";
    if (english) args.erase(args.begin());
    if (args.size() != 2) {
        std::cerr << "usage: telvane-dctbuild [--english] WORDLIST OUTPUT\n";
        return 2;
    }
    std::ifstream in(args[0], std::ios::binary);
    if (!in) {
        std::cerr << "telvane-dctbuild: cannot read " << args[0] << "\n";
        return 1;
    }
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const bool utf8 = decodeUtf8(text).find(U'\uFFFD') == std::u32string::npos;
    std::vector<std::string> listed;
    std::string line;
    size_t unconvertible = 0;
    std::istringstream lines(text);
    while (std::getline(lines, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty()) continue;
        auto word = utf8 ? fromUtf8(line) : fromLatin1(line);
        if (!word) {
            ++unconvertible;
            continue;
        }
        listed.push_back(*word);
    }
    std::set<std::string> folded;
    for (const std::string& w : listed) folded.insert(foldUpper(w));
    std::vector<std::string> words;
    size_t possessives = 0;
    for (const std::string& w : listed) {
        const std::string f = foldUpper(w);
        if (english && f.size() == 1 && f != "A" && f != "I") continue;
        if (english && f.size() == 2 && !kTwoLetterWords.count(f)) continue;
        if (f.size() > 2 && f.compare(f.size() - 2, 2, "'S") == 0 && folded.count(f.substr(0, f.size() - 2))) {
            ++possessives;
            continue;
        }
        words.push_back(w);
    }
    const std::string source = args[0];
    const BuiltDictionary built = buildMainDictionary(
        words, "TELVANE MAIN DICTIONARY\r\nLetter-trie word list generated from " + source + "\r\n");
    const std::string tmp = args[1] + ".tmp";
    {
        std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
        out.write(built.bytes.data(), static_cast<std::streamsize>(built.bytes.size()));
        if (!out.flush()) {
            std::cerr << "telvane-dctbuild: cannot write " << tmp << "\n";
            std::remove(tmp.c_str());
            return 1;
        }
    }
    if (std::rename(tmp.c_str(), args[1].c_str()) != 0) {
        std::cerr << "telvane-dctbuild: cannot write " << args[1] << "\n";
        std::remove(tmp.c_str());
        return 1;
    }
    std::cout << "telvane-dctbuild: " << built.words << " words in " << built.nodeCounts.size()
              << " dictionaries (nodes:";
    for (uint32_t n : built.nodeCounts) std::cout << ' ' << n;
    std::cout << "); left out " << possessives << " possessives, " << unconvertible + built.skipped
              << " words outside the alphabet\n";
    return 0;
}
