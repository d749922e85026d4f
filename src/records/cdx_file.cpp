// Compact compound index reading (validated) and whole-file building.
#include "records/cdx_file.h"

#include "records/file_io.h"
#include "records/xb_error.h"

#include <algorithm>
#include <cassert>
#include <cstring>
#include <functional>
#include <random>
#include <set>

namespace telvane::records {

namespace {

constexpr uint32_t kPage = 512;
constexpr uint32_t kNone = 0xFFFFFFFFu;
constexpr int kKeyArea = 488;
// Clean-close stamp in the directory header's reserved bytes 16-43; after it, in 44-51, a
// number drawn anew for every file written whole, which undo files name (0 in files written by
// other programs).
constexpr uint32_t kStampAt = 16;
constexpr size_t kStampSize = 28;
constexpr uint32_t kGenerationAt = 44;
constexpr char kStampMagic[4] = {'T', 'V', 'X', '2'};

void putStamp(unsigned char* p, const CdxStamp& st) {
    std::memcpy(p, kStampMagic, 4);
    io::putLe32(p + 4, st.records);
    io::putLe16(p + 8, st.headerLength);
    io::putLe16(p + 10, st.recordLength);
    io::putLe64(p + 12, st.tableChanged);
    io::putLe64(p + 20, uint64_t(st.stampedAt));
}

int bitsFor(uint64_t v) {
    int b = 0;
    while (v) {
        ++b;
        v >>= 1;
    }
    return b;
}

// --- writing ---------------------------------------------------------------------------------

struct Layout {
    int keyLength;
    int dupBits;
    int recBits;
    int bytesPerEntry;
    char pad;
};

// The smallest entry that holds the largest record number. The record-number mask is a 32-bit
// field, so record bits stop at 32; below that the three fields fill the entry exactly, which
// every reader accepts. Entries grow past 4 bytes for long keys or many records.
Layout layoutFor(int keyLength, uint32_t maxRecno, char pad, const std::string& path) {
    Layout l{keyLength, bitsFor(uint64_t(keyLength)), 0, 0, pad};
    const int need = std::max(1, bitsFor(maxRecno));
    for (int b = 1; b <= 8; ++b) {
        const int bits = std::min(32, 8 * b - 2 * l.dupBits);
        if (bits >= need) {
            l.bytesPerEntry = b;
            l.recBits = bits;
            return l;
        }
    }
    throw EXbError(path + ": too many records for an index with " + std::to_string(keyLength) + "-byte keys");
}

int trailingOf(const std::string& key, char pad) {
    int t = 0;
    for (size_t i = key.size(); i > 0 && key[i - 1] == pad; --i) ++t;
    return t;
}

struct LevelNode {
    std::string page;     // 512 bytes; sibling pointers patched later
    std::string lastKey;  // greatest key of the subtree
    uint32_t lastRecno = 0;
    std::vector<size_t> children;  // interior: indexes into the level below
};

class LeafPacker {
public:
    explicit LeafPacker(Layout l) : l_(l) { start(); }

    void add(const std::string& key, uint32_t recno) {
        const int trail = trailingOf(key, l_.pad);
        int dup = 0;
        if (count_ > 0) {
            const int limit = l_.keyLength - std::max(trail, prevTrail_);
            while (dup < limit && key[size_t(dup)] == prev_[size_t(dup)]) ++dup;
        }
        int stored = l_.keyLength - dup - trail;
        if (used_ + l_.bytesPerEntry + stored > kKeyArea) {
            finish();
            start();
            dup = 0;
            stored = l_.keyLength - trail;
        }
        assert(int(key.size()) == l_.keyLength);
        assert(dup + trail + stored == l_.keyLength && stored >= 0);
        assert(l_.recBits == 32 || uint64_t(recno) < (uint64_t(1) << l_.recBits));
        assert(count_ == 0 || key.compare(prev_) >= 0);
        auto* p = reinterpret_cast<unsigned char*>(cur_.page.data());
        const uint64_t v = uint64_t(recno) | uint64_t(dup) << l_.recBits | uint64_t(trail) << (l_.recBits + l_.dupBits);
        for (int i = 0; i < l_.bytesPerEntry; ++i) p[24 + count_ * l_.bytesPerEntry + i] = uint8_t(v >> (8 * i));
        keyEnd_ -= stored;
        std::memcpy(p + keyEnd_, key.data() + dup, size_t(stored));
        used_ += l_.bytesPerEntry + stored;
        ++count_;
        // Groups grow up from 24, key bytes down from 512; they must never meet.
        assert(used_ <= kKeyArea);
        assert(24 + count_ * l_.bytesPerEntry <= keyEnd_);
        prev_ = key;
        prevTrail_ = trail;
        cur_.lastKey = key;
        cur_.lastRecno = recno;
    }

    std::vector<LevelNode> done() {
        if (count_ > 0 || nodes_.empty()) finish();
        return std::move(nodes_);
    }

private:
    void start() {
        cur_ = LevelNode{};
        cur_.page.assign(kPage, '\0');
        count_ = 0;
        used_ = 0;
        keyEnd_ = int(kPage);
        prev_.clear();
        prevTrail_ = 0;
    }

    void finish() {
        auto* p = reinterpret_cast<unsigned char*>(cur_.page.data());
        io::putLe16(p + 0, 2);
        io::putLe16(p + 2, uint32_t(count_));
        io::putLe16(p + 12, uint32_t(kKeyArea - used_));
        io::putLe32(p + 14, uint32_t((uint64_t(1) << l_.recBits) - 1));
        p[18] = uint8_t((1u << l_.dupBits) - 1);
        p[19] = uint8_t((1u << l_.dupBits) - 1);
        p[20] = uint8_t(l_.recBits);
        p[21] = uint8_t(l_.dupBits);
        p[22] = uint8_t(l_.dupBits);
        p[23] = uint8_t(l_.bytesPerEntry);
        nodes_.push_back(std::move(cur_));
    }

