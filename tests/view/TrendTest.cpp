#include "record/CsvExport.h"
#include "record/ReadingTable.h"
#include "record/paradox/TableTestSupport.h"
#include "view/TrendWindow.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QImage>
#include <QPainter>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <ctime>
#include <random>

namespace rd780::view {
namespace {

// The reduction checked against every point of every column, counted the plain way.
void expectExactColumns(const TrendTrace& t, int64_t t0, int64_t t1, int columns) {
    std::vector<TrendColumn> got;
    t.reduce(t0, t1, columns, got);
    ASSERT_EQ(got.size(), std::size_t(columns));
    std::vector<TrendColumn> want(static_cast<std::size_t>(columns));
    const double span = double(t1 - t0);
    for (std::size_t i = 0; i < t.size(); ++i) {
        const int64_t time = t.times()[i];
        if (time < t0 || time >= t1) continue;
        // The column whose [start, end) holds the time, with the same boundaries.
        int c = int(std::floor(double(time - t0) * columns / span));
        c = std::clamp(c, 0, columns - 1);
        auto start = [&](int k) { return t0 + int64_t(std::floor(span * k / columns)); };
        while (c > 0 && time < start(c))
            --c;
        while (c + 1 < columns && time >= start(c + 1))
            ++c;
        TrendColumn& w = want[std::size_t(c)];
        const double v = t.values()[i];
        if (std::isnan(v)) {
            w.gap = true;
        } else if (!w.data) {
            w.min = w.max = v;
            w.data = true;
        } else {
            w.min = std::min(w.min, v);
            w.max = std::max(w.max, v);
        }
    }
    int withData = 0;
    for (int c = 0; c < columns; ++c) {
        const auto& g = got[std::size_t(c)];
        const auto& w = want[std::size_t(c)];
        ASSERT_EQ(g.data, w.data) << "column " << c;
        ASSERT_EQ(g.gap, w.gap) << "column " << c;
        if (!w.data) continue;
        ++withData;
        ASSERT_EQ(g.min, w.min) << "column " << c;
        ASSERT_EQ(g.max, w.max) << "column " << c;
    }
    EXPECT_GT(withData, 0);
}

// A million points of a noisy walk, and a million of a steady reading that holds one value
// for whole blocks at a time (a DC voltage stepped now and then), at every zoom level.
TEST(TrendReduction, AMillionPointsKeepEveryColumnsMinimumAndMaximum) {
    std::mt19937 rng(7);
    std::normal_distribution<double> noise(0.0, 1.0);
    std::uniform_int_distribution<int> step(0, 40); // irregular spacing, repeated times too
    std::uniform_int_distribution<int> rare(0, 9999);
    TrendTrace walking("mV");
    walking.reserve(1000000);
    int64_t time = 1'700'000'000'000;
    double walk = 0;
    for (int i = 0; i < 1000000; ++i) {
        time += step(rng);
        walk += noise(rng);
        if (rare(rng) == 0)
            walking.appendGap(time);
        else
            walking.append(time, walk + (rare(rng) == 1 ? 500.0 : 0.0)); // lone spikes must survive
    }
    ASSERT_EQ(walking.size(), 1000000u);

    // Each value held for whole blocks, so every block summary is flat; the size a multiple
    // of the block, so the whole-session column is made of block summaries alone.
    std::uniform_int_distribution<int> hold(1, 60); // blocks
    std::uniform_int_distribution<int> level(-2000, 2000);
    TrendTrace steady("V");
    const std::size_t steadySize = TrendTrace::BlockSize * 4096;
    steady.reserve(steadySize);
    time = 1'700'000'000'000;
    double value = 5.0;
    for (std::size_t i = 0, next = 0; i < steadySize; ++i) {
        if (i == next) {
            next += TrendTrace::BlockSize * std::size_t(hold(rng));
            value = level(rng) / 100.0;
        }
        time += step(rng);
        steady.append(time, value);
    }

    for (const TrendTrace* t : {&walking, &steady}) {
        SCOPED_TRACE(t->unit());
        ASSERT_GT(t->size(), 0u);
        expectExactColumns(*t, t->firstTime(), t->lastTime() + 1, 1237);
        expectExactColumns(*t, t->firstTime(), t->lastTime() + 1, 97);
        expectExactColumns(*t, t->firstTime(), t->lastTime() + 1, 1);
        // Zoomed in: columns narrower than a block, and ranges starting mid-block.
        const int64_t mid = (t->firstTime() + t->lastTime()) / 2;
        expectExactColumns(*t, mid, mid + 50'000, 800);
        expectExactColumns(*t, mid + 3, mid + 3 + 2'000'000, 333);
        // More columns than points in view.
        expectExactColumns(*t, mid, mid + 500, 640);
    }
}

TEST(TrendData, UnitChangesStartNewSeriesAndOverloadsAreGaps) {
    TrendData d;
    d.addReading(1000, "1.234", " V");
    d.addReading(2000, "1.240", " V");
    d.addReading(3000, "-45.05", "mV");
    d.addReading(4000, "0.L", "mV");
    d.addReading(5000, "-44.90", "mV");
    d.addReading(6000, "1.250", " V");
    d.addReading(7000, "garbage", " V"); // no number: not plotted
    ASSERT_EQ(d.traces().size(), 2u);
    EXPECT_EQ(d.newestUnit(), " V");
    const TrendTrace* v = d.trace(" V");
    ASSERT_NE(v, nullptr);
    // The volts resumed after the millivolts: a break sits between the two runs.
    ASSERT_EQ(v->size(), 4u);
    EXPECT_EQ(v->values()[1], 1.240);
    EXPECT_TRUE(std::isnan(v->values()[2]));
    EXPECT_EQ(v->times()[2], 6000);
    EXPECT_EQ(v->values()[3], 1.250);
    const TrendTrace* mv = d.trace("mV");
    ASSERT_EQ(mv->size(), 3u);
    EXPECT_TRUE(std::isnan(mv->values()[1]));
    EXPECT_EQ(d.decimals("mV"), 2);
    EXPECT_EQ(d.decimals(" V"), 3);
    // A clock set back does not unsort the times.
    d.addReading(500, "1.3", " V");
    EXPECT_EQ(d.trace(" V")->lastTime(), 6000);
    std::vector<TrendColumn> cols;
    d.trace(" V")->reduce(0, 8000, 8, cols);
    EXPECT_TRUE(cols[6].gap);
    EXPECT_EQ(cols[6].max, 1.3);
}

TEST(TrendData, PastItsBoundTheOldestPointsGoWhateverTheirUnit) {
    TrendData d(4096);
    for (int i = 0; i < 10000; ++i)
        d.addReading(int64_t(i) * 10, std::to_string(i) + ".0", i < 5000 ? " V" : "mV");
    EXPECT_LE(d.points(), 4096u);
    EXPECT_GE(d.points(), 3072u - TrendTrace::BlockSize);
    const TrendTrace* v = d.trace(" V");
    const TrendTrace* mv = d.trace("mV");
    ASSERT_TRUE(v && mv);
    EXPECT_LT(v->size(), TrendTrace::BlockSize); // older than every millivolt: nearly all gone
    EXPECT_EQ(v->lastTime(), 49990);
    EXPECT_EQ(mv->lastTime(), 99990);
    EXPECT_EQ(mv->values().front(), double(mv->firstTime() / 10));
    // The block summaries still fit their points.
    std::vector<TrendColumn> cols;
    mv->reduce(mv->firstTime(), mv->lastTime() + 1, 3, cols);
    EXPECT_EQ(cols.front().min, mv->values().front());
    EXPECT_EQ(cols.back().max, 9999.0);
}

TEST(TrendViewport, FollowZoomAndPan) {
    TrendViewport v;
    v.update(1000, 11000);
    EXPECT_EQ(v.t0(), 1000);
    EXPECT_EQ(v.t1(), 11000);
    v.update(1000, 21000); // following the whole session
    EXPECT_EQ(v.t1(), 21000);
    v.zoom(0.5, 1.0); // keep the right edge
    EXPECT_EQ(v.t1(), 21000);
    EXPECT_EQ(v.t0(), 11000);
    v.update(1000, 31000); // zoomed and following: the span slides along
    EXPECT_EQ(v.t1(), 31000);
    EXPECT_EQ(v.t0(), 21000);
    v.pan(-0.5);
    EXPECT_FALSE(v.following());
    EXPECT_EQ(v.t0(), 16000);
    v.update(1000, 41000); // not following: stays put
    EXPECT_EQ(v.t0(), 16000);
    v.zoom(1e-9, 0.5);
    EXPECT_EQ(v.t1() - v.t0(), TrendViewport::MinSpanMs);
    v.showAll(1000, 41000);
    EXPECT_EQ(v.t0(), 1000);
    EXPECT_FALSE(v.zoomed());
}

class TrendWindowTest : public ::testing::Test {
protected:
    void SetUp() override { w.show(); }
    TrendWindow w;
};

TEST_F(TrendWindowTest, StatisticsFollowTheReadingsAndResetAndCopy) {
    w.addReading(1000, "1.000", " V");
    w.addReading(2000, "3.000", " V");
    w.addReading(3000, "0.L", " V");
    w.addReading(4000, "4.700", "k*");
    ASSERT_EQ(w.statistics().units().size(), 2u);
    const UnitStatistics& v = w.statistics().units()[0];
    EXPECT_EQ(v.count, 2u);
    EXPECT_EQ(v.overloads, 1u);
    EXPECT_EQ(v.mean, 2.0);
    EXPECT_EQ(v.maxTimeMs, 2000);
    auto* table = w.findChild<QTableWidget*>("TrendStatistics");
    ASSERT_NE(table, nullptr);
    // The table follows on its timer, not per reading.
    ASSERT_TRUE(QTest::qWaitFor([&] { return table->rowCount() == 2; }, 5000));
    EXPECT_EQ(table->item(0, 0)->text(), "2");
    EXPECT_EQ(table->verticalHeaderItem(1)->text(), QString::fromUtf8("k\u03A9"));

    QTest::mouseClick(w.findChild<QPushButton*>("TrendCopy"), Qt::LeftButton);
    const QString copied = QApplication::clipboard()->text();
    EXPECT_TRUE(copied.startsWith("Unit\tCount")) << copied.toStdString();
    EXPECT_TRUE(copied.contains(QString::fromUtf8("k\u03A9\t1\t4.7\t"))) << copied.toStdString();

    QTest::mouseClick(w.findChild<QPushButton*>("TrendReset"), Qt::LeftButton);
    EXPECT_TRUE(w.statistics().units().empty());
    EXPECT_EQ(table->rowCount(), 0);
    w.addReading(5000, "2.000", " V");
    EXPECT_EQ(w.statistics().units()[0].count, 1u);
    // Reset clears the figures, not the plot (two readings, the overload's gap, the break
    // where the volts resumed, the new reading).
    EXPECT_EQ(w.data().trace(" V")->size(), 5u);
}

TEST_F(TrendWindowTest, FollowsTheNewestUnitUntilOneIsPicked) {
    w.addReading(1000, "1.000", " V");
    w.addReading(2000, "4.700", "k*");
    EXPECT_EQ(w.plot()->unit(), "k*");
    auto* box = w.findChild<QComboBox*>("TrendUnit");
    ASSERT_EQ(box->count(), 2);
    box->activated(0); // picked by hand
    EXPECT_EQ(w.plot()->unit(), " V");
    EXPECT_FALSE(w.following());
    w.addReading(3000, "4.800", "k*");
    EXPECT_EQ(w.plot()->unit(), " V");
    // Home shows all of the picked unit and keeps it picked, as the readings go on.
    QTest::keyClick(w.plot(), Qt::Key_Home);
    w.addReading(3500, "2.000", " V");
    w.addReading(3600, "4.850", "k*");
    EXPECT_EQ(w.plot()->unit(), " V");
    EXPECT_FALSE(w.following());
    w.viewport().update(w.data().trace(" V")->firstTime(), w.data().trace(" V")->lastTime());
    EXPECT_EQ(w.viewport().t0(), 1000);
    EXPECT_EQ(w.viewport().t1(), 3500);
    w.setFollowing(true);
    w.addReading(4000, "4.900", "k*");
    EXPECT_EQ(w.plot()->unit(), "k*");
}

TEST_F(TrendWindowTest, KeysAndMouseZoomAndPan) {
    for (int i = 0; i <= 100; ++i)
        w.addReading(1000 + i * 100, std::to_string(i) + ".0", " V");
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
    TrendPlot* plot = w.plot();
    plot->setFocus();
    plot->repaint();
    const int64_t span = w.viewport().t1() - w.viewport().t0();
    EXPECT_EQ(span, 10000);
    QTest::keyClick(plot, Qt::Key_Plus);
    EXPECT_EQ(w.viewport().t1() - w.viewport().t0(), 8000);
    QTest::keyClick(plot, Qt::Key_Left);
    EXPECT_FALSE(w.following());
    EXPECT_FALSE(w.findChild<QCheckBox*>("TrendFollow")->isChecked());
    QTest::keyClick(plot, Qt::Key_Home); // everything, leaving Follow newest as it was
    EXPECT_FALSE(w.following());
    EXPECT_FALSE(w.findChild<QCheckBox*>("TrendFollow")->isChecked());
    EXPECT_EQ(w.viewport().t0(), 1000);
    EXPECT_EQ(w.viewport().t1(), 11000);

    // Wheel up over the plot's left edge zooms in there.
    const QRect area = plot->plotArea();
    QWheelEvent wheel(QPointF(area.left(), area.center().y()), plot->mapToGlobal(area.center()),
                      QPoint(), QPoint(0, 120), Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase,
                      false);
    QApplication::sendEvent(plot, &wheel);
    EXPECT_EQ(w.viewport().t0(), 1000);
    EXPECT_EQ(w.viewport().t1(), 9000);
    // Dragging to the right looks back in time.
    QTest::mousePress(plot, Qt::LeftButton, {}, area.center());
    QMouseEvent move(QEvent::MouseMove, QPointF(area.center() + QPoint(area.width() / 4, 0)),
                     plot->mapToGlobal(QPointF(area.center())), Qt::NoButton, Qt::LeftButton,
                     Qt::NoModifier);
    QApplication::sendEvent(plot, &move);
    QTest::mouseRelease(plot, Qt::LeftButton, {}, area.center() + QPoint(area.width() / 4, 0));
    EXPECT_NEAR(double(w.viewport().t0()), -1000.0, 8000.0 / area.width() + 1); // a pixel's worth
    EXPECT_FALSE(w.following());
}

// Counts the pixels of a colour family in a row band of the image.
int reddish(const QImage& img, int y) {
    int n = 0;
    for (int x = 0; x < img.width(); ++x) {
        const QColor c = img.pixelColor(x, y);
        n += c.red() > 180 && c.green() < 90 && c.blue() < 90;
    }
    return n;
}

TEST_F(TrendWindowTest, LimitLinesAreDrawnInTheShownUnitsNumbers) {
    // Readings 1.000 .. 2.000 V; the limit marks count displayed digits, so 1500 is 1.500 V.
    for (int i = 0; i <= 100; ++i)
        w.addReading(1000 + i * 100, QString::number(1.0 + i / 100.0, 'f', 3).toStdString(), " V");
    w.setLimits(1500.0, std::nullopt);
    QImage img(800, 400, QImage::Format_RGB32);
    QPainter p(&img);
    w.plot()->paint(p, img.rect());
    p.end();
    const QRect area = w.plot()->plotArea();
    int best = -1, bestCount = 0;
    for (int y = area.top(); y <= area.bottom(); ++y)
        if (reddish(img, y) > bestCount) best = y, bestCount = reddish(img, y);
    EXPECT_GT(bestCount, area.width() / 3) << "no limit line";
    EXPECT_NEAR(best, area.center().y(), 3);

    // Drawn with its own data: blue pixels in the left and the right half of the plot.
    int left = 0, right = 0;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x) {
            const QColor c = img.pixelColor(x, y);
            if (c.blue() > 150 && c.red() < 80) (x < area.center().x() ? left : right)++;
        }
    EXPECT_GT(left, 50);
    EXPECT_GT(right, 50);

    // Following, the newest reading lies on the right edge and is drawn there.
    w.addReading(11200, "1.100", " V");
    img.fill(Qt::white);
    QPainter again(&img);
    w.plot()->paint(again, img.rect());
    again.end();
    int edge = 0;
    for (int y = area.top() + 1; y < area.bottom(); ++y)
        for (int x = area.right() - 3; x < area.right(); ++x) {
            const QColor c = img.pixelColor(x, y);
            edge += c.blue() > 150 && c.red() < 80;
        }
    EXPECT_GT(edge, 0) << "newest reading not drawn";
}

TEST_F(TrendWindowTest, LoadsATablesTimesAgainstItsValuesPerUnit) {
    test::ScratchDir dir;
    ReadingTable table;
    table.openOrCreate(dir / "t.DB");
    table.appendReading({1, 23 * 3600000, "DC", "1.000", " V", "", 1000});
    table.appendReading({2, 23 * 3600000 + 1000, "DC", "2.000", " V", "", 2000});
    table.appendReading({3, 500, "", "4.700", "k*", "", 4700}); // after midnight
    table.appendReading({4, 1500, "DC", "3.000", " V", "", 3000});
    TableDating dating;
    dating.tableOpened({2026, 6, 1}, 4);
    w.loadTable(table, dating);
    ASSERT_EQ(w.data().traces().size(), 2u);
    const TrendTrace* v = w.data().trace(" V");
    ASSERT_NE(v, nullptr);
    EXPECT_EQ(formatEpochMs(v->firstTime()), "2026-06-01 23:00:00.000");
    EXPECT_EQ(formatEpochMs(v->lastTime()), "2026-06-02 00:00:01.500");
    EXPECT_EQ(v->values().back(), 3.0);
    EXPECT_EQ(w.statistics().units()[0].count, 3u);
    EXPECT_EQ(w.statistics().units()[0].max, 3.0);
    EXPECT_FALSE(w.following()); // a table does not move
    EXPECT_EQ(w.plot()->unit(), " V");
}

// Rows on the day clocks go forward: 01:30 and 03:30 local are one hour apart, not two.
TEST_F(TrendWindowTest, TableRowsAcrossADaylightSavingChangeKeepTheirRealSpacing) {
    const char* oldTz = std::getenv("TZ");
    const std::string saved = oldTz ? oldTz : "";
    setenv("TZ", "Europe/Berlin", 1);
    tzset();
    test::ScratchDir dir;
    ReadingTable table;
    table.openOrCreate(dir / "t.DB");
    table.appendReading({1, 1 * 3600000 + 1800000, "DC", "1.000", " V", "", 1000});
    table.appendReading({2, 3 * 3600000 + 1800000, "DC", "2.000", " V", "", 2000});
    TableDating dating;
    dating.tableOpened({2026, 3, 29}, 2);
    w.loadTable(table, dating);
    const TrendTrace* v = w.data().trace(" V");
    ASSERT_NE(v, nullptr);
    ASSERT_EQ(v->size(), 2u);
    const int64_t first = v->firstTime(), last = v->lastTime();
    if (oldTz)
        setenv("TZ", saved.c_str(), 1);
    else
        unsetenv("TZ");
    tzset();
    EXPECT_EQ(last - first, 3600000);
    EXPECT_EQ(first, int64_t(1774744200000)) << "2026-03-29T01:30:00+01:00";
}

// A hidden trend window keeps the readings but leaves its unit list and statistics table
// alone; shown, it lists what a window open all along lists.
TEST(TrendWindowHidden, CatchesUpWhenShown) {
    TrendWindow hidden, open;
    open.show();
    auto* hiddenTable = hidden.findChild<QTableWidget*>("TrendStatistics");
    auto* hiddenUnits = hidden.findChild<QComboBox*>("TrendUnit");
    for (TrendWindow* w : {&hidden, &open}) {
        w->addReading(1000, "1.000", " V");
        w->addReading(2000, "4.700", "k*");
        w->addReading(3000, "4.800", "k*");
    }
    auto* openTable = open.findChild<QTableWidget*>("TrendStatistics");
    ASSERT_TRUE(QTest::qWaitFor([&] { return openTable->rowCount() == 2; }, 5000));
    EXPECT_EQ(hiddenTable->rowCount(), 0);
    EXPECT_EQ(hiddenUnits->count(), 0);

    hidden.show();
    auto texts = [](QTableWidget* t) {
        QStringList out;
        for (int r = 0; r < t->rowCount(); ++r)
            for (int c = 0; c < t->columnCount(); ++c)
                out << (t->item(r, c) ? t->item(r, c)->text() : QString());
        return out;
    };
    EXPECT_EQ(texts(hiddenTable), texts(openTable));
    EXPECT_EQ(hiddenUnits->count(), 2);
    EXPECT_EQ(hiddenUnits->currentText(), open.findChild<QComboBox*>("TrendUnit")->currentText());
}

} // namespace
} // namespace rd780::view
