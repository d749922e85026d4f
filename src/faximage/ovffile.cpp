// OVF fax file reading and writing (see ovffile.h). POSIX file I/O; errno values become the
// engine's negative I/O codes.
#include "faximage/ovffile.h"

#include "errors/errors.h"
#include "faximage/pendingfile.h"
#include "faximage/signalcleanup.h"

#include <cassert>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace telvane::faximage {

namespace {

const std::uint8_t kSignature[6] = {'O', 'V', 'F', '1', '0', 0x1A};

void put16(std::uint8_t* p, std::uint16_t v) {
    p[0] = std::uint8_t(v);
    p[1] = std::uint8_t(v >> 8);
}
void put32(std::uint8_t* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = std::uint8_t(v >> (8 * i));
}
std::uint16_t get16(const std::uint8_t* p) { return std::uint16_t(p[0] | (p[1] << 8)); }
std::uint32_t get32(const std::uint8_t* p) { return p[0] | (p[1] << 8) | (p[2] << 16) | (std::uint32_t(p[3]) << 24); }

std::tm localNow() {
    std::time_t t = std::time(nullptr);
    std::tm tm{};
    localtime_r(&t, &tm);
    return tm;
}

}  // namespace

std::string escapeControlBytes(std::string_view text) {
    std::string out;
    for (unsigned char c : text) {
        if (c < 0x20 || (c >= 0x7F && c <= 0x9F) || c == '\\') {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\x%02X", c);
            out += buf;
        } else {
            out += char(c);
        }
    }
    return out;
}

std::uint32_t packDosDateTime(const std::tm& t) {
    int year = t.tm_year + 1900;
    if (year < 1980 || year > 2099) return 0;
    std::uint32_t time = std::uint32_t((t.tm_sec / 2) | (t.tm_min << 5) | (t.tm_hour << 11));
    std::uint32_t date = std::uint32_t(t.tm_mday | ((t.tm_mon + 1) << 5) | ((year - 1980) << 9));
    return (date << 16) | (time & 0xFFFF);
}

void encodeFileHeader(const OvfFileHeader& h, std::uint8_t out[kOvfFileHeaderSize]) {
    std::memset(out, 0, kOvfFileHeaderSize);
    std::memcpy(out, kSignature, 6);
    put32(out + 6, h.created);
    std::size_t n = h.senderId.size() < kOvfSenderIdMax ? h.senderId.size() : kOvfSenderIdMax;
    out[10] = std::uint8_t(n);
    std::memset(out + 11, ' ', kOvfSenderIdMax);
    std::memcpy(out + 11, h.senderId.data(), n);
    put16(out + 32, h.pageCount);
    put32(out + 34, h.firstPageOffset);
}

bool decodeFileHeader(const std::uint8_t in[kOvfFileHeaderSize], OvfFileHeader& h) {
    if (std::memcmp(in, kSignature, 6) != 0) return false;
    h.created = get32(in + 6);
    std::size_t n = in[10] < kOvfSenderIdMax ? in[10] : kOvfSenderIdMax;
    h.senderId.assign(reinterpret_cast<const char*>(in + 11), n);
    h.pageCount = get16(in + 32);
    h.firstPageOffset = get32(in + 34);
    return true;
}

void encodePageHeader(const OvfPageHeader& h, std::uint8_t out[kOvfPageHeaderSize]) {
    std::memset(out, 0, kOvfPageHeaderSize);
    put32(out, h.imageLength);
    put16(out + 4, h.imageFlags);
}

OvfPageHeader decodePageHeader(const std::uint8_t in[kOvfPageHeaderSize]) {
    OvfPageHeader h;
    h.imageLength = get32(in);
    h.imageFlags = get16(in + 4);
    return h;
}

// ---- writer ----

OvfWriter::~OvfWriter() {
    if (fd_ >= 0 && !finalPath_.empty())
        abandon();
    else if (fd_ >= 0)
        ::close(fd_);
}

int OvfWriter::writeAll(const void* data, std::size_t size) {
    const std::uint8_t* p = static_cast<const std::uint8_t*>(data);
    while (size > 0) {
        ssize_t n = ::write(fd_, p, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            return errors::ovxIoError(errno, true);
        }
        if (n == 0) return errors::ecDeviceWrite;
        p += n;
        size -= std::size_t(n);
        filePos_ += std::uint64_t(n);
    }
    return errors::ecOK;
}

int OvfWriter::writeAt(std::uint64_t offset, const void* data, std::size_t size) {
    ssize_t n;
    do {
        n = ::pwrite(fd_, data, size, off_t(offset));
    } while (n < 0 && errno == EINTR);
    if (n < 0) return errors::ovxIoError(errno, true);
    if (std::size_t(n) != size) return errors::ecDeviceWrite;
    return errors::ecOK;
}

