// The engine against dictionary files written byte by byte, dictionaries it builds itself, user
// dictionaries it extends, and the full main dictionary of the build.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <set>

#include "compose/spell/dictformat.h"
#include "compose/spell/tacropspell.h"
#include "spelltest.h"

using namespace telvane::spell;
using namespace telvane::spell::test;

namespace {

constexpr uint8_t L6 = kLastSibling, W7 = kWordEnd;
uint8_t C(char c) { return static_cast<uint8_t>(c - 'A'); }

// A main dictionary file with the given nodes; the preamble is "P\x1A".
std::string MainFile(const std::vector<std::string>& nodes, uint32_t words) {
    std::string f = "P\x1A";
    f += HeaderBytes(static_cast<uint32_t>(nodes.size()), static_cast<uint32_t>(nodes.size()), words, 1,
                     static_cast<uint32_t>(f.size()));
    for (const auto& n : nodes) f += n;
    return f;
}

bool Has(const std::vector<std::string>& list, const std::string& word) {
    return std::find(list.begin(), list.end(), word) != list.end();
}

}  // namespace

TEST(SpellFile, HandBuiltTrieAnswersLookups) {
    TempDir dir;
    // Words: AB, AC, B, BAD. Root list A B; A's children B C; B's child A; A's child D.
    const std::string file = MainFile(
        {
            NodeBytes(3, C('A')),            //  1 A -> 3
            NodeBytes(5, C('B') | L6 | W7),  //  2 B (word "B") -> 5
            NodeBytes(0, C('B') | W7),       //  3 AB
            NodeBytes(0, C('C') | L6 | W7),  //  4 AC
            NodeBytes(6, C('A') | L6),       //  5 BA -> 6
            NodeBytes(0, C('D') | L6 | W7),  //  6 BAD
        },
        4);
    WriteAll(dir.file("hand.dct"), file);
    TAcropSpell spell;
    ASSERT_TRUE(spell.OpenMainDictionary(dir.file("hand.dct")));
    EXPECT_TRUE(spell.IsWord("ab"));
    EXPECT_TRUE(spell.IsWord("Ac"));
    EXPECT_TRUE(spell.IsWord("BAD"));
    EXPECT_FALSE(spell.IsWord("BA"));  // a prefix without its word bit
    EXPECT_FALSE(spell.IsWord("AD"));
    EXPECT_FALSE(spell.IsWord("BADE"));
    EXPECT_TRUE(spell.IsWord("x"));  // one character or none always passes
    EXPECT_TRUE(spell.IsWord(""));
    EXPECT_TRUE(spell.IsWord("bad's"));  // the possessive of a word
    EXPECT_TRUE(spell.IsWord("BAD'S'S"));
    EXPECT_FALSE(spell.IsWord("ba's"));
    EXPECT_FALSE(spell.IsWord("bads"));
    // The reader sees the same words, and a second open is refused.
    const auto images = ReadDictionaryImages(file);
    ASSERT_EQ(images.size(), 1u);
    EXPECT_EQ(WordsOf(images[0]), (std::vector<std::string>{"AB", "AC", "B", "BAD"}));
    EXPECT_FALSE(spell.OpenMainDictionary(dir.file("hand.dct")));
}

TEST(SpellFile, SiblingScanGoesOnPastChildlessMatchesButNotPastADescent) {
    TempDir dir;
    // Root list: A (no child, no word), A -> 4 (list: B word), A -> 5 (list: C word).
    const std::string file = MainFile(
        {
            NodeBytes(0, C('A')),            // 1
            NodeBytes(4, C('A')),            // 2
            NodeBytes(5, C('A') | L6),       // 3
            NodeBytes(0, C('B') | L6 | W7),  // 4 AB
            NodeBytes(0, C('C') | L6 | W7),  // 5 AC (behind the first A with a child)
        },
        2);
    WriteAll(dir.file("dup.dct"), file);
    TAcropSpell spell;
    ASSERT_TRUE(spell.OpenMainDictionary(dir.file("dup.dct")));
    EXPECT_TRUE(spell.IsWord("AB"));   // the childless first A is passed over
    EXPECT_FALSE(spell.IsWord("AC"));  // the first A with a child decides
}

