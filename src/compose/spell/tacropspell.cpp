// The spell-checking engine: dictionary chain, node reads, lookup, suggestion search, addition.
#include "compose/spell/tacropspell.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <unordered_set>

#include "compose/spell/charset.h"

namespace telvane::spell {

namespace {

constexpr size_t kLineNodes = 8;
constexpr size_t kLineBytes = kLineNodes * kNodeSize;
// Deepest prefix the suggestion walk follows; longer words cannot be suggested anyway.
constexpr size_t kMaxWalkDepth = 64;

// Reads up to size bytes at offset; the bytes not read are zero. Returns the count read.
size_t readAt(int fd, uint64_t offset, uint8_t* out, size_t size) {
    size_t done = 0;
    while (done < size) {
        const ssize_t r = ::pread(fd, out + done, size - done, static_cast<off_t>(offset + done));
        if (r <= 0) break;
        done += static_cast<size_t>(r);
    }
    if (done < size) std::memset(out + done, 0, size - done);
    return done;
}

bool writeAt(int fd, uint64_t offset, const uint8_t* data, size_t size) {
    size_t done = 0;
    while (done < size) {
        const ssize_t r = ::pwrite(fd, data + done, size - done, static_cast<off_t>(offset + done));
        if (r <= 0) return false;
        done += static_cast<size_t>(r);
    }
    return true;
}

uint64_t fileSize(int fd) {
    struct stat st {};
    if (::fstat(fd, &st) != 0 || st.st_size < 0) return 0;
    return static_cast<uint64_t>(st.st_size);
}

// Offset of the first byte after the preamble, or 0 when there is no 0x1A.
uint64_t skipPreamble(int fd) {
    uint8_t buf[4096];
    uint64_t at = 0;
    while (true) {
        const ssize_t r = ::pread(fd, buf, sizeof buf, static_cast<off_t>(at));
        if (r <= 0) return 0;
        const void* hit = std::memchr(buf, kPreambleEnd, static_cast<size_t>(r));
        if (hit) return at + static_cast<uint64_t>(static_cast<const uint8_t*>(hit) - buf) + 1;
        at += static_cast<uint64_t>(r);
    }
}

bool readHeader(int fd, uint64_t offset, DictHeader& header) {
    uint8_t b[kHeaderSize];
    if (readAt(fd, offset, b, kHeaderSize) != kHeaderSize) return false;
    header = decodeHeader(b);
    return true;
}

// Adds one word (upper case, every letter with its own code) to a user dictionary's trie held in
// memory. Nodes are numbered from 1; a list of siblings runs on to the one marked kLastSibling.
class TrieEdit {
public:
    TrieEdit(std::vector<Node>& nodes, const std::string& word) : nodes_(nodes), word_(word) {}

    // False when the trie holds the word already (nothing is changed then).
    bool add() {
        uint32_t list = 1;
        for (size_t i = 0; i < word_.size(); ++i) {
            const uint8_t code = letterCode(static_cast<unsigned char>(word_[i]));
            const bool lastLetter = i + 1 == word_.size();
            const Place found = find(list, code, lastLetter);
            if (lastLetter) return endWord(list, found, code);
            if (found.follow) {
                list = at(found.follow).child;
                continue;
            }
            const uint32_t owner = found.match ? found.match : addSibling(list, found.lastSibling, code);
            const uint16_t chain = appendChain(i + 1);
            at(owner).child = chain;
            return true;
        }
        return true;
    }

private:
    // In one list: a node to follow for the next letter (or that already ends the word), the first
    // node with the letter, and the list's last node.
    struct Place {
        uint32_t match = 0;
        uint32_t follow = 0;
        uint32_t lastSibling = 0;
    };

    Node& at(uint32_t n) { return nodes_[n - 1]; }
    bool validChild(uint16_t c) const { return hasChild(c) && c <= nodes_.size(); }

