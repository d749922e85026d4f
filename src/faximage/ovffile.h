// The OVF fax file: a 64-byte file header ("OVF10" 0x1A, created, sender ID, page count,
// first page offset) followed by pages, each a 16-byte page header (image length, flags) and
// its coded T.4 data, either as line records (2-byte length + coded line) or as a raw stream.
// OvfWriter writes through a 4096-byte buffer and rewrites headers in place; OvfReader finds
// page n by walking the page headers (each read once; their offsets are kept) and streams a page's coded bytes in 4096-byte pieces,
// pushed to a sink or pulled one block at a time. MergeOvfFiles joins files for one call.
// Guarantees: all integers little-endian; a reader never holds more than one 4096-byte block
// whatever the headers claim; every failure is a negative code (see errors/errors.h). Where
// assertions are on, the writer checks that a page header's image length is the data appended
// to the page, that the page count stays in range and that pages start right after the header.
#pragma once

#include <cstdint>
#include <ctime>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace telvane::faximage {

constexpr std::uint16_t FAX_FINE = 0x0001;
constexpr std::uint16_t FAX_WIDE = 0x0002;
constexpr std::uint16_t FAX_LINE_RECORDS = 0x0004;

constexpr int kOvfFileHeaderSize = 64;
constexpr int kOvfPageHeaderSize = 16;
constexpr int kOvfMaxRecord = 4096;
constexpr int kOvfSenderIdMax = 20;

struct OvfFileHeader {
    std::uint32_t created = 0;
    std::string senderId;
    std::uint16_t pageCount = 0;
    std::uint32_t firstPageOffset = kOvfFileHeaderSize;
};

struct OvfPageHeader {
    std::uint32_t imageLength = 0;
    std::uint16_t imageFlags = 0;
    bool fine() const { return imageFlags & FAX_FINE; }
    bool wide() const { return imageFlags & FAX_WIDE; }
    bool lineRecords() const { return imageFlags & FAX_LINE_RECORDS; }
    int lineWidth() const { return wide() ? 2048 : 1728; }
};

// `text` with every control byte (below 0x20, 0x7F and the C1 range 0x80..0x9F, which includes
// the terminal's CSI) and the backslash written as \xNN, fit to print on a terminal.
std::string escapeControlBytes(std::string_view text);

// MS-DOS packed date and time of a local time; 0 when the year is outside 1980..2099.
std::uint32_t packDosDateTime(const std::tm& t);
// Byte images of the headers.
void encodeFileHeader(const OvfFileHeader& h, std::uint8_t out[kOvfFileHeaderSize]);
// Returns false when the signature (all six bytes) does not match.
bool decodeFileHeader(const std::uint8_t in[kOvfFileHeaderSize], OvfFileHeader& h);
void encodePageHeader(const OvfPageHeader& h, std::uint8_t out[kOvfPageHeaderSize]);
OvfPageHeader decodePageHeader(const std::uint8_t in[kOvfPageHeaderSize]);

class OvfWriter {
public:
    OvfWriter() = default;
    OvfWriter(const OvfWriter&) = delete;
    OvfWriter& operator=(const OvfWriter&) = delete;
    ~OvfWriter();

    // The local time used for the created field; tests replace it.
    std::function<std::tm()> clock;

    // Creates (replacing) the file and writes the file header with page count 0. Files are
    // made readable and writable by their owner only.
    int create(const std::string& path, const std::string& senderId = std::string());
    // Creates a new file that must not exist yet (never follows a symbolic link): an error when the
    // name is taken (-8006), -3 when it is a link. Used for received faxes, which never overwrite.
    int createExclusive(const std::string& path, const std::string& senderId = std::string());
    // Writes into a hidden temporary file beside `path` that close() renames to `path`, so a
    // failed or killed conversion never leaves a partial file under the final name; the
    // temporary is one of openPendingTemp (pendingfile.h), locked, removed on signals and swept.
    int createReplacing(const std::string& path, const std::string& senderId = std::string());
    // Writes a page header with image length 0 at the current end.
    int beginPage(std::uint16_t flags);
    // Appends page data bytes.
    int append(const void* data, std::size_t size);
    // Appends one line record (2-byte length + bytes); size at most 4096.
    int appendRecord(const std::uint8_t* data, std::size_t size);
    // Rewrites the page header with its final length and counts the page; with
    // rewriteFileHeader the file header is refreshed too (receive sessions do this per page).
    int endPage(bool rewriteFileHeader = false);
    // Rewrites the file header (page count, created = now, sender ID) and closes the file.
    int close();
    // Drops the page begun and not ended: the file is cut back to where its header started.
    int dropPage();
    // Closes and deletes a partly written file.
    void abandon();