TEST(SpellFile, BuilderWritesTheExpectedBytes) {
    const BuiltDictionary built = BuildMainDictionary({"bad", "ab", "B", "ac", "AB", "x7"}, "P");
    EXPECT_EQ(built.words, 4u);
    EXPECT_EQ(built.skipped, 1u);  // "x7": the digit has no letter code of its own
    const std::string expected = MainFile(
        {
            NodeBytes(3, C('A')),
            NodeBytes(5, C('B') | L6 | W7),
            NodeBytes(0, C('B') | W7),
            NodeBytes(0, C('C') | L6 | W7),
            NodeBytes(6, C('A') | L6),
            NodeBytes(0, C('D') | L6 | W7),
        },
        4);
    EXPECT_EQ(built.bytes, expected);
}

TEST(SpellFile, NewUserDictionaryIsLaidOutAsCreated) {
    const std::string f = NewUserDictionaryFile();
    const size_t eof = f.find('\x1A');
    ASSERT_NE(eof, std::string::npos);
    EXPECT_EQ(f.substr(0, 17), "USER DICTIONARY\r\n");
    const std::string second = f.substr(17, eof - 17);
    ASSERT_GE(second.size(), 3u);
    EXPECT_EQ(second.substr(second.size() - 2), "\r\n");
    EXPECT_EQ(second.find("\r\n"), second.size() - 2);  // exactly two lines
    const uint32_t at = static_cast<uint32_t>(eof + 1);
    EXPECT_EQ(f.substr(at, 17), HeaderBytes(1, 500, 1, 0, at));
    EXPECT_EQ(f.substr(at + 17, 3), NodeBytes(0, 0 | L6 | W7));
    EXPECT_EQ(f.size(), at + 17 + 500 * 3u);
    for (size_t n = 2; n <= 500; ++n) ASSERT_EQ(f.substr(at + 17 + (n - 1) * 3, 3), NodeBytes(65000, 0)) << n;
}

TEST(SpellFile, ChainedDictionariesStayBelowTheNodeLimit) {
    // Five-letter words from a fixed alphabet: far more nodes than one dictionary may hold.
    std::vector<std::string> words;
    const std::string letters = "ABCDEFGHIJKLMNOPQRSTUVWXYZ";
    for (char a : letters)
        for (char b : letters)
            for (char c : std::string("AEIOUY"))
                for (char d : std::string("BDGLMNRST")) words.push_back(std::string{a, b, c, d, 'S'});
    const BuiltDictionary built = BuildMainDictionary(words, "CHAIN");
    ASSERT_GE(built.nodeCounts.size(), 2u);
    for (uint32_t n : built.nodeCounts) EXPECT_LE(n, kMaxNodes);
    TempDir dir;
    WriteAll(dir.file("chain.dct"), built.bytes + std::string(20, '\0'));  // short tail: no further dictionary
    const auto images = ReadDictionaryImages(built.bytes + std::string(20, '\0'));
    ASSERT_EQ(images.size(), built.nodeCounts.size());
    size_t total = 0;
    for (const auto& img : images) {
        for (const Node& n : img.nodes) ASSERT_TRUE(n.child < img.nodes.size() + 1) << "child out of range";
        total += WordsOf(img).size();
    }
    EXPECT_EQ(total, words.size());
    TAcropSpell spell;
    ASSERT_TRUE(spell.OpenMainDictionary(dir.file("chain.dct")));
    EXPECT_EQ(spell.DictionaryCount(), built.nodeCounts.size());
    for (size_t i = 0; i < words.size(); i += 97) ASSERT_TRUE(spell.IsWord(words[i])) << words[i];
    EXPECT_TRUE(spell.IsWord(words.back()));
    EXPECT_TRUE(spell.IsWord("ZZYTS"));
    EXPECT_FALSE(spell.IsWord("ZZYTX"));
    EXPECT_FALSE(spell.IsWord("ABAB"));
}