    Place find(uint32_t list, uint8_t code, bool lastLetter) {
        Place found;
        for (uint32_t n = list; n <= nodes_.size(); ++n) {
            const Node& node = at(n);
            if (node.code() == code) {
                if (lastLetter && node.wordEnd()) {
                    found.match = n;
                    found.follow = n;
                    break;
                }
                if (!lastLetter && validChild(node.child)) {
                    found.follow = n;
                    break;
                }
                if (!found.match) found.match = n;
            }
            found.lastSibling = n;
            if (node.last()) break;
        }
        return found;
    }

    // The last letter: marks the word's end on a node that has the letter, else adds one.
    bool endWord(uint32_t list, const Place& found, uint8_t code) {
        if (found.follow) return false;
        if (found.match) {
            at(found.match).bits |= kWordEnd;
        } else {
            addSibling(list, found.lastSibling, static_cast<uint8_t>(code | kWordEnd));
        }
        return true;
    }

    // Adds a node with `bits` as the new last of the list (or as the list, when it is empty);
    // returns its number.
    uint32_t addSibling(uint32_t list, uint32_t lastSibling, uint8_t bits) {
        const uint32_t p = lastSibling ? lastSibling + 1 : list;
        if (lastSibling) at(lastSibling).bits &= static_cast<uint8_t>(~kLastSibling);
        insertAt(p, Node{0, static_cast<uint8_t>(bits | kLastSibling)});
        return p;
    }

    // Inserts a node at position p (1-based) and renumbers the children that pointed at or past it.
    void insertAt(uint32_t p, Node node) {
        for (Node& x : nodes_) {
            if (hasChild(x.child) && x.child >= p) ++x.child;
        }
        nodes_.insert(nodes_.begin() + (p - 1), node);
    }

    // Appends the letters from index i on as a chain; returns the number of its first node.
    uint16_t appendChain(size_t i) {
        const auto first = static_cast<uint16_t>(nodes_.size() + 1);
        for (size_t j = i; j < word_.size(); ++j) {
            const bool lastLetter = j + 1 == word_.size();
            Node n;
            n.bits = static_cast<uint8_t>(letterCode(static_cast<unsigned char>(word_[j])) | kLastSibling |
                                          (lastLetter ? kWordEnd : 0));
            n.child = lastLetter ? 0 : static_cast<uint16_t>(nodes_.size() + 2);
            nodes_.push_back(n);
        }
        return first;
    }

    std::vector<Node>& nodes_;
    const std::string& word_;
};

}  // namespace

struct TAcropSpell::File {
    int fd = -1;
    explicit File(int f) : fd(f) {}
    ~File() {
        if (fd >= 0) ::close(fd);
    }
};

// The lines of one main dictionary: each holds 8 nodes read in one go and the offset they were read
// from (-1: none yet). At most 1024 lines, and never more than the dictionary's nodes fill, so that a
// file of many tiny dictionaries costs memory in proportion to its size.
struct TAcropSpell::Cache {
    struct Line {
        int64_t offset = -1;
        std::array<uint8_t, kLineBytes> bytes{};
    };
    std::vector<Line> lines;
};

struct TAcropSpell::Dictionary {
    std::shared_ptr<File> file;
    bool main = false;
    int number = -1;
    uint64_t headerOffset = 0;
    DictHeader header;
    // Node numbers that may be read: the slots, cut to what the file holds.
    uint32_t limit = 0;
    std::unique_ptr<Cache> cache;  // main dictionaries; allocated on first read

