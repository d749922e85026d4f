// CDX layer: the FoxPro compound index file (512-byte pages, compact leaves, a tag directory).
// The reader follows every pointer with range and loop checks and raises EXbIndexError naming
// the file for anything malformed. The writer builds a whole file from sorted keys (leaves
// packed left to right, interior levels above, directory first), as the reference layout does;
// the updater changes single keys of such a file in place.
#pragma once

#include "records/file_io.h"
#include "records/key_list.h"

#include <cstdint>
#include <map>
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
// changes, so an index that carries a stamp matching the table was complete for it. The table
// is known by its record count, its layout and its inode change time, which nothing but a
// change to the file moves (unlike the modification time, which any program can put back).
struct CdxStamp {
    uint32_t records = 0;
    uint16_t headerLength = 0;
    uint16_t recordLength = 0;
    uint64_t tableChanged = 0;  // the table file's inode change time (ns) when written
    int64_t stampedAt = 0;      // when the stamp was written (seconds since the epoch)
    bool operator==(const CdxStamp&) const = default;
};

// Whether a stamp read from an index describes the table as it is now (now.stampedAt is
// ignored). Where the file system keeps times in whole seconds (or milliseconds), a change in
// the same second as the table's last one leaves its time as it was: such a stamp is trusted
// only when it was written at least two seconds after that time.
bool stampDescribes(const CdxStamp& stored, const CdxStamp& now);

// Pages of an index file that some tree reaches, one flag per 512-byte page.
using CdxPageMap = std::vector<bool>;

// How full the leaves of a tree are: the number of leaves and the key-area bytes they use.
struct CdxLeafUse {
    size_t leaves = 0;
    size_t usedBytes = 0;
};

class CdxReader {
public:
    // Reads the whole file and its tag directory. Tags come in creation order (header offset).
    explicit CdxReader(const std::string& path);
    explicit CdxReader(std::string path, std::string bytes);  // from memory
    // The bytes of an index file (EXbIndexError when it cannot be read).
    static std::string load(const std::string& path);

    static constexpr size_t kNoLimit = ~size_t(0);

    const std::string& path() const { return path_; }
    const std::vector<CdxTagHeader>& tags() const { return tags_; }
    // All keys of a tag in stored (ascending) order; pad is the trailing byte (' ' or 0).
    // More than maxEntries keys (the table's record count, when known) is damage.
    CdxEntries keys(const CdxTagHeader& tag, char pad, size_t maxEntries = kNoLimit) const;
    // Checks the whole tree of a tag: interior keys against their children, the root and leaf
    // marks, one depth for all leaves, sibling pointers on every level, the free-byte counts
    // and masks of the leaves, key order, record numbers within maxEntries (the table's record
    // count, when known). Returns the problems found (empty when sound).
    std::vector<std::string> verify(const CdxTagHeader& tag, char pad, size_t maxEntries = kNoLimit) const;
    // The same check, which also puts the keys into a key list (of the tag's key length) and
    // marks the pages the tree uses; out holds every key when no problem was found.
    std::vector<std::string> verifyInto(const CdxTagHeader& tag, char pad, size_t maxEntries, KeyList& out,
                                        CdxPageMap& pages) const;
    // Reads a tag's keys straight into a key list (which must have the tag's key length), from
    // the leaf chain, checking only key order, the bounds and that the chain holds exactly the
    // leaves the interior levels point to; marks the tree's pages and counts the leaves' use.
    void loadKeys(const CdxTagHeader& tag, char pad, size_t maxEntries, KeyList& out, CdxPageMap& pages,
                  CdxLeafUse& use) const;
    // A map of the file's pages with the directory header, the directory tree and the tag
    // headers marked.
    CdxPageMap directoryPages() const;
    // The clean-close stamp; false when the file carries none.
    bool stamp(CdxStamp& out) const;
    size_t size() const { return bytes_.size(); }

private:
    void parse();
    size_t defaultLimit() const;
    CdxTagHeader readHeader(uint32_t offset, bool directory) const;
    CdxEntries walk(uint32_t root, int keyLength, char pad, const std::string& what, size_t maxEntries) const;
    std::vector<std::string> check(const CdxTagHeader& tag, char pad, size_t maxEntries, KeyList* out,
                                   CdxPageMap* pages) const;
    const unsigned char* page(uint32_t offset, const std::string& what) const;
    [[noreturn]] void fail(const std::string& message) const;

    std::string path_;
    std::string bytes_;
    std::vector<CdxTagHeader> tags_;
    uint32_t directoryRoot_ = 0;
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

// Changes single keys of an index file in place, all of them as one step that a crash or a
// power cut cannot leave half done. The leaf that holds a key is rewritten, split when it
// overflows, taken out of its level when it empties, and the levels above follow. Changed pages
// are gathered in memory; new pages take the file's free pages (those no tree reaches) first,
// then go at the end. commit() saves the pages it will overwrite in an undo file beside the
// index and syncs it, writes the pages (the stamp cleared) and syncs, writes the stamp and
// syncs again, and removes the undo file. An index found with a complete undo file is put back
// as it was before the change (undoInterrupted) before anything reads it.
// Throws EXbIndexError when the file is not as expected; the caller then writes the whole file.
class CdxUpdater {
public:
    // freePages: pages of the file that no tree reaches.
    CdxUpdater(io::File& file, std::string path, std::vector<uint32_t> freePages);
    void insert(uint32_t tagHeader, std::string_view key, uint32_t recno, char pad);
    void erase(uint32_t tagHeader, std::string_view key, uint32_t recno, char pad);
    // Writes the gathered changes and the stamp; returns the pages free afterwards.
    std::vector<uint32_t> commit(const CdxStamp& stamp);

    // The undo file of an index.
    static std::string undoPath(const std::string& cdxPath);
    // Puts back the pages saved by an interrupted commit, clears the stamp and removes the undo
    // file (an incomplete one, or one made for another file, is only removed). True when
    // pages were put back.
    static bool undoInterrupted(const std::string& cdxPath);
    // The same on a copy of the index in memory, for reading without changing any file.
    static bool undoInMemory(const std::string& cdxPath, std::string& bytes);
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
    void freePage(uint32_t offset);
    uint32_t leafFor(const Tree& t, std::string_view key, uint32_t recno, std::vector<Step>& path);
    void rewriteLeaf(const Tree& t, uint32_t leaf, const std::string& oldPage, const CdxEntries& entries,
                     std::vector<Step>& path, bool atEnd);
    void removeNode(const Tree& t, uint32_t node, std::vector<Step>& path);
    void replace(const Tree& t, std::vector<Piece> pieces, uint32_t oldLeft, uint32_t oldRight,
                 std::vector<Step>& path);
    void writeChanges();
    [[noreturn]] void fail(const std::string& message) const;

    io::File& file_;
    std::string path_;
    uint64_t end_ = 0;                       // the file's end with the new pages
    uint64_t originalEnd_ = 0;               // before this step, rounded up to a whole page
    uint64_t originalSize_ = 0;              // before this step
    std::vector<uint32_t> free_;             // ascending
    std::map<uint32_t, std::string> dirty_;  // changed and new pages by offset
};

}  // namespace telvane::records
