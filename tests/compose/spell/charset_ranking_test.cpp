// Case folding, letter codes, sound-alike keys, scores, the ranked list and capitalisation.
#include <gtest/gtest.h>

#include "compose/spell/charset.h"
#include "compose/spell/ranking.h"

using namespace telvane::spell;

namespace {

SoundKey Key(const char* a, const char* b, const char* c, const char* d) {
    auto one = [](const char* s) { return static_cast<unsigned char>(s[0]); };
    return SoundKey{one(a), one(b), one(c), one(d)};
}

}  // namespace

TEST(SpellCharset, FoldsWindows1252LettersAndLeavesTheRest) {
    EXPECT_EQ(FoldUpper("abc xyz"), "ABC XYZ");
    EXPECT_EQ(FoldUpper(0x9A), 0x8A);  // š
    EXPECT_EQ(FoldUpper(0x9C), 0x8C);  // œ
    EXPECT_EQ(FoldUpper(0xFF), 0x9F);  // ÿ
    EXPECT_EQ(FoldUpper(0xE0), 0xC0);  // à
    EXPECT_EQ(FoldUpper(0xFE), 0xDE);  // þ
    EXPECT_EQ(FoldUpper(0xF0), 0xF0);  // ð stays
    EXPECT_EQ(FoldUpper(0xF7), 0xF7);  // ÷ stays
    EXPECT_EQ(FoldUpper(0xDF), 0xDF);  // ß has no upper case here
    EXPECT_EQ(FoldUpper(0x9E), 0x9E);  // ž is not folded
    EXPECT_EQ(FoldLower(0xD0), 0xD0);  // Ð and ð are different letters
    EXPECT_EQ(FoldLower(0xD7), 0xD7);  // ×
    for (int c = 0; c < 256; ++c) {
        const auto u = static_cast<unsigned char>(c);
        if (IsLowerLetter(u)) {
            EXPECT_EQ(FoldLower(FoldUpper(u)), u) << c;
        }
    }
}

TEST(SpellCharset, LetterCodesFollowTheDictionaryAlphabet) {
    EXPECT_EQ(LetterCode('A'), 0);
    EXPECT_EQ(LetterCode('z'), 25);
    EXPECT_EQ(LetterCode('\''), 26);
    EXPECT_EQ(LetterCode('-'), 27);
    EXPECT_EQ(LetterCode(0x8A), 28);
    EXPECT_EQ(LetterCode(0x9C), 29);  // œ takes Œ's code
    EXPECT_EQ(LetterCode(0xFF), 30);  // ÿ takes Ÿ's code
    EXPECT_EQ(LetterCode(0xC0), 31);
    EXPECT_EQ(LetterCode(0xD6), 53);
    EXPECT_EQ(LetterCode(0xD8), 54);
    EXPECT_EQ(LetterCode(0xDF), 61);
    EXPECT_EQ(LetterCode(0xD0), 47);  // Ð
    EXPECT_EQ(LetterCode(0xF0), 62);  // ð has its own code
    EXPECT_EQ(LetterCode('`'), 63);
    EXPECT_EQ(LetterCode(0xF7), 0);  // ÷
    EXPECT_EQ(LetterCode('7'), 0);
    EXPECT_EQ(LetterCode(0xE9), LetterCode(0xC9));  // é / É
    for (uint8_t code = 0; code < 64; ++code) EXPECT_EQ(LetterCode(CodeLetter(code)), code) << int(code);
    EXPECT_FALSE(HasOwnCode('7'));
    EXPECT_FALSE(HasOwnCode(0x8E));  // Ž
    EXPECT_TRUE(HasOwnCode(0xE9));
    EXPECT_TRUE(InAlphabet("don't-caf\xE9"));
    EXPECT_FALSE(
        InAlphabet("\x8Ei\x9E"
                   "ek"));              // Ž ž
    EXPECT_FALSE(InAlphabet("\xB5m"));  // µ
}

TEST(SpellCharset, ConvertsUnicodeAndRefusesWhatTheCodePageLacks) {
    EXPECT_EQ(FromUtf8("caf\xC3\xA9").value(), "caf\xE9");
    EXPECT_EQ(FromUtf8("\xC5\x93uvre").value(), "\x9Cuvre");             // œ
    EXPECT_EQ(FromUtf8("don\xE2\x80\x99t").value(), "don't");            // right quotation mark
    EXPECT_FALSE(FromUtf8("\xCE\xB1\xCE\xB2").has_value());              // Greek
    EXPECT_FALSE(FromUtf8("\xC5\x82\xC3\xB3\x64\xC5\xBA").has_value());  // Polish ł
    EXPECT_FALSE(FromUtf8("bad\xC3").has_value());                       // cut sequence
    EXPECT_EQ(ToUtf8("na\xEFve \x80"), "na\xC3\xAFve \xE2\x82\xAC");
}

