#pragma once
// The USB link in the window: the cable's device list, Connect, the poll and feature
// reports and the link timer. The reports it reads go to the session, which assembles them.
#include "link/hid/UsbCable.h"
#include "panel/LinkPanel.h"

#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

class QAction;
class QCheckBox;
class QListWidget;
class QPushButton;
class QTimer;
class QToolButton;

namespace rd780 {

struct CaptureRecord;
class HidServices;
class LinkMonitor;
class MeterSession;
class SimulatedHidServices;
class THidDevice;
class THidDeviceController;

class UsbLinkPanel : public LinkPanel {
    Q_OBJECT
public:
    // The link hands what it reads to session. START1 is the Connect menu's item that runs
    // USBConClick.
    UsbLinkPanel(const PanelContext& context, MeterSession& session, QAction* START1,
                 QObject* parent);

    QToolButton* USBCon = nullptr;
    QCheckBox* B2400 = nullptr; // hidden at start
    QCheckBox* B4800 = nullptr;
    QCheckBox* B9600 = nullptr;
    QPushButton* SendData = nullptr;
    QToolButton* ClearBtn = nullptr;
    QListWidget* DevListBox = nullptr; // hidden; each line's device is kept in DevListObjects
    QPushButton* SetFeature = nullptr;
    QToolButton* ReadBtn = nullptr;
    QTimer* ConTimer = nullptr;
    THidDeviceController* HidCtl = nullptr;
    std::vector<THidDevice*> DevListObjects;            // checked out by the panel, one per line
    THidDevice* SelectedHidDevice = nullptr;            // not owned
    std::shared_ptr<SimulatedHidServices> SimulatedHid; // the simulated cable, when there is one

    std::function<void()> ClearHistory;

    // services: what the devices are found through; null for hidraw, plus the simulated
    // cable when simulateMeter is set, plus a cable giving back a captured one's reports
    // when replay holds them.
    void createHidController(std::shared_ptr<HidServices> services, bool simulateMeter,
                             std::shared_ptr<const std::vector<CaptureRecord>> replay = nullptr,
                             double replaySpeed = 1);
    void destroyHidController();
    void HidDeviceData(THidDevice* HidDev, uint8_t ReportID, const uint8_t* Data, uint16_t Size);
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
    // The selected device, or nothing after saying that no cable is connected.
    THidDevice* DeviceToSendTo();
    void releaseDeviceList();
    void AttachUsbDataHandler();
    CableIdentity IdentityOf(THidDevice* HidDev);

private:
    void showUsbButton();
    LinkMonitor* monitor(); // the status bar's watch over the link, once there is one
    void linkProblem(const QString& text);
    QString connectedDevice_;
    MeterSession& session_;
};

} // namespace rd780
