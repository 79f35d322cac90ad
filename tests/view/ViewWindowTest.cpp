// The scale, limit and chart handlers inside the whole window.
#include "meter/MeterPanel.h"
#include "record/LimitPanel.h"
#include "tests/TestSupport.h"
#include "tests/app/WindowFixture.h"
#include "tests/meter/FrameBuilder.h"
#include "view/ChartPanel.h"
#include "view/ScalePanel.h"
#include "view/ScaleView.h"
#include "view/WaveChart.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QStatusBar>
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
    EXPECT_DOUBLE_EQ(w.Chart->Chtshow->leftMin(), -61);
    EXPECT_DOUBLE_EQ(w.Chart->Chtshow->leftMax(), 60);
    EXPECT_TRUE(w.Chart->Chtshow->seriesActive(WaveChart::Series1));
    EXPECT_FALSE(w.Chart->Chtshow->seriesActive(WaveChart::Series2));
    EXPECT_EQ(w.Chart->Chtshow->pointCount(0), 1);
    EXPECT_EQ(w.Chart->Chtshow->pointCount(1), 1);
    EXPECT_EQ(w.Chart->Chtshow->page(), 1);
    EXPECT_EQ(w.Chart->Chtshow->pointsPerPage(), 161);
    EXPECT_TRUE(shown(w.Chart->ScopeNo));
    EXPECT_FALSE(shown(w.Chart->Scopeok));
    EXPECT_EQ(w.Chart->ComboBox1->currentIndex(), 0);
    EXPECT_EQ(w.Chart->Chtshow->geometry(), QRect(338, 175, 371, 287));

    EXPECT_EQ(w.Scale->KD, static_cast<QWidget*>(w.Scale->KdPanel));
    EXPECT_EQ(w.Scale->KD->geometry(), QRect(339, 31, 371, 143));
    ASSERT_TRUE(w.Scale->KdPanel->pointerShown());
    EXPECT_EQ(w.Scale->KdPanel->pointerValue(), 400);
    EXPECT_EQ(w.Scale->KdPanel->faceDraws(), 1);
    EXPECT_EQ(w.Scale->KdPanel->KdFd->x(), 371 - 30);
    EXPECT_EQ(w.S.LimitHigh, 0.0f);
    EXPECT_FALSE(w.Limits->SetMaxB->isChecked());
    EXPECT_EQ(w.Limits->Setmax->text(), "40000");
    EXPECT_EQ(w.Limits->SetMin->text(), "-40000");
    EXPECT_EQ(w.Limits->MinTextU->text(), QString::fromUtf8("Ω"));
    EXPECT_TRUE(f.messages.isEmpty()) << f.messages.join("\n").toStdString();
}

TEST(ViewWindow, FramesDrawAndEmptyTheChartAndMoveThePointer) {
    test::WindowFixture f;
    TFCOMM& w = *f.w;
    test::FrameSpec meter;
    meter.display = "-01.23 ";
    w.S.FrameHex = test::frameText(meter);
    w.Meter->LcdDisplay520();
    EXPECT_EQ(w.Scale->KdPanel->pointerValue(), 388);
    EXPECT_EQ(w.Scale->KdPanel->pointer(),
              view::pointerLine(w.Scale->KdPanel->faceGeometry(), 388, 80, false));

    w.S.FrameHex = waveFrame(0x05, 0xFB, 0, 0x80, 0x81);
    w.Meter->LcdDisplay520();
    auto v = values(*w.Chart->Chtshow, 0);
    ASSERT_EQ(v.size(), 160u);
    EXPECT_EQ(v[0], -5);
    EXPECT_EQ(v[10], 128);
    EXPECT_EQ(w.Chart->Chtshow->points(0)[3].label, "paper");
    EXPECT_EQ(w.Chart->Chtshow->points(0)[3].colour, QColor(0, 0, 255));

    // The offset byte moves the whole waveform.
    w.Chart->PlotFrameWaveform(waveFrame(0x02, 0x01, 0xF6));
    EXPECT_EQ(values(*w.Chart->Chtshow, 0)[100], -8);

    // A frame that is not hexadecimal is refused before the chart is touched.
    std::string bad = waveFrame(0x02, 0x01, 0);
    bad[400] = 'Q';
    EXPECT_FALSE(w.Guarded([&] { w.Chart->PlotFrameWaveform(bad); }));
    EXPECT_EQ(values(*w.Chart->Chtshow, 0)[100], -8);
    f.messages.clear();

    // An ordinary frame after a waveform empties the chart again.
    w.S.FrameHex = test::frameText({});
    w.Meter->LcdDisplay520();
    EXPECT_EQ(w.Chart->Chtshow->pointCount(0), 1);
    EXPECT_EQ(w.Scale->KdPanel->pointerValue(), 406);
    EXPECT_TRUE(f.messages.isEmpty()) << f.messages.join("\n").toStdString();
}

