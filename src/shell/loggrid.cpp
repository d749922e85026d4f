// Paging grid model over a record set, and the grid view that keeps the current record in step.
#include "shell/loggrid.h"

#include <QDate>
#include <QHeaderView>
#include <QLocale>

#include <algorithm>

#include "shell/uihelpers.h"

namespace telvane {

using records::FieldType;
using records::RecordSetEvent;

bool HasVisibleRecords(const records::RecordSet& rs) { return rs.active() && rs.visibleCount() > 0; }

bool VisibleRecordsOrBeep(const records::RecordSet& rs) {
    if (HasVisibleRecords(rs)) return true;
    Beep();
    return false;
}

LogTableModel::LogTableModel(records::RecordSet& recordSet, std::vector<LogColumn> columns, QObject* parent)
    : QAbstractTableModel(parent), m_rs(recordSet), m_columns(std::move(columns)) {
    m_listener = m_rs.addListener([this](RecordSetEvent e) { onRecordSetEvent(e); });
    reload();
}

LogTableModel::~LogTableModel() { m_rs.removeListener(m_listener); }

FieldType LogTableModel::typeOf(const std::string& field) const {
    if (m_rs.active())
        for (const auto& f : m_rs.fields())
            if (f.name == field) return f.type;
    return FieldType::Character;
}

void LogTableModel::reload() {
    beginResetModel();
    m_pages.clear();
    m_lru.clear();
    m_rowCount = m_rs.active() ? static_cast<int>(m_rs.visibleCount()) : 0;
    m_types.clear();
    for (const auto& c : m_columns) m_types.push_back(typeOf(c.field));
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
    if (!m_rs.active()) return -1;
    const auto pos = m_rs.position();
    return pos && static_cast<int>(*pos) < m_rowCount ? static_cast<int>(*pos) : -1;
}

int LogTableModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : m_rowCount; }

int LogTableModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(m_columns.size());
}

const records::Row* LogTableModel::rowAt(int row) const {
    if (row < 0 || row >= m_rowCount || !m_rs.active()) return nullptr;
    const int pageNo = row / kPageRows;
    auto it = m_pages.find(pageNo);
    if (it == m_pages.end()) {
        Page page;
        const int first = pageNo * kPageRows;
        const int last = std::min(m_rowCount, first + kPageRows);
        const int visible = static_cast<int>(m_rs.visibleCount());
        page.rows.reserve(last - first);
        try {
            for (int k = first; k < last && k < visible; ++k) page.rows.push_back(m_rs.row(m_rs.recNoAt(k)));
        } catch (const records::EXbError&) {
            // A record that cannot be read shows as an empty row; the next reload reads it again.
        }
        if (static_cast<int>(m_pages.size()) >= kMaxCachedPages) {
            m_pages.erase(m_lru.back());
            m_lru.pop_back();
        }
        m_lru.push_front(pageNo);
        page.lru = m_lru.begin();
        it = m_pages.emplace(pageNo, std::move(page)).first;
    } else {
        m_lru.splice(m_lru.begin(), m_lru, it->second.lru);
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
    if (!index.isValid() || index.column() >= static_cast<int>(m_columns.size())) return {};
    const FieldType type = m_types[index.column()];
    if (role == Qt::TextAlignmentRole) {
        const bool number = type == FieldType::Numeric || type == FieldType::Float;
        return QVariant::fromValue(Qt::AlignVCenter | (number ? Qt::AlignRight : Qt::AlignLeft));
    }
    if (role != Qt::DisplayRole) return {};
    const records::Row* row = rowAt(index.row());
    return row ? displayText(*row, m_columns[index.column()].field, type) : QString();
}

QVariant LogTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || section < 0 || section >= static_cast<int>(m_columns.size())) return {};
    if (role == Qt::DisplayRole) return m_columns[section].label;
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
    m_model = model;
    setModel(model);
    applyColumnWidths();
    connect(model, &LogTableModel::currentRecordMoved, this, &TLogGrid::followRecordSet);
    connect(model, &QAbstractItemModel::modelReset, this, [this] { followRecordSet(m_model->currentRow()); });
    connect(selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this](const QModelIndex& current, const QModelIndex&) {
                if (m_syncing || !current.isValid()) return;
                records::RecordSet& rs = m_model->recordSet();
                if (!rs.active() || m_model->currentRow() == current.row()) return;
                m_syncing = true;
                try {
                    rs.moveTo(static_cast<size_t>(current.row()));
                } catch (const records::EXbError&) {}
                m_syncing = false;
            });
    followRecordSet(model->currentRow());
}

void TLogGrid::followRecordSet(int row) {
    if (m_syncing || !m_model) return;
    m_syncing = true;
    if (row < 0) {
        selectionModel()->clear();
    } else {
        const QModelIndex index = m_model->index(row, 0);
        selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        scrollTo(index);
    }
    m_syncing = false;
}

void TLogGrid::applyColumnWidths() {
    const QFontMetrics fm = fontMetrics();
    const QFontMetrics hm = horizontalHeader()->fontMetrics();
    const int charWidth = fm.averageCharWidth();
    const int digitWidth = fm.horizontalAdvance(QLatin1Char('0'));
    const records::RecordSet& rs = m_model->recordSet();
    const auto& cols = m_model->columns();
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
        if (m_model->columnType(i) == records::FieldType::Date)
            width =
                std::max(width, fm.horizontalAdvance(QLocale().toString(QDate(2000, 12, 28), QLocale::ShortFormat)));
        width = std::max(width, hm.horizontalAdvance(cols[i].label) + 8);
        setColumnWidth(i, width + 12);
    }
}

}  // namespace telvane
