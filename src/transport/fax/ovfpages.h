// The fax file (OVF) as the fax sessions use it: reading pages to send and writing the raw
// pages of a received fax. Layout: 64-byte file header ("OVF10" 0x1A, created, sender_id,
// page_count, first_page_offset), then per page a 16-byte header (image_length, flags) and the
// page data (line records of 2-byte length + coded line, or a raw T.4 stream).
// Guarantees: the reader never reads past the file or a page, bounds record lengths to 4096
// and reports damage as -8001; the writer keeps the file valid after every completed page
// (page and file headers rewritten at each page end) and reports short writes as -160.
#pragma once

#include <cstdint>
#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

namespace ovx {

inline constexpr uint16_t kFaxFine = 0x01;
inline constexpr uint16_t kFaxWide = 0x02;
inline constexpr uint16_t kFaxLineRecords = 0x04;
inline constexpr size_t kOvfHeaderSize = 64;
inline constexpr size_t kOvfPageHeaderSize = 16;
inline constexpr size_t kOvfMaxRecord = 4096;

// MS-DOS packed local date and time of `t`; 0 outside 1980..2099.
uint32_t DosDateTime(std::time_t t);

class TOvfPageReader {
public:
    TOvfPageReader() = default;
    ~TOvfPageReader();
    TOvfPageReader(const TOvfPageReader&) = delete;
    TOvfPageReader& operator=(const TOvfPageReader&) = delete;

    // Opens and checks the signature: 0, -2 (empty name/not found), -8001, or an I/O error.
    int Open(const std::string& path);
    void Close();
    bool IsOpen() const { return f_ != nullptr; }
    int PageCount() const { return pageCount_; }
    // Positions at page n (1-based) and reads its header: 0 or -8001.
    int SeekPage(int n);
    uint16_t PageFlags() const { return flags_; }
    uint32_t PageLength() const { return length_; }
    // Reads the next block of the current page into `out`: a line record's coded line (when
    // the page has line records) or up to 4096 raw bytes. Returns false at the end of the page.
    bool NextBlock(std::vector<uint8_t>& out, bool& isLine);
    uint32_t BytesLeft() const { return length_ - consumed_; }

private:
    std::FILE* f_ = nullptr;
    int pageCount_ = 0;
    uint32_t firstOffset_ = kOvfHeaderSize;
    uint16_t flags_ = 0;
    uint32_t length_ = 0;
    uint32_t consumed_ = 0;
    long fileSize_ = 0;
};

class TOvfRawWriter {
public:
    TOvfRawWriter() = default;
    ~TOvfRawWriter();
    TOvfRawWriter(const TOvfRawWriter&) = delete;
    TOvfRawWriter& operator=(const TOvfRawWriter&) = delete;

    // Creates the file with a header (page_count 0): 0 or a negative I/O code.
    int Create(const std::string& path, const std::string& senderId);
    bool IsOpen() const { return f_ != nullptr; }
    const std::string& Path() const { return path_; }
    int BeginPage(uint16_t flags);
    int Append(const uint8_t* data, size_t len);
    // Completes the current page: page header, page count and file header rewritten.
    int EndPage();
    // Drops a page that was begun but not ended (the file is cut back to its start).
    int DropPage();
    bool InPage() const { return inPage_; }
    int Pages() const { return pages_; }
    void SetSenderId(const std::string& id) { senderId_ = id; }
    // Closes the file; an unfinished page is dropped so that the file stays valid.
    int Close();

private:
    int WriteHeader();
    std::FILE* f_ = nullptr;
    std::string path_;
    std::string senderId_;
    int pages_ = 0;
    bool inPage_ = false;
    long pageStart_ = 0;
    uint32_t pageBytes_ = 0;
    uint16_t pageFlags_ = 0;
};

// Merges fax files into `dest`: the first copied whole, the others without their file header,
// page counts summed into the first header. 0, -8001 when a file is not a fax file, or I/O code.
int MergeFaxFiles(const std::vector<std::string>& files, const std::string& dest);

} // namespace ovx
