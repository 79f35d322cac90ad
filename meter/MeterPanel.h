#pragma once
// The meter's face in the window: the LCD, the bar graph, the link lamp and the test
// frame. It shows each frame the session decodes, step by step, and hands the parts of a
// reading that are not its own (pointer, alarms, waveform) to whoever the window wired.
#include "link/LinkWatch.h"
#include "panel/ModuleState.h"
#include "panel/Panel.h"

#include <chrono>
#include <functional>
#include <memory>
#include <string>

class QLabel;
class QProgressBar;
class QPushButton;

namespace rd780 {

class LcdPanel;
class MeterSession;
class PanelDecodeView;

class MeterPanel : public Panel {
    Q_OBJECT
public:
    MeterPanel(const PanelContext& context, ReadingState& reading, MeterSession& session,
               QObject* parent);
    ~MeterPanel() override;

    LcdPanel* Panel1 = nullptr;
    QProgressBar* PBar2 = nullptr;
    int BarPosition = 1; // the position last asked of PBar2, also beyond its maximum
    QPushButton* Button4 = nullptr;
    QLabel* CONok = nullptr; // the link lamp, on the panel given to placeLamp
    QLabel* CONokN = nullptr;
    QLabel* CONalarm = nullptr; // over the lamp: amber when stalled, red when the cable left

    // Where the rest of a decoded reading goes. Called during the decode; an error they
    // raise ends that frame's decode like a bad frame does.
    std::function<void(int value)> PointerTo;
    std::function<void()> OfferReading;
    std::function<void()> ResetChart;
    std::function<void(const std::string& frame)> PlotWaveform;
    std::function<void()> TestFrameShown; // before the test frame is decoded

    void placeLamp(QWidget* on);
    void showLinkLamp(bool frames); // green while frames arrive, grey when none do

    void Button4Click();
    // Decodes FrameHex through the session, as a frame of the link. Returns false when the
    // frame's conversion failed; the failure is listed without blocking.
    bool LcdDisplay520();
    // A decode failure is listed at most once a second per repeated text.
    void ReportFrameError(const std::string& text);
    std::string LastFrameError;
    std::chrono::steady_clock::time_point LastFrameErrorAt{};
    long FramesDecoded = 0; // frames decoded without error, on either link

    // The watch over the link in use (the session's), shown by the lamp.
    LinkWatch& Watch;
    void WatchConnected(LinkKind kind);
    void WatchDisconnected(LinkKind kind);
    void ShowLinkState();

signals:
    // A frame was decoded whole; the reading is in the module state.
    void readingDecoded();
    // The watch's state (live, stalled, cable gone, off) is shown anew.
    void linkStateShown();

private:
    friend class PanelDecodeView;
    // The session's health changed by a frame or a tick: said in the history.
    void healthChanged(LinkWatch::State state);
    ReadingState& reading_;
    MeterSession& session_;
    std::unique_ptr<PanelDecodeView> view_;
};

} // namespace rd780
