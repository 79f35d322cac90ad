// Waveform decoding, the paging model and the chart wrapper, plus the limit text rules.
#include "view/ChartPaging.h"
#include "view/IntegerText.h"
#include "view/LimitMarks.h"
#include "view/WaveChart.h"
#include "view/Waveform.h"

#include "base/Guard.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>

using namespace rd780::view;
using rd780::AppError;

namespace {

std::string hexByte(int v) {
    char buf[3];
    std::snprintf(buf, sizeof buf, "%02X", v & 0xFF);
    return buf;
}

// A long frame whose every sample pair is (a, b) and whose offset byte is given.
std::string longFrame(int a, int b, int offset) {
    std::string f = "5A";
    for (int i = 1; i < 41; ++i)
        f += hexByte(i == 12 ? offset : 0x30);
    for (int i = 0; i < 160; ++i)
        f += hexByte(a) + hexByte(b);
    return f;
}

} // namespace

TEST(Waveform, SignedBytesAndLargerSquare) {
    EXPECT_EQ(signedSample(0x80), 128);
    EXPECT_EQ(signedSample(0x81), -127);
    EXPECT_EQ(signedSample(0xFF), -1);
    EXPECT_EQ(signedSample(0x7F), 127);

    auto w = decodeWaveform(longFrame(0x05, 0xFB, 0));
    for (int v : w)
        ASSERT_EQ(v, -5); // equal squares take the second byte
    w = decodeWaveform(longFrame(0xFB, 0x05, 0));
    EXPECT_EQ(w[0], 5);
    w = decodeWaveform(longFrame(0x80, 0x81, 0));
    EXPECT_EQ(w[159], 128);
    w = decodeWaveform(longFrame(0x03, 0xF9, 0x0A)); // -7 wins, shifted up by 10
    EXPECT_EQ(w[7], 3);
    w = decodeWaveform(longFrame(0x03, 0xF9, 0xF6));
    EXPECT_EQ(w[7], -17);

    // Each pair is read at its own place.
    std::string f = longFrame(0, 0, 0);
    f.replace(82 + 4 * 37, 4, "1402");
    w = decodeWaveform(f);
    EXPECT_EQ(w[37], 20);
    EXPECT_EQ(w[36], 0);
    EXPECT_EQ(w[38], 0);
}

TEST(Waveform, BadFramesRefusedWhole) {
    EXPECT_THROW(decodeWaveform(longFrame(1, 2, 0).substr(0, 82)), AppError);
    std::string f = longFrame(1, 2, 0);
    f[700] = 'G';
    EXPECT_THROW(decodeWaveform(f), AppError);
    f = longFrame(1, 2, 0);
    f[24] = 'x';
    EXPECT_THROW(decodeWaveform(f), AppError);
    f = longFrame(0x1A, 0x02, 0);
    for (char& c : f)
        c = static_cast<char>(std::tolower(c));
    EXPECT_EQ(decodeWaveform(f)[0], 26);
}

TEST(ChartPaging, CountsClampsAndRefuses) {
    ChartPaging p;
    EXPECT_EQ(p.pointsPerPage(), 161);
    EXPECT_EQ(p.pageCount(160), 1);
    EXPECT_EQ(p.pageCount(0), 1);
    EXPECT_EQ(p.pageCount(162), 2);
    EXPECT_EQ(p.pageCount(500, 0), 1); // no series
    p.setPointsPerPage(100, 160);
    EXPECT_EQ(p.pageCount(160), 2);
    EXPECT_EQ(p.pageCount(200), 2);
    EXPECT_EQ(p.pageCount(201), 3);
    p.setPage(9, 160);
    EXPECT_EQ(p.page(), 2);
    // The last page spans a full page on the axis.
    EXPECT_DOUBLE_EQ(p.window(160).first, 100);
    EXPECT_DOUBLE_EQ(p.window(160).last, 199);
    p.setPage(-3, 160);
    EXPECT_EQ(p.page(), 1);

    p.setPage(2, 160);
    EXPECT_THROW(p.setPointsPerPage(-1, 160), AppError);
    EXPECT_EQ(p.pointsPerPage(), 100);
    EXPECT_EQ(p.page(), 2);
    p.setPointsPerPage(161, 160); // page 2 no longer exists
    EXPECT_EQ(p.page(), 1);
    p.setPointsPerPage(0, 160); // paging off: one page, every point
    EXPECT_EQ(p.pageCount(1000), 1);
    EXPECT_DOUBLE_EQ(p.window(1000).last, 999);
}

