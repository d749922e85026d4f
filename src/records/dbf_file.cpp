// FoxPro 2.x DBF reading and writing, with the header checks that keep bad files harmless.
#include "records/dbf_file.h"

#include "records/xb_error.h"

#include <cctype>
#include <cstring>
#include <ctime>
#include <set>

namespace telvane::records {

namespace {

void todayYmd(unsigned char* p) {
    const std::time_t t = std::time(nullptr);
    std::tm tm{};
    localtime_r(&t, &tm);
    p[0] = uint8_t(tm.tm_year % 100);
    p[1] = uint8_t(tm.tm_mon + 1);
    p[2] = uint8_t(tm.tm_mday);
}

bool widthValid(FieldType type, int width, int decimals) {
    switch (type) {
    case FieldType::Character: return width >= 1 && width <= 254 && decimals == 0;
    case FieldType::Numeric:
    case FieldType::Float:
        return width >= 1 && width <= 20 && decimals >= 0 && (decimals == 0 || decimals <= width - 2);
    case FieldType::Logical: return width == 1;
    case FieldType::Date: return width == 8;
    case FieldType::Memo: return width == 10;
    }
    return false;
}

bool knownType(char t) { return t == 'C' || t == 'N' || t == 'F' || t == 'L' || t == 'D' || t == 'M'; }

}  // namespace

void DbfFile::validateFields(const std::vector<FieldDef>& fields, const std::string& path) {
    if (fields.empty() || fields.size() > 255) throw EXbError(path + ": a table needs 1 to 255 fields");
    std::set<std::string> names;
    int length = 1;
    for (const auto& f : fields) {
        if (f.name.empty() || f.name.size() > 10 || !std::isalpha(static_cast<unsigned char>(f.name[0])))
            throw EXbError(path + ": invalid field name \"" + f.name + "\"");
        for (char c : f.name) {
            if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_')
                throw EXbError(path + ": invalid field name \"" + f.name + "\"");
        }
        if (!names.insert(upperCp1252(f.name)).second)
            throw EXbError(path + ": duplicate field name \"" + f.name + "\"");
        if (!widthValid(f.type, f.width, f.decimals))
            throw EXbError(path + ": invalid width " + std::to_string(f.width) + "." + std::to_string(f.decimals) +
                           " for field " + f.name + " of type " + char(f.type));
        length += f.width;
    }
    if (length > 65500) throw EXbError(path + ": records longer than 65500 bytes");
}

std::string DbfFile::headerBytes(const std::vector<FieldDef>& fields, uint32_t records, uint8_t flags) {
    bool memo = false;
    int recLen = 1;
    for (const auto& f : fields) {
        memo = memo || f.type == FieldType::Memo;
        recLen += f.width;
    }
    const size_t hdrLen = 32 + 32 * fields.size() + 1;
    std::string h(hdrLen, '\0');
    auto* p = reinterpret_cast<unsigned char*>(h.data());
    p[0] = memo ? kVersionFoxMemo : kVersionNoMemo;
    todayYmd(p + 1);
    io::putLe32(p + 4, records);
    io::putLe16(p + 8, uint32_t(hdrLen));
    io::putLe16(p + 10, uint32_t(recLen));
    p[28] = flags;
    p[29] = kCodePage1252;
    int disp = 1;
    for (size_t i = 0; i < fields.size(); ++i) {
        unsigned char* d = p + 32 + 32 * i;
        const std::string name = upperCp1252(fields[i].name);
        std::memcpy(d, name.data(), name.size());
        d[11] = uint8_t(fields[i].type);
        io::putLe32(d + 12, uint32_t(disp));
        d[16] = uint8_t(fields[i].width);
        d[17] = uint8_t(fields[i].decimals);
        disp += fields[i].width;
    }
    p[hdrLen - 1] = 0x0D;
    return h;
}

void DbfFile::create(const std::string& path, const std::vector<FieldDef>& fields) {
    validateFields(fields, path);
    std::string bytes = headerBytes(fields, 0, 0);
    bytes += '\x1A';
    io::File f;
    f.create(path);
    f.writeAt(0, bytes.data(), bytes.size());
    f.sync();
}

std::unique_ptr<DbfFile> DbfFile::open(const std::string& path, bool lock, bool readOnly) {
    std::unique_ptr<DbfFile> d(new DbfFile);
    d->file_.open(path, lock, readOnly);
    const uint64_t size = d->file_.size();
    if (size < 32 + 32 + 1) throw EXbError(path + ": not a table file (only " + std::to_string(size) + " bytes)");
    unsigned char h[32];
    d->file_.readAt(0, h, 32);
    d->version_ = h[0];
    if (d->version_ != kVersionNoMemo && d->version_ != kVersionFoxMemo) {
        char buf[8];
        std::snprintf(buf, sizeof buf, "0x%02X", d->version_);
        throw EXbError(path + ": not a FoxPro 2.x table (type byte " + buf + ")");
    }
    d->count_ = io::le32(h + 4);
    d->headerLength_ = io::le16(h + 8);
    d->recordLength_ = io::le16(h + 10);
    d->flags_ = h[28];
    if (d->headerLength_ < 65 || uint64_t(d->headerLength_) > size)
        throw EXbError(path + ": damaged header (header length " + std::to_string(d->headerLength_) + ")");
    std::string desc(size_t(d->headerLength_ - 32), '\0');
    d->file_.readAt(32, desc.data(), desc.size());
    const auto* p = reinterpret_cast<const unsigned char*>(desc.data());
    size_t pos = 0;
    int offset = 1;
    while (true) {
        if (pos >= desc.size()) throw EXbError(path + ": damaged header (no end of the field list)");
        if (p[pos] == 0x0D) break;
        if (pos + 32 > desc.size()) throw EXbError(path + ": damaged header (field list runs past the header)");
        const unsigned char* f = p + pos;
        FieldDef fd;
        size_t n = 0;
        while (n < 11 && f[n] != 0) ++n;
        fd.name.assign(reinterpret_cast<const char*>(f), n);
        if (fd.name.empty() || n > 10) throw EXbError(path + ": damaged header (bad field name)");
        for (char c : fd.name) {
            if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_')
                throw EXbError(path + ": damaged header (bad field name)");
        }
        fd.name = upperCp1252(fd.name);
        if (!knownType(char(f[11])))
            throw EXbError(path + ": field " + fd.name + " has an unsupported type '" + std::string(1, char(f[11])) +
                           "'");
        fd.type = FieldType(f[11]);
        fd.width = f[16];
        fd.decimals = f[17];
        if (fd.type == FieldType::Character) {
            fd.decimals = 0;
            if (fd.width == 0) throw EXbError(path + ": field " + fd.name + " has width 0");
        } else if (!widthValid(fd.type, fd.width, fd.decimals)) {
            throw EXbError(path + ": field " + fd.name + " has an invalid width " + std::to_string(fd.width));
        }
        if (fd.type == FieldType::Memo && d->version_ != kVersionFoxMemo)
            throw EXbError(path + ": memo field " + fd.name + " in a table without a FoxPro memo file");
        d->offsets_.push_back(offset);
        offset += fd.width;
        d->fields_.push_back(std::move(fd));
        pos += 32;
        if (d->fields_.size() > 255) throw EXbError(path + ": damaged header (more than 255 fields)");
    }
    if (d->fields_.empty()) throw EXbError(path + ": the table has no fields");
    // The records start right after the field list's end mark, or after the 263-byte
    // backlink some dialects add; a header length far past that is damage, not data.
    const uint64_t listEnd = 32 + pos + 1;
    if (uint64_t(d->headerLength_) > listEnd + 263)
        throw EXbError(path + ": damaged header (header length " + std::to_string(d->headerLength_) +
                       ", but the field list ends at byte " + std::to_string(listEnd) + ")");
    if (offset != d->recordLength_)
        throw EXbError(path + ": damaged header (record length " + std::to_string(d->recordLength_) +
                       " does not match the fields, which need " + std::to_string(offset) + ")");
    const uint64_t whole = (size - uint64_t(d->headerLength_)) / uint64_t(d->recordLength_);
    if (d->count_ > whole) {
        d->shortfall_ = uint32_t(d->count_ - whole);
        d->count_ = uint32_t(whole);
    }
    return d;
}

bool DbfFile::hasMemo() const {
    for (const auto& f : fields_) {
        if (f.type == FieldType::Memo) return true;
    }
    return false;
}

uint64_t DbfFile::trailingBytes() const {
    const uint64_t end = uint64_t(headerLength_) + uint64_t(count_) * uint64_t(recordLength_);
    const uint64_t size = file_.size();
    if (size <= end) return 0;
    unsigned char c = 0;
    file_.readAt(end, &c, 1);
    return (size - end == 1 && c == 0x1A) ? 0 : size - end;
}

std::string DbfFile::trailing() const {
    const uint64_t end = uint64_t(headerLength_) + uint64_t(count_) * uint64_t(recordLength_);
    const uint64_t size = file_.size();
    std::string out;
    if (size <= end) return out;
    out.resize(size_t(size - end));
    file_.readAt(end, out.data(), out.size());
    return out;
}

void DbfFile::cutTrailing() {
    const uint64_t end = uint64_t(headerLength_) + uint64_t(count_) * uint64_t(recordLength_);
    file_.truncate(end);
    file_.writeAt(end, "\x1A", 1);
    unsynced_ = true;
}

void DbfFile::writeCount() {
    unsigned char h[4];
    io::putLe32(h, count_);
    file_.writeAt(4, h, sizeof h);
    shortfall_ = 0;
    unsynced_ = true;
}

void DbfFile::sync() {
    file_.sync();
    unsynced_ = false;
}

void DbfFile::read(uint32_t recno, char* out) const {
    if (recno < 1 || recno > count_) throw EXbError(path() + ": record " + std::to_string(recno) + " does not exist");
    file_.readAt(uint64_t(headerLength_) + uint64_t(recno - 1) * uint64_t(recordLength_), out, size_t(recordLength_));
}

void DbfFile::readRange(uint32_t first, uint32_t count, std::string& out) const {
    out.resize(size_t(count) * size_t(recordLength_));
    if (count == 0) return;
    if (first < 1 || uint64_t(first) + count - 1 > count_) throw EXbError(path() + ": record range out of bounds");
    file_.readAt(uint64_t(headerLength_) + uint64_t(first - 1) * uint64_t(recordLength_), out.data(), out.size());
}

void DbfFile::write(uint32_t recno, const char* record) {
    if (recno < 1 || recno > count_) throw EXbError(path() + ": record " + std::to_string(recno) + " does not exist");
    file_.writeAt(uint64_t(headerLength_) + uint64_t(recno - 1) * uint64_t(recordLength_), record,
                  size_t(recordLength_));
    unsynced_ = true;
    touchHeader();
}

uint32_t DbfFile::append(const char* record) {
    if (count_ == 0xFFFFFFFEu) throw EXbError(path() + ": the table is full");
    std::string buf(record, size_t(recordLength_));
    buf += '\x1A';
    const uint64_t end = uint64_t(headerLength_) + uint64_t(count_) * uint64_t(recordLength_);
    unsynced_ = true;
    try {
        file_.writeAt(end, buf.data(), buf.size());
    } catch (const EXbError&) {
        // Disk full: take the partial record back off so the file ends where it did.
        try {
            file_.truncate(end);
            file_.writeAt(end, "\x1A", 1);
        } catch (const EXbError&) {
            // What remains past the count is not part of the table and is reported at open.
        }
        throw;
    }
    // The count goes last: until it is written the new record does not exist.
    unsigned char h[7];
    todayYmd(h);
    io::putLe32(h + 3, count_ + 1);
    file_.writeAt(1, h, sizeof h);
    return ++count_;
}

void DbfFile::touchHeader() {
    if (touched_) return;
    touched_ = true;
    unsigned char h[3];
    todayYmd(h);
    file_.writeAt(1, h, sizeof h);
}

void DbfFile::setFlags(uint8_t flags) {
    if (flags == flags_) return;
    file_.writeAt(28, &flags, 1);
    flags_ = flags;
    unsynced_ = true;
}

}  // namespace telvane::records
