// ECM partial pages (T.30 Annex A): the sender cuts a page's coded data into partial pages
// (blocks) of up to 256 FCD frames of 256 (or 64) octets, numbered from 0 in each block, and
// keeps the block until the receiver has every frame; the receiver puts a block together from
// FCD frames arriving in any order and any number of times, and names the frames it lacks in the
// 256-bit map of its PPR.
// Guarantees: each holds one block at most (64 KB, allocated once); frame numbers and lengths
// from the line are checked before use; nothing here blocks or fails on bad input.
#pragma once

#include "transport/fax/ecmframes.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace telvane::transport::ecm {

class TEcmPageSplitter {
public:
    TEcmPageSplitter();
    // Starts a page whose FCD frames carry `frameSize` octets (64, else 256).
    void beginPage(int frameSize);
    // Adds coded data of the page to the current block; returns the octets taken, fewer than
    // `len` once the block holds 256 frames.
    size_t append(const uint8_t* data, size_t len);
    bool full() const { return data_.size() == blockOctets(); }
    // The page's data is complete: the current block is its last.
    void endPage() { last_ = true; }
    bool lastBlock() const { return last_; }
    // Starts the next block of the page once the receiver confirmed the current one.
    void nextBlock();

    int frameSize() const { return frameSize_; }
    // Frames of the current block (PPS gives this count minus 1).
    int frameCount() const;
    // Block counter of the current block in its page (from 0).
    int blockNumber() const { return block_; }
    // The FIF of FCD frame `frame` of the current block: its number, then `frameSize()`
    // octets of data (zero octets after the end of the page's data fill its last frame).
    std::vector<uint8_t> fcdFif(int frame) const;

private:
    size_t blockOctets() const { return static_cast<size_t>(frameSize_) * kMaxFrames; }

    std::vector<uint8_t> data_;
    int frameSize_ = kFrameSize;
    int block_ = 0;
    bool last_ = false;
};

class TEcmBlockAssembler {
public:
    TEcmBlockAssembler();
    // Starts a block of frames of at most `frameSize` octets (64, else 256).
    void beginBlock(int frameSize);
    // Takes an FCD frame's FIF (frame number, data); a frame received again replaces the
    // first copy. False for a FIF without data or with more than the frame size.
    bool addFrame(const uint8_t* fif, size_t len);
    // The frames among the block's `frameCount` (from its PPS) not received: the PPR map.
    TFrameMap missing(int frameCount) const;
    bool complete(int frameCount) const { return missing(frameCount).empty(); }
    // The block's data: frames 0..frameCount-1 in order, each as received; a frame still
    // missing (a block given up with EOR) is frame-size zero octets, which the MH and MR
    // decoders read as fill, so that they resume at the next EOL.
    void Data(int frameCount, std::vector<uint8_t>& out) const;

private:
    int frameSize_ = kFrameSize;
    std::vector<uint8_t> data_;     // kMaxFrames slots of frameSize_ octets
    std::vector<uint16_t> length_;  // octets received per frame; 0 = not received
};

}  // namespace telvane::transport::ecm
