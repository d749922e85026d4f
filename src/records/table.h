// One open xBase table: the DBF file, its FPT memo file and its structural CDX index.
// The table is opened for exclusive use (an flock on the DBF). Every tag of the CDX is held in
// memory as a sorted key list and kept exact on each append, edit, deletion mark and pack.
// Key changes are written into the CDX in place at flush and close, as one step that a crash
// cannot leave half done (see CdxUpdater); the whole file is written, to a temporary file then
// renamed, when tags are added or rebuilt and at pack. A CDX written either way carries a stamp
// naming the table state it describes, written only once the table and the index are on disk;
// the stamp is cleared before any key of an existing record changes. At open a stamped CDX that
// matches the table is read as it is; any other CDX (after a crash, or written by another
// program) has every tree checked whole and every key compared with the table: differences are
// brought up to date, a damaged tree is rebuilt, so a stale or torn index is never used. The
// DBF header's index flag decides whether the CDX beside it belongs to the table. DBF and FPT
// writes are ordered so that a process killed at any moment leaves every record that was
// posted before, and a flush or close puts everything on disk; pack commits through a marker
// file. Bytes after the last counted record (an append that did not complete) are copied to a
// numbered ".extra" file before they are taken off, and a header that counts records the file
// does not hold (a power cut) is corrected to the records present; both with a warning.
#pragma once

#include "records/cdx_file.h"
#include "records/key_list.h"
#include "records/xb_types.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace telvane::records {

class Expression;
struct EvalContext;
class DbfFile;
class FptFile;
namespace io {
class File;
}

struct TagInfo {
    std::string name;           // upper case
    std::string keyExpression;  // as written by the user
    std::string forExpression;  // empty when there is no FOR condition
    bool descending = false;
    int keyLength = 0;
    char keyType = 'C';  // 'C' character, 'N' numeric, 'D' date, 'L' logical
};

class Table {
public:
    // Creates an empty table (DBF, plus an FPT when a field is a memo). Throws EXbError.
    static void create(const std::string& dbfPath, const std::vector<FieldDef>& fields);
    // Opens a table for exclusive use. Throws EXbError (EXbIndexError for a damaged CDX).
    static std::unique_ptr<Table> open(const std::string& dbfPath);
    // Opens the table without reading its CDX (used to recover from a damaged index).
    static std::unique_ptr<Table> openWithoutIndex(const std::string& dbfPath);
    // Opens the table to read it without changing any file: no recovery, no index rebuild on
    // disk (a stale or damaged index is replaced by keys computed in memory). Changes throw.
    static std::unique_ptr<Table> openForReading(const std::string& dbfPath);
    // Receives every warning of every table (see warnings()); nullptr for none.
    static void setWarningHandler(std::function<void(const std::string&)> handler);
    // Checks DBF, FPT and CDX against each other without changing anything; returns the
    // problems found (empty when they agree). notes (may be nullptr) receives what interrupted
    // work left behind that loses nothing and that the next open for writing settles. Throws
    // EXbError when the DBF cannot be opened.
    static std::vector<std::string> check(const std::string& dbfPath, std::vector<std::string>* notes = nullptr);
    // The copies of bytes found after the last record beside a table ("T.DBF.extra",
    // "T.DBF.extra.2", ...), in the order they were made.
    static std::vector<std::string> extraFiles(const std::string& dbfPath);
    // Finds a file beside another whose name differs only in case; "" when there is none.
    static std::string siblingPath(const std::string& path, const std::string& extension);
    ~Table();
    Table(const Table&) = delete;
    Table& operator=(const Table&) = delete;

    void close();  // writes pending index changes; further use is an error
    void flush();  // writes pending index changes and syncs the files to disk

    const std::string& path() const { return dbfPath_; }
    std::string cdxPath() const;
    std::string fptPath() const;
    const std::vector<FieldDef>& fields() const;
    int fieldIndex(std::string_view name) const;  // -1 when absent; case-insensitive
    int fieldOffset(int index) const;             // byte offset inside a record
    uint32_t recordCount() const;
    int recordLength() const;
    bool hasMemo() const;