int OvfWriter::flush() {
    if (fill_ == 0) return errors::ecOK;
    int rc = writeAll(buffer_, fill_);
    fill_ = 0;
    return rc;
}

int OvfWriter::create(const std::string& path, const std::string& senderId) {
    if (path.empty()) return errors::ecFileNotFound;
    if (fd_ >= 0) abandon();
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) return errno == ENOENT ? errors::ecPathNotFound : errors::ovxIoError(errno, true);
    return start(fd, path, senderId);
}

int OvfWriter::createExclusive(const std::string& path, const std::string& senderId) {
    if (path.empty()) return errors::ecFileNotFound;
    if (fd_ >= 0) abandon();
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0)
        return errno == ENOENT   ? errors::ecPathNotFound
               : errno == EEXIST ? errors::ecFileExists
                                 : errors::ovxIoError(errno, true);
    return start(fd, path, senderId);
}

int OvfWriter::createReplacing(const std::string& path, const std::string& senderId) {
    if (path.empty()) return errors::ecFileNotFound;
    if (fd_ >= 0) abandon();
    std::string tmp;
    int slot = -1;
    const int fd = openPendingTemp(path, tmp, slot);
    if (fd < 0) return errno == ENOENT ? errors::ecPathNotFound : errors::ovxIoError(errno, true);
    int rc = start(fd, tmp, senderId);
    if (rc == errors::ecOK) finalPath_ = path;
    signalSlot_ = slot;
    return rc;
}

int OvfWriter::start(int fd, const std::string& path, const std::string& senderId) {
    fd_ = fd;
    path_ = path;
    finalPath_.clear();
    header_ = OvfFileHeader{};
    header_.senderId = senderId;
    header_.created = packDosDateTime(clock ? clock() : localNow());
    fill_ = 0;
    filePos_ = 0;
    inPage_ = false;
    std::uint8_t h[kOvfFileHeaderSize];
    encodeFileHeader(header_, h);
    return append(h, sizeof h);
}

int OvfWriter::append(const void* data, std::size_t size) {
    // Between calls the buffer is never full: a full one is written out at once.
    assert(fill_ < sizeof buffer_);
    if (fd_ < 0) return errors::ecBadArgument;
    if (size == 0) return errors::ecOK;
    const std::uint8_t* p = static_cast<const std::uint8_t*>(data);
    if (inPage_) {
        if (page_.imageLength + std::uint64_t(size) > 0xFFFFFFFFu) return errors::ecDiskFull;
        page_.imageLength += std::uint32_t(size);
    }
    if (fill_ + size <= sizeof buffer_ - 1) {
        std::memcpy(buffer_ + fill_, p, size);
        fill_ += size;
        return errors::ecOK;
    }
    std::size_t top = sizeof buffer_ - fill_;
    std::memcpy(buffer_ + fill_, p, top);
    fill_ = sizeof buffer_;
    p += top;
    size -= top;
    int rc = flush();
    if (rc != errors::ecOK) return rc;
    std::size_t whole = size - size % sizeof buffer_;
    if (whole > 0) {
        rc = writeAll(p, whole);
        if (rc != errors::ecOK) return rc;
        p += whole;
        size -= whole;
    }
    std::memcpy(buffer_, p, size);
    fill_ = size;
    return errors::ecOK;
}

int OvfWriter::appendRecord(const std::uint8_t* data, std::size_t size) {
    if (size > kOvfMaxRecord) return errors::ecBadArgument;
    std::uint8_t len[2];
    put16(len, std::uint16_t(size));
    int rc = append(len, 2);
    return rc != errors::ecOK ? rc : append(data, size);
}

int OvfWriter::beginPage(std::uint16_t flags) {
    if (fd_ < 0) return errors::ecBadArgument;
    if (header_.pageCount == 0xFFFF) return errors::ecTooManyPages;
    inPage_ = false;
    pageHeaderAt_ = filePos_ + fill_;
    page_ = OvfPageHeader{0, flags};
    std::uint8_t h[kOvfPageHeaderSize];
    encodePageHeader(page_, h);
    int rc = append(h, sizeof h);
    inPage_ = rc == errors::ecOK;
    return rc;
}

int OvfWriter::endPage(bool rewriteHeader) {
    if (fd_ < 0 || !inPage_) return errors::ecBadArgument;
    // The page header's image length is what was appended since it (a page whose data failed to
    // be written is dropped, never ended), and beginPage refused a page beyond the count's range.
    assert(pageHeaderAt_ + kOvfPageHeaderSize + page_.imageLength == filePos_ + fill_);
    assert(header_.pageCount < 0xFFFF);
    inPage_ = false;
    ++header_.pageCount;
    int rc = flush();
    if (rc != errors::ecOK) return rc;
    std::uint8_t h[kOvfPageHeaderSize];
    encodePageHeader(page_, h);
    rc = writeAt(pageHeaderAt_, h, sizeof h);
    if (rc == errors::ecOK && rewriteHeader) rc = rewriteFileHeader();
    return rc;
}

