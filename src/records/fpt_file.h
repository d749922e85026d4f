// FPT layer: the FoxPro memo file (512-byte header, 64-byte blocks, big-endian integers).
// A memo is always written as a new run of blocks at the end, then the header's next-free
// block is advanced; the record that points at it is written afterwards by the table. Old
// memos are never overwritten, so a process killed mid-write leaves every posted memo intact.
// Reads check every pointer and length against the file.
#pragma once

#include "records/file_io.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace telvane::records {

class FptFile {
public:
    static constexpr uint32_t kDefaultBlockSize = 64;

    // Writes a new empty memo file (EXbError when the name is taken).
    static void create(const std::string& path, uint32_t blockSize = kDefaultBlockSize);
    static std::unique_ptr<FptFile> open(const std::string& path, bool readOnly = false);

    const std::string& path() const { return file_.path(); }
    uint32_t blockSize() const { return blockSize_; }
    // Where the next memo goes: the header's next-free block or the end of the file, whichever
    // is further.
    uint32_t nextFree() const { return nextFree_; }
    uint32_t headerNextFree() const { return headerNextFree_; }  // as the header says
    uint64_t size() const { return size_; }
    // Number of blocks the memo at block occupies (header included); 0 when unreadable.
    uint32_t blocksOf(uint32_t block) const;
    uint32_t firstBlock() const { return (512 + blockSize_ - 1) / blockSize_; }

    std::string read(uint32_t block) const;
    uint32_t write(std::string_view data);  // returns the first block of the new memo
    void sync() { file_.sync(); }
    void close() { file_.close(); }

    // Parses a 10-character memo pointer field: 0 when blank; EXbError when not a number.
    static uint32_t parsePointer(std::string_view field, const std::string& fileForErrors);
    static std::string formatPointer(uint32_t block);  // blank for 0

private:
    FptFile() = default;
    io::File file_;
    uint32_t blockSize_ = kDefaultBlockSize;
    uint32_t nextFree_ = 0;
    uint32_t headerNextFree_ = 0;
    uint64_t size_ = 0;
};

}  // namespace telvane::records
