#pragma once
// The main window. It owns every component for the whole run and keeps the handler
// names of the original design; the handlers stay short and leave the work to the plain
// classes in meter/, link/, record/ and view/.
//
// The handlers of each subsystem are defined next to that subsystem:
//   app/TFCOMM.cpp                 start, exit, error handling, frame assembly and decoding
//   link/hid/UsbLinkControl.cpp    USB link controls and the link timer
//   link/serial/SerialLinkControl.cpp  serial link controls
//   record/RecordingControl.cpp    reading table, recording rule, recall stamps, data files
//   record/LimitMarksControl.cpp   limit marks
//   view/ScaleControl.cpp          analog scale
//   view/ChartControl.cpp          waveform chart and paging
#include "app/FcommState.h"
#include "app/Guard.h"
#include "app/LinkWatch.h"

#include <QMainWindow>
#include <QString>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class QAction;
class QCheckBox;
class QComboBox;
class QFrame;
class QLabel;
class QLineEdit;
class QListWidget;
class QMenu;
class QMenuBar;
class QProgressBar;
class QResizeEvent;
class QTableView;
class QTimer;
class QPushButton;
class QToolButton;
class QWidget;

namespace rd780 {

class LcdPanel;
namespace view {
class HistoryList;
class ScalePanel;
class WaveChart;
} // namespace view
class RecordingSide;
class THidDevice;
class THidDeviceController;
class HidServices;
class SimulatedHidServices;

struct ProgramOptions {
    bool simulateMeter = false; // add the simulated cable to the HID device list
    QString serialPort;         // device opened for pnCOM1 instead of /dev/ttyS0
    // Receives the information boxes instead of a modal dialog (tests, headless runs).
    std::function<void(const QString&)> messageHook;
    // The link watch's clock (tests); empty: the steady clock.
    std::function<std::chrono::steady_clock::time_point()> linkClock;
};

class TFCOMM : public QMainWindow {
    Q_OBJECT

public:
    explicit TFCOMM(const ProgramOptions& options = {}, QWidget* parent = nullptr);
    ~TFCOMM() override;

    // Module state of the window's unit.
    FcommState S;
    const ProgramOptions Options;

    // ---- Main window and shared state ---------------------------------------------------
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

    // ---- Frame assembly, decoding and the LCD ---------------------------------------------
    view::HistoryList* HistoryListBox = nullptr;
    QPushButton* Button4 = nullptr;
    LcdPanel* Panel1 = nullptr;
    QProgressBar* PBar2 = nullptr;
    int BarPosition = 1; // the position last asked of PBar2, also beyond its maximum
    QLabel* CONok = nullptr;
    QLabel* CONokN = nullptr;

    void HidDeviceData(THidDevice* HidDev, uint8_t ReportID, const uint8_t* Data, uint16_t Size);
    void Button4Click();
    // Decodes FrameHex. Returns false when the frame's conversion failed; the failure is
    // reported without blocking.
    bool LcdDisplay520();
    long FramesDecoded = 0; // frames decoded without error, on either link
    // A decode failure is listed at most once a second per repeated text.
    void ReportFrameError(const std::string& text);
    std::string LastFrameError;
    std::chrono::steady_clock::time_point LastFrameErrorAt{};

    // ---- Link watch: live, stalled, cable gone --------------------------------------------
    LinkWatch Watch;
    QLabel* CONalarm = nullptr; // over the lamp: amber when stalled, red when the cable left
    void WatchConnected(LinkKind kind);
    void WatchDisconnected(LinkKind kind);
    void WatchFrame();
    void WatchTick();
    void ShowLinkState();

    // ---- USB link (link/hid/UsbLinkControl.cpp) -------------------------------------------
    QToolButton* USBCon = nullptr;
    QCheckBox* B2400 = nullptr; // FormCreate hides the three baud boxes
    QCheckBox* B4800 = nullptr;
    QCheckBox* B9600 = nullptr;
    QPushButton* SendData = nullptr;
    QToolButton* ClearBtn = nullptr;
    QListWidget* DevListBox = nullptr; // hidden; each line's device is kept in DevListObjects
    QPushButton* SetFeature = nullptr;
    QToolButton* ReadBtn = nullptr;
    QToolButton* InfoBtn = nullptr;
    QTimer* ConTimer = nullptr;
    THidDeviceController* HidCtl = nullptr;
    std::vector<THidDevice*> DevListObjects; // checked out by the window, one per line
    THidDevice* SelectedHidDevice = nullptr; // not owned
    // Tests give the window their own services; otherwise hidraw (plus the simulated cable
    // with --simulate-meter). Read once, when the controller is created.
    static std::function<std::shared_ptr<HidServices>(const ProgramOptions&)> MakeHidServices;
    std::shared_ptr<SimulatedHidServices> SimulatedHid; // set with --simulate-meter
    void buildUsbSide();
    void createHidController();
    void destroyHidController();
    void USBConClick();
    void SetFeatureClick();
    void SendDataClick();
    void ReadBtnClick();
    void ClearBtnClick();
    QString DescribeDevice(THidDevice* HidDev);
    bool HidCtlEnumerate(THidDevice* HidDev, int32_t Idx);
    void HidCtlArrival(THidDevice* HidDev);
    void HidCtlRemoval(THidDevice* HidDev);
    void HidCtlDeviceChange(QObject* Sender);
    void HidCtlDeviceDataError(THidDevice* HidDev, uint32_t Error);
    void ConTimerTimer();
    THidDevice* TakeSelectedDevice();
    void releaseDeviceList();
    void AttachUsbDataHandler();
    CableIdentity IdentityOf(THidDevice* HidDev);