    // Raw records: byte 0 is the deletion flag (' ' or '*'), then the fields back to back.
    std::string readRecord(uint32_t recno) const;
    std::string blankRecord() const;
    // Records first..first+count-1 back to back (count * recordLength() bytes).
    void readRange(uint32_t first, uint32_t count, std::string& out) const;
    uint32_t appendRecord(std::string_view record);
    void writeRecord(uint32_t recno, std::string_view record);
    void setDeleted(uint32_t recno, bool deleted);
    bool isDeleted(uint32_t recno) const;

    // Memo text of a memo field value (the 10-character block pointer); "" for no memo.
    std::string readMemo(std::string_view pointerField) const;
    // Stores data as a new memo and returns the 10-character pointer to put in the record.
    std::string writeMemo(std::string_view data);

    // Tags, numbered from 1 in creation order.
    int tagCount() const;
    TagInfo tagInfo(int tag) const;
    int findTag(std::string_view name) const;  // 0 when absent
    const KeyList& tagKeys(int tag) const;
    // Key of a record for a tag, as stored in the index; the record's FOR result in *qualifies.
    std::string tagKey(int tag, std::string_view record, bool* qualifies) const;
    // Adds (or replaces) a tag, fills it from the table and writes the CDX. Returns its number.
    int addTag(const std::string& name, const std::string& keyExpression, const std::string& forExpression,
               bool descending);
    void closeIndexes();  // forgets every tag; the CDX file is left as it is
    void reindex();       // recomputes every tag from the table and writes the CDX
    // Replaces every tag with these (name, key and FOR expressions, order), built from the table
    // and written as one new index file: an interruption leaves the old index in use.
    void replaceTags(const std::vector<TagInfo>& tags);
    void pack();  // removes marked records for good, compacts memos, rebuilds tags
    // Appends the whole records kept in a copy made by extraFiles(), then removes the copy.
    // Records already in the table are not added again, and a memo pointer that no longer
    // leads to a memo of the record's own is cleared (with a warning). Returns the records added.
    uint32_t recoverExtra(const std::string& extraPath);

