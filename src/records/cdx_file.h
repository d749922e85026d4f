// CDX layer: the FoxPro compound index file (512-byte pages, compact leaves, a tag directory).
// The reader follows every pointer with range and loop checks and raises EXbIndexError naming
// the file for anything malformed. The writer builds a whole file from sorted keys (leaves
// packed left to right, interior levels above, directory first), as the reference layout does;
// the updater changes single keys of such a file in place.
#pragma once

#include "records/file_io.h"
#include "records/key_list.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace telvane::records {

struct CdxTagHeader {
    std::string name;
    std::string keyExpression;
    std::string forExpression;
    bool descending = false;
    bool unique = false;
    int keyLength = 0;
    uint32_t headerOffset = 0;
    uint32_t root = 0;
};

using CdxEntries = std::vector<std::pair<std::string, uint32_t>>;

// What a cleanly closed index was written for. It is kept in reserved bytes of the directory
// header (which readers ignore and other writers leave zero), and cleared before the table
// changes, so an index that carries a stamp matching the table was complete for it.
struct CdxStamp {
    uint32_t records = 0;
    uint16_t headerLength = 0;
    uint16_t recordLength = 0;
    uint64_t tableModified = 0;  // the table file's modification time (ns) when written
    bool operator==(const CdxStamp&) const = default;
};

class CdxReader {
public:
    // Reads the whole file and its tag directory. Tags come in creation order (header offset).
    explicit CdxReader(const std::string& path);
    explicit CdxReader(std::string path, std::string bytes);  // from memory (tests, fuzzing)

    static constexpr size_t kNoLimit = ~size_t(0);

    const std::vector<CdxTagHeader>& tags() const { return tags_; }
    // All keys of a tag in stored (ascending) order; pad is the trailing byte (' ' or 0).
    // More than maxEntries keys (the table's record count, when known) is damage.
    CdxEntries keys(const CdxTagHeader& tag, char pad, size_t maxEntries = kNoLimit) const;
    // Checks the whole tree of a tag: interior keys against their children, the root and leaf
    // marks, one depth for all leaves, sibling pointers on every level, the free-byte counts
    // and masks of the leaves, key order. Returns the problems found (empty when sound).
    std::vector<std::string> verify(const CdxTagHeader& tag, char pad, size_t maxEntries = kNoLimit) const;
    // Reads a tag's keys straight into a key list (which must have the tag's key length).
    void loadKeys(const CdxTagHeader& tag, char pad, size_t maxEntries, KeyList& out) const;
    // The clean-close stamp; false when the file carries none.
    bool stamp(CdxStamp& out) const;

private:
    void parse();
    size_t defaultLimit() const;
    CdxTagHeader readHeader(uint32_t offset, bool directory) const;
    CdxEntries walk(uint32_t root, int keyLength, char pad, const std::string& what, size_t maxEntries) const;
    const unsigned char* page(uint32_t offset, const std::string& what) const;
    [[noreturn]] void fail(const std::string& message) const;

    std::string path_;
    std::string bytes_;
    std::vector<CdxTagHeader> tags_;
};

struct CdxTagSource {
    std::string name;  // upper case, 1-10 characters
    std::string keyExpression;
    std::string forExpression;
    bool descending = false;
    char pad = ' ';  // ' ' for character keys, 0 for numeric and date keys
    const KeyList* keys = nullptr;
};

// Builds a complete CDX file image for the tags, in the given (creation) order; with a stamp,
// the image is marked as cleanly written for that table. headerOffsets receives where each
// tag's header lies.
std::string buildCdx(const std::vector<CdxTagSource>& tags, const std::string& pathForErrors,
                     const CdxStamp* stamp = nullptr, std::vector<uint32_t>* headerOffsets = nullptr);

// Changes single keys of an index file in place: the leaf that holds the key is rewritten,
// split when it overflows, and the levels above follow (new pages go at the end of the file).
// Throws EXbError when the file is not as expected or a change needs more than a local repair
// (a leaf that would become empty); the caller then rebuilds the whole file.
class CdxUpdater {
public:
    CdxUpdater(io::File& file, std::string path) : file_(file), path_(std::move(path)) {}
    void insert(uint32_t tagHeader, std::string_view key, uint32_t recno, char pad);
    void erase(uint32_t tagHeader, std::string_view key, uint32_t recno, char pad);

    static void markDirty(io::File& file);  // clears the stamp
    static void markClean(io::File& file, const CdxStamp& stamp);

private:
    struct Step {
        uint32_t node;
        int index;
    };
    struct Piece {
        uint32_t offset;
        std::string page;
        std::string lastKey;
        uint32_t lastRecno;
    };
    struct Tree {
        uint32_t header;
        uint32_t root;
        int keyLength;
        char pad;
    };
    Tree openTree(uint32_t tagHeader, char pad);
    std::string readPage(uint32_t offset);
    void writePage(uint32_t offset, const std::string& page);
    uint32_t newPage();
    uint32_t leafFor(const Tree& t, std::string_view key, uint32_t recno, std::vector<Step>& path);
    void rewriteLeaf(const Tree& t, uint32_t leaf, const std::string& oldPage, const CdxEntries& entries,
                     std::vector<Step>& path);
    void removeNode(const Tree& t, uint32_t node, std::vector<Step>& path);
    void replace(const Tree& t, std::vector<Piece> pieces, uint32_t oldLeft, uint32_t oldRight,
                 std::vector<Step>& path);
    [[noreturn]] void fail(const std::string& message) const;

    io::File& file_;
    std::string path_;
    uint64_t end_ = 0;
};

}  // namespace telvane::records
