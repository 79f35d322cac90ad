// The scale, limit and chart handlers inside the whole window.
#include "tests/TestSupport.h"
#include "tests/app/WindowFixture.h"
#include "tests/meter/FrameBuilder.h"
#include "view/ScalePanel.h"
#include "view/WaveChart.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QTest>
#include <QToolButton>

#include <gtest/gtest.h>

#include <algorithm>

using namespace rd780;
using view::WaveChart;

namespace {

// A long frame whose sample pairs are (a, b) everywhere, except pair 10 which is (c, d).
std::string waveFrame(int a, int b, int offset, int c = 0, int d = 0) {
    test::FrameSpec meter;
    meter.offset = offset;
    auto bytes = test::frameBytes(meter, true);
    for (int i = 0; i < 160; ++i) {
        bytes[41 + 2 * i] = static_cast<uint8_t>(i == 10 ? c : a);
        bytes[42 + 2 * i] = static_cast<uint8_t>(i == 10 ? d : b);
    }
    std::string t;
    appendHex(t, bytes.data(), bytes.size());
    return t;
}

bool shown(QWidget* w) {
    return w->isVisibleTo(w->window());
}

std::vector<double> values(const WaveChart& c, int series) {
    std::vector<double> v;
    for (const auto& p : c.points(series))
        v.push_back(p.value);
    return v;
}

} // namespace

TEST(ViewWindow, StartState) {
    test::WindowFixture f;
    TFCOMM& w = *f.w;
    EXPECT_DOUBLE_EQ(w.Chtshow->leftMin(), -61);
    EXPECT_DOUBLE_EQ(w.Chtshow->leftMax(), 60);
    EXPECT_TRUE(w.Chtshow->seriesActive(WaveChart::Series1));
    EXPECT_FALSE(w.Chtshow->seriesActive(WaveChart::Series2));
    EXPECT_EQ(w.Chtshow->pointCount(0), 1);
    EXPECT_EQ(w.Chtshow->pointCount(1), 1);
    EXPECT_EQ(w.Chtshow->page(), 1);
    EXPECT_EQ(w.Chtshow->pointsPerPage(), 161);
    EXPECT_TRUE(shown(w.ScopeNo));
    EXPECT_FALSE(shown(w.Scopeok));
    EXPECT_EQ(w.ComboBox1->currentIndex(), 0);
    EXPECT_EQ(w.Chtshow->geometry(), QRect(338, 175, 371, 287));

    EXPECT_EQ(w.KD, static_cast<QWidget*>(w.KdPanel));
    EXPECT_EQ(w.KD->geometry(), QRect(339, 31, 371, 143));
    ASSERT_TRUE(w.KdPanel->pointerShown());
    EXPECT_EQ(w.KdPanel->pointerValue(), 400);
    EXPECT_EQ(w.KdPanel->faceDraws(), 1);
    EXPECT_EQ(w.KdPanel->KdFd->x(), 371 - 30);
    EXPECT_EQ(w.S.LimitHigh, 0.0f);
    EXPECT_FALSE(w.SetMaxB->isChecked());
    EXPECT_EQ(w.Setmax->text(), "40000");
    EXPECT_EQ(w.SetMin->text(), "-40000");
    EXPECT_EQ(w.MinTextU->text(), QString::fromUtf8("Ω"));
    EXPECT_TRUE(f.messages.isEmpty()) << f.messages.join("\n").toStdString();
}