    // What happened to the index at open, for reports ("" when it was read as it was).
    const std::string& indexNote() const { return indexNote_; }
    // Problems the table worked around without losing data: an index that could not be
    // written (the keys stay in memory and the write is tried again at the next flush or
    // close), a memo dropped by pack because it could not be read, bytes found after the last
    // record. Each is also passed to the warning handler once.
    const std::vector<std::string>& warnings() const { return warnings_; }
    // True while index changes are held only in memory (not yet written, or the write failed).
    bool indexPending() const { return indexDirty_; }
    bool readOnly() const { return readOnly_; }
    // Increases with every change to the records or tags.
    uint64_t changeCount() const { return changes_; }

private:
    struct Tag;
    struct KeyChange {
        size_t tag;
        bool add;
        std::string key;
        uint32_t recno;
    };
    // What check() gathers: problems, and notes on what the next open settles.
    struct Findings {
        std::vector<std::string> problems;
        std::vector<std::string> notes;
    };
    Table();
    void openFiles(const std::string& dbfPath, bool readIndex, bool readOnly, Findings* findings);
    void settleRecordCount(Findings* findings);
    void scanRecords(const std::function<void(uint32_t, std::string_view)>& f) const;
    void evaluateRecords(const std::function<void(const EvalContext&)>& f) const;
    void keepTrailingBytes();
    void checkMemos(std::vector<std::string>& problems) const;
    void warn(const std::string& message);
    void checkWritable() const;
    void syncMemos();
    void persist();
    void restamp();
    void logKeyChange(size_t tag, bool add, const std::string& key, uint32_t recno);
    CdxStamp currentStamp() const;
    void unstampIndex();
    void loadIndex(Findings* findings);
    bool loadTrusted(const CdxReader& reader);
    // What loadVerified learns of each tag's tree.
    struct TreeCheck {
        std::vector<bool> recompute;  // the keys come from the table
        std::vector<bool> damaged;    // the tree's own problems are listed
        std::vector<std::string> why;
    };
    void loadVerified(const CdxReader& reader, Findings* findings);
    // The steps of loadVerified.
    std::vector<std::unique_ptr<Tag>> tagsOf(const CdxReader& reader) const;
    TreeCheck checkTrees(const CdxReader& reader, std::vector<std::unique_ptr<Tag>>& tags, CdxPageMap& pages,
                         Findings* findings) const;
    void noteDifferences(const std::string& cdx, const std::vector<std::unique_ptr<Tag>>& tags, const TreeCheck& check,
                         const std::vector<std::vector<KeyChange>>& diffs, const std::vector<size_t>& expected,
                         Findings& findings) const;
    void correctKeys(std::vector<std::unique_ptr<Tag>>& tags, const std::vector<bool>& recompute,
                     const std::vector<std::vector<KeyChange>>& diffs) const;
    // Brings the file on disk in line with the keys now held: stamps a verified one, else notes and
    // writes the changes (in place, or the whole file); a read-only table only notes them.
    void settleVerifiedIndex(const CdxReader& reader, const CdxPageMap& pages,
                             const std::vector<std::vector<KeyChange>>& diffs, bool rebuild, size_t changed);
    std::vector<std::vector<KeyChange>> compareWithTable(std::vector<std::unique_ptr<Tag>>& tags,
                                                         std::vector<bool>& recompute,
                                                         std::vector<size_t>& expected) const;
    void rebuildKeysFromTable(const std::string& why);
    std::vector<std::vector<std::pair<std::string, uint32_t>>> computeKeys(const std::vector<Tag*>& tags) const;
    std::unique_ptr<Tag> makeTag(const std::string& name, const std::string& keyExpression,
                                 const std::string& forExpression, bool descending) const;
    void fillTag(Tag& tag) const;
    bool writeIndex();
    bool writeIndexInPlace(const std::string& path);
    void insertKeys(uint32_t recno, std::string_view record);
    // The steps of pack. writePackedCopy writes the live records into dbfNew and their memos into
    // fptNew, both synced and closed, and returns the memos that could not be read; when it fails
    // neither file is left and the table is unchanged.
    std::vector<std::string> writePackedCopy(const std::string& dbfNew, const std::string& fptNew);
    // Writes the records not marked deleted after the header, then the end-of-file mark; returns how many.
    uint32_t writeLiveRecords(io::File& out, FptFile* newFpt, std::vector<std::string>& dropped) const;
    // Moves the record's memos into newFpt; one that cannot be read is left empty and noted in dropped.
    void copyMemos(std::string& rec, uint32_t recno, FptFile& newFpt, std::vector<std::string>& dropped) const;
    void checkOpen() const;

    std::string dbfPath_;
    std::unique_ptr<DbfFile> dbf_;
    std::unique_ptr<FptFile> fpt_;
    std::vector<std::unique_ptr<Tag>> tags_;
    bool indexDirty_ = false;
    bool indexWriteFailed_ = false;    // reported; not again until a write succeeds
    bool rewriteIndex_ = true;         // the file on disk cannot be brought up to date in place
    bool indexStamped_ = false;        // the file on disk carries the clean-close stamp
    bool tableChanged_ = false;        // the table file changed since the stamp was written
    std::vector<uint32_t> freePages_;  // pages of the index file that no tree reaches
    std::vector<KeyChange> pendingKeys_;
    bool readOnly_ = false;
    bool memoUnsynced_ = false;
    std::string indexNote_;
    std::vector<std::string> warnings_;
    uint64_t changes_ = 0;
};

}  // namespace telvane::records