    Layout l_;
    LevelNode cur_;
    int count_ = 0;
    int used_ = 0;
    int keyEnd_ = int(kPage);
    std::string prev_;
    int prevTrail_ = 0;
    std::vector<LevelNode> nodes_;
};

// Builds the levels of one tree, leaves last; returns levels from the root down.
std::vector<std::vector<LevelNode>> buildTree(std::vector<LevelNode> leaves, int keyLength) {
    std::vector<std::vector<LevelNode>> levels;
    levels.push_back(std::move(leaves));
    const size_t perNode = size_t(500 / (keyLength + 8));
    while (levels.back().size() > 1) {
        const auto& below = levels.back();
        std::vector<LevelNode> up;
        for (size_t i = 0; i < below.size(); i += perNode) {
            LevelNode n;
            n.page.assign(kPage, '\0');
            const size_t end = std::min(below.size(), i + perNode);
            for (size_t k = i; k < end; ++k) n.children.push_back(k);
            n.lastKey = below[end - 1].lastKey;
            n.lastRecno = below[end - 1].lastRecno;
            up.push_back(std::move(n));
        }
        levels.push_back(std::move(up));
    }
    std::reverse(levels.begin(), levels.end());
    return levels;
}

size_t nodeCount(const std::vector<std::vector<LevelNode>>& levels) {
    size_t n = 0;
    for (const auto& l : levels) n += l.size();
    return n;
}

// Assigns offsets from base (root first, level by level), patches pointers, appends the pages.
void emitTree(std::vector<std::vector<LevelNode>>& levels, uint32_t base, int keyLength, std::string& out) {
    std::vector<std::vector<uint32_t>> offs(levels.size());
    uint32_t off = base;
    for (size_t l = 0; l < levels.size(); ++l) {
        for (size_t i = 0; i < levels[l].size(); ++i) {
            offs[l].push_back(off);
            off += kPage;
        }
    }
    for (size_t l = 0; l < levels.size(); ++l) {
        const bool leafLevel = l + 1 == levels.size();
        for (size_t i = 0; i < levels[l].size(); ++i) {
            LevelNode& n = levels[l][i];
            auto* p = reinterpret_cast<unsigned char*>(n.page.data());
            uint16_t attr = leafLevel ? 2 : 0;
            if (l == 0) attr |= 1;
            io::putLe16(p, attr);
            io::putLe32(p + 4, i == 0 ? kNone : offs[l][i - 1]);
            io::putLe32(p + 8, i + 1 == levels[l].size() ? kNone : offs[l][i + 1]);
            if (!leafLevel) {
                assert(!n.children.empty() && n.children.size() * size_t(keyLength + 8) <= 500);
                io::putLe16(p + 2, uint32_t(n.children.size()));
                size_t pos = 12;
                for (size_t c : n.children) {
                    const LevelNode& child = levels[l + 1][c];
                    std::memcpy(p + pos, child.lastKey.data(), size_t(keyLength));
                    io::putBe32(p + pos + size_t(keyLength), child.lastRecno);
                    io::putBe32(p + pos + size_t(keyLength) + 4, offs[l + 1][c]);
                    pos += size_t(keyLength) + 8;
                }
                assert(pos <= kPage);
            }
            out += n.page;
        }
    }
}

std::string headerPage(uint32_t root, int keyLength, uint8_t options, bool descending, const std::string& keyExpr,
                       const std::string& forExpr, const std::string& path) {
    if (keyExpr.size() + forExpr.size() + 2 > kPage) throw EXbError(path + ": index expressions are too long");
    std::string h(2 * kPage, '\0');
    auto* p = reinterpret_cast<unsigned char*>(h.data());
    io::putLe32(p, root);
    io::putLe16(p + 12, uint32_t(keyLength));
    p[14] = options;
    p[15] = 1;
    io::putLe16(p + 502, descending ? 1 : 0);
    io::putLe16(p + 504, uint32_t(keyExpr.size() + 1));
    io::putLe16(p + 506, uint32_t(forExpr.size() + 1));
    io::putLe16(p + 508, 0);
    io::putLe16(p + 510, uint32_t(keyExpr.size() + 1));
    std::memcpy(p + 512, keyExpr.data(), keyExpr.size());
    std::memcpy(p + 512 + keyExpr.size() + 1, forExpr.data(), forExpr.size());
    return h;
}

}  // namespace

std::string buildCdx(const std::vector<CdxTagSource>& tags, const std::string& path, const CdxStamp* stamp,
                     std::vector<uint32_t>* headerOffsetsOut) {
    // Sizes first: every tag's tree is packed, then offsets follow from the counts.
    struct Built {
        std::vector<std::vector<LevelNode>> levels;
        int keyLength;
    };
    std::vector<Built> built;
    for (const auto& t : tags) {
        const KeyList& keys = *t.keys;
        uint32_t maxRecno = 1;
        keys.forEach([&](std::string_view, uint32_t r) { maxRecno = std::max(maxRecno, r); });
        LeafPacker packer(layoutFor(keys.keyLength(), maxRecno, t.pad, path));
        keys.forEach([&](std::string_view k, uint32_t r) { packer.add(std::string(k), r); });
        built.push_back({buildTree(packer.done(), keys.keyLength()), keys.keyLength()});
    }
    // Directory: entries sorted by name, pointing at tag headers.
    std::vector<uint32_t> headerOffsets;
    uint64_t off = 2 * kPage + kPage;  // directory header + one directory leaf
    for (const auto& b : built) {
        headerOffsets.push_back(uint32_t(off));
        off += 2 * kPage + uint64_t(nodeCount(b.levels)) * kPage;
        // Node pointers are 32-bit offsets.
        if (off > 0xFFFFFE00u) throw EXbError(path + ": the index would be larger than 4 GB");
    }
    std::vector<std::pair<std::string, uint32_t>> dir;
    for (size_t i = 0; i < tags.size(); ++i) {
        std::string name = tags[i].name;
        name.resize(10, ' ');
        dir.emplace_back(name, headerOffsets[i]);
    }
    std::sort(dir.begin(), dir.end());
    LeafPacker dirPacker(layoutFor(10, headerOffsets.empty() ? 1 : headerOffsets.back(), ' ', path));
    for (const auto& [n, o] : dir) dirPacker.add(n, o);
    auto dirLevels = buildTree(dirPacker.done(), 10);
    if (dirLevels.size() != 1) throw EXbError(path + ": too many index tags for one file");

    std::string out = headerPage(2 * kPage, 10, 0xE0, false, "", "", path);
    if (stamp) putStamp(reinterpret_cast<unsigned char*>(out.data()) + kStampAt, *stamp);
    std::random_device random;
    io::putLe64(reinterpret_cast<unsigned char*>(out.data()) + kGenerationAt,
                uint64_t(random()) << 32 | uint64_t(random()) | 1);
    if (headerOffsetsOut) *headerOffsetsOut = headerOffsets;
    emitTree(dirLevels, 2 * kPage, 10, out);
    for (size_t i = 0; i < tags.size(); ++i) {
        const uint32_t root = headerOffsets[i] + 2 * kPage;
        uint8_t options = 0x60;
        if (!tags[i].forExpression.empty()) options |= 0x08;
        out += headerPage(root, built[i].keyLength, options, tags[i].descending, tags[i].keyExpression,
                          tags[i].forExpression, path);
        emitTree(built[i].levels, root, built[i].keyLength, out);
    }
    return out;
}

// --- reading ---------------------------------------------------------------------------------

CdxReader::CdxReader(const std::string& path) : path_(path), bytes_(load(path)) { parse(); }

std::string CdxReader::load(const std::string& path) {
    try {
        io::File f;
        f.open(path, false, true);
        const uint64_t size = f.size();
        if (size > (uint64_t(1) << 31)) throw EXbIndexError(path, path + ": damaged index: larger than 2 GB");
        std::string bytes(size_t(size), '\0');
        if (size) f.readAt(0, bytes.data(), bytes.size());
        return bytes;
    } catch (const EXbIndexError&) {
        throw;
    } catch (const EXbError& e) {
        throw EXbIndexError(path, e.what());
    }
}

CdxReader::CdxReader(std::string path, std::string bytes) : path_(std::move(path)), bytes_(std::move(bytes)) {
    parse();
}

void CdxReader::fail(const std::string& message) const {
    throw EXbIndexError(path_, path_ + ": damaged index: " + message);
}

const unsigned char* CdxReader::page(uint32_t offset, const std::string& what) const {
    if (offset % kPage != 0 || uint64_t(offset) + kPage > bytes_.size())
        fail(what + " points to offset " + std::to_string(offset) + ", outside the file");
    return reinterpret_cast<const unsigned char*>(bytes_.data()) + offset;
}

CdxTagHeader CdxReader::readHeader(uint32_t offset, bool directory) const {
    const std::string what = directory ? "the directory header" : "a tag header";
    const unsigned char* p = page(offset, what);
    if (uint64_t(offset) + 2 * kPage > bytes_.size()) fail(what + " runs past the end of the file");
    CdxTagHeader h;
    h.headerOffset = offset;
    h.root = io::le32(p);
    h.keyLength = io::le16(p + 12);
    const uint8_t options = p[14];
    if ((options & 0x60) != 0x60) fail(what + " is not a compact compound index header");
    if (h.keyLength < 1 || h.keyLength > 240) fail(what + " has key length " + std::to_string(h.keyLength));
    h.unique = options & 0x01;
    h.descending = io::le16(p + 502) == 1;
    const uint32_t forStart = io::le16(p + 504), forLen = io::le16(p + 506);
    const uint32_t keyStart = io::le16(p + 508), keyLen = io::le16(p + 510);
    auto text = [&](uint32_t start, uint32_t len, const char* which) {
        if (len == 0) return std::string();
        if (uint64_t(start) + len > kPage) fail(what + " has its " + which + " expression outside the pool");
        const char* s = reinterpret_cast<const char*>(p + kPage + start);
        return std::string(s, strnlen(s, len));
    };
    if (!directory) {
        h.keyExpression = text(keyStart, keyLen, "key");
        if ((options & 0x08) && forLen > 1) h.forExpression = text(forStart, forLen, "FOR");
        if (h.keyExpression.empty()) fail("a tag header has no key expression");
    }
    return h;
}

namespace {

struct LeafInfo {
    int count = 0;
    int freeBytes = 0;       // as stated at offset 12
    int computedFree = 0;    // from the entries
    bool masksAgree = true;  // masks match the bit counts
};

// Decodes one leaf, calling onEntry(key, recno) for each entry in order. Fails (through fail,
// which must throw) on anything that cannot be decoded.
template <class F>
LeafInfo decodeLeafWith(const unsigned char* p, int keyLength, char pad, F&& onEntry,
                        const std::function<void(const std::string&)>& fail) {
    LeafInfo info;
    info.count = io::le16(p + 2);
    info.freeBytes = io::le16(p + 12);
    const uint32_t recMask = io::le32(p + 14);
    const int recBits = p[20], dupBits = p[21], trailBits = p[22], bpe = p[23];
    if (bpe < 1 || bpe > 8 || recBits + dupBits + trailBits > 8 * bpe || recBits > 32 || dupBits > 8 || trailBits > 8)
        fail("a leaf has inconsistent entry sizes");
    if (info.count * bpe > kKeyArea) fail("a leaf claims more keys than fit");
    info.masksAgree = uint64_t(recMask) == (uint64_t(1) << recBits) - 1 && p[18] == (1u << dupBits) - 1 &&
                      p[19] == (1u << trailBits) - 1;
    int keyEnd = int(kPage);
    std::string key(size_t(keyLength), pad);
    int used = 0;
    for (int i = 0; i < info.count; ++i) {
        uint64_t v = 0;
        for (int b = 0; b < bpe; ++b) v |= uint64_t(p[24 + i * bpe + b]) << (8 * b);
        const uint32_t recno = uint32_t(v & recMask);
        const int dup = int((v >> recBits) & p[18]);
        const int trail = int((v >> (recBits + dupBits)) & p[19]);
        if (dup + trail > keyLength) fail("a leaf entry has impossible key counts");
        const int stored = keyLength - dup - trail;
        keyEnd -= stored;
        used += bpe + stored;
        if (keyEnd < 24 + info.count * bpe) fail("the keys of a leaf overlap its entries");
        // The first dup bytes stay from the previous key (pad bytes before the first).
        std::memcpy(key.data() + dup, p + keyEnd, size_t(stored));
        std::memset(key.data() + dup + stored, pad, size_t(trail));
        if (recno == 0) fail("a leaf entry has record number 0");
        onEntry(key, recno);
    }
    info.computedFree = kKeyArea - used;
    return info;
}

LeafInfo decodeLeaf(const unsigned char* p, int keyLength, char pad, CdxEntries& out, size_t maxEntries,
                    const std::function<void(const std::string&)>& fail) {
    return decodeLeafWith(
        p, keyLength, pad,
        [&](const std::string& key, uint32_t recno) {
            if (out.size() >= maxEntries) fail("more keys than the table has records");
            out.emplace_back(key, recno);
        },
        fail);
}

}  // namespace

size_t CdxReader::defaultLimit() const {
    // Without a record count: no more entries than the file's leaves could hold.
    return bytes_.size() / 2 + 64;
}

CdxEntries CdxReader::walk(uint32_t root, int keyLength, char pad, const std::string& what, size_t maxEntries) const {
    std::set<uint32_t> seen;
    // Down the left edge to the first leaf.
    uint32_t node = root;
    for (int depth = 0;; ++depth) {
        if (depth > 64) fail(what + ": the tree is deeper than any real index");
        if (!seen.insert(node).second) fail(what + ": the tree loops back on itself");
        const unsigned char* p = page(node, what);
        const uint16_t attr = io::le16(p);
        if (attr & 0x02) break;
        const uint16_t count = io::le16(p + 2);
        if (count == 0) fail(what + ": an interior node has no keys");
        if (uint64_t(count) * uint64_t(keyLength + 8) > 500) fail(what + ": an interior node holds too many keys");
        node = io::be32(p + 12 + keyLength + 4);
    }
    CdxEntries out;
    std::set<uint32_t> leaves;
    const auto failHere = [&](const std::string& m) { fail(what + ": " + m); };
    while (node != kNone && node != 0) {
        if (!leaves.insert(node).second) fail(what + ": the leaf chain loops back on itself");
        const unsigned char* p = page(node, what);
        if (!(io::le16(p) & 0x02)) fail(what + ": the leaf chain reaches a node that is not a leaf");
        decodeLeaf(p, keyLength, pad, out, maxEntries, failHere);
        node = io::le32(p + 8);
    }
    return out;
}

void CdxReader::parse() {
    if (bytes_.size() < 3 * kPage) fail("the file is too short (" + std::to_string(bytes_.size()) + " bytes)");
    const CdxTagHeader dir = readHeader(0, true);
    if (dir.keyLength != 10) fail("the tag directory has key length " + std::to_string(dir.keyLength));
    directoryRoot_ = dir.root;
    // Every tag needs its own 1024-byte header, which bounds the directory.
    const CdxEntries names = walk(dir.root, 10, ' ', "tag directory", bytes_.size() / (2 * kPage));
    std::set<uint32_t> offsets;
    for (const auto& [name, offset] : names) {
        if (!offsets.insert(offset).second) fail("two tags share one header");
        CdxTagHeader h = readHeader(offset, false);
        std::string n = name;
        while (!n.empty() && (n.back() == ' ' || n.back() == '\0')) n.pop_back();
        if (n.empty()) fail("a tag has no name");
        h.name = n;
        tags_.push_back(std::move(h));
    }
    std::sort(tags_.begin(), tags_.end(),
              [](const CdxTagHeader& a, const CdxTagHeader& b) { return a.headerOffset < b.headerOffset; });
}

CdxEntries CdxReader::keys(const CdxTagHeader& tag, char pad, size_t maxEntries) const {
    return walk(tag.root, tag.keyLength, pad, "tag " + tag.name, maxEntries == kNoLimit ? defaultLimit() : maxEntries);
}

namespace {

// Marks a page as used; false when it was marked already.
bool markPage(CdxPageMap& pages, uint32_t offset) {
    const size_t i = offset / kPage;
    if (i >= pages.size() || pages[i]) return false;
    pages[i] = true;
    return true;
}

// Walks a whole tree from the root, checking what the leaf chain alone does not show; the keys
// go to an optional key list, the pages into an optional page map.
class TreeChecker {
public:
    TreeChecker(const std::string& bytes, int keyLength, char pad, size_t maxEntries, size_t maxRecno, std::string what,
                std::vector<std::string>& problems, KeyList* keys, CdxPageMap* pages)
        : bytes_(bytes),
          keyLength_(keyLength),
          pad_(pad),
          maxEntries_(maxEntries),
          maxRecno_(maxRecno),
          what_(std::move(what)),
          problems_(problems),
          keys_(keys),
          pages_(pages),
          seen_(bytes.size() / kPage + 1) {}

