#include "view/TrendWindow.h"

#include "meter/core/UnitSymbols.h"
#include "record/CsvExport.h"
#include "record/ReadingTable.h"
#include "record/ReadingValue.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>
#include <QWheelEvent>

#include <cmath>
#include <ctime>
#include <map>

namespace rd780::view {

namespace {

QString qs(const std::string& s) {
    return QString::fromStdString(s);
}

// A step of 1, 2 or 5 times a power of ten giving about `ticks` divisions.
double niceStep(double span, int ticks) {
    const double raw = span / std::max(ticks, 1);
    const double p = std::pow(10.0, std::floor(std::log10(raw)));
    for (double m : {1.0, 2.0, 5.0})
        if (raw <= m * p) return m * p;
    return 10.0 * p;
}

QString timeLabel(int64_t ms, int64_t span) {
    const std::string full = formatEpochMs(ms); // "YYYY-MM-DD HH:MM:SS.mmm"
    if (span < 10000) return qs(full.substr(11, 12));
    if (span > 2LL * 86400000) return qs(full.substr(5, 11));
    return qs(full.substr(11, 8));
}

} // namespace

std::string formatEpochMs(int64_t epochMs) {
    const std::time_t secs =
        static_cast<std::time_t>(epochMs >= 0 ? epochMs / 1000 : (epochMs - 999) / 1000);
    const int ms = static_cast<int>(epochMs - static_cast<int64_t>(secs) * 1000);
    std::tm tm{};
    localtime_r(&secs, &tm);
    char buf[40];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d.%03d", tm.tm_year + 1900,
                  tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, ms);
    return buf;
}

// ---- Plot ----

