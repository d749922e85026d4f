// Record set over one xBase table: the cursor the windows bind to (FaxTable, RecTable,
// CoverTable, PhoneTable). It walks the visible records in the current order (a tag or the
// physical order), where visible means: not hidden by the deletion setting and true for the
// filter expression. Positions among the visible records are cheap to count and to jump to, so
// a grid can page through a large table without loading it. Edits go through a record buffer
// (append/edit, then post or cancel); field access is by name, typed, in UTF-8 for text.
#pragma once

#include "records/xb_error.h"
#include "records/xb_types.h"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace telvane::records {

class Table;
class Expression;
struct TagInfo;

enum class DataSetState { Inactive, Browse, Edit, Insert };

// A calculated field: not stored, filled by the record set's calculation callback.
struct CalcFieldDef {
    std::string name;
    int width = 1;
};

// Snapshot of one record (its stored and calculated fields) taken when it was read.
class Row {
public:
    uint32_t recNo() const { return recno_; }
    bool deleted() const { return !raw_.empty() && raw_[0] == '*'; }
    bool hasField(std::string_view name) const;

    // Text of any field in UTF-8: C trimmed on the right; N as stored, trimmed; L "T"/"F"/"";
    // D "yyyymmdd" or ""; M the memo (bytes as stored); calculated fields as filled.
    std::string text(std::string_view name) const;
    bool boolean(std::string_view name) const;
    Date date(std::string_view name) const;
    double number(std::string_view name) const;
    long long integer(std::string_view name) const;
    std::string memo(std::string_view name) const;  // raw bytes

    // Used by calculation callbacks.
    void setCalculated(std::string_view name, std::string value);

    const std::string& raw() const { return raw_; }

private:
    friend class RecordSet;
    int fieldIndex(std::string_view name) const;
    const Table* table_ = nullptr;
    uint32_t recno_ = 0;
    std::string raw_;
    std::map<std::string, std::string, std::less<>> calc_;
};

using CalcCallback = std::function<void(Row&)>;

enum class RecordSetEvent {
    DataChanged,   // records or order changed: repaint everything
    Scrolled,      // the current record moved
    StateChanged,  // open/close, edit/insert/browse
};

class RecordSet;

// Typed access to one field of the current record (the edit buffer while editing).
class FieldRef {
public:
    const std::string& name() const;
    FieldType type() const;
    int width() const;
    bool isCalculated() const { return field_ < 0; }

    std::string asString() const;  // as Row::text
    bool asBoolean() const;
    Date asDate() const;
    long long asInteger() const;
    double asFloat() const;
    bool isEmpty() const;

    // Setters need the Edit or Insert state; text longer than the field is cut, a number that
    // does not fit the field raises EXbError.
    void setString(std::string_view utf8);
    void setBoolean(bool value);
    void setDate(const Date& value);
    void setInteger(long long value);
    void setFloat(double value);
    void clear();

private:
    friend class RecordSet;
    FieldRef(RecordSet* rs, int field, std::string calcName) : rs_(rs), field_(field), calcName_(std::move(calcName)) {}
    RecordSet* rs_;
    int field_;             // index into the table's fields, -1 for a calculated field
    std::string calcName_;  // name of the calculated field
};

class RecordSet {
public:
    RecordSet();
    ~RecordSet();
    RecordSet(const RecordSet&) = delete;
    RecordSet& operator=(const RecordSet&) = delete;

    // Where the table lives; set before open. The directory ends with '/'.
    void setDirectory(std::string directory);
    void setTableName(std::string fileName);
    const std::string& directory() const { return directory_; }
    const std::string& tableName() const { return tableName_; }
    std::string path() const;

    // Opens exclusively and goes to the first visible record; the remembered filter and order
    // (by tag name) apply again.
    void open();
    // Posts a pending append or edit, writes the index and closes.
    void close();
    bool active() const { return table_ != nullptr; }
    DataSetState state() const { return state_; }

    // Navigation over visible records in the current order.
    void first();
    void last();
    void next();
    void prior();
    bool bof() const { return bof_; }
    bool eof() const { return eof_; }
    bool isEmpty() const { return visibleCount() == 0; }

    // Physical position. recNo() is recCount() + 1 when there is no current record.
    uint32_t recNo() const;
    // Goes to a record by number, visible or not; throws EXbError when out of range.
    void go(uint32_t recno);
    uint32_t recCount() const;
    uint32_t visibleCount() const;

    // Grid access: the k-th visible record (0-based) in the current order.
    uint32_t recNoAt(size_t k) const;
    std::optional<size_t> position() const;  // of the current record among the visible ones
    void moveTo(size_t k);
    Row row(uint32_t recno) const;  // snapshot with calculated fields filled
    Row currentRow() const;         // the current record (or edit buffer)

