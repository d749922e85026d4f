// Case folding, letter codes, sound-alike keys, scores, the ranked list and capitalisation.
#include <gtest/gtest.h>

#include "compose/spell/charset.h"
#include "compose/spell/ranking.h"

using namespace telvane::spell;

namespace {

SoundKey key(const char* a, const char* b, const char* c, const char* d) {
    auto one = [](const char* s) { return static_cast<unsigned char>(s[0]); };
    return SoundKey{one(a), one(b), one(c), one(d)};
}

}  // namespace

TEST(SpellCharset, FoldsWindows1252LettersAndLeavesTheRest) {
    EXPECT_EQ(foldUpper("abc xyz"), "ABC XYZ");
    EXPECT_EQ(foldUpper(0x9A), 0x8A);  // š
    EXPECT_EQ(foldUpper(0x9C), 0x8C);  // œ
    EXPECT_EQ(foldUpper(0xFF), 0x9F);  // ÿ
    EXPECT_EQ(foldUpper(0xE0), 0xC0);  // à
    EXPECT_EQ(foldUpper(0xFE), 0xDE);  // þ
    EXPECT_EQ(foldUpper(0xF0), 0xF0);  // ð stays
    EXPECT_EQ(foldUpper(0xF7), 0xF7);  // ÷ stays
    EXPECT_EQ(foldUpper(0xDF), 0xDF);  // ß has no upper case here
    EXPECT_EQ(foldUpper(0x9E), 0x9E);  // ž is not folded
    EXPECT_EQ(foldLower(0xD0), 0xD0);  // Ð and ð are different letters
    EXPECT_EQ(foldLower(0xD7), 0xD7);  // ×
    for (int c = 0; c < 256; ++c) {
        const auto u = static_cast<unsigned char>(c);
        if (isLowerLetter(u)) {
            EXPECT_EQ(foldLower(foldUpper(u)), u) << c;
        }
    }
}

TEST(SpellCharset, LetterCodesFollowTheDictionaryAlphabet) {
    EXPECT_EQ(letterCode('A'), 0);
    EXPECT_EQ(letterCode('z'), 25);
    EXPECT_EQ(letterCode('\''), 26);
    EXPECT_EQ(letterCode('-'), 27);
    EXPECT_EQ(letterCode(0x8A), 28);
    EXPECT_EQ(letterCode(0x9C), 29);  // œ takes Œ's code
    EXPECT_EQ(letterCode(0xFF), 30);  // ÿ takes Ÿ's code
    EXPECT_EQ(letterCode(0xC0), 31);
    EXPECT_EQ(letterCode(0xD6), 53);
    EXPECT_EQ(letterCode(0xD8), 54);
    EXPECT_EQ(letterCode(0xDF), 61);
    EXPECT_EQ(letterCode(0xD0), 47);  // Ð
    EXPECT_EQ(letterCode(0xF0), 62);  // ð has its own code
    EXPECT_EQ(letterCode('`'), 63);
    EXPECT_EQ(letterCode(0xF7), 0);  // ÷
    EXPECT_EQ(letterCode('7'), 0);
    EXPECT_EQ(letterCode(0xE9), letterCode(0xC9));  // é / É
    for (uint8_t code = 0; code < 64; ++code) EXPECT_EQ(letterCode(codeLetter(code)), code) << int(code);
    EXPECT_FALSE(hasOwnCode('7'));
    EXPECT_FALSE(hasOwnCode(0x8E));  // Ž
    EXPECT_TRUE(hasOwnCode(0xE9));
    EXPECT_TRUE(inAlphabet("don't-caf\xE9"));
    EXPECT_FALSE(
        inAlphabet("\x8Ei\x9E"
                   "ek"));              // Ž ž
    EXPECT_FALSE(inAlphabet("\xB5m"));  // µ
}

TEST(SpellCharset, ConvertsUnicodeAndRefusesWhatTheCodePageLacks) {
    EXPECT_EQ(fromUtf8("caf\xC3\xA9").value(), "caf\xE9");
    EXPECT_EQ(fromUtf8("\xC5\x93uvre").value(), "\x9Cuvre");             // œ
    EXPECT_EQ(fromUtf8("don\xE2\x80\x99t").value(), "don't");            // right quotation mark
    EXPECT_FALSE(fromUtf8("\xCE\xB1\xCE\xB2").has_value());              // Greek
    EXPECT_FALSE(fromUtf8("\xC5\x82\xC3\xB3\x64\xC5\xBA").has_value());  // Polish ł
    EXPECT_FALSE(fromUtf8("bad\xC3").has_value());                       // cut sequence
    EXPECT_EQ(toUtf8("na\xEFve \x80"), "na\xC3\xAFve \xE2\x82\xAC");
}