TrendPlot::TrendPlot(const TrendData& data, TrendViewport& viewport, QWidget* parent)
    : QWidget(parent), data_(&data), viewport_(viewport) {
    setFocusPolicy(Qt::StrongFocus);
    setMinimumSize(320, 200);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void TrendPlot::setData(const TrendData& data) {
    data_ = &data;
    update();
}

void TrendPlot::setUnit(const std::string& unit) {
    if (unit == unit_) return;
    unit_ = unit;
    update();
}

void TrendPlot::setLimits(const TrendLimits& limits) {
    limits_ = limits;
    update();
}

void TrendPlot::paintEvent(QPaintEvent*) {
    QPainter p(this);
    paint(p, rect());
    if (hasFocus()) {
        p.setPen(QPen(palette().color(QPalette::Highlight), 1, Qt::DotLine));
        p.setBrush(Qt::NoBrush);
        p.drawRect(rect().adjusted(1, 1, -2, -2));
    }
}

QString TrendPlot::describe() const {
    const TrendTrace* trace = data_->trace(unit_);
    if (!trace || trace->empty()) return tr("No readings");
    viewport_.update(trace->firstTime(), trace->lastTime());
    const int64_t t0 = viewport_.t0(), t1 = viewport_.t1();
    const QString unit = qs(readingUnitText(unit_));
    QString text = tr("%1 trace, %2 points; in view from %3 to %4")
                       .arg(unit)
                       .arg(static_cast<qulonglong>(trace->size()))
                       .arg(qs(formatEpochMs(t0)), qs(formatEpochMs(t1)));
    double lo = 0, hi = 0;
    if (trace->valueRange(t0, t1, lo, hi))
        text += tr(", values from %1 to %2 %3")
                    .arg(QString::number(lo, 'g', 6), QString::number(hi, 'g', 6), unit);
    else
        text += tr(", no reading in view");
    if (viewport_.following()) text += tr(", following the newest");
    return text;
}

void TrendPlot::paint(QPainter& p, const QRect& area) {
    p.fillRect(area, Qt::white);
    const QFontMetrics fm(p.font());
    const int left = area.left() + fm.horizontalAdvance(QStringLiteral("-0.000000")) + 10;
    plotArea_ = QRect(QPoint(left, area.top() + fm.height() + 6),
                      QPoint(area.right() - 12, area.bottom() - fm.height() - 10));
    const QRect& r = plotArea_;
    p.setPen(QColor(0x90, 0x90, 0x90));
    p.drawRect(r.adjusted(0, 0, -1, -1));

    const TrendTrace* trace = data_->trace(unit_);
    if (!trace || trace->empty() || r.width() < 4 || r.height() < 4) {
        p.setPen(Qt::darkGray);
        p.drawText(r, Qt::AlignCenter, tr("No readings"));
        return;
    }
    viewport_.update(trace->firstTime(), trace->lastTime());
    const int64_t t0 = viewport_.t0(), t1 = viewport_.t1();
    // The end is inclusive: following, the newest reading sits exactly on it.
    trace->reduce(t0, t1 + 1, r.width(), columns_);

    // The value axis spans what is visible, with a little room above and below.
    double lo = 0, hi = 0;
    bool any = false;
    for (const TrendColumn& c : columns_) {
        if (!c.data) continue;
        lo = any ? std::min(lo, c.min) : c.min;
        hi = any ? std::max(hi, c.max) : c.max;
        any = true;
    }
    if (!any) trace->valueRange(trace->firstTime(), trace->lastTime(), lo, hi);
    if (hi - lo < 1e-12) {
        const double pad = std::max(std::fabs(hi) * 0.01, 1e-3);
        lo -= pad, hi += pad;
    }
    const double margin = (hi - lo) * 0.05;
    lo -= margin, hi += margin;
    auto yOf = [&](double v) { return r.bottom() - (v - lo) / (hi - lo) * (r.height() - 1); };

    // Grid and labels.
    p.setPen(QColor(0xE4, 0xE4, 0xE4));
    const double vStep = niceStep(hi - lo, 6);
    QVector<QLineF> grid;
    std::vector<std::pair<double, double>> vLabels;
    for (double v = std::ceil(lo / vStep) * vStep; v <= hi; v += vStep) {
        grid.append(QLineF(r.left(), yOf(v), r.right(), yOf(v)));
        vLabels.emplace_back(v, yOf(v));
    }
    const double tStep = niceStep(static_cast<double>(t1 - t0), std::max(2, r.width() / 110));
    std::vector<std::pair<int64_t, double>> tLabels;
    for (double t = std::ceil(double(t0) / tStep) * tStep; t <= double(t1); t += tStep) {
        const double x = r.left() + (t - double(t0)) / double(t1 - t0) * r.width();
        grid.append(QLineF(x, r.top(), x, r.bottom()));
        tLabels.emplace_back(static_cast<int64_t>(t), x);
    }
    p.drawLines(grid);
    p.setPen(Qt::black);
    for (const auto& [v, y] : vLabels) {
        const QString text = QString::number(std::fabs(v) < vStep * 1e-6 ? 0.0 : v, 'g', 6);
        p.drawText(
            QRect(area.left(), int(y) - fm.height() / 2, left - area.left() - 6, fm.height()),
            Qt::AlignRight | Qt::AlignVCenter, text);
    }
    for (const auto& [t, x] : tLabels)
        p.drawText(QRect(int(x) - 60, r.bottom() + 4, 120, fm.height()), Qt::AlignCenter,
                   timeLabel(t, t1 - t0));
    p.drawText(QRect(left, area.top() + 2, r.width(), fm.height()), Qt::AlignLeft,
               qs(readingUnitText(unit_)) +
                   tr("   %1 points").arg(static_cast<qulonglong>(trace->size())) +
                   (viewport_.following() ? tr("   following") : QString()));

    // The trace: each column's span, stretched to meet its neighbour's unless a gap lies
    // between them.
    QVector<QLineF> lines;
    lines.reserve(r.width() * 2);
    int prev = -1;
    bool broken = true;
    for (int c = 0; c < int(columns_.size()); ++c) {
        const TrendColumn& col = columns_[std::size_t(c)];
        if (col.gap) broken = true;
        if (!col.data) continue;
        const double x = r.left() + c + 0.5;
        double a = col.min, b = col.max;
        if (!broken && prev >= 0) {
            const TrendColumn& pc = columns_[std::size_t(prev)];
            if (prev == c - 1) {
                a = std::min(a, pc.max);
                b = std::max(b, pc.min);
            } else {
                lines.append(QLineF(r.left() + prev + 0.5, yOf((pc.min + pc.max) / 2), x,
                                    yOf((col.min + col.max) / 2)));
            }
        }
        lines.append(QLineF(x, yOf(a), x, yOf(b) - (a == b ? 0.9 : 0)));
        prev = c;
        broken = col.gap; // where in the column the gap lay is unknown: do not join past it
    }
    p.save();
    p.setClipRect(r);
    p.setPen(QPen(QColor(0x1F, 0x5F, 0xBF), 1.0));
    p.drawLines(lines);

    // Limit lines, converted from displayed digits to the shown unit's number.
    const double scale = std::pow(10.0, data_->decimals(unit_));
    auto limitLine = [&](const std::optional<double>& limit, const QString& name) {
        if (!limit) return;
        const double v = *limit / scale;
        const double y = yOf(v);
        p.setPen(QPen(QColor(0xD0, 0x20, 0x20), 1.5, Qt::DashLine));
        if (y >= r.top() && y <= r.bottom()) {
            p.drawLine(QLineF(r.left(), y, r.right(), y));
            p.drawText(QPointF(r.right() - fm.horizontalAdvance(name) - 4, y - 3), name);
        }
    };
    limitLine(limits_.high, tr("SetMax"));
    limitLine(limits_.low, tr("SetMin"));
    p.restore();
}

void TrendPlot::showAll() {
    const TrendTrace* trace = data_->trace(unit_);
    // Everything, as it is: the unit picked and Follow newest stay as they were.
    if (trace && !trace->empty()) viewport_.showAll(trace->firstTime(), trace->lastTime());
    update();
    emit viewChanged();
}

void TrendPlot::wheelEvent(QWheelEvent* e) {
    const double steps = e->angleDelta().y() / 120.0;
    if (steps == 0 || plotArea_.width() <= 0) return;
    const double anchor = (e->position().x() - plotArea_.left()) / plotArea_.width();
    viewport_.zoom(std::pow(0.8, steps), anchor);
    update();
    emit viewChanged();
}

void TrendPlot::mousePressEvent(QMouseEvent* e) {
    if (e->button() == Qt::LeftButton) dragX_ = int(e->position().x());
}

void TrendPlot::mouseMoveEvent(QMouseEvent* e) {
    if (!dragX_ || plotArea_.width() <= 0) return;
    const int x = int(e->position().x());
    viewport_.pan(double(*dragX_ - x) / plotArea_.width());
    dragX_ = x;
    update();
    emit viewChanged();
}

void TrendPlot::mouseReleaseEvent(QMouseEvent*) {
    dragX_.reset();
}

void TrendPlot::mouseDoubleClickEvent(QMouseEvent*) {
    showAll();
}

void TrendPlot::keyPressEvent(QKeyEvent* e) {
    switch (e->key()) {
    case Qt::Key_Plus:
    case Qt::Key_Equal:
        viewport_.zoom(0.8, 0.5);
        break;
    case Qt::Key_Minus:
        viewport_.zoom(1.25, 0.5);
        break;
    case Qt::Key_Left:
        viewport_.pan(-0.1);
        break;
    case Qt::Key_Right:
        viewport_.pan(0.1);
        break;
    case Qt::Key_Home:
        showAll();
        return;
    case Qt::Key_End:
    case Qt::Key_F:
        viewport_.setFollowing(!viewport_.following() || e->key() == Qt::Key_End);
        break;
    default:
        QWidget::keyPressEvent(e);
        return;
    }
    update();
    emit viewChanged();
}

// ---- Window ----

TrendWindow::TrendWindow(QWidget* parent) : QWidget(parent, Qt::Window) {
    setWindowTitle(tr("Trend"));
    setObjectName("TrendWindow");
    plot_ = new TrendPlot(session_, viewport_, this);
    plot_->setObjectName("TrendPlot");

    unitBox_ = new QComboBox(this);
    unitBox_->setObjectName("TrendUnit");
    followBox_ = new QCheckBox(tr("Follow newest"), this);
    followBox_->setObjectName("TrendFollow");
    followBox_->setChecked(true);
    auto* allButton = new QPushButton(tr("Show all"), this);
    sourceLabel_ = new QLabel(tr("Session"), this);
    sessionButton_ = new QPushButton(tr("Back to session"), this);
    sessionButton_->setObjectName("TrendSession");
    sessionButton_->hide();

    plot_->setAccessibleName(tr("Trend plot"));
    auto* unitLabel = new QLabel(tr("Unit:"), this);
    unitLabel->setBuddy(unitBox_); // which also names the box for a screen reader
    auto* top = new QHBoxLayout;
    top->addWidget(unitLabel);
    top->addWidget(unitBox_);
    top->addWidget(followBox_);
    top->addWidget(allButton);
    top->addStretch(1);
    top->addWidget(sourceLabel_);
    top->addWidget(sessionButton_);

    statsTable_ = new QTableWidget(0, 7, this);
    statsTable_->setObjectName("TrendStatistics");
    statsTable_->setAccessibleName(tr("Statistics"));
    statsTable_->setHorizontalHeaderLabels(
        {tr("Count"), tr("Min"), tr("Min at"), tr("Max"), tr("Max at"), tr("Mean"), tr("Std dev")});
    statsTable_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    statsTable_->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    statsTable_->setMaximumHeight(150);
    resetButton_ = new QPushButton(tr("Reset"), this);
    resetButton_->setObjectName("TrendReset");
    copyButton_ = new QPushButton(tr("Copy"), this);
    copyButton_->setObjectName("TrendCopy");
    auto* buttons = new QVBoxLayout;
    buttons->addWidget(resetButton_);
    buttons->addWidget(copyButton_);
    buttons->addStretch(1);
    auto* bottom = new QHBoxLayout;
    bottom->addWidget(statsTable_, 1);
    bottom->addLayout(buttons);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(plot_, 1);
    layout->addLayout(bottom);
    resize(900, 560);

    connect(unitBox_, &QComboBox::activated, this, [this](int i) {
        plot_->setUnit(unitBox_->itemData(i).toString().toStdString());
        setFollowing(false); // a unit picked by hand stays
    });
    connect(followBox_, &QCheckBox::toggled, this, [this](bool on) {
        viewport_.setFollowing(on);
        if (on && !shown_->newestUnit().empty()) plot_->setUnit(shown_->newestUnit());
        refreshUnits();
        plot_->update();
    });
    connect(plot_, &TrendPlot::viewChanged, this, [this] {
        const QSignalBlocker quiet(followBox_);
        followBox_->setChecked(viewport_.following());
    });
    connect(allButton, &QPushButton::clicked, this, [this] {
        const TrendTrace* t = shown_->trace(plot_->unit());
        if (t && !t->empty()) viewport_.showAll(t->firstTime(), t->lastTime());
        plot_->update();
    });
    connect(sessionButton_, &QPushButton::clicked, this, [this] { showSession(); });
    connect(resetButton_, &QPushButton::clicked, this, [this] {
        shownStats_->reset();
        refreshStatistics();
    });
    connect(copyButton_, &QPushButton::clicked, this,
            [this] { QApplication::clipboard()->setText(qs(statisticsText())); });
    // Statistics and the unit list follow the readings a few times a second, not per frame,
    // and not at all while the window is hidden: it catches up when shown.
    refreshTimer_.setInterval(250);
    connect(&refreshTimer_, &QTimer::timeout, this, [this] {
        if (statsDirty_) refreshStatistics();
    });
}

void TrendWindow::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (unitsDirty_) refreshUnits();
    if (statsDirty_) refreshStatistics();
    refreshTimer_.start();
}