int OvfWriter::rewriteFileHeader() {
    // The writer's pages start right after the header; only the count, date and ID change.
    assert(header_.firstPageOffset == kOvfFileHeaderSize);
    header_.created = packDosDateTime(clock ? clock() : localNow());
    std::uint8_t h[kOvfFileHeaderSize];
    encodeFileHeader(header_, h);
    return writeAt(0, h, sizeof h);
}

int OvfWriter::close() {
    if (fd_ < 0) return errors::ecBadArgument;
    int rc = flush();
    if (rc == errors::ecOK) rc = rewriteFileHeader();
    if (rc == errors::ecOK && ::fsync(fd_) != 0 && errno != EINVAL) rc = errors::ovxIoError(errno, true);
    if (::close(fd_) != 0 && rc == errors::ecOK) rc = errors::ovxIoError(errno, true);
    fd_ = -1;
    if (!finalPath_.empty()) {
        if (rc == errors::ecOK && ::rename(path_.c_str(), finalPath_.c_str()) != 0)
            rc = errors::ovxIoError(errno, true);
        if (rc != errors::ecOK) ::unlink(path_.c_str());
        finalPath_.clear();
    }
    forgetOnSignal(signalSlot_);
    signalSlot_ = -1;
    return rc;
}

int OvfWriter::dropPage() {
    if (fd_ < 0 || !inPage_) return errors::ecOK;
    inPage_ = false;
    if (pageHeaderAt_ >= filePos_) {
        // The page header is still in the buffer (it was at most a buffer's fill past filePos_).
        assert(pageHeaderAt_ - filePos_ < sizeof buffer_);
        fill_ = std::size_t(pageHeaderAt_ - filePos_);
        return errors::ecOK;
    }
    fill_ = 0;
    if (::ftruncate(fd_, off_t(pageHeaderAt_)) != 0 || ::lseek(fd_, off_t(pageHeaderAt_), SEEK_SET) < 0)
        return errors::ovxIoError(errno, true);
    filePos_ = pageHeaderAt_;
    return errors::ecOK;
}

void OvfWriter::abandon() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
        ::unlink(path_.c_str());
    }
    forgetOnSignal(signalSlot_);
    signalSlot_ = -1;
    finalPath_.clear();
    fill_ = 0;
    inPage_ = false;
}

// ---- reader ----

OvfReader::~OvfReader() { close(); }

void OvfReader::close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

int OvfReader::readAt(std::uint64_t offset, void* data, std::size_t size, std::size_t& got) {
    got = 0;
    std::uint8_t* p = static_cast<std::uint8_t*>(data);
    while (got < size) {
        ssize_t n = ::pread(fd_, p + got, size - got, off_t(offset + got));
        if (n < 0) {
            if (errno == EINTR) continue;
            return errors::ovxIoError(errno, false);
        }
        if (n == 0) break;
        got += std::size_t(n);
    }
    return errors::ecOK;
}

int OvfReader::open(const std::string& path) {
    close();
    pageIndex_.clear();
    if (path.empty()) return errors::ecFileNotFound;
    fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd_ < 0) return errors::ovxIoError(errno, false);
    std::uint8_t h[kOvfFileHeaderSize];
    std::size_t got = 0;
    int rc = readAt(0, h, sizeof h, got);
    if (rc == errors::ecOK && (got != sizeof h || !decodeFileHeader(h, header_))) rc = errors::ecFaxBadFormat;
    if (rc != errors::ecOK) close();
    return rc;
}

int OvfReader::seekPage(int n, OvfPageHeader& page) {
    if (fd_ < 0 || n < 1 || n > header_.pageCount) return errors::ecFaxBadFormat;
    // Page offsets found so far are kept: each page header is read once however the pages are
    // visited, so reading every page of a file costs time linear in its length.
    if (pageIndex_.empty()) pageIndex_.push_back(header_.firstPageOffset);
    std::uint8_t h[kOvfPageHeaderSize];
    while (pageIndex_.size() < std::size_t(n)) {
        const std::uint64_t at = pageIndex_.back();
        std::size_t got = 0;
        int rc = readAt(at, h, sizeof h, got);
        if (rc != errors::ecOK) return rc;
        if (got != sizeof h) return errors::ecFaxBadFormat;
        pageIndex_.push_back(at + kOvfPageHeaderSize + std::uint64_t(decodePageHeader(h).imageLength));
    }
    const std::uint64_t at = pageIndex_[std::size_t(n) - 1];
    std::size_t got = 0;
    int rc = readAt(at, h, sizeof h, got);
    if (rc != errors::ecOK) return rc;
    if (got != sizeof h) return errors::ecFaxBadFormat;
    page = decodePageHeader(h);
    pageAt_ = at;
    page_ = page;
    cursor_ = at + kOvfPageHeaderSize;
    left_ = page.imageLength;
    damaged_ = false;
    return errors::ecOK;
}

