#include "ui/logic/result_model.h"

#include <algorithm>
#include <numeric>
#include <unordered_map>

#include "ui/logic/display_text.h"

namespace toka {

namespace {

// -1, 0 or 1 for two keys of one column (both valid, of the same type).
int compareKeys(const QVariant& a, const QVariant& b) {
    if (a.typeId() == QMetaType::QString) {
        const QString x = a.toString();
        const QString y = b.toString();
        // Letters first without their case, so "b" stays between "A" and "C".
        if (const int folded = x.compare(y, Qt::CaseInsensitive)) return folded < 0 ? -1 : 1;
        const int exact = x.compare(y, Qt::CaseSensitive);
        return exact < 0 ? -1 : exact > 0 ? 1 : 0;
    }
    if (a.typeId() == QMetaType::Double) {
        const double x = a.toDouble();
        const double y = b.toDouble();
        return x < y ? -1 : x > y ? 1 : 0;
    }
    const qint64 x = a.toLongLong();
    const qint64 y = b.toLongLong();
    return x < y ? -1 : x > y ? 1 : 0;
}

QString textOf(const std::string& text) { return QString::fromStdString(text); }

} // namespace

ResultModel::ResultModel(QObject* parent) : QAbstractTableModel(parent), m_headers(columnHeaders()) {}

QStringList ResultModel::columnHeaders() { return {"File", "Location", "Date", "Time", "Attribs", "Size", "Measure"}; }

int ResultModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : std::max(1, static_cast<int>(m_rows.size()));
}

int ResultModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : kColumnCount; }

const ResultModel::Row* ResultModel::rowAt(int row) const {
    if (row < 0 || row >= static_cast<int>(m_shown.size())) return nullptr;
    return &m_rows[static_cast<std::size_t>(m_shown[static_cast<std::size_t>(row)])];
}

QVariant ResultModel::data(const QModelIndex& index, int role) const {
    if (!checkIndex(index, CheckIndexOption::IndexIsValid)) return {};
    const Row* row = rowAt(index.row());
    if (!row) {
        // The empty row of a model without entries.
        if (role == Qt::DisplayRole) return QString();
        if (role == PathRole) return QByteArray();
        if (role == DirectoryRole) return false;
        if (role == RankRole) return 0;
        return {};
    }
    switch (role) {
    case Qt::DisplayRole: {
        const EntryDetails* details = row->details ? &*row->details : nullptr;
        switch (index.column()) {
        case FileColumn:
            return row->name;
        case LocationColumn:
            return row->location;
        case DateColumn:
            return details ? textOf(details->date) : QString();
        case TimeColumn:
            return details ? textOf(details->time) : QString();
        case AttribsColumn:
            return details ? textOf(details->attributes) : QString();
        case SizeColumn:
            return details ? textOf(details->size) : QString();
        case MeasureColumn:
            return textOf(row->entry.measure);
        default:
            return {};
        }
    }
    case PathRole:
        return QByteArray::fromStdString(row->entry.path());
    case DirectoryRole:
        return row->details && row->details->directory;
    case SortKeyRole:
        return sortKey(*row, index.column());
    case RankRole:
        return static_cast<int>(row - m_rows.data()) + 1;
    default:
        return {};
    }
}

QVariant ResultModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || section < 0 || section >= kColumnCount
        || (role != Qt::DisplayRole && role != Qt::EditRole))
        return {};
    return m_headers.value(section);
}

bool ResultModel::setHeaderData(int section, Qt::Orientation orientation, const QVariant& value, int role) {
    if (orientation != Qt::Horizontal || section < 0 || section >= kColumnCount
        || (role != Qt::DisplayRole && role != Qt::EditRole))
        return false;
    m_headers[section] = value.toString();
    emit headerDataChanged(orientation, section, section);
    return true;
}

Qt::ItemFlags ResultModel::flags(const QModelIndex& index) const {
    return index.isValid() ? Qt::ItemIsEnabled | Qt::ItemIsSelectable : Qt::NoItemFlags;
}

QVariant ResultModel::sortKey(const Row& row, int column) const {
    const EntryDetails* details = row.details ? &*row.details : nullptr;
    switch (column) {
    case FileColumn:
        return row.name;
    case LocationColumn:
        return row.location;
    case DateColumn:
    case TimeColumn:
        if (details && details->changed) return static_cast<qint64>(*details->changed);
        return {};
    case AttribsColumn:
        if (details && !details->attributes.empty()) return textOf(details->attributes);
        return {};
    case SizeColumn:
        if (details && details->bytes) return static_cast<qint64>(*details->bytes);
        return {};
    case MeasureColumn:
        return static_cast<double>(row.entry.score.value());
    default:
        return {};
    }
}