TEST(ViewWindow, PagingButtons) {
    test::WindowFixture f;
    TFCOMM& w = *f.w;
    w.Chart->PlotFrameWaveform(waveFrame(1, 2, 0));
    EXPECT_EQ(w.Chart->Chtshow->pageCount(), 1);
    w.Chart->Maxrecord->setText("1000");
    w.Chart->Maxrecord->setText("100");
    EXPECT_EQ(w.Chart->Chtshow->pointsPerPage(), 100);
    ASSERT_EQ(w.Chart->Chtshow->pageCount(), 2);

    w.Chart->BtNextClick();
    EXPECT_EQ(w.Chart->Chtshow->page(), 2);
    EXPECT_TRUE(w.Chart->BtNext->isEnabled());
    EXPECT_TRUE(w.Chart->BTlast->isEnabled());
    EXPECT_TRUE(w.Chart->BtFirst->isEnabled());
    EXPECT_TRUE(w.Chart->BTPrevious->isEnabled());
    EXPECT_EQ(w.Chart->Bt10->text(), "2");
    w.Chart->BtNextClick();
    EXPECT_EQ(w.Chart->Chtshow->page(), 2);
    EXPECT_FALSE(w.Chart->BtNext->isEnabled());
    EXPECT_FALSE(w.Chart->BTlast->isEnabled());

    w.Chart->BTPreviousClick();
    EXPECT_EQ(w.Chart->Chtshow->page(), 1);
    EXPECT_TRUE(w.Chart->BtNext->isEnabled());
    EXPECT_TRUE(w.Chart->BTPrevious->isEnabled());
    w.Chart->BTPreviousClick();
    EXPECT_EQ(w.Chart->Chtshow->page(), 1);
    EXPECT_FALSE(w.Chart->BTPrevious->isEnabled());
    EXPECT_FALSE(w.Chart->BtFirst->isEnabled());
    EXPECT_EQ(w.Chart->Bt10->text(), "1");

    // Last shows page 2 with its 60 points at the scale of a full page.
    w.Chart->BTlastClick();
    EXPECT_EQ(w.Chart->Chtshow->page(), 2);
    EXPECT_EQ(w.Chart->Bt10->text(), "2");
    EXPECT_FALSE(w.Chart->BtNext->isEnabled());
    EXPECT_DOUBLE_EQ(w.Chart->Chtshow->bottomMin(), 100);
    EXPECT_DOUBLE_EQ(w.Chart->Chtshow->bottomMax(), 199);
    w.Chart->BtFirstClick();
    EXPECT_EQ(w.Chart->Chtshow->page(), 1);
    EXPECT_DOUBLE_EQ(w.Chart->Chtshow->bottomMax(), 99);
    EXPECT_FALSE(w.Chart->BtFirst->isEnabled());
    EXPECT_TRUE(w.Chart->BTlast->isEnabled());

    // The page-size edit admits digits only; an empty text is refused and changes nothing.
    w.Chart->Maxrecord->clear();
    ASSERT_EQ(f.messages.size(), 1);
    EXPECT_EQ(f.messages[0], "'' is not a valid integer value");
    EXPECT_EQ(w.Chart->Chtshow->pointsPerPage(), 100);
    QTest::keyClicks(w.Chart->Maxrecord, "8-x+0");
    EXPECT_EQ(w.Chart->Maxrecord->text(), "80");
    EXPECT_EQ(w.Chart->Chtshow->pointsPerPage(), 80);
}

