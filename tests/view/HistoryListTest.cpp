// The history list: its ring keeps the newest lines in order, and the view hears of new
// lines in batches, never while hidden.
#include "view/HistoryList.h"
#include "tests/TestSupport.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTimer>

using rd780::test::waitUntil;
using rd780::view::HistoryLines;
using rd780::view::HistoryList;

namespace {

QStringList shownTexts(const HistoryList& list) {
    QStringList out;
    const auto& m = list.historyModel();
    for (int r = 0; r < m.rowCount(); ++r)
        out << m.data(m.index(r), Qt::DisplayRole).toString();
    return out;
}

// Runs the event loop until a timer of twice the refresh interval has fired: any refresh
// due by then has run.
void passRefreshTime() {
    bool later = false;
    QTimer::singleShot(2 * HistoryList::RefreshMs, [&] { later = true; });
    ASSERT_TRUE(waitUntil([&] { return later; }));
}

QStringList numbers(int from, int to) {
    QStringList out;
    for (int i = from; i < to; ++i)
        out << QString::number(i);
    return out;
}

} // namespace

TEST(HistoryLines, RingKeepsTheNewestInOrderAcrossWrapsAndClears) {
    HistoryLines lines(4);
    for (int i = 0; i < 3; ++i)
        lines.append(QString::number(i));
    EXPECT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines.at(0), "0");
    for (int i = 3; i < 11; ++i)
        lines.append(QString::number(i));
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines.appended(), 11u);
    EXPECT_EQ(lines.firstNumber(), 7u);
    for (std::size_t i = 0; i < 4; ++i)
        EXPECT_EQ(lines.at(i), QString::number(7 + i));
    lines.clear();
    EXPECT_EQ(lines.size(), 0u);
    lines.append("a");
    EXPECT_EQ(lines.at(0), "a");
    EXPECT_EQ(lines.firstNumber(), 11u);
}

TEST(HistoryList, ABurstReachesTheShownViewAsOneBatchWithTheNewestSelected) {
    HistoryList list(100);
    list.resize(300, 120);
    list.show();
    QSignalSpy inserted(list.model(), &QAbstractItemModel::rowsInserted);
    QSignalSpy removed(list.model(), &QAbstractItemModel::rowsRemoved);
    for (int i = 0; i < 30; ++i)
        list.addLine(QString::number(i));
    // Nothing reaches the view while the burst lasts; the lines are there at once.
    EXPECT_EQ(inserted.count(), 0);
    EXPECT_EQ(list.count(), 30);
    EXPECT_EQ(list.lastText(), "29");
    ASSERT_TRUE(waitUntil([&] { return list.model()->rowCount() == 30; }));
    EXPECT_EQ(inserted.count(), 1);
    EXPECT_EQ(list.currentIndex().row(), 29);
    EXPECT_TRUE(list.selectionModel()->isRowSelected(29, {}));

    // Past the bound: the oldest rows go in one removal, the view matches the ring.
    for (int i = 30; i < 250; ++i)
        list.addLine(QString::number(i));
    ASSERT_TRUE(waitUntil([&] { return inserted.count() == 2; }));
    EXPECT_EQ(removed.count(), 1);
    EXPECT_EQ(shownTexts(list), numbers(150, 250));
    EXPECT_EQ(list.currentIndex().row(), 99);
    EXPECT_EQ(list.currentRow(), 99);
}

TEST(HistoryList, RefreshesAreSpacedHoweverFastLinesCome) {
    HistoryList list(5000);
    list.show();
    QSignalSpy inserted(list.model(), &QAbstractItemModel::rowsInserted);
    QElapsedTimer clock;
    clock.start();
    int added = 0;
    // A line every turn of the event loop for 400 ms (within the bound).
    while (clock.elapsed() < 400 && added < 5000) {
        list.addLine(QString::number(added++));
        QCoreApplication::processEvents();
    }
    const qint64 elapsed = clock.elapsed();
    ASSERT_GT(added, 100);
    // At most one batch per refresh interval (plus the one started at the first line).
    EXPECT_LE(inserted.count(), elapsed / HistoryList::RefreshMs + 1) << added << " lines";
    ASSERT_TRUE(waitUntil([&] { return list.model()->rowCount() == added; }));
    EXPECT_EQ(shownTexts(list), numbers(0, added));
}

TEST(HistoryList, AHiddenListTellsTheViewNothingUntilShown) {
    HistoryList list(50);
    QSignalSpy inserted(list.model(), &QAbstractItemModel::rowsInserted);
    QSignalSpy removed(list.model(), &QAbstractItemModel::rowsRemoved);
    for (int i = 0; i < 1000; ++i)
        list.addLine(QString::number(i));
    passRefreshTime();
    EXPECT_EQ(inserted.count(), 0);
    EXPECT_EQ(list.model()->rowCount(), 0);
    EXPECT_EQ(list.count(), 50);
    list.show();
    EXPECT_EQ(inserted.count(), 1);
    EXPECT_EQ(removed.count(), 0);
    EXPECT_EQ(shownTexts(list), numbers(950, 1000));
    EXPECT_EQ(list.currentIndex().row(), 49);

    // Hidden again after rows were shown: rows dropped from the ring meanwhile are
    // removed at the next showing, not earlier.
    list.hide();
    for (int i = 1000; i < 1020; ++i)
        list.addLine(QString::number(i));
    passRefreshTime();
    EXPECT_EQ(removed.count(), 0);
    list.show();
    EXPECT_EQ(removed.count(), 1);
    EXPECT_EQ(shownTexts(list), numbers(970, 1020));

    list.clear();
    EXPECT_EQ(list.count(), 0);
    EXPECT_EQ(list.model()->rowCount(), 0);
    list.addLine("after");
    EXPECT_EQ(list.currentRow(), 0);
    EXPECT_EQ(shownTexts(list), QStringList{"after"});
}

// A list below the part of its window in view (the window at its start height) is told
// nothing, and once the window grows it shows what a list in view all along shows.
TEST(HistoryList, OutOfViewItCatchesUpToWhatAListInViewShows) {
    auto place = [](QWidget& window, int height) {
        auto* list = new HistoryList(500, &window);
        list->setGeometry(3, 538, 334, 56);
        window.resize(340, height);
        window.show();
        return list;
    };
    QWidget shortWindow, tallWindow;
    HistoryList* hidden = place(shortWindow, 480);
    HistoryList* shown = place(tallWindow, 600);
    QSignalSpy inserted(hidden->model(), &QAbstractItemModel::rowsInserted);
    // In bursts, so that refreshes fall between them and the ring wraps in between.
    for (int burst = 0; burst < 8; ++burst) {
        for (int i = 0; i < 100; ++i) {
            const QString line = QStringLiteral("%1 report").arg(burst * 100 + i);
            hidden->addLine(line);
            shown->addLine(line);
        }
        passRefreshTime();
    }
    EXPECT_EQ(inserted.count(), 0);
    EXPECT_EQ(shownTexts(*shown).size(), 500);

    shortWindow.resize(340, 600);
    ASSERT_TRUE(waitUntil([&] { return hidden->model()->rowCount() > 0; }));
    EXPECT_EQ(shownTexts(*hidden), shownTexts(*shown));
    EXPECT_EQ(hidden->currentIndex().row(), shown->currentIndex().row());
    EXPECT_EQ(hidden->currentIndex().row(), 499);
}
