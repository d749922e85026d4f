// Compact compound index reading (validated) and whole-file building.
#include "records/cdx_file.h"

#include "records/file_io.h"
#include "records/xb_error.h"

#include <algorithm>
#include <cstring>
#include <set>

namespace telvane::records {

namespace {

constexpr uint32_t kPage = 512;
constexpr uint32_t kNone = 0xFFFFFFFFu;
constexpr int kKeyArea = 488;

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

Layout layoutFor(int keyLength, uint32_t maxRecno, char pad, const std::string& path) {
    Layout l{keyLength, bitsFor(uint64_t(keyLength)), 0, 0, pad};
    const int need = std::max(1, bitsFor(maxRecno));
    for (int b = 1; b <= 4; ++b) {
        if (8 * b - 2 * l.dupBits >= need) {
            l.bytesPerEntry = b;
            l.recBits = 8 * b - 2 * l.dupBits;
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
        auto* p = reinterpret_cast<unsigned char*>(cur_.page.data());
        const uint64_t v = uint64_t(recno) | uint64_t(dup) << l_.recBits | uint64_t(trail) << (l_.recBits + l_.dupBits);
        for (int i = 0; i < l_.bytesPerEntry; ++i) p[24 + count_ * l_.bytesPerEntry + i] = uint8_t(v >> (8 * i));
        keyEnd_ -= stored;
        std::memcpy(p + keyEnd_, key.data() + dup, size_t(stored));
        used_ += l_.bytesPerEntry + stored;
        ++count_;
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
                io::putLe16(p + 2, uint32_t(n.children.size()));
                size_t pos = 12;
                for (size_t c : n.children) {
                    const LevelNode& child = levels[l + 1][c];
                    std::memcpy(p + pos, child.lastKey.data(), size_t(keyLength));
                    io::putBe32(p + pos + size_t(keyLength), child.lastRecno);
                    io::putBe32(p + pos + size_t(keyLength) + 4, offs[l + 1][c]);
                    pos += size_t(keyLength) + 8;
                }
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

std::string buildCdx(const std::vector<CdxTagSource>& tags, const std::string& path) {
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
    uint32_t off = 2 * kPage + kPage;  // directory header + one directory leaf
    for (const auto& b : built) {
        headerOffsets.push_back(off);
        off += 2 * kPage + uint32_t(nodeCount(b.levels)) * kPage;
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

CdxReader::CdxReader(const std::string& path) : path_(path) {
    io::File f;
    try {
        f.open(path, false);
        const uint64_t size = f.size();
        if (size > (uint64_t(1) << 31)) fail("index file larger than 2 GB");
        bytes_.resize(size_t(size));
        if (size) f.readAt(0, bytes_.data(), bytes_.size());
    } catch (const EXbIndexError&) {
        throw;
    } catch (const EXbError& e) {
        throw EXbIndexError(path, e.what());
    }
    parse();
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

CdxEntries CdxReader::walk(uint32_t root, int keyLength, char pad, const std::string& what) const {
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
    std::string prevKey(size_t(keyLength), pad);
    while (node != kNone && node != 0) {
        if (!leaves.insert(node).second) fail(what + ": the leaf chain loops back on itself");
        const unsigned char* p = page(node, what);
        if (!(io::le16(p) & 0x02)) fail(what + ": the leaf chain reaches a node that is not a leaf");
        const int count = io::le16(p + 2);
        const uint32_t recMask = io::le32(p + 14);
        const int recBits = p[20], dupBits = p[21], trailBits = p[22], bpe = p[23];
        if (bpe < 1 || bpe > 8 || recBits + dupBits + trailBits > 8 * bpe || recBits > 32 || dupBits > 16 ||
            trailBits > 16)
            fail(what + ": a leaf has inconsistent entry sizes");
        if (count * bpe > kKeyArea) fail(what + ": a leaf claims more keys than fit");
        int keyEnd = int(kPage);
        std::string key;
        for (int i = 0; i < count; ++i) {
            uint64_t v = 0;
            for (int b = 0; b < bpe; ++b) v |= uint64_t(p[24 + i * bpe + b]) << (8 * b);
            const uint32_t recno = uint32_t(v & recMask);
            const int dup = int((v >> recBits) & p[18]);
            const int trail = int((v >> (recBits + dupBits)) & p[19]);
            if (dup + trail > keyLength) fail(what + ": a leaf entry has impossible key counts");
            const int stored = keyLength - dup - trail;
            keyEnd -= stored;
            if (keyEnd < 24 + count * bpe) fail(what + ": the keys of a leaf overlap its entries");
            key.assign(prevKey, 0, size_t(dup));
            key.append(reinterpret_cast<const char*>(p + keyEnd), size_t(stored));
            key.append(size_t(trail), pad);
            if (recno == 0) fail(what + ": a leaf entry has record number 0");
            out.emplace_back(key, recno);
            prevKey = key;
            if (out.size() > (bytes_.size() / 2) + 64) fail(what + ": more keys than the file can hold");
        }
        node = io::le32(p + 8);
    }
    return out;
}

void CdxReader::parse() {
    if (bytes_.size() < 3 * kPage) fail("the file is too short (" + std::to_string(bytes_.size()) + " bytes)");
    const CdxTagHeader dir = readHeader(0, true);
    if (dir.keyLength != 10) fail("the tag directory has key length " + std::to_string(dir.keyLength));
    const CdxEntries names = walk(dir.root, 10, ' ', "tag directory");
    for (const auto& [name, offset] : names) {
        CdxTagHeader h = readHeader(offset, false);
        std::string n = name;
        while (!n.empty() && (n.back() == ' ' || n.back() == '\0')) n.pop_back();
        if (n.empty()) fail("a tag has no name");
        h.name = n;
        tags_.push_back(std::move(h));
    }
    std::sort(tags_.begin(), tags_.end(),
              [](const CdxTagHeader& a, const CdxTagHeader& b) { return a.headerOffset < b.headerOffset; });
    for (size_t i = 1; i < tags_.size(); ++i) {
        if (tags_[i].headerOffset == tags_[i - 1].headerOffset) fail("two tags share one header");
    }
}

CdxEntries CdxReader::keys(const CdxTagHeader& tag, char pad) const {
    return walk(tag.root, tag.keyLength, pad, "tag " + tag.name);
}

}  // namespace telvane::records
