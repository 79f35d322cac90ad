#pragma once
// The grid's view of the reading table. Rows are read from the file when the grid asks
// for them and kept in a small window of cached rows, so a table of millions of rows opens
// at once and only the rows on screen are ever in memory.
#include <QAbstractTableModel>

#include <cstdint>
#include <string>
#include <vector>

namespace rd780 {

class ReadingTable;

class ReadingTableModel : public QAbstractTableModel {
    Q_OBJECT
public:
    explicit ReadingTableModel(const ReadingTable& table, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation o, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    // Picks up rows appended since the last call (announced as inserted rows, so the view
    // keeps its place); a table that shrank resets the model.
    void refresh();
    // Forgets everything; for a table that was emptied, closed or replaced.
    void reload();

    // The row the grid's indicator column marks.
    void setCurrentRow(int row);

    // Rows read from the file so far (to check that scrolling reads only what it shows).
    uint64_t rowsRead() const { return rowsRead_; }

    static constexpr int ChunkRows = 128;

private:
    const std::vector<std::string>* cachedRow(int row) const;

    const ReadingTable& table_;
    int rows_ = 0;
    int current_ = -1;
    // A few chunks of consecutive rows, most recently used first.
    struct Chunk {
        int first = -1;
        std::vector<std::vector<std::string>> rows;
    };
    mutable std::vector<Chunk> chunks_;
    mutable uint64_t rowsRead_ = 0;
};

} // namespace rd780
