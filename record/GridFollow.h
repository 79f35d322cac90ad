#pragma once
// The grid follows new rows only while its last row is in view: once the user scrolls up
// it stays where it is, and it follows again when the user scrolls back to the end.
#include <QHeaderView>
#include <QObject>
#include <QTableView>

namespace rd780 {

class FollowPolicy {
public:
    // The scroll position changed (by the user, or by following).
    void scrolled(int value, int maximum) { following_ = value >= maximum; }
    // A new or emptied table: its end is in view.
    void reset() { following_ = true; }
    // Rows were appended: move to the new last row?
    bool following() const { return following_; }

private:
    bool following_ = true;
};

// A grid's row header. Held at a fixed width, its size hint is that width: the view asks
// for it at each appended row, and measuring it would read up to 200 sections' texts.
class GridRowHeader : public QHeaderView {
    Q_OBJECT
public:
    explicit GridRowHeader(QWidget* parent = nullptr) : QHeaderView(Qt::Vertical, parent) {}
    QSize sizeHint() const override;
};

// The reading grid. Its background comes from a style sheet, which the style draws on a
// viewport it leaves see-through: every scroll by one row then repainted the whole grid
// and the panel behind it. Painting that background here lets the viewport be opaque, so
// a scroll moves the pixels already shown and paints the new row alone.
class ReadingGrid : public QTableView {
    Q_OBJECT
public:
    explicit ReadingGrid(QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;
};

// Applies the policy to a view over its model as it is when attached. Per appended batch
// it only moves the scroll bar; it never asks the model about rows other than the ones
// the view paints, so its cost does not grow with the table. Appended rows are laid out
// at once and only they are repainted (the view itself would repaint all it shows).
class GridFollower : public QObject {
    Q_OBJECT
public:
    // While following, the last row also becomes the current row (the grid's indicator
    // column marks it).
    explicit GridFollower(QTableView* view);

    bool following() const { return policy_.following(); }
    // Times the view was moved to the last row.
    int followCount() const { return follows_; }

private:
    void rowsAppended(int first, int last);
    void rowCountChanged(int oldCount, int newCount);
    void toEnd();

    QTableView* view_;
    FollowPolicy policy_;
    int follows_ = 0;
    int unpaintedFrom_ = -1; // first appended row not painted yet, -1 for none
};

} // namespace rd780
