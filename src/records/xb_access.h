// TXbAccess and TXbEnv: the xBase engine's own calls, under their xb_* names, for what a
// record set lacks (tags, order, filter, counts, deletion, pack, expressions, memo files).
// A TXbAccess is bound to one record set; TXbEnv holds the engine-wide settings. The calls
// report failure by their results, as the engine's functions do, and never throw, except where
// noted; the last error text is kept for messages.
#pragma once

#include "records/record_set.h"

#include <string>
#include <vector>

namespace telvane::records {

class TXbEnv {
public:
    // Engine-wide properties; 1009 is accepted and kept (it governs nothing here).
    void xb_SysProp(int property, int value);
    int sysProp(int property) const;
    // The "Deleted" setting: marked records are hidden in record sets opened afterwards.
    bool deleted = true;

private:
    std::vector<std::pair<int, int>> props_;
};

// Data kind of xb_Replace that means "the value is the name of a file to read".
constexpr int kXbReplaceFromFile = 8192;
// Driver number of xb_CreateNew: FoxPro-style DBF with CDX and FPT.
constexpr int kXbDriverFoxPro = 2;

class TXbAccess {
public:
    TXbAccess() = default;
    // Binding applies the environment's "Deleted" setting to the record set.
    explicit TXbAccess(RecordSet& recordSet, TXbEnv* env = nullptr) { bind(recordSet, env); }
    void bind(RecordSet& recordSet, TXbEnv* env = nullptr);
    RecordSet* recordSet() const { return rs_; }
    TXbEnv* env() const { return env_; }

    // Table creation: xb_CreateNew, then xb_CreateField per field, xb_CreateExec, xb_Close.
    int xb_CreateNew(const std::string& path, const std::string& alias, int driver, int fieldCount);
    int xb_CreateField(const std::string& name, char type, int width, int decimals);
    int xb_CreateExec();
    int xb_Close();

    // Index tags. indexFile "" = the table's own CDX. Nonzero on success; the tag becomes the order.
    int xb_IndexTag(const std::string& indexFile, const std::string& tagName, const std::string& keyExpression,
                    int option, bool descending, const std::string& forCondition);
    int xb_TagArea(const std::string& tagName) const;
    int xbSetOrder(int order);
    int xb_IndexOrd() const;
    int xb_CloseIndexes();

    int xb_Query(const std::string& expression);
    long xb_QueryRecCount() const;
    long xb_RecCount() const;
    long xb_RecNo() const;
    int xb_Go(long recno);

    bool xb_Deleted() const;
    int xb_SetDeleted(bool hide);
    int xb_Pack();
    bool xb_EvalLogical(const std::string& expression) const;

    int xb_BlobToFile(const std::string& field, const std::string& path);
    int xb_Replace(const std::string& field, int dataKind, const std::string& value);

    const std::string& lastError() const { return lastError_; }
    // Keeps the reason of a failure met on this object's behalf (opening its table).
    void noteError(std::string message) { lastError_ = std::move(message); }

private:
    template <class F>
    int guarded(F&& f) const;

    RecordSet* rs_ = nullptr;
    TXbEnv* env_ = nullptr;
    mutable std::string lastError_;
    std::string createPath_;
    int createCount_ = 0;
    std::vector<FieldDef> createFields_;
};

}  // namespace telvane::records