    // ---- Serial link (link/serial/SerialLinkControl.cpp) ----------------------------------
    class TSerialPortDriver* COMM2 = nullptr; // child of the window; COM1 at 2400
    // Serial bytes into chunks for FrameHex. shared_ptr: its deleter is made where the type
    // is complete, so the window's destructor need not see it.
    std::shared_ptr<class SerialChunker> SerialFrames;
    long SerialFramesAssembled = 0; // whole frames the serial link handed to the decoder
    QPushButton* BTCon = nullptr;   // "Connect" and "Disconnect" lie on top of each other
    QPushButton* BtDiscon = nullptr;
    QToolButton* COMCon = nullptr; // hidden, like everything below it
    QPushButton* Button3 = nullptr;
    QPushButton* Button2 = nullptr;
    QLabel* BtCOM1 = nullptr;
    QLabel* BtCOM2 = nullptr;
    QLabel* BtCOM3 = nullptr;
    QLabel* BtCOM4 = nullptr;
    QPushButton* BtExit = nullptr;
    // Beside the panels: which device the link uses, or why it could not be opened.
    QLabel* SerialNote = nullptr;
    void buildSerialSide();
    void destroySerialSide();
    void BindSerialReceiveHandler(); // FormCreate step 9: COMM2.OnReceiveData := H520RData
    void H520RData(void* Sender, const uint8_t* DataPtr, int DataSize);
    void H520RIdle(); // a poll tick without bytes: the pause that ends a chunk
    void FormResize();
    void BTCon1Click();
    void BtDiscon1Click();
    void COMConClick();
    void Button3Click();
    void Button2Click();

    // ---- Recording and data files (record/RecordingControl.cpp) ---------------------------
    RecordingSide* Rec = nullptr; // reading table, recording rule, recall clock, grid model
    QCheckBox* RepeatSet = nullptr;
    QCheckBox* RecordSI = nullptr;
    QLineEdit* RecordSITime = nullptr;
    QToolButton* RecordNew = nullptr;
    QToolButton* OpenDataFiles = nullptr;
    QToolButton* saveas = nullptr;
    QToolButton* BtPrint = nullptr;
    QTableView* DBGrid1 = nullptr;
    QTimer* Trecord = nullptr;
    QFrame* Panel2 = nullptr;
    QCheckBox* RecallCheck = nullptr;
    QLineEdit* TimeH = nullptr;
    QLineEdit* TimeM = nullptr;
    QLineEdit* TimeS = nullptr;
    QLineEdit* TimeInt = nullptr;
    QPushButton* RecallDataTest = nullptr;
    // Stand-ins for the file dialogs and the preview (tests): a path, or empty to cancel.
    std::function<QString()> OpenDialogHook;
    std::function<QString()> SaveDialogHook;
    std::function<void(QWidget* preview)> PreviewHook;

    void buildRecordSide();
    void OpenReadingTable();
    void OpenReadingTableAtStart();
    QLabel* TableNote = nullptr; // on the grid while readings are not being recorded
    void ShowTableState();
    void CloseReadingTable();
    void INDataToTable();
    void TrecordTimer();
    void RecordSITimeChange();
    bool RecordSITimeKeyPress(QChar key); // true when the key may reach the edit
    void RecordNewClick();
    void N10001Click();
    void N50001Click();
    void N100001Click();
    void N500001Click();
    void N1000001Click();
    void limitessClick();
    void RecallCheckClick();
    void RecallCheckExit();
    void TimeHKeyUp();
    void RecallDataTestClick();
    void SpeedButton2Click();
    void saveasClick();
    void ExportTableAsText(const QString& FileName);
    void ExportTableAsParadox(const QString& FileName);
    void BtPrintClick();
    void BtSaveClick();

    // ---- Limit marks (record/LimitMarksControl.cpp) ---------------------------------------
    QWidget* Panel3 = nullptr;
    QCheckBox* SetMaxB = nullptr;
    QLineEdit* Setmax = nullptr;
    QCheckBox* SetMinB = nullptr;
    QLineEdit* SetMin = nullptr;
    QLabel* Label11 = nullptr;
    QLabel* MinText = nullptr;
    QLabel* MinTextU = nullptr;
    QLabel* Label12 = nullptr;
    QLabel* MaxText = nullptr;
    QLabel* MaxTextU = nullptr;
    void buildLimitSide();
    void SetmaxExit();
    void SetMinExit();

    // ---- Analog scale (view/ScaleControl.cpp) ---------------------------------------------
    QWidget* KD = nullptr;               // the scale panel; the core places icons on it
    view::ScalePanel* KdPanel = nullptr; // the same panel, with KD1, KdFd and KdSx
    void buildScaleSide();
    void KDsetup(int mode);
    void KDrun(int value);
    void KdFdClick();
    void KDResize();

    // ---- Waveform chart (view/ChartControl.cpp) -------------------------------------------
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
    QToolButton* BtSave = nullptr; // chart bitmap: its click runs BtSaveClick
    QToolButton* TbFd = nullptr;   // enlarge the chart
    QToolButton* TbSx = nullptr;   // restore the chart
    QPushButton* Onescope = nullptr;
    int ChartSavedWidth = 0; // the chart's bounds before it was enlarged
    int ChartSavedHeight = 0;
    int ChartSavedTop = 0;
    int ChartSavedLeft = 0;
    void buildChartSide();
    void ResetChartSeries();
    void PlotFrameWaveform(const std::string& frame);
    void SetChartLeftAxis(double min, double max);
    void ShowSeries(int index);
    void ComboBox1Change();
    void OnescopeClick();
    void BtNewClick();
    void MaxrecordExit();
    void BtFirstClick();
    void BTPreviousClick();
    void BtNextClick();
    void BTlastClick();
    void TbFdClick();

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void buildCore();
};

} // namespace rd780
