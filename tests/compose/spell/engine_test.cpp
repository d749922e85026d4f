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
uint8_t c(char c) { return static_cast<uint8_t>(c - 'A'); }

// A main dictionary file with the given nodes; the preamble is "P\x1A".
std::string mainFile(const std::vector<std::string>& nodes, uint32_t words) {
    std::string f = "P\x1A";
    f += headerBytes(static_cast<uint32_t>(nodes.size()), static_cast<uint32_t>(nodes.size()), words, 1,
                     static_cast<uint32_t>(f.size()));
    for (const auto& n : nodes) f += n;
    return f;
}

bool has(const std::vector<std::string>& list, const std::string& word) {
    return std::find(list.begin(), list.end(), word) != list.end();
}

}  // namespace

TEST(SpellFile, HandBuiltTrieAnswersLookups) {
    TempDir dir;
    // Words: AB, AC, B, BAD. Root list A B; A's children B C; B's child A; A's child D.
    const std::string file = mainFile(
        {
            nodeBytes(3, c('A')),            //  1 A -> 3
            nodeBytes(5, c('B') | L6 | W7),  //  2 B (word "B") -> 5
            nodeBytes(0, c('B') | W7),       //  3 AB
            nodeBytes(0, c('C') | L6 | W7),  //  4 AC
            nodeBytes(6, c('A') | L6),       //  5 BA -> 6
            nodeBytes(0, c('D') | L6 | W7),  //  6 BAD
        },
        4);
    writeAll(dir.file("hand.dct"), file);
    TAcropSpell spell;
    ASSERT_TRUE(spell.openMainDictionary(dir.file("hand.dct")));
    EXPECT_TRUE(spell.isWord("ab"));
    EXPECT_TRUE(spell.isWord("Ac"));
    EXPECT_TRUE(spell.isWord("BAD"));
    EXPECT_FALSE(spell.isWord("BA"));  // a prefix without its word bit
    EXPECT_FALSE(spell.isWord("AD"));
    EXPECT_FALSE(spell.isWord("BADE"));
    EXPECT_TRUE(spell.isWord("x"));  // one character or none always passes
    EXPECT_TRUE(spell.isWord(""));
    EXPECT_TRUE(spell.isWord("bad's"));  // the possessive of a word
    EXPECT_TRUE(spell.isWord("BAD'S'S"));
    EXPECT_FALSE(spell.isWord("ba's"));
    EXPECT_FALSE(spell.isWord("bads"));
    // The reader sees the same words, and a second open is refused.
    const auto images = readDictionaryImages(file);
    ASSERT_EQ(images.size(), 1u);
    EXPECT_EQ(wordsOf(images[0]), (std::vector<std::string>{"AB", "AC", "B", "BAD"}));
    EXPECT_FALSE(spell.openMainDictionary(dir.file("hand.dct")));
}

TEST(SpellFile, SiblingScanGoesOnPastChildlessMatchesButNotPastADescent) {
    TempDir dir;
    // Root list: A (no child, no word), A -> 4 (list: B word), A -> 5 (list: C word).
    const std::string file = mainFile(
        {
            nodeBytes(0, c('A')),            // 1
            nodeBytes(4, c('A')),            // 2
            nodeBytes(5, c('A') | L6),       // 3
            nodeBytes(0, c('B') | L6 | W7),  // 4 AB
            nodeBytes(0, c('C') | L6 | W7),  // 5 AC (behind the first A with a child)
        },
        2);
    writeAll(dir.file("dup.dct"), file);
    TAcropSpell spell;
    ASSERT_TRUE(spell.openMainDictionary(dir.file("dup.dct")));
    EXPECT_TRUE(spell.isWord("AB"));   // the childless first A is passed over
    EXPECT_FALSE(spell.isWord("AC"));  // the first A with a child decides
}

