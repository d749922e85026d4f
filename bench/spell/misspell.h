// Misspellings made from correct words, for the spell-checker benchmark: single edits (a letter
// dropped, added, changed, or two neighbouring letters swapped; added and changed letters are often
// neighbouring keys of a QWERTY keyboard, as in real typing), double edits (two of those), and
// sound-alike spellings from rules of English spelling (ph/f, ie/ei, -ance/-ence, doubled and single
// consonants, silent letters, ...). Deterministic for a given seed. Lower-case ASCII words.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace telvane::spell::bench {

// A small deterministic generator (xorshift), so that every run builds the same set.
class Random {
public:
    explicit Random(uint64_t seed) : state_(seed ? seed : 1) {}
    uint64_t next() {
        state_ ^= state_ << 13;
        state_ ^= state_ >> 7;
        state_ ^= state_ << 17;
        return state_;
    }
    size_t below(size_t n) { return n ? static_cast<size_t>(next() % n) : 0; }

private:
    uint64_t state_;
};

enum class EditKind { Drop, Add, Change, Swap };

// One edit of the given kind at a random place; empty when the word is too short for it.
std::optional<std::string> singleEdit(const std::string& word, EditKind kind, Random& random);
// Two edits of random kinds at different places.
std::optional<std::string> doubleEdit(const std::string& word, Random& random);
// One sound-alike rewrite that fits the word, chosen at random; empty when none fits.
std::optional<std::string> soundAlike(const std::string& word, Random& random);

}  // namespace telvane::spell::bench
