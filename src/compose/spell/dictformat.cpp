// Encoding, building and reading of dictionary files.
#include "compose/spell/dictformat.h"

#include <algorithm>
#include <functional>

#include "compose/spell/charset.h"

namespace telvane::spell {

namespace {

void put32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
uint32_t get32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
           static_cast<uint32_t>(p[3]) << 24;
}

// An in-memory trie node while building; children sorted by letter code.
struct BuildNode {
    uint8_t code = 0;
    bool end = false;
    std::vector<uint32_t> kids;
};

// Lays the trie out with every sibling list contiguous, lists in depth-first order, so that a walk
// of one subtree reads neighbouring nodes.
std::string layOut(const std::vector<BuildNode>& trie, uint32_t& count) {
    std::vector<Node> out;
    std::function<uint16_t(const std::vector<uint32_t>&)> place = [&](const std::vector<uint32_t>& list) {
        const size_t first = out.size();
        out.resize(first + list.size());
        for (size_t i = 0; i < list.size(); ++i) {
            const BuildNode& b = trie[list[i]];
            out[first + i].bits =
                static_cast<uint8_t>(b.code | (b.end ? kWordEnd : 0) | (i + 1 == list.size() ? kLastSibling : 0));
        }
        for (size_t i = 0; i < list.size(); ++i) {
            const BuildNode& b = trie[list[i]];
            if (!b.kids.empty()) {
                const uint16_t child = place(b.kids);
                out[first + i].child = child;
            }
        }
        return static_cast<uint16_t>(first + 1);
    };
    place(trie[0].kids);
    count = static_cast<uint32_t>(out.size());
    std::string bytes(out.size() * kNodeSize, '\0');
    for (size_t i = 0; i < out.size(); ++i)
        encodeNode(out[i], reinterpret_cast<uint8_t*>(bytes.data() + i * kNodeSize));
    return bytes;
}

size_t commonPrefix(const std::string& a, const std::string& b) {
    size_t n = 0;
    while (n < a.size() && n < b.size() && a[n] == b[n]) ++n;
    return n;
}

}  // namespace

std::array<uint8_t, kHeaderSize> encodeHeader(const DictHeader& h) {
    std::array<uint8_t, kHeaderSize> b{};
    put32(b.data(), h.usedNodes);
    put32(b.data() + 4, h.nodeSlots);
    put32(b.data() + 8, h.wordCount);
    b[12] = h.kind;
    put32(b.data() + 13, h.offset);
    return b;
}

DictHeader decodeHeader(const uint8_t* b) {
    DictHeader h;
    h.usedNodes = get32(b);
    h.nodeSlots = get32(b + 4);
    h.wordCount = get32(b + 8);
    h.kind = b[12];
    h.offset = get32(b + 13);
    return h;
}

void encodeNode(const Node& n, uint8_t* b) {
    b[0] = static_cast<uint8_t>(n.child & 0xFF);
    b[1] = static_cast<uint8_t>(n.child >> 8);
    b[2] = n.bits;
}

Node decodeNode(const uint8_t* b) {
    Node n;
    n.child = static_cast<uint16_t>(b[0] | (b[1] << 8));
    n.bits = b[2];
    return n;
}

std::string newUserDictionaryFile() {
    std::string file = "USER DICTIONARY\r\nTelvane word list (binary letter trie; edit only with the program)\r\n";
    file.push_back(static_cast<char>(kPreambleEnd));
    DictHeader h;
    h.usedNodes = 1;
    h.nodeSlots = kUserSlots;
    h.wordCount = 1;
    h.kind = 0;
    h.offset = static_cast<uint32_t>(file.size());
    const auto hb = encodeHeader(h);
    file.append(reinterpret_cast<const char*>(hb.data()), hb.size());
    uint8_t node[kNodeSize];
    encodeNode(Node{0, static_cast<uint8_t>(0 | kLastSibling | kWordEnd)}, node);
    file.append(reinterpret_cast<const char*>(node), kNodeSize);
    encodeNode(Node{kFreeSlot, 0}, node);
    for (uint32_t i = 2; i <= kUserSlots; ++i) file.append(reinterpret_cast<const char*>(node), kNodeSize);
    return file;
}

