#pragma once
// The trend window: the session's readings against time, one trace per unit, with the
// statistics since Connect or Reset beside them. Fed one reading at a time by the window's
// decode, whether shown or not; an opened table can be shown instead, and the session
// keeps collecting meanwhile.
#include "record/ReadingStatistics.h"
#include "view/TrendData.h"

#include <QTimer>
#include <QWidget>

#include <optional>
#include <string>

class QCheckBox;
class QComboBox;
class QPushButton;
class QTableWidget;
class QLabel;

namespace rd780 {
class ReadingTable;
class TableDating;
} // namespace rd780

namespace rd780::view {

// Limit lines, in the units the limit marks use (displayed digits without the point).
struct TrendLimits {
    std::optional<double> high;
    std::optional<double> low;
};

// The plot itself; paint() draws into any painter, so it can be timed off screen.
class TrendPlot : public QWidget {
    Q_OBJECT
public:
    TrendPlot(const TrendData& data, TrendViewport& viewport, QWidget* parent = nullptr);

    void setData(const TrendData& data);
    void setUnit(const std::string& unit);
    const std::string& unit() const { return unit_; }
    void setLimits(const TrendLimits& limits);
    void paint(QPainter& p, const QRect& area);

    // The trace in view in words, for assistive technology: unit, points, time and value
    // range in view.
    QString describe() const;

    // The plotting area of the last drawing (tests aim their mouse at it).
    QRect plotArea() const { return plotArea_; }

signals:
    void viewChanged();

protected:
    void paintEvent(QPaintEvent*) override;
    void wheelEvent(QWheelEvent*) override;
    void mousePressEvent(QMouseEvent*) override;
    void mouseMoveEvent(QMouseEvent*) override;
    void mouseReleaseEvent(QMouseEvent*) override;
    void mouseDoubleClickEvent(QMouseEvent*) override;
    void keyPressEvent(QKeyEvent*) override;

private:
    void showAll();
    const TrendData* data_;
    TrendViewport& viewport_;
    std::string unit_;
    TrendLimits limits_;
    std::vector<TrendColumn> columns_;
    QRect plotArea_;
    std::optional<int> dragX_;
};

class TrendWindow : public QWidget {
    Q_OBJECT
public:
    explicit TrendWindow(QWidget* parent = nullptr);

    // One decoded reading: the moment (milliseconds since 1970), the display text and the
    // unit codes as the decoder sets them.
    void addReading(int64_t epochMs, const std::string& text, const std::string& unit);
    // The limit lines while SetMax / SetMin are ticked (nothing: no line).
    void setLimits(std::optional<double> high, std::optional<double> low);
    // Shows an opened table instead of the session: its Time field, dated as the CSV
    // export dates it, against its values, per unit. Throws when the table lacks a
    // reading column.
    void loadTable(const ReadingTable& table, const TableDating& dating);
    // Back from a table to the session, following its newest reading.
    void showSession();
    bool showingTable() const { return shown_ == &table_; }
    // Starts the session's statistics again (Connect).
    void resetStatistics();
    // Forgets every reading of the session.
    void clear();

    // Of what is shown: the session, or the table.
    std::string statisticsText() const;
    const ReadingStatistics& statistics() const { return *shownStats_; }
    const TrendData& data() const { return *shown_; }
    TrendViewport& viewport() { return viewport_; }
    TrendPlot* plot() const { return plot_; }
    // Shows one unit's trace (as picking it in the unit box does).
    void showUnit(const std::string& unit);
    bool following() const { return viewport_.following(); }
    void setFollowing(bool on);

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void refreshStatistics();
    void refreshUnits();
    static void takeReading(TrendData& data, ReadingStatistics& stats, int64_t epochMs,
                            const std::string& text, const std::string& unit);
    void display(TrendData& data, ReadingStatistics& stats);

    TrendData session_;
    ReadingStatistics sessionStats_;
    TrendData table_;
    ReadingStatistics tableStats_;
    TrendData* shown_ = &session_;
    ReadingStatistics* shownStats_ = &sessionStats_;
    TrendViewport viewport_;
    TrendPlot* plot_ = nullptr;
    QComboBox* unitBox_ = nullptr;
    QCheckBox* followBox_ = nullptr;
    QTableWidget* statsTable_ = nullptr;
    QPushButton* resetButton_ = nullptr;
    QPushButton* copyButton_ = nullptr;
    QLabel* sourceLabel_ = nullptr;
    QPushButton* sessionButton_ = nullptr; // back to the session while a table is shown
    QTimer refreshTimer_;
    bool statsDirty_ = false;
    bool unitsDirty_ = false; // a unit came while the window was hidden
};

// "2026-12-09 14:05:09.120", local time.
std::string formatEpochMs(int64_t epochMs);

} // namespace rd780::view
