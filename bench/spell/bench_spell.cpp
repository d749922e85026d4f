// Spell-checker benchmark: the time of is-a-word and of suggest on the full main dictionary, and
// the quality of the suggestions (share of misspellings whose intended word comes first, and within
// the first five) with the time per word, for four sets of misspellings: single edits, double edits
// and sound-alike spellings generated from a list of frequent words (misspell.h), and a list of
// common misspellings. The checker runs with all its suggestion rules and with each one switched
// off in turn (and as first built: the sound-alike walk alone with the score bonus), and hunspell
// runs on the same words in the same run, through its pipe interface, as the reference. Only
// misspellings that every checker reports as unknown are counted. Measurements only; nothing passes
// or fails.
//   bench_spell [--dict FILE] [--words FILE] [--list FILE] [--count N] [--seed N]
//               [--hunspell-dict NAME] [--no-hunspell] [--misses]
// --misses lists, for the checker with all its rules, each counted misspelling whose intended word
// does not come first.
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "compose/spell/charset.h"
#include "compose/spell/dictpath.h"
#include "compose/spell/tacropspell.h"
#include "misspell.h"

using namespace telvane::spell;
using namespace telvane::spell::bench;
using Clock = std::chrono::steady_clock;

namespace {

struct Pair {
    std::string wrong, meant;  // Windows-1252
};

struct Stats {
    double median = 0, p95 = 0;
};

Stats summarise(std::vector<double> us) {
    Stats s;
    if (us.empty()) return s;
    std::sort(us.begin(), us.end());
    s.median = us[us.size() / 2];
    s.p95 = us[std::min(us.size() - 1, us.size() * 95 / 100)];
    return s;
}

double micros(Clock::time_point a, Clock::time_point b) {
    return std::chrono::duration<double, std::micro>(b - a).count();
}

std::string lower(std::string s) {
    for (char& c : s)
        c = static_cast<char>(foldLower(static_cast<unsigned char>(foldUpper(static_cast<unsigned char>(c)))));
    return s;
}

// Position of the intended word in a suggestion list (0-based), or -1.
int rankOf(const std::vector<std::string>& list, const std::string& meant) {
    for (size_t i = 0; i < list.size(); ++i) {
        if (lower(list[i]) == lower(meant)) return static_cast<int>(i);
    }
    return -1;
}

struct Quality {
    int first = 0, five = 0, total = 0;
    void add(int rank) {
        ++total;
        if (rank == 0) ++first;
        if (rank >= 0 && rank < 5) ++five;
    }
};

// Hunspell in pipe mode (-a): one word a request, answered by lines ending with an empty one.
class Hunspell {
public:
    bool start(const std::string& dictionary) {
        int in[2], out[2];
        if (::pipe(in) != 0 || ::pipe(out) != 0) return false;
        pid_ = ::fork();
        if (pid_ < 0) return false;
        if (pid_ == 0) {
            ::dup2(in[0], 0);
            ::dup2(out[1], 1);
            ::close(in[1]);
            ::close(out[0]);
            const int null = ::open("/dev/null", O_WRONLY);
            ::dup2(null, 2);
            ::execlp("hunspell", "hunspell", "-d", dictionary.c_str(), "-a", static_cast<char*>(nullptr));
            ::_exit(127);
        }
        ::close(in[0]);
        ::close(out[1]);
        to_ = ::fdopen(in[1], "w");
        from_ = ::fdopen(out[0], "r");
        std::string banner;
        return readLine(banner) && banner.rfind("@(#)", 0) == 0;
    }
    ~Hunspell() {
        if (to_) std::fclose(to_);
        if (from_) std::fclose(from_);
        if (pid_ > 0) ::waitpid(pid_, nullptr, 0);
    }
    // Suggestions (empty for a known word); known tells whether hunspell accepted the word.
    std::vector<std::string> ask(const std::string& utf8, bool& known) {
        std::fprintf(to_, "^%s\n", utf8.c_str());
        std::fflush(to_);
        std::vector<std::string> out;
        known = false;
        std::string line;
        while (readLine(line) && !line.empty()) {
            if (line[0] == '*' || line[0] == '+' || line[0] == '-') known = true;
            if (line[0] == '&') {
                const size_t colon = line.find(": ");
                size_t at = colon + 2;
                while (colon != std::string::npos && at < line.size()) {
                    size_t comma = line.find(", ", at);
                    if (comma == std::string::npos) comma = line.size();
                    out.push_back(line.substr(at, comma - at));
                    at = comma + 2;
                }
            }
        }
        return out;
    }

private:
    bool readLine(std::string& line) {
        line.clear();
        int c;
        while ((c = std::fgetc(from_)) != EOF && c != '\n') line.push_back(static_cast<char>(c));
        return c != EOF || !line.empty();
    }
    pid_t pid_ = -1;
    FILE* to_ = nullptr;
    FILE* from_ = nullptr;
};

void row(const std::string& what, Stats s) {
    std::printf("| %-44s | %10.1f | %10.1f |\n", what.c_str(), s.median, s.p95);
}

// A set of misspellings of one kind.
struct Set {
    std::string name;
    std::vector<Pair> pairs;
};

std::vector<std::string> readWords(const std::string& path) {
    std::vector<std::string> words;
    std::set<std::string> seen;
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') continue;
        std::istringstream split(line);
        std::string w;
        while (split >> w) {
            if (seen.insert(w).second) words.push_back(w);
        }
    }
    return words;
}

