// The dictionary file: a text preamble ended by 0x1A, then one or more dictionaries, each a 17-byte
// header (little-endian) followed by 3-byte nodes of a letter trie. Node n (from 1) lies at the end
// of its header + 3 * (n - 1); a node holds the number of the first node of its child sibling list
// (0 none, 65000 free slot) and a byte with the letter code (bits 0-5), "last sibling" (bit 6) and
// "a word ends here" (bit 7). Node 1 begins the list of first letters. A further dictionary follows
// when the file goes on more than 20 bytes past the last node slot.
// This module encodes and decodes those pieces, writes a user dictionary as first created, builds
// main dictionaries from word lists (split into as many chained dictionaries as the 16-bit node
// numbers need), and reads a whole file back into memory for tools and tests.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace telvane::spell {

inline constexpr size_t kHeaderSize = 17;
inline constexpr size_t kNodeSize = 3;
inline constexpr uint16_t kFreeSlot = 65000;
// Largest node count of one dictionary: node numbers stay below the free-slot mark.
inline constexpr uint32_t kMaxNodes = kFreeSlot - 1;
inline constexpr uint8_t kLastSibling = 0x40;
inline constexpr uint8_t kWordEnd = 0x80;
inline constexpr uint8_t kCodeMask = 0x3F;
inline constexpr unsigned char kPreambleEnd = 0x1A;
// Bytes past the last node slot that may trail a file without starting another dictionary.
inline constexpr size_t kTrailingSlack = 20;
inline constexpr uint32_t kUserSlots = 500;

struct DictHeader {
    uint32_t usedNodes = 0;
    uint32_t nodeSlots = 0;
    uint32_t wordCount = 0;
    uint8_t kind = 0;  // non-zero: main (read-only); 0: user
    uint32_t offset = 0;
};

struct Node {
    uint16_t child = 0;
    uint8_t bits = 0;
    uint8_t code() const { return bits & kCodeMask; }
    bool last() const { return (bits & kLastSibling) != 0; }
    bool wordEnd() const { return (bits & kWordEnd) != 0; }
};

inline bool hasChild(uint16_t child) { return child != 0 && child != kFreeSlot; }

std::array<uint8_t, kHeaderSize> encodeHeader(const DictHeader& h);
DictHeader decodeHeader(const uint8_t* bytes);
void encodeNode(const Node& n, uint8_t* bytes);
Node decodeNode(const uint8_t* bytes);

// The complete file of a new user dictionary: two preamble lines, 0x1A, a header (1 used node of
// 500 slots, 1 word, kind 0, its own offset), node 1 the word "A", nodes 2..500 free.
std::string newUserDictionaryFile();

struct BuiltDictionary {
    std::string bytes;
    size_t words = 0;                  // distinct words stored
    size_t skipped = 0;                // words left out (characters outside the alphabet, empty)
    std::vector<uint32_t> nodeCounts;  // one per chained dictionary
};

// Builds a main dictionary file from Windows-1252 words (any case; folded to upper case and
// deduplicated). Words with a character that has no letter code of its own are skipped. The sorted
// words are split into consecutive ranges whose tries hold at most maxNodes nodes each.
BuiltDictionary buildMainDictionary(const std::vector<std::string>& words, std::string_view preamble,
                                    uint32_t maxNodes = kMaxNodes);

// One dictionary of a file held in memory, as found by walking the headers.
struct DictionaryImage {
    size_t headerOffset = 0;
    DictHeader header;
    std::vector<Node> nodes;  // nodes[0] is node 1; as many as the file holds of the slots
};

// Splits a whole file into its dictionaries; error says why when the file is not one.
std::vector<DictionaryImage> readDictionaryImages(std::string_view file, std::string* error = nullptr);

// Every word of an image in trie order (upper case). The walk visits at most as many nodes as the
// image has, so damaged child numbers (cycles included) end it instead of looping.
std::vector<std::string> wordsOf(const DictionaryImage& image);

}  // namespace telvane::spell
