#include "record/ReadingTableModel.h"

#include "meter/core/UnitSymbols.h"
#include "record/ReadingTable.h"

#include <algorithm>
#include <climits>

namespace rd780 {

namespace {
constexpr int MaxChunks = 8;
constexpr int UnitColumn = 4;

Qt::Alignment columnAlignment(int column) {
    switch (column) {
    case 1:
    case 2:
        return Qt::AlignCenter;
    case 3:
    case 4:
        return Qt::AlignRight | Qt::AlignVCenter;
    default:
        return Qt::AlignLeft | Qt::AlignVCenter;
    }
}
} // namespace

ReadingTableModel::ReadingTableModel(const ReadingTable& table, QObject* parent)
    : QAbstractTableModel(parent), table_(table) {
    reload();
}

int ReadingTableModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : rows_;
}

int ReadingTableModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : int(table_.columnNames().size());
}

QVariant ReadingTableModel::headerData(int section, Qt::Orientation o, int role) const {
    if (role != Qt::DisplayRole) return {};
    if (o == Qt::Horizontal) {
        const auto& names = table_.columnNames();
        if (section < 0 || section >= int(names.size())) return {};
        return QString::fromStdString(names[size_t(section)]);
    }
    return section == current_ ? QStringLiteral("\u25B6") : QString(); // row indicator
}

void ReadingTableModel::setCurrentRow(int row) {
    const int old = current_;
    current_ = row;
    if (old >= 0 && old < rows_) emit headerDataChanged(Qt::Vertical, old, old);
    if (row >= 0 && row < rows_) emit headerDataChanged(Qt::Vertical, row, row);
}

Qt::ItemFlags ReadingTableModel::flags(const QModelIndex& index) const {
    if (!index.isValid()) return Qt::NoItemFlags;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable; // read-only
}

const std::vector<std::string>* ReadingTableModel::cachedRow(int row) const {
    const int first = row - row % ChunkRows;
    size_t at = chunks_.size();
    for (size_t i = 0; i < chunks_.size(); ++i) {
        if (chunks_[i].first != first) continue;
        if (row < first + int(chunks_[i].rows.size())) {
            if (i)
                std::rotate(chunks_.begin(), chunks_.begin() + long(i),
                            chunks_.begin() + long(i) + 1);
            return &chunks_.front().rows[size_t(row - first)];
        }
        at = i;
        break;
    }
    if (!table_.isOpen()) return nullptr;
    // A chunk read when the table ended inside it grows by the rows appended since, so a
    // new row costs one read, not its whole chunk again.
    if (at == chunks_.size()) {
        chunks_.insert(chunks_.begin(), Chunk{first, {}});
        if (chunks_.size() > MaxChunks) chunks_.pop_back();
    } else if (at) {
        std::rotate(chunks_.begin(), chunks_.begin() + long(at), chunks_.begin() + long(at) + 1);
    }
    Chunk& c = chunks_.front();
    int end = std::min(rows_, c.first + ChunkRows);
    end = std::min<int64_t>(end, table_.rowCount());
    try {
        for (int r = c.first + int(c.rows.size()); r < end; ++r) {
            c.rows.push_back(table_.displayRow(uint32_t(r), false));
            ++rowsRead_;
        }
    } catch (const std::exception&) {
        // A row the engine cannot read shows blank rather than stopping the paint.
    }
    if (row - c.first >= int(c.rows.size())) return nullptr;
    return &c.rows[size_t(row - c.first)];
}

QVariant ReadingTableModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rows_) return {};
    const bool reading = table_.hasReadingColumns();
    if (role == Qt::TextAlignmentRole)
        return QVariant::fromValue(reading ? columnAlignment(index.column())
                                           : Qt::Alignment(Qt::AlignLeft | Qt::AlignVCenter));
    if (role != Qt::DisplayRole) return {};
    const std::vector<std::string>* row = cachedRow(index.row());
    if (!row || size_t(index.column()) >= row->size()) return {};
    const std::string& text = (*row)[size_t(index.column())];
    if (reading && index.column() == UnitColumn) return QString::fromStdString(unitSymbols(text));
    return QString::fromStdString(text);
}

void ReadingTableModel::refresh() {
    int64_t count = std::min<int64_t>(table_.rowCount(), INT_MAX);
    if (count < rows_) {
        reload();
        return;
    }
    if (count == rows_) return;
    // Rows already read stay as they are: appending changes none of them.
    const int first = rows_;
    beginInsertRows({}, first, int(count) - 1);
    rows_ = int(count);
    endInsertRows();
}

void ReadingTableModel::reload() {
    beginResetModel();
    chunks_.clear();
    rows_ = int(std::min<int64_t>(table_.rowCount(), INT_MAX));
    endResetModel();
}

} // namespace rd780