TEST(ViewWindow, FramesDrawAndEmptyTheChartAndMoveThePointer) {
    test::WindowFixture f;
    TFCOMM& w = *f.w;
    test::FrameSpec meter;
    meter.display = "-01.23 ";
    w.S.FrameHex = test::frameText(meter);
    w.LcdDisplay520();
    EXPECT_EQ(w.KdPanel->pointerValue(), 388);
    EXPECT_EQ(w.KdPanel->pointer(), view::pointerLine(w.KdPanel->faceGeometry(), 388, 80, false));

    w.S.FrameHex = waveFrame(0x05, 0xFB, 0, 0x80, 0x81);
    w.LcdDisplay520();
    auto v = values(*w.Chtshow, 0);
    ASSERT_EQ(v.size(), 160u);
    EXPECT_EQ(v[0], -5);
    EXPECT_EQ(v[10], 128);
    EXPECT_EQ(w.Chtshow->points(0)[3].label, "paper");
    EXPECT_EQ(w.Chtshow->points(0)[3].colour, QColor(0, 0, 255));

    // The offset byte moves the whole waveform.
    w.PlotFrameWaveform(waveFrame(0x02, 0x01, 0xF6));
    EXPECT_EQ(values(*w.Chtshow, 0)[100], -8);

    // A frame that is not hexadecimal is refused before the chart is touched.
    std::string bad = waveFrame(0x02, 0x01, 0);
    bad[400] = 'Q';
    EXPECT_FALSE(w.Guarded([&] { w.PlotFrameWaveform(bad); }));
    EXPECT_EQ(values(*w.Chtshow, 0)[100], -8);
    f.messages.clear();

    // An ordinary frame after a waveform empties the chart again.
    w.S.FrameHex = test::frameText({});
    w.LcdDisplay520();
    EXPECT_EQ(w.Chtshow->pointCount(0), 1);
    EXPECT_EQ(w.KdPanel->pointerValue(), 406);
    EXPECT_TRUE(f.messages.isEmpty()) << f.messages.join("\n").toStdString();
}

TEST(ViewWindow, PagingButtons) {
    test::WindowFixture f;
    TFCOMM& w = *f.w;
    w.PlotFrameWaveform(waveFrame(1, 2, 0));
    EXPECT_EQ(w.Chtshow->pageCount(), 1);
    w.Maxrecord->setText("1000");
    w.Maxrecord->setText("100");
    EXPECT_EQ(w.Chtshow->pointsPerPage(), 100);
    ASSERT_EQ(w.Chtshow->pageCount(), 2);

    w.BtNextClick();
    EXPECT_EQ(w.Chtshow->page(), 2);
    EXPECT_TRUE(w.BtNext->isEnabled());
    EXPECT_TRUE(w.BTlast->isEnabled());
    EXPECT_TRUE(w.BtFirst->isEnabled());
    EXPECT_TRUE(w.BTPrevious->isEnabled());
    EXPECT_EQ(w.Bt10->text(), "2");
    w.BtNextClick();
    EXPECT_EQ(w.Chtshow->page(), 2);
    EXPECT_FALSE(w.BtNext->isEnabled());
    EXPECT_FALSE(w.BTlast->isEnabled());

    w.BTPreviousClick();
    EXPECT_EQ(w.Chtshow->page(), 1);
    EXPECT_TRUE(w.BtNext->isEnabled());
    EXPECT_TRUE(w.BTPrevious->isEnabled());
    w.BTPreviousClick();
    EXPECT_EQ(w.Chtshow->page(), 1);
    EXPECT_FALSE(w.BTPrevious->isEnabled());
    EXPECT_FALSE(w.BtFirst->isEnabled());
    EXPECT_EQ(w.Bt10->text(), "1");

    // Last shows page 2 with its 60 points at the scale of a full page.
    w.BTlastClick();
    EXPECT_EQ(w.Chtshow->page(), 2);
    EXPECT_EQ(w.Bt10->text(), "2");
    EXPECT_FALSE(w.BtNext->isEnabled());
    EXPECT_DOUBLE_EQ(w.Chtshow->bottomMin(), 100);
    EXPECT_DOUBLE_EQ(w.Chtshow->bottomMax(), 199);
    w.BtFirstClick();
    EXPECT_EQ(w.Chtshow->page(), 1);
    EXPECT_DOUBLE_EQ(w.Chtshow->bottomMax(), 99);
    EXPECT_FALSE(w.BtFirst->isEnabled());
    EXPECT_TRUE(w.BTlast->isEnabled());

    // The page-size edit admits digits only; an empty text is refused and changes nothing.
    w.Maxrecord->clear();
    ASSERT_EQ(f.messages.size(), 1);
    EXPECT_EQ(f.messages[0], "'' is not a valid integer value");
    EXPECT_EQ(w.Chtshow->pointsPerPage(), 100);
    QTest::keyClicks(w.Maxrecord, "8-x+0");
    EXPECT_EQ(w.Maxrecord->text(), "80");
    EXPECT_EQ(w.Chtshow->pointsPerPage(), 80);
}