TEST(SpellFile, SmallLimitSplitsAndEveryPartIsSearched) {
    const BuiltDictionary built = BuildMainDictionary({"CAT", "CAR", "DOG", "DOT", "EEL", "EMU"}, "X", 5);
    ASSERT_EQ(built.nodeCounts.size(), 3u);
    TempDir dir;
    WriteAll(dir.file("small.dct"), built.bytes);
    TAcropSpell spell;
    ASSERT_TRUE(spell.OpenMainDictionary(dir.file("small.dct")));
    for (const char* w : {"cat", "car", "dog", "dot", "eel", "emu"}) EXPECT_TRUE(spell.IsWord(w)) << w;
    EXPECT_FALSE(spell.IsWord("cot"));
}

TEST(SpellOpen, RefusesWrongKindsAndRetriesTheMainDictionary) {
    TempDir dir;
    WriteAll(dir.file("user.dct"), NewUserDictionaryFile());
    WriteAll(dir.file("main.dct"), BuildMainDictionary({"HELLO", "WORLD"}, "M").bytes);
    WriteAll(dir.file("nopreamble.dct"), std::string("no end byte at all"));
    TAcropSpell spell;
    EXPECT_FALSE(spell.OpenMainDictionary(dir.file("user.dct")));  // kind 0
    EXPECT_FALSE(spell.OpenMainDictionary(dir.file("nopreamble.dct")));
    EXPECT_FALSE(spell.OpenMainDictionary(dir.file("missing.dct")));
    EXPECT_EQ(spell.OpenUserDictionary(dir.file("main.dct")), -1);  // kind non-zero
    EXPECT_EQ(spell.OpenUserDictionary(dir.file("missing.dct")), -1);
    EXPECT_EQ(spell.DictionaryCount(), 0u);
    // User dictionaries are numbered from 0 as they are opened.
    EXPECT_EQ(spell.OpenUserDictionary(dir.file("user.dct")), 0);
    EXPECT_EQ(spell.OpenUserDictionary(dir.file("user.dct")), 1);
    // Without a main dictionary only the user dictionaries answer; each call tries DictionaryName again.
    spell.DictionaryName = dir.file("later.dct");
    EXPECT_FALSE(spell.IsWord("hello"));
    EXPECT_FALSE(spell.MainOpen());
    WriteAll(dir.file("later.dct"), BuildMainDictionary({"HELLO"}, "M").bytes);
    EXPECT_TRUE(spell.IsWord("hello"));
    EXPECT_TRUE(spell.MainOpen());
    spell.Close();
    EXPECT_EQ(spell.DictionaryCount(), 0u);
    EXPECT_FALSE(spell.MainOpen());
    EXPECT_EQ(spell.OpenUserDictionary(dir.file("user.dct")), 2);  // the count goes on after Close
}

TEST(SpellOpen, DamagedFilesAnswerWithoutCrashing) {
    TempDir dir;
    const std::string good = BuildMainDictionary({"ALPHA", "BETA", "GAMMA", "DELTA"}, "M").bytes;
    WriteAll(dir.file("cut.dct"), good.substr(0, good.size() - 7));
    TAcropSpell cut;
    ASSERT_TRUE(cut.OpenMainDictionary(dir.file("cut.dct")));
    EXPECT_TRUE(cut.IsWord("alpha"));
    EXPECT_FALSE(cut.IsWord("gamma"));  // its nodes are gone
    (void)cut.Suggest("gama");
    // Node slots far beyond the file and a child pointing back at node 1.
    std::string loop =
        "M\x1A" + HeaderBytes(2, 0xFFFFFFF0u, 1, 1, 2) + NodeBytes(1, C('A')) + NodeBytes(1, C('B') | L6);
    WriteAll(dir.file("loop.dct"), loop);
    TAcropSpell looping;
    ASSERT_TRUE(looping.OpenMainDictionary(dir.file("loop.dct")));
    EXPECT_FALSE(looping.IsWord(std::string(5000, 'A') + "C"));
    const auto s = looping.Suggest("ABABAB");
    EXPECT_LE(s.size(), 10u);
}

