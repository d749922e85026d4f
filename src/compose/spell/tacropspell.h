// TAcropSpell: the spell-checking engine. Words are looked up in a chain of letter-trie dictionaries
// held in dictionary files (see dictformat.h): main dictionaries read-only through a node cache of
// at most 1024 lines (no more than the dictionary fills), user dictionaries read node by node and
// extended in place by AddWord. Suggestions combine a sound-alike key, which prunes the trie walk,
// with a walk that finds every word one edit away (deletion, adjacent swap, substitution,
// insertion), all scored by one similarity score, plus split candidates for two words run together,
// ranked by how they were found (see Found) and then by score, and take the capitalisation of the
// word as typed. Each word is offered once.
// All words are Windows-1252 bytes. File errors never escape: an operation goes on with what could
// be read, and a refused addition writes nothing. Memory and work stay proportional to the size of
// the files, however they are crafted; a user dictionary is never opened or created through a
// symbolic link.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "compose/spell/dictformat.h"
#include "compose/spell/ranking.h"

namespace telvane::spell {

// What the suggestion search adds to the sound-alike walk and its scores; each can be switched off
// (the benchmark measures every one).
struct SuggestOptions {
    enum class Kinds {
        Ignored,    // the score alone ranks, then the order found
        BreakTies,  // among equal scores: in the order of Found
        RankFirst,  // and before the score, in groups: swaps, doubled letters and accents; other
                    // one-edit words and splits; the walk's words
    };
    bool oneEditWords = true;  // every word one edit away is a candidate
    Kinds kinds = Kinds::RankFirst;
    bool splitsAfterWords = true;  // a split ranks after single words of equal score, among the one-edit words
    bool scoreBonus = false;       // the same-first-character bonus of SimilarityScore
};

class TAcropSpell {
public:
    static constexpr int kDefaultSuggestions = 10;
    static constexpr int kMaxSuggestionLimit = 220;
    static constexpr size_t kMaxAddLength = 25;
    static constexpr size_t kSuggestLength = 25;
    static constexpr uint32_t kMaxUsedNodes = 63999;
    static constexpr int kCacheLines = 1024;

    TAcropSpell();
    ~TAcropSpell();
    TAcropSpell(const TAcropSpell&) = delete;
    TAcropSpell& operator=(const TAcropSpell&) = delete;

    // Main dictionary opened on demand by IsWord, Suggest and AddWord (relative to the current
    // directory unless absolute), and the user dictionary name the owner may use.
    std::string DictionaryName = "acrop.dct";
    std::string DictionaryUser = "custom.dct";

    int maxSuggestions() const { return maxSuggestions_; }
    // Values above 220 are cut to 220; negative ones count as 0.
    void setMaxSuggestions(int count);

    // Refused when a main dictionary is already open or the file is not a main dictionary; chains
    // every dictionary of the file.
    bool openMainDictionary(const std::string& file);
    // The new dictionary's number, or -1 when the file cannot be opened for reading and writing or
    // is not a user dictionary.
    int openUserDictionary(const std::string& file);
    // Writes a new user dictionary file, opens it and adds the words; its number or -1.
    int createUserDictionary(const std::string& file, const std::vector<std::string>& words = {});

    bool isWord(std::string_view word);
    std::vector<std::string> suggest(std::string_view word);
    bool addWord(std::string_view word, int userDictionary);

    // Closes every dictionary and frees the caches.
    void close();

    bool mainOpen() const { return mainOpen_; }
    size_t dictionaryCount() const { return chain_.size(); }

    // Adds the same-first-character bonus to scores (see SimilarityScore); off by default.
    void setScoreBonus(bool on) { options_.scoreBonus = on; }
    const SuggestOptions& Options() const { return options_; }
    void setOptions(const SuggestOptions& options) { options_ = options; }

    // Bytes held by the node caches of the open main dictionaries.
    size_t cacheBytes() const;

private:
    struct File;
    struct Cache;
    struct Dictionary;
    struct WalkState;
    struct Candidates;
    struct EditWalk;

    void ensureMain();
    void refreshUserHeaders();
    Node readNode(Dictionary& d, uint32_t n);
    bool holds(Dictionary& d, const std::string& codes);
    bool isWordFolded(const std::string& folded);
    void walk(Dictionary& d, uint32_t list, std::string& prefix, WalkState& state);
    Dictionary* findUser(int number);
    // The steps of addWord.
    static bool canBeAdded(const std::string& folded);
    static bool readUserNodes(const Dictionary& d, uint32_t used, std::vector<Node>& nodes);
    // Writes the nodes back, growing the dictionary in place when they outgrew its slots, then the
    // header counting one word more.
    static bool writeUserNodes(Dictionary& d, DictHeader header, const std::vector<Node>& nodes);

    std::vector<std::unique_ptr<Dictionary>> chain_;
    bool mainOpen_ = false;
    int maxSuggestions_ = kDefaultSuggestions;
    int nextUserNumber_ = 0;
    SuggestOptions options_;
};

}  // namespace telvane::spell