    void run(uint32_t root) {
        try {
            std::string lastKey;
            uint32_t lastRecno = 0;
            node(root, 0, true, lastKey, lastRecno);
        } catch (const Stop&) {
            return;
        }
        if (levelDepth_ >= 0 && levels_.size() != size_t(levelDepth_) + 1)
            problem("the leaves lie at different depths");
        for (size_t l = 0; l < levels_.size(); ++l) {
            const auto& row = levels_[l];
            for (size_t i = 0; i < row.size(); ++i) {
                const unsigned char* p = reinterpret_cast<const unsigned char*>(bytes_.data()) + row[i];
                const uint32_t left = io::le32(p + 4), right = io::le32(p + 8);
                const uint32_t wantLeft = i == 0 ? kNone : row[i - 1];
                const uint32_t wantRight = i + 1 == row.size() ? kNone : row[i + 1];
                if (left != wantLeft && !(i == 0 && left == 0))
                    problem("node at " + std::to_string(row[i]) + " has left sibling " + std::to_string(left) +
                            " instead of " + std::to_string(wantLeft));
                if (right != wantRight && !(i + 1 == row.size() && right == 0))
                    problem("node at " + std::to_string(row[i]) + " has right sibling " + std::to_string(right) +
                            " instead of " + std::to_string(wantRight));
                if (problems_.size() > kMaxProblems) return;
            }
        }
    }

private:
    struct Stop {};
    static constexpr size_t kMaxProblems = 50;