TEST(SpellOpen, ManyTinyChainedDictionariesCostInProportionToTheFile) {
    // 50,000 chained dictionaries of one node each (20 bytes): about 1 MB. Each used to get a full
    // 1024-line cache, 1.6 GB in all.
    constexpr uint32_t kCount = 50000;
    std::string f = "P\x1A";
    f.reserve(2 + kCount * 20);
    for (uint32_t i = 0; i < kCount; ++i) {
        f += HeaderBytes(1, 1, 1, 1, static_cast<uint32_t>(f.size()));
        f += NodeBytes(0, static_cast<uint8_t>(C(static_cast<char>('A' + i % 26)) | L6 | W7));
    }
    TempDir dir;
    WriteAll(dir.file("tvn.dct"), f);
    TAcropSpell spell;
    ASSERT_TRUE(spell.OpenMainDictionary(dir.file("tvn.dct")));
    // The format and its chaining are unchanged: the last one lies within the 20 bytes that may trail a file.
    EXPECT_EQ(spell.DictionaryCount(), kCount - 1);
    EXPECT_FALSE(spell.IsWord("hello"));
    const auto s = spell.Suggest("hello");
    EXPECT_LE(s.size(), 10u);
    EXPECT_LE(spell.CacheBytes(), 2 * f.size());
}

TEST(SpellUserDictionary, NeverFollowsASymbolicLinkNorOverwritesAFile) {
    TempDir dir;
    const std::string victim = dir.file("victim.dct");
    const std::string link = dir.file("tvnu.dct");
    ASSERT_EQ(::symlink(victim.c_str(), link.c_str()), 0);  // dangling
    TAcropSpell spell;
    spell.DictionaryName = dir.file("none.dct");
    EXPECT_EQ(spell.CreateUserDictionary(link, {"hello"}), -1);
    struct stat st {};
    EXPECT_NE(::stat(victim.c_str(), &st), 0) << "the link's target was created";
    // A link to a user dictionary is not opened for writing either.
    ASSERT_GE(spell.CreateUserDictionary(victim), 0);
    const std::string before = ReadAll(victim);
    EXPECT_EQ(spell.OpenUserDictionary(link), -1);
    // An existing file is never overwritten by a new dictionary.
    const std::string other = dir.file("other.dct");
    WriteAll(other, "words of the user");
    EXPECT_EQ(spell.CreateUserDictionary(other), -1);
    EXPECT_EQ(ReadAll(other), "words of the user");
    EXPECT_EQ(ReadAll(victim), before);
}

TEST(SpellSuggest, RanksCapitalisesAndKeepsTheFirstOfATie) {
    TempDir dir;
    // TAN and TEN score alike against "TIN"; TAN comes first in the trie.
    WriteAll(dir.file("m.dct"),
             BuildMainDictionary({"TAN", "TEN", "TON", "THE", "CAT", "DOG", "HOUSE", "BOAT"}, "M").bytes);
    TAcropSpell spell;
    spell.DictionaryName = dir.file("m.dct");
    auto s = spell.Suggest("tin");
    ASSERT_GE(s.size(), 3u);
    EXPECT_EQ(s[0], "tan");
    EXPECT_EQ(s[1], "ten");
    EXPECT_EQ(s[2], "ton");
    EXPECT_EQ(spell.Suggest("Tin")[0], "Tan");
    EXPECT_EQ(spell.Suggest("TIN")[0], "TAN");
    // K tries C first: the sound-alike walk finds CAT for KAT.
    EXPECT_EQ(spell.Suggest("kat")[0], "cat");
    // Two words run together come back with the space, in the capitals typed.
    EXPECT_TRUE(Has(spell.Suggest("doghouse"), "dog house"));
    EXPECT_TRUE(Has(spell.Suggest("DogHouse"), "Dog House"));
    EXPECT_TRUE(Has(spell.Suggest("catboat"), "cat boat"));
    // A split needs both parts to be words.
    for (const auto& w : spell.Suggest("dogxouse")) EXPECT_EQ(w.find(' '), std::string::npos) << w;
    // Nothing comes from an empty word.
    EXPECT_TRUE(spell.Suggest("").empty());
}