TEST(SpellFile, BuilderWritesTheExpectedBytes) {
    const BuiltDictionary built = buildMainDictionary({"bad", "ab", "B", "ac", "AB", "x7"}, "P");
    EXPECT_EQ(built.words, 4u);
    EXPECT_EQ(built.skipped, 1u);  // "x7": the digit has no letter code of its own
    const std::string expected = mainFile(
        {
            nodeBytes(3, c('A')),
            nodeBytes(5, c('B') | L6 | W7),
            nodeBytes(0, c('B') | W7),
            nodeBytes(0, c('C') | L6 | W7),
            nodeBytes(6, c('A') | L6),
            nodeBytes(0, c('D') | L6 | W7),
        },
        4);
    EXPECT_EQ(built.bytes, expected);
}

TEST(SpellFile, NewUserDictionaryIsLaidOutAsCreated) {
    const std::string f = newUserDictionaryFile();
    const size_t eof = f.find('\x1A');
    ASSERT_NE(eof, std::string::npos);
    EXPECT_EQ(f.substr(0, 17), "USER DICTIONARY\r\n");
    const std::string second = f.substr(17, eof - 17);
    ASSERT_GE(second.size(), 3u);
    EXPECT_EQ(second.substr(second.size() - 2), "\r\n");
    EXPECT_EQ(second.find("\r\n"), second.size() - 2);  // exactly two lines
    const uint32_t at = static_cast<uint32_t>(eof + 1);
    EXPECT_EQ(f.substr(at, 17), headerBytes(1, 500, 1, 0, at));
    EXPECT_EQ(f.substr(at + 17, 3), nodeBytes(0, 0 | L6 | W7));
    EXPECT_EQ(f.size(), at + 17 + 500 * 3u);
    for (size_t n = 2; n <= 500; ++n) ASSERT_EQ(f.substr(at + 17 + (n - 1) * 3, 3), nodeBytes(65000, 0)) << n;
}

TEST(SpellFile, ChainedDictionariesStayBelowTheNodeLimit) {
    // Five-letter words from a fixed alphabet: far more nodes than one dictionary may hold.
    std::vector<std::string> words;
    const std::string letters = "ABCDEFGHIJKLMNOPQRSTUVWXYZ";
    for (char a : letters)
        for (char b : letters)
            for (char c : std::string("AEIOUY"))
                for (char d : std::string("BDGLMNRST")) words.push_back(std::string{a, b, c, d, 'S'});
    const BuiltDictionary built = buildMainDictionary(words, "CHAIN");
    ASSERT_GE(built.nodeCounts.size(), 2u);
    for (uint32_t n : built.nodeCounts) EXPECT_LE(n, kMaxNodes);
    TempDir dir;
    writeAll(dir.file("chain.dct"), built.bytes + std::string(20, '\0'));  // short tail: no further dictionary
    const auto images = readDictionaryImages(built.bytes + std::string(20, '\0'));
    ASSERT_EQ(images.size(), built.nodeCounts.size());
    size_t total = 0;
    for (const auto& img : images) {
        for (const Node& n : img.nodes) ASSERT_TRUE(n.child < img.nodes.size() + 1) << "child out of range";
        total += wordsOf(img).size();
    }
    EXPECT_EQ(total, words.size());
    TAcropSpell spell;
    ASSERT_TRUE(spell.openMainDictionary(dir.file("chain.dct")));
    EXPECT_EQ(spell.dictionaryCount(), built.nodeCounts.size());
    for (size_t i = 0; i < words.size(); i += 97) ASSERT_TRUE(spell.isWord(words[i])) << words[i];
    EXPECT_TRUE(spell.isWord(words.back()));
    EXPECT_TRUE(spell.isWord("ZZYTS"));
    EXPECT_FALSE(spell.isWord("ZZYTX"));
    EXPECT_FALSE(spell.isWord("ABAB"));
}

