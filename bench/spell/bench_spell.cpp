// Spell-checker benchmark: time of is-a-word and of suggest on the full main dictionary (median and
// 95th percentile per call) and the quality of the suggestions for a list of common misspellings
// (share whose intended word comes first, and within the first five). Hunspell with its en_US
// dictionary is run on the same list in the same run, through its pipe interface, as the reference.
// Measurements only; nothing passes or fails.
//   bench_spell [--dict FILE] [--list FILE] [--rounds N] [--no-hunspell]
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "compose/spell/charset.h"
#include "compose/spell/dictpath.h"
#include "compose/spell/tacropspell.h"

using namespace telvane::spell;
using Clock = std::chrono::steady_clock;

namespace {

struct Pair {
    std::string wrong, meant;  // Windows-1252
};

struct Stats {
    double median = 0, p95 = 0;
};

Stats Summarise(std::vector<double> us) {
    Stats s;
    if (us.empty()) return s;
    std::sort(us.begin(), us.end());
    s.median = us[us.size() / 2];
    s.p95 = us[std::min(us.size() - 1, us.size() * 95 / 100)];
    return s;
}

double Micros(Clock::time_point a, Clock::time_point b) {
    return std::chrono::duration<double, std::micro>(b - a).count();
}

std::string Lower(std::string s) {
    for (char& c : s)
        c = static_cast<char>(FoldLower(static_cast<unsigned char>(FoldUpper(static_cast<unsigned char>(c)))));
    return s;
}

// Position of the intended word in a suggestion list (0-based), or -1.
int RankOf(const std::vector<std::string>& list, const std::string& meant) {
    for (size_t i = 0; i < list.size(); ++i) {
        if (Lower(list[i]) == Lower(meant)) return static_cast<int>(i);
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
    bool start() {
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
            ::execlp("hunspell", "hunspell", "-d", "en_US", "-a", static_cast<char*>(nullptr));
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

void Row(const std::string& what, Stats s) {
    std::printf("| %-44s | %10.1f | %10.1f |\n", what.c_str(), s.median, s.p95);
}

}  // namespace

int main(int argc, char** argv) {
    std::string dict = MainDictionaryPath(), list = TELVANE_SPELL_BENCH_LIST;
    int rounds = 3;
    bool hunspell = true;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--dict" && i + 1 < argc)
            dict = argv[++i];
        else if (a == "--list" && i + 1 < argc)
            list = argv[++i];
        else if (a == "--rounds" && i + 1 < argc)
            rounds = std::max(1, std::atoi(argv[++i]));
        else if (a == "--no-hunspell")
            hunspell = false;
        else {
            std::cerr << "usage: bench_spell [--dict FILE] [--list FILE] [--rounds N] [--no-hunspell]\n";
            return 2;
        }
    }
    std::vector<Pair> pairs;
    std::ifstream in(list);
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') continue;
        const size_t tab = line.find('\t');
        const auto w = FromUtf8(line.substr(0, tab)), m = FromUtf8(line.substr(tab + 1));
        if (tab != std::string::npos && w && m) pairs.push_back({*w, *m});
    }
    std::printf("dictionary %s, %zu misspellings from %s, %d rounds\n\n", dict.c_str(), pairs.size(), list.c_str(),
                rounds);

    std::vector<std::vector<std::string>> ours(pairs.size());
    std::vector<bool> oursFlags(pairs.size());
    std::vector<double> lookupWrong, lookupRight, suggestTimes, suggestNoBonus;
    Quality qBonus, qPlain;
    std::vector<std::vector<std::string>> plain(pairs.size());
    for (bool bonus : {true, false}) {
        TAcropSpell spell;
        if (!spell.OpenMainDictionary(dict)) {
            std::cerr << "cannot open " << dict << "\n";
            return 1;
        }
        spell.SetScoreBonus(bonus);
        for (int r = 0; r < rounds; ++r) {
            for (size_t i = 0; i < pairs.size(); ++i) {
                auto t0 = Clock::now();
                const bool known = spell.IsWord(pairs[i].wrong);
                auto t1 = Clock::now();
                spell.IsWord(pairs[i].meant);
                auto t2 = Clock::now();
                auto s = spell.Suggest(pairs[i].wrong);
                auto t3 = Clock::now();
                if (bonus) {
                    lookupWrong.push_back(Micros(t0, t1));
                    lookupRight.push_back(Micros(t1, t2));
                    suggestTimes.push_back(Micros(t2, t3));
                    oursFlags[i] = !known;
                    ours[i] = std::move(s);
                } else {
                    suggestNoBonus.push_back(Micros(t2, t3));
                    plain[i] = std::move(s);
                }
            }
        }
    }

    // The slowest suggestion searches of the last round, to see where the tail comes from.
    std::vector<std::pair<double, std::string>> slow;
    for (size_t i = 0; i < pairs.size(); ++i)
        slow.emplace_back(suggestTimes[suggestTimes.size() - pairs.size() + i], pairs[i].wrong);
    std::sort(slow.rbegin(), slow.rend());

    std::vector<double> hLookup, hSuggest;
    std::vector<std::vector<std::string>> theirs(pairs.size());
    std::vector<bool> theirFlags(pairs.size(), true);
    bool haveHunspell = false;
    if (hunspell) {
        Hunspell h;
        haveHunspell = h.start();
        if (!haveHunspell) std::printf("hunspell could not be started (Debian packages hunspell, hunspell-en-us)\n\n");
        for (int r = 0; haveHunspell && r < rounds; ++r) {
            for (size_t i = 0; i < pairs.size(); ++i) {
                bool known = false;
                auto t0 = Clock::now();
                h.ask(ToUtf8(pairs[i].meant), known);
                auto t1 = Clock::now();
                auto s = h.ask(ToUtf8(pairs[i].wrong), known);
                auto t2 = Clock::now();
                hLookup.push_back(Micros(t0, t1));
                hSuggest.push_back(Micros(t1, t2));
                theirFlags[i] = !known;
                theirs[i].clear();
                for (const auto& u : s) {
                    if (auto w = FromUtf8(u)) theirs[i].push_back(*w);
                }
            }
        }
    }

    std::printf("| Time per call (microseconds)                 |     median |        p95 |\n");
    std::printf("|----------------------------------------------|-----------:|-----------:|\n");
    Row("is-a-word, misspelled word", Summarise(lookupWrong));
    Row("is-a-word, correct word", Summarise(lookupRight));
    Row("suggest (score bonus on)", Summarise(suggestTimes));
    Row("suggest (score bonus off)", Summarise(suggestNoBonus));
    if (haveHunspell) {
        Row("hunspell -a, correct word (incl. pipe)", Summarise(hLookup));
        Row("hunspell -a, misspelled word (incl. pipe)", Summarise(hSuggest));
    }

    std::printf("\nslowest suggest calls:");
    for (size_t i = 0; i < std::min<size_t>(5, slow.size()); ++i)
        std::printf(" %s %.0f us;", ToUtf8(slow[i].second).c_str(), slow[i].first);
    std::printf("\n");

    // Quality on the words both checkers report as unknown.
    Quality qh;
    int both = 0;
    for (size_t i = 0; i < pairs.size(); ++i) {
        if (!oursFlags[i] || (haveHunspell && !theirFlags[i])) continue;
        ++both;
        qBonus.add(RankOf(ours[i], pairs[i].meant));
        qPlain.add(RankOf(plain[i], pairs[i].meant));
        if (haveHunspell) qh.add(RankOf(theirs[i], pairs[i].meant));
    }
    auto pct = [](int n, int of) { return of ? 100.0 * n / of : 0.0; };
    std::printf("\n%d misspellings reported by %s\n\n", both, haveHunspell ? "both checkers" : "the checker");
    std::printf("| Suggestions                    | intended first | in first five |\n");
    std::printf("|--------------------------------|---------------:|--------------:|\n");
    std::printf("| telvane, score bonus on        | %13.1f%% | %12.1f%% |\n", pct(qBonus.first, both),
                pct(qBonus.five, both));
    std::printf("| telvane, score bonus off       | %13.1f%% | %12.1f%% |\n", pct(qPlain.first, both),
                pct(qPlain.five, both));
    if (haveHunspell)
        std::printf("| hunspell en_US                 | %13.1f%% | %12.1f%% |\n", pct(qh.first, both),
                    pct(qh.five, both));
    return 0;
}
