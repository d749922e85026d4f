// Fax file page reader, raw page writer and file merging (see ovfpages.h).
#include "ovfpages.h"

#include <cerrno>
#include <cstring>
#include <ctime>
#include <unistd.h>

namespace ovx {

namespace {

constexpr uint8_t kSignature[6] = {'O', 'V', 'F', '1', '0', 0x1A};
constexpr int kNotFax = -8001;
constexpr int kWriteError = -160;

int IoError(int err)
{
    switch (err) {
    case ENOENT: return -2;
    case ENOTDIR: return -3;
    case EACCES: case EPERM: case EROFS: return -5;
    case ENOMEM: return -8;
    case ENOSPC: return -101;
    default: return -160;
    }
}

uint16_t Get16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t Get32(const uint8_t* p)
{
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
void Put16(uint8_t* p, uint16_t v) { p[0] = v & 0xFF; p[1] = v >> 8; }
void Put32(uint8_t* p, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<uint8_t>(v >> (8 * i));
}

bool WriteAt(std::FILE* f, long pos, const uint8_t* data, size_t len)
{
    return std::fseek(f, pos, SEEK_SET) == 0 && std::fwrite(data, 1, len, f) == len;
}

} // namespace

uint32_t DosDateTime(std::time_t t)
{
    std::tm tm{};
    localtime_r(&t, &tm);
    const int year = tm.tm_year + 1900;
    if (year < 1980 || year > 2099)
        return 0;
    const uint32_t time = static_cast<uint32_t>((tm.tm_hour << 11) | (tm.tm_min << 5) | (tm.tm_sec / 2));
    const uint32_t date = static_cast<uint32_t>(((year - 1980) << 9) | ((tm.tm_mon + 1) << 5) | tm.tm_mday);
    return (date << 16) | time;
}

TOvfPageReader::~TOvfPageReader() { Close(); }

void TOvfPageReader::Close()
{
    if (f_)
        std::fclose(f_);
    f_ = nullptr;
}

int TOvfPageReader::Open(const std::string& path)
{
    Close();
    if (path.empty())
        return -2;
    f_ = std::fopen(path.c_str(), "rb");
    if (!f_)
        return IoError(errno);
    uint8_t h[kOvfHeaderSize];
    if (std::fread(h, 1, sizeof h, f_) != sizeof h || std::memcmp(h, kSignature, 6) != 0) {
        Close();
        return kNotFax;
    }
    pageCount_ = Get16(h + 32);
    firstOffset_ = Get32(h + 34);
    std::fseek(f_, 0, SEEK_END);
    fileSize_ = std::ftell(f_);
    length_ = consumed_ = 0;
    return 0;
}

int TOvfPageReader::SeekPage(int n)
{
    if (!f_ || n < 1 || n > pageCount_)
        return kNotFax;
    long pos = firstOffset_;
    for (int i = 1; i <= n; ++i) {
        uint8_t ph[kOvfPageHeaderSize];
        if (pos < 0 || pos + static_cast<long>(kOvfPageHeaderSize) > fileSize_ ||
            std::fseek(f_, pos, SEEK_SET) != 0 || std::fread(ph, 1, sizeof ph, f_) != sizeof ph)
            return kNotFax;
        length_ = Get32(ph);
        flags_ = Get16(ph + 4);
        pos += static_cast<long>(kOvfPageHeaderSize);
        if (static_cast<long long>(pos) + length_ > fileSize_)
            return kNotFax;
        if (i < n)
            pos += static_cast<long>(length_);
    }
    consumed_ = 0;
    return std::fseek(f_, pos, SEEK_SET) == 0 ? 0 : kNotFax;
}

bool TOvfPageReader::NextBlock(std::vector<uint8_t>& out, bool& isLine)
{
    out.clear();
    isLine = false;
    if (!f_ || consumed_ >= length_)
        return false;
    size_t want;
    if (flags_ & kFaxLineRecords) {
        if (length_ - consumed_ < 2)
            return false;
        uint8_t lb[2];
        if (std::fread(lb, 1, 2, f_) != 2)
            return false;
        consumed_ += 2;
        size_t len = Get16(lb);
        want = len > kOvfMaxRecord ? kOvfMaxRecord : len;
        isLine = true;
    } else {
        want = kOvfMaxRecord;
    }
    if (want > length_ - consumed_)
        want = length_ - consumed_;
    out.resize(want);
    const size_t got = std::fread(out.data(), 1, want, f_);
    out.resize(got);
    consumed_ += static_cast<uint32_t>(got);
    if (got < want)
        consumed_ = length_;
    return true;
}

TOvfRawWriter::~TOvfRawWriter() { Close(); }

int TOvfRawWriter::WriteHeader()
{
    uint8_t h[kOvfHeaderSize] = {};
    std::memcpy(h, kSignature, 6);
    Put32(h + 6, DosDateTime(std::time(nullptr)));
    const size_t n = senderId_.size() > 20 ? 20 : senderId_.size();
    h[10] = static_cast<uint8_t>(n);
    std::memset(h + 11, ' ', 20);
    std::memcpy(h + 11, senderId_.data(), n);
    Put16(h + 32, static_cast<uint16_t>(pages_));
    Put32(h + 34, kOvfHeaderSize);
    const long end = std::ftell(f_);
    if (!WriteAt(f_, 0, h, sizeof h))
        return kWriteError;
    if (end > 0 && std::fseek(f_, end, SEEK_SET) != 0)
        return kWriteError;
    return 0;
}

int TOvfRawWriter::Create(const std::string& path, const std::string& senderId)
{
    Close();
    f_ = std::fopen(path.c_str(), "w+b");
    if (!f_)
        return IoError(errno);
    path_ = path;
    senderId_ = senderId;
    pages_ = 0;
    inPage_ = false;
    return WriteHeader();
}

int TOvfRawWriter::BeginPage(uint16_t flags)
{
    if (!f_)
        return kWriteError;
    if (inPage_)
        DropPage();
    std::fseek(f_, 0, SEEK_END);
    pageStart_ = std::ftell(f_);
    pageFlags_ = flags & (kFaxFine | kFaxWide);
    pageBytes_ = 0;
    uint8_t ph[kOvfPageHeaderSize] = {};
    Put16(ph + 4, pageFlags_);
    if (std::fwrite(ph, 1, sizeof ph, f_) != sizeof ph)
        return kWriteError;
    inPage_ = true;
    return 0;
}

int TOvfRawWriter::Append(const uint8_t* data, size_t len)
{
    if (!f_ || !inPage_)
        return kWriteError;
    if (std::fwrite(data, 1, len, f_) != len)
        return kWriteError;
    pageBytes_ += static_cast<uint32_t>(len);
    return 0;
}

int TOvfRawWriter::EndPage()
{
    if (!f_ || !inPage_)
        return kWriteError;
    uint8_t ph[kOvfPageHeaderSize] = {};
    Put32(ph, pageBytes_);
    Put16(ph + 4, pageFlags_);
    const long end = std::ftell(f_);
    if (!WriteAt(f_, pageStart_, ph, sizeof ph) || std::fseek(f_, end, SEEK_SET) != 0)
        return kWriteError;
    inPage_ = false;
    ++pages_;
    const int rc = WriteHeader();
    if (rc == 0 && std::fflush(f_) != 0)
        return kWriteError;
    return rc;
}

int TOvfRawWriter::DropPage()
{
    if (!f_ || !inPage_)
        return 0;
    inPage_ = false;
    std::fflush(f_);
    if (ftruncate(fileno(f_), pageStart_) != 0)
        return kWriteError;
    return std::fseek(f_, pageStart_, SEEK_SET) == 0 ? 0 : kWriteError;
}

int TOvfRawWriter::Close()
{
    if (!f_)
        return 0;
    int rc = DropPage();
    if (std::fclose(f_) != 0 && rc == 0)
        rc = kWriteError;
    f_ = nullptr;
    return rc;
}

int MergeFaxFiles(const std::vector<std::string>& files, const std::string& dest)
{
    std::FILE* out = std::fopen(dest.c_str(), "w+b");
    if (!out)
        return IoError(errno);
    int rc = 0;
    uint32_t total = 0;
    uint8_t first[kOvfHeaderSize] = {};
    std::vector<uint8_t> buf(65536);
    for (size_t i = 0; i < files.size() && rc == 0; ++i) {
        std::FILE* in = std::fopen(files[i].c_str(), "rb");
        if (!in) {
            rc = IoError(errno);
            break;
        }
        uint8_t h[kOvfHeaderSize];
        if (std::fread(h, 1, sizeof h, in) != sizeof h || std::memcmp(h, kSignature, 6) != 0) {
            rc = kNotFax;
        } else {
            total += Get16(h + 32);
            if (i == 0) {
                std::memcpy(first, h, sizeof h);
                if (std::fwrite(h, 1, sizeof h, out) != sizeof h)
                    rc = kWriteError;
            } else {
                std::fseek(in, static_cast<long>(Get32(h + 34)), SEEK_SET);
            }
            size_t n;
            while (rc == 0 && (n = std::fread(buf.data(), 1, buf.size(), in)) > 0)
                if (std::fwrite(buf.data(), 1, n, out) != n)
                    rc = kWriteError;
        }
        std::fclose(in);
    }
    if (rc == 0) {
        Put16(first + 32, static_cast<uint16_t>(total > 0xFFFF ? 0xFFFF : total));
        if (!WriteAt(out, 0, first, sizeof first))
            rc = kWriteError;
    }
    if (std::fclose(out) != 0 && rc == 0)
        rc = kWriteError;
    if (rc != 0)
        std::remove(dest.c_str());
    return rc;
}

} // namespace ovx