TEST(SpellFile, SmallLimitSplitsAndEveryPartIsSearched) {
    const BuiltDictionary built = buildMainDictionary({"CAT", "CAR", "DOG", "DOT", "EEL", "EMU"}, "X", 5);
    ASSERT_EQ(built.nodeCounts.size(), 3u);
    TempDir dir;
    writeAll(dir.file("small.dct"), built.bytes);
    TAcropSpell spell;
    ASSERT_TRUE(spell.openMainDictionary(dir.file("small.dct")));
    for (const char* w : {"cat", "car", "dog", "dot", "eel", "emu"}) EXPECT_TRUE(spell.isWord(w)) << w;
    EXPECT_FALSE(spell.isWord("cot"));
}

TEST(SpellOpen, RefusesWrongKindsAndRetriesTheMainDictionary) {
    TempDir dir;
    writeAll(dir.file("user.dct"), newUserDictionaryFile());
    writeAll(dir.file("main.dct"), buildMainDictionary({"HELLO", "WORLD"}, "M").bytes);
    writeAll(dir.file("nopreamble.dct"), std::string("no end byte at all"));
    TAcropSpell spell;
    EXPECT_FALSE(spell.openMainDictionary(dir.file("user.dct")));  // kind 0
    EXPECT_FALSE(spell.openMainDictionary(dir.file("nopreamble.dct")));
    EXPECT_FALSE(spell.openMainDictionary(dir.file("missing.dct")));
    EXPECT_EQ(spell.openUserDictionary(dir.file("main.dct")), -1);  // kind non-zero
    EXPECT_EQ(spell.openUserDictionary(dir.file("missing.dct")), -1);
    EXPECT_EQ(spell.dictionaryCount(), 0u);
    // User dictionaries are numbered from 0 as they are opened.
    EXPECT_EQ(spell.openUserDictionary(dir.file("user.dct")), 0);
    EXPECT_EQ(spell.openUserDictionary(dir.file("user.dct")), 1);
    // Without a main dictionary only the user dictionaries answer; each call tries DictionaryName again.
    spell.DictionaryName = dir.file("later.dct");
    EXPECT_FALSE(spell.isWord("hello"));
    EXPECT_FALSE(spell.mainOpen());
    writeAll(dir.file("later.dct"), buildMainDictionary({"HELLO"}, "M").bytes);
    EXPECT_TRUE(spell.isWord("hello"));
    EXPECT_TRUE(spell.mainOpen());
    spell.close();
    EXPECT_EQ(spell.dictionaryCount(), 0u);
    EXPECT_FALSE(spell.mainOpen());
    EXPECT_EQ(spell.openUserDictionary(dir.file("user.dct")), 2);  // the count goes on after Close
}

TEST(SpellOpen, DamagedFilesAnswerWithoutCrashing) {
    TempDir dir;
    const std::string good = buildMainDictionary({"ALPHA", "BETA", "GAMMA", "DELTA"}, "M").bytes;
    writeAll(dir.file("cut.dct"), good.substr(0, good.size() - 7));
    TAcropSpell cut;
    ASSERT_TRUE(cut.openMainDictionary(dir.file("cut.dct")));
    EXPECT_TRUE(cut.isWord("alpha"));
    EXPECT_FALSE(cut.isWord("gamma"));  // its nodes are gone
    (void)cut.suggest("gama");
    // Node slots far beyond the file and a child pointing back at node 1.
    std::string loop =
        "M\x1A" + headerBytes(2, 0xFFFFFFF0u, 1, 1, 2) + nodeBytes(1, c('A')) + nodeBytes(1, c('B') | L6);
    writeAll(dir.file("loop.dct"), loop);
    TAcropSpell looping;
    ASSERT_TRUE(looping.openMainDictionary(dir.file("loop.dct")));
    EXPECT_FALSE(looping.isWord(std::string(5000, 'A') + "C"));
    const auto s = looping.suggest("ABABAB");
    EXPECT_LE(s.size(), 10u);
}