TEST(SpellSuggest, FindsEveryWordOneEditAwayAndRanksItsKindFirst) {
    TempDir dir;
    // Words a sound-alike walk misses (an added consonant changes the key, a swapped first letter is
    // outside the first-letter table) and the words that crowded them out.
    WriteAll(dir.file("m.dct"),
             BuildMainDictionary({"HOUSE", "HEINOUS",    "HANSEL", "PRINT", "PATRIOT", "WRITE",  "RITE",     "HELP",
                                  "HEP",   "HALE",       "HEAP",   "FROM",  "FRO",     "FARM",   "STORY",    "SO",
                                  "TRY",   "SORRY",      "A",      "LOT",   "ALLOT",   "ALOFT",  "BAIT",     "BATE",
                                  "CAN'T", "WELL-BEING", "CHE",    "APP",   "CHEAP",   "GARDON", "GAR\xC7ON"},
                                 "M")
                 .bytes);
    TAcropSpell spell;
    spell.DictionaryName = dir.file("m.dct");
    EXPECT_EQ(spell.Suggest("hnouse")[0], "house");  // a letter added
    EXPECT_EQ(spell.Suggest("ptrint")[0], "print");
    EXPECT_EQ(spell.Suggest("rwite")[0], "write");  // first letters swapped
    EXPECT_EQ(spell.Suggest("hlep")[0], "help");    // a swap before a dropped letter ("hep")
    EXPECT_EQ(spell.Suggest("frmo")[0], "from");
    EXPECT_EQ(spell.Suggest("Writ")[0], "Write");  // a letter dropped at the end
    EXPECT_EQ(spell.Suggest("cant")[0], "can't");  // the apostrophe and hyphen are letters of an edit
    EXPECT_EQ(spell.Suggest("wellbeing")[0], "well-being");
    // Equal scores: the swap BATE before the change BAIT that comes first in the trie.
    const auto baet = spell.Suggest("baet");
    ASSERT_GE(baet.size(), 2u);
    EXPECT_EQ(baet[0], "bate");
    EXPECT_EQ(baet[1], "bait");
    // A letter typed twice ranks with the swaps, before a split of higher score ("che app").
    EXPECT_EQ(spell.Suggest("cheapp")[0], "cheap");
    // So does a letter without its accent, before a change to another letter of equal score that comes
    // first in the trie (GARDON).
    EXPECT_EQ(spell.Suggest("garcon")[0], "gar\xE7on");
    // A one-letter fix comes before a split of higher score; a split comes after the one-edit words
    // of equal score (ALLOT, ALOFT: 88) and before those of a lower one (LOT: 85).
    const auto sotry = spell.Suggest("sotry");
    ASSERT_GE(sotry.size(), 2u);
    EXPECT_EQ(sotry[0], "story");
    EXPECT_TRUE(Has(sotry, "so try"));
    const auto alot = spell.Suggest("alot");
    const auto pos = [&](const std::string& w) { return std::find(alot.begin(), alot.end(), w) - alot.begin(); };
    ASSERT_TRUE(Has(alot, "a lot") && Has(alot, "lot") && Has(alot, "allot") && Has(alot, "aloft"));
    EXPECT_GT(pos("a lot"), pos("allot"));
    EXPECT_GT(pos("a lot"), pos("aloft"));
    EXPECT_LT(pos("a lot"), pos("lot"));
}

TEST(SpellSuggest, OffersEachWordOnce) {
    TempDir dir;
    // The root's one-letter words are reached once for every first letter tried.
    WriteAll(dir.file("m.dct"), BuildMainDictionary({"A", "I", "AXE", "AX", "EX"}, "M").bytes);
    TAcropSpell spell;
    spell.DictionaryName = dir.file("m.dct");
    spell.SetMaxSuggestions(50);
    for (const char* typed : {"ax", "axx", "iax"}) {
        const auto s = spell.Suggest(typed);
        EXPECT_EQ(std::set<std::string>(s.begin(), s.end()).size(), s.size()) << typed;
    }
}

