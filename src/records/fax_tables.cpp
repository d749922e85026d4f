// The four fax tables: schemas, open-or-create, close-and-reopen, calculated fields, the index
// rebuild of one table, and the memo <-> rich-text transfer through "Eraseme.rtf".
#include "records/fax_tables.h"

#include "records/file_io.h"
#include "records/table.h"

#include <cstdio>
#include <dirent.h>

namespace telvane::records {

namespace {

using FT = FieldType;

// The file in dir whose name equals name without regard to case; name itself when none.
std::string resolveName(const std::string& dir, const std::string& name) {
    if (io::exists(dir + name)) return name;
    DIR* d = ::opendir(dir.empty() ? "." : dir.c_str());
    if (!d) return name;
    std::string found = name;
    const std::string wanted = upperCp1252(name);
    while (dirent* e = ::readdir(d)) {
        if (upperCp1252(e->d_name) == wanted) {
            found = e->d_name;
            break;
        }
    }
    ::closedir(d);
    return found;
}

// Creates the table through xb, whose last error then tells why creation failed.
bool makeTable(const std::string& dir, const TableSpec& spec, TXbAccess& xb) {
    const std::string path = dir + spec.fileName;
    if (!xb.xb_CreateNew(path, "XXXXXXXXXX", kXbDriverFoxPro, int(spec.fields.size()))) return false;
    for (const auto& f : spec.fields) {
        if (!xb.xb_CreateField(f.name, char(f.type), f.width, f.decimals)) return false;
    }
    const bool built = xb.xb_CreateExec() != 0;
    xb.xb_Close();
    return built && io::exists(path);
}

bool makeTable(const std::string& dir, const TableSpec& spec) {
    TXbAccess xb;
    return makeTable(dir, spec, xb);
}

bool openTable(const std::string& dir, const TableSpec& spec, RecordSet& rs, TXbAccess& xb, bool reopen) {
    std::string d = dir;
    if (!d.empty() && d.back() != '/') d += '/';
    rs.setDirectory(d);
    rs.setTableName(resolveName(d, spec.fileName));
    if (!io::exists(rs.path())) {
        if (!makeTable(d, spec, xb)) return false;
        rs.setTableName(spec.fileName);
    }
    try {
        if (reopen) rs.close();
        try {
            rs.open();
        } catch (const EXbIndexError& e) {
            // A damaged index cannot be trusted or repaired in place: keep it aside for
            // support and build a new one from the table below.
            std::rename(e.file().c_str(), (e.file() + ".bad").c_str());
            rs.open();
        }
    } catch (const std::exception& e) {
        xb.noteError(e.what());
        return false;
    }
    xb.bind(rs, xb.env());
    if (rs.tags().empty()) {
        for (const auto& t : spec.atOpen) xb.xb_IndexTag("", t.name, t.keyExpression, 0, t.descending, t.forCondition);
    }
    if (&spec == &faxTableSpec()) {
        try {
            rs.first();
        } catch (const EXbError&) {
            // Errors after the open are not reported; the table is used as it is.
        }
    } else if (&spec == &coverTableSpec() || &spec == &phoneTableSpec()) {
        xb.xbSetOrder(xb.xb_TagArea(spec.atOpen.front().name));
    }
    xb.xb_Query(kNotDeletedFilter);
    if (&spec == &faxTableSpec()) {
        try {
            rs.refresh();
        } catch (const EXbError&) {
            // As above: the table stays usable in whatever state it has.
        }
    }
    return true;
}

void closeAndOpen(RecordSet& rs, TXbAccess& xb, const std::function<void()>& pump) {
    const uint32_t noted = rs.recNo();
    rs.disableControls();
    try {
        rs.close();
    } catch (const EXbError&) {
        // The close wrote what it could; the reopen verifies the files.
    }
    if (pump) pump();
    try {
        rs.open();
        xb.xb_Query(kNotDeletedFilter);
        // A record that is gone leaves the log at its end; show the first record instead of none.
        if (!xb.xb_Go(long(noted)) || rs.recNo() == rs.recCount() + 1) rs.first();
    } catch (const EXbError&) {
        // A failed reopen leaves the record set closed, which the caller sees as no records.
    }
    rs.enableControls();
}

std::vector<FieldDef> faxFields() {
    return {{"SUBJECT", FT::Character, 50, 0}, {"SENT", FT::Logical, 1, 0},           {"DATESENT", FT::Date, 8, 0},
            {"TIMESENT", FT::Character, 5, 0}, {"RECIPIENT", FT::Character, 35, 0},   {"PHONE", FT::Character, 25, 0},
            {"PAGES", FT::Numeric, 2, 0},      {"LASTRESULT", FT::Character, 100, 0}, {"RTFCOVER", FT::Memo, 10, 0},
            {"RTFDOC", FT::Memo, 10, 0}};
}

}  // namespace

const TableSpec& faxTableSpec() {
    static const TableSpec spec{"TVN.DBF",
                                faxFields(),
                                {{"DATESENT", "DTOS(DATESENT)+TIMESENT", true}},
                                {{"DATESENT", "datesent", true},
                                 {"DATEND", "DTOS(DATESENT)+TIMESENT", false},
                                 {"SUBJECT", "UPPER(SUBJECT)", false},
                                 {"RECIPIENT", "UPPER(RECIPIENT)", false}},
                                {{"SUBJECT", "Subject"},
                                 {"DATESENT", "Date Sent"},
                                 {"TIMESENT", "Time Sent"},
                                 {"RECIPIENT", "Recipient"},
                                 {"PHONE", "Phone"},
                                 {"PAGES", "Pages"},
                                 {"LASTRESULT", "Last Attempt"},
                                 {"SentYesNo", "Sent"}}};
    return spec;
}

const TableSpec& recTableSpec() {
    static const TableSpec spec{"TVNREC.DBF",
                                {{"DATEREC", FT::Date, 8, 0},
                                 {"TIMEREC", FT::Character, 5, 0},
                                 {"FROM", FT::Character, 20, 0},
                                 {"PAGES", FT::Numeric, 2, 0},
                                 {"FAXFILE", FT::Character, 12, 0},
                                 {"NOTES", FT::Character, 60, 0}},
                                {{"DATETIME", "DTOS(DATEREC)+TIMEREC", true}},
                                {{"DATETIME", "DTOS(DATEREC)+TIMEREC", true},
                                 {"DATEND", "DTOS(DATEREC)+TIMEREC", false},
                                 {"FROM", "UPPER(FROM)", true}},
                                {{"DATEREC", "Date Rec'd"},
                                 {"TIMEREC", "Time Rec'd"},
                                 {"FROM", "From"},
                                 {"PAGES", "Pages"},
                                 {"FAXFILE", "Fax File"},
                                 {"NOTES", "Notes"}}};
    return spec;
}

const TableSpec& coverTableSpec() {
    static const TableSpec spec{"TVNCOV.DBF",
                                {{"DESCRIPT", FT::Character, 35, 0}, {"COVER", FT::Memo, 10, 0}},
                                {{"DESCRIPT", "DESCRIPT", false}},
                                {{"DESCRIPT", "DESCRIPT", false}},
                                {{"DESCRIPT", "Description"}}};
    return spec;
}

const TableSpec& phoneTableSpec() {
    static const TableSpec spec{"TVNPB.DBF",
                                {{"NAME", FT::Character, 35, 0}, {"PHONE", FT::Character, 25, 0}},
                                {{"NAME", "UPPER(NAME)", false}},
                                {{"NAME", "UPPER(NAME)", false}},
                                {{"NAME", "Name"}, {"PHONE", "Fax #"}}};
    return spec;
}

const std::vector<const TableSpec*>& allTableSpecs() {
    static const std::vector<const TableSpec*> all{&faxTableSpec(), &recTableSpec(), &coverTableSpec(),
                                                   &phoneTableSpec()};
    return all;
}

std::string fieldLabel(const TableSpec& spec, const std::string& field) {
    const std::string wanted = upperCp1252(field);
    for (const auto& [name, label] : spec.labels) {
        if (upperCp1252(name) == wanted) return label;
    }
    return "";
}

std::string indexFileName(const std::string& dbfFileName) {
    if (dbfFileName.size() < 3) return dbfFileName + "CDX";
    return dbfFileName.substr(0, dbfFileName.size() - 3) + "CDX";
}

bool MakeFaxDBF(const std::string& dir) { return makeTable(dir, faxTableSpec()); }
bool MakeRecFaxDBF(const std::string& dir) { return makeTable(dir, recTableSpec()); }
bool MakeCoverDBF(const std::string& dir) { return makeTable(dir, coverTableSpec()); }
bool MakePhoneDBF(const std::string& dir) { return makeTable(dir, phoneTableSpec()); }

bool OpenFaxDBF(const std::string& dir, RecordSet& faxTable, TXbAccess& faxXb) {
    faxTable.setCalcFields({{"SentYesNo", 3}, {"ISDELETED", 3}}, FaxTableCalcFields);
    return openTable(dir, faxTableSpec(), faxTable, faxXb, true);
}

bool OpenRecFaxDBF(const std::string& dir, RecordSet& recTable, TXbAccess& recXb) {
    recTable.setCalcFields({{"ISDELETED", 3}}, RecTableCalcFields);
    return openTable(dir, recTableSpec(), recTable, recXb, true);
}

bool OpenCoverDBF(const std::string& dir, RecordSet& coverTable, TXbAccess& coverXb) {
    return openTable(dir, coverTableSpec(), coverTable, coverXb, false);
}

bool OpenPhoneDBF(const std::string& dir, RecordSet& phoneTable, TXbAccess& phoneXb) {
    return openTable(dir, phoneTableSpec(), phoneTable, phoneXb, false);
}

void FaxTableCloseAndOpen(RecordSet& faxTable, TXbAccess& faxXb, const std::function<void()>& pump) {
    closeAndOpen(faxTable, faxXb, pump);
}

void RecTableCloseAndOpen(RecordSet& recTable, TXbAccess& recXb, const std::function<void()>& pump) {
    closeAndOpen(recTable, recXb, pump);
}

void FaxTableCalcFields(Row& row) {
    row.setCalculated("SentYesNo", row.boolean("SENT") ? "Yes" : "No ");
    row.setCalculated("ISDELETED", row.deleted() ? "Yes" : "No ");
}

void RecTableCalcFields(Row& row) { row.setCalculated("ISDELETED", row.deleted() ? "Yes" : "No "); }

bool rebuildTableIndexes(RecordSet& table, TXbAccess& xb, const TableSpec& spec, const std::string& removingText,
                         const std::string& rebuildingText, const std::function<void(const std::string&)>& say) {
    if (!table.active()) return false;
    bool ok = true;
    if (say) say(removingText);
    const std::string cdx = table.table()->cdxPath();
    ok = xb.xb_CloseIndexes() && ok;
    try {
        io::removeFile(cdx);
    } catch (const EXbError&) {
        ok = false;
    }
    if (!xb.xb_Pack() && !xb.xb_Pack()) ok = false;
    if (say) say(rebuildingText);
    for (const auto& t : spec.rebuild) {
        ok = xb.xb_IndexTag("", t.name, t.keyExpression, 0, t.descending, t.forCondition) && ok;
    }
    ok = xb.xbSetOrder(xb.xb_TagArea(spec.rebuild.front().name)) && ok;
    return ok;
}

bool LoadRichText(RichTextTarget& editor, const std::string& memoField, TXbAccess& xb, const std::string& dir) {
    editor.clear();
    const std::string path = dir + kMemoTransferFile;
    if (!xb.xb_BlobToFile(memoField, path)) return false;
    const bool loaded = editor.loadFromFile(path);
    editor.refresh();
    std::remove(path.c_str());
    return loaded;
}

bool SaveRichText(RichTextTarget& editor, const std::string& memoField, TXbAccess& xb, const std::string& dir) {
    const std::string path = dir + kMemoTransferFile;
    if (!editor.saveToFile(path)) return false;
    return xb.xb_Replace(memoField, kXbReplaceFromFile, path) != 0;
}

}  // namespace telvane::records