    void setSenderId(const std::string& id) { header_.senderId = id; }
    std::uint16_t pageCount() const { return header_.pageCount; }
    bool isOpen() const { return fd_ >= 0; }
    bool inPage() const { return inPage_; }
    const std::string& path() const { return path_; }

private:
    int flush();
    int writeAll(const void* data, std::size_t size);
    int writeAt(std::uint64_t offset, const void* data, std::size_t size);
    int rewriteFileHeader();
    int start(int fd, const std::string& path, const std::string& senderId);

    int fd_ = -1;
    std::string path_;       // the file being written
    std::string finalPath_;  // with createReplacing: the name it gets at close
    int signalSlot_ = -1;    // with createReplacing: its removal on a terminating signal
    OvfFileHeader header_;
    std::uint8_t buffer_[4096];
    std::size_t fill_ = 0;
    std::uint64_t filePos_ = 0;  // bytes written to the file so far
    bool inPage_ = false;
    std::uint64_t pageHeaderAt_ = 0;
    OvfPageHeader page_;
};

class OvfReader {
public:
    OvfReader() = default;
    OvfReader(const OvfReader&) = delete;
    OvfReader& operator=(const OvfReader&) = delete;
    ~OvfReader();

    // Opens the file and checks its header: -2 for an empty name, I/O errors, -8001 when the
    // file is too short or the signature differs.
    int open(const std::string& path);
    void close();
    const OvfFileHeader& header() const { return header_; }
    int pageCount() const { return header_.pageCount; }

    // Finds page n (1-based): -8001 when n is outside 1..page count or its header cannot be read.
    int seekPage(int n, OvfPageHeader& page);
    // Streams the coded bytes of the page last found: line records are unpacked (lengths
    // clamped to 4096), raw data is read in 4096-byte blocks, until image length is used up or
    // `sink` returns false. A read that returns no bytes before that is -8001.
    int readPageData(const std::function<bool(const std::uint8_t*, std::size_t)>& sink);
    // The same one block at a time: 1 with the next block in data/size (valid until the next
    // call; isRecord tells a line record from a raw piece), 0 at the end of the page, or a
    // negative code. Empty records are skipped; a short read delivers what it got, then -8001.
    int nextBlock(const std::uint8_t*& data, std::size_t& size, bool& isRecord);
    // Offset of the page header last found.
    std::uint64_t pageOffset() const { return pageAt_; }

private:
    int readAt(std::uint64_t offset, void* data, std::size_t size, std::size_t& got);

    int fd_ = -1;
    OvfFileHeader header_;
    std::uint64_t pageAt_ = 0;
    OvfPageHeader page_;
    std::uint64_t cursor_ = 0;              // next byte of the page to read
    std::uint64_t left_ = 0;                // image bytes not yet read
    bool damaged_ = false;                  // a short read ended the page early
    std::vector<std::uint64_t> pageIndex_;  // offsets of pages 1..k found so far
    std::uint8_t block_[kOvfMaxRecord];
};

// Joins fax files into `dest` (replaced): the first is copied whole, each further one without
// its file header; the page counts are summed into the first header. 0 or a negative code:
// -8001 when a file is not a fax file, -8053 when the sum exceeds 65535 pages, I/O codes. On
// failure `dest` is removed.
int mergeOvfFiles(const std::vector<std::string>& files, const std::string& dest);

}  // namespace telvane::faximage