TEST(ViewWindow, TestPatternSeriesChoiceAndNew) {
    test::WindowFixture f;
    TFCOMM& w = *f.w;
    w.Maxrecord->setText("50");
    w.OnescopeClick();
    EXPECT_EQ(w.Chtshow->pointsPerPage(), 161);
    const auto v = values(*w.Chtshow, 0);
    ASSERT_EQ(v.size(), 161u);
    // The first crest and trough of the sine.
    const auto peak = std::max_element(v.begin(), v.begin() + 25);
    const auto trough = std::min_element(v.begin() + 25, v.begin() + 50);
    EXPECT_EQ(peak - v.begin(), 13);
    EXPECT_NEAR(*peak, 50, 0.1);
    EXPECT_EQ(trough - v.begin(), 38);
    EXPECT_NEAR(*trough, -50, 0.1);
    EXPECT_EQ(w.Chtshow->points(0)[5].label, "6");
    EXPECT_EQ(w.Chtshow->points(0)[6].label, "");
    EXPECT_EQ(w.Chtshow->points(0)[0].colour, QColor(255, 0, 0));
    EXPECT_TRUE(shown(w.Scopeok));
    EXPECT_FALSE(shown(w.ScopeNo));
    // The built-in test frame turns the indicators back.
    w.Button4Click();
    EXPECT_TRUE(shown(w.ScopeNo));
    EXPECT_FALSE(shown(w.Scopeok));

    w.ComboBox1->setCurrentIndex(1);
    w.ComboBox1Change();
    EXPECT_FALSE(w.Chtshow->seriesActive(0));
    EXPECT_TRUE(w.Chtshow->seriesActive(1));
    // New selects "atile" without raising the change: the area stays the active series.
    w.BtNewClick();
    EXPECT_EQ(w.ComboBox1->currentIndex(), 0);
    EXPECT_TRUE(w.Chtshow->seriesActive(1));
    EXPECT_EQ(w.Chtshow->pointCount(0), 1);
    EXPECT_EQ(w.Chtshow->pointsPerPage(), 161);
    w.ShowSeries(0);
    EXPECT_TRUE(w.Chtshow->seriesActive(0));
    EXPECT_FALSE(w.Chtshow->seriesActive(1));
    EXPECT_FALSE(w.Guarded([&] { w.ShowSeries(2); }));
    EXPECT_TRUE(w.Chtshow->seriesActive(0)) << "a bad index leaves the series as they were";

    // Save on the chart's toolbar writes the chart bitmap.
    f.messages.clear();
    w.BtSave->click();
    EXPECT_TRUE(QFileInfo(QDir::current().filePath("databmp.bmp")).size() > 0);
    EXPECT_EQ(f.messages.size(), 1) << f.messages.join("\n").toStdString();
}

