// The four tables of the fax program: outgoing log TVN.DBF, incoming log TVNREC.DBF, cover
// templates TVNCOV.DBF and phone book TVNPB.DBF. Schemas, tags, open-or-create, creation,
// close-and-reopen, calculated fields, the index rebuild, and the transfer of rich text between
// a memo field and an editor through "Eraseme.rtf". Directories are passed in and end with '/'.
#pragma once

#include "records/record_set.h"
#include "records/xb_access.h"

#include <functional>
#include <string>
#include <vector>

namespace telvane::records {

struct TagSpec {
    std::string name;
    std::string keyExpression;
    bool descending = false;
    std::string forCondition = ".not. deleted()";
};

struct TableSpec {
    std::string fileName;          // e.g. "TVN.DBF"
    std::vector<FieldDef> fields;  // in file order
    std::vector<TagSpec> atOpen;   // tags built when the index file is missing
    std::vector<TagSpec> rebuild;  // tags built by Rebuild Indexes, in this order
    // Column titles of the visible fields (stored or calculated); hidden fields are absent.
    std::vector<std::pair<std::string, std::string>> labels;
};

// Title of a field for grids and dialogs; "" for a hidden field.
std::string fieldLabel(const TableSpec& spec, const std::string& field);

const TableSpec& faxTableSpec();    // TVN.DBF, outgoing log
const TableSpec& recTableSpec();    // TVNREC.DBF, incoming log
const TableSpec& coverTableSpec();  // TVNCOV.DBF
const TableSpec& phoneTableSpec();  // TVNPB.DBF
const std::vector<const TableSpec*>& allTableSpecs();

inline constexpr const char* kNotDeletedFilter = ".not. deleted()";
inline constexpr const char* kMemoTransferFile = "Eraseme.rtf";

// What the logs' two-digit PAGES field can hold of a fax's page count: a longer fax is logged
// with 99 (its file keeps every page), so that storing its record never fails for the length.
constexpr long long pagesForLog(long long pages) { return pages < 0 ? 0 : pages > 99 ? 99 : pages; }

// Index file of a table: the DBF name with its last three characters replaced by "CDX".
std::string indexFileName(const std::string& dbfFileName);

// Creates the empty table in dir; true when the DBF then exists.
bool MakeFaxDBF(const std::string& dir);
bool MakeRecFaxDBF(const std::string& dir);
bool MakeCoverDBF(const std::string& dir);
bool MakePhoneDBF(const std::string& dir);

// Open-or-create; true when the table is open and usable. The record set gets the directory,
// the table, the calculated fields of its table and the filter ".not. deleted()".
bool OpenFaxDBF(const std::string& dir, RecordSet& faxTable, TXbAccess& faxXb);
bool OpenRecFaxDBF(const std::string& dir, RecordSet& recTable, TXbAccess& recXb);
bool OpenCoverDBF(const std::string& dir, RecordSet& coverTable, TXbAccess& coverXb);
bool OpenPhoneDBF(const std::string& dir, RecordSet& phoneTable, TXbAccess& phoneXb);

// Close and reopen a log, going back to the record it was on when it still exists.
// The pump is called between close and open to let pending window messages run (may be empty).
void FaxTableCloseAndOpen(RecordSet& faxTable, TXbAccess& faxXb, const std::function<void()>& pump = {});
void RecTableCloseAndOpen(RecordSet& recTable, TXbAccess& recXb, const std::function<void()>& pump = {});

// Calculation callbacks: SentYesNo and ISDELETED (outgoing), ISDELETED (incoming).
void FaxTableCalcFields(Row& row);
void RecTableCalcFields(Row& row);

// Engine side of Rebuild Indexes for one open table: close its indexes, delete the index file,
// pack (retried once), add the Rebuild tags in order and make the first one the order.
// Progress texts go to say (may be empty). Returns false when a step failed (the rest still runs).
bool rebuildTableIndexes(RecordSet& table, TXbAccess& xb, const TableSpec& spec, const std::string& removingText,
                         const std::string& rebuildingText, const std::function<void(const std::string&)>& say = {});

// What the rich-text control offers to the memo transfer.
class RichTextTarget {
public:
    virtual ~RichTextTarget() = default;
    virtual void clear() = 0;
    virtual bool loadFromFile(const std::string& path) = 0;
    virtual bool saveToFile(const std::string& path) = 0;
    virtual void refresh() {}
};

// Memo of the current record -> editor, through dir + "Eraseme.rtf" (deleted afterwards).
// The editor stays empty when the memo cannot be written out. Returns whether it was loaded.
bool LoadRichText(RichTextTarget& editor, const std::string& memoField, TXbAccess& xb, const std::string& dir);
// Editor -> memo of the current record, through dir + "Eraseme.rtf" (left in place).
bool SaveRichText(RichTextTarget& editor, const std::string& memoField, TXbAccess& xb, const std::string& dir);

}  // namespace telvane::records
