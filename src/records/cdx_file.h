// CDX layer: the FoxPro compound index file (512-byte pages, compact leaves, a tag directory).
// The reader follows every pointer with range and loop checks and raises EXbIndexError naming
// the file for anything malformed. The writer builds a whole file from sorted keys (leaves
// packed left to right, interior levels above, directory first), as the reference layout does.
#pragma once

#include "records/key_list.h"

#include <cstdint>
#include <string>
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

private:
    void parse();
    size_t defaultLimit(int keyLength) const;
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

// Builds a complete CDX file image for the tags, in the given (creation) order.
std::string buildCdx(const std::vector<CdxTagSource>& tags, const std::string& pathForErrors);

}  // namespace telvane::records
