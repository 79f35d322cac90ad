#pragma once
// The View menu and the trend window: feeds the window the session's readings and limits
// from the start, shows it on demand (from the menu or the button beside the chart's), and
// keeps the alarm-sound choice.
#include "panel/Panel.h"

#include <functional>
#include <optional>
#include <string>

class QAction;
class QMenu;
class QMenuBar;
class QToolButton;

namespace rd780 {

namespace view {
class TrendWindow;
}

class TrendPanel : public Panel {
    Q_OBJECT
public:
    // The View menu goes into menuBar before the item `before`; the Trend button onto
    // buttonHost (the chart, beside its New and Save buttons).
    TrendPanel(const PanelContext& context, QMenuBar* menuBar, QAction* before, QWidget* buttonHost,
               QObject* parent);
    ~TrendPanel() override;

    QMenu* View1 = nullptr;
    QAction* Trend1 = nullptr;
    QAction* PlotTable1 = nullptr;
    QAction* AlarmSound1 = nullptr;     // checkable, off at start
    QToolButton* TrendBtn = nullptr;    // beside the chart's buttons
    view::TrendWindow* Trend = nullptr; // made with the panel, shown when asked for

    // The limit lines to show (read when the window opens and whenever they change).
    std::function<std::optional<double>()> HighLimit;
    std::function<std::optional<double>()> LowLimit;
    // Hands the open table to the trend window ("Plot table").
    std::function<void(view::TrendWindow&)> LoadTable;
    std::function<void(bool on)> AlarmSoundChanged;

    void TrendClick();
    void PlotTableClick();
    void addReading(const std::string& text, const std::string& unit);
    void limitsChanged();
    void resetStatistics();
};

} // namespace rd780