std::vector<Pair> readPairs(const std::string& path) {
    std::vector<Pair> pairs;
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') continue;
        const size_t tab = line.find('\t');
        if (tab == std::string::npos) continue;
        const auto w = fromUtf8(line.substr(0, tab)), m = fromUtf8(line.substr(tab + 1));
        if (w && m) pairs.push_back({*w, *m});
    }
    return pairs;
}

// Up to count misspellings made by make from the words (visited in a shuffled order), each unknown
// to the dictionary and different from the others.
template <typename Make>
std::vector<Pair> generate(const std::vector<std::string>& words, size_t count, uint64_t seed, TAcropSpell& spell,
                           Make make) {
    Random random(seed);
    std::vector<std::string> order = words;
    for (size_t i = order.size(); i > 1; --i) std::swap(order[i - 1], order[random.below(i)]);
    std::vector<Pair> pairs;
    std::set<std::string> used;
    for (size_t round = 0; round < 4 && pairs.size() < count; ++round) {
        for (const std::string& w : order) {
            if (pairs.size() >= count) break;
            const auto wrong = make(w, random, pairs.size());
            if (!wrong || used.count(*wrong) || spell.isWord(*wrong)) continue;
            used.insert(*wrong);
            pairs.push_back({*wrong, w});
        }
    }
    return pairs;
}

using Kinds = SuggestOptions::Kinds;

struct Variant {
    std::string name;
    SuggestOptions options;
};

struct Score {
    Quality quality;
    std::vector<double> micros;
};

std::string cell(const Score& s) {
    auto pct = [](int n, int of) { return of ? 100.0 * n / of : 0.0; };
    double total = 0;
    for (double us : s.micros) total += us;
    char buf[64];
    std::snprintf(buf, sizeof buf, "%5.1f | %5.1f | %6.2f", pct(s.quality.first, s.quality.total),
                  pct(s.quality.five, s.quality.total), s.micros.empty() ? 0.0 : total / s.micros.size() / 1000);
    return buf;
}

}  // namespace

