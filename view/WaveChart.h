#pragma once
// The waveform chart. The rest of the program sees only the operations below, so the
// charting library behind them can be replaced.
#include "view/ChartPaging.h"

#include <QChartView>
#include <QColor>
#include <QImage>
#include <QString>

#include <vector>

QT_BEGIN_NAMESPACE
class QAreaSeries;
class QLineSeries;
class QValueAxis;
QT_END_NAMESPACE

namespace rd780::view {

class WaveChart : public QChartView {
public:
    explicit WaveChart(QWidget* parent = nullptr);

    // Series by index: Series1 is the fast line, Series2 the area.
    static constexpr int Series1 = 0;
    static constexpr int Series2 = 1;
    int seriesCount() const { return static_cast<int>(series_.size()); }
    bool seriesActive(int index) const;
    void setSeriesActive(int index, bool active);

    void clearSeries(int index);
    // Empties the series and adds count points of random value.
    void sampleFill(int index, int count);
    // The placeholder a series shows between waveforms: one point of random value. A
    // series that already shows it is left alone, so that nothing is redrawn.
    void showPlaceholder(int index);
    void addPoint(int index, double value, const QString& label, const QColor& colour);

    struct Point {
        double value;
        QString label;
        QColor colour;
        bool operator==(const Point&) const = default;
    };
    // Replaces the series' points in one step, numbered from 0; the line takes the colour
    // of the last point, as with addPoint. Points equal to those shown change nothing.
    void setPoints(int index, std::vector<Point> points);
    const std::vector<Point>& points(int index) const;
    int pointCount(int index) const { return static_cast<int>(points(index).size()); }

    // Paging over the active series.
    int pointsPerPage() const { return paging_.pointsPerPage(); }
    void setPointsPerPage(int points);
    int page() const { return paging_.page(); }
    void setPage(int page);
    int pageCount() const;
    // The bottom-axis span now shown.
    double bottomMin() const;
    double bottomMax() const;

    double leftMin() const;
    double leftMax() const;
    void setLeftMinimum(double v);
    void setLeftMaximum(double v);

    QImage toImage();

private:
    struct Series {
        QLineSeries* line = nullptr; // what is drawn: the line itself, or the area's edge
        QAreaSeries* area = nullptr;
        QColor colour;
        bool active = false;
        bool placeholder = false; // points holds only the placeholder
        std::vector<Point> points;
    };
    Series& at(int index);
    const Series& at(int index) const;
    int activeMaxPoints() const;
    void applyPage();

    std::vector<Series> series_;
    ChartPaging paging_;
    QValueAxis* left_ = nullptr;
    QValueAxis* bottom_ = nullptr;
};

} // namespace rd780::view
