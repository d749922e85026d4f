// Table: DBF + FPT + in-memory tags persisted to the CDX; verification of the index at open,
// crash-safe pack through a commit marker, copies of bytes cut off after the last record.
#include "records/table.h"

#include "records/cdx_file.h"
#include "records/dbf_file.h"
#include "records/expression.h"
#include "records/fpt_file.h"
#include "records/xb_error.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <set>
#include <unistd.h>
#include <unordered_map>

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
// Key changes replayed on the index file in place; past these, writing the whole file is cheaper.
constexpr size_t kMaxPendingKeys = 20000;

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
            try {
                if (io::exists(fptNew)) io::renameFile(fptNew, fptPath);
                io::renameFile(dbfNew, dbfPath);
            } catch (const EXbError& e) {
                throw EXbError(std::string(e.what()) + "; an interrupted pack cannot be finished");
            }
            io::syncDirectoryOf(dbfPath);
        }
        io::removeFile(marker);
    } else {
        // The pack had not committed: the old files stand.
        io::removeFile(dbfNew);
        io::removeFile(fptNew);
    }
}

// Name of the n-th copy of cut-off bytes (1: "T.DBF.extra", then "T.DBF.extra.2", ...).
std::string extraName(const std::string& dbfPath, int n) {
    return dbfPath + ".extra" + (n == 1 ? std::string() : "." + std::to_string(n));
}

constexpr int kMaxExtraCopies = 999;

// Whole records in a copy of cut-off bytes.
uint32_t wholeRecords(uint64_t bytes, int recordLength) { return uint32_t(bytes / uint64_t(recordLength)); }