TEST(SpellSuggest, MaximumIsCutTo220) {
    std::vector<std::string> words;
    for (char a = 'A'; a <= 'Z'; ++a)
        for (char b = 'A'; b <= 'Z'; ++b) words.push_back(std::string{'T', a, b});
    TempDir dir;
    WriteAll(dir.file("m.dct"), BuildMainDictionary(words, "M").bytes);
    TAcropSpell spell;
    spell.DictionaryName = dir.file("m.dct");
    spell.SetMaxSuggestions(300);
    EXPECT_EQ(spell.MaxSuggestions(), 220);
    EXPECT_EQ(spell.Suggest("TXQ").size(), 220u);
    spell.SetMaxSuggestions(3);
    EXPECT_EQ(spell.Suggest("TXQ").size(), 3u);
    spell.SetMaxSuggestions(-5);
    EXPECT_TRUE(spell.Suggest("TXQ").empty());
}

TEST(SpellAddWord, InsertsRenumbersAndStaysReadable) {
    TempDir dir;
    const std::string path = dir.file("u.dct");
    TAcropSpell spell;
    spell.DictionaryName = dir.file("none.dct");
    const int n = spell.CreateUserDictionary(path);
    ASSERT_EQ(n, 0);
    EXPECT_TRUE(spell.AddWord("bc", n));  // new first letter: node 2 after A, chain C at 3
    EXPECT_TRUE(spell.AddWord("ad", n));  // A had no child: chain D appended at 4
    EXPECT_TRUE(spell.AddWord("be", n));  // E joins B's list after C: D moves from 4 to 5
    const std::string f = ReadAll(path);
    const size_t at = f.find('\x1A') + 1;
    EXPECT_EQ(f.substr(at, 17), HeaderBytes(5, 500, 4, 0, static_cast<uint32_t>(at)));
    const std::string nodes = f.substr(at + 17, 6 * 3);
    EXPECT_EQ(nodes, NodeBytes(5, C('A') | W7)             // A -> 5 (was 4)
                         + NodeBytes(3, C('B') | L6)       // B -> 3
                         + NodeBytes(0, C('C') | W7)       // BC
                         + NodeBytes(0, C('E') | L6 | W7)  // BE, inserted
                         + NodeBytes(0, C('D') | L6 | W7)  // AD, moved up
                         + NodeBytes(65000, 0));           // still free
    // Found without reopening, and by a fresh engine reading the file.
    EXPECT_TRUE(spell.IsWord("AD"));
    EXPECT_TRUE(spell.IsWord("be"));
    TAcropSpell other;
    other.DictionaryName = dir.file("none.dct");
    ASSERT_GE(other.OpenUserDictionary(path), 0);
    for (const char* w : {"ad", "bc", "be"}) EXPECT_TRUE(other.IsWord(w)) << w;
    EXPECT_FALSE(other.IsWord("bd"));
    // A word the other engine adds is seen by the first one at once.
    ASSERT_TRUE(other.AddWord("zebra", 0));
    EXPECT_TRUE(spell.IsWord("Zebra"));
    EXPECT_EQ(WordsOf(ReadDictionaryImages(ReadAll(path))[0]),
              (std::vector<std::string>{"A", "AD", "BC", "BE", "ZEBRA"}));
    // Adding a word that is held changes nothing.
    const std::string before = ReadAll(path);
    EXPECT_TRUE(spell.AddWord("BE", n));
    EXPECT_EQ(ReadAll(path), before);
}

TEST(SpellAddWord, PrefixesAndExtensionsOfHeldWords) {
    TempDir dir;
    TAcropSpell spell;
    spell.DictionaryName = dir.file("none.dct");
    const int n = spell.CreateUserDictionary(dir.file("u.dct"), {"HOUSEBOAT", "HOUSE", "HOUSES", "HOT", "HOUR"});
    ASSERT_GE(n, 0);
    for (const char* w : {"houseboat", "house", "houses", "hot", "hour", "a"}) EXPECT_TRUE(spell.IsWord(w)) << w;
    for (const char* w : {"hous", "ho", "houseb", "hours"}) EXPECT_FALSE(spell.IsWord(w)) << w;
    const auto words = WordsOf(ReadDictionaryImages(ReadAll(dir.file("u.dct")))[0]);
    EXPECT_EQ(std::set<std::string>(words.begin(), words.end()),
              (std::set<std::string>{"A", "HOUSEBOAT", "HOUSE", "HOUSES", "HOT", "HOUR"}));
}

