// Generated misspellings (see misspell.h).
#include "misspell.h"

#include <array>
#include <string_view>

namespace telvane::spell::bench {

namespace {

// Keys beside each letter on a QWERTY keyboard.
std::string_view neighbours(char c) {
    static const std::array<std::string_view, 26> kKeys = {
        "qwsz",   "vghn",  "xdfv", "serfcx", "wsdr", "drtgvc", "ftyhbv", "gyujnb", "ujko",
        "huikmn", "jiolm", "kop",  "njk",    "bhjm", "iklp",   "ol",     "wa",     "edft",
        "awedxz", "rfgy",  "yhji", "cfgb",   "qase", "zsdc",   "tghu",   "asx"};
    return c >= 'a' && c <= 'z' ? kKeys[static_cast<size_t>(c - 'a')] : std::string_view("e");
}

char randomLetter(Random& random) { return static_cast<char>('a' + random.below(26)); }

// A letter typed instead of (or beside) c: half the time a neighbouring key.
char slipOf(char c, Random& random) {
    if (random.below(2) == 0) {
        const std::string_view keys = neighbours(c);
        return keys[random.below(keys.size())];
    }
    return randomLetter(random);
}

struct Rule {
    const char* from;
    const char* to;
};

// Spellings that sound alike in English.
constexpr Rule kRules[] = {
    {"ph", "f"},      {"f", "ph"},      {"ck", "k"},    {"ca", "ka"},   {"co", "ko"},     {"cu", "ku"},
    {"k", "c"},       {"qu", "kw"},     {"x", "ks"},    {"ee", "ea"},   {"ea", "ee"},     {"ie", "ei"},
    {"ei", "ie"},     {"ou", "ow"},     {"ow", "ou"},   {"ai", "ay"},   {"ay", "ai"},     {"tion", "sion"},
    {"tion", "shun"}, {"sion", "tion"}, {"ce", "se"},   {"se", "ce"},   {"ci", "si"},     {"ous", "us"},
    {"able", "ible"}, {"ible", "able"}, {"ant", "ent"}, {"ent", "ant"}, {"ance", "ence"}, {"ence", "ance"},
    {"er", "ar"},     {"ar", "er"},     {"or", "er"},   {"wr", "r"},    {"kn", "n"},      {"gh", ""},
    {"mb", "m"},      {"igh", "i"},     {"ll", "l"},    {"ss", "s"},    {"tt", "t"},      {"pp", "p"},
    {"cc", "c"},      {"mm", "m"},      {"rr", "r"},    {"l", "ll"},    {"s", "ss"},      {"t", "tt"},
    {"p", "pp"},      {"m", "mm"},      {"z", "s"},     {"s", "z"},     {"dge", "ge"},    {"ge", "dge"},
    {"wh", "w"},      {"oo", "u"},      {"u", "oo"},    {"y", "i"},     {"i", "y"},       {"ure", "er"},
    {"ful", "full"},  {"ly", "ley"},    {"au", "aw"},   {"aw", "au"},   {"ue", "ew"},     {"ew", "ue"},
};

}  // namespace

std::optional<std::string> singleEdit(const std::string& word, EditKind kind, Random& random) {
    if (word.size() < 3) return std::nullopt;
    std::string w = word;
    const size_t at = random.below(w.size());
    switch (kind) {
    case EditKind::Drop: w.erase(at, 1); break;
    case EditKind::Add: {
        // A doubled letter, a slip beside the letter, or any letter.
        const size_t pick = random.below(3);
        const char c = pick == 0 ? w[at] : pick == 1 ? slipOf(w[at], random) : randomLetter(random);
        w.insert(at + random.below(2), 1, c);
        break;
    }
    case EditKind::Change: {
        char c = slipOf(w[at], random);
        while (c == w[at]) c = randomLetter(random);
        w[at] = c;
        break;
    }
    case EditKind::Swap: {
        const size_t i = random.below(w.size() - 1);
        if (w[i] == w[i + 1]) return std::nullopt;
        std::swap(w[i], w[i + 1]);
        break;
    }
    }
    return w == word ? std::nullopt : std::optional<std::string>(w);
}

std::optional<std::string> doubleEdit(const std::string& word, Random& random) {
    if (word.size() < 5) return std::nullopt;
    const auto first = singleEdit(word, static_cast<EditKind>(random.below(4)), random);
    if (!first) return std::nullopt;
    const auto second = singleEdit(*first, static_cast<EditKind>(random.below(4)), random);
    if (!second || *second == word) return std::nullopt;
    return second;
}

std::optional<std::string> soundAlike(const std::string& word, Random& random) {
    std::vector<std::pair<size_t, const Rule*>> fits;
    for (const Rule& rule : kRules) {
        const std::string_view from = rule.from;
        for (size_t at = word.find(from); at != std::string::npos; at = word.find(from, at + 1)) {
            // A doubled consonant is made from a single one only, and silent letters are not the first.
            if (from.size() == 1 && std::string_view(rule.to).size() == 2 &&
                ((at > 0 && word[at - 1] == from[0]) || (at + 1 < word.size() && word[at + 1] == from[0]))) {
                continue;
            }
            fits.emplace_back(at, &rule);
        }
    }
    if (fits.empty()) return std::nullopt;
    const auto& [at, rule] = fits[random.below(fits.size())];
    std::string w = word;
    w.replace(at, std::string_view(rule->from).size(), rule->to);
    if (w == word || w.size() < 2) return std::nullopt;
    return w;
}

}  // namespace telvane::spell::bench