    void problem(const std::string& m) {
        problems_.push_back(what_ + ": " + m);
        if (problems_.size() > kMaxProblems) throw Stop{};
    }
    [[noreturn]] void fatal(const std::string& m) {
        problems_.push_back(what_ + ": " + m);
        throw Stop{};
    }

    const unsigned char* pageAt(uint32_t offset) {
        if (offset % kPage != 0 || uint64_t(offset) + kPage > bytes_.size())
            fatal("a pointer leads to offset " + std::to_string(offset) + ", outside the file");
        if (!markPage(seen_, offset)) fatal("the node at " + std::to_string(offset) + " is reached twice");
        if (pages_ && !markPage(*pages_, offset))
            fatal("the node at " + std::to_string(offset) + " also belongs to another tree or a header");
        return reinterpret_cast<const unsigned char*>(bytes_.data()) + offset;
    }

    bool less(const std::string& a, uint32_t ra, const std::string& b, uint32_t rb) const {
        const int c = a.compare(b);
        return c < 0 || (c == 0 && ra < rb);
    }

    // Checks the subtree at offset; returns its greatest key and record number.
    void node(uint32_t offset, int depth, bool isRoot, std::string& lastKey, uint32_t& lastRecno) {
        if (depth > 64) fatal("the tree is deeper than any real index");
        const unsigned char* p = pageAt(offset);
        if (levels_.size() <= size_t(depth)) levels_.resize(size_t(depth) + 1);
        levels_[size_t(depth)].push_back(offset);
        const uint16_t attr = io::le16(p);
        if (bool(attr & 0x01) != isRoot)
            problem("node at " + std::to_string(offset) +
                    (isRoot ? " is the root but not marked so" : " is marked as a root but is not one"));
        const std::string at = " (node at " + std::to_string(offset) + ")";
        if (attr & 0x02) {
            leaf(p, depth, isRoot, at, lastKey, lastRecno);
            return;
        }
        const uint16_t count = io::le16(p + 2);
        if (count == 0) fatal("an interior node has no keys" + at);
        if (uint64_t(count) * uint64_t(keyLength_ + 8) > 500) fatal("an interior node holds too many keys" + at);
        std::string prevKey;
        uint32_t prevRecno = 0;
        for (uint16_t i = 0; i < count; ++i) {
            const unsigned char* e = p + 12 + size_t(i) * size_t(keyLength_ + 8);
            const std::string key(reinterpret_cast<const char*>(e), size_t(keyLength_));
            const uint32_t recno = io::be32(e + keyLength_);
            const uint32_t child = io::be32(e + keyLength_ + 4);
            if (i > 0 && !less(prevKey, prevRecno, key, recno)) problem("interior keys out of order" + at);
            std::string childLast;
            uint32_t childRecno = 0;
            node(child, depth + 1, false, childLast, childRecno);
            if (childLast != key || childRecno != recno)
                problem("interior entry " + std::to_string(i + 1) + " does not match the last key of its child" + at);
            prevKey = key;
            prevRecno = recno;
        }
        lastKey = prevKey;
        lastRecno = prevRecno;
    }

    void leaf(const unsigned char* p, int depth, bool isRoot, const std::string& at, std::string& lastKey,
              uint32_t& lastRecno) {
        if (levelDepth_ < 0) levelDepth_ = depth;
        if (levelDepth_ != depth) problem("the leaves lie at different depths" + at);
        CdxEntries entries;
        LeafInfo info;
        try {
            info = decodeLeaf(p, keyLength_, pad_, entries, maxEntries_ - std::min(total_, maxEntries_),
                              [&](const std::string& m) { throw EXbError(m); });
        } catch (const EXbError& e) {
            fatal(std::string(e.what()) + at);
        }
        total_ += entries.size();
        if (info.freeBytes != info.computedFree)
            problem("a leaf states " + std::to_string(info.freeBytes) + " free bytes but has " +
                    std::to_string(info.computedFree) + at);
        if (!info.masksAgree) problem("a leaf's masks do not match its bit counts" + at);
        for (const auto& [k, r] : entries) {
            if (r > maxRecno_) problem("a key points to record " + std::to_string(r) + ", past the last record" + at);
            if (havePrev_ && !less(prevKey_, prevRecno_, k, r)) problem("keys out of order" + at);
            // The keys are gathered only while all is well: a tree with problems is not used.
            if (keys_ && problems_.empty()) keys_->pushBack(k.data(), r);
            prevKey_ = k;
            prevRecno_ = r;
            havePrev_ = true;
        }
        if (entries.empty()) {
            if (!isRoot) problem("an empty leaf below the root" + at);
            lastKey.clear();
            lastRecno = 0;
        } else {
            lastKey = entries.back().first;
            lastRecno = entries.back().second;
        }
    }

