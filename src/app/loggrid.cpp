// Paging grid model over a record set, and the grid view that keeps the current record in step.
#include "app/loggrid.h"

#include <QDate>
#include <QHeaderView>
#include <QLocale>

#include <algorithm>

#include "app/uihelpers.h"

namespace telvane::app {

using records::FieldType;
using records::RecordSetEvent;

bool hasVisibleRecords(const records::RecordSet& rs) { return rs.active() && rs.visibleCount() > 0; }

bool visibleRecordsOrBeep(const records::RecordSet& rs) {
    if (hasVisibleRecords(rs)) return true;
    soundBeep();
    return false;
}

LogTableModel::LogTableModel(records::RecordSet& recordSet, std::vector<LogColumn> columns, QObject* parent)
    : QAbstractTableModel(parent), rs_(recordSet), columns_(std::move(columns)) {
    listener_ = rs_.addListener([this](RecordSetEvent e) { onRecordSetEvent(e); });
    reload();
}

LogTableModel::~LogTableModel() { rs_.removeListener(listener_); }

FieldType LogTableModel::typeOf(const std::string& field) const {
    if (rs_.active())
        for (const auto& f : rs_.fields())
            if (f.name == field) return f.type;
    return FieldType::Character;
}

void LogTableModel::reload() {
    beginResetModel();
    pages_.clear();
    lru_.clear();
    rowCount_ = rs_.active() ? static_cast<int>(rs_.visibleCount()) : 0;
    types_.clear();
    for (const auto& c : columns_) types_.push_back(typeOf(c.field));
    endResetModel();
    emit currentRecordMoved(currentRow());
}

void LogTableModel::onRecordSetEvent(RecordSetEvent event) {
    if (event == RecordSetEvent::Scrolled) {
        emit currentRecordMoved(currentRow());
        return;
    }
    reload();
}

int LogTableModel::currentRow() const {
    if (!rs_.active()) return -1;
    const auto pos = rs_.position();
    return pos && static_cast<int>(*pos) < rowCount_ ? static_cast<int>(*pos) : -1;
}

int LogTableModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : rowCount_; }

int LogTableModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(columns_.size());
}

const records::Row* LogTableModel::rowAt(int row) const {
    if (row < 0 || row >= rowCount_ || !rs_.active()) return nullptr;
    const int pageNo = row / kPageRows;
    auto it = pages_.find(pageNo);
    if (it == pages_.end()) {
        Page page;
        const int first = pageNo * kPageRows;
        const int last = std::min(rowCount_, first + kPageRows);
        const int visible = static_cast<int>(rs_.visibleCount());
        page.rows.reserve(last - first);
        try {
            for (int k = first; k < last && k < visible; ++k) page.rows.push_back(rs_.row(rs_.recNoAt(k)));
        } catch (const records::EXbError&) {
            // A record that cannot be read shows as an empty row; the next reload reads it again.
        }
        if (static_cast<int>(pages_.size()) >= kMaxCachedPages) {
            pages_.erase(lru_.back());
            lru_.pop_back();
        }
        lru_.push_front(pageNo);
        page.lru = lru_.begin();
        it = pages_.emplace(pageNo, std::move(page)).first;
    } else {
        lru_.splice(lru_.begin(), lru_, it->second.lru);
    }
    const size_t offset = static_cast<size_t>(row - pageNo * kPageRows);
    return offset < it->second.rows.size() ? &it->second.rows[offset] : nullptr;
}

QString LogTableModel::displayText(const records::Row& row, const std::string& field, FieldType type) {
    if (!row.hasField(field)) return {};
    switch (type) {
    case FieldType::Date: {
        const records::Date d = row.date(field);
        const QDate qd(d.year, d.month, d.day);
        return d.isEmpty() || !qd.isValid() ? QString() : QLocale().toString(qd, QLocale::ShortFormat);
    }
    case FieldType::Logical: return row.boolean(field) ? QStringLiteral("Yes") : QStringLiteral("No");
    default: return QString::fromStdString(row.text(field));
    }
}

QVariant LogTableModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.column() >= static_cast<int>(columns_.size())) return {};
    const FieldType type = types_[index.column()];
    if (role == Qt::TextAlignmentRole) {
        const bool number = type == FieldType::Numeric || type == FieldType::Float;
        return QVariant::fromValue(Qt::AlignVCenter | (number ? Qt::AlignRight : Qt::AlignLeft));
    }
    if (role != Qt::DisplayRole) return {};
    const records::Row* row = rowAt(index.row());
    return row ? displayText(*row, columns_[index.column()].field, type) : QString();
}

QVariant LogTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || section < 0 || section >= static_cast<int>(columns_.size())) return {};
    if (role == Qt::DisplayRole) return columns_[section].label;
    return {};
}

TLogGrid::TLogGrid(QWidget* parent) : QTableView(parent) {
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setAlternatingRowColors(true);
    setWordWrap(false);
    setCornerButtonEnabled(false);
    setTabKeyNavigation(false);
    verticalHeader()->hide();
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
    horizontalHeader()->setHighlightSections(false);
    horizontalHeader()->setSectionsMovable(false);
    horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    horizontalHeader()->setStretchLastSection(true);
    setVerticalScrollMode(QAbstractItemView::ScrollPerItem);
}

void TLogGrid::setLogModel(LogTableModel* model) {
    model_ = model;
    setModel(model);
    applyColumnWidths();
    connect(model, &LogTableModel::currentRecordMoved, this, &TLogGrid::followRecordSet);
    connect(model, &QAbstractItemModel::modelReset, this, [this] { followRecordSet(model_->currentRow()); });
    connect(selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this](const QModelIndex& current, const QModelIndex&) {
                if (syncing_ || !current.isValid()) return;
                records::RecordSet& rs = model_->recordSet();
                if (!rs.active() || model_->currentRow() == current.row()) return;
                syncing_ = true;
                try {
                    rs.moveTo(static_cast<size_t>(current.row()));
                } catch (const records::EXbError&) {}
                syncing_ = false;
            });
    followRecordSet(model->currentRow());
}

void TLogGrid::followRecordSet(int row) {
    if (syncing_ || !model_) return;
    syncing_ = true;
    if (row < 0) {
        selectionModel()->clear();
    } else {
        const QModelIndex index = model_->index(row, 0);
        selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        scrollTo(index);
    }
    syncing_ = false;
}

void TLogGrid::applyColumnWidths() {
    const QFontMetrics fm = fontMetrics();
    const QFontMetrics hm = horizontalHeader()->fontMetrics();
    const int charWidth = fm.averageCharWidth();
    const int digitWidth = fm.horizontalAdvance(QLatin1Char('0'));
    const records::RecordSet& rs = model_->recordSet();
    const auto& cols = model_->columns();
    for (int i = 0; i < static_cast<int>(cols.size()); ++i) {
        int chars = cols[i].widthChars;
        if (chars == 0 && rs.active()) {
            for (const auto& f : rs.fields())
                if (f.name == cols[i].field) chars = f.width;
            for (const auto& c : rs.calcFields())
                if (c.name == cols[i].field) chars = c.width;
        }
        int width = chars * (cols[i].digits ? digitWidth : charWidth);
        // Dates are shown in the user's format, which may be wider than the stored eight digits.
        if (model_->columnType(i) == records::FieldType::Date)
            width =
                std::max(width, fm.horizontalAdvance(QLocale().toString(QDate(2000, 12, 28), QLocale::ShortFormat)));
        width = std::max(width, hm.horizontalAdvance(cols[i].label) + 8);
        setColumnWidth(i, width + 12);
    }
}

}  // namespace telvane::app