TEST(SpellOpen, ManyTinyChainedDictionariesCostInProportionToTheFile) {
    // 50,000 chained dictionaries of one node each (20 bytes): about 1 MB. Each used to get a full
    // 1024-line cache, 1.6 GB in all.
    constexpr uint32_t kCount = 50000;
    std::string f = "P\x1A";
    f.reserve(2 + kCount * 20);
    for (uint32_t i = 0; i < kCount; ++i) {
        f += headerBytes(1, 1, 1, 1, static_cast<uint32_t>(f.size()));
        f += nodeBytes(0, static_cast<uint8_t>(c(static_cast<char>('A' + i % 26)) | L6 | W7));
    }
    TempDir dir;
    writeAll(dir.file("tvn.dct"), f);
    TAcropSpell spell;
    ASSERT_TRUE(spell.openMainDictionary(dir.file("tvn.dct")));
    // The format and its chaining are unchanged: the last one lies within the 20 bytes that may trail a file.
    EXPECT_EQ(spell.dictionaryCount(), kCount - 1);
    EXPECT_FALSE(spell.isWord("hello"));
    const auto s = spell.suggest("hello");
    EXPECT_LE(s.size(), 10u);
    EXPECT_LE(spell.cacheBytes(), 2 * f.size());
}

TEST(SpellUserDictionary, NeverFollowsASymbolicLinkNorOverwritesAFile) {
    TempDir dir;
    const std::string victim = dir.file("victim.dct");
    const std::string link = dir.file("tvnu.dct");
    ASSERT_EQ(::symlink(victim.c_str(), link.c_str()), 0);  // dangling
    TAcropSpell spell;
    spell.DictionaryName = dir.file("none.dct");
    EXPECT_EQ(spell.createUserDictionary(link, {"hello"}), -1);
    struct stat st {};
    EXPECT_NE(::stat(victim.c_str(), &st), 0) << "the link's target was created";
    // A link to a user dictionary is not opened for writing either.
    ASSERT_GE(spell.createUserDictionary(victim), 0);
    const std::string before = readAll(victim);
    EXPECT_EQ(spell.openUserDictionary(link), -1);
    // An existing file is never overwritten by a new dictionary.
    const std::string other = dir.file("other.dct");
    writeAll(other, "words of the user");
    EXPECT_EQ(spell.createUserDictionary(other), -1);
    EXPECT_EQ(readAll(other), "words of the user");
    EXPECT_EQ(readAll(victim), before);
}

TEST(SpellSuggest, RanksCapitalisesAndKeepsTheFirstOfATie) {
    TempDir dir;
    // TAN and TEN score alike against "TIN"; TAN comes first in the trie.
    writeAll(dir.file("m.dct"),
             buildMainDictionary({"TAN", "TEN", "TON", "THE", "CAT", "DOG", "HOUSE", "BOAT"}, "M").bytes);
    TAcropSpell spell;
    spell.DictionaryName = dir.file("m.dct");
    auto s = spell.suggest("tin");
    ASSERT_GE(s.size(), 3u);
    EXPECT_EQ(s[0], "tan");
    EXPECT_EQ(s[1], "ten");
    EXPECT_EQ(s[2], "ton");
    EXPECT_EQ(spell.suggest("Tin")[0], "Tan");
    EXPECT_EQ(spell.suggest("TIN")[0], "TAN");
    // K tries C first: the sound-alike walk finds CAT for KAT.
    EXPECT_EQ(spell.suggest("kat")[0], "cat");
    // Two words run together come back with the space, in the capitals typed.
    EXPECT_TRUE(has(spell.suggest("doghouse"), "dog house"));
    EXPECT_TRUE(has(spell.suggest("DogHouse"), "Dog House"));
    EXPECT_TRUE(has(spell.suggest("catboat"), "cat boat"));
    // A split needs both parts to be words.
    for (const auto& w : spell.suggest("dogxouse")) EXPECT_EQ(w.find(' '), std::string::npos) << w;
    // Nothing comes from an empty word.
    EXPECT_TRUE(spell.suggest("").empty());
}