TEST(ViewWindow, TestPatternSeriesChoiceAndNew) {
    test::WindowFixture f;
    TFCOMM& w = *f.w;
    w.Chart->Maxrecord->setText("50");
    w.Chart->OnescopeClick();
    EXPECT_EQ(w.Chart->Chtshow->pointsPerPage(), 161);
    const auto v = values(*w.Chart->Chtshow, 0);
    ASSERT_EQ(v.size(), 161u);
    // The first crest and trough of the sine.
    const auto peak = std::max_element(v.begin(), v.begin() + 25);
    const auto trough = std::min_element(v.begin() + 25, v.begin() + 50);
    EXPECT_EQ(peak - v.begin(), 13);
    EXPECT_NEAR(*peak, 50, 0.1);
    EXPECT_EQ(trough - v.begin(), 38);
    EXPECT_NEAR(*trough, -50, 0.1);
    EXPECT_EQ(w.Chart->Chtshow->points(0)[5].label, "6");
    EXPECT_EQ(w.Chart->Chtshow->points(0)[6].label, "");
    EXPECT_EQ(w.Chart->Chtshow->points(0)[0].colour, QColor(255, 0, 0));
    EXPECT_TRUE(shown(w.Chart->Scopeok));
    EXPECT_FALSE(shown(w.Chart->ScopeNo));
    // The built-in test frame turns the indicators back.
    w.Meter->Button4Click();
    EXPECT_TRUE(shown(w.Chart->ScopeNo));
    EXPECT_FALSE(shown(w.Chart->Scopeok));

    w.Chart->ComboBox1->setCurrentIndex(1);
    w.Chart->ComboBox1Change();
    EXPECT_FALSE(w.Chart->Chtshow->seriesActive(0));
    EXPECT_TRUE(w.Chart->Chtshow->seriesActive(1));
    // New selects "atile" without raising the change: the area stays the active series.
    w.Chart->BtNewClick();
    EXPECT_EQ(w.Chart->ComboBox1->currentIndex(), 0);
    EXPECT_TRUE(w.Chart->Chtshow->seriesActive(1));
    EXPECT_EQ(w.Chart->Chtshow->pointCount(0), 1);
    EXPECT_EQ(w.Chart->Chtshow->pointsPerPage(), 161);
    w.Chart->ShowSeries(0);
    EXPECT_TRUE(w.Chart->Chtshow->seriesActive(0));
    EXPECT_FALSE(w.Chart->Chtshow->seriesActive(1));
    EXPECT_FALSE(w.Guarded([&] { w.Chart->ShowSeries(2); }));
    EXPECT_TRUE(w.Chart->Chtshow->seriesActive(0)) << "a bad index leaves the series as they were";

    // Save on the chart's toolbar writes the chart bitmap.
    f.messages.clear();
    w.Chart->BtSave->click();
    EXPECT_TRUE(QFileInfo(QDir::current().filePath("databmp.bmp")).size() > 0);
    EXPECT_EQ(f.messages.size(), 1) << f.messages.join("\n").toStdString();
}