    uint64_t nodesOffset() const { return headerOffset + kHeaderSize; }
    void updateLimit() {
        const uint64_t size = fileSize(file->fd);
        const uint64_t held = size > nodesOffset() ? (size - nodesOffset()) / kNodeSize : 0;
        limit = static_cast<uint32_t>(std::min<uint64_t>(header.nodeSlots, held));
    }
};

TAcropSpell::TAcropSpell() = default;
TAcropSpell::~TAcropSpell() = default;

void TAcropSpell::setMaxSuggestions(int count) { maxSuggestions_ = std::clamp(count, 0, kMaxSuggestionLimit); }

bool TAcropSpell::openMainDictionary(const std::string& name) {
    if (mainOpen_) return false;
    const int fd = ::open(name.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    auto file = std::make_shared<File>(fd);
    uint64_t at = skipPreamble(fd);
    DictHeader header;
    if (at == 0 || !readHeader(fd, at, header) || header.kind == 0) return false;
    const uint64_t size = fileSize(fd);
    while (true) {
        auto d = std::make_unique<Dictionary>();
        d->file = file;
        d->main = true;
        d->headerOffset = at;
        d->header = header;
        d->updateLimit();
        chain_.push_back(std::move(d));
        const uint64_t next = at + kHeaderSize + uint64_t{header.nodeSlots} * kNodeSize;
        if (next + kTrailingSlack >= size || !readHeader(fd, next, header)) break;
        at = next;
    }
    mainOpen_ = true;
    return true;
}

int TAcropSpell::openUserDictionary(const std::string& name) {
    // Written in place: a link could make it write into a file elsewhere.
    const int fd = ::open(name.c_str(), O_RDWR | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return -1;
    auto file = std::make_shared<File>(fd);
    const uint64_t at = skipPreamble(fd);
    DictHeader header;
    if (at == 0 || !readHeader(fd, at, header) || header.kind != 0) return -1;
    auto d = std::make_unique<Dictionary>();
    d->file = std::move(file);
    d->headerOffset = at;
    d->header = header;
    d->number = nextUserNumber_;
    nextUserNumber_ = nextUserNumber_ >= 65534 ? 0 : nextUserNumber_ + 1;
    d->updateLimit();
    const int number = d->number;
    chain_.push_back(std::move(d));
    return number;
}

int TAcropSpell::createUserDictionary(const std::string& name, const std::vector<std::string>& words) {
    // A new file only: an existing name, a dangling symbolic link included, is refused rather than
    // followed or overwritten.
    const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) return -1;
    const std::string bytes = newUserDictionaryFile();
    const bool written = writeAt(fd, 0, reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    ::close(fd);
    if (!written) return -1;
    const int number = openUserDictionary(name);
    if (number < 0) return -1;
    for (const std::string& w : words) addWord(w, number);
    return number;
}

void TAcropSpell::close() {
    chain_.clear();
    mainOpen_ = false;
}

size_t TAcropSpell::cacheBytes() const {
    size_t bytes = 0;
    for (const auto& d : chain_) {
        if (d->cache) bytes += d->cache->lines.size() * sizeof(Cache::Line);
    }
    return bytes;
}

void TAcropSpell::ensureMain() {
    if (!mainOpen_) openMainDictionary(DictionaryName);
}

void TAcropSpell::refreshUserHeaders() {
    for (auto& d : chain_) {
        if (d->main) continue;
        DictHeader h;
        if (readHeader(d->file->fd, d->headerOffset, h)) d->header = h;
        d->updateLimit();
    }
}

Node TAcropSpell::readNode(Dictionary& d, uint32_t n) {
    if (n < 1 || n > d.limit) return Node{0, kLastSibling};  // ends any scan
    if (!d.main) {
        uint8_t b[kNodeSize];
        readAt(d.file->fd, d.nodesOffset() + uint64_t{n - 1} * kNodeSize, b, kNodeSize);
        return decodeNode(b);
    }
    if (!d.cache) {
        d.cache = std::make_unique<Cache>();
        d.cache->lines.resize(std::min<size_t>(kCacheLines, d.limit / kLineNodes + 1));
    }
    // The line of nodes 8k..8k+7 is read from the byte offset of node 8k.
    const uint32_t first = n / kLineNodes * kLineNodes;
    const int64_t offset = static_cast<int64_t>(d.nodesOffset()) + (static_cast<int64_t>(first) - 1) * 3;
    Cache::Line& line = d.cache->lines[static_cast<size_t>(offset / 8) % d.cache->lines.size()];
    if (line.offset != offset) {
        readAt(d.file->fd, static_cast<uint64_t>(offset), line.bytes.data(), kLineBytes);
        line.offset = offset;
    }
    return decodeNode(line.bytes.data() + (n - first) * kNodeSize);
}

bool TAcropSpell::holds(Dictionary& d, const std::string& codes) {
    uint32_t n = 1;
    size_t i = 0;
    const size_t last = codes.size() - 1;
    while (true) {
        if (n < 1 || n > d.limit) return false;
        const Node node = readNode(d, n);
        if (node.code() == static_cast<uint8_t>(codes[i])) {
            if (i == last) {
                if (node.wordEnd()) return true;
            } else if (hasChild(node.child)) {
                n = node.child;  // the rest of the word decides for this dictionary
                ++i;
                continue;
            }
        }
        if (node.last()) return false;
        ++n;
    }
}

bool TAcropSpell::isWordFolded(const std::string& folded) {
    if (folded.size() <= 1) return true;
    std::string codes;
    codes.reserve(folded.size());
    for (char c : folded) codes.push_back(static_cast<char>(letterCode(static_cast<unsigned char>(c))));
    for (auto& d : chain_) {
        if (holds(*d, codes)) return true;
    }
    if (folded.size() >= 2 && folded.compare(folded.size() - 2, 2, "'S") == 0) {
        return isWordFolded(folded.substr(0, folded.size() - 2));
    }
    return false;
}

bool TAcropSpell::isWord(std::string_view word) {
    ensureMain();
    refreshUserHeaders();
    return isWordFolded(foldUpper(word));
}

// The candidates of one suggestion search: each word is offered once, scored against w and ranked.
struct TAcropSpell::Candidates {
    std::string_view word;  // upper case
    const SuggestOptions& options;
    RankedList list;
    std::unordered_set<std::string> offered;

    void offer(const std::string& candidate, Found found) {
        if (!offered.insert(candidate).second) return;
        if (found == Found::Split ? !options.splitsAfterWords : options.kinds == SuggestOptions::Kinds::Ignored) {
            found = Found::Walk;
        }
        list.add(candidate, similarityScore(candidate, word, options.scoreBonus), found);
    }
};

struct TAcropSpell::WalkState {
    SoundKey key;
    Candidates* out;
    size_t budget;  // node visits left; a sound trie never needs more than it has nodes
};

void TAcropSpell::walk(Dictionary& d, uint32_t n, std::string& prefix, WalkState& ctx) {
    for (; n >= 1 && n <= d.limit && ctx.budget > 0; ++n) {
        --ctx.budget;
        const Node node = readNode(d, n);
        prefix.push_back(static_cast<char>(codeLetter(node.code())));
        if (node.wordEnd()) ctx.out->offer(prefix, Found::Walk);
        if (hasChild(node.child) && prefix.size() < kMaxWalkDepth && soundAlikeKey(prefix, &ctx.key) == ctx.key) {
            walk(d, node.child, prefix, ctx);
        }
        prefix.pop_back();
        if (node.last()) break;
    }
}

// The words of one dictionary one edit away from w: the trie is followed along w, and at one place
// the path may drop a letter of w, add a letter, change one, or take two neighbouring letters of w
// in the other order. The prefix holds the letters of the path so far.
struct TAcropSpell::EditWalk {
    enum class Edit { None, Swap, Doubled, Accent, Other };

    TAcropSpell& spell;
    Dictionary& d;
    std::string_view w;
    Candidates& out;
    size_t budget;  // node visits left, so that damaged child numbers cannot make the walk explode
    std::string prefix;

    // Dropping w[i]: a letter typed twice, or another one too many.
    Edit dropped(size_t i) const {
        const bool doubled = (i > 0 && w[i] == w[i - 1]) || (i + 1 < w.size() && w[i] == w[i + 1]);
        return doubled ? Edit::Doubled : Edit::Other;
    }

    // Scans the sibling list starting at node n, with w[0..i) accounted for.
    void list(uint32_t n, size_t i, Edit edit) {
        if (edit == Edit::None && i + 1 < w.size()) list(n, i + 1, dropped(i));  // the word lacks w[i]
        for (; n >= 1 && n <= d.limit && budget > 0; ++n) {
            --budget;
            const Node node = spell.readNode(d, n);
            const auto x = static_cast<char>(codeLetter(node.code()));
            prefix.push_back(x);
            if (i < w.size() && x == w[i]) reach(node, i + 1, edit);
            if (edit == Edit::None) {
                if (i < w.size() && x != w[i]) reach(node, i + 1, changed(x, w[i]));  // x instead of w[i]
                reach(node, i, Edit::Other);                                          // x added before w[i]
                if (i + 1 < w.size() && x == w[i + 1] && w[i] != w[i + 1]) swapped(node, i);
            }
            prefix.pop_back();
            if (node.last()) break;
        }
    }

    // The path took w[i + 1] at node; it goes on with w[i].
    void swapped(const Node& node, size_t i) {
        if (!hasChild(node.child)) return;
        for (uint32_t n = node.child; n >= 1 && n <= d.limit && budget > 0; ++n) {
            --budget;
            const Node next = spell.readNode(d, n);
            if (codeLetter(next.code()) == static_cast<unsigned char>(w[i])) {
                prefix.push_back(w[i]);
                reach(next, i + 2, Edit::Swap);
                prefix.pop_back();
            }
            if (next.last()) break;
        }
    }

    // x typed as y: the same letter with another accent, or another letter.
    static Edit changed(char x, char y) {
        const bool accent = baseLetter(static_cast<unsigned char>(x)) == baseLetter(static_cast<unsigned char>(y));
        return accent ? Edit::Accent : Edit::Other;
    }

    static Found foundBy(Edit edit) {
        switch (edit) {
        case Edit::Swap: return Found::Swap;
        case Edit::Doubled: return Found::Doubled;
        case Edit::Accent: return Found::Accent;
        default: return Found::OneEdit;
        }
    }

    // The path reached node (the last letter of prefix) with w[0..j) accounted for.
    void reach(const Node& node, size_t j, Edit edit) {
        if (node.wordEnd()) {
            if (j == w.size() && edit != Edit::None) out.offer(prefix, foundBy(edit));
            if (j + 1 == w.size() && edit == Edit::None)
                out.offer(prefix, foundBy(dropped(j)));  // w's last letter dropped
        }
        if (!hasChild(node.child) || prefix.size() >= kMaxWalkDepth) return;
        if (j < w.size() || edit == Edit::None) list(node.child, j, edit);
    }
};

std::vector<std::string> TAcropSpell::suggest(std::string_view word) {
    ensureMain();
    refreshUserHeaders();
    const std::string typed(word.substr(0, kSuggestLength));
    const std::string w = foldUpper(typed);
    std::vector<std::string> result;
    if (w.empty()) return result;
    Candidates out{w,
                   options_,
                   RankedList(static_cast<size_t>(maxSuggestions_), options_.kinds == SuggestOptions::Kinds::RankFirst),
                   {}};
    if (options_.oneEditWords) {
        for (auto& d : chain_) {
            // A walk along one word visits a small part of a sound trie; a damaged one is cut short.
            EditWalk walk{*this, *d, w, out, size_t{d->limit} * 4, {}};
            walk.list(1, 0, EditWalk::Edit::None);
        }
    }
    SoundKey key = soundAlikeKey(w);
    std::string prefix;
    for (const char first : firstLettersFor(static_cast<unsigned char>(w[0]))) {
        key[0] = static_cast<unsigned char>(first);
        for (auto& d : chain_) {
            WalkState ctx{key, &out, d->limit};
            prefix.clear();
            walk(*d, 1, prefix, ctx);
        }
    }
    // Two words run together.
    const auto endsSplit = [](char c) { return c == 'A' || c == 'I'; };
    const int len = static_cast<int>(w.size());
    const int from = endsSplit(w.front()) ? 1 : 2;
    const int to = endsSplit(w.back()) ? len - 1 : len - 2;
    for (int d = from; d <= to; ++d) {
        const std::string head = w.substr(0, static_cast<size_t>(d));
        const std::string tail = w.substr(static_cast<size_t>(d));
        if (isWordFolded(head) && isWordFolded(tail)) out.offer(head + ' ' + tail, Found::Split);
    }
    result.reserve(out.list.entries().size());
    for (const auto& e : out.list.entries()) result.push_back(capitalise(e.word, typed));
    return result;
}

TAcropSpell::Dictionary* TAcropSpell::findUser(int number) {
    for (auto& d : chain_) {
        if (!d->main && d->number == number) return d.get();
    }
    return nullptr;
}

bool TAcropSpell::addWord(std::string_view word, int userDictionary) {
    ensureMain();
    Dictionary* d = findUser(userDictionary);
    if (!d) return false;
    const std::string folded = foldUpper(word);
    if (!canBeAdded(folded)) return false;
    DictHeader header;
    if (!readHeader(d->file->fd, d->headerOffset, header) || header.kind != 0) return false;
    d->header = header;
    if (folded.size() + header.usedNodes > kMaxUsedNodes) return false;
    if (header.usedNodes > header.nodeSlots) return false;

    // The nodes in use, edited in memory and written back whole.
    std::vector<Node> nodes;
    if (!readUserNodes(*d, header.usedNodes, nodes)) return false;
    if (!TrieEdit(nodes, folded).add()) return true;  // already held
    return writeUserNodes(*d, header, nodes);
}

bool TAcropSpell::canBeAdded(const std::string& folded) {
    if (folded.empty() || folded.size() > kMaxAddLength) return false;
    return std::all_of(folded.begin(), folded.end(), [](char c) { return hasOwnCode(static_cast<unsigned char>(c)); });
}

bool TAcropSpell::readUserNodes(const Dictionary& d, uint32_t used, std::vector<Node>& nodes) {
    std::vector<uint8_t> raw(size_t{used} * kNodeSize);
    if (readAt(d.file->fd, d.nodesOffset(), raw.data(), raw.size()) != raw.size()) return false;
    nodes.resize(used);
    for (uint32_t i = 0; i < used; ++i) nodes[i] = decodeNode(raw.data() + size_t{i} * kNodeSize);
    return true;
}

bool TAcropSpell::writeUserNodes(Dictionary& d, DictHeader header, const std::vector<Node>& nodes) {
    const int fd = d.file->fd;
    const auto used = static_cast<uint32_t>(nodes.size());
    uint32_t slots = header.nodeSlots;
    if (used > slots) {
        // Grow in place; only the last dictionary of a file can grow.
        const uint64_t end = d.nodesOffset() + uint64_t{slots} * kNodeSize;
        if (fileSize(fd) > end + kTrailingSlack) return false;
        while (slots < used) slots += kUserSlots;
    }
    // Nodes in use, then (when the dictionary grew) its new slots marked free.
    const uint32_t writeTo = slots > header.nodeSlots ? slots : used;
    std::vector<uint8_t> out(size_t{writeTo} * kNodeSize);
    for (uint32_t i = 0; i < used; ++i) encodeNode(nodes[i], out.data() + size_t{i} * kNodeSize);
    for (uint32_t i = used; i < writeTo; ++i) encodeNode(Node{kFreeSlot, 0}, out.data() + size_t{i} * kNodeSize);
    if (!writeAt(fd, d.nodesOffset(), out.data(), out.size())) return false;
    header.usedNodes = used;
    header.nodeSlots = slots;
    header.wordCount += 1;
    const auto hb = encodeHeader(header);
    if (!writeAt(fd, d.headerOffset, hb.data(), hb.size())) return false;
    d.header = header;
    d.updateLimit();
    return true;
}

}  // namespace telvane::spell