int OvfReader::readPageData(const std::function<bool(const std::uint8_t*, std::size_t)>& sink) {
    const std::uint8_t* data = nullptr;
    std::size_t size = 0;
    bool isRecord = false;
    cursor_ = pageAt_ + kOvfPageHeaderSize;
    left_ = page_.imageLength;
    damaged_ = false;
    for (;;) {
        int rc = nextBlock(data, size, isRecord);
        if (rc <= 0) return rc;
        if (!sink(data, size)) return errors::ecOK;
    }
}

int OvfReader::nextBlock(const std::uint8_t*& data, std::size_t& size, bool& isRecord) {
    data = block_;
    size = 0;
    isRecord = page_.lineRecords();
    if (fd_ < 0 || damaged_) return errors::ecFaxBadFormat;
    std::size_t got = 0;
    int rc;
    while (left_ > 0) {
        std::size_t want;
        if (page_.lineRecords()) {
            std::uint8_t len[2];
            rc = readAt(cursor_, len, 2, got);
            if (rc != errors::ecOK) return rc;
            if (got < 2) return errors::ecFaxBadFormat;
            cursor_ += 2;
            left_ = left_ > 2 ? left_ - 2 : 0;
            want = get16(len);
            if (want > kOvfMaxRecord) want = kOvfMaxRecord;
            if (want == 0) continue;
        } else {
            want = left_ < kOvfMaxRecord ? std::size_t(left_) : kOvfMaxRecord;
        }
        rc = readAt(cursor_, block_, want, got);
        if (rc != errors::ecOK) return rc;
        if (got == 0) return errors::ecFaxBadFormat;
        cursor_ += got;
        left_ = left_ > got ? left_ - got : 0;
        damaged_ = got < want;
        size = got;
        return 1;
    }
    return 0;
}

int mergeOvfFiles(const std::vector<std::string>& files, const std::string& dest) {
    int out = ::open(dest.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (out < 0) return errno == ENOENT ? errors::ecPathNotFound : errors::ovxIoError(errno, true);
    int rc = errors::ecOK;
    std::uint32_t pages = 0;
    std::uint64_t outPos = 0;
    std::vector<std::uint8_t> buf(65536);
    for (std::size_t i = 0; i < files.size() && rc == errors::ecOK; ++i) {
        int in = ::open(files[i].c_str(), O_RDONLY | O_CLOEXEC);
        if (in < 0) {
            rc = errors::ovxIoError(errno, false);
            break;
        }
        std::uint8_t h[kOvfFileHeaderSize];
        OvfFileHeader header;
        ssize_t n = ::pread(in, h, sizeof h, 0);
        if (n != ssize_t(sizeof h) || !decodeFileHeader(h, header)) {
            rc = errors::ecFaxBadFormat;
        } else {
            pages += header.pageCount;
            std::uint64_t at = i == 0 ? 0 : header.firstPageOffset;
            while (rc == errors::ecOK && (n = ::pread(in, buf.data(), buf.size(), off_t(at))) > 0) {
                at += std::uint64_t(n);
                if (::pwrite(out, buf.data(), std::size_t(n), off_t(outPos)) != n) rc = errors::ovxIoError(errno, true);
                outPos += std::uint64_t(n);
            }
            if (n < 0 && rc == errors::ecOK) rc = errors::ovxIoError(errno, false);
        }
        ::close(in);
    }
    if (rc == errors::ecOK && files.empty()) rc = errors::ecFileNotFound;
    if (rc == errors::ecOK && pages > 0xFFFF) rc = errors::ecTooManyPages;
    if (rc == errors::ecOK) {
        std::uint8_t h[kOvfFileHeaderSize];
        // The first header is rewritten with the sum; its other fields stay as they were read.
        if (::pread(out, h, sizeof h, 0) != ssize_t(sizeof h))
            rc = errors::ecFaxBadFormat;
        else {
            put16(h + 32, std::uint16_t(pages));
            if (::pwrite(out, h, sizeof h, 0) != ssize_t(sizeof h)) rc = errors::ovxIoError(errno, true);
        }
    }
    if (::close(out) != 0 && rc == errors::ecOK) rc = errors::ovxIoError(errno, true);
    if (rc != errors::ecOK) ::unlink(dest.c_str());
    return rc;
}

}  // namespace telvane::faximage
