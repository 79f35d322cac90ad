#pragma once
// The grid follows new rows only while its last row is in view: once the user scrolls up
// it stays where it is, and it follows again when the user scrolls back to the end.
#include <QHeaderView>
#include <QObject>
#include <QPixmap>
#include <QScrollBar>
#include <QTableView>

#include <vector>

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
// Its sections look alike but for the indicator, so each look is drawn once and kept:
// drawing the indicator's glyph, from a fallback font, cost more than the grid's row.
class GridRowHeader : public QHeaderView {
    Q_OBJECT
public:
    explicit GridRowHeader(QWidget* parent = nullptr) : QHeaderView(Qt::Vertical, parent) {}
    QSize sizeHint() const override;
    // Section pictures drawn so far (for tests).
    int sectionsDrawn() const { return drawn_; }

protected:
    void paintSection(QPainter* painter, const QRect& rect, int logicalIndex) const override;

private:
    struct Look {
        QSize size;
        qreal ratio = 1;
        int state = 0, position = 0, selected = 0, alignment = 0;
        QString text;
        qint64 palette = 0;
        QString font;
        bool operator==(const Look&) const = default;
    };
    struct Kept {
        Look look;
        QPixmap picture;
    };
    mutable std::vector<Kept> kept_; // most recently used first
    mutable int drawn_ = 0;
};

// A grid's column header. Its sections show only whether their column meets the selection
// or is selected whole; the row selection moving down by one changes neither, yet the
// header would repaint every section for it.
class GridColumnHeader : public QHeaderView {
    Q_OBJECT
public:
    explicit GridColumnHeader(QWidget* parent = nullptr);

protected:
    void selectionChanged(const QItemSelection& selected,
                          const QItemSelection& deselected) override;

private:
    std::vector<char> sectionMarks() const;
    std::vector<char> marks_; // as last repainted for a selection change
};

// A scroll bar that repaints only when what it draws changes: under thousands of rows its
// handle stays put at the end while the range grows by a row each time.
class GridScrollBar : public QScrollBar {
    Q_OBJECT
public:
    explicit GridScrollBar(Qt::Orientation o, QWidget* parent = nullptr) : QScrollBar(o, parent) {}
    // Changes from hold() to release() are drawn once, if they leave a picture that differs
    // from the one shown: growing the range first moves the handle off the end.
    void hold() { ++held_; }
    void release();

protected:
    void sliderChange(SliderChange change) override;
    void paintEvent(QPaintEvent* event) override;

private:
    struct Look {
        QRect handle;
        bool atMinimum = false, atMaximum = false;
        bool operator==(const Look&) const = default;
    };
    Look look() const;
    Look shown_;
    bool painted_ = false;
    int held_ = 0;
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
    void rowsComing(int first);
    bool growRange();
    void rowsAppended(int first, int last);
    void rowCountChanged(int oldCount, int newCount);
    void toEnd();

    QTableView* view_;
    FollowPolicy policy_;
    int follows_ = 0;
    int unpaintedFrom_ = -1;   // first appended row not painted yet, -1 for none
    bool headerQuiet_ = false; // the row header's own repaint of an append is held back
    GridScrollBar* heldBar_ = nullptr;
};

} // namespace rd780
