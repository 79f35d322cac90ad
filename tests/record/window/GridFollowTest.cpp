// The grid follows new rows while its last row is in view, stays where the user scrolled
// to, follows again at the end, and costs the same per row with thousands of rows.
#include "record/GridFollow.h"
#include "tests/TestSupport.h"

#include <QAbstractTableModel>
#include <QElapsedTimer>
#include <QHeaderView>
#include <QPaintEvent>
#include <QScrollBar>
#include <QTableView>

#include <gtest/gtest.h>

namespace rd780 {
namespace {

// Rows appended at the end, as the reading table's model announces them; counts every
// question the view asks.
class GrowingModel : public QAbstractTableModel {
public:
    int rowCount(const QModelIndex& p = {}) const override { return p.isValid() ? 0 : rows_; }
    int columnCount(const QModelIndex& p = {}) const override { return p.isValid() ? 0 : 6; }
    QVariant data(const QModelIndex& i, int role) const override {
        ++asked;
        if (role != Qt::DisplayRole) return {};
        return QString::number(i.row() * 10 + i.column());
    }
    QVariant headerData(int s, Qt::Orientation o, int role) const override {
        ++asked;
        return role == Qt::DisplayRole && o == Qt::Horizontal ? QVariant(QString::number(s))
                                                              : QVariant();
    }
    void append(int n) {
        beginInsertRows({}, rows_, rows_ + n - 1);
        rows_ += n;
        endInsertRows();
    }
    // The row indicator moves to the new row, as the reading table's model shows it.
    void appendMarked() {
        append(1);
        emit headerDataChanged(Qt::Vertical, rows_ - 1, rows_ - 1);
    }
    void empty() {
        beginResetModel();
        rows_ = 0;
        endResetModel();
    }
    mutable long asked = 0;

private:
    int rows_ = 0;
};

struct GridFixture : ::testing::Test {
    GrowingModel model;
    QTableView view;
    GridFollower* follower = nullptr;