TEST(SpellSuggest, FindsEveryWordOneEditAwayAndRanksItsKindFirst) {
    TempDir dir;
    // Words a sound-alike walk misses (an added consonant changes the key, a swapped first letter is
    // outside the first-letter table) and the words that crowded them out.
    writeAll(dir.file("m.dct"),
             buildMainDictionary({"HOUSE", "HEINOUS",    "HANSEL", "PRINT", "PATRIOT", "WRITE",  "RITE",     "HELP",
                                  "HEP",   "HALE",       "HEAP",   "FROM",  "FRO",     "FARM",   "STORY",    "SO",
                                  "TRY",   "SORRY",      "A",      "LOT",   "ALLOT",   "ALOFT",  "BAIT",     "BATE",
                                  "CAN'T", "WELL-BEING", "CHE",    "APP",   "CHEAP",   "GARDON", "GAR\xC7ON"},
                                 "M")
                 .bytes);
    TAcropSpell spell;
    spell.DictionaryName = dir.file("m.dct");
    EXPECT_EQ(spell.suggest("hnouse")[0], "house");  // a letter added
    EXPECT_EQ(spell.suggest("ptrint")[0], "print");
    EXPECT_EQ(spell.suggest("rwite")[0], "write");  // first letters swapped
    EXPECT_EQ(spell.suggest("hlep")[0], "help");    // a swap before a dropped letter ("hep")
    EXPECT_EQ(spell.suggest("frmo")[0], "from");
    EXPECT_EQ(spell.suggest("Writ")[0], "Write");  // a letter dropped at the end
    EXPECT_EQ(spell.suggest("cant")[0], "can't");  // the apostrophe and hyphen are letters of an edit
    EXPECT_EQ(spell.suggest("wellbeing")[0], "well-being");
    // Equal scores: the swap BATE before the change BAIT that comes first in the trie.
    const auto baet = spell.suggest("baet");
    ASSERT_GE(baet.size(), 2u);
    EXPECT_EQ(baet[0], "bate");
    EXPECT_EQ(baet[1], "bait");
    // A letter typed twice ranks with the swaps, before a split of higher score ("che app").
    EXPECT_EQ(spell.suggest("cheapp")[0], "cheap");
    // So does a letter without its accent, before a change to another letter of equal score that comes
    // first in the trie (GARDON).
    EXPECT_EQ(spell.suggest("garcon")[0], "gar\xE7on");
    // A one-letter fix comes before a split of higher score; a split comes after the one-edit words
    // of equal score (ALLOT, ALOFT: 88) and before those of a lower one (LOT: 85).
    const auto sotry = spell.suggest("sotry");
    ASSERT_GE(sotry.size(), 2u);
    EXPECT_EQ(sotry[0], "story");
    EXPECT_TRUE(has(sotry, "so try"));
    const auto alot = spell.suggest("alot");
    const auto pos = [&](const std::string& w) { return std::find(alot.begin(), alot.end(), w) - alot.begin(); };
    ASSERT_TRUE(has(alot, "a lot") && has(alot, "lot") && has(alot, "allot") && has(alot, "aloft"));
    EXPECT_GT(pos("a lot"), pos("allot"));
    EXPECT_GT(pos("a lot"), pos("aloft"));
    EXPECT_LT(pos("a lot"), pos("lot"));
}

TEST(SpellSuggest, OffersEachWordOnce) {
    TempDir dir;
    // The root's one-letter words are reached once for every first letter tried.
    writeAll(dir.file("m.dct"), buildMainDictionary({"A", "I", "AXE", "AX", "EX"}, "M").bytes);
    TAcropSpell spell;
    spell.DictionaryName = dir.file("m.dct");
    spell.setMaxSuggestions(50);
    for (const char* typed : {"ax", "axx", "iax"}) {
        const auto s = spell.suggest(typed);
        EXPECT_EQ(std::set<std::string>(s.begin(), s.end()).size(), s.size()) << typed;
    }
}

