// ByteRing: the dispatcher's circular input and output buffer.
// Positions are 64-bit running counts that never wrap in practice: `head` counts every byte ever
// written, `tail` every byte ever consumed, and the byte at position p lives at p % capacity.
// Invariant (asserted after every change): tail <= head <= tail + capacity. The ring itself is not
// synchronised; its owner guards it (the dispatcher's buffer mutex).
#pragma once

#include <algorithm>
#include <cassert>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace telvane::transport {

class ByteRing {
public:
    explicit ByteRing(size_t capacity = 0) { reset(capacity); }

    // Empties the ring and gives it a new capacity.
    void reset(size_t capacity) {
        data_.assign(capacity, 0);
        head_ = tail_ = 0;
    }

    size_t capacity() const { return data_.size(); }
    size_t used() const { return static_cast<size_t>(head_ - tail_); }
    size_t room() const { return capacity() - used(); }
    bool empty() const { return head_ == tail_; }
    uint64_t head() const { return head_; }
    uint64_t tail() const { return tail_; }

    // Appends `len` bytes; the caller has checked that room() >= len.
    void push(const uint8_t* bytes, size_t len) {
        assert(len <= room());
        for (size_t i = 0; i < len; ++i) data_[(head_ + i) % data_.size()] = bytes[i];
        head_ += len;
        checkInvariant();
    }

    // The unread byte `offset` places past the tail (offset < used()).
    uint8_t at(size_t offset) const {
        assert(offset < used());
        return data_[(tail_ + offset) % data_.size()];
    }

    // Copies up to `len` unread bytes without consuming them; returns how many.
    size_t peek(uint8_t* out, size_t len) const {
        const size_t n = std::min(len, used());
        for (size_t i = 0; i < n; ++i) out[i] = data_[(tail_ + i) % data_.size()];
        return n;
    }

    // Copies and consumes up to `len` bytes; returns how many.
    size_t take(uint8_t* out, size_t len) {
        const size_t n = peek(out, len);
        consume(n);
        return n;
    }

    // The unread bytes that are contiguous in memory from the tail: at most `max` of them.
    size_t contiguous(const uint8_t** start, size_t max) const {
        if (data_.empty()) return 0;
        const size_t at = static_cast<size_t>(tail_ % data_.size());
        *start = data_.data() + at;
        return std::min({used(), data_.size() - at, max});
    }

    void consume(size_t len) {
        assert(len <= used());
        tail_ += len;
        checkInvariant();
    }
    // Drops every unread byte.
    void clear() { tail_ = head_; }
    // Moves the read position to `tail`, which must lie within the bytes not yet overwritten
    // (a handler that read ahead is rewound for the next handler of the same notification).
    void setTail(uint64_t tail) {
        tail_ = tail;
        checkInvariant();
    }

private:
    void checkInvariant() const { assert(tail_ <= head_ && head_ - tail_ <= data_.size()); }

    std::vector<uint8_t> data_;
    uint64_t head_ = 0;
    uint64_t tail_ = 0;
};

}  // namespace telvane::transport