int main(int argc, char** argv) {
    std::string dict = mainDictionaryPath(), words = TELVANE_SPELL_BENCH_WORDS, list = TELVANE_SPELL_BENCH_LIST;
    std::string hunspellDict = "en_US";
    size_t count = 200;
    uint64_t seed = 35;
    bool hunspell = true, misses = false;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const bool value = i + 1 < argc;
        if (a == "--dict" && value)
            dict = argv[++i];
        else if (a == "--words" && value)
            words = argv[++i];
        else if (a == "--list" && value)
            list = argv[++i];
        else if (a == "--count" && value)
            count = static_cast<size_t>(std::max(1, std::atoi(argv[++i])));
        else if (a == "--seed" && value)
            seed = std::strtoull(argv[++i], nullptr, 10);
        else if (a == "--hunspell-dict" && value)
            hunspellDict = argv[++i];
        else if (a == "--no-hunspell")
            hunspell = false;
        else if (a == "--misses")
            misses = true;
        else {
            std::cerr << "usage: bench_spell [--dict FILE] [--words FILE] [--list FILE] [--count N] [--seed N] "
                         "[--hunspell-dict NAME] [--no-hunspell] [--misses]\n";
            return 2;
        }
    }
    TAcropSpell spell;
    if (!spell.openMainDictionary(dict)) {
        std::cerr << "cannot open " << dict << "\n";
        return 1;
    }
    // Only words the dictionary holds can be found again.
    std::vector<std::string> frequent;
    for (const std::string& w : readWords(words)) {
        if (spell.isWord(w)) frequent.push_back(w);
    }
    std::vector<Set> sets;
    sets.push_back(
        {"single edit", generate(frequent, count, seed, spell, [](const std::string& w, Random& r, size_t n) {
             return singleEdit(w, static_cast<EditKind>(n % 4), r);
         })});
    sets.push_back({"double edit", generate(frequent, count, seed + 1, spell,
                                            [](const std::string& w, Random& r, size_t) { return doubleEdit(w, r); })});
    sets.push_back({"sound-alike", generate(frequent, count, seed + 2, spell,
                                            [](const std::string& w, Random& r, size_t) { return soundAlike(w, r); })});
    sets.push_back({"common misspellings", readPairs(list)});
    std::printf("dictionary %s; %zu frequent words from %s; common misspellings from %s; seed %llu\n", dict.c_str(),
                frequent.size(), words.c_str(), list.c_str(), static_cast<unsigned long long>(seed));
    for (const Set& s : sets) {
        std::printf("%s: %zu, e.g.", s.name.c_str(), s.pairs.size());
        for (size_t i = 0; i < std::min<size_t>(6, s.pairs.size()); ++i)
            std::printf(" %s>%s", toUtf8(s.pairs[i].wrong).c_str(), toUtf8(s.pairs[i].meant).c_str());
        std::printf("\n");
    }

    // Hunspell first: its verdicts decide which misspellings count.
    std::vector<std::vector<std::vector<std::string>>> theirs(sets.size());
    std::vector<std::vector<bool>> counted(sets.size());
    std::vector<Score> hunspellScores(sets.size());
    std::vector<double> hLookup;
    Hunspell h;
    const bool haveHunspell = hunspell && h.start(hunspellDict);
    if (hunspell && !haveHunspell)
        std::printf("\nhunspell could not be started (Debian packages hunspell, hunspell-en-us)\n");
    for (size_t k = 0; k < sets.size(); ++k) {
        const auto& pairs = sets[k].pairs;
        theirs[k].resize(pairs.size());
        counted[k].assign(pairs.size(), true);
        for (size_t i = 0; haveHunspell && i < pairs.size(); ++i) {
            bool known = false;
            auto t0 = Clock::now();
            h.ask(toUtf8(pairs[i].meant), known);
            auto t1 = Clock::now();
            const auto s = h.ask(toUtf8(pairs[i].wrong), known);
            auto t2 = Clock::now();
            hLookup.push_back(micros(t0, t1));
            hunspellScores[k].micros.push_back(micros(t1, t2));
            counted[k][i] = !known;
            for (const auto& u : s) {
                if (auto w = fromUtf8(u)) theirs[k][i].push_back(*w);
            }
        }
    }

    const std::vector<Variant> variants = {
        {"telvane (all rules)", SuggestOptions{}},
        {"  without the one-edit words", SuggestOptions{false, Kinds::RankFirst, true, false}},
        {"  kinds only break ties of equal score", SuggestOptions{true, Kinds::BreakTies, true, false}},
        {"  kinds ignored (score, then order found)", SuggestOptions{true, Kinds::Ignored, true, false}},
        {"  splits ranked as walk words", SuggestOptions{true, Kinds::RankFirst, false, false}},
        {"  with the score bonus", SuggestOptions{true, Kinds::RankFirst, true, true}},
        {"telvane as first built (walk, bonus)", SuggestOptions{false, Kinds::Ignored, false, true}},
    };
    std::vector<std::vector<Score>> scores(variants.size(), std::vector<Score>(sets.size()));
    std::vector<double> lookupWrong, lookupRight;
    std::vector<std::pair<double, std::string>> slow;
    for (size_t v = 0; v < variants.size(); ++v) {
        TAcropSpell engine;
        engine.openMainDictionary(dict);
        engine.setOptions(variants[v].options);
        for (size_t k = 0; k < sets.size(); ++k) {
            for (size_t i = 0; i < sets[k].pairs.size(); ++i) {
                const Pair& p = sets[k].pairs[i];
                auto t0 = Clock::now();
                const bool known = engine.isWord(p.wrong);
                auto t1 = Clock::now();
                engine.isWord(p.meant);
                auto t2 = Clock::now();
                const auto s = engine.suggest(p.wrong);
                auto t3 = Clock::now();
                if (v == 0) {
                    lookupWrong.push_back(micros(t0, t1));
                    lookupRight.push_back(micros(t1, t2));
                    slow.emplace_back(micros(t2, t3), p.wrong);
                }
                if (known || !counted[k][i]) continue;
                scores[v][k].micros.push_back(micros(t2, t3));
                const int rank = rankOf(s, p.meant);
                scores[v][k].quality.add(rank);
                if (v == 0 && misses && rank != 0) {
                    std::printf("miss (%s) %s>%s:", sets[k].name.c_str(), toUtf8(p.wrong).c_str(),
                                toUtf8(p.meant).c_str());
                    for (size_t j = 0; j < std::min<size_t>(5, s.size()); ++j) std::printf(" %s", toUtf8(s[j]).c_str());
                    std::printf("\n");
                }
                if (v == 0 && haveHunspell) hunspellScores[k].quality.add(rankOf(theirs[k][i], p.meant));
            }
        }
    }

    std::printf("\n| Time per call (microseconds)                 |     median |        p95 |\n");
    std::printf("|----------------------------------------------|-----------:|-----------:|\n");
    row("is-a-word, misspelled word", summarise(lookupWrong));
    row("is-a-word, correct word", summarise(lookupRight));
    if (haveHunspell) row("hunspell -a, correct word (incl. pipe)", summarise(hLookup));
    std::sort(slow.rbegin(), slow.rend());
    std::printf("\nslowest suggest calls:");
    for (size_t i = 0; i < std::min<size_t>(5, slow.size()); ++i)
        std::printf(" %s %.0f us;", toUtf8(slow[i].second).c_str(), slow[i].first);

    std::printf(
        "\n\nSuggestions: intended word first (top-1, %%), within the first five (top-5, %%), and the mean time "
        "per word (ms); counted misspellings:");
    for (size_t k = 0; k < sets.size(); ++k) std::printf(" %s %d;", sets[k].name.c_str(), scores[0][k].quality.total);
    std::printf("\n\n| %-38s |", "checker");
    for (const Set& s : sets) std::printf(" %-28s |", s.name.c_str());
    std::printf("\n| %-38s |", "");
    for (size_t k = 0; k < sets.size(); ++k) std::printf(" top-1 | top-5 |     ms |");
    std::printf("\n|%s|", std::string(40, '-').c_str());
    for (size_t k = 0; k < sets.size(); ++k) std::printf("------:|------:|-------:|");
    std::printf("\n");
    for (size_t v = 0; v < variants.size(); ++v) {
        std::printf("| %-38s |", variants[v].name.c_str());
        for (size_t k = 0; k < sets.size(); ++k) std::printf(" %s |", cell(scores[v][k]).c_str());
        std::printf("\n");
    }
    if (haveHunspell) {
        std::printf("| %-38s |", ("hunspell " + hunspellDict + " (incl. pipe)").c_str());
        for (size_t k = 0; k < sets.size(); ++k) std::printf(" %s |", cell(hunspellScores[k]).c_str());
        std::printf("\n");
    }
    return 0;
}