std::vector<int> ResultModel::sortedOrder() const {
    std::vector<int> order(m_rows.size());
    std::iota(order.begin(), order.end(), 0);
    if (m_sortColumn == kRankOrder) return order;
    std::vector<QVariant> keys;
    keys.reserve(m_rows.size());
    for (const Row& row : m_rows) keys.push_back(sortKey(row, m_sortColumn));
    const bool falling = m_sortOrder == Qt::DescendingOrder;
    // Stable, and the order starts as the ranks': ties keep their ranks.
    std::stable_sort(order.begin(), order.end(), [&](int a, int b) {
        const QVariant& x = keys[static_cast<std::size_t>(a)];
        const QVariant& y = keys[static_cast<std::size_t>(b)];
        if (!x.isValid() || !y.isValid()) return x.isValid() && !y.isValid();
        const int compared = compareKeys(x, y);
        return falling ? compared > 0 : compared < 0;
    });
    return order;
}

void ResultModel::reorder() {
    std::vector<int> order = sortedOrder();
    if (order == m_shown) return;
    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    std::vector<int> newRowOf(m_rows.size());
    for (std::size_t r = 0; r < order.size(); ++r) newRowOf[static_cast<std::size_t>(order[r])] = static_cast<int>(r);
    const QModelIndexList from = persistentIndexList();
    QModelIndexList to;
    to.reserve(from.size());
    for (const QModelIndex& index : from) {
        const int row = m_shown[static_cast<std::size_t>(index.row())];
        to << createIndex(newRowOf[static_cast<std::size_t>(row)], index.column());
    }
    m_shown = std::move(order);
    changePersistentIndexList(from, to);
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

void ResultModel::emitAllChanged() { emit dataChanged(index(0, 0), index(rowCount() - 1, kColumnCount - 1)); }

void ResultModel::sort(int column, Qt::SortOrder order) {
    if (column < kRankOrder || column >= kColumnCount) return;
    m_sortColumn = column;
    m_sortOrder = column == kRankOrder ? Qt::AscendingOrder : order;
    reorder();
}

std::uint64_t ResultModel::setEntries(std::vector<RankedEntry> entries) {
    // The details an entry had stay until its own are read again.
    std::unordered_map<std::string, const Row*> before;
    for (const Row& row : m_rows) before.emplace(row.entry.path(), &row);
    std::vector<Row> rows;
    rows.reserve(entries.size());
    for (RankedEntry& entry : entries) {
        Row row;
        row.name = displayText(entry.name);
        row.location = displayText(entry.location);
        if (const auto found = before.find(entry.path()); found != before.end()) {
            row.details = found->second->details;
            row.detailsGeneration = found->second->detailsGeneration;
        }
        row.entry = std::move(entry);
        rows.push_back(std::move(row));
    }

    // The rows change in place, as the cells of a grid are written afresh:
    // only the count changes at the end.
    const int oldCount = rowCount();
    const int newCount = std::max(1, static_cast<int>(rows.size()));
    const auto install = [&] {
        m_rows = std::move(rows);
        m_shown = sortedOrder();
    };
    ++m_generation;
    if (newCount < oldCount) {
        beginRemoveRows({}, newCount, oldCount - 1);
        install();
        endRemoveRows();
    } else if (newCount > oldCount) {
        beginInsertRows({}, oldCount, newCount - 1);
        install();
        endInsertRows();
    } else {
        install();
    }
    emitAllChanged();
    return m_generation;
}

void ResultModel::setDetails(std::uint64_t generation,
                             const std::vector<std::pair<std::string, EntryDetails>>& details) {
    std::unordered_map<std::string, const EntryDetails*> read;
    for (const auto& [path, entryDetails] : details) read[path] = &entryDetails;
    bool changed = false;
    for (Row& row : m_rows) {
        const auto found = read.find(row.entry.path());
        if (found == read.end() || row.detailsGeneration > generation) continue;
        row.details = *found->second;
        row.detailsGeneration = generation;
        changed = true;
    }
    if (!changed) return;
    reorder();
    emitAllChanged();
}

bool ResultModel::detailsComplete() const {
    return std::all_of(m_rows.begin(), m_rows.end(),
                       [this](const Row& row) { return row.details && row.detailsGeneration == m_generation; });
}

} // namespace toka
