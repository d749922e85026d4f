// Sorted list of fixed-length index keys with their record numbers, as held in memory for one
// tag. Entries are ordered by key bytes, then record number (the CDX order). The list is split
// into chunks so that insertion, removal and lookup stay cheap for hundreds of thousands of
// entries, and the k-th entry is found by a search over the chunks' starting positions (kept
// from one change to the next).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace telvane::records {

class KeyList {
public:
    explicit KeyList(int keyLength = 1);

    int keyLength() const { return keyLength_; }
    size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }

    void clear();
    // Replaces the contents with entries already sorted by (key, recno).
    void assignSorted(const std::vector<std::pair<std::string, uint32_t>>& entries);
    void insert(std::string_view key, uint32_t recno);
    // Appends an entry not less than the last one (bulk loading in order); key is keyLength bytes.
    void pushBack(const char* key, uint32_t recno);
    // The same for entries read from outside: false (and nothing added) unless the entry is
    // greater than the last one.
    bool pushBackInOrder(const char* key, uint32_t recno);
    bool erase(std::string_view key, uint32_t recno);  // false when the entry was absent

    // Index of the first entry not less than (key, recno).
    size_t lowerBound(std::string_view key, uint32_t recno) const;
    std::string_view keyAt(size_t index) const;
    uint32_t recnoAt(size_t index) const;

    // Calls f(key, recno) for every entry in ascending order.
    template <class F>
    void forEach(F&& f) const {
        for (const auto& c : chunks_) {
            for (size_t i = 0; i < c.count; ++i) {
                const char* e = c.data.data() + i * entrySize();
                f(std::string_view(e, keyLength_), readRecno(e + keyLength_));
            }
        }
    }

private:
    struct Chunk {
        std::string data;  // count entries of keyLength bytes + 4-byte record number
        size_t count = 0;
    };
    size_t entrySize() const { return size_t(keyLength_) + 4; }
    static uint32_t readRecno(const char* p);
    const char* lastEntry() const;
    int compare(const char* entry, std::string_view key, uint32_t recno) const;
    std::pair<size_t, size_t> locate(size_t index) const;
    size_t chunkFor(std::string_view key, uint32_t recno) const;
    size_t positionInChunk(const Chunk& c, std::string_view key, uint32_t recno) const;
    std::string padded(std::string_view key) const;

    int keyLength_;
    size_t size_ = 0;
    std::vector<Chunk> chunks_;
    mutable std::vector<size_t> starts_;  // index of each chunk's first entry; empty when stale
};

}  // namespace telvane::records