    // Editing.
    void append();  // blank record in the buffer, state Insert
    void edit();    // current record into the buffer, state Edit
    void post();    // writes the buffer; the written record becomes current
    void cancel();  // drops the buffer
    // Sets the deletion mark of the current record (posting a pending edit first); when the mark
    // hides the record, the next visible record (else the one before) becomes current.
    void deleteRecord();
    void recall();   // clears the deletion mark of the current record
    void refresh();  // re-reads the table and re-applies the filter, keeping the position

    FieldRef fieldByName(std::string_view name);  // throws EXbError for an unknown name
    std::optional<FieldRef> findField(std::string_view name);
    const std::vector<FieldDef>& fields() const;
    const std::vector<CalcFieldDef>& calcFields() const { return calcDefs_; }
    void setCalcFields(std::vector<CalcFieldDef> defs, CalcCallback onCalc);

    // Index tags (numbered from 1; 0 is physical order).
    // Adds a tag to the table's CDX (the index file argument must be empty or name that CDX)
    // and makes it the current order.
    void indexTag(const std::string& indexFile, const std::string& tagName, const std::string& keyExpression,
                  bool descending, const std::string& forCondition);
    int tagArea(std::string_view tagName) const;  // 0 when absent
    void setOrder(int tag);
    int indexOrd() const { return order_; }
    std::vector<TagInfo> tags() const;
    void closeIndexes();  // drops every tag; physical order

    // Filter; an empty expression shows every record. Remembered across close and open.
    void setFilter(const std::string& expression);
    const std::string& filter() const { return filterText_; }
    // Hiding of marked records (on by default).
    void setDeletedHidden(bool hidden);
    bool deletedHidden() const { return hideDeleted_; }
    bool deleted() const;  // the current record carries the deletion mark
    void pack();

    bool evalLogical(std::string_view expression) const;  // on the current record

    // Memo field <-> file. blobToFile returns false when the file cannot be written or there
    // is no current record. replaceFromFile posts a pending edit, stores the file's bytes as
    // the memo of the current record, and resumes the edit.
    bool blobToFile(std::string_view memoField, const std::string& path);
    void replaceFromFile(std::string_view memoField, const std::string& path);

    // Bound controls: while disabled, listeners are not told; enabling again sends one
    // DataChanged when anything happened meanwhile.
    void disableControls();
    void enableControls();
    bool controlsDisabled() const { return disabled_ > 0; }
    int addListener(std::function<void(RecordSetEvent)> listener);
    void removeListener(int id);

    // The underlying table, for tools and maintenance (nullptr when closed).
    Table* table() const { return table_.get(); }

private:
    friend class FieldRef;
    void requireActive() const;
    void requireEditing() const;
    bool isVisible(uint32_t recno, std::string_view raw) const;
    void rebuildVisibility();
    void ensureOrder() const;
    void invalidateOrder();
    void updateVisibility(uint32_t recno, std::string_view raw);
    void notify(RecordSetEvent e);
    void fillCalc(Row& row) const;
    void compileFilter();
    const std::string& currentRaw() const;
    std::string memoOf(int field) const;
    void moveAfter(uint32_t recno, std::string_view raw, bool forward);
    void settleAfterChange();
    // Sets or clears the deletion mark of the current record (posting a pending change first).
    void markCurrent(bool deleted);

    std::string directory_;
    std::string tableName_;
    std::unique_ptr<Table> table_;
    DataSetState state_ = DataSetState::Inactive;

    int order_ = 0;
    std::string filterText_;
    std::unique_ptr<Expression> filter_;
    bool hideDeleted_ = true;

    std::vector<uint8_t> visible_;  // per record (index recno-1)
    uint32_t visibleCount_ = 0;
    mutable bool orderValid_ = false;
    mutable std::vector<uint32_t> orderList_;  // visible record numbers in the current order
    mutable std::vector<uint32_t> orderPos_;   // recno-1 -> position + 1 (0 = not visible)

    uint32_t current_ = 0;  // 0 = none
    bool bof_ = true;
    bool eof_ = true;
    std::string orderTagName_;  // remembered across close and open
    mutable uint64_t orderChanges_ = ~uint64_t(0);
    mutable uint32_t cacheRecno_ = 0;
    mutable uint64_t cacheChanges_ = ~uint64_t(0);
    mutable std::string cacheRaw_;
    std::string buffer_;  // edit/insert buffer (raw record)
    std::map<std::string, std::string, std::less<>> pendingMemos_;

    std::vector<CalcFieldDef> calcDefs_;
    CalcCallback onCalc_;
    int disabled_ = 0;
    bool pendingNotify_ = false;
    int nextListener_ = 1;
    std::vector<std::pair<int, std::function<void(RecordSetEvent)>>> listeners_;
};

}  // namespace telvane::records
