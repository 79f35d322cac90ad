#include "view/WaveChart.h"

#include "base/Guard.h"

#include <QAreaSeries>
#include <QChart>
#include <QGraphicsLayout>
#include <QLineSeries>
#include <QLinearGradient>
#include <QRandomGenerator>
#include <QValueAxis>

#include <algorithm>
#include <cmath>

namespace rd780::view {

namespace {

// A tick step of 1, 2 or 5 times a power of ten giving about five intervals.
double niceStep(double span) {
    if (!(span > 0)) return 1;
    const double raw = span / 5;
    const double mag = std::pow(10.0, std::floor(std::log10(raw)));
    for (double m : {1.0, 2.0, 5.0})
        if (m * mag >= raw) return m * mag;
    return 10 * mag;
}

} // namespace

// The chart is handed to the view at construction: a default-constructed view makes a
// chart of its own that setChart() would orphan.
WaveChart::WaveChart(QWidget* parent) : QChartView(new QChart(), parent) {
    setObjectName("Chtshow");
    QChart* chart = this->chart();
    chart->legend()->hide();
    chart->setBackgroundRoundness(0);
    QLinearGradient bg(0, 0, 0, 1);
    bg.setCoordinateMode(QGradient::ObjectBoundingMode);
    bg.setColorAt(0, QColor(192, 192, 192));
    bg.setColorAt(1, Qt::white);
    chart->setBackgroundBrush(bg);
    chart->setPlotAreaBackgroundBrush(Qt::white);
    chart->setPlotAreaBackgroundVisible(true);
    // Room above the plot for the toolbar laid on the chart.
    chart->setMargins(QMargins(1, 22, 6, 1));
    chart->layout()->setContentsMargins(0, 0, 0, 0);
    setBackgroundBrush(QColor(192, 221, 248));
    setFrameStyle(QFrame::Panel | QFrame::Sunken);
    setRenderHint(QPainter::Antialiasing, false);
    setRubberBand(QChartView::RectangleRubberBand);
    viewport()->setCursor(Qt::CrossCursor);

    left_ = new QValueAxis(chart);
    left_->setRange(-61, 60);
    left_->setLinePen(QPen(QColor(0, 64, 128), 1, Qt::DashLine));
    left_->setMinorTickCount(4);
    left_->setTickType(QValueAxis::TicksDynamic);
    left_->setTickAnchor(0);
    left_->setTickInterval(20);
    left_->setLabelFormat("%.0f");
    bottom_ = new QValueAxis(chart);
    bottom_->setTickType(QValueAxis::TicksDynamic);
    bottom_->setLabelFormat("%.0f");
    chart->addAxis(left_, Qt::AlignLeft);
    chart->addAxis(bottom_, Qt::AlignBottom);

    Series s1;
    s1.line = new QLineSeries(chart);
    s1.line->setName("Series1");
    s1.colour = QColor(0, 0, 255);
    s1.line->setPen(QPen(s1.colour, 1));
    s1.active = true;
    chart->addSeries(s1.line);
    s1.line->attachAxis(bottom_);
    s1.line->attachAxis(left_);

    Series s2;
    s2.line = new QLineSeries(chart);
    s2.area = new QAreaSeries(s2.line);
    s2.area->setName("Series2");
    s2.colour = QColor(0, 0, 255);
    s2.area->setBrush(s2.colour);
    s2.area->setPen(QPen(QColor(0, 128, 255), 1));
    chart->addSeries(s2.area);
    s2.area->attachAxis(bottom_);
    s2.area->attachAxis(left_);
    s2.area->setVisible(false);

    series_.push_back(s1);
    series_.push_back(s2);
    applyPage();
}

WaveChart::Series& WaveChart::at(int index) {
    if (index < 0 || index >= seriesCount()) throw AppError("List index out of bounds");
    return series_[static_cast<size_t>(index)];
}

const WaveChart::Series& WaveChart::at(int index) const {
    if (index < 0 || index >= seriesCount()) throw AppError("List index out of bounds");
    return series_[static_cast<size_t>(index)];
}

bool WaveChart::seriesActive(int index) const {
    return at(index).active;
}

void WaveChart::setSeriesActive(int index, bool active) {
    Series& s = at(index);
    s.active = active;
    if (s.area)
        s.area->setVisible(active);
    else
        s.line->setVisible(active);
    applyPage();
}

const std::vector<WaveChart::Point>& WaveChart::points(int index) const {
    return at(index).points;
}

void WaveChart::clearSeries(int index) {
    Series& s = at(index);
    s.placeholder = false;
    s.points.clear();
    s.line->clear();
    applyPage();
}

void WaveChart::sampleFill(int index, int count) {
    Series& s = at(index);
    s.placeholder = count == 1;
    s.points.clear();
    QList<QPointF> pts;
    for (int i = 0; i < count; ++i) {
        const double v = QRandomGenerator::global()->bounded(100);
        s.points.push_back({v, QString(), s.colour});
        pts.append(QPointF(i, v));
    }
    s.line->replace(pts);
    applyPage();
}

void WaveChart::showPlaceholder(int index) {
    if (!at(index).placeholder) sampleFill(index, 1);
}

void WaveChart::setPoints(int index, std::vector<Point> points) {
    Series& s = at(index);
    if (!s.placeholder && points == s.points) return;
    s.placeholder = false;
    s.points = std::move(points);
    QList<QPointF> pts;
    pts.reserve(static_cast<qsizetype>(s.points.size()));
    for (std::size_t i = 0; i < s.points.size(); ++i)
        pts.append(QPointF(static_cast<double>(i), s.points[i].value));
    if (!s.area && !s.points.empty() && s.line->pen().color() != s.points.back().colour)
        s.line->setPen(QPen(s.points.back().colour, 1));
    s.line->replace(pts);
    applyPage();
}

void WaveChart::addPoint(int index, double value, const QString& label, const QColor& colour) {
    Series& s = at(index);
    s.placeholder = false;
    const double x = static_cast<double>(s.points.size());
    s.points.push_back({value, label, colour});
    // The line takes the colour of the points it carries.
    if (!s.area && s.line->pen().color() != colour) s.line->setPen(QPen(colour, 1));
    s.line->append(x, value);
    applyPage();
}

int WaveChart::activeMaxPoints() const {
    int most = 0;
    for (const Series& s : series_)
        if (s.active) most = std::max(most, static_cast<int>(s.points.size()));
    return most;
}

int WaveChart::pageCount() const {
    return paging_.pageCount(activeMaxPoints(), seriesCount());
}

void WaveChart::setPointsPerPage(int points) {
    paging_.setPointsPerPage(points, activeMaxPoints(), seriesCount());
    applyPage();
}

void WaveChart::setPage(int page) {
    paging_.setPage(page, activeMaxPoints(), seriesCount());
    applyPage();
}

void WaveChart::applyPage() {
    // The bottom axis spans one full page, so the last page keeps a full page's scale.
    const ChartPaging::Window w = paging_.window(activeMaxPoints());
    if (bottom_->min() != w.first || bottom_->max() != w.last) {
        bottom_->setRange(w.first, w.last);
        bottom_->setTickAnchor(w.first);
        bottom_->setTickInterval(niceStep(w.last - w.first));
    }
}

double WaveChart::bottomMin() const {
    return bottom_->min();
}
double WaveChart::bottomMax() const {
    return bottom_->max();
}
double WaveChart::leftMin() const {
    return left_->min();
}
double WaveChart::leftMax() const {
    return left_->max();
}
void WaveChart::setLeftMinimum(double v) {
    left_->setMin(v);
}
void WaveChart::setLeftMaximum(double v) {
    left_->setMax(v);
}

QImage WaveChart::toImage() {
    return grab().toImage();
}

} // namespace rd780::view