TEST(ChartPaging, APageOfNPointsShowsExactlyNPositions) {
    for (int n : {1, 2, 3, 100}) {
        ChartPaging p;
        p.setPointsPerPage(n, 4 * n);
        for (int page = 1; page <= 4; ++page) {
            SCOPED_TRACE("n=" + std::to_string(n) + " page " + std::to_string(page));
            p.setPage(page, 4 * n);
            const auto w = p.window(4 * n);
            int shown = 0;
            for (int x = -2; x < 5 * n + 2; ++x)
                if (x >= w.first && x <= w.last) ++shown;
            EXPECT_EQ(shown, n);
            // The first position shown is the page's first point.
            EXPECT_EQ(static_cast<int>(std::ceil(w.first)), (page - 1) * n);
        }
    }
}

TEST(WaveChart, SeriesPagingAndAxes) {
    WaveChart chart;
    ASSERT_EQ(chart.seriesCount(), 2);
    EXPECT_TRUE(chart.seriesActive(WaveChart::Series1));
    EXPECT_FALSE(chart.seriesActive(WaveChart::Series2));
    EXPECT_DOUBLE_EQ(chart.leftMin(), -61);
    EXPECT_DOUBLE_EQ(chart.leftMax(), 60);

    for (int i = 0; i < 160; ++i)
        chart.addPoint(0, i, "paper", Qt::blue);
    chart.setPointsPerPage(100);
    EXPECT_EQ(chart.pageCount(), 2);
    chart.setPage(2);
    EXPECT_DOUBLE_EQ(chart.bottomMin(), 100);
    EXPECT_DOUBLE_EQ(chart.bottomMax(), 199);

    // Only active series count: the area has a single point.
    chart.sampleFill(1, 1);
    chart.setSeriesActive(0, false);
    chart.setSeriesActive(1, true);
    EXPECT_EQ(chart.pageCount(), 1);
    EXPECT_EQ(chart.pointCount(1), 1);
    EXPECT_THROW(chart.addPoint(2, 0, "", Qt::red), AppError);
    EXPECT_THROW(chart.setPointsPerPage(-5), AppError);
    EXPECT_EQ(chart.pointsPerPage(), 100);

    chart.clearSeries(0);
    EXPECT_EQ(chart.pointCount(0), 0);
    chart.setLeftMaximum(100);
    chart.setLeftMinimum(-101);
    EXPECT_DOUBLE_EQ(chart.leftMin(), -101);
    EXPECT_DOUBLE_EQ(chart.leftMax(), 100);
}

TEST(LimitText, ConversionAndKeys) {
    EXPECT_EQ(limitFromText(""), 0.0f);
    EXPECT_EQ(limitFromText("-"), 0.0f);
    EXPECT_EQ(limitFromText("+"), 0.0f);
    EXPECT_EQ(limitFromText("+250"), 250.0f);
    EXPECT_EQ(limitFromText("-40000"), -40000.0f);
    EXPECT_EQ(limitFromText("16777217"), 16777216.0f);
    EXPECT_EQ(limitFromText("2147483647"), 2147483648.0f);
    EXPECT_EQ(limitFromText("-2147483648"), -2147483648.0f);
    EXPECT_THROW(limitFromText("2147483648"), AppError);
    EXPECT_THROW(limitFromText("12-"), AppError);
    EXPECT_THROW(limitFromText("--1"), AppError);
    EXPECT_THROW(limitFromText("+-1"), AppError);
    try {
        toInteger("1x");
        FAIL();
    } catch (const AppError& e) {
        EXPECT_STREQ(e.what(), "'1x' is not a valid integer value");
    }
    EXPECT_THROW(toInteger(""), AppError);
    EXPECT_EQ(toInteger(" 42 "), 42);

    for (char32_t c : {U'0', U'9', U'+', U'-', char32_t(8)})
        EXPECT_TRUE(limitKeyAllowed(c));
    for (char32_t c : {U'a', U'.', U' ', U'e', U'/'})
        EXPECT_FALSE(limitKeyAllowed(c));
    EXPECT_TRUE(digitKeyAllowed(U'5'));
    EXPECT_FALSE(digitKeyAllowed(U'-'));
    EXPECT_FALSE(digitKeyAllowed(U'+'));
}
