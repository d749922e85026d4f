// Record set: visibility per record, a lazily rebuilt list of visible records in the current
// order (rebuilt only after the table changed), navigation, the edit buffer and field access.
#include "records/record_set.h"

#include "records/expression.h"
#include "records/file_io.h"
#include "records/fpt_file.h"
#include "records/table.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <exception>
#include <iterator>

namespace telvane::records {

namespace {

std::string rtrimmed(std::string_view s) {
    size_t n = s.size();
    while (n > 0 && (s[n - 1] == ' ' || s[n - 1] == '\0')) --n;
    return std::string(s.substr(0, n));
}

std::string trimmed(std::string_view s) {
    std::string r = rtrimmed(s);
    size_t i = 0;
    while (i < r.size() && r[i] == ' ') ++i;
    return r.substr(i);
}

double parseNumeric(std::string_view s) {
    const std::string t = trimmed(s);
    if (t.empty()) return 0;
    double v = 0;
    const char* b = t.data();
    if (*b == '+') ++b;
    const auto r = std::from_chars(b, t.data() + t.size(), v);
    return r.ec == std::errc() ? v : 0;
}

bool parseLogical(char c) { return c == 'T' || c == 't' || c == 'Y' || c == 'y'; }

std::string formatNumeric(double v, const FieldDef& f) {
    if (!std::isfinite(v)) throw EXbError("field " + f.name + ": not a finite number");
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.*f", f.decimals, v);
    std::string s = buf;
    if (s.find_first_not_of("-0.") == std::string::npos && s[0] == '-') s.erase(0, 1);
    if (int(s.size()) > f.width)
        throw EXbError("the value " + s + " does not fit field " + f.name + " (width " + std::to_string(f.width) + ")");
    return std::string(size_t(f.width) - s.size(), ' ') + s;
}

// Text of a stored field for display and typed reading.
std::string fieldText(const Table& t, int index, std::string_view raw) {
    const FieldDef& f = t.fields()[size_t(index)];
    const std::string_view v = raw.substr(size_t(t.fieldOffset(index)), size_t(f.width));
    switch (f.type) {
    case FieldType::Character: return cp1252ToUtf8(rtrimmed(v));
    case FieldType::Numeric:
    case FieldType::Float: return trimmed(v);
    case FieldType::Logical: return v[0] == ' ' || v[0] == '?' ? std::string() : (parseLogical(v[0]) ? "T" : "F");
    case FieldType::Date: {
        const Date d = Date::fromDtos(v);
        return d.isEmpty() ? std::string() : d.dtos();
    }
    case FieldType::Memo: return t.readMemo(v);
    }
    return {};
}

}  // namespace

// --- Row -------------------------------------------------------------------------------------

int Row::fieldIndex(std::string_view name) const { return table_ ? table_->fieldIndex(name) : -1; }

bool Row::hasField(std::string_view name) const {
    return fieldIndex(name) >= 0 || calc_.find(upperCp1252(name)) != calc_.end();
}

std::string Row::text(std::string_view name) const {
    const int i = fieldIndex(name);
    if (i >= 0) return fieldText(*table_, i, raw_);
    const auto it = calc_.find(upperCp1252(name));
    if (it != calc_.end()) return it->second;
    throw EXbError("no field " + std::string(name));
}

bool Row::boolean(std::string_view name) const {
    const int i = fieldIndex(name);
    if (i < 0) throw EXbError("no field " + std::string(name));
    return parseLogical(raw_[size_t(table_->fieldOffset(i))]);
}

Date Row::date(std::string_view name) const {
    const int i = fieldIndex(name);
    if (i < 0) throw EXbError("no field " + std::string(name));
    return Date::fromDtos(std::string_view(raw_).substr(size_t(table_->fieldOffset(i)), 8));
}

double Row::number(std::string_view name) const {
    const int i = fieldIndex(name);
    if (i < 0) throw EXbError("no field " + std::string(name));
    return parseNumeric(
        std::string_view(raw_).substr(size_t(table_->fieldOffset(i)), size_t(table_->fields()[size_t(i)].width)));
}

long long Row::integer(std::string_view name) const { return std::llround(number(name)); }

std::string Row::memo(std::string_view name) const {
    const int i = fieldIndex(name);
    if (i < 0 || table_->fields()[size_t(i)].type != FieldType::Memo)
        throw EXbError("no memo field " + std::string(name));
    return table_->readMemo(std::string_view(raw_).substr(size_t(table_->fieldOffset(i)), 10));
}

void Row::setCalculated(std::string_view name, std::string value) { calc_[upperCp1252(name)] = std::move(value); }

// --- FieldRef --------------------------------------------------------------------------------

const std::string& FieldRef::name() const { return field_ < 0 ? calcName_ : rs_->fields()[size_t(field_)].name; }

FieldType FieldRef::type() const { return field_ < 0 ? FieldType::Character : rs_->fields()[size_t(field_)].type; }

int FieldRef::width() const {
    if (field_ >= 0) return rs_->fields()[size_t(field_)].width;
    for (const auto& c : rs_->calcDefs_) {
        if (c.name == calcName_) return c.width;
    }
    return 0;
}

std::string FieldRef::asString() const {
    if (field_ < 0) return rs_->currentRow().text(calcName_);
    if (type() == FieldType::Memo) return rs_->memoOf(field_);
    return fieldText(*rs_->table_, field_, rs_->currentRaw());
}

bool FieldRef::asBoolean() const {
    if (field_ < 0) return false;
    return parseLogical(rs_->currentRaw()[size_t(rs_->table_->fieldOffset(field_))]);
}

Date FieldRef::asDate() const {
    if (field_ < 0 || type() != FieldType::Date) return {};
    return Date::fromDtos(std::string_view(rs_->currentRaw()).substr(size_t(rs_->table_->fieldOffset(field_)), 8));
}

double FieldRef::asFloat() const {
    if (field_ < 0) return parseNumeric(asString());
    if (type() == FieldType::Numeric || type() == FieldType::Float)
        return parseNumeric(
            std::string_view(rs_->currentRaw()).substr(size_t(rs_->table_->fieldOffset(field_)), size_t(width())));
    return parseNumeric(asString());
}

long long FieldRef::asInteger() const { return std::llround(asFloat()); }

bool FieldRef::isEmpty() const {
    if (field_ < 0) return trimmed(asString()).empty();
    if (type() == FieldType::Memo) return rs_->memoOf(field_).empty();
    const std::string_view v =
        std::string_view(rs_->currentRaw()).substr(size_t(rs_->table_->fieldOffset(field_)), size_t(width()));
    return v.find_first_not_of(' ') == std::string_view::npos;
}

void FieldRef::setString(std::string_view utf8) {
    rs_->requireEditing();
    if (field_ < 0) throw EXbError("field " + calcName_ + " is calculated and cannot be set");
    const FieldDef& f = rs_->fields()[size_t(field_)];
    std::string value;
    switch (f.type) {
    case FieldType::Character:
        value = utf8ToCp1252(utf8);
        value.resize(size_t(f.width), ' ');
        break;
    case FieldType::Numeric:
    case FieldType::Float: {
        const std::string t = trimmed(utf8);
        if (t.empty()) {
            value.assign(size_t(f.width), ' ');
        } else {
            double v = 0;
            const char* b = t.data() + (t[0] == '+' ? 1 : 0);
            const auto r = std::from_chars(b, t.data() + t.size(), v);
            if (r.ec != std::errc() || r.ptr != t.data() + t.size())
                throw EXbError("field " + f.name + ": \"" + t + "\" is not a number");
            value = formatNumeric(v, f);
        }
        break;
    }
    case FieldType::Logical: {
        const std::string t = trimmed(utf8);
        value = t.empty() ? " " : (parseLogical(t[0]) ? "T" : "F");
        break;
    }
    case FieldType::Date: {
        const std::string t = trimmed(utf8);
        const Date d = t.empty() ? Date{} : (t.find('/') != std::string::npos ? Date::fromMdy(t) : Date::fromDtos(t));
        if (!t.empty() && d.isEmpty()) throw EXbError("field " + f.name + ": \"" + t + "\" is not a date");
        value = d.dtos();
        break;
    }
    case FieldType::Memo: rs_->pendingMemos_[f.name] = std::string(utf8); return;
    }
    rs_->buffer_.replace(size_t(rs_->table_->fieldOffset(field_)), size_t(f.width), value);
}

void FieldRef::setBoolean(bool value) { setString(value ? "T" : "F"); }
void FieldRef::setDate(const Date& value) { setString(value.isEmpty() ? std::string() : value.dtos()); }

void FieldRef::setInteger(long long value) { setString(std::to_string(value)); }

void FieldRef::setFloat(double value) {
    rs_->requireEditing();
    if (field_ < 0) throw EXbError("field " + calcName_ + " is calculated and cannot be set");
    const FieldDef& f = rs_->fields()[size_t(field_)];
    if (f.type != FieldType::Numeric && f.type != FieldType::Float) {
        setString(std::to_string(value));
        return;
    }
    rs_->buffer_.replace(size_t(rs_->table_->fieldOffset(field_)), size_t(f.width), formatNumeric(value, f));
}

void FieldRef::clear() { setString(""); }

// --- RecordSet -------------------------------------------------------------------------------

RecordSet::RecordSet() = default;

RecordSet::~RecordSet() {
    try {
        close();
    } catch (const EXbError&) {
        // Destruction cannot report; the files keep what was last written.
    }
}

void RecordSet::setDirectory(std::string directory) {
    if (!directory.empty() && directory.back() != '/') directory += '/';
    directory_ = std::move(directory);
}

void RecordSet::setTableName(std::string fileName) { tableName_ = std::move(fileName); }

std::string RecordSet::path() const { return directory_ + tableName_; }

void RecordSet::requireActive() const {
    if (!table_) throw EXbError(path() + ": the table is not open");
}

void RecordSet::requireEditing() const {
    requireActive();
    if (state_ != DataSetState::Edit && state_ != DataSetState::Insert)
        throw EXbError(path() + ": the record set is not in edit or append mode");
}

void RecordSet::open() {
    if (table_) return;
    table_ = Table::open(path());
    state_ = DataSetState::Browse;
    order_ = orderTagName_.empty() ? 0 : table_->findTag(orderTagName_);
    try {
        compileFilter();
    } catch (const EXbError&) {
        filterText_.clear();
        filter_.reset();
    }
    rebuildVisibility();
    first();
    notify(RecordSetEvent::StateChanged);
}

void RecordSet::close() {
    if (!table_) return;
    if (state_ == DataSetState::Edit || state_ == DataSetState::Insert) post();
    // The set is closed even when the last writes fail (the error is passed on).
    const std::unique_ptr<Table> closing = std::move(table_);
    std::exception_ptr failure;
    try {
        closing->close();
    } catch (const EXbError&) {
        failure = std::current_exception();
    }
    state_ = DataSetState::Inactive;
    filter_.reset();
    visible_.clear();
    orderList_.clear();
    orderPos_.clear();
    orderValid_ = false;
    current_ = 0;
    bof_ = eof_ = true;
    cacheRecno_ = 0;
    notify(RecordSetEvent::StateChanged);
    if (failure) std::rethrow_exception(failure);
}

void RecordSet::compileFilter() {
    filter_.reset();
    if (filterText_.empty()) return;
    auto e = Expression::compile(filterText_, table_->fields(), [&] {
        std::vector<int> offs;
        for (size_t i = 0; i < table_->fields().size(); ++i) offs.push_back(table_->fieldOffset(int(i)));
        return offs;
    }());
    if (e->type() != ValueType::Logical)
        throw EXbExpressionError(filterText_, 0, "a filter must be a logical expression");
    filter_ = std::move(e);
}

bool RecordSet::isVisible(uint32_t recno, std::string_view raw) const {
    if (hideDeleted_ && raw[0] == '*') return false;
    if (!filter_) return true;
    EvalContext ctx;
    ctx.record = raw.data();
    ctx.recno = recno;
    ctx.memoReader = [this](int, std::string_view p) { return table_->readMemo(p); };
    return filter_->evaluateLogical(ctx);
}

void RecordSet::rebuildVisibility() {
    const uint32_t n = table_->recordCount();
    visible_.assign(n, 0);
    visibleCount_ = 0;
    const int len = table_->recordLength();
    std::string batch;
    for (uint32_t first = 1; first <= n; first += 4096) {
        const uint32_t count = std::min<uint32_t>(4096, n - first + 1);
        table_->readRange(first, count, batch);
        for (uint32_t i = 0; i < count; ++i) {
            const bool v = isVisible(first + i, std::string_view(batch).substr(size_t(i) * size_t(len), size_t(len)));
            visible_[first + i - 1] = v;
            visibleCount_ += v;
        }
    }
    invalidateOrder();
}

void RecordSet::updateVisibility(uint32_t recno, std::string_view raw) {
    if (visible_.size() < recno) visible_.resize(recno, 0);
    const bool v = isVisible(recno, raw);
    if (v != bool(visible_[recno - 1])) {
        visibleCount_ += v ? 1 : uint32_t(-1);
        visible_[recno - 1] = v;
    }
    invalidateOrder();
}

void RecordSet::invalidateOrder() { orderValid_ = false; }

void RecordSet::ensureOrder() const {
    if (orderValid_ && orderChanges_ == table_->changeCount()) return;
    orderList_.clear();
    if (order_ == 0) {
        orderList_.reserve(visibleCount_);
        for (uint32_t r = 1; r <= visible_.size(); ++r) {
            if (visible_[r - 1]) orderList_.push_back(r);
        }
    } else {
        const KeyList& keys = table_->tagKeys(order_);
        orderList_.reserve(keys.size());
        keys.forEach([&](std::string_view, uint32_t r) {
            if (r <= visible_.size() && visible_[r - 1]) orderList_.push_back(r);
        });
        if (table_->tagInfo(order_).descending) std::reverse(orderList_.begin(), orderList_.end());
    }
    orderPos_.assign(visible_.size(), 0);
    for (size_t i = 0; i < orderList_.size(); ++i) orderPos_[orderList_[i] - 1] = uint32_t(i + 1);
    orderValid_ = true;
    orderChanges_ = table_->changeCount();
}

void RecordSet::notify(RecordSetEvent e) {
    if (disabled_ > 0) {
        pendingNotify_ = true;
        return;
    }
    const auto copy = listeners_;
    for (const auto& [id, f] : copy) f(e);
}

void RecordSet::first() {
    requireActive();
    if (state_ != DataSetState::Browse) post();
    ensureOrder();
    bof_ = true;
    eof_ = orderList_.empty();
    current_ = orderList_.empty() ? 0 : orderList_.front();
    notify(RecordSetEvent::Scrolled);
}

void RecordSet::last() {
    requireActive();
    if (state_ != DataSetState::Browse) post();
    ensureOrder();
    bof_ = orderList_.empty();
    current_ = orderList_.empty() ? 0 : orderList_.back();
    eof_ = orderList_.empty();
    notify(RecordSetEvent::Scrolled);
}

// Moves to the visible record that follows (or precedes) where recno stands in the order,
// for a current record that is no longer visible.
void RecordSet::moveAfter(uint32_t recno, std::string_view raw, bool forward) {
    ensureOrder();
    uint32_t target = 0;
    if (order_ == 0) {
        auto it = std::lower_bound(orderList_.begin(), orderList_.end(), recno);
        if (forward) {
            if (it != orderList_.end())
                target = *it == recno ? (std::next(it) != orderList_.end() ? *std::next(it) : 0) : *it;
        } else if (it != orderList_.begin()) {
            target = *std::prev(it);
        }
    } else {
        const KeyList& keys = table_->tagKeys(order_);
        const bool up = forward != table_->tagInfo(order_).descending;
        const std::string key = table_->tagKey(order_, raw, nullptr);
        size_t i = keys.lowerBound(key, recno);
        if (up) {
            for (; i < keys.size(); ++i) {
                const uint32_t r = keys.recnoAt(i);
                if (r != recno && r <= orderPos_.size() && orderPos_[r - 1]) {
                    target = r;
                    break;
                }
            }
        } else {
            while (i > 0) {
                const uint32_t r = keys.recnoAt(--i);
                if (r != recno && r <= orderPos_.size() && orderPos_[r - 1]) {
                    target = r;
                    break;
                }
            }
        }
    }
    if (target) {
        current_ = target;
        bof_ = eof_ = false;
    } else if (forward) {
        current_ = 0;
        eof_ = true;
    } else {
        bof_ = true;
        current_ = orderList_.empty() ? 0 : orderList_.front();
        eof_ = orderList_.empty();
    }
}

void RecordSet::next() {
    requireActive();
    if (state_ != DataSetState::Browse) post();
    if (eof_ || current_ == 0) {
        eof_ = true;
        current_ = 0;
        return;
    }
    ensureOrder();
    const uint32_t pos = current_ <= orderPos_.size() ? orderPos_[current_ - 1] : 0;
    if (pos == 0) {
        moveAfter(current_, table_->readRecord(current_), true);
    } else if (pos < orderList_.size()) {
        current_ = orderList_[pos];
        bof_ = false;
    } else {
        current_ = 0;
        eof_ = true;
    }
    notify(RecordSetEvent::Scrolled);
}

void RecordSet::prior() {
    requireActive();
    if (state_ != DataSetState::Browse) post();
    ensureOrder();
    if (orderList_.empty()) {
        bof_ = eof_ = true;
        current_ = 0;
        return;
    }
    if (current_ == 0) {
        current_ = orderList_.back();
        eof_ = bof_ = false;
        notify(RecordSetEvent::Scrolled);
        return;
    }
    const uint32_t pos = current_ <= orderPos_.size() ? orderPos_[current_ - 1] : 0;
    if (pos == 0) {
        moveAfter(current_, table_->readRecord(current_), false);
    } else if (pos > 1) {
        current_ = orderList_[pos - 2];
        eof_ = false;
    } else {
        bof_ = true;
    }
    notify(RecordSetEvent::Scrolled);
}

uint32_t RecordSet::recNo() const {
    if (!table_) return 1;
    if (state_ == DataSetState::Insert || current_ == 0) return table_->recordCount() + 1;
    return current_;
}

void RecordSet::go(uint32_t recno) {
    requireActive();
    if (state_ != DataSetState::Browse) post();
    const uint32_t n = table_->recordCount();
    if (recno == n + 1) {
        current_ = 0;
        eof_ = true;
    } else if (recno >= 1 && recno <= n) {
        current_ = recno;
        bof_ = eof_ = false;
    } else {
        throw EXbError(path() + ": there is no record " + std::to_string(recno));
    }
    notify(RecordSetEvent::Scrolled);
}

uint32_t RecordSet::recCount() const { return table_ ? table_->recordCount() : 0; }

uint32_t RecordSet::visibleCount() const {
    if (!table_) return 0;
    ensureOrder();
    return uint32_t(orderList_.size());
}

uint32_t RecordSet::recNoAt(size_t k) const {
    requireActive();
    ensureOrder();
    if (k >= orderList_.size()) throw EXbError(path() + ": no visible record at position " + std::to_string(k));
    return orderList_[k];
}

std::optional<size_t> RecordSet::position() const {
    if (!table_ || current_ == 0) return std::nullopt;
    ensureOrder();
    if (current_ > orderPos_.size() || orderPos_[current_ - 1] == 0) return std::nullopt;
    return size_t(orderPos_[current_ - 1] - 1);
}

void RecordSet::moveTo(size_t k) {
    const uint32_t r = recNoAt(k);
    if (state_ != DataSetState::Browse) post();
    current_ = r;
    bof_ = k == 0;
    eof_ = false;
    notify(RecordSetEvent::Scrolled);
}

void RecordSet::fillCalc(Row& row) const {
    for (const auto& c : calcDefs_) row.calc_[c.name] = std::string();
    if (onCalc_) onCalc_(row);
}

Row RecordSet::row(uint32_t recno) const {
    requireActive();
    Row r;
    r.table_ = table_.get();
    r.recno_ = recno;
    r.raw_ = table_->readRecord(recno);
    fillCalc(r);
    return r;
}

const std::string& RecordSet::currentRaw() const {
    requireActive();
    if (state_ == DataSetState::Edit || state_ == DataSetState::Insert) return buffer_;
    if (current_ == 0) {
        cacheRaw_ = table_->blankRecord();
        cacheRecno_ = 0;
        return cacheRaw_;
    }
    if (cacheRecno_ != current_ || cacheChanges_ != table_->changeCount()) {
        cacheRaw_ = table_->readRecord(current_);
        cacheRecno_ = current_;
        cacheChanges_ = table_->changeCount();
    }
    return cacheRaw_;
}

std::string RecordSet::memoOf(int field) const {
    const FieldDef& f = table_->fields()[size_t(field)];
    const auto it = pendingMemos_.find(f.name);
    if ((state_ == DataSetState::Edit || state_ == DataSetState::Insert) && it != pendingMemos_.end())
        return it->second;
    return table_->readMemo(std::string_view(currentRaw()).substr(size_t(table_->fieldOffset(field)), 10));
}

Row RecordSet::currentRow() const {
    requireActive();
    Row r;
    r.table_ = table_.get();
    r.recno_ = recNo();
    r.raw_ = currentRaw();
    fillCalc(r);
    return r;
}

void RecordSet::append() {
    requireActive();
    if (state_ != DataSetState::Browse) post();
    buffer_ = table_->blankRecord();
    pendingMemos_.clear();
    state_ = DataSetState::Insert;
    notify(RecordSetEvent::StateChanged);
}

void RecordSet::edit() {
    requireActive();
    if (state_ == DataSetState::Edit || state_ == DataSetState::Insert) return;
    if (current_ == 0) throw EXbError(path() + ": there is no current record to edit");
    buffer_ = table_->readRecord(current_);
    pendingMemos_.clear();
    state_ = DataSetState::Edit;
    notify(RecordSetEvent::StateChanged);
}

void RecordSet::post() {
    requireActive();
    if (state_ != DataSetState::Edit && state_ != DataSetState::Insert) return;
    // Memos first: the record that points at them is written last.
    for (const auto& [name, data] : pendingMemos_) {
        const int i = table_->fieldIndex(name);
        buffer_.replace(size_t(table_->fieldOffset(i)), 10, table_->writeMemo(data));
    }
    pendingMemos_.clear();
    if (state_ == DataSetState::Insert) {
        current_ = table_->appendRecord(buffer_);
    } else {
        table_->writeRecord(current_, buffer_);
    }
    updateVisibility(current_, buffer_);
    state_ = DataSetState::Browse;
    bof_ = eof_ = false;
    notify(RecordSetEvent::DataChanged);
}

void RecordSet::cancel() {
    if (state_ != DataSetState::Edit && state_ != DataSetState::Insert) return;
    pendingMemos_.clear();
    buffer_.clear();
    state_ = DataSetState::Browse;
    notify(RecordSetEvent::StateChanged);
}

void RecordSet::settleAfterChange() {
    // After a change that may have hidden the current record, move to the next visible one.
    ensureOrder();
    if (current_ == 0) return;
    if (current_ <= orderPos_.size() && orderPos_[current_ - 1]) return;
    const std::string raw = table_->readRecord(current_);
    const uint32_t was = current_;
    moveAfter(was, raw, true);
    if (current_ == 0 && !orderList_.empty()) {
        moveAfter(was, raw, false);
        eof_ = false;
    }
}

void RecordSet::markCurrent(bool deleted) {
    requireActive();
    if (state_ != DataSetState::Browse) post();
    if (current_ == 0) throw EXbError(path() + ": there is no current record to " + (deleted ? "delete" : "recall"));
    table_->setDeleted(current_, deleted);
    updateVisibility(current_, table_->readRecord(current_));
}

void RecordSet::deleteRecord() {
    markCurrent(true);
    settleAfterChange();
    notify(RecordSetEvent::DataChanged);
}

void RecordSet::recall() {
    markCurrent(false);
    notify(RecordSetEvent::DataChanged);
}

void RecordSet::refresh() {
    requireActive();
    if (state_ != DataSetState::Browse) post();
    rebuildVisibility();
    if (current_ > table_->recordCount()) current_ = 0;
    settleAfterChange();
    notify(RecordSetEvent::DataChanged);
}

FieldRef RecordSet::fieldByName(std::string_view name) {
    auto f = findField(name);
    if (!f) throw EXbError(path() + ": no field named " + std::string(name));
    return *f;
}

std::optional<FieldRef> RecordSet::findField(std::string_view name) {
    requireActive();
    const int i = table_->fieldIndex(name);
    if (i >= 0) return FieldRef(this, i, {});
    const std::string upper = upperCp1252(name);
    for (const auto& c : calcDefs_) {
        if (c.name == upper) return FieldRef(this, -1, c.name);
    }
    return std::nullopt;
}

const std::vector<FieldDef>& RecordSet::fields() const {
    requireActive();
    return table_->fields();
}

void RecordSet::setCalcFields(std::vector<CalcFieldDef> defs, CalcCallback onCalc) {
    for (auto& d : defs) d.name = upperCp1252(d.name);
    calcDefs_ = std::move(defs);
    onCalc_ = std::move(onCalc);
}

void RecordSet::indexTag(const std::string& indexFile, const std::string& tagName, const std::string& keyExpression,
                         bool descending, const std::string& forCondition) {
    requireActive();
    if (!indexFile.empty() && upperCp1252(indexFile) != upperCp1252(table_->cdxPath()) &&
        upperCp1252(indexFile) != upperCp1252(table_->cdxPath().substr(table_->cdxPath().rfind('/') + 1)))
        throw EXbError(indexFile + ": only the table's own compound index is supported");
    if (state_ != DataSetState::Browse) post();
    const int n = table_->addTag(tagName, keyExpression, forCondition, descending);
    setOrder(n);
}

int RecordSet::tagArea(std::string_view tagName) const { return table_ ? table_->findTag(tagName) : 0; }

void RecordSet::setOrder(int tag) {
    requireActive();
    if (tag < 0 || tag > table_->tagCount()) throw EXbError(path() + ": there is no tag number " + std::to_string(tag));
    order_ = tag;
    orderTagName_ = tag ? table_->tagInfo(tag).name : std::string();
    invalidateOrder();
    notify(RecordSetEvent::DataChanged);
}

std::vector<TagInfo> RecordSet::tags() const {
    std::vector<TagInfo> out;
    if (!table_) return out;
    for (int i = 1; i <= table_->tagCount(); ++i) out.push_back(table_->tagInfo(i));
    return out;
}

void RecordSet::closeIndexes() {
    requireActive();
    table_->closeIndexes();
    order_ = 0;
    orderTagName_.clear();
    invalidateOrder();
}

void RecordSet::setFilter(const std::string& expression) {
    const std::string old = filterText_;
    filterText_ = expression;
    if (!table_) return;
    try {
        compileFilter();
    } catch (const EXbError&) {
        filterText_ = old;
        compileFilter();
        throw;
    }
    rebuildVisibility();
    settleAfterChange();
    notify(RecordSetEvent::DataChanged);
}

void RecordSet::setDeletedHidden(bool hidden) {
    hideDeleted_ = hidden;
    if (!table_) return;
    rebuildVisibility();
    settleAfterChange();
    notify(RecordSetEvent::DataChanged);
}

bool RecordSet::deleted() const {
    if (!table_ || current_ == 0) return false;
    return currentRaw()[0] == '*';
}

void RecordSet::pack() {
    requireActive();
    if (state_ != DataSetState::Browse) post();
    table_->pack();
    rebuildVisibility();
    first();
    notify(RecordSetEvent::DataChanged);
}

bool RecordSet::evalLogical(std::string_view expression) const {
    requireActive();
    std::vector<int> offs;
    for (size_t i = 0; i < table_->fields().size(); ++i) offs.push_back(table_->fieldOffset(int(i)));
    const auto e = Expression::compile(expression, table_->fields(), offs);
    EvalContext ctx;
    const std::string& raw = currentRaw();
    ctx.record = raw.data();
    ctx.recno = recNo();
    ctx.memoReader = [this](int field, std::string_view) { return memoOf(field); };
    return e->evaluateLogical(ctx);
}

bool RecordSet::blobToFile(std::string_view memoField, const std::string& path) {
    if (!table_ || (current_ == 0 && state_ != DataSetState::Insert)) return false;
    const int i = table_->fieldIndex(memoField);
    if (i < 0 || table_->fields()[size_t(i)].type != FieldType::Memo) return false;
    std::string data;
    try {
        data = memoOf(i);
    } catch (const EXbError&) {
        return false;
    }
    // A new file each time: a leftover is removed first (a link planted under the name is
    // removed, not written through).
    try {
        io::removeFile(path);
        io::File out;
        out.create(path);
        out.writeAt(0, data.data(), data.size());
        return true;
    } catch (const EXbError&) {
        return false;
    }
}

void RecordSet::replaceFromFile(std::string_view memoField, const std::string& path) {
    requireActive();
    const int i = table_->fieldIndex(memoField);
    if (i < 0 || table_->fields()[size_t(i)].type != FieldType::Memo)
        throw EXbError(this->path() + ": no memo field named " + std::string(memoField));
    std::string data = io::readFile(path);
    const bool resume = state_ == DataSetState::Edit || state_ == DataSetState::Insert;
    post();
    edit();
    pendingMemos_[table_->fields()[size_t(i)].name] = std::move(data);
    post();
    if (resume) edit();
}

void RecordSet::disableControls() { ++disabled_; }

void RecordSet::enableControls() {
    if (disabled_ > 0 && --disabled_ == 0 && pendingNotify_) {
        pendingNotify_ = false;
        notify(RecordSetEvent::DataChanged);
    }
}

int RecordSet::addListener(std::function<void(RecordSetEvent)> listener) {
    listeners_.emplace_back(nextListener_, std::move(listener));
    return nextListener_++;
}

void RecordSet::removeListener(int id) {
    listeners_.erase(
        std::remove_if(listeners_.begin(), listeners_.end(), [id](const auto& p) { return p.first == id; }),
        listeners_.end());
}

}  // namespace telvane::records