uint64_t hashBytes(std::string_view s) {
    uint64_t h = 1469598103934665603ull;  // FNV-1a
    for (unsigned char c : s) h = (h ^ c) * 1099511628211ull;
    return h;
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
    if (io::exists(dbfPath)) {
        // Never made over an existing name (nor through a link planted in its place).
        io::File existing;
        existing.open(dbfPath, false, true);
        throw EXbError(dbfPath + ": a table of that name already exists");
    }
    // An index or memo file left from an earlier table of this name describes other records.
    for (const char* ext : {"CDX", "FPT"}) {
        for (std::string old = siblingPath(dbfPath, ext); !old.empty(); old = siblingPath(dbfPath, ext))
            io::removeFile(old);
    }
    const std::string cdx = withExtension(dbfPath, "CDX");
    io::removeFile(cdx + ".tmp");
    io::removeFile(CdxUpdater::undoPath(cdx));
    bool memo = false;
    for (const auto& f : fields) memo = memo || f.type == FieldType::Memo;
    if (memo) FptFile::create(withExtension(dbfPath, "FPT"));
    DbfFile::create(dbfPath, fields);
    io::syncDirectoryOf(dbfPath);
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

std::vector<std::string> Table::check(const std::string& dbfPath, std::vector<std::string>* notes) {
    Findings found;
    std::unique_ptr<Table> t(new Table);
    try {
        t->openFiles(dbfPath, true, true, &found);
    } catch (const EXbIndexError& e) {
        found.problems.push_back(e.what());
        t.reset(new Table);
        t->openFiles(dbfPath, false, true, &found);
    }
    const std::string cdxTmp = withExtension(dbfPath, "CDX") + ".tmp";
    if (io::exists(cdxTmp))
        found.notes.push_back(cdxTmp + ": a partly written index was left behind (it is removed at the next open)");
    const uint64_t extra = t->dbf_->trailingBytes();
    if (extra)
        found.notes.push_back(dbfPath + ": " + std::to_string(extra) +
                              " bytes after the last record, from an append that did not complete; they are not "
                              "part of the table, and the next open keeps a copy of them and takes them off");
    for (const std::string& copy : extraFiles(dbfPath)) {
        try {
            const uint32_t n = wholeRecords(io::readFile(copy).size(), t->recordLength());
            found.notes.push_back(copy + ": " + std::to_string(n) +
                                  " whole record(s) cut off after an append that did not complete; "
                                  "'telvane-db recover' adds them back to the table");
        } catch (const EXbError& e) {
            found.problems.push_back(e.what());
        }
    }
    std::string rec(size_t(t->recordLength()), ' ');
    for (uint32_t r = 1; r <= t->recordCount(); ++r) {
        t->dbf_->read(r, rec.data());
        if (rec[0] != ' ' && rec[0] != '*')
            found.problems.push_back(dbfPath + ": record " + std::to_string(r) + " has an invalid deletion flag");
    }
    t->checkMemos(found.problems);
    t->indexDirty_ = false;
    if (notes) *notes = std::move(found.notes);
    return found.problems;
}

std::vector<std::string> Table::extraFiles(const std::string& dbfPath) {
    std::vector<std::string> out;
    for (int n = 1; n <= kMaxExtraCopies; ++n) {
        if (io::isFile(extraName(dbfPath, n))) out.push_back(extraName(dbfPath, n));
    }
    return out;
}

// Calls f(recno, record) for every record, reading them in batches.
void Table::scanRecords(const std::function<void(uint32_t, std::string_view)>& f) const {
    const uint32_t n = dbf_->recordCount();
    const size_t len = size_t(dbf_->recordLength());
    std::string batch;
    for (uint32_t first = 1; first <= n; first += kScanBatch) {
        const uint32_t count = std::min(kScanBatch, n - first + 1);
        dbf_->readRange(first, count, batch);
        for (uint32_t i = 0; i < count; ++i) f(first + i, std::string_view(batch).substr(size_t(i) * len, len));
    }
}

// Calls f with every record ready for evaluating expressions on it.
void Table::evaluateRecords(const std::function<void(const EvalContext&)>& f) const {
    EvalContext ctx;
    ctx.memoReader = [this](int, std::string_view p) { return readMemo(p); };
    scanRecords([&](uint32_t r, std::string_view rec) {
        ctx.record = rec.data();
        ctx.recno = r;
        f(ctx);
    });
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
    scanRecords([&](uint32_t r, std::string_view rec) {
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
    });
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

void Table::openFiles(const std::string& dbfPath, bool readIndex, bool readOnly, Findings* findings) {
    dbfPath_ = dbfPath;
    readOnly_ = readOnly || findings;
    if (!io::exists(dbfPath)) throw EXbError(dbfPath + ": the table file does not exist");
    dbf_ = DbfFile::open(dbfPath, true, readOnly_);
    const bool packPending = io::exists(dbfPath + ".pack");
    std::string fpt = siblingPath(dbfPath, "FPT");
    if (findings && packPending)
        findings->notes.push_back(dbfPath + ": an interrupted pack is pending; it is completed at the next open");
    if (readOnly_ && !findings && packPending)
        warn(dbfPath + ": an interrupted pack is pending; it is completed when the table is next opened for writing");
    if (readOnly_ && packPending) {
        // The pack committed, but not all its new files were moved in: they are read in place,
        // as the next open for writing will find them (the new table with the new memos).
        if (io::exists(dbfPath + ".new")) dbf_ = DbfFile::open(dbfPath + ".new", false, true);
        if (!fpt.empty() && io::exists(fpt + ".new")) fpt += ".new";
    }
    if (!readOnly_) {
        io::removeFile(dbfPath + ".pack.tmp");
        if (packPending || io::exists(dbfPath + ".new") || (!fpt.empty() && io::exists(fpt + ".new"))) {
            recoverPendingPack(dbfPath, fpt.empty() ? withExtension(dbfPath, "FPT") : fpt);
            dbf_.reset();
            dbf_ = DbfFile::open(dbfPath, true);
        }
    }
    settleRecordCount(findings);
    if (dbf_->hasMemo()) {
        if (fpt.empty()) throw EXbError(withExtension(dbfPath, "FPT") + ": the memo file of the table is missing");
        fpt_ = FptFile::open(fpt, readOnly_);
    }
    if (readIndex) loadIndex(findings);
}

// A header that counts records the file does not hold is read with the records present; bytes
// after the last counted record are set aside. Opened for writing, both are put right on disk.
void Table::settleRecordCount(Findings* findings) {
    if (const uint32_t missing = dbf_->countShortfall()) {
        const std::string what = dbfPath_ + ": the header counts " + std::to_string(dbf_->recordCount() + missing) +
                                 " records, but the file holds only " + std::to_string(dbf_->recordCount()) +
                                 " whole records (the end of the file did not reach the disk, as after a power cut)";
        if (findings) {
            findings->problems.push_back(what + "; the count is corrected at the next open");
        } else if (readOnly_) {
            warn(what + "; the table is read with the records present");
        } else {
            dbf_->writeCount();
            dbf_->sync();
            tableChanged_ = true;
            warn(what + "; the count was corrected");
        }
    }
    // An append killed before its record count was written leaves bytes behind the end.
    if (!readOnly_ && dbf_->trailingBytes() > 0) keepTrailingBytes();
}

// The bytes after the last counted record are copied to a new numbered ".extra" file (never
// over an earlier copy) and synced before they are taken off the table, whose next append
// would write over them.
void Table::keepTrailingBytes() {
    const std::string bytes = dbf_->trailing();
    std::string where;
    try {
        std::string copy;
        for (int n = 1; copy.empty(); ++n) {
            if (n > kMaxExtraCopies) throw EXbError(dbfPath_ + ": too many .extra copies beside the table");
            const std::string name = extraName(dbfPath_, n);
            io::File f;
            if (f.tryCreate(name)) {
                f.writeAt(0, bytes.data(), bytes.size());
                f.sync();
                copy = name;
            } else if (io::isFile(name) && io::readFile(name) == bytes) {
                copy = name;  // kept before (the table could not be cut then)
            }
        }
        io::syncDirectoryOf(copy);
        dbf_->cutTrailing();
        dbf_->sync();
        tableChanged_ = true;
        const uint32_t n = wholeRecords(bytes.size(), dbf_->recordLength());
        where = "; they were taken off the table and a copy is in " + copy;
        if (n) where += " ('telvane-db recover' adds its " + std::to_string(n) + " whole record(s) back)";
    } catch (const EXbError& e) {
        where = std::string("; no copy could be kept, so they were left in place: ") + e.what();
    }
    warn(dbfPath_ + ": " + std::to_string(bytes.size()) +
         " bytes after the last record (an append that did not complete) are not part of the table" + where);
}

void Table::checkOpen() const {
    if (!dbf_) throw EXbError(dbfPath_ + ": the table is closed");
}

void Table::close() {
    if (!dbf_) return;
    try {
        if (!readOnly_) persist();
    } catch (const EXbError&) {
        dbf_.reset();
        fpt_.reset();
        tags_.clear();
        throw;
    }
    dbf_->close();
    dbf_.reset();
    if (fpt_) fpt_->close();
    fpt_.reset();
    tags_.clear();
}

void Table::flush() {
    checkOpen();
    if (!readOnly_) persist();
}

// Everything on disk: memos, then the records, then the index and its stamp (writeIndex puts
// the records on disk first). When no key changed, the stamp is renewed for the table as it is
// now, so that a change to other fields does not cost the next open a check of the index.
void Table::persist() {
    syncMemos();
    if (indexDirty_) writeIndex();
    if (dbf_->unsynced()) dbf_->sync();
    if (tableChanged_ && !indexDirty_ && !tags_.empty()) restamp();
}

void Table::restamp() {
    try {
        io::File f;
        f.open(cdxPath(), false);
        CdxUpdater::markClean(f, currentStamp());
        indexStamped_ = true;
        tableChanged_ = false;
    } catch (const EXbError&) {
        // Then the next open checks the index against the table.
    }
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
    tableChanged_ = true;
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
    tableChanged_ = true;
    ++changes_;
    for (const Change& c : changes) {
        if (c.qOld) {
            // A key that is not there means the keys in memory were not the table's.
            if (!tags_[c.tag]->keys.erase(c.kOld, recno)) {
                rebuildKeysFromTable("the index did not hold the old key of record " + std::to_string(recno) +
                                     " in tag " + tags_[c.tag]->info.name);
                return;
            }
            logKeyChange(c.tag, false, c.kOld, recno);
        }
        if (c.qNew) {
            tags_[c.tag]->keys.insert(c.kNew, recno);
            logKeyChange(c.tag, true, c.kNew, recno);
        }
        indexDirty_ = true;
    }
}

void Table::rebuildKeysFromTable(const std::string& why) {
    std::vector<Tag*> raw;
    for (auto& t : tags_) raw.push_back(t.get());
    auto keys = computeKeys(raw);
    for (size_t i = 0; i < tags_.size(); ++i) tags_[i]->keys.assignSorted(keys[i]);
    pendingKeys_.clear();
    indexDirty_ = true;
    rewriteIndex_ = true;
    ++changes_;
    warn(dbfPath_ + ": " + why + "; the index was rebuilt from the table");
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
    for (auto& v : out) v.reserve(dbf_->recordCount());
    evaluateRecords([&](const EvalContext& ctx) {
        for (size_t t = 0; t < tags.size(); ++t) {
            if (tags[t]->cond && !tags[t]->cond->evaluateLogical(ctx)) continue;
            out[t].emplace_back(tags[t]->key->key(ctx), ctx.recno);
        }
    });
    for (auto& v : out) std::sort(v.begin(), v.end());
    return out;
}

void Table::fillTag(Tag& tag) const {
    auto keys = computeKeys({&tag});
    tag.keys.assignSorted(keys[0]);
}

void Table::loadIndex(Findings* findings) {
    const std::string cdx = siblingPath(dbfPath_, "CDX");
    if (!readOnly_) io::removeFile(withExtension(dbfPath_, "CDX") + ".tmp");
    if (cdx.empty()) {
        if (!readOnly_) io::removeFile(CdxUpdater::undoPath(withExtension(dbfPath_, "CDX")));
        if (dbf_->flags() & DbfFile::kFlagStructuralCdx) {
            if (findings)
                findings->problems.push_back(cdxPath() + ": the table says it has an index file, but it is missing");
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
        if (findings)
            findings->problems.push_back(cdx +
                                         ": the table's header does not claim this index file, so the table "
                                         "has no index in use (as an interrupted reindex leaves it); "
                                         "'telvane-db reindex' builds the index again");
        return;
    }
    // An index change that was interrupted is undone first, on disk or (reading only) in memory.
    std::unique_ptr<CdxReader> reader;
    if (readOnly_) {
        std::string bytes = CdxReader::load(cdx);
        if (CdxUpdater::undoInMemory(cdx, bytes) && findings)
            findings->notes.push_back(cdx +
                                      ": a change of the index was interrupted; the next open puts the index "
                                      "back as it was before the change (what is checked here)");
        reader = std::make_unique<CdxReader>(cdx, std::move(bytes));
    } else {
        try {
            CdxUpdater::undoInterrupted(cdx);
        } catch (const EXbIndexError&) {
            throw;
        } catch (const EXbError& e) {
            throw EXbIndexError(cdx, std::string(e.what()) + " (while undoing an interrupted change of the index)");
        }
        reader = std::make_unique<CdxReader>(cdx);
    }
    // A stamp written at a clean close for exactly this table: the keys are read, not recomputed.
    CdxStamp stamp;
    if (!findings && reader->stamp(stamp) && stampDescribes(stamp, currentStamp()) && loadTrusted(*reader)) return;
    loadVerified(*reader, findings);
}

bool Table::loadTrusted(const CdxReader& reader) {
    try {
        const uint32_t records = dbf_->recordCount();
        CdxPageMap pages = reader.directoryPages();
        CdxLeafUse total;
        std::vector<std::unique_ptr<Tag>> tags;
        for (const auto& h : reader.tags()) {
            auto t = makeTag(h.name, h.keyExpression, h.forExpression, h.descending);
            if (h.keyLength != t->info.keyLength) throw EXbIndexError(reader.path(), "key length differs");
            CdxLeafUse use;
            reader.loadKeys(h, t->pad, records, t->keys, pages, use);
            total.leaves += use.leaves;
            total.usedBytes += use.usedBytes;
            t->headerOffset = h.headerOffset;
            tags.push_back(std::move(t));
        }
        tags_ = std::move(tags);
        freePages_.clear();
        for (size_t i = 0; i < pages.size(); ++i) {
            if (!pages[i] && (i + 1) * 512 <= reader.size()) freePages_.push_back(uint32_t(i * 512));
        }
        // Pages freed by earlier changes are reused, but a file that is mostly free pages or
        // thinly filled leaves is written whole at the next change.
        const size_t used = pages.size() - freePages_.size();
        rewriteIndex_ = freePages_.size() > used || (total.leaves > 8 && total.usedBytes * 10 < total.leaves * 488 * 4);
        indexStamped_ = true;
        return true;
    } catch (const EXbError&) {
        // Not what was written: verify the slow way.
        tags_.clear();
        return false;
    }
}

// Checks every tree whole and compares every key with the table. A sound tree with a few
// differences is brought up to date in place; anything else is built anew from the table.
void Table::loadVerified(const CdxReader& reader, Findings* findings) {
    const std::string& cdx = reader.path();
    std::vector<std::unique_ptr<Tag>> tags = tagsOf(reader);
    CdxPageMap pages = reader.directoryPages();
    TreeCheck check = checkTrees(reader, tags, pages, findings);
    std::vector<size_t> expected;
    auto diffs = compareWithTable(tags, check.recompute, expected);
    const bool rebuild = std::find(check.recompute.begin(), check.recompute.end(), true) != check.recompute.end();
    size_t changed = 0;
    for (const auto& d : diffs) changed += d.size();
    if (findings) noteDifferences(cdx, tags, check, diffs, expected, *findings);
    correctKeys(tags, check.recompute, diffs);
    tags_ = std::move(tags);
    if (!findings) settleVerifiedIndex(reader, pages, diffs, rebuild, changed);
}

std::vector<std::unique_ptr<Table::Tag>> Table::tagsOf(const CdxReader& reader) const {
    const std::string& cdx = reader.path();
    std::vector<std::unique_ptr<Tag>> tags;
    for (const auto& h : reader.tags()) {
        try {
            tags.push_back(makeTag(h.name, h.keyExpression, h.forExpression, h.descending));
        } catch (const EXbError& e) {
            throw EXbIndexError(cdx, cdx + ": tag " + h.name + " cannot be used: " + e.what());
        }
        tags.back()->headerOffset = h.headerOffset;
    }
    return tags;
}

Table::TreeCheck Table::checkTrees(const CdxReader& reader, std::vector<std::unique_ptr<Tag>>& tags, CdxPageMap& pages,
                                   Findings* findings) const {
    const uint32_t records = dbf_->recordCount();
    TreeCheck check{std::vector<bool>(tags.size(), false), std::vector<bool>(tags.size(), false),
                    std::vector<std::string>(tags.size())};
    for (size_t i = 0; i < tags.size(); ++i) {
        const auto& h = reader.tags()[i];
        if (h.keyLength != tags[i]->info.keyLength) {
            check.why[i] = "key length " + std::to_string(h.keyLength) + " where the expression gives " +
                           std::to_string(tags[i]->info.keyLength);
            check.recompute[i] = true;
            continue;
        }
        const auto found = reader.verifyInto(h, tags[i]->pad, records, tags[i]->keys, pages);
        if (!found.empty() && findings) findings->problems.insert(findings->problems.end(), found.begin(), found.end());
        check.recompute[i] = check.damaged[i] = !found.empty();
    }
    return check;
}

void Table::noteDifferences(const std::string& cdx, const std::vector<std::unique_ptr<Tag>>& tags,
                            const TreeCheck& check, const std::vector<std::vector<KeyChange>>& diffs,
                            const std::vector<size_t>& expected, Findings& findings) const {
    for (size_t i = 0; i < tags.size(); ++i) {
        if (!check.recompute[i] && diffs[i].empty()) continue;
        if (check.damaged[i]) continue;
        std::string why = check.why[i];
        if (why.empty()) {
            why = tags[i]->keys.size() != expected[i] ? std::to_string(tags[i]->keys.size()) +
                                                            " keys where the table gives " + std::to_string(expected[i])
                                                      : "keys that differ from the table";
        }
        findings.problems.push_back(cdx + ": tag " + tags[i]->info.name + ": " + why);
    }
}

// Tags whose tree could not be used get their keys from the table; the others are corrected.
void Table::correctKeys(std::vector<std::unique_ptr<Tag>>& tags, const std::vector<bool>& recompute,
                        const std::vector<std::vector<KeyChange>>& diffs) const {
    std::vector<Tag*> raw;
    for (size_t i = 0; i < tags.size(); ++i) {
        if (recompute[i]) raw.push_back(tags[i].get());
    }
    auto computed = computeKeys(raw);
    for (size_t i = 0, k = 0; i < tags.size(); ++i) {
        if (recompute[i]) {
            tags[i]->keys.assignSorted(computed[k++]);
            continue;
        }
        for (const KeyChange& c : diffs[i]) {
            if (c.add)
                tags[i]->keys.insert(c.key, c.recno);
            else
                tags[i]->keys.erase(c.key, c.recno);
        }
    }
}

void Table::settleVerifiedIndex(const CdxReader& reader, const CdxPageMap& pages,
                                const std::vector<std::vector<KeyChange>>& diffs, bool rebuild, size_t changed) {
    const std::string& cdx = reader.path();
    const bool stale = rebuild || changed > 0;
    if (readOnly_) {
        if (stale) indexNote_ = io::baseName(cdx) + " did not match the table; its keys were computed from the table";
        return;
    }
    freePages_.clear();
    for (size_t i = 0; i < pages.size(); ++i) {
        if (!pages[i] && (i + 1) * 512 <= reader.size()) freePages_.push_back(uint32_t(i * 512));
    }
    rewriteIndex_ = rebuild || changed > kMaxPendingKeys;
    if (!stale) {
        // Verified: stamp it so the next open can read it as it is.
        restamp();
        return;
    }
    pendingKeys_.clear();
    if (!rewriteIndex_) {
        for (size_t i = 0; i < diffs.size(); ++i)
            pendingKeys_.insert(pendingKeys_.end(), diffs[i].begin(), diffs[i].end());
        indexNote_ = io::baseName(cdx) + " did not match the table (" + std::to_string(changed) +
                     " key change(s)) and was brought up to date";
    } else {
        indexNote_ = io::baseName(cdx) + " did not match the table and was rebuilt";
    }
    indexDirty_ = true;
    indexStamped_ = false;
    writeIndex();
}

// The changes that make the (sound) key lists of the tags equal the table's keys, per tag; a
// tag with more than kMaxPendingKeys differences is marked for recomputing instead. expected
// receives how many keys each tag should have.
std::vector<std::vector<Table::KeyChange>> Table::compareWithTable(std::vector<std::unique_ptr<Tag>>& tags,
                                                                   std::vector<bool>& recompute,
                                                                   std::vector<size_t>& expected) const {
    const uint32_t n = dbf_->recordCount();
    std::vector<std::vector<KeyChange>> diffs(tags.size());
    expected.assign(tags.size(), 0);
    // Where each record's key stands in the list (index + 1; 0 = none); a second entry for one
    // record is surplus.
    std::vector<std::vector<uint32_t>> pos(tags.size());
    for (size_t t = 0; t < tags.size(); ++t) {
        if (recompute[t]) continue;
        pos[t].assign(size_t(n) + 1, 0);
        uint32_t i = 0;
        tags[t]->keys.forEach([&](std::string_view key, uint32_t recno) {
            ++i;
            if (recno > n || pos[t][recno])
                diffs[t].push_back({t, false, std::string(key), recno});
            else
                pos[t][recno] = i;
        });
    }
    // Past this many differences the tag is computed whole instead.
    const auto giveUpWhenTooMany = [&](size_t t) {
        if (diffs[t].size() <= kMaxPendingKeys) return;
        recompute[t] = true;
        diffs[t].clear();
        pos[t].clear();
    };
    evaluateRecords([&](const EvalContext& ctx) {
        const uint32_t r = ctx.recno;
        for (size_t t = 0; t < tags.size(); ++t) {
            const Tag& tag = *tags[t];
            const bool q = !tag.cond || tag.cond->evaluateLogical(ctx);
            expected[t] += q;
            if (recompute[t]) continue;
            const uint32_t p = pos[t][r];
            const std::string_view stored = p ? tag.keys.keyAt(p - 1) : std::string_view();
            if (q) {
                const std::string key = tag.key->key(ctx);
                if (p && stored == key) continue;
                if (p) diffs[t].push_back({t, false, std::string(stored), r});
                diffs[t].push_back({t, true, key, r});
            } else if (p) {
                diffs[t].push_back({t, false, std::string(stored), r});
            }
            giveUpWhenTooMany(t);
        }
    });
    return diffs;
}

// Key changes since the index file was last written, replayed on it in place at the next write.
// Past a few thousand, writing the whole file is cheaper.
void Table::logKeyChange(size_t tag, bool add, const std::string& key, uint32_t recno) {
    if (rewriteIndex_) return;
    if (pendingKeys_.size() >= kMaxPendingKeys) {
        rewriteIndex_ = true;
        pendingKeys_.clear();
        return;
    }
    pendingKeys_.push_back({tag, add, key, recno});
}

CdxStamp Table::currentStamp() const {
    return {dbf_->recordCount(), uint16_t(dbf_->headerLength()), uint16_t(dbf_->recordLength()), dbf_->changedNs(),
            int64_t(std::time(nullptr))};
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
    rewriteIndex_ = true;
    pendingKeys_.clear();
    dbf_->setFlags(uint8_t(dbf_->flags() & ~DbfFile::kFlagStructuralCdx));
    tableChanged_ = true;
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

// Writes the index: the changed keys in place when the file allows it, else the whole file. A
// failure (disk full, an index too large for the format) is not an error of the table: the keys
// stay exact in memory, the failure is reported once, and the write is tried again at the next
// flush or close. A stale file on disk is brought up to date at the next open, which compares
// it with the table. The records go to disk first, so a stamp never describes records that
// could still be lost.
bool Table::writeIndex() {
    if (readOnly_) return false;
    if (tags_.empty()) {
        indexDirty_ = false;
        pendingKeys_.clear();
        return true;
    }
    const std::string path = cdxPath();
    if (!rewriteIndex_ && io::exists(path) && writeIndexInPlace(path)) return true;
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
        // Old pages saved for the file being replaced must never be put back into the new one.
        io::removeFile(CdxUpdater::undoPath(path));
        io::replaceFile(path, image);
        for (size_t i = 0; i < tags_.size(); ++i) tags_[i]->headerOffset = offsets[i];
        indexStamped_ = true;
        tableChanged_ = false;
        rewriteIndex_ = false;
        freePages_.clear();
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

// Only the changed keys, as one step (CdxUpdater::commit). False when the file is not as the
// changes were made against; the caller then writes it whole.
bool Table::writeIndexInPlace(const std::string& path) {
    try {
        if (dbf_->unsynced()) dbf_->sync();
        io::File f;
        f.open(path, false);
        CdxUpdater updater(f, path, freePages_);
        for (const KeyChange& c : pendingKeys_) {
            const Tag& t = *tags_[c.tag];
            if (c.add)
                updater.insert(t.headerOffset, c.key, c.recno, t.pad);
            else
                updater.erase(t.headerOffset, c.key, c.recno, t.pad);
        }
        freePages_ = updater.commit(currentStamp());
        pendingKeys_.clear();
        indexStamped_ = true;
        tableChanged_ = false;
        indexDirty_ = false;
        indexWriteFailed_ = false;
        return true;
    } catch (const EXbError&) {
        rewriteIndex_ = true;
        indexStamped_ = false;
        return false;
    }
}

void Table::replaceTags(const std::vector<TagInfo>& defs) {
    checkWritable();
    std::vector<std::unique_ptr<Tag>> tags;
    for (const TagInfo& d : defs) tags.push_back(makeTag(d.name, d.keyExpression, d.forExpression, d.descending));
    std::vector<Tag*> raw;
    for (auto& t : tags) raw.push_back(t.get());
    auto keys = computeKeys(raw);
    for (size_t i = 0; i < tags.size(); ++i) tags[i]->keys.assignSorted(keys[i]);
    tags_ = std::move(tags);
    ++changes_;
    indexDirty_ = true;
    rewriteIndex_ = true;
    writeIndex();
}

uint32_t Table::recoverExtra(const std::string& extraPath) {
    checkWritable();
    const std::string bytes = io::readFile(extraPath);
    const int len = dbf_->recordLength();
    const uint32_t n = wholeRecords(bytes.size(), len);
    // Records already in the table (a recovery that was interrupted) are known by their bytes;
    // memo blocks in use tell whether a pointer still leads to the record's own memo.
    std::unordered_multimap<uint64_t, uint32_t> present;
    std::set<uint32_t> memoBlocks;
    std::vector<size_t> memoFields;
    for (size_t f = 0; f < dbf_->fields().size(); ++f) {
        if (dbf_->fields()[f].type == FieldType::Memo) memoFields.push_back(f);
    }
    scanRecords([&](uint32_t r, std::string_view rec) {
        present.emplace(hashBytes(rec), r);
        for (size_t f : memoFields) {
            try {
                memoBlocks.insert(FptFile::parsePointer(rec.substr(size_t(fieldOffset(int(f))), 10), ""));
            } catch (const EXbError&) {}
        }
    });
    const auto alreadyThere = [&](const std::string& rec) {
        const auto range = present.equal_range(hashBytes(rec));
        for (auto it = range.first; it != range.second; ++it) {
            if (readRecord(it->second) == rec) return true;
        }
        return false;
    };
    uint32_t added = 0;
    for (uint32_t i = 0; i < n; ++i) {
        std::string rec = bytes.substr(size_t(i) * size_t(len), size_t(len));
        const std::string where = extraPath + ": record " + std::to_string(i + 1) + " of the copy";
        if (rec[0] != ' ' && rec[0] != '*') {
            warn(where + " is not a record (its first byte is not a deletion flag) and was not added");
            continue;
        }
        for (size_t f : memoFields) {
            const size_t at = size_t(fieldOffset(int(f)));
            uint32_t block = 0;
            try {
                block = FptFile::parsePointer(std::string_view(rec).substr(at, 10), "");
                if (block) readMemo(std::string_view(rec).substr(at, 10));
            } catch (const EXbError&) {
                rec.replace(at, 10, FptFile::formatPointer(0));
                warn(where + ", field " + dbf_->fields()[f].name + ": its memo cannot be read and was left empty");
            }
        }
        if (alreadyThere(rec)) continue;
        for (size_t f : memoFields) {
            const size_t at = size_t(fieldOffset(int(f)));
            const uint32_t block = FptFile::parsePointer(std::string_view(rec).substr(at, 10), "");
            if (block && !memoBlocks.insert(block).second) {
                rec.replace(at, 10, FptFile::formatPointer(0));
                warn(where + ", field " + dbf_->fields()[f].name +
                     ": its memo now belongs to another record and was left empty");
            }
        }
        appendRecord(rec);
        present.emplace(hashBytes(rec), recordCount());
        ++added;
    }
    flush();
    io::removeFile(extraPath);
    io::syncDirectoryOf(extraPath);
    return added;
}

void Table::pack() {
    checkWritable();
    syncMemos();
    const std::string fptPathNow = fpt_ ? fpt_->path() : std::string();
    const std::string dbfNew = dbfPath_ + ".new";
    const std::string fptNew = fptPathNow + ".new";
    const std::string marker = dbfPath_ + ".pack";
    const std::vector<std::string> dropped = writePackedCopy(dbfNew, fptNew);
    // Commit point: once the marker exists an interrupted pack is completed at the next open.
    io::replaceFile(marker, "pack\n");
    if (fpt_) io::renameFile(fptNew, fptPathNow);
    io::renameFile(dbfNew, dbfPath_);
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

std::vector<std::string> Table::writePackedCopy(const std::string& dbfNew, const std::string& fptNew) {
    std::unique_ptr<FptFile> newFpt;
    io::File out;
    std::vector<std::string> dropped;
    try {
        if (fpt_) {
            io::removeFile(fptNew);
            FptFile::create(fptNew, fpt_->blockSize());
            newFpt = FptFile::open(fptNew);
        }
        io::removeFile(dbfNew);
        out.create(dbfNew);
        const uint32_t kept = writeLiveRecords(out, newFpt.get(), dropped);
        const std::string header = DbfFile::headerBytes(dbf_->fields(), kept, dbf_->flags());
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
    return dropped;
}

uint32_t Table::writeLiveRecords(io::File& out, FptFile* newFpt, std::vector<std::string>& dropped) const {
    const int len = dbf_->recordLength();
    uint64_t pos = DbfFile::headerBytes(dbf_->fields(), 0, dbf_->flags()).size();
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
            if (newFpt) copyMemos(rec, first + i, *newFpt, dropped);
            chunk += rec;
            ++kept;
        }
        out.writeAt(pos, chunk.data(), chunk.size());
        pos += chunk.size();
    }
    out.writeAt(pos, "\x1A", 1);
    return kept;
}

void Table::copyMemos(std::string& rec, uint32_t recno, FptFile& newFpt, std::vector<std::string>& dropped) const {
    const std::vector<FieldDef>& fields = dbf_->fields();
    const std::vector<int>& offsets = dbf_->offsets();
    for (size_t f = 0; f < fields.size(); ++f) {
        if (fields[f].type != FieldType::Memo) continue;
        std::string data;
        try {
            data = readMemo(std::string_view(rec).substr(size_t(offsets[f]), 10));
        } catch (const EXbError& e) {
            // One unreadable memo must not keep the rest from being packed: the record
            // stays, with that memo empty.
            dropped.push_back("record " + std::to_string(recno) + ", field " + fields[f].name +
                              ": the memo could not be read and was left empty (" + e.what() + ")");
        }
        const std::string ptr = FptFile::formatPointer(data.empty() ? 0 : newFpt.write(data));
        rec.replace(size_t(offsets[f]), 10, ptr);
    }
}

}  // namespace telvane::records