TEST(SpellAddWord, RefusalsWriteNothing) {
    TempDir dir;
    const std::string path = dir.file("u.dct");
    TAcropSpell spell;
    spell.DictionaryName = dir.file("main.dct");
    WriteAll(dir.file("main.dct"), BuildMainDictionary({"HELLO"}, "M").bytes);
    const int n = spell.CreateUserDictionary(path);
    ASSERT_GE(n, 0);
    const std::string before = ReadAll(path);
    EXPECT_FALSE(spell.AddWord(std::string(26, 'X'), n));  // longer than 25
    EXPECT_TRUE(spell.AddWord(std::string(25, 'X'), n));
    const std::string after25 = ReadAll(path);
    EXPECT_NE(after25, before);
    EXPECT_FALSE(spell.AddWord("word", n + 7));  // no such dictionary
    EXPECT_FALSE(spell.AddWord("word", -1));
    EXPECT_FALSE(spell.AddWord("", n));
    EXPECT_FALSE(spell.AddWord("r2d2", n));  // digits have no letter code
    // Used nodes near the limit: the word's length would pass 63999.
    std::string full = after25;
    const size_t at = full.find('\x1A') + 1;
    full.replace(at, 4, Le32(63990));
    WriteAll(path, full);
    EXPECT_FALSE(spell.AddWord("abcdefghij", n));
    EXPECT_EQ(ReadAll(path), full);
}

TEST(SpellAddWord, GrowsPastTheFirstSlots) {
    TempDir dir;
    const std::string path = dir.file("u.dct");
    TAcropSpell spell;
    spell.DictionaryName = dir.file("none.dct");
    const int n = spell.CreateUserDictionary(path);
    std::vector<std::string> words;
    for (char a = 'B'; a <= 'Z'; ++a)
        for (char b = 'A'; b <= 'Z'; b += 2) words.push_back(std::string{a, b, 'Q', 'X', 'Z'});
    for (const auto& w : words) ASSERT_TRUE(spell.AddWord(w, n)) << w;
    for (const auto& w : words) ASSERT_TRUE(spell.IsWord(w)) << w;
    const auto images = ReadDictionaryImages(ReadAll(path));
    ASSERT_EQ(images.size(), 1u);
    EXPECT_GT(images[0].header.nodeSlots, 500u);
    EXPECT_GE(images[0].header.nodeSlots, images[0].header.usedNodes);
    EXPECT_EQ(images[0].header.wordCount, words.size() + 1);
    EXPECT_EQ(images[0].nodes.size(), images[0].header.nodeSlots);
    EXPECT_EQ(WordsOf(images[0]).size(), words.size() + 1);
}

TEST(SpellMainDictionary, KnowsEnglishAndSuggestsTheIntendedWord) {
    TAcropSpell spell;
    ASSERT_TRUE(spell.OpenMainDictionary(MainDictionaryFile()));
    EXPECT_GE(spell.DictionaryCount(), 2u);
    for (const char* w : {"the", "receive", "Separate", "dog's", "children's", "isn't", "caf\xE9", "naivet\xE9"})
        EXPECT_TRUE(spell.IsWord(w)) << w;
    for (const char* w : {"recieve", "seperate", "teh", "wrold", "definately"}) EXPECT_FALSE(spell.IsWord(w)) << w;
    EXPECT_EQ(spell.Suggest("recieve")[0], "receive");
    EXPECT_EQ(spell.Suggest("Seperate")[0], "Separate");
    EXPECT_EQ(spell.Suggest("DEFINATELY")[0], "DEFINITELY");
    EXPECT_TRUE(Has(spell.Suggest("alot"), "a lot"));
    EXPECT_TRUE(Has(spell.Suggest("wouldbe"), "would be"));
}
