// FoxPro FPT memo blocks: header, append-only memo writes and bounds-checked reads.
#include "records/fpt_file.h"

#include "records/xb_error.h"

#include <algorithm>
#include <cstring>

namespace telvane::records {

void FptFile::create(const std::string& path, uint32_t blockSize) {
    unsigned char h[512] = {};
    const uint32_t first = (512 + blockSize - 1) / blockSize;
    io::putBe32(h, first);
    io::putBe16(h + 6, blockSize);
    io::File f;
    f.create(path);
    f.writeAt(0, h, sizeof h);
    f.sync();
}

std::unique_ptr<FptFile> FptFile::open(const std::string& path, bool readOnly) {
    std::unique_ptr<FptFile> m(new FptFile);
    m->file_.open(path, false, readOnly);
    m->size_ = m->file_.size();
    if (m->size_ < 512) throw EXbError(path + ": not a memo file (only " + std::to_string(m->size_) + " bytes)");
    unsigned char h[8];
    m->file_.readAt(0, h, sizeof h);
    m->nextFree_ = io::be32(h);
    m->blockSize_ = io::be16(h + 6);
    if (m->blockSize_ == 0) throw EXbError(path + ": damaged memo header (block size 0)");
    if (m->nextFree_ < m->firstBlock())
        throw EXbError(path + ": damaged memo header (next free block " + std::to_string(m->nextFree_) + ")");
    // A next-free block beyond the end is tolerated: new memos are written there. One short of
    // the end (a header not brought up to date) is not trusted: new memos go past every byte
    // already in the file, so they can never overwrite an existing memo.
    m->headerNextFree_ = m->nextFree_;
    const uint64_t fileBlocks = (m->size_ + m->blockSize_ - 1) / m->blockSize_;
    if (fileBlocks > 0xFFFFFFFFull) throw EXbError(path + ": memo file too large");
    m->nextFree_ = std::max(m->nextFree_, uint32_t(fileBlocks));
    return m;
}

std::string FptFile::read(uint32_t block) const {
    const std::string& p = path();
    if (block < firstBlock())
        throw EXbError(p + ": memo pointer " + std::to_string(block) + " points into the file header");
    const uint64_t offset = uint64_t(block) * blockSize_;
    if (offset + 8 > size_)
        throw EXbError(p + ": memo block " + std::to_string(block) + " lies past the end of the file");
    unsigned char h[8];
    file_.readAt(offset, h, sizeof h);
    const uint32_t length = io::be32(h + 4);
    if (uint64_t(length) > size_ - offset - 8)
        throw EXbError(p + ": memo at block " + std::to_string(block) + " claims " + std::to_string(length) +
                       " bytes, more than the file holds");
    std::string data(length, '\0');
    if (length) file_.readAt(offset + 8, data.data(), length);
    return data;
}

uint32_t FptFile::blocksOf(uint32_t block) const {
    if (block < firstBlock()) return 0;
    const uint64_t offset = uint64_t(block) * blockSize_;
    if (offset + 8 > size_) return 0;
    unsigned char h[8];
    file_.readAt(offset, h, sizeof h);
    const uint64_t length = io::be32(h + 4);
    if (length > size_ - offset - 8) return 0;
    return uint32_t((8 + length + blockSize_ - 1) / blockSize_);
}

uint32_t FptFile::write(std::string_view data) {
    if (data.size() > 0x7FFFFFF0u) throw EXbError(path() + ": memo too large");
    const uint64_t total = 8 + data.size();
    const uint64_t blocks = (total + blockSize_ - 1) / blockSize_;
    if (uint64_t(nextFree_) + blocks > 0xFFFFFFFFull / blockSize_) throw EXbError(path() + ": memo file is full");
    std::string buf(size_t(blocks * blockSize_), '\0');
    auto* p = reinterpret_cast<unsigned char*>(buf.data());
    io::putBe32(p, 1);
    io::putBe32(p + 4, uint32_t(data.size()));
    std::memcpy(p + 8, data.data(), data.size());
    const uint32_t block = nextFree_;
    const uint64_t offset = uint64_t(block) * blockSize_;
    file_.writeAt(offset, buf.data(), buf.size());
    // The header moves on only once the memo is complete.
    unsigned char h[4];
    io::putBe32(h, uint32_t(block + blocks));
    file_.writeAt(0, h, sizeof h);
    nextFree_ = uint32_t(block + blocks);
    headerNextFree_ = nextFree_;
    size_ = std::max(size_, offset + buf.size());
    return block;
}

uint32_t FptFile::parsePointer(std::string_view field, const std::string& fileForErrors) {
    uint64_t v = 0;
    bool digits = false;
    for (size_t i = 0; i < field.size(); ++i) {
        const char c = field[i];
        if (c == ' ' || c == '\0') {
            if (digits) {
                for (size_t k = i; k < field.size(); ++k) {
                    if (field[k] != ' ' && field[k] != '\0')
                        throw EXbError(fileForErrors + ": invalid memo pointer \"" + std::string(field) + "\"");
                }
                break;
            }
            continue;
        }
        if (c < '0' || c > '9') throw EXbError(fileForErrors + ": invalid memo pointer \"" + std::string(field) + "\"");
        digits = true;
        v = v * 10 + uint64_t(c - '0');
        if (v > 0xFFFFFFFFull) throw EXbError(fileForErrors + ": invalid memo pointer \"" + std::string(field) + "\"");
    }
    return uint32_t(v);
}

std::string FptFile::formatPointer(uint32_t block) {
    if (block == 0) return std::string(10, ' ');
    std::string s = std::to_string(block);
    return std::string(10 - s.size(), ' ') + s;
}

}  // namespace telvane::records