void TrendWindow::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    refreshTimer_.stop();
}

void TrendWindow::showUnit(const std::string& unit) {
    plot_->setUnit(unit);
    refreshUnits();
}

void TrendWindow::setFollowing(bool on) {
    followBox_->setChecked(on);
    viewport_.setFollowing(on);
    plot_->update();
}

void TrendWindow::takeReading(TrendData& data, ReadingStatistics& stats, int64_t epochMs,
                              const std::string& text, const std::string& unit) {
    data.addReading(epochMs, text, unit);
    if (isOverloadText(text)) {
        stats.addOverload(unit);
    } else if (const auto v = displayNumber(text)) {
        stats.add(unit, *v, epochMs);
    }
}

void TrendWindow::addReading(int64_t epochMs, const std::string& text, const std::string& unit) {
    const bool newUnit = session_.trace(unit) == nullptr;
    takeReading(session_, sessionStats_, epochMs, text, unit);
    if (shown_ != &session_) return; // collected; shown when the session is shown again
    statsDirty_ = true;
    bool unitsChanged = newUnit;
    if (viewport_.following() && plot_->unit() != session_.newestUnit()) {
        plot_->setUnit(session_.newestUnit());
        unitsChanged = true;
    }
    if (unitsChanged) {
        if (isVisible())
            refreshUnits();
        else
            unitsDirty_ = true;
    }
    if (isVisible()) plot_->update();
}