TEST(SpellKey, FollowsTheSoundAlikeRules) {
    EXPECT_EQ(soundAlikeKey("ROBERT"), key("R", "\x01", "\x06", "\x03"));
    EXPECT_EQ(soundAlikeKey("RUPERT"), soundAlikeKey("ROBERT"));
    // Later repetitions go even when not neighbours (C after S, the second S), vowels and H are dropped.
    EXPECT_EQ(soundAlikeKey("SCHOOLS"), key("S", "\x02", "\x04", "\0"));
    EXPECT_EQ(soundAlikeKey("ASHCRAFT"), key("A", "\x02", "\x06", "\x01"));
    // Digits: 0 becomes O, 1 and 7 become I, others take a class.
    EXPECT_EQ(soundAlikeKey("X071"), key("X", "O", "I", "\0"));
    EXPECT_EQ(soundAlikeKey("B2-"), key("B", "\x04", "\x07", "\0"));
    // Accented vowels are dropped, Ç and ß take classes, the first character is always kept.
    EXPECT_EQ(soundAlikeKey("\xC9\xC9\xC7\xDF"), key("\xC9", "\x02", "\x01", "\0"));
    // A short key is completed from a reference key.
    const SoundKey ref = key("T", "\x01", "\x02", "\x05");
    EXPECT_EQ(soundAlikeKey("TA", &ref), ref);
    EXPECT_EQ(soundAlikeKey("TAB", &ref), ref);
    EXPECT_EQ(soundAlikeKey("TAL", &ref), key("T", "\x04", "\x02", "\x05"));
}

TEST(SpellScore, CountsCommonCharactersByTheSubstringRecursion) {
    EXPECT_EQ(commonCharacters("THE", "TEH"), 2);
    EXPECT_EQ(commonCharacters("ABCXDEF", "DEFABC"), 3);  // ABC first; DEF lies on the wrong side
    EXPECT_EQ(commonCharacters("RECEIVE", "RECIEVE"), 6);
    EXPECT_EQ(commonCharacters("", "ABC"), 0);
    EXPECT_EQ(similarityScore("THE", "TEH", false), 66);
    EXPECT_EQ(similarityScore("DON'T", "DONT", false), 100);  // apostrophes of the candidate go
    EXPECT_EQ(similarityScore("ABC", "XYZ", false), 0);
    // The bonus raises a score above 49 by a third when both start alike.
    EXPECT_EQ(similarityScore("THE", "TEH", true), 88);
    EXPECT_EQ(similarityScore("ETH", "TEH", true), 66);
    EXPECT_EQ(similarityScore("TXXXXX", "TEH", true), 22);
}

TEST(SpellRankedList, KeepsTheFirstOfEqualScoresAndDropsTheTail) {
    RankedList list(3);
    list.add("FIRST", 50);
    list.add("SECOND", 50);
    list.add("BETTER", 70);
    ASSERT_EQ(list.entries().size(), 3u);
    EXPECT_EQ(list.entries()[0].word, "BETTER");
    EXPECT_EQ(list.entries()[1].word, "FIRST");
    EXPECT_EQ(list.entries()[2].word, "SECOND");
    list.add("THIRD", 50);  // ranks after all of a full list: dropped
    EXPECT_EQ(list.entries()[2].word, "SECOND");
    list.add("FIRST", 60);  // duplicates stay; the last entry falls out
    EXPECT_EQ(list.entries()[1].word, "FIRST");
    EXPECT_EQ(list.entries()[2].word, "FIRST");
    RankedList none(0);
    none.add("X", 100);
    EXPECT_TRUE(none.entries().empty());
    RankedList longWords(1);
    longWords.add(std::string(40, 'A'), 1);
    EXPECT_EQ(longWords.entries()[0].word.size(), RankedList::kWordLength);
}

TEST(SpellFirstLetters, TablesFollowTheFirstCharacter) {
    EXPECT_EQ(firstLettersFor('K'), "CLJK");
    EXPECT_EQ(firstLettersFor(0xC7), "SXVC\xC7\x8C");  // Ç tries C's list
    EXPECT_EQ(firstLettersFor(0xDF), "PVNB\xDF");      // ß tries B's list
    EXPECT_EQ(firstLettersFor(0xDD), "TUY\x9F\xDD");   // Ý tries Y's list
    EXPECT_EQ(firstLettersFor('\''), "'");
    EXPECT_EQ(firstLettersFor(0xD0), "FD\xD0");
}

TEST(SpellCapitalise, FollowsTheWordAsTyped) {
    EXPECT_EQ(capitalise("THE", "teh"), "the");
    EXPECT_EQ(capitalise("THE", "Teh"), "The");
    EXPECT_EQ(capitalise("THE", "TEH"), "THE");
    EXPECT_EQ(capitalise("MCDONALD", "McDonld"), "McDonald");
    // The space of a split is skipped in the pairing.
    EXPECT_EQ(capitalise("A LOT", "Alot"), "A lot");
    EXPECT_EQ(capitalise("A LOT", "aLot"), "a Lot");
    // Apostrophes pair too; digits and hyphens are skipped.
    EXPECT_EQ(capitalise("O'NEIL", "o'Neil"), "o'Neil");
    EXPECT_EQ(capitalise("CAF\xC9", "Caf\xE9"), "Caf\xE9");
    EXPECT_EQ(capitalise("\xC9T\xC9", "\xC9t\xE9"), "\xC9t\xE9");
    EXPECT_EQ(capitalise("ABCDEF", "aB"), "aBcdef");  // pairing stops when typed runs out
}