TEST(SpellKey, FollowsTheSoundAlikeRules) {
    EXPECT_EQ(SoundAlikeKey("ROBERT"), Key("R", "\x01", "\x06", "\x03"));
    EXPECT_EQ(SoundAlikeKey("RUPERT"), SoundAlikeKey("ROBERT"));
    // Later repetitions go even when not neighbours (C after S, the second S), vowels and H are dropped.
    EXPECT_EQ(SoundAlikeKey("SCHOOLS"), Key("S", "\x02", "\x04", "\0"));
    EXPECT_EQ(SoundAlikeKey("ASHCRAFT"), Key("A", "\x02", "\x06", "\x01"));
    // Digits: 0 becomes O, 1 and 7 become I, others take a class.
    EXPECT_EQ(SoundAlikeKey("X071"), Key("X", "O", "I", "\0"));
    EXPECT_EQ(SoundAlikeKey("B2-"), Key("B", "\x04", "\x07", "\0"));
    // Accented vowels are dropped, Ç and ß take classes, the first character is always kept.
    EXPECT_EQ(SoundAlikeKey("\xC9\xC9\xC7\xDF"), Key("\xC9", "\x02", "\x01", "\0"));
    // A short key is completed from a reference key.
    const SoundKey ref = Key("T", "\x01", "\x02", "\x05");
    EXPECT_EQ(SoundAlikeKey("TA", &ref), ref);
    EXPECT_EQ(SoundAlikeKey("TAB", &ref), ref);
    EXPECT_EQ(SoundAlikeKey("TAL", &ref), Key("T", "\x04", "\x02", "\x05"));
}

TEST(SpellScore, CountsCommonCharactersByTheSubstringRecursion) {
    EXPECT_EQ(CommonCharacters("THE", "TEH"), 2);
    EXPECT_EQ(CommonCharacters("ABCXDEF", "DEFABC"), 3);  // ABC first; DEF lies on the wrong side
    EXPECT_EQ(CommonCharacters("RECEIVE", "RECIEVE"), 6);
    EXPECT_EQ(CommonCharacters("", "ABC"), 0);
    EXPECT_EQ(SimilarityScore("THE", "TEH", false), 66);
    EXPECT_EQ(SimilarityScore("DON'T", "DONT", false), 100);  // apostrophes of the candidate go
    EXPECT_EQ(SimilarityScore("ABC", "XYZ", false), 0);
    // The bonus raises a score above 49 by a third when both start alike.
    EXPECT_EQ(SimilarityScore("THE", "TEH", true), 88);
    EXPECT_EQ(SimilarityScore("ETH", "TEH", true), 66);
    EXPECT_EQ(SimilarityScore("TXXXXX", "TEH", true), 22);
}

TEST(SpellRankedList, KeepsTheFirstOfEqualScoresAndDropsTheTail) {
    RankedList list(3);
    list.Add("FIRST", 50);
    list.Add("SECOND", 50);
    list.Add("BETTER", 70);
    ASSERT_EQ(list.Entries().size(), 3u);
    EXPECT_EQ(list.Entries()[0].word, "BETTER");
    EXPECT_EQ(list.Entries()[1].word, "FIRST");
    EXPECT_EQ(list.Entries()[2].word, "SECOND");
    list.Add("THIRD", 50);  // ranks after all of a full list: dropped
    EXPECT_EQ(list.Entries()[2].word, "SECOND");
    list.Add("FIRST", 60);  // duplicates stay; the last entry falls out
    EXPECT_EQ(list.Entries()[1].word, "FIRST");
    EXPECT_EQ(list.Entries()[2].word, "FIRST");
    RankedList none(0);
    none.Add("X", 100);
    EXPECT_TRUE(none.Entries().empty());
    RankedList longWords(1);
    longWords.Add(std::string(40, 'A'), 1);
    EXPECT_EQ(longWords.Entries()[0].word.size(), RankedList::kWordLength);
}

TEST(SpellFirstLetters, TablesFollowTheFirstCharacter) {
    EXPECT_EQ(FirstLettersFor('K'), "CLJK");
    EXPECT_EQ(FirstLettersFor(0xC7), "SXVC\xC7\x8C");  // Ç tries C's list
    EXPECT_EQ(FirstLettersFor(0xDF), "PVNB\xDF");      // ß tries B's list
    EXPECT_EQ(FirstLettersFor(0xDD), "TUY\x9F\xDD");   // Ý tries Y's list
    EXPECT_EQ(FirstLettersFor('\''), "'");
    EXPECT_EQ(FirstLettersFor(0xD0), "FD\xD0");
}

TEST(SpellCapitalise, FollowsTheWordAsTyped) {
    EXPECT_EQ(Capitalise("THE", "teh"), "the");
    EXPECT_EQ(Capitalise("THE", "Teh"), "The");
    EXPECT_EQ(Capitalise("THE", "TEH"), "THE");
    EXPECT_EQ(Capitalise("MCDONALD", "McDonld"), "McDonald");
    // The space of a split is skipped in the pairing.
    EXPECT_EQ(Capitalise("A LOT", "Alot"), "A lot");
    EXPECT_EQ(Capitalise("A LOT", "aLot"), "a Lot");
    // Apostrophes pair too; digits and hyphens are skipped.
    EXPECT_EQ(Capitalise("O'NEIL", "o'Neil"), "o'Neil");
    EXPECT_EQ(Capitalise("CAF\xC9", "Caf\xE9"), "Caf\xE9");
    EXPECT_EQ(Capitalise("\xC9T\xC9", "\xC9t\xE9"), "\xC9t\xE9");
    EXPECT_EQ(Capitalise("ABCDEF", "aB"), "aBcdef");  // pairing stops when typed runs out
}