void TrendWindow::setLimits(std::optional<double> high, std::optional<double> low) {
    plot_->setLimits({high, low});
}

void TrendWindow::loadTable(const ReadingTable& table, const TableDating& dating) {
    // Local midnight of each date once, not a time-zone lookup per row; only on a day
    // whose length is not 24 hours (a daylight-saving change) is each row converted whole.
    auto localMs = [](CivilDate d, int32_t timeMs) {
        std::tm tm{};
        tm.tm_year = d.year - 1900;
        tm.tm_mon = d.month - 1;
        tm.tm_mday = d.day;
        tm.tm_hour = timeMs / 3600000;
        tm.tm_min = timeMs / 60000 % 60;
        tm.tm_sec = timeMs / 1000 % 60;
        tm.tm_isdst = -1;
        return static_cast<int64_t>(std::mktime(&tm)) * 1000 + timeMs % 1000;
    };
    struct Day {
        int64_t midnight;
        bool regular;
    };
    std::map<CivilDate, Day> days;
    auto epochOf = [&](CivilDate d, int32_t timeMs) {
        auto it = days.find(d);
        if (it == days.end()) {
            const int64_t start = localMs(d, 0);
            const bool regular = localMs(addDays(d, 1), 0) - start == 86400000;
            it = days.emplace(d, Day{start, regular}).first;
        }
        return it->second.regular ? it->second.midnight + timeMs : localMs(d, timeMs);
    };
    TrendData data;
    ReadingStatistics stats;
    forEachTableReading(table, dating, [&](const CsvReading& r) {
        takeReading(data, stats, epochOf(r.date, r.timeMs), r.value, r.unit);
    });
    table_ = std::move(data);
    tableStats_ = std::move(stats);
    display(table_, tableStats_);
    sourceLabel_->setText(tr("Table %1").arg(qs(table.path().string())));
    sessionButton_->show();
    if (!table_.traces().empty()) plot_->setUnit(table_.traces().front().unit());
    const TrendTrace* t = table_.trace(plot_->unit());
    if (t && !t->empty()) viewport_.showAll(t->firstTime(), t->lastTime());
    setFollowing(false);
    refreshUnits();
    refreshStatistics();
}