TEST(SpellSuggest, MaximumIsCutTo220) {
    std::vector<std::string> words;
    for (char a = 'A'; a <= 'Z'; ++a)
        for (char b = 'A'; b <= 'Z'; ++b) words.push_back(std::string{'T', a, b});
    TempDir dir;
    writeAll(dir.file("m.dct"), buildMainDictionary(words, "M").bytes);
    TAcropSpell spell;
    spell.DictionaryName = dir.file("m.dct");
    spell.setMaxSuggestions(300);
    EXPECT_EQ(spell.maxSuggestions(), 220);
    EXPECT_EQ(spell.suggest("TXQ").size(), 220u);
    spell.setMaxSuggestions(3);
    EXPECT_EQ(spell.suggest("TXQ").size(), 3u);
    spell.setMaxSuggestions(-5);
    EXPECT_TRUE(spell.suggest("TXQ").empty());
}

TEST(SpellAddWord, InsertsRenumbersAndStaysReadable) {
    TempDir dir;
    const std::string path = dir.file("u.dct");
    TAcropSpell spell;
    spell.DictionaryName = dir.file("none.dct");
    const int n = spell.createUserDictionary(path);
    ASSERT_EQ(n, 0);
    EXPECT_TRUE(spell.addWord("bc", n));  // new first letter: node 2 after A, chain C at 3
    EXPECT_TRUE(spell.addWord("ad", n));  // A had no child: chain D appended at 4
    EXPECT_TRUE(spell.addWord("be", n));  // E joins B's list after C: D moves from 4 to 5
    const std::string f = readAll(path);
    const size_t at = f.find('\x1A') + 1;
    EXPECT_EQ(f.substr(at, 17), headerBytes(5, 500, 4, 0, static_cast<uint32_t>(at)));
    const std::string nodes = f.substr(at + 17, 6 * 3);
    EXPECT_EQ(nodes, nodeBytes(5, c('A') | W7)             // A -> 5 (was 4)
                         + nodeBytes(3, c('B') | L6)       // B -> 3
                         + nodeBytes(0, c('C') | W7)       // BC
                         + nodeBytes(0, c('E') | L6 | W7)  // BE, inserted
                         + nodeBytes(0, c('D') | L6 | W7)  // AD, moved up
                         + nodeBytes(65000, 0));           // still free
    // Found without reopening, and by a fresh engine reading the file.
    EXPECT_TRUE(spell.isWord("AD"));
    EXPECT_TRUE(spell.isWord("be"));
    TAcropSpell other;
    other.DictionaryName = dir.file("none.dct");
    ASSERT_GE(other.openUserDictionary(path), 0);
    for (const char* w : {"ad", "bc", "be"}) EXPECT_TRUE(other.isWord(w)) << w;
    EXPECT_FALSE(other.isWord("bd"));
    // A word the other engine adds is seen by the first one at once.
    ASSERT_TRUE(other.addWord("zebra", 0));
    EXPECT_TRUE(spell.isWord("Zebra"));
    EXPECT_EQ(wordsOf(readDictionaryImages(readAll(path))[0]),
              (std::vector<std::string>{"A", "AD", "BC", "BE", "ZEBRA"}));
    // Adding a word that is held changes nothing.
    const std::string before = readAll(path);
    EXPECT_TRUE(spell.addWord("BE", n));
    EXPECT_EQ(readAll(path), before);
}

TEST(SpellAddWord, PrefixesAndExtensionsOfHeldWords) {
    TempDir dir;
    TAcropSpell spell;
    spell.DictionaryName = dir.file("none.dct");
    const int n = spell.createUserDictionary(dir.file("u.dct"), {"HOUSEBOAT", "HOUSE", "HOUSES", "HOT", "HOUR"});
    ASSERT_GE(n, 0);
    for (const char* w : {"houseboat", "house", "houses", "hot", "hour", "a"}) EXPECT_TRUE(spell.isWord(w)) << w;
    for (const char* w : {"hous", "ho", "houseb", "hours"}) EXPECT_FALSE(spell.isWord(w)) << w;
    const auto words = wordsOf(readDictionaryImages(readAll(dir.file("u.dct")))[0]);
    EXPECT_EQ(std::set<std::string>(words.begin(), words.end()),
              (std::set<std::string>{"A", "HOUSEBOAT", "HOUSE", "HOUSES", "HOT", "HOUR"}));
}

