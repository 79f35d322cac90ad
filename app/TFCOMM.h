#pragma once
// The main window: it creates one panel per subsystem, places and wires them, and owns the
// menu bar, the history list and the error gate. The panels keep the handler names of the
// original design; the work is done by the plain classes beside them.
#include "app/ProgramOptions.h"
#include "base/Guard.h"
#include "link/LinkWatch.h"
#include "panel/FcommState.h"
#include "panel/Panel.h"
#include "record/NewQuestion.h"

#include <QMainWindow>
#include <QString>

#include <functional>
#include <memory>

class QAction;
class QCheckBox;
class QMenu;
class QMenuBar;
class QPushButton;
class QResizeEvent;

namespace rd780 {

class ChartPanel;
class HidServices;
class LimitPanel;
class MeterPanel;
class MeterSession;
class RecordingPanel;
class ScaleView;
class SerialLinkPanel;
class TrendPanel;
class UsbLinkPanel;
namespace view {
class HistoryList;
}

class TFCOMM : public QMainWindow {
    Q_OBJECT

public:
    explicit TFCOMM(const ProgramOptions& options = {}, QWidget* parent = nullptr);
    ~TFCOMM() override;

    // Module state of the window's unit; each panel is handed its parts.
    FcommState S;
    const ProgramOptions Options;

    QWidget* Client = nullptr; // the design's client area, 717 by 596
    QMenuBar* MainMenu1 = nullptr;
    QMenu* Connect1 = nullptr;
    QAction* START1 = nullptr;
    QAction* STOP1 = nullptr;
    QMenu* Record1 = nullptr;
    QAction* New1 = nullptr;
    QAction* Save1 = nullptr;
    QAction* N10001 = nullptr;
    QAction* N50001 = nullptr;
    QAction* N100001 = nullptr;
    QAction* N500001 = nullptr;
    QAction* N1000001 = nullptr;
    QAction* limitess = nullptr;
    QAction* EXIT1 = nullptr;
    QPushButton* BitBtn1 = nullptr;
    QCheckBox* IFRD230 = nullptr;
    view::HistoryList* HistoryListBox = nullptr;
    // The data path: what the links read, assembled, decoded and recorded; the panels hand
    // it what they read and show what it announces.
    MeterSession* const Session;
    LinkWatch& Watch; // the session's, over the link in use: live, stalled, cable gone

    // The panels, in the order they are made.
    MeterPanel* Meter = nullptr; // LCD, bar graph, link lamp, test frame, decoding
    ScaleView* Scale = nullptr;
    ChartPanel* Chart = nullptr;
    RecordingPanel* Recording = nullptr;
    LimitPanel* Limits = nullptr;
    SerialLinkPanel* Serial = nullptr;
    UsbLinkPanel* Usb = nullptr;
    TrendPanel* Trends = nullptr; // View menu, trend window

    // Tests give the USB link their own services; otherwise hidraw (plus the simulated
    // cable with --simulate-meter). Read once, when the window is made.
    static std::function<std::shared_ptr<HidServices>(const ProgramOptions&)> MakeHidServices;

    void FormCreate();
    void BtExit1Click();
    void BitBtn1Click();

    // Shows an information box with OK. Tests replace it through MessageHook.
    void ShowMessage(const QString& text);
    std::function<void(const QString&)> MessageHook;
    // Runs a handler under the window's default error handling.
    template <class F> bool Guarded(F&& f) {
        return runGuarded([this](const std::string& e) { ShowMessage(QString::fromStdString(e)); },
                          std::forward<F>(f));
    }
    // Adds a line to HistoryListBox, selected, keeping the newest HistoryLimit lines.
    void AddHistoryLine(const QString& line);
    static constexpr int HistoryLimit = 5000;

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void buildCore();
    void buildPanels();
    PanelContext panelContext();
    QSize visibleClientArea() const;
};

} // namespace rd780