TEST(ViewWindow, EnlargeAndRestore) {
    test::WindowFixture f;
    TFCOMM& w = *f.w;
    QWidget* chart = w.Chart->Chtshow;
    const QRect home = chart->geometry();
    w.Chart->TbFdClick();
    EXPECT_EQ(chart->y(), 28);
    EXPECT_GT(chart->width(), home.width());
    EXPECT_TRUE(shown(w.Chart->TbSx));
    EXPECT_FALSE(shown(w.Chart->TbFd));
    w.Chart->TbFdClick();
    EXPECT_EQ(chart->geometry(), home);
    EXPECT_TRUE(shown(w.Chart->TbFd));
    // A chart already at the top counts as enlarged: the click restores.
    w.Chart->ChartSavedLeft = 338, w.Chart->ChartSavedTop = 175, w.Chart->ChartSavedWidth = 371,
    w.Chart->ChartSavedHeight = 287;
    chart->move(338, 50);
    w.Chart->TbFdClick();
    EXPECT_EQ(chart->geometry(), home);

    // The scale: the chart is hidden while it is large, and the pointer stays in register.
    const QRect kdHome = w.Scale->KD->geometry();
    w.Scale->KdFdClick();
    EXPECT_TRUE(w.Scale->KdPanel->enlarged());
    EXPECT_FALSE(shown(chart));
    EXPECT_EQ(w.Scale->KdPanel->KdFd->x(), w.Scale->KD->width() - 30);
    EXPECT_EQ(w.Scale->KdPanel->image().size(), w.Scale->KdPanel->KD1->size());
    EXPECT_EQ(w.Scale->KdPanel->pointer(),
              view::pointerLine(w.Scale->KdPanel->faceGeometry(), 400, 80, false));
    w.Scale->KdFdClick();
    EXPECT_EQ(w.Scale->KD->geometry(), kdHome);
    EXPECT_TRUE(shown(chart));
    EXPECT_EQ(w.Scale->KdPanel->image().size(), QSize(367, 139));
    EXPECT_EQ(w.Scale->KdPanel->pointer(),
              view::pointerLine(w.Scale->KdPanel->faceGeometry(), 400, 80, false));

    // Enlarged, both end above the status bar: the chart's axis labels stay in view.
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
    const int barTop = w.statusBar()->mapTo(&w, QPoint(0, 0)).y();
    const auto bottom = [&](QWidget* x) { return x->mapTo(&w, QPoint(0, x->height())).y(); };
    w.Chart->TbFdClick();
    EXPECT_LE(bottom(chart), barTop);
    EXPECT_GE(bottom(chart), barTop - 8) << "the chart still fills the area";
    w.Chart->TbFdClick();
    w.Scale->KdFdClick();
    EXPECT_LE(bottom(w.Scale->KD), barTop);
    EXPECT_GE(bottom(w.Scale->KD), barTop - 8);
    w.Scale->KdFdClick();
}

TEST(ViewWindow, LimitMarks) {
    test::WindowFixture f;
    TFCOMM& w = *f.w;
    auto rightEnd = [&] { return QColor(w.Scale->KdPanel->image().pixel(354, 112)); };
    auto leftEnd = [&] { return QColor(w.Scale->KdPanel->image().pixel(19, 112)); };
    const int draws = w.Scale->KdPanel->faceDraws();

    // Ticking loads the edit's limit and redraws; the far right lies beyond 1500.
    w.Limits->Setmax->setText("1500");
    EXPECT_EQ(w.S.LimitHigh, 1500.0f);
    EXPECT_EQ(w.Scale->KdPanel->faceDraws(), draws + 1);
    EXPECT_EQ(rightEnd(), QColor(Qt::black)) << "switched off";
    w.Limits->SetMaxB->click();
    EXPECT_EQ(rightEnd(), QColor(255, 0, 0));
    EXPECT_FALSE(w.Scale->KdPanel->pointerShown()) << "a new face has no pointer";
    w.Limits->SetMaxB->click();
    EXPECT_EQ(rightEnd(), QColor(Qt::black));

    // Typing into SetMin: the sign alone counts as 0, each digit follows.
    w.Limits->SetMin->clear();
    QTest::keyClicks(w.Limits->SetMin, "-a2.0x00");
    EXPECT_EQ(w.Limits->SetMin->text(), "-2000");
    EXPECT_EQ(w.S.LimitLow, -2000.0f);
    w.Limits->SetMinB->click();
    EXPECT_EQ(leftEnd(), QColor(255, 0, 0));
    w.Limits->SetMin->setText("-");
    EXPECT_EQ(w.S.LimitLow, 0.0f);

    w.Limits->Setmax->setText("");
    EXPECT_EQ(w.S.LimitHigh, 0.0f);
    w.Limits->Setmax->setText("+250");
    EXPECT_EQ(w.S.LimitHigh, 250.0f);
    w.Limits->Setmax->setText("16777217");
    EXPECT_EQ(w.S.LimitHigh, 16777216.0f);

    // A text that does not convert: message, the limit and the face stay.
    const int before = w.Scale->KdPanel->faceDraws();
    w.Limits->Setmax->setText("12-");
    ASSERT_EQ(f.messages.size(), 1);
    EXPECT_EQ(f.messages[0], "'12-' is not a valid integer value");
    EXPECT_EQ(w.S.LimitHigh, 16777216.0f);
    EXPECT_EQ(w.Scale->KdPanel->faceDraws(), before);
}