BuiltDictionary buildMainDictionary(const std::vector<std::string>& words, std::string_view preamble,
                                    uint32_t maxNodes) {
    BuiltDictionary result;
    // Words as letter-code strings, sorted, without repeats.
    std::vector<std::string> coded;
    coded.reserve(words.size());
    for (const std::string& w : words) {
        bool ok = !w.empty();
        std::string c;
        for (char ch : w) {
            const auto u = static_cast<unsigned char>(ch);
            if (!hasOwnCode(u)) {
                ok = false;
                break;
            }
            c.push_back(static_cast<char>(letterCode(u)));
        }
        if (ok) {
            coded.push_back(std::move(c));
        } else {
            ++result.skipped;
        }
    }
    std::sort(coded.begin(), coded.end());
    coded.erase(std::unique(coded.begin(), coded.end()), coded.end());
    result.words = coded.size();

    result.bytes.assign(preamble);
    result.bytes.push_back(static_cast<char>(kPreambleEnd));

    size_t begin = 0;
    while (begin < coded.size()) {
        // The longest run of words whose trie fits.
        size_t end = begin;
        uint32_t nodes = 0;
        while (end < coded.size()) {
            const size_t shared = end == begin ? 0 : commonPrefix(coded[end], coded[end - 1]);
            const uint32_t added = static_cast<uint32_t>(coded[end].size() - shared);
            if (nodes + added > maxNodes) break;
            nodes += added;
            ++end;
        }
        if (end == begin) break;  // a single word longer than the limit: cannot be stored

        std::vector<BuildNode> trie(1);
        for (size_t i = begin; i < end; ++i) {
            uint32_t at = 0;
            for (char ch : coded[i]) {
                const auto code = static_cast<uint8_t>(ch);
                uint32_t next = 0;
                auto& kids = trie[at].kids;
                auto it = std::find_if(kids.begin(), kids.end(), [&](uint32_t k) { return trie[k].code == code; });
                if (it != kids.end()) {
                    next = *it;
                } else {
                    next = static_cast<uint32_t>(trie.size());
                    trie[at].kids.push_back(next);  // sorted input: new letters arrive in code order
                    trie.push_back(BuildNode{code, false, {}});
                }
                at = next;
            }
            trie[at].end = true;
        }
        uint32_t count = 0;
        const std::string nodeBytes = layOut(trie, count);
        DictHeader h;
        h.usedNodes = count;
        h.nodeSlots = count;
        h.wordCount = static_cast<uint32_t>(end - begin);
        h.kind = 1;
        h.offset = static_cast<uint32_t>(result.bytes.size());
        const auto hb = encodeHeader(h);
        result.bytes.append(reinterpret_cast<const char*>(hb.data()), hb.size());
        result.bytes += nodeBytes;
        result.nodeCounts.push_back(count);
        begin = end;
    }
    result.skipped += coded.size() - begin;
    return result;
}

std::vector<DictionaryImage> readDictionaryImages(std::string_view file, std::string* error) {
    std::vector<DictionaryImage> out;
    const size_t eof = file.find(static_cast<char>(kPreambleEnd));
    if (eof == std::string_view::npos) {
        if (error) *error = "no end of preamble (byte 0x1A)";
        return out;
    }
    size_t at = eof + 1;
    while (true) {
        if (file.size() < at + kHeaderSize) {
            if (error && out.empty()) *error = "file ends inside the dictionary header";
            break;
        }
        DictionaryImage img;
        img.headerOffset = at;
        img.header = decodeHeader(reinterpret_cast<const uint8_t*>(file.data() + at));
        const size_t nodesAt = at + kHeaderSize;
        const size_t available = (file.size() - nodesAt) / kNodeSize;
        const size_t n = std::min<size_t>(img.header.nodeSlots, available);
        img.nodes.reserve(n);
        for (size_t i = 0; i < n; ++i) {
            img.nodes.push_back(decodeNode(reinterpret_cast<const uint8_t*>(file.data() + nodesAt + i * kNodeSize)));
        }
        out.push_back(std::move(img));
        const uint64_t next = nodesAt + uint64_t{out.back().header.nodeSlots} * kNodeSize;
        if (next + kTrailingSlack >= file.size()) break;
        at = static_cast<size_t>(next);
    }
    return out;
}

std::vector<std::string> wordsOf(const DictionaryImage& image) {
    std::vector<std::string> words;
    const size_t count = image.nodes.size();
    size_t budget = count;
    std::string prefix;
    std::function<void(size_t)> walk = [&](size_t n) {
        for (; n >= 1 && n <= count && budget > 0; ++n) {
            --budget;
            const Node& node = image.nodes[n - 1];
            prefix.push_back(static_cast<char>(codeLetter(node.code())));
            if (node.wordEnd()) words.push_back(prefix);
            if (hasChild(node.child) && prefix.size() < 64) walk(node.child);
            prefix.pop_back();
            if (node.last()) break;
        }
    };
    walk(1);
    return words;
}

}  // namespace telvane::spell
