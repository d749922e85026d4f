// Table: DBF + FPT + in-memory tags persisted to the CDX; verification of the index at open,
// crash-safe pack through a commit marker.
#include "records/table.h"

#include "records/cdx_file.h"
#include "records/dbf_file.h"
#include "records/expression.h"
#include "records/fpt_file.h"
#include "records/xb_error.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <unistd.h>

namespace telvane::records {

struct Table::Tag {
    TagInfo info;
    std::unique_ptr<Expression> key;
    std::unique_ptr<Expression> cond;
    char pad = ' ';
    KeyList keys;
    uint32_t headerOffset = 0;  // of its header in the index file on disk
};

namespace {

constexpr uint32_t kScanBatch = 4096;

std::function<void(const std::string&)>& warningHandler() {
    static std::function<void(const std::string&)> handler;
    return handler;
}

std::string withExtension(const std::string& path, const std::string& ext) {
    const auto slash = path.rfind('/');
    const auto dot = path.rfind('.');
    std::string base =
        (dot == std::string::npos || (slash != std::string::npos && dot < slash)) ? path : path.substr(0, dot);
    // Follow the case of the table's own extension.
    const bool lower =
        dot != std::string::npos && dot + 1 < path.size() && std::islower(static_cast<unsigned char>(path[dot + 1]));
    return base + "." + (lower ? lowerCp1252(ext) : ext);
}

void recoverPendingPack(const std::string& dbfPath, const std::string& fptPath) {
    const std::string marker = dbfPath + ".pack";
    const std::string dbfNew = dbfPath + ".new";
    const std::string fptNew = fptPath + ".new";
    if (io::exists(marker)) {
        // The pack had committed: finish moving the new files in.
        if (io::exists(dbfNew)) {
            if (io::exists(fptNew) && std::rename(fptNew.c_str(), fptPath.c_str()) != 0)
                throw EXbError(fptPath + ": cannot finish an interrupted pack");
            if (std::rename(dbfNew.c_str(), dbfPath.c_str()) != 0)
                throw EXbError(dbfPath + ": cannot finish an interrupted pack");
            io::syncDirectoryOf(dbfPath);
        }
        io::removeFile(marker);
    } else {
        // The pack had not committed: the old files stand.
        io::removeFile(dbfNew);
        io::removeFile(fptNew);
    }
}

}  // namespace

Table::Table() = default;

Table::~Table() {
    try {
        close();
    } catch (const EXbError&) {
        // The files stay as last written; the index is verified at the next open.
    }
}

std::string Table::siblingPath(const std::string& path, const std::string& extension) {
    const std::string direct = withExtension(path, extension);
    if (io::exists(direct)) return direct;
    const auto slash = path.rfind('/');
    const std::string dir = slash == std::string::npos ? "." : path.substr(0, slash + 1);
    const std::string wanted = upperCp1252(io::baseName(direct));
    DIR* d = ::opendir(dir.c_str());
    if (!d) return "";
    std::string found;
    while (dirent* e = ::readdir(d)) {
        if (upperCp1252(e->d_name) == wanted) {
            found = (slash == std::string::npos ? std::string() : dir) + e->d_name;
            break;
        }
    }
    ::closedir(d);
    return found;
}

std::string Table::cdxPath() const {
    const std::string s = siblingPath(dbfPath_, "CDX");
    return s.empty() ? withExtension(dbfPath_, "CDX") : s;
}

std::string Table::fptPath() const {
    const std::string s = siblingPath(dbfPath_, "FPT");
    return s.empty() ? withExtension(dbfPath_, "FPT") : s;
}

void Table::create(const std::string& dbfPath, const std::vector<FieldDef>& fields) {
    DbfFile::validateFields(fields, dbfPath);
    // An index left from an earlier table of this name describes other records.
    for (std::string old = siblingPath(dbfPath, "CDX"); !old.empty(); old = siblingPath(dbfPath, "CDX"))
        io::removeFile(old);
    io::removeFile(withExtension(dbfPath, "CDX") + ".tmp");
    bool memo = false;
    for (const auto& f : fields) memo = memo || f.type == FieldType::Memo;
    if (memo) FptFile::create(withExtension(dbfPath, "FPT"));
    DbfFile::create(dbfPath, fields);
}

std::unique_ptr<Table> Table::open(const std::string& dbfPath) {
    std::unique_ptr<Table> t(new Table);
    t->openFiles(dbfPath, true, false, nullptr);
    return t;
}

std::unique_ptr<Table> Table::openWithoutIndex(const std::string& dbfPath) {
    std::unique_ptr<Table> t(new Table);
    t->openFiles(dbfPath, false, false, nullptr);
    return t;
}

std::unique_ptr<Table> Table::openForReading(const std::string& dbfPath) {
    std::unique_ptr<Table> t(new Table);
    try {
        t->openFiles(dbfPath, true, true, nullptr);
    } catch (const EXbIndexError& e) {
        // Reading needs no index: show the records in physical order.
        t.reset(new Table);
        t->openFiles(dbfPath, false, true, nullptr);
        t->indexNote_ = std::string(e.what()) + " (not used)";
    }
    return t;
}

void Table::setWarningHandler(std::function<void(const std::string&)> handler) {
    warningHandler() = std::move(handler);
}

void Table::warn(const std::string& message) {
    warnings_.push_back(message);
    if (warningHandler()) warningHandler()(message);
}

void Table::checkWritable() const {
    checkOpen();
    if (readOnly_) throw EXbError(dbfPath_ + ": the table is open for reading only");
}

std::vector<std::string> Table::check(const std::string& dbfPath) {
    std::vector<std::string> problems;
    std::unique_ptr<Table> t(new Table);
    try {
        t->openFiles(dbfPath, true, true, &problems);
    } catch (const EXbIndexError& e) {
        problems.push_back(e.what());
        t.reset(new Table);
        t->openFiles(dbfPath, false, true, &problems);
    }
    const std::string cdxTmp = withExtension(dbfPath, "CDX") + ".tmp";
    if (io::exists(cdxTmp))
        problems.push_back(cdxTmp + ": a partly written index was left behind (it is removed at the next open)");
    const uint64_t extra = t->dbf_->trailingBytes();
    if (extra)
        problems.push_back(dbfPath + ": " + std::to_string(extra) +
                           " bytes after the last record (an interrupted append)");
    std::string rec(size_t(t->recordLength()), ' ');
    for (uint32_t r = 1; r <= t->recordCount(); ++r) {
        t->dbf_->read(r, rec.data());
        if (rec[0] != ' ' && rec[0] != '*')
            problems.push_back(dbfPath + ": record " + std::to_string(r) + " has an invalid deletion flag");
    }
    t->checkMemos(problems);
    t->indexDirty_ = false;
    return problems;
}

// Every memo must be readable, lie before the header's next-free block (where the next memo
// will be written) and share no block with another memo.
void Table::checkMemos(std::vector<std::string>& problems) const {
    if (!fpt_) return;
    struct Use {
        uint32_t block, blocks, recno;
        int field;
    };
    std::vector<Use> uses;
    const auto& fs = fields();
    const uint32_t nextFree = fpt_->headerNextFree();
    std::string batch;
    const uint32_t n = dbf_->recordCount();
    const int len = dbf_->recordLength();
    for (uint32_t first = 1; first <= n; first += kScanBatch) {
        const uint32_t count = std::min(kScanBatch, n - first + 1);
        dbf_->readRange(first, count, batch);
        for (uint32_t i = 0; i < count; ++i) {
            const std::string_view rec = std::string_view(batch).substr(size_t(i) * size_t(len), size_t(len));
            const uint32_t r = first + i;
            for (size_t f = 0; f < fs.size(); ++f) {
                if (fs[f].type != FieldType::Memo) continue;
                const std::string where = "record " + std::to_string(r) + ", field " + fs[f].name + ": ";
                try {
                    const std::string_view ptr = rec.substr(size_t(fieldOffset(int(f))), 10);
                    const uint32_t block = FptFile::parsePointer(ptr, fpt_->path());
                    if (block == 0) continue;
                    fpt_->read(block);
                    if (block >= nextFree) {
                        problems.push_back(where + fpt_->path() + ": the memo at block " + std::to_string(block) +
                                           " lies at or past the next free block " + std::to_string(nextFree) +
                                           " (a new memo would overwrite it)");
                    }
                    uses.push_back({block, fpt_->blocksOf(block), r, int(f)});
                } catch (const EXbError& e) {
                    problems.push_back(where + e.what());
                }
            }
        }
    }
    std::sort(uses.begin(), uses.end(), [](const Use& a, const Use& b) { return a.block < b.block; });
    uint64_t reach = 0;  // end of the furthest memo so far
    const Use* owner = nullptr;
    for (const Use& u : uses) {
        if (owner && u.block < reach) {
            problems.push_back(fpt_->path() + ": the memo of record " + std::to_string(u.recno) + ", field " +
                               fs[size_t(u.field)].name + " (block " + std::to_string(u.block) +
                               ") overlaps the memo of record " + std::to_string(owner->recno) + ", field " +
                               fs[size_t(owner->field)].name + " (block " + std::to_string(owner->block) + ")");
        }
        if (uint64_t(u.block) + u.blocks > reach) {
            reach = uint64_t(u.block) + u.blocks;
            owner = &u;
        }
    }
}

void Table::openFiles(const std::string& dbfPath, bool readIndex, bool readOnly, std::vector<std::string>* problems) {
    dbfPath_ = dbfPath;
    readOnly_ = readOnly || problems;
    if (!io::exists(dbfPath)) throw EXbError(dbfPath + ": the table file does not exist");
    dbf_ = DbfFile::open(dbfPath, true, readOnly_);
    const bool packPending = io::exists(dbfPath + ".pack");
    if (problems && packPending)
        problems->push_back(dbfPath + ": an interrupted pack is pending; it is completed at the next open");
    if (readOnly_ && !problems && packPending)
        warn(dbfPath + ": an interrupted pack is pending; it is completed when the table is next opened for writing");
    if (!readOnly_) {
        io::removeFile(dbfPath + ".pack.tmp");
        const std::string fpt = siblingPath(dbfPath, "FPT");
        if (packPending || io::exists(dbfPath + ".new") || (!fpt.empty() && io::exists(fpt + ".new"))) {
            recoverPendingPack(dbfPath, fpt.empty() ? withExtension(dbfPath, "FPT") : fpt);
            dbf_.reset();
            dbf_ = DbfFile::open(dbfPath, true);
        }
        // An append killed before its record count was written leaves bytes behind the end.
        if (dbf_->trailingBytes() > 0) keepTrailingBytes();
    }
    if (dbf_->hasMemo()) {
        const std::string fpt = siblingPath(dbfPath, "FPT");
        if (fpt.empty()) throw EXbError(withExtension(dbfPath, "FPT") + ": the memo file of the table is missing");
        fpt_ = FptFile::open(fpt, readOnly_);
    }
    if (readIndex) loadIndex(problems);
}

// The bytes stay where they are (readers go by the record count), but the next append will
// write over them, so a copy is kept beside the table first.
void Table::keepTrailingBytes() {
    const std::string copy = dbfPath_ + ".extra";
    const std::string bytes = dbf_->trailing();
    std::string where;
    try {
        io::replaceFile(copy, bytes);
        where = "; a copy is in " + copy;
    } catch (const EXbError& e) {
        where = std::string("; no copy could be kept: ") + e.what();
    }
    warn(dbfPath_ + ": " + std::to_string(bytes.size()) +
         " bytes after the last record (an interrupted append) are not part of the table" + where);
}

void Table::checkOpen() const {
    if (!dbf_) throw EXbError(dbfPath_ + ": the table is closed");
}

void Table::close() {
    if (!dbf_) return;
    if (indexDirty_ && !readOnly_) writeIndex();
    dbf_->close();
    dbf_.reset();
    if (fpt_) fpt_->close();
    fpt_.reset();
    tags_.clear();
}

void Table::flush() {
    checkOpen();
    if (readOnly_) return;
    syncMemos();
    if (indexDirty_) writeIndex();
    dbf_->sync();
}

// A record may point at a memo only once the memo is on disk.
void Table::syncMemos() {
    if (memoUnsynced_ && fpt_) fpt_->sync();
    memoUnsynced_ = false;
}

const std::vector<FieldDef>& Table::fields() const {
    checkOpen();
    return dbf_->fields();
}

int Table::fieldIndex(std::string_view name) const {
    const std::string n = upperCp1252(name);
    const auto& f = fields();
    for (size_t i = 0; i < f.size(); ++i) {
        if (f[i].name == n) return int(i);
    }
    return -1;
}

int Table::fieldOffset(int index) const { return dbf_->offsets().at(size_t(index)); }
uint32_t Table::recordCount() const {
    checkOpen();
    return dbf_->recordCount();
}
int Table::recordLength() const {
    checkOpen();
    return dbf_->recordLength();
}
bool Table::hasMemo() const { return fpt_ != nullptr; }

std::string Table::readRecord(uint32_t recno) const {
    checkOpen();
    std::string r(size_t(dbf_->recordLength()), ' ');
    dbf_->read(recno, r.data());
    return r;
}

void Table::readRange(uint32_t first, uint32_t count, std::string& out) const {
    checkOpen();
    dbf_->readRange(first, count, out);
}

std::string Table::blankRecord() const {
    checkOpen();
    return std::string(size_t(dbf_->recordLength()), ' ');
}

uint32_t Table::appendRecord(std::string_view record) {
    checkWritable();
    if (int(record.size()) != dbf_->recordLength()) throw EXbError(dbfPath_ + ": record of the wrong length");
    syncMemos();
    const uint32_t recno = dbf_->append(record.data());
    insertKeys(recno, record);
    ++changes_;
    return recno;
}

void Table::writeRecord(uint32_t recno, std::string_view record) {
    checkWritable();
    if (int(record.size()) != dbf_->recordLength()) throw EXbError(dbfPath_ + ": record of the wrong length");
    const std::string old = readRecord(recno);
    struct Change {
        size_t tag;
        bool qOld, qNew;
        std::string kOld, kNew;
    };
    std::vector<Change> changes;
    for (size_t i = 0; i < tags_.size(); ++i) {
        Change c{i, false, false, {}, {}};
        c.kOld = tagKey(int(i) + 1, old, &c.qOld);
        c.kNew = tagKey(int(i) + 1, record, &c.qNew);
        if (c.qOld != c.qNew || c.kOld != c.kNew) changes.push_back(std::move(c));
    }
    // The record count stays, so the index on disk must stop claiming to be complete first.
    if (!changes.empty()) unstampIndex();
    syncMemos();
    dbf_->write(recno, record.data());
    for (const Change& c : changes) {
        if (c.qOld) {
            tags_[c.tag]->keys.erase(c.kOld, recno);
            logKeyChange(c.tag, false, c.kOld, recno);
        }
        if (c.qNew) {
            tags_[c.tag]->keys.insert(c.kNew, recno);
            logKeyChange(c.tag, true, c.kNew, recno);
        }
        indexDirty_ = true;
    }
    ++changes_;
}

void Table::setDeleted(uint32_t recno, bool deleted) {
    std::string r = readRecord(recno);
    const char flag = deleted ? '*' : ' ';
    if (r[0] == flag) return;
    r[0] = flag;
    writeRecord(recno, r);
}

bool Table::isDeleted(uint32_t recno) const { return readRecord(recno)[0] == '*'; }

std::string Table::readMemo(std::string_view pointerField) const {
    const std::string file = fpt_ ? fpt_->path() : fptPath();
    const uint32_t block = FptFile::parsePointer(pointerField, file);
    if (block == 0) return {};
    if (!fpt_) throw EXbError(file + ": the table has no memo file");
    return fpt_->read(block);
}

std::string Table::writeMemo(std::string_view data) {
    checkWritable();
    if (!fpt_) throw EXbError(dbfPath_ + ": the table has no memo fields");
    if (data.empty()) return FptFile::formatPointer(0);
    const uint32_t block = fpt_->write(data);
    memoUnsynced_ = true;
    return FptFile::formatPointer(block);
}

// --- tags ------------------------------------------------------------------------------------

int Table::tagCount() const { return int(tags_.size()); }

TagInfo Table::tagInfo(int tag) const {
    if (tag < 1 || tag > tagCount()) throw EXbError(dbfPath_ + ": no tag number " + std::to_string(tag));
    return tags_[size_t(tag - 1)]->info;
}

int Table::findTag(std::string_view name) const {
    const std::string n = upperCp1252(name);
    for (size_t i = 0; i < tags_.size(); ++i) {
        if (tags_[i]->info.name == n) return int(i) + 1;
    }
    return 0;
}

const KeyList& Table::tagKeys(int tag) const {
    if (tag < 1 || tag > tagCount()) throw EXbError(dbfPath_ + ": no tag number " + std::to_string(tag));
    return tags_[size_t(tag - 1)]->keys;
}

std::string Table::tagKey(int tag, std::string_view record, bool* qualifies) const {
    const Tag& t = *tags_.at(size_t(tag - 1));
    EvalContext ctx;
    ctx.record = record.data();
    ctx.memoReader = [this](int, std::string_view p) { return readMemo(p); };
    if (qualifies) *qualifies = !t.cond || t.cond->evaluateLogical(ctx);
    return t.key->key(ctx);
}

std::unique_ptr<Table::Tag> Table::makeTag(const std::string& name, const std::string& keyExpression,
                                           const std::string& forExpression, bool descending) const {
    const std::string upper = upperCp1252(name);
    if (upper.empty() || upper.size() > 10 || !std::isalpha(static_cast<unsigned char>(upper[0])))
        throw EXbError(dbfPath_ + ": invalid tag name \"" + name + "\"");
    for (char c : upper) {
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_')
            throw EXbError(dbfPath_ + ": invalid tag name \"" + name + "\"");
    }
    auto t = std::make_unique<Tag>();
    t->key = Expression::compile(keyExpression, dbf_->fields(), dbf_->offsets());
    if (!forExpression.empty()) {
        t->cond = Expression::compile(forExpression, dbf_->fields(), dbf_->offsets());
        if (t->cond->type() != ValueType::Logical)
            throw EXbExpressionError(forExpression, 0, "a FOR condition must be a logical expression");
    }
    const int len = t->key->keyLength();
    if (len < 1 || len > 240)
        throw EXbExpressionError(keyExpression, 0,
                                 "an index key must be 1 to 240 bytes long, this one is " + std::to_string(len));
    t->info.name = upper;
    t->info.keyExpression = keyExpression;
    t->info.forExpression = forExpression;
    t->info.descending = descending;
    t->info.keyLength = len;
    t->info.keyType = char(t->key->type());
    t->pad = (t->key->type() == ValueType::Numeric || t->key->type() == ValueType::Date) ? '\0' : ' ';
    t->keys = KeyList(len);
    return t;
}

std::vector<std::vector<std::pair<std::string, uint32_t>>> Table::computeKeys(const std::vector<Tag*>& tags) const {
    std::vector<std::vector<std::pair<std::string, uint32_t>>> out(tags.size());
    const uint32_t n = dbf_->recordCount();
    for (auto& v : out) v.reserve(n);
    const int len = dbf_->recordLength();
    std::string batch;
    EvalContext ctx;
    ctx.memoReader = [this](int, std::string_view p) { return readMemo(p); };
    for (uint32_t first = 1; first <= n; first += kScanBatch) {
        const uint32_t count = std::min(kScanBatch, n - first + 1);
        dbf_->readRange(first, count, batch);
        for (uint32_t i = 0; i < count; ++i) {
            ctx.record = batch.data() + size_t(i) * size_t(len);
            ctx.recno = first + i;
            for (size_t t = 0; t < tags.size(); ++t) {
                if (tags[t]->cond && !tags[t]->cond->evaluateLogical(ctx)) continue;
                out[t].emplace_back(tags[t]->key->key(ctx), first + i);
            }
        }
    }
    for (auto& v : out) std::sort(v.begin(), v.end());
    return out;
}

void Table::fillTag(Tag& tag) const {
    auto keys = computeKeys({&tag});
    tag.keys.assignSorted(keys[0]);
}

void Table::loadIndex(std::vector<std::string>* problems) {
    const std::string cdx = siblingPath(dbfPath_, "CDX");
    if (!readOnly_) io::removeFile(withExtension(dbfPath_, "CDX") + ".tmp");
    if (cdx.empty()) {
        if (dbf_->flags() & DbfFile::kFlagStructuralCdx) {
            if (problems)
                problems->push_back(cdxPath() + ": the table says it has an index file, but it is missing");
            else if (!readOnly_)
                dbf_->setFlags(uint8_t(dbf_->flags() & ~DbfFile::kFlagStructuralCdx));
            indexNote_ = "index file missing";
        }
        return;
    }
    if (!(dbf_->flags() & DbfFile::kFlagStructuralCdx)) {
        // The table does not claim this file (it was left by another table of the same name,
        // or its tags were dropped): it is not read, and is replaced when tags are added.
        indexNote_ = io::baseName(cdx) + " is not marked as the table's index and was not used";
        return;
    }
    CdxReader reader(cdx);
    const uint32_t records = dbf_->recordCount();
    // A stamp written at a clean close for exactly this table: the keys are read, not recomputed.
    CdxStamp stamp;
    if (!problems && reader.stamp(stamp) && stamp == currentStamp()) {
        try {
            std::vector<std::unique_ptr<Tag>> tags;
            for (const auto& h : reader.tags()) {
                auto t = makeTag(h.name, h.keyExpression, h.forExpression, h.descending);
                if (h.keyLength != t->info.keyLength) throw EXbIndexError(cdx, "key length differs");
                reader.loadKeys(h, t->pad, records, t->keys);
                t->headerOffset = h.headerOffset;
                tags.push_back(std::move(t));
            }
            tags_ = std::move(tags);
            rewriteIndex_ = false;
            indexStamped_ = true;
            return;
        } catch (const EXbError&) {
            // Not what was written: verify the slow way below.
        }
    }
    std::vector<std::unique_ptr<Tag>> tags;
    for (const auto& h : reader.tags()) {
        try {
            tags.push_back(makeTag(h.name, h.keyExpression, h.forExpression, h.descending));
        } catch (const EXbError& e) {
            throw EXbIndexError(cdx, cdx + ": tag " + h.name + " cannot be used: " + e.what());
        }
    }
    std::vector<Tag*> raw;
    for (auto& t : tags) raw.push_back(t.get());
    auto expected = computeKeys(raw);
    bool stale = false;
    for (size_t i = 0; i < tags.size(); ++i) {
        const auto& h = reader.tags()[i];
        std::string why;
        if (h.keyLength != tags[i]->info.keyLength) {
            why = "key length " + std::to_string(h.keyLength) + " where the expression gives " +
                  std::to_string(tags[i]->info.keyLength);
        } else {
            try {
                if (problems) {
                    const auto found = reader.verify(h, tags[i]->pad, records);
                    problems->insert(problems->end(), found.begin(), found.end());
                }
                const CdxEntries stored = reader.keys(h, tags[i]->pad, records);
                if (stored.size() != expected[i].size()) {
                    why = std::to_string(stored.size()) + " keys where the table gives " +
                          std::to_string(expected[i].size());
                } else if (stored != expected[i]) {
                    why = "keys that differ from the table";
                }
            } catch (const EXbIndexError& e) {
                why = e.what();
            }
        }
        if (!why.empty()) {
            stale = true;
            if (problems) problems->push_back(cdx + ": tag " + h.name + ": " + why);
        }
        tags[i]->keys.assignSorted(expected[i]);
        tags[i]->headerOffset = h.headerOffset;
    }
    tags_ = std::move(tags);
    if (!stale && !readOnly_) {
        // Verified: stamp it so the next open can read it as it is.
        rewriteIndex_ = false;
        try {
            io::File f;
            f.open(cdx, false);
            CdxUpdater::markClean(f, currentStamp());
            indexStamped_ = true;
        } catch (const EXbError&) {
            // Then the next open verifies it again.
        }
    }
    if (stale && readOnly_ && !problems) {
        indexNote_ = io::baseName(cdx) + " did not match the table; its keys were computed from the table";
    } else if (stale && !problems) {
        indexNote_ = io::baseName(cdx) + " did not match the table and was rebuilt";
        indexDirty_ = true;
        rewriteIndex_ = true;
        writeIndex();
    }
}

// Key changes since the index file was last written, replayed on it in place at the next write.
// Past a few thousand, writing the whole file is cheaper.
void Table::logKeyChange(size_t tag, bool add, const std::string& key, uint32_t recno) {
    if (rewriteIndex_) return;
    if (pendingKeys_.size() >= 20000) {
        rewriteIndex_ = true;
        pendingKeys_.clear();
        return;
    }
    pendingKeys_.push_back({tag, add, key, recno});
}

CdxStamp Table::currentStamp() const {
    return {dbf_->recordCount(), uint16_t(dbf_->headerLength()), uint16_t(dbf_->recordLength()), dbf_->modifiedNs()};
}

void Table::unstampIndex() {
    if (!indexStamped_) return;
    if (!io::exists(cdxPath())) {
        indexStamped_ = false;
        return;
    }
    io::File f;
    f.open(cdxPath(), false);
    CdxUpdater::markDirty(f);
    indexStamped_ = false;
}

void Table::insertKeys(uint32_t recno, std::string_view record) {
    for (size_t i = 0; i < tags_.size(); ++i) {
        bool q = false;
        const std::string k = tagKey(int(i) + 1, record, &q);
        if (q) {
            tags_[i]->keys.insert(k, recno);
            logKeyChange(i, true, k, recno);
            indexDirty_ = true;
        }
    }
}

int Table::addTag(const std::string& name, const std::string& keyExpression, const std::string& forExpression,
                  bool descending) {
    checkWritable();
    auto tag = makeTag(name, keyExpression, forExpression, descending);
    fillTag(*tag);
    int number = findTag(tag->info.name);
    if (number > 0) {
        tags_[size_t(number - 1)] = std::move(tag);
    } else {
        tags_.push_back(std::move(tag));
        number = int(tags_.size());
    }
    ++changes_;
    indexDirty_ = true;
    rewriteIndex_ = true;
    writeIndex();
    return number;
}

void Table::closeIndexes() {
    checkWritable();
    if (indexDirty_ && !tags_.empty()) writeIndex();
    tags_.clear();
    indexDirty_ = false;
    dbf_->setFlags(uint8_t(dbf_->flags() & ~DbfFile::kFlagStructuralCdx));
    ++changes_;
}

void Table::reindex() {
    checkWritable();
    std::vector<Tag*> raw;
    for (auto& t : tags_) raw.push_back(t.get());
    auto keys = computeKeys(raw);
    for (size_t i = 0; i < tags_.size(); ++i) tags_[i]->keys.assignSorted(keys[i]);
    ++changes_;
    indexDirty_ = true;
    rewriteIndex_ = true;
    writeIndex();
}

// Writes the whole index. A failure (disk full, an index too large for the format) is not an
// error of the table: the keys stay exact in memory, the failure is reported once, and the
// write is tried again at the next flush or close. A stale file on disk is rebuilt at the
// next open, which compares it with the table.
bool Table::writeIndex() {
    if (readOnly_) return false;
    if (tags_.empty()) {
        indexDirty_ = false;
        pendingKeys_.clear();
        return true;
    }
    const std::string path = cdxPath();
    if (!rewriteIndex_ && io::exists(path)) {
        // Only the changed keys: a few pages rewritten in place, then the stamp. The records go
        // to disk first, so a stamp never describes records that could still be lost.
        try {
            dbf_->sync();
            io::File f;
            f.open(path, false);
            CdxUpdater updater(f, path);
            for (const KeyChange& c : pendingKeys_) {
                const Tag& t = *tags_[c.tag];
                if (c.add)
                    updater.insert(t.headerOffset, c.key, c.recno, t.pad);
                else
                    updater.erase(t.headerOffset, c.key, c.recno, t.pad);
            }
            CdxUpdater::markClean(f, currentStamp());
            pendingKeys_.clear();
            indexStamped_ = true;
            indexDirty_ = false;
            indexWriteFailed_ = false;
            return true;
        } catch (const EXbError&) {
            // The file is no longer what the log was made against: write it whole.
            rewriteIndex_ = true;
            indexStamped_ = false;
        }
    }
    std::vector<CdxTagSource> sources;
    for (const auto& t : tags_) {
        sources.push_back(
            {t->info.name, t->info.keyExpression, t->info.forExpression, t->info.descending, t->pad, &t->keys});
    }
    try {
        // The flag goes first: the stamp holds the table file's time after its last write.
        dbf_->setFlags(uint8_t(dbf_->flags() | DbfFile::kFlagStructuralCdx));
        dbf_->sync();
        const CdxStamp stamp = currentStamp();
        std::vector<uint32_t> offsets;
        const std::string image = buildCdx(sources, path, &stamp, &offsets);
        indexStamped_ = false;
        io::replaceFile(path, image);
        for (size_t i = 0; i < tags_.size(); ++i) tags_[i]->headerOffset = offsets[i];
        indexStamped_ = true;
        rewriteIndex_ = false;
        pendingKeys_.clear();
    } catch (const EXbError& e) {
        indexDirty_ = true;
        rewriteIndex_ = true;
        pendingKeys_.clear();
        if (!indexWriteFailed_) {
            indexWriteFailed_ = true;
            warn(std::string("the index could not be written: ") + e.what() +
                 ". The records are safe; the table is used without its index file, which is built again later.");
        }
        return false;
    }
    indexDirty_ = false;
    indexWriteFailed_ = false;
    return true;
}

void Table::pack() {
    checkWritable();
    syncMemos();
    const std::string fptPathNow = fpt_ ? fpt_->path() : std::string();
    const std::string dbfNew = dbfPath_ + ".new";
    const std::string fptNew = fptPathNow + ".new";
    const std::string marker = dbfPath_ + ".pack";
    const std::vector<FieldDef> fields = dbf_->fields();
    const std::vector<int> offsets = dbf_->offsets();
    const int len = dbf_->recordLength();
    std::unique_ptr<FptFile> newFpt;
    io::File out;
    std::vector<std::string> dropped;
    try {
        if (fpt_) {
            FptFile::create(fptNew, fpt_->blockSize());
            newFpt = FptFile::open(fptNew);
        }
        out.create(dbfNew);
        std::string header = DbfFile::headerBytes(fields, 0, dbf_->flags());
        uint64_t pos = header.size();
        uint32_t kept = 0;
        std::string batch, chunk;
        const uint32_t n = dbf_->recordCount();
        for (uint32_t first = 1; first <= n; first += kScanBatch) {
            const uint32_t count = std::min(kScanBatch, n - first + 1);
            dbf_->readRange(first, count, batch);
            chunk.clear();
            for (uint32_t i = 0; i < count; ++i) {
                std::string rec = batch.substr(size_t(i) * size_t(len), size_t(len));
                if (rec[0] == '*') continue;
                for (size_t f = 0; f < fields.size() && newFpt; ++f) {
                    if (fields[f].type != FieldType::Memo) continue;
                    std::string data;
                    try {
                        data = readMemo(std::string_view(rec).substr(size_t(offsets[f]), 10));
                    } catch (const EXbError& e) {
                        // One unreadable memo must not keep the rest from being packed: the record
                        // stays, with that memo empty.
                        dropped.push_back("record " + std::to_string(first + i) + ", field " + fields[f].name +
                                          ": the memo could not be read and was left empty (" + e.what() + ")");
                    }
                    const std::string ptr = FptFile::formatPointer(data.empty() ? 0 : newFpt->write(data));
                    rec.replace(size_t(offsets[f]), 10, ptr);
                }
                chunk += rec;
                ++kept;
            }
            out.writeAt(pos, chunk.data(), chunk.size());
            pos += chunk.size();
        }
        out.writeAt(pos, "\x1A", 1);
        header = DbfFile::headerBytes(fields, kept, dbf_->flags());
        out.writeAt(0, header.data(), header.size());
        out.sync();
        out.close();
        if (newFpt) {
            newFpt->sync();
            newFpt->close();
        }
    } catch (const EXbError& e) {
        // Nothing is committed yet: the table stays exactly as it was.
        out.close();
        if (newFpt) newFpt->close();
        ::unlink(dbfNew.c_str());
        if (fpt_) ::unlink(fptNew.c_str());
        throw EXbError(std::string(e.what()) + "; the table was not packed and is unchanged");
    }
    // Commit point: once the marker exists an interrupted pack is completed at the next open.
    io::replaceFile(marker, "pack\n");
    if (fpt_ && std::rename(fptNew.c_str(), fptPathNow.c_str()) != 0)
        throw EXbError(fptPathNow + ": cannot replace the memo file while packing");
    if (std::rename(dbfNew.c_str(), dbfPath_.c_str()) != 0)
        throw EXbError(dbfPath_ + ": cannot replace the table while packing");
    io::syncDirectoryOf(dbfPath_);
    dbf_.reset();
    dbf_ = DbfFile::open(dbfPath_, true);
    io::removeFile(marker);
    if (fpt_) {
        fpt_.reset();
        fpt_ = FptFile::open(fptPathNow);
    }
    ++changes_;
    for (const auto& d : dropped) warn(dbfPath_ + ": " + d);
    reindex();
}

}  // namespace telvane::records