TEST(SpellAddWord, RefusalsWriteNothing) {
    TempDir dir;
    const std::string path = dir.file("u.dct");
    TAcropSpell spell;
    spell.DictionaryName = dir.file("main.dct");
    writeAll(dir.file("main.dct"), buildMainDictionary({"HELLO"}, "M").bytes);
    const int n = spell.createUserDictionary(path);
    ASSERT_GE(n, 0);
    const std::string before = readAll(path);
    EXPECT_FALSE(spell.addWord(std::string(26, 'X'), n));  // longer than 25
    EXPECT_TRUE(spell.addWord(std::string(25, 'X'), n));
    const std::string after25 = readAll(path);
    EXPECT_NE(after25, before);
    EXPECT_FALSE(spell.addWord("word", n + 7));  // no such dictionary
    EXPECT_FALSE(spell.addWord("word", -1));
    EXPECT_FALSE(spell.addWord("", n));
    EXPECT_FALSE(spell.addWord("r2d2", n));  // digits have no letter code
    // Used nodes near the limit: the word's length would pass 63999.
    std::string full = after25;
    const size_t at = full.find('\x1A') + 1;
    full.replace(at, 4, le32(63990));
    writeAll(path, full);
    EXPECT_FALSE(spell.addWord("abcdefghij", n));
    EXPECT_EQ(readAll(path), full);
}

TEST(SpellAddWord, GrowsPastTheFirstSlots) {
    TempDir dir;
    const std::string path = dir.file("u.dct");
    TAcropSpell spell;
    spell.DictionaryName = dir.file("none.dct");
    const int n = spell.createUserDictionary(path);
    std::vector<std::string> words;
    for (char a = 'B'; a <= 'Z'; ++a)
        for (char b = 'A'; b <= 'Z'; b += 2) words.push_back(std::string{a, b, 'Q', 'X', 'Z'});
    for (const auto& w : words) ASSERT_TRUE(spell.addWord(w, n)) << w;
    for (const auto& w : words) ASSERT_TRUE(spell.isWord(w)) << w;
    const auto images = readDictionaryImages(readAll(path));
    ASSERT_EQ(images.size(), 1u);
    EXPECT_GT(images[0].header.nodeSlots, 500u);
    EXPECT_GE(images[0].header.nodeSlots, images[0].header.usedNodes);
    EXPECT_EQ(images[0].header.wordCount, words.size() + 1);
    EXPECT_EQ(images[0].nodes.size(), images[0].header.nodeSlots);
    EXPECT_EQ(wordsOf(images[0]).size(), words.size() + 1);
}

TEST(SpellMainDictionary, KnowsEnglishAndSuggestsTheIntendedWord) {
    TAcropSpell spell;
    ASSERT_TRUE(spell.openMainDictionary(mainDictionaryFile()));
    EXPECT_GE(spell.dictionaryCount(), 2u);
    for (const char* w : {"the", "receive", "Separate", "dog's", "children's", "isn't", "caf\xE9", "naivet\xE9"})
        EXPECT_TRUE(spell.isWord(w)) << w;
    for (const char* w : {"recieve", "seperate", "teh", "wrold", "definately"}) EXPECT_FALSE(spell.isWord(w)) << w;
    EXPECT_EQ(spell.suggest("recieve")[0], "receive");
    EXPECT_EQ(spell.suggest("Seperate")[0], "Separate");
    EXPECT_EQ(spell.suggest("DEFINATELY")[0], "DEFINITELY");
    EXPECT_TRUE(has(spell.suggest("alot"), "a lot"));
    EXPECT_TRUE(has(spell.suggest("wouldbe"), "would be"));
}