    void SetUp() override {
        view.setModel(&model);
        // The grid's own settings: uniform rows the view places without measuring them.
        view.verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
        view.verticalHeader()->setDefaultSectionSize(18);
        view.resize(334, 260);
        follower = new GridFollower(&view);
        view.show();
        ASSERT_TRUE(test::waitUntil([&] { return view.isVisible(); }));
    }
    QScrollBar* bar() { return view.verticalScrollBar(); }
    void appendOneByOne(int n) {
        for (int i = 0; i < n; ++i) {
            model.append(1);
            if (i % 50 == 0) QCoreApplication::processEvents(); // paint now and then
        }
        QCoreApplication::processEvents();
    }
    bool atEnd() { return bar()->value() == bar()->maximum(); }
};

TEST_F(GridFixture, FollowsWhileAtTheEnd) {
    appendOneByOne(2000);
    EXPECT_GT(bar()->maximum(), 1900);
    EXPECT_TRUE(atEnd());
    EXPECT_TRUE(follower->following());
    EXPECT_EQ(view.currentIndex().row(), 1999) << "the last row is the current one";
    const QModelIndex bottom = view.indexAt(QPoint(5, view.viewport()->height() - 5));
    EXPECT_GE(bottom.row(), 1997) << "the new rows are on screen";
}

TEST_F(GridFixture, StaysWhenScrolledUpAndFollowsAgainAtTheEnd) {
    appendOneByOne(1000);
    ASSERT_TRUE(atEnd());
    // The user scrolls up and picks a row to look at.
    bar()->setValue(bar()->maximum() - 200);
    view.setCurrentIndex(model.index(bar()->value() + 2, 0));
    EXPECT_FALSE(follower->following());
    const int value = bar()->value();
    const int current = view.currentIndex().row();
    const int topRow = view.rowAt(0);

    appendOneByOne(1500);
    EXPECT_EQ(bar()->value(), value) << "the grid stays where the user put it";
    EXPECT_EQ(view.rowAt(0), topRow);
    EXPECT_EQ(view.currentIndex().row(), current);
    EXPECT_EQ(model.rowCount(), 2500) << "rows kept coming";
    EXPECT_GT(bar()->maximum(), value + 1500);

    // One step short of the end is not the end.
    bar()->setValue(bar()->maximum() - 1);
    appendOneByOne(10);
    EXPECT_FALSE(atEnd());

    // Back at the end: the grid follows again.
    bar()->setValue(bar()->maximum());
    EXPECT_TRUE(follower->following());
    appendOneByOne(300);
    EXPECT_TRUE(atEnd());
    EXPECT_EQ(view.currentIndex().row(), 2809);
}

TEST_F(GridFixture, AnEmptiedTableIsFollowedFromTheStart) {
    appendOneByOne(500);
    bar()->setValue(10);
    ASSERT_FALSE(follower->following());
    model.empty();
    EXPECT_TRUE(follower->following()) << "New empties the table: its end is in view";
    appendOneByOne(400);
    EXPECT_TRUE(atEnd());
    EXPECT_EQ(view.currentIndex().row(), 399);
}

TEST_F(GridFixture, CostPerRowDoesNotGrowWithTheTable) {
    const auto batch = [&] {
        const long before = model.asked;
        QElapsedTimer t;
        t.start();
        appendOneByOne(1000);
        return std::pair<long, qint64>(model.asked - before, t.nsecsElapsed());
    };
    const auto early = batch();
    // Grow the table in big steps (as an opened long table would be).
    for (int i = 0; i < 49; ++i)
        model.append(1000);
    QCoreApplication::processEvents();
    ASSERT_TRUE(atEnd());
    const auto late = batch();
    ASSERT_TRUE(atEnd());
    std::printf("[ grid ] 1000 appended rows at 1k rows: %ld model calls, %.1f us/row; "
                "at 50k rows: %ld model calls, %.1f us/row\n",
                early.first, early.second / 1000.0 / 1000.0, late.first,
                late.second / 1000.0 / 1000.0);
    // The view asks only about the rows it paints, however many there are.
    EXPECT_LE(late.first, early.first * 2 + 200);
}

// The reading grid's own settings: a fixed row header of uniform rows, whole rows
// selected one at a time.
void likeTheReadingGrid(QTableView& view, QAbstractItemModel* model, QHeaderView* rows = nullptr) {
    view.setModel(model);
    if (rows) view.setVerticalHeader(rows);
    view.verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    view.verticalHeader()->setDefaultSectionSize(18);
    view.verticalHeader()->setFixedWidth(14);
    view.setSelectionBehavior(QAbstractItemView::SelectRows);
    view.setSelectionMode(QAbstractItemView::SingleSelection);
    view.resize(334, 260);
}

// Pixels painted on a widget.
struct PaintedArea : QObject {
    long pixels = 0;
    bool eventFilter(QObject*, QEvent* e) override {
        if (e->type() == QEvent::Paint) {
            for (const QRect& r : static_cast<QPaintEvent*>(e)->region())
                pixels += long(r.width()) * r.height();
        }
        return false;
    }
};

// The reading grid as the window sets it up: style-sheet background, fixed row header,
// the indicator moving with each row, thousands of rows. Following, a new row paints about
// itself in the grid and the row header; the column header and the scroll bar, whose
// handle stays put at the end, are not repainted for it.
TEST(ReadingGrid, AFollowedRowWithItsIndicatorPaintsOnlyItsOwnArea) {
    GrowingModel model;
    ReadingGrid view;
    view.setStyleSheet("QTableView { background: silver; }");
    likeTheReadingGrid(view, &model, new GridRowHeader(&view));
    new GridFollower(&view);
    view.show();
    ASSERT_TRUE(test::waitUntil([&] { return view.isVisible(); }));
    model.append(3000);
    model.appendMarked();
    QCoreApplication::processEvents();
    QWidget* parts[] = {view.viewport(), view.verticalHeader()->viewport(),
                        view.horizontalHeader()->viewport(), view.verticalScrollBar()};
    const char* names[] = {"grid", "row header", "column header", "scroll bar"};
    PaintedArea painted[4];
    for (int i = 0; i < 4; ++i)
        parts[i]->installEventFilter(&painted[i]);
    constexpr int Rows = 20;
    for (int i = 0; i < Rows; ++i) {
        model.appendMarked();
        // Laid out and painted before the next row, as the window is between frames.
        for (int pass = 0; pass < 3; ++pass)
            QCoreApplication::processEvents();
    }
    EXPECT_EQ(view.verticalScrollBar()->value(), view.verticalScrollBar()->maximum());
    EXPECT_GT(painted[0].pixels, 0);
    EXPECT_GT(painted[1].pixels, 0) << "the new row's section";
    for (int i = 0; i < 4; ++i) {
        const long whole = long(parts[i]->width()) * parts[i]->height();
        EXPECT_LT(painted[i].pixels / Rows, whole / 4)
            << names[i] << ": " << painted[i].pixels / Rows << " px per row of " << whole;
    }
}

// The row header keeps each look of a section it drew: rows coming one by one draw the
// indicator and the plain section once, and what it shows is what a plain header draws.
TEST(ReadingGrid, TheRowHeaderDrawsEachLookOnceAndAsAPlainHeaderWould) {
    struct MarkedModel : GrowingModel {
        QVariant headerData(int s, Qt::Orientation o, int role) const override {
            if (o == Qt::Vertical && role == Qt::DisplayRole)
                return s == rowCount() - 1 ? QStringLiteral("\u25B6") : QString();
            return GrowingModel::headerData(s, o, role);
        }
    } model;
    QTableView kept, plain;
    auto* header = new GridRowHeader(&kept);
    likeTheReadingGrid(kept, &model, header);
    new GridFollower(&kept);
    likeTheReadingGrid(plain, &model);
    kept.show();
    plain.show();
    ASSERT_TRUE(test::waitUntil([&] { return kept.isVisible() && plain.isVisible(); }));
    for (int i = 0; i < 30; ++i) {
        model.appendMarked();
        for (int pass = 0; pass < 3; ++pass)
            QCoreApplication::processEvents();
    }
    EXPECT_LE(header->sectionsDrawn(), 8) << "a look is drawn once, not once per row";
    plain.selectRow(model.rowCount() - 1);
    plain.scrollToBottom();
    kept.verticalHeader()->viewport()->update();
    QCoreApplication::processEvents();
    const QImage shown = kept.verticalHeader()->viewport()->grab().toImage();
    const QImage drawn = plain.verticalHeader()->viewport()->grab().toImage();
    ASSERT_EQ(shown.size(), drawn.size());
    EXPECT_TRUE(shown == drawn) << "the kept sections look as the header draws them";
}

} // namespace
} // namespace rd780
