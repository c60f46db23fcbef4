#pragma once
// ResultModel: the rows of the result table, one per rank shown, each with
// its entry: the byte path (location + name), the name and location, the
// score and its measure text, and, once read from the file system, the
// entry's details (kind, date, time, attributes, size).
//
// The rows come in two steps.  setEntries takes the ranks as the list holds
// them (no file-system call) and gives them a new generation; their details
// are read elsewhere (off the window's thread) and come in with setDetails.
// Until then a row shows name, location and measure, and the details its
// entry had in the rows before, if it was there.
//
// Order: by rank (the list's order, the default), or by one column, rising
// or falling; rows that tie keep their rank order.  Size, Date and Time sort
// by the byte count and the time of the last change; rows with nothing to
// sort by in the column (a directory's size, an entry not read yet or gone)
// come last in either direction.
//
// How the rows change, for a view that marks rows by their number:
//   setEntries  a new set of rows: rows are removed or inserted at the end
//               to the new count, then every row's data changes in place;
//   sort, and setDetails when the order changes: the rows move
//               (layoutChanged, persistent indexes follow their rows).
// A model without entries has one empty row: the table always shows a data
// row below its header.

#include <QAbstractTableModel>
#include <QStringList>

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "search/result_row.h"

namespace toka {

class ResultModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column { FileColumn, LocationColumn, DateColumn, TimeColumn, AttribsColumn, SizeColumn, MeasureColumn };
    static constexpr int kColumnCount = 7;
    /// The "column" of the ranks' order.
    static constexpr int kRankOrder = -1;

    enum Role {
        PathRole = Qt::UserRole, ///< QByteArray: location + name; empty for the empty row
        DirectoryRole,           ///< bool: the entry is a directory (its row is drawn bold)
        /// What the column sorts by: QString (File, Location, Attribs),
        /// qint64 (Size: bytes; Date, Time: seconds since the epoch),
        /// double (Measure: the score); invalid where there is nothing to
        /// sort by.
        SortKeyRole,
        RankRole, ///< int: the rank 1..; 0 for the empty row
    };

    explicit ResultModel(QObject* parent = nullptr);

    /// "File", "Location", "Date", "Time", "Attribs", "Size", "Measure".
    static QStringList columnHeaders();

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    bool setHeaderData(int section, Qt::Orientation orientation, const QVariant& value,
                       int role = Qt::EditRole) override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    /// Orders the rows by column (kRankOrder: by rank; order is then
    /// ignored) and keeps that order through every later change.
    void sort(int column, Qt::SortOrder order = Qt::AscendingOrder) override;
    int sortColumn() const { return m_sortColumn; }
    Qt::SortOrder sortOrder() const { return m_sortOrder; }

    /// Replaces the rows by entries (best rank first) and returns their
    /// generation, which setDetails names.
    std::uint64_t setEntries(std::vector<RankedEntry> entries);
    /// Details read for paths (location + name) on behalf of generation:
    /// every row of such a path shows them, unless it has details of a later
    /// generation already.
    void setDetails(std::uint64_t generation, const std::vector<std::pair<std::string, EntryDetails>>& details);
    /// The generation of the rows now shown.
    std::uint64_t generation() const { return m_generation; }
    /// Whether every row's details were read for the rows now shown (true
    /// without entries).
    bool detailsComplete() const;

private:
    struct Row {
        RankedEntry entry;
        QString name;     ///< shown
        QString location; ///< shown
        std::optional<EntryDetails> details;
        std::uint64_t detailsGeneration = 0;
    };

    const Row* rowAt(int row) const;
    QVariant sortKey(const Row& row, int column) const;
    /// The rows' order (indexes into m_rows) for the chosen column and order.
    std::vector<int> sortedOrder() const;
    /// Moves the rows to sortedOrder() as a layout change.
    void reorder();
    void emitAllChanged();

    std::vector<Row> m_rows;  ///< rank order
    std::vector<int> m_shown; ///< row r of the model shows m_rows[m_shown[r]]
    QStringList m_headers;
    std::uint64_t m_generation = 0;
    int m_sortColumn = kRankOrder;
    Qt::SortOrder m_sortOrder = Qt::AscendingOrder;
};

} // namespace toka
