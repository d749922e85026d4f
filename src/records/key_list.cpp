// Chunked sorted key list: binary search over chunk boundaries, then within a chunk.
#include "records/key_list.h"

#include <algorithm>
#include <cassert>
#include <cstring>

namespace telvane::records {

namespace {
constexpr size_t kChunkMax = 1024;
}

KeyList::KeyList(int keyLength) : keyLength_(keyLength < 1 ? 1 : keyLength) {}

uint32_t KeyList::readRecno(const char* p) {
    uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}

void KeyList::clear() {
    chunks_.clear();
    starts_.clear();
    size_ = 0;
}

std::string KeyList::padded(std::string_view key) const {
    std::string k(key.substr(0, size_t(keyLength_)));
    k.resize(size_t(keyLength_), ' ');
    return k;
}

void KeyList::assignSorted(const std::vector<std::pair<std::string, uint32_t>>& entries) {
    clear();
    const size_t per = kChunkMax / 2;
    for (size_t i = 0; i < entries.size(); i += per) {
        Chunk c;
        const size_t n = std::min(per, entries.size() - i);
        c.data.resize(n * entrySize());
        for (size_t k = 0; k < n; ++k) {
            char* e = c.data.data() + k * entrySize();
            const std::string key = padded(entries[i + k].first);
            std::memcpy(e, key.data(), size_t(keyLength_));
            std::memcpy(e + keyLength_, &entries[i + k].second, 4);
        }
        c.count = n;
        chunks_.push_back(std::move(c));
    }
    size_ = entries.size();
    starts_.clear();
#ifndef NDEBUG
    for (size_t i = 1; i < entries.size(); ++i) assert(entries[i - 1] <= entries[i]);
#endif
}

void KeyList::pushBack(const char* key, uint32_t recno) {
    assert(size_ == 0 || compare(lastEntry(), std::string_view(key, size_t(keyLength_)), recno) <= 0);
    if (chunks_.empty() || chunks_.back().count >= kChunkMax / 2) {
        chunks_.emplace_back();
        chunks_.back().data.reserve(kChunkMax / 2 * entrySize());
    }
    Chunk& c = chunks_.back();
    c.data.append(key, size_t(keyLength_));
    c.data.append(reinterpret_cast<const char*>(&recno), 4);
    ++c.count;
    ++size_;
    starts_.clear();
}

bool KeyList::pushBackInOrder(const char* key, uint32_t recno) {
    if (size_ > 0 && compare(lastEntry(), std::string_view(key, size_t(keyLength_)), recno) >= 0) return false;
    pushBack(key, recno);
    return true;
}

const char* KeyList::lastEntry() const {
    const Chunk& c = chunks_.back();
    return c.data.data() + (c.count - 1) * entrySize();
}

int KeyList::compare(const char* entry, std::string_view key, uint32_t recno) const {
    const int c = std::memcmp(entry, key.data(), size_t(keyLength_));
    if (c != 0) return c;
    const uint32_t r = readRecno(entry + keyLength_);
    return r < recno ? -1 : (r > recno ? 1 : 0);
}

size_t KeyList::chunkFor(std::string_view key, uint32_t recno) const {
    // First chunk whose last entry is not less than (key, recno); the last chunk otherwise.
    size_t lo = 0, hi = chunks_.size();
    while (lo < hi) {
        const size_t mid = (lo + hi) / 2;
        const Chunk& c = chunks_[mid];
        if (compare(c.data.data() + (c.count - 1) * entrySize(), key, recno) < 0)
            lo = mid + 1;
        else
            hi = mid;
    }
    return std::min(lo, chunks_.empty() ? 0 : chunks_.size() - 1);
}

size_t KeyList::positionInChunk(const Chunk& c, std::string_view key, uint32_t recno) const {
    // First entry of the chunk that is not less than (key, recno); its count otherwise.
    size_t lo = 0, hi = c.count;
    while (lo < hi) {
        const size_t mid = (lo + hi) / 2;
        if (compare(c.data.data() + mid * entrySize(), key, recno) < 0)
            lo = mid + 1;
        else
            hi = mid;
    }
    return lo;
}

size_t KeyList::lowerBound(std::string_view key, uint32_t recno) const {
    if (chunks_.empty()) return 0;
    const std::string k = padded(key);
    const size_t ci = chunkFor(k, recno);
    const Chunk& c = chunks_[ci];
    const size_t lo = positionInChunk(c, k, recno);
    size_t before = 0;
    for (size_t i = 0; i < ci; ++i) before += chunks_[i].count;
    return before + lo;
}

void KeyList::insert(std::string_view key, uint32_t recno) {
    starts_.clear();
    const std::string k = padded(key);
    if (chunks_.empty()) {
        Chunk c;
        c.data = k;
        c.data.append(reinterpret_cast<const char*>(&recno), 4);
        c.count = 1;
        chunks_.push_back(std::move(c));
        size_ = 1;
        return;
    }
    const size_t ci = chunkFor(k, recno);
    Chunk& c = chunks_[ci];
    const size_t lo = positionInChunk(c, k, recno);
    std::string e = k;
    e.append(reinterpret_cast<const char*>(&recno), 4);
    c.data.insert(lo * entrySize(), e);
    ++c.count;
    ++size_;
    // The new entry sits between its neighbours; the chunk holds whole entries.
    assert(c.data.size() == c.count * entrySize());
    assert(lo == 0 || compare(c.data.data() + (lo - 1) * entrySize(), k, recno) <= 0);
    assert(lo + 1 == c.count || compare(c.data.data() + (lo + 1) * entrySize(), k, recno) >= 0);
    if (c.count >= kChunkMax) {
        Chunk right;
        const size_t half = c.count / 2;
        right.data = c.data.substr(half * entrySize());
        right.count = c.count - half;
        c.data.resize(half * entrySize());
        c.count = half;
        chunks_.insert(chunks_.begin() + long(ci) + 1, std::move(right));
    }
    assert(!chunks_.empty() && chunks_.back().count > 0);
}

bool KeyList::erase(std::string_view key, uint32_t recno) {
    if (chunks_.empty()) return false;
    const std::string k = padded(key);
    const size_t ci = chunkFor(k, recno);
    Chunk& c = chunks_[ci];
    const size_t lo = positionInChunk(c, k, recno);
    if (lo >= c.count || compare(c.data.data() + lo * entrySize(), k, recno) != 0) return false;
    starts_.clear();
    c.data.erase(lo * entrySize(), entrySize());
    --c.count;
    --size_;
    assert(c.data.size() == c.count * entrySize());
    if (c.count == 0) chunks_.erase(chunks_.begin() + long(ci));
    return true;
}

std::pair<size_t, size_t> KeyList::locate(size_t index) const {
    assert(std::none_of(chunks_.begin(), chunks_.end(), [](const Chunk& c) { return c.count == 0; }));
    if (index >= size_) return {chunks_.size(), 0};
    if (starts_.size() != chunks_.size()) {
        starts_.clear();
        size_t at = 0;
        for (const Chunk& c : chunks_) {
            starts_.push_back(at);
            at += c.count;
        }
    }
    const size_t ci = size_t(std::upper_bound(starts_.begin(), starts_.end(), index) - starts_.begin()) - 1;
    return {ci, index - starts_[ci]};
}

std::string_view KeyList::keyAt(size_t index) const {
    const auto [ci, i] = locate(index);
    if (ci >= chunks_.size()) return {};
    return std::string_view(chunks_[ci].data.data() + i * entrySize(), size_t(keyLength_));
}

uint32_t KeyList::recnoAt(size_t index) const {
    const auto [ci, i] = locate(index);
    if (ci >= chunks_.size()) return 0;
    return readRecno(chunks_[ci].data.data() + i * entrySize() + keyLength_);
}

}  // namespace telvane::records
