// A read-only grid over a record set that pages its records: the model asks the record set for
// the k-th visible record only when the view paints that row, and keeps a few pages of rows in
// a small cache, so a log of any size opens at once and scrolls smoothly. The grid's current row
// and the record set's current record follow each other.
#pragma once

#include <QAbstractTableModel>
#include <QTableView>

#include <list>
#include <string>
#include <unordered_map>
#include <vector>

#include "records/record_set.h"

namespace telvane::app {

struct LogColumn {
    std::string field;  // stored or calculated field
    QString label;
    int widthChars = 0;   // display width in characters; 0 = the wider of label and field
    bool digits = false;  // mostly digits (measured by the digit width rather than the average character)
};

// The rule for every command that acts on the current record: the record set is open and shows
// at least one record. The second form beeps when it does not.
bool hasVisibleRecords(const records::RecordSet& rs);
bool visibleRecordsOrBeep(const records::RecordSet& rs);

class LogTableModel : public QAbstractTableModel {
    Q_OBJECT
public:
    static constexpr int kPageRows = 64;
    static constexpr int kMaxCachedPages = 24;

    LogTableModel(records::RecordSet& recordSet, std::vector<LogColumn> columns, QObject* parent = nullptr);
    ~LogTableModel() override;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    const std::vector<LogColumn>& columns() const { return columns_; }
    records::RecordSet& recordSet() const { return rs_; }
    records::FieldType columnType(int column) const { return types_.at(column); }
    // Row of the record set's current record; -1 when it has none.
    int currentRow() const;
    // Pages now held in the cache (never more than kMaxCachedPages).
    int cachedPages() const { return static_cast<int>(pages_.size()); }
    // Re-reads the record set (count, order, contents).
    void reload();
    // Display text of a field of a record, as the grid shows it.
    static QString displayText(const records::Row& row, const std::string& field, records::FieldType type);

signals:
    void currentRecordMoved(int row);

private:
    struct Page {
        std::vector<records::Row> rows;
        std::list<int>::iterator lru;
    };
    void onRecordSetEvent(records::RecordSetEvent event);
    const records::Row* rowAt(int row) const;
    records::FieldType typeOf(const std::string& field) const;

    records::RecordSet& rs_;
    std::vector<LogColumn> columns_;
    std::vector<records::FieldType> types_;
    int listener_ = 0;
    int rowCount_ = 0;
    mutable std::unordered_map<int, Page> pages_;
    mutable std::list<int> lru_;  // page numbers, most recently used first
};

// The grid: whole rows selected, no editing, one fixed row height, column widths in characters.
class TLogGrid : public QTableView {
    Q_OBJECT
public:
    explicit TLogGrid(QWidget* parent = nullptr);
    void setLogModel(LogTableModel* model);
    LogTableModel* logModel() const { return model_; }

private:
    void followRecordSet(int row);
    void applyColumnWidths();

    LogTableModel* model_ = nullptr;
    bool syncing_ = false;
};

}  // namespace telvane::app