    const std::string& bytes_;
    int keyLength_;
    char pad_;
    size_t maxEntries_;
    size_t maxRecno_;
    std::string what_;
    std::vector<std::string>& problems_;
    KeyList* keys_;
    CdxPageMap* pages_;
    CdxPageMap seen_;
    std::vector<std::vector<uint32_t>> levels_;
    int levelDepth_ = -1;
    size_t total_ = 0;
    std::string prevKey_;
    uint32_t prevRecno_ = 0;
    bool havePrev_ = false;
};

}  // namespace

bool stampDescribes(const CdxStamp& stored, const CdxStamp& now) {
    if (stored.records != now.records || stored.headerLength != now.headerLength ||
        stored.recordLength != now.recordLength || stored.tableChanged != now.tableChanged)
        return false;
    constexpr uint64_t kSecond = 1000000000ull;
    const bool coarse = now.tableChanged % 1000000ull == 0;
    return !coarse || stored.stampedAt >= int64_t(now.tableChanged / kSecond) + 2;
}

bool CdxReader::stamp(CdxStamp& out) const {
    const auto* p = reinterpret_cast<const unsigned char*>(bytes_.data()) + kStampAt;
    if (std::memcmp(p, kStampMagic, 4) != 0) return false;
    out.records = io::le32(p + 4);
    out.headerLength = io::le16(p + 8);
    out.recordLength = io::le16(p + 10);
    out.tableChanged = io::le64(p + 12);
    out.stampedAt = int64_t(io::le64(p + 20));
    return true;
}

CdxPageMap CdxReader::directoryPages() const {
    CdxPageMap pages(bytes_.size() / kPage + 1);
    markPage(pages, 0);
    markPage(pages, kPage);
    // The directory tree was read whole by the parse; its pages are walked level by level.
    std::vector<uint32_t> level{directoryRoot_};
    for (int depth = 0; !level.empty() && depth <= 64; ++depth) {
        std::vector<uint32_t> next;
        for (uint32_t n : level) {
            if (!markPage(pages, n)) fail("tag directory: the node at " + std::to_string(n) + " is reached twice");
            const unsigned char* p = page(n, "tag directory");
            if (io::le16(p) & 0x02) continue;
            const int count = io::le16(p + 2);
            for (int i = 0; i < count && 12 + (i + 1) * 18 <= int(kPage); ++i)
                next.push_back(io::be32(p + 12 + size_t(i) * 18 + 14));
        }
        level = std::move(next);
    }
    for (const auto& t : tags_) {
        if (!markPage(pages, t.headerOffset) || !markPage(pages, t.headerOffset + kPage))
            fail("tag " + t.name + ": its header overlaps another page in use");
    }
    return pages;
}

void CdxReader::loadKeys(const CdxTagHeader& tag, char pad, size_t maxEntries, KeyList& out, CdxPageMap& pages,
                         CdxLeafUse& use) const {
    const std::string what = "tag " + tag.name;
    if (out.keyLength() != tag.keyLength) fail(what + ": key length differs");
    out.clear();
    use = {};
    const size_t kl = size_t(tag.keyLength);
    // The interior levels, from the root down; the leaves they point to are remembered.
    std::vector<uint32_t> level{tag.root};
    for (int depth = 0;; ++depth) {
        if (depth > 64) fail(what + ": the tree is deeper than any real index");
        const unsigned char* first = page(level.front(), what);
        if (io::le16(first) & 0x02) break;
        std::vector<uint32_t> next;
        for (uint32_t n : level) {
            const unsigned char* p = page(n, what);
            if (io::le16(p) & 0x02) fail(what + ": the leaves lie at different depths");
            if (!markPage(pages, n)) fail(what + ": the node at " + std::to_string(n) + " is reached twice");
            const int count = io::le16(p + 2);
            if (count == 0 || size_t(count) * (kl + 8) > 500) fail(what + ": an interior node has a bad key count");
            for (int i = 0; i < count; ++i) next.push_back(io::be32(p + 12 + size_t(i) * (kl + 8) + kl + 4));
        }
        level = std::move(next);
    }
    const auto failHere = [&](const std::string& m) { fail(what + ": " + m); };
    // The leaf chain must hold exactly the leaves the interior levels point to, in their order.
    for (size_t i = 0; i < level.size(); ++i) {
        const uint32_t node = level[i];
        const unsigned char* p = page(node, what);
        if (!(io::le16(p) & 0x02)) fail(what + ": the leaves lie at different depths");
        if (!markPage(pages, node)) fail(what + ": the node at " + std::to_string(node) + " is reached twice");
        const uint32_t next = io::le32(p + 8);
        if (i + 1 < level.size() ? next != level[i + 1] : (next != kNone && next != 0))
            fail(what + ": the leaf chain differs from the leaves below the interior nodes");
        const LeafInfo info = decodeLeafWith(
            p, tag.keyLength, pad,
            [&](const std::string& key, uint32_t recno) {
                if (out.size() >= maxEntries) failHere("more keys than the table has records");
                if (recno > maxEntries) failHere("a key points past the last record");
                // Order is what makes the chain a tag; a crossed pointer breaks it.
                if (!out.pushBackInOrder(key.data(), recno)) failHere("keys out of order");
            },
            failHere);
        ++use.leaves;
        use.usedBytes += size_t(kKeyArea - info.computedFree);
    }
}

std::vector<std::string> CdxReader::check(const CdxTagHeader& tag, char pad, size_t maxEntries, KeyList* out,
                                          CdxPageMap* pages) const {
    std::vector<std::string> problems;
    const bool bounded = maxEntries != kNoLimit;
    TreeChecker(bytes_, tag.keyLength, pad, bounded ? maxEntries : defaultLimit(), bounded ? maxEntries : kNoLimit,
                path_ + ": tag " + tag.name, problems, out, pages)
        .run(tag.root);
    return problems;
}

std::vector<std::string> CdxReader::verify(const CdxTagHeader& tag, char pad, size_t maxEntries) const {
    return check(tag, pad, maxEntries, nullptr, nullptr);
}

std::vector<std::string> CdxReader::verifyInto(const CdxTagHeader& tag, char pad, size_t maxEntries, KeyList& out,
                                               CdxPageMap& pages) const {
    if (out.keyLength() != tag.keyLength) return {path_ + ": tag " + tag.name + ": key length differs"};
    out.clear();
    return check(tag, pad, maxEntries, &out, &pages);
}

// --- updating in place ------------------------------------------------------------------------

namespace {

// Undo file: magic, the index's generation number, its size before the change, the page count,
// then each saved page (offset and 512 bytes), then a checksum of everything before it.
constexpr char kUndoMagic[8] = {'T', 'V', 'X', 'U', 'N', 'D', 'O', '1'};
constexpr size_t kUndoHead = 32;
constexpr size_t kUndoEntry = 4 + kPage;

uint64_t checksum(const char* data, size_t n) {
    uint64_t h = 1469598103934665603ull;  // FNV-1a
    for (size_t i = 0; i < n; ++i) h = (h ^ uint8_t(data[i])) * 1099511628211ull;
    return h;
}

struct UndoPage {
    uint32_t offset;
    std::string_view page;
};

// The saved pages of a complete undo file made for the index file of this generation; false
// when the undo file is incomplete, damaged or belongs to another file.
bool parseUndo(const std::string& undo, uint64_t generation, uint64_t& oldSize, std::vector<UndoPage>& pages) {
    if (undo.size() < kUndoHead + 8 || std::memcmp(undo.data(), kUndoMagic, 8) != 0) return false;
    const auto* p = reinterpret_cast<const unsigned char*>(undo.data());
    const uint32_t count = io::le32(p + 24);
    if (undo.size() != kUndoHead + size_t(count) * kUndoEntry + 8) return false;
    if (io::le64(p + undo.size() - 8) != checksum(undo.data(), undo.size() - 8)) return false;
    if (io::le64(p + 8) != generation) return false;
    oldSize = io::le64(p + 16);
    for (uint32_t i = 0; i < count; ++i) {
        const size_t at = kUndoHead + size_t(i) * kUndoEntry;
        const uint32_t offset = io::le32(p + at);
        if (offset % kPage != 0 || uint64_t(offset) + kPage > oldSize) return false;
        pages.push_back({offset, std::string_view(undo).substr(at + 4, kPage)});
    }
    return true;
}

uint64_t generationOf(const io::File& f) {
    unsigned char g[8] = {};
    if (f.size() >= kGenerationAt + 8) f.readAt(kGenerationAt, g, sizeof g);
    return io::le64(g);
}

}  // namespace

std::string CdxUpdater::undoPath(const std::string& cdxPath) { return cdxPath + ".undo"; }

bool CdxUpdater::undoInterrupted(const std::string& cdxPath) {
    const std::string undoFile = undoPath(cdxPath);
    if (!io::exists(undoFile)) return false;
    bool undone = false;
    std::string undo;
    try {
        undo = io::readFile(undoFile);
    } catch (const EXbError&) {
        // Unreadable (or not a plain file): it cannot be used, only removed.
    }
    if (!undo.empty() && io::exists(cdxPath)) {
        io::File f;
        f.open(cdxPath, false);
        uint64_t oldSize = 0;
        std::vector<UndoPage> pages;
        if (parseUndo(undo, generationOf(f), oldSize, pages)) {
            for (const UndoPage& pg : pages) f.writeAt(pg.offset, pg.page.data(), kPage);
            if (f.size() > oldSize) f.truncate(oldSize);
            // The old stamp described the table before the change, which may have moved on.
            const unsigned char zero[kStampSize] = {};
            f.writeAt(kStampAt, zero, sizeof zero);
            f.sync();
            undone = true;
        }
    }
    io::removeFile(undoFile);
    return undone;
}

bool CdxUpdater::undoInMemory(const std::string& cdxPath, std::string& bytes) {
    const std::string undoFile = undoPath(cdxPath);
    if (!io::exists(undoFile)) return false;
    uint64_t oldSize = 0;
    std::vector<UndoPage> pages;
    std::string undo;
    try {
        undo = io::readFile(undoFile);
    } catch (const EXbError&) {
        return false;
    }
    const uint64_t generation = bytes.size() >= kGenerationAt + 8
                                    ? io::le64(reinterpret_cast<const unsigned char*>(bytes.data()) + kGenerationAt)
                                    : 0;
    if (!parseUndo(undo, generation, oldSize, pages)) return false;
    if (bytes.size() < oldSize) bytes.resize(size_t(oldSize), '\0');
    for (const UndoPage& pg : pages) bytes.replace(pg.offset, kPage, pg.page);
    bytes.resize(size_t(oldSize));
    std::memset(bytes.data() + kStampAt, 0, kStampSize);
    return true;
}

void CdxUpdater::markDirty(io::File& file) {
    const unsigned char zero[kStampSize] = {};
    file.writeAt(kStampAt, zero, sizeof zero);
    file.sync();
}

void CdxUpdater::markClean(io::File& file, const CdxStamp& stamp) {
    unsigned char p[kStampSize];
    putStamp(p, stamp);
    file.writeAt(kStampAt, p, sizeof p);
    file.sync();
}

CdxUpdater::CdxUpdater(io::File& file, std::string path, std::vector<uint32_t> freePages)
    : file_(file), path_(std::move(path)), free_(std::move(freePages)) {
    originalSize_ = file_.size();
    originalEnd_ = end_ = (originalSize_ + kPage - 1) / kPage * kPage;
    std::sort(free_.begin(), free_.end());
    free_.erase(std::remove_if(free_.begin(), free_.end(),
                               [&](uint32_t p) { return p < 2 * kPage || p % kPage != 0 || p >= end_; }),
                free_.end());
}

void CdxUpdater::fail(const std::string& message) const {
    throw EXbIndexError(path_, path_ + ": the index cannot be updated in place: " + message);
}

std::string CdxUpdater::readPage(uint32_t offset) {
    if (offset % kPage != 0 || offset < 2 * kPage || uint64_t(offset) + kPage > end_)
        fail("a pointer leads to offset " + std::to_string(offset));
    const auto it = dirty_.find(offset);
    if (it != dirty_.end()) return it->second;
    std::string p(kPage, '\0');
    file_.readAt(offset, p.data(), kPage);
    return p;
}

void CdxUpdater::writePage(uint32_t offset, const std::string& page) {
    assert(page.size() == kPage && offset % kPage == 0);
    dirty_[offset] = page;
}

uint32_t CdxUpdater::newPage() {
    if (!free_.empty()) {
        const uint32_t at = free_.front();
        free_.erase(free_.begin());
        return at;
    }
    if (end_ + kPage > 0xFFFFFE00u) fail("the index would be larger than 4 GB");
    const uint32_t at = uint32_t(end_);
    end_ += kPage;
    return at;
}

void CdxUpdater::freePage(uint32_t offset) {
    free_.insert(std::lower_bound(free_.begin(), free_.end(), offset), offset);
}

std::vector<uint32_t> CdxUpdater::commit(const CdxStamp& stamp) {
    if (!dirty_.empty()) {
        // No stamp while pages change: the directory header is part of the step.
        std::string head(kPage, '\0');
        const auto it = dirty_.find(0);
        if (it != dirty_.end())
            head = it->second;
        else
            file_.readAt(0, head.data(), kPage);
        std::memset(head.data() + kStampAt, 0, kStampSize);
        dirty_[0] = head;
        writeChanges();
    }
    markClean(file_, stamp);
    // The step is complete once the stamp is on disk; a leftover undo file is harmless (it puts
    // back the old pages, which the open then finds stale and brings up to date).
    io::removeFile(undoPath(path_));
    dirty_.clear();
    originalEnd_ = end_;
    originalSize_ = file_.size();
    return free_;
}

void CdxUpdater::writeChanges() {
    const std::string undoFile = undoPath(path_);
    std::string undo(kUndoHead, '\0');
    auto* h = reinterpret_cast<unsigned char*>(undo.data());
    std::memcpy(h, kUndoMagic, 8);
    io::putLe64(h + 8, generationOf(file_));
    io::putLe64(h + 16, originalSize_);
    uint32_t saved = 0;
    for (const auto& [offset, page] : dirty_) {
        if (offset + kPage > originalSize_) continue;
        std::string entry(kUndoEntry, '\0');
        io::putLe32(reinterpret_cast<unsigned char*>(entry.data()), offset);
        file_.readAt(offset, entry.data() + 4, kPage);
        undo += entry;
        ++saved;
    }
    io::putLe32(reinterpret_cast<unsigned char*>(undo.data()) + 24, saved);
    unsigned char sum[8];
    io::putLe64(sum, checksum(undo.data(), undo.size()));
    undo.append(reinterpret_cast<const char*>(sum), 8);
    io::removeFile(undoFile);
    {
        io::File u;
        u.create(undoFile);
        u.writeAt(0, undo.data(), undo.size());
        u.sync();
    }
    io::syncDirectoryOf(undoFile);
    try {
        // Runs of adjacent pages go in one write.
        auto it = dirty_.begin();
        while (it != dirty_.end()) {
            std::string run = it->second;
            const uint32_t from = it->first;
            uint32_t next = from + kPage;
            for (++it; it != dirty_.end() && it->first == next; ++it, next += kPage) run += it->second;
            file_.writeAt(from, run.data(), run.size());
        }
        file_.sync();
    } catch (const EXbError&) {
        // Put the old pages back now if the disk lets us; otherwise the next open does.
        try {
            undoInterrupted(path_);
        } catch (const EXbError&) {}
        throw;
    }
}

CdxUpdater::Tree CdxUpdater::openTree(uint32_t tagHeader, char pad) {
    if (tagHeader % kPage != 0 || uint64_t(tagHeader) + 2 * kPage > originalEnd_)
        fail("no tag header at " + std::to_string(tagHeader));
    const std::string header = readPage(tagHeader);
    const auto* h = reinterpret_cast<const unsigned char*>(header.data());
    Tree t{tagHeader, io::le32(h), io::le16(h + 12), pad};
    if ((h[14] & 0x60) != 0x60 || t.keyLength < 1 || t.keyLength > 240) fail("a tag header is not as written");
    return t;
}

uint32_t CdxUpdater::leafFor(const Tree& t, std::string_view key, uint32_t recno, std::vector<Step>& path) {
    uint32_t node = t.root;
    const size_t kl = size_t(t.keyLength);
    for (int depth = 0; depth <= 64; ++depth) {
        const std::string page = readPage(node);
        const auto* p = reinterpret_cast<const unsigned char*>(page.data());
        if (io::le16(p) & 0x02) return node;
        const int count = io::le16(p + 2);
        if (count == 0 || size_t(count) * (kl + 8) > 500) fail("an interior node has a bad key count");
        // The first entry not less than the key leads to its leaf; past the last, the last.
        int i = 0;
        for (; i < count; ++i) {
            const unsigned char* e = p + 12 + size_t(i) * (kl + 8);
            const int c = std::memcmp(e, key.data(), kl);
            if (c > 0 || (c == 0 && io::be32(e + kl) >= recno)) break;
        }
        if (i == count) i = count - 1;
        path.push_back({node, i});
        node = io::be32(p + 12 + size_t(i) * (kl + 8) + kl + 4);
    }
    fail("the tree is deeper than any real index");
}

void CdxUpdater::insert(uint32_t tagHeader, std::string_view key, uint32_t recno, char pad) {
    const Tree t = openTree(tagHeader, pad);
    if (key.size() != size_t(t.keyLength)) fail("key of the wrong length");
    std::vector<Step> path;
    const uint32_t leaf = leafFor(t, key, recno, path);
    const std::string page = readPage(leaf);
    CdxEntries entries;
    decodeLeaf(reinterpret_cast<const unsigned char*>(page.data()), t.keyLength, pad, entries, size_t(kKeyArea),
               [&](const std::string& m) { fail(m); });
    const std::pair<std::string, uint32_t> item(std::string(key), recno);
    const auto at = std::lower_bound(entries.begin(), entries.end(), item);
    if (at != entries.end() && *at == item) fail("the key is already there");
    const uint32_t right = io::le32(reinterpret_cast<const unsigned char*>(page.data()) + 8);
    const bool atEnd = at == entries.end() && (right == kNone || right == 0);
    entries.insert(at, item);
    rewriteLeaf(t, leaf, page, entries, path, atEnd);
}

void CdxUpdater::erase(uint32_t tagHeader, std::string_view key, uint32_t recno, char pad) {
    const Tree t = openTree(tagHeader, pad);
    if (key.size() != size_t(t.keyLength)) fail("key of the wrong length");
    std::vector<Step> path;
    const uint32_t leaf = leafFor(t, key, recno, path);
    const std::string page = readPage(leaf);
    CdxEntries entries;
    decodeLeaf(reinterpret_cast<const unsigned char*>(page.data()), t.keyLength, pad, entries, size_t(kKeyArea),
               [&](const std::string& m) { fail(m); });
    const std::pair<std::string, uint32_t> item(std::string(key), recno);
    const auto at = std::lower_bound(entries.begin(), entries.end(), item);
    if (at == entries.end() || *at != item) fail("the key to remove is not there");
    entries.erase(at);
    if (entries.empty() && !path.empty())
        removeNode(t, leaf, path);
    else
        rewriteLeaf(t, leaf, page, entries, path, false);
}

// A leaf that overflows is split in two halves, so that later keys of the same stretch find
// room; only a key added at the very end of the tag leaves the first leaf full.
void CdxUpdater::rewriteLeaf(const Tree& t, uint32_t leaf, const std::string& oldPage, const CdxEntries& entries,
                             std::vector<Step>& path, bool atEnd) {
    uint32_t maxRecno = 1;
    for (const auto& e : entries) maxRecno = std::max(maxRecno, e.second);
    const Layout layout = layoutFor(t.keyLength, maxRecno, t.pad, path_);
    const auto pack = [&](size_t from, size_t to) {
        LeafPacker packer(layout);
        for (size_t i = from; i < to; ++i) packer.add(entries[i].first, entries[i].second);
        return packer.done();
    };
    std::vector<LevelNode> nodes = pack(0, entries.size());
    if (nodes.size() == 2 && !atEnd) {
        std::vector<LevelNode> first = pack(0, entries.size() / 2), second = pack(entries.size() / 2, entries.size());
        if (first.size() == 1 && second.size() == 1) {
            nodes.clear();
            nodes.push_back(std::move(first[0]));
            nodes.push_back(std::move(second[0]));
        }
    }
    std::vector<Piece> pieces;
    for (size_t i = 0; i < nodes.size(); ++i)
        pieces.push_back({i == 0 ? leaf : newPage(), std::move(nodes[i].page), nodes[i].lastKey, nodes[i].lastRecno});
    const auto* o = reinterpret_cast<const unsigned char*>(oldPage.data());
    replace(t, std::move(pieces), io::le32(o + 4), io::le32(o + 8), path);
}

// Takes an emptied node out of its level and its parent's entries (an interior node left
// without entries goes the same way); its page becomes free.
void CdxUpdater::removeNode(const Tree& t, uint32_t node, std::vector<Step>& path) {
    const std::string page = readPage(node);
    const auto* p = reinterpret_cast<const unsigned char*>(page.data());
    const uint32_t left = io::le32(p + 4), right = io::le32(p + 8);
    if (path.empty()) {
        // The whole tree is empty: the root becomes an empty leaf.
        LeafPacker packer(layoutFor(t.keyLength, 1, t.pad, path_));
        std::vector<LevelNode> nodes = packer.done();
        std::vector<Piece> pieces{{node, std::move(nodes[0].page), {}, 0}};
        replace(t, std::move(pieces), kNone, kNone, path);
        return;
    }
    if (left != kNone && left != 0) {
        std::string l = readPage(left);
        io::putLe32(reinterpret_cast<unsigned char*>(l.data()) + 8, right);
        writePage(left, l);
    }
    if (right != kNone && right != 0) {
        std::string r = readPage(right);
        io::putLe32(reinterpret_cast<unsigned char*>(r.data()) + 4, left);
        writePage(right, r);
    }
    dirty_.erase(node);
    freePage(node);
    const Step step = path.back();
    path.pop_back();
    std::string parent = readPage(step.node);
    auto* q = reinterpret_cast<unsigned char*>(parent.data());
    const size_t kl = size_t(t.keyLength);
    const int count = io::le16(q + 2);
    if (step.index < 0 || step.index >= count) fail("a path step is out of range");
    if (count == 1) {
        // The parent is left without children: it goes too (the root becomes an empty leaf).
        removeNode(t, step.node, path);
        return;
    }
    unsigned char* e = q + 12 + size_t(step.index) * (kl + 8);
    std::memmove(e, e + kl + 8, size_t(count - 1 - step.index) * (kl + 8));
    std::memset(q + 12 + size_t(count - 1) * (kl + 8), 0, kl + 8);
    io::putLe16(q + 2, uint32_t(count - 1));
    const unsigned char* last = q + 12 + size_t(count - 2) * (kl + 8);
    Piece pc{step.node, parent, std::string(reinterpret_cast<const char*>(last), kl), io::be32(last + kl)};
    std::vector<Piece> pieces;
    pieces.push_back(std::move(pc));
    replace(t, std::move(pieces), io::le32(q + 4), io::le32(q + 8), path);
}

// Puts pieces (one level, left to right) where one node stood: sibling links, then the parent's
// entry for that node becomes one entry per piece, up to the root.
void CdxUpdater::replace(const Tree& t, std::vector<Piece> pieces, uint32_t oldLeft, uint32_t oldRight,
                         std::vector<Step>& path) {
    const size_t kl = size_t(t.keyLength);
    const bool leafLevel = io::le16(reinterpret_cast<const unsigned char*>(pieces[0].page.data())) & 0x02;
    const bool isRoot = path.empty();
    const size_t n = pieces.size();
    for (size_t i = 0; i < n; ++i) {
        auto* p = reinterpret_cast<unsigned char*>(pieces[i].page.data());
        io::putLe16(p, uint32_t((leafLevel ? 2 : 0) | (isRoot && n == 1 ? 1 : 0)));
        io::putLe32(p + 4, i == 0 ? oldLeft : pieces[i - 1].offset);
        io::putLe32(p + 8, i + 1 == n ? oldRight : pieces[i + 1].offset);
    }
    for (const Piece& pc : pieces) writePage(pc.offset, pc.page);
    if (n > 1 && oldRight != kNone && oldRight != 0) {
        std::string right = readPage(oldRight);
        io::putLe32(reinterpret_cast<unsigned char*>(right.data()) + 4, pieces.back().offset);
        writePage(oldRight, right);
    }
    struct Entry {
        std::string key;
        uint32_t recno, child;
    };
    std::vector<Entry> entries;
    uint32_t parent = 0, parentLeft = kNone, parentRight = kNone;
    if (isRoot) {
        if (n == 1) return;
        // The root split: a new root above the pieces.
        parent = newPage();
    } else {
        const Step step = path.back();
        path.pop_back();
        parent = step.node;
        const std::string page = readPage(parent);
        const auto* p = reinterpret_cast<const unsigned char*>(page.data());
        const int count = io::le16(p + 2);
        parentLeft = io::le32(p + 4);
        parentRight = io::le32(p + 8);
        for (int i = 0; i < count; ++i) {
            const unsigned char* e = p + 12 + size_t(i) * (kl + 8);
            entries.push_back(
                {std::string(reinterpret_cast<const char*>(e), kl), io::be32(e + kl), io::be32(e + kl + 4)});
        }
        if (step.index < 0 || step.index >= count) fail("a path step is out of range");
        entries.erase(entries.begin() + step.index);
        std::vector<Entry> mine;
        for (const auto& pc : pieces) mine.push_back({pc.lastKey, pc.lastRecno, pc.offset});
        entries.insert(entries.begin() + step.index, mine.begin(), mine.end());
    }
    if (isRoot) {
        for (const auto& pc : pieces) entries.push_back({pc.lastKey, pc.lastRecno, pc.offset});
    }
    const size_t cap = 500 / (kl + 8);
    const size_t parts = (entries.size() + cap - 1) / cap;
    std::vector<Piece> up;
    for (size_t k = 0, from = 0; k < parts; ++k) {
        const size_t take = (entries.size() - from) / (parts - k);
        Piece pc{k == 0 ? parent : newPage(), std::string(kPage, '\0'), {}, 0};
        auto* p = reinterpret_cast<unsigned char*>(pc.page.data());
        io::putLe16(p + 2, uint32_t(take));
        for (size_t i = 0; i < take; ++i) {
            const Entry& e = entries[from + i];
            unsigned char* d = p + 12 + i * (kl + 8);
            std::memcpy(d, e.key.data(), kl);
            io::putBe32(d + kl, e.recno);
            io::putBe32(d + kl + 4, e.child);
        }
        pc.lastKey = entries[from + take - 1].key;
        pc.lastRecno = entries[from + take - 1].recno;
        from += take;
        up.push_back(std::move(pc));
    }
    replace(t, std::move(up), parentLeft, parentRight, path);
    if (isRoot) {
        // The new root is the tag header's first field; the header page joins the step.
        std::string header = readPage(t.header);
        io::putLe32(reinterpret_cast<unsigned char*>(header.data()), parent);
        writePage(t.header, header);
    }
}

}  // namespace telvane::records