void TrendWindow::display(TrendData& data, ReadingStatistics& stats) {
    shown_ = &data;
    shownStats_ = &stats;
    plot_->setData(data);
}

void TrendWindow::showSession() {
    display(session_, sessionStats_);
    // The table is not kept once the session is back: it can be plotted again.
    table_ = TrendData();
    tableStats_.reset();
    sourceLabel_->setText(tr("Session"));
    sessionButton_->hide();
    if (!session_.newestUnit().empty()) plot_->setUnit(session_.newestUnit());
    const TrendTrace* t = session_.trace(plot_->unit());
    if (t && !t->empty()) viewport_.showAll(t->firstTime(), t->lastTime());
    setFollowing(true);
    refreshUnits();
    refreshStatistics();
}

void TrendWindow::resetStatistics() {
    sessionStats_.reset();
    if (shown_ == &session_) refreshStatistics();
}

void TrendWindow::clear() {
    session_.clear();
    sessionStats_.reset();
    if (shown_ != &session_) return;
    refreshUnits();
    refreshStatistics();
    plot_->update();
}

std::string TrendWindow::statisticsText() const {
    return shownStats_->text(&formatEpochMs);
}

void TrendWindow::refreshUnits() {
    unitsDirty_ = false;
    const QSignalBlocker quiet(unitBox_);
    unitBox_->clear();
    for (const TrendTrace& t : shown_->traces())
        unitBox_->addItem(qs(readingUnitText(t.unit())), qs(t.unit()));
    unitBox_->setCurrentIndex(unitBox_->findData(qs(plot_->unit())));
}

void TrendWindow::refreshStatistics() {
    statsDirty_ = false;
    const auto& units = shownStats_->units();
    statsTable_->setRowCount(int(units.size()));
    QStringList rows;
    for (int i = 0; i < int(units.size()); ++i) {
        const UnitStatistics& u = units[std::size_t(i)];
        rows << qs(readingUnitText(u.unit));
        const bool any = u.count > 0;
        const QString cells[] = {QString::number(u.count),
                                 any ? QString::number(u.min, 'g', 10) : QString(),
                                 any ? qs(formatEpochMs(u.minTimeMs)) : QString(),
                                 any ? QString::number(u.max, 'g', 10) : QString(),
                                 any ? qs(formatEpochMs(u.maxTimeMs)) : QString(),
                                 any ? QString::number(u.mean, 'g', 10) : QString(),
                                 any ? QString::number(u.stddev, 'g', 6) : QString()};
        for (int c = 0; c < 7; ++c) {
            auto* item = statsTable_->item(i, c);
            if (!item) statsTable_->setItem(i, c, item = new QTableWidgetItem);
            item->setText(cells[c]);
        }
    }
    statsTable_->setVerticalHeaderLabels(rows);
}

} // namespace rd780::view
