#pragma once
// The waveform chart in the window, with its page buttons, enlarge button and bitmap save.
#include "panel/Panel.h"

#include <QSize>

#include <functional>
#include <string>

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QToolButton;

namespace rd780 {

namespace view {
class WaveChart;
}

class ChartPanel : public Panel {
    Q_OBJECT
public:
    ChartPanel(const PanelContext& context, QObject* parent);

    QComboBox* ComboBox1 = nullptr;
    QLabel* ScopeNo = nullptr; // scope indicators: no waveform / waveform shown
    QLabel* Scopeok = nullptr;
    view::WaveChart* Chtshow = nullptr;
    QLineEdit* Maxrecord = nullptr; // points per page
    QToolButton* BtFirst = nullptr;
    QToolButton* BTPrevious = nullptr;
    QToolButton* Bt10 = nullptr; // shows the page number
    QToolButton* BtNext = nullptr;
    QToolButton* BTlast = nullptr;
    QToolButton* BtNew = nullptr;
    QToolButton* BtSave = nullptr; // chart bitmap
    QToolButton* TbFd = nullptr;   // enlarge the chart
    QToolButton* TbSx = nullptr;   // restore the chart
    QPushButton* Onescope = nullptr;
    int ChartSavedWidth = 0; // the chart's bounds before it was enlarged
    int ChartSavedHeight = 0;
    int ChartSavedTop = 0;
    int ChartSavedLeft = 0;

    // The window's visible client area, which the enlarged chart fills.
    std::function<QSize()> VisibleArea;

    void ResetChartSeries();
    void PlotFrameWaveform(const std::string& frame);
    void SetChartLeftAxis(double min, double max);
    void ShowSeries(int index);
    void ShowScope(bool shown); // the scope indicator: a waveform is shown, or none
    void ComboBox1Change();
    void OnescopeClick();
    void BtNewClick();
    void BtSaveClick();
    void MaxrecordExit();
    void BtFirstClick();
    void BTPreviousClick();
    void BtNextClick();
    void BTlastClick();
    void TbFdClick();
};

} // namespace rd780
