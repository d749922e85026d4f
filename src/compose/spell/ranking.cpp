// Sound-alike key, similarity score, ranked list, first-letter table and capitalisation.
#include "compose/spell/ranking.h"

#include <algorithm>
#include <array>

#include "compose/spell/charset.h"

namespace telvane::spell {

namespace {

bool isSilent(unsigned char c) {
    switch (c) {
    case 'A':
    case 'E':
    case 'H':
    case 'I':
    case 'O':
    case 'U':
    case 'W':
    case 'Y':
    case 0x9F:
    case 0xD8:
    case 0xF0: return true;
    default: break;
    }
    return (c >= 0xC0 && c <= 0xC6) || (c >= 0xC8 && c <= 0xCF) || (c >= 0xD2 && c <= 0xD6) || (c >= 0xD9 && c <= 0xDD);
}

unsigned char soundClass(unsigned char c) {
    switch (c) {
    case 'B':
    case 'F':
    case 'P':
    case 'V':
    case 0xDE:
    case 0xDF:
    case '6':
    case '8': return 1;
    case 'C':
    case 'G':
    case 'J':
    case 'K':
    case 'Q':
    case 'S':
    case 'X':
    case 'Z':
    case 0x8A:
    case 0x8C:
    case 0xC7:
    case '3':
    case '4':
    case '5':
    case '9': return 2;
    case 'D':
    case 'T':
    case 0xD0: return 3;
    case 'L':
    case '2': return 4;
    case 'M':
    case 'N':
    case 0xD1: return 5;
    case 'R': return 6;
    case '\'':
    case '-':
    case '`': return 7;
    case '0': return 'O';
    case '1':
    case '7': return 'I';
    default: return c;
    }
}

}  // namespace

SoundKey soundAlikeKey(std::string_view word, const SoundKey* reference) {
    SoundKey key{0, 0, 0, 0};
    if (word.empty()) {
        if (reference) key = *reference;
        return key;
    }
    unsigned char chars[4];
    size_t n = 0;
    chars[n++] = static_cast<unsigned char>(word[0]);
    for (size_t i = 1; i < word.size() && n < 4; ++i) {
        const auto c = static_cast<unsigned char>(word[i]);
        if (isSilent(c)) continue;
        const unsigned char cls = soundClass(c);
        if (std::find(chars, chars + n, cls) != chars + n) continue;
        chars[n++] = cls;
    }
    for (size_t i = 0; i < 4; ++i) key[i] = i < n ? chars[i] : (reference ? (*reference)[i] : 0);
    return key;
}

int commonCharacters(std::string_view a, std::string_view b) {
    if (a.empty() || b.empty()) return 0;
    // Longest common run, leftmost in a first, then leftmost in b.
    size_t best = 0, bestA = 0, bestB = 0;
    std::vector<unsigned char> prev(b.size() + 1, 0), cur(b.size() + 1, 0);
    for (size_t i = 1; i <= a.size(); ++i) {
        for (size_t j = 1; j <= b.size(); ++j) {
            cur[j] = a[i - 1] == b[j - 1] ? static_cast<unsigned char>(prev[j - 1] + 1) : 0;
        }
        std::swap(prev, cur);
        // prev now holds the run lengths ending at a[i-1]; a run ending here starts at i - len.
        for (size_t j = 1; j <= b.size(); ++j) {
            const size_t len = prev[j];
            if (len == 0) continue;
            const size_t startA = i - len, startB = j - len;
            if (len > best || (len == best && (startA < bestA || (startA == bestA && startB < bestB)))) {
                best = len, bestA = startA, bestB = startB;
            }
        }
    }
    if (best == 0) return 0;
    return static_cast<int>(best) + commonCharacters(a.substr(0, bestA), b.substr(0, bestB)) +
           commonCharacters(a.substr(bestA + best), b.substr(bestB + best));
}

int similarityScore(std::string_view candidate, std::string_view word, bool sameStartBonus) {
    std::string c;
    c.reserve(candidate.size());
    for (char ch : candidate) {
        if (ch != '\'') c.push_back(ch);
    }
    const size_t total = c.size() + word.size();
    if (total == 0) return 0;
    int score = static_cast<int>(200 * static_cast<size_t>(commonCharacters(c, word)) / total);
    if (sameStartBonus && score > 49 && !c.empty() && !word.empty() && c[0] == word[0]) score += score / 3;
    return score;
}

bool RankedList::before(const Entry& a, const Entry& b) const {
    if (kindsFirst_) {
        const auto group = [](Found f) { return f < Found::OneEdit ? 0 : f == Found::Walk ? 2 : 1; };
        if (group(a.found) != group(b.found)) return group(a.found) < group(b.found);
    }
    if (a.score != b.score) return a.score > b.score;
    return a.found < b.found;
}

void RankedList::add(std::string_view word, int score, Found found) {
    if (capacity_ == 0) return;
    Entry entry{std::string(word.substr(0, kWordLength)), score, found};
    auto at = std::find_if(entries_.begin(), entries_.end(), [&](const Entry& e) { return before(entry, e); });
    if (at == entries_.end() && entries_.size() >= capacity_) return;
    entries_.insert(at, std::move(entry));
    if (entries_.size() > capacity_) entries_.pop_back();
}

std::string_view firstLettersFor(unsigned char c) {
    // Windows-1252 bytes, in the order they are tried.
    static const std::string kA = "EDA\xC0\xC1\xC2\xC3\xC4\xC5\xC6";
    static const std::string kB = "PVNB\xDF";
    static const std::string kC = "SXVC\xC7\x8C";
    static const std::string kD = "FD\xD0";
    static const std::string kE = "IWRE\xC8\xC9\xCA\xCB\xCC\xCD\xCE\xCF";
    static const std::string kI = "EOUI\xC8\xC9\xCA\xCB\xCC\xCD\xCE\xCF";
    static const std::string kM = "NM\xD1";
    static const std::string kN = "MBN\xD1";
    static const std::string kO = "PIO\xD2\xD3\xD4\xD5\xD6\xCC\xCD\xCE\xCF";
    static const std::string kP = "BOP\xDE";
    static const std::string kS = "ACDS\x8A\x8C";
    static const std::string kU = "YIU\xD9\xDA\xDB\xDC";
    static const std::string kV = "BCV\xC7\x8C";
    static const std::string kY = "TUY\x9F\xDD";
    static const std::array<char, 256> self = [] {
        std::array<char, 256> t{};
        for (size_t i = 0; i < t.size(); ++i) t[i] = static_cast<char>(i);
        return t;
    }();
    switch (c) {
    case 'A':
    case 0xC0:
    case 0xC1:
    case 0xC2:
    case 0xC3:
    case 0xC4:
    case 0xC5:
    case 0xC6: return kA;
    case 'B':
    case 0xDF: return kB;
    case 'C':
    case 0x8C:
    case 0xC7: return kC;
    case 'D':
    case 0xD0: return kD;
    case 'E':
    case 0xC8:
    case 0xC9:
    case 0xCA:
    case 0xCB: return kE;
    case 'F': return "DGF";
    case 'G': return "JG";
    case 'H': return "JGH";
    case 'I':
    case 0xCC:
    case 0xCD:
    case 0xCE:
    case 0xCF: return kI;
    case 'J': return "GJ";
    case 'K': return "CLJK";
    case 'L': return "KL";
    case 'M': return kM;
    case 'N':
    case 0xD1: return kN;
    case 'O':
    case 0xD2:
    case 0xD3:
    case 0xD4:
    case 0xD5:
    case 0xD6: return kO;
    case 'P':
    case 0xDE: return kP;
    case 'Q': return "WQ";
    case 'R': return "ETR";
    case 'S': return kS;
    case 'T': return "YRT";
    case 'U':
    case 0xD9:
    case 0xDA:
    case 0xDB:
    case 0xDC: return kU;
    case 'V': return kV;
    case 'W': return "QEW";
    case 'X': return "CZX";
    case 'Y':
    case 0x9F:
    case 0xDD: return kY;
    case 'Z': return "XZ";
    default: break;
    }
    return std::string_view(&self[c], 1);
}

std::string capitalise(std::string_view suggestion, std::string_view typed) {
    std::string s(suggestion);
    if (std::none_of(typed.begin(), typed.end(), [](char c) { return isLowerLetter(static_cast<unsigned char>(c)); })) {
        return s;
    }
    for (char& c : s) c = static_cast<char>(foldLower(static_cast<unsigned char>(c)));
    auto paired = [](char c) { return c == '\'' || isLetter(static_cast<unsigned char>(c)); };
    size_t i = 0, j = 0;
    while (true) {
        while (i < typed.size() && !paired(typed[i])) ++i;
        while (j < s.size() && !paired(s[j])) ++j;
        if (i >= typed.size() || j >= s.size()) break;
        const auto t = static_cast<unsigned char>(typed[i]);
        if (foldLower(t) != t) {
            s[j] = static_cast<char>(foldUpper(static_cast<unsigned char>(s[j])));
        }
        ++i, ++j;
    }
    return s;
}

}  // namespace telvane::spell
