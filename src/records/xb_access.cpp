// TXbAccess/TXbEnv: the engine's xb_* calls on top of a record set, with results instead of
// exceptions (the message of the last failure is kept in lastError()).
#include "records/xb_access.h"

#include "records/table.h"

#include <algorithm>

namespace telvane::records {

void TXbEnv::xb_SysProp(int property, int value) {
    for (auto& p : props_) {
        if (p.first == property) {
            p.second = value;
            return;
        }
    }
    props_.emplace_back(property, value);
}

int TXbEnv::sysProp(int property) const {
    for (const auto& p : props_) {
        if (p.first == property) return p.second;
    }
    return 0;
}

void TXbAccess::bind(RecordSet& recordSet, TXbEnv* env) {
    rs_ = &recordSet;
    env_ = env;
    if (env_) rs_->setDeletedHidden(env_->deleted);
}

template <class F>
int TXbAccess::guarded(F&& f) const {
    try {
        if (!rs_) throw EXbError("the access object is not bound to a record set");
        f();
        lastError_.clear();
        return 1;
    } catch (const std::exception& e) {
        lastError_ = e.what();
        return 0;
    }
}

int TXbAccess::xb_CreateNew(const std::string& path, const std::string&, int driver, int fieldCount) {
    createFields_.clear();
    createPath_.clear();
    if (driver != kXbDriverFoxPro || fieldCount < 1 || fieldCount > 255) {
        lastError_ = path + ": unsupported driver or field count";
        return 0;
    }
    createPath_ = path;
    createCount_ = fieldCount;
    return 1;
}

int TXbAccess::xb_CreateField(const std::string& name, char type, int width, int decimals) {
    if (createPath_.empty() || int(createFields_.size()) >= createCount_) {
        lastError_ = "xb_CreateField without a matching xb_CreateNew";
        return 0;
    }
    createFields_.push_back({upperCp1252(name), FieldType(type), width, decimals});
    return 1;
}

int TXbAccess::xb_CreateExec() {
    if (createPath_.empty() || int(createFields_.size()) != createCount_) {
        lastError_ = createPath_ + ": the field count does not match xb_CreateNew";
        return 0;
    }
    try {
        Table::create(createPath_, createFields_);
    } catch (const std::exception& e) {
        lastError_ = e.what();
        return 0;
    }
    return 1;
}

int TXbAccess::xb_Close() {
    createPath_.clear();
    createFields_.clear();
    createCount_ = 0;
    return 1;
}

int TXbAccess::xb_IndexTag(const std::string& indexFile, const std::string& tagName, const std::string& keyExpression,
                           int, bool descending, const std::string& forCondition) {
    return guarded([&] { rs_->indexTag(indexFile, tagName, keyExpression, descending, forCondition); });
}

int TXbAccess::xb_TagArea(const std::string& tagName) const { return rs_ ? rs_->tagArea(tagName) : 0; }

int TXbAccess::xbSetOrder(int order) {
    return guarded([&] { rs_->setOrder(order); });
}

int TXbAccess::xb_IndexOrd() const { return rs_ ? rs_->indexOrd() : 0; }

int TXbAccess::xb_CloseIndexes() {
    return guarded([&] { rs_->closeIndexes(); });
}

int TXbAccess::xb_Query(const std::string& expression) {
    return guarded([&] { rs_->setFilter(expression); });
}

long TXbAccess::xb_QueryRecCount() const { return rs_ && rs_->active() ? long(rs_->visibleCount()) : 0; }
long TXbAccess::xb_RecCount() const { return rs_ && rs_->active() ? long(rs_->recCount()) : 0; }
long TXbAccess::xb_RecNo() const { return rs_ && rs_->active() ? long(rs_->recNo()) : 0; }

int TXbAccess::xb_Go(long recno) {
    return guarded([&] {
        if (recno < 1) throw EXbError("there is no record " + std::to_string(recno));
        rs_->go(uint32_t(recno));
    });
}

bool TXbAccess::xb_Deleted() const { return rs_ && rs_->deleted(); }

int TXbAccess::xb_SetDeleted(bool hide) {
    return guarded([&] { rs_->setDeletedHidden(hide); });
}

int TXbAccess::xb_Pack() {
    return guarded([&] { rs_->pack(); });
}

bool TXbAccess::xb_EvalLogical(const std::string& expression) const {
    bool result = false;
    guarded([&] { result = rs_->evalLogical(expression); });
    return result;
}

int TXbAccess::xb_BlobToFile(const std::string& field, const std::string& path) {
    if (!rs_) return 0;
    if (rs_->blobToFile(field, path)) return 1;
    lastError_ = path + ": the memo could not be written to the file";
    return 0;
}

int TXbAccess::xb_Replace(const std::string& field, int dataKind, const std::string& value) {
    return guarded([&] {
        if (dataKind == kXbReplaceFromFile) {
            rs_->replaceFromFile(field, value);
            return;
        }
        const bool editing = rs_->state() == DataSetState::Edit || rs_->state() == DataSetState::Insert;
        if (!editing) rs_->edit();
        rs_->fieldByName(field).setString(value);
        if (!editing) rs_->post();
    });
}

}  // namespace telvane::records
