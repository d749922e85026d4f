// The parts of the suggestion search that judge words: the four-character sound-alike key, the
// similarity score, the ranked list with its tie rules, the first letters tried for a word and the
// capitalisation of a suggestion after the word as typed. All words are Windows-1252 bytes.
#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace telvane::spell {

using SoundKey = std::array<unsigned char, 4>;

// Sound-alike key of an upper-case word: first character kept; vowels and the like dropped from the
// second on; the rest replaced by their class bytes 1..7; later repetitions dropped; cut to four.
// A shorter key is completed with byte 0, or with the characters of reference at the missing places.
SoundKey soundAlikeKey(std::string_view word, const SoundKey* reference = nullptr);

// Matching characters of a and b by the longest-common-substring recursion.
int commonCharacters(std::string_view a, std::string_view b);

// Score of candidate c against the misspelled word w (both upper case): 200 * m / (|c| + |w|) with
// the apostrophes of c removed first. With sameStartBonus a score above 49 is raised by a third of
// itself when both begin with the same character.
int similarityScore(std::string_view candidate, std::string_view word, bool sameStartBonus);

// How a candidate was found, in the order that breaks ties of equal score: a word one adjacent swap
// away from the misspelled word, a word that lacks one of the misspelled word's doubled letters, a
// word with one letter accented otherwise (garcon, garçon), a word one other edit away, a word of
// the sound-alike walk, two words split apart.
enum class Found { Swap, Doubled, Accent, OneEdit, Walk, Split };

// Best-first list of at most `capacity` words with their scores. A new entry goes before the first
// entry that ranks lower: a lower score, or an equal score and a later kind (Found); after those
// that rank alike. With kindsFirst the kind decides before the score, in three groups: swaps,
// doubled letters and accents; other one-edit words and splits; the walk's words. When the list is
// full the last entry falls out, and an entry that would rank after all of a full list is dropped.
// Duplicates stay.
class RankedList {
public:
    static constexpr size_t kWordLength = 30;
    struct Entry {
        std::string word;
        int score = 0;
        Found found = Found::Walk;
    };
    explicit RankedList(size_t capacity, bool kindsFirst = false) : capacity_(capacity), kindsFirst_(kindsFirst) {}
    void add(std::string_view word, int score, Found found = Found::Walk);
    const std::vector<Entry>& entries() const { return entries_; }

private:
    bool before(const Entry& a, const Entry& b) const;

    size_t capacity_;
    bool kindsFirst_;
    std::vector<Entry> entries_;
};

// The first letters tried, in order, for a word whose upper-case first character is c.
std::string_view firstLettersFor(unsigned char c);

// The suggestion s (upper case) shaped after the word as typed: unchanged when typed has no
// lower-case letter; otherwise lower case, with the letter paired with each upper-case letter of
// typed made upper case (letters and apostrophes are paired in order; others are skipped).
std::string capitalise(std::string_view suggestion, std::string_view typed);

}  // namespace telvane::spell