TEST(ViewWindow, EnlargeAndRestore) {
    test::WindowFixture f;
    TFCOMM& w = *f.w;
    QWidget* chart = w.Chtshow;
    const QRect home = chart->geometry();
    w.TbFdClick();
    EXPECT_EQ(chart->y(), 28);
    EXPECT_GT(chart->width(), home.width());
    EXPECT_TRUE(shown(w.TbSx));
    EXPECT_FALSE(shown(w.TbFd));
    w.TbFdClick();
    EXPECT_EQ(chart->geometry(), home);
    EXPECT_TRUE(shown(w.TbFd));
    // A chart already at the top counts as enlarged: the click restores.
    w.ChartSavedLeft = 338, w.ChartSavedTop = 175, w.ChartSavedWidth = 371,
    w.ChartSavedHeight = 287;
    chart->move(338, 50);
    w.TbFdClick();
    EXPECT_EQ(chart->geometry(), home);

    // The scale: the chart is hidden while it is large, and the pointer stays in register.
    const QRect kdHome = w.KD->geometry();
    w.KdFdClick();
    EXPECT_TRUE(w.KdPanel->enlarged());
    EXPECT_FALSE(shown(chart));
    EXPECT_EQ(w.KdPanel->KdFd->x(), w.KD->width() - 30);
    EXPECT_EQ(w.KdPanel->image().size(), w.KdPanel->KD1->size());
    EXPECT_EQ(w.KdPanel->pointer(), view::pointerLine(w.KdPanel->faceGeometry(), 400, 80, false));
    w.KdFdClick();
    EXPECT_EQ(w.KD->geometry(), kdHome);
    EXPECT_TRUE(shown(chart));
    EXPECT_EQ(w.KdPanel->image().size(), QSize(367, 139));
    EXPECT_EQ(w.KdPanel->pointer(), view::pointerLine(w.KdPanel->faceGeometry(), 400, 80, false));
}

TEST(ViewWindow, LimitMarks) {
    test::WindowFixture f;
    TFCOMM& w = *f.w;
    auto rightEnd = [&] { return QColor(w.KdPanel->image().pixel(354, 112)); };
    auto leftEnd = [&] { return QColor(w.KdPanel->image().pixel(19, 112)); };
    const int draws = w.KdPanel->faceDraws();

    // Ticking loads the edit's limit and redraws; the far right lies beyond 1500.
    w.Setmax->setText("1500");
    EXPECT_EQ(w.S.LimitHigh, 1500.0f);
    EXPECT_EQ(w.KdPanel->faceDraws(), draws + 1);
    EXPECT_EQ(rightEnd(), QColor(Qt::black)) << "switched off";
    w.SetMaxB->click();
    EXPECT_EQ(rightEnd(), QColor(255, 0, 0));
    EXPECT_FALSE(w.KdPanel->pointerShown()) << "a new face has no pointer";
    w.SetMaxB->click();
    EXPECT_EQ(rightEnd(), QColor(Qt::black));

    // Typing into SetMin: the sign alone counts as 0, each digit follows.
    w.SetMin->clear();
    QTest::keyClicks(w.SetMin, "-a2.0x00");
    EXPECT_EQ(w.SetMin->text(), "-2000");
    EXPECT_EQ(w.S.LimitLow, -2000.0f);
    w.SetMinB->click();
    EXPECT_EQ(leftEnd(), QColor(255, 0, 0));
    w.SetMin->setText("-");
    EXPECT_EQ(w.S.LimitLow, 0.0f);

    w.Setmax->setText("");
    EXPECT_EQ(w.S.LimitHigh, 0.0f);
    w.Setmax->setText("+250");
    EXPECT_EQ(w.S.LimitHigh, 250.0f);
    w.Setmax->setText("16777217");
    EXPECT_EQ(w.S.LimitHigh, 16777216.0f);

    // A text that does not convert: message, the limit and the face stay.
    const int before = w.KdPanel->faceDraws();
    w.Setmax->setText("12-");
    ASSERT_EQ(f.messages.size(), 1);
    EXPECT_EQ(f.messages[0], "'12-' is not a valid integer value");
    EXPECT_EQ(w.S.LimitHigh, 16777216.0f);
    EXPECT_EQ(w.KdPanel->faceDraws(), before);
}
