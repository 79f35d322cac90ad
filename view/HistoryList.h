#pragma once
// The history list: a bounded log of text lines shown in a list view. Adding a line costs
// the same whatever the list holds; the view is told about new lines in batches, at most
// about 20 times a second, and not at all while none of it is on screen (hidden, or
// outside the part of the window in view): it catches up when it comes into view.
#include <QAbstractListModel>
#include <QListView>
#include <QString>
#include <QTimer>

#include <cstddef>
#include <cstdint>
#include <vector>

namespace rd780::view {

// The newest `capacity` lines in a ring; line 0 is the oldest kept.
class HistoryLines {
public:
    explicit HistoryLines(std::size_t capacity);

    void append(const QString& line); // drops the oldest when full
    void clear();
    std::size_t size() const { return size_; }
    std::size_t capacity() const { return ring_.size(); }
    const QString& at(std::size_t i) const { return ring_[(first_ + i) % ring_.size()]; }
    // Lines ever appended (not reset by clear): the absolute number of the next line.
    std::uint64_t appended() const { return appended_; }
    // Absolute number of line 0.
    std::uint64_t firstNumber() const { return appended_ - size_; }

private:
    std::vector<QString> ring_;
    std::size_t first_ = 0;
    std::size_t size_ = 0;
    std::uint64_t appended_ = 0;
};

// Shows a HistoryLines to views. Rows are published by publish() only, so a burst of
// appends becomes one removal and one insertion.
class HistoryModel : public QAbstractListModel {
    Q_OBJECT
public:
    explicit HistoryModel(const HistoryLines& lines, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;

    bool pending() const;
    void publish();
    void reset(); // after the lines were cleared

private:
    const HistoryLines& lines_;
    std::uint64_t shownFirst_ = 0; // absolute number of row 0
    int shownCount_ = 0;
};

class HistoryList : public QListView {
    Q_OBJECT
public:
    static constexpr int RefreshMs = 50;

    explicit HistoryList(int limit, QWidget* parent = nullptr);

    // Adds a line; the view shows it, selected, at its next refresh.
    void addLine(const QString& line);
    void clear();

    // What the list holds, up to date at once (the view may lag by one refresh).
    int count() const { return static_cast<int>(lines_.size()); }
    QString text(int row) const;
    QString lastText() const;
    // Brings the view up to date and returns its current row (-1 without one).
    int currentRow();
    // Brings the view up to date now; normally the refresh timer does this.
    void refresh();

    const HistoryModel& historyModel() const { return model_; }

protected:
    void showEvent(QShowEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void refreshIfInView();

    HistoryLines lines_;
    HistoryModel model_;
    QTimer refreshTimer_;
    bool outOfView_ = false;     // lines wait for the list to come into view
    QObject* watched_ = nullptr; // the window whose resizes may bring the list into view
};

} // namespace rd780::view
