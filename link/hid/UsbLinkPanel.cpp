#include "link/hid/UsbLinkPanel.h"

#include "link/hid/HidControllerClass.h"
#include "link/hid/SimulatedHidServices.h"
#include "session/MeterSession.h"

#include <QAction>
#include <QCheckBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QTimer>
#include <QToolButton>

#include "status/StatusFeed.h"

#include <algorithm>
#include <array>

namespace rd780 {

namespace {
const QString NotConnectedText =
    QStringLiteral("USB interface cable is not securely connected, please check and re-try.");

QString hexLine(const std::uint8_t* bytes, std::size_t n) {
    QString line;
    for (std::size_t i = 0; i < n; ++i)
        line += QStringLiteral("%1 ").arg(bytes[i], 2, 16, QLatin1Char('0')).toUpper();
    return line;
}

QToolButton* speedButton(QWidget* parent, const char* name, const QString& caption) {
    auto* b = new QToolButton(parent);
    b->setObjectName(name);
    b->setText(caption);
    return b;
}
} // namespace

UsbLinkPanel::UsbLinkPanel(const PanelContext& context, MeterSession& session, QAction* START1,
                           QObject* parent)
    : LinkPanel(context, session.health(), parent), session_(session) {
    USBCon = speedButton(Client, "USBCon", "Connect");
    USBCon->setToolTip("USB Connect");
    USBCon->setCheckable(true);
    USBCon->setGeometry(3, 7, 102, 22);
    // Every path that connects or drops the link checks or unchecks the button: its caption
    // and hint follow from that one state.
    connect(USBCon, &QToolButton::toggled, this, [this] { showUsbButton(); });

    ReadBtn = speedButton(Client, "ReadBtn", "Read");
    ReadBtn->setCheckable(true);
    ReadBtn->setGeometry(600, 500, 50, 24);
    ReadBtn->hide();

    // Toggle group: pressing one down releases the others without running their handlers.
    connect(USBCon, &QToolButton::clicked, this, [this](bool down) {
        if (down) {
            ReadBtn->setChecked(false);
            ReleaseOtherLink();
        }
        Guarded([this] { USBConClick(); });
    });
    connect(ReadBtn, &QToolButton::clicked, this, [this](bool down) {
        if (down) {
            USBCon->setChecked(false);
            ReleaseOtherLink();
        }
        Guarded([this] { ReadBtnClick(); });
    });
    if (START1)
        connect(START1, &QAction::triggered, this, [this] {
            // Ctrl+A presses Connect: the same sequence and button state as a click. While
            // connected it does nothing (running Connect again would reset the statistics).
            if (!USBCon->isChecked()) USBCon->click();
        });

    SendData = new QPushButton("USBSendData", Client);
    SendData->setObjectName("SendData");
    SendData->setGeometry(340, 530, 90, 24);
    connect(SendData, &QPushButton::clicked, this,
            [this] { Guarded([this] { SendDataClick(); }); });

    ClearBtn = speedButton(Client, "ClearBtn", "Clear");
    ClearBtn->setGeometry(430, 530, 60, 24);
    connect(ClearBtn, &QToolButton::clicked, this,
            [this] { Guarded([this] { ClearBtnClick(); }); });

    DevListBox = new QListWidget(Client);
    DevListBox->setObjectName("DevListBox");
    DevListBox->setGeometry(340, 556, 250, 36);
    DevListBox->hide();

    SetFeature = new QPushButton("SetFeature", Client);
    SetFeature->setObjectName("SetFeature");
    SetFeature->setGeometry(500, 530, 80, 24);
    SetFeature->hide();
    connect(SetFeature, &QPushButton::clicked, this,
            [this] { Guarded([this] { SetFeatureClick(); }); });

    const std::array<std::pair<QCheckBox**, const char*>, 3> bauds = {
        {{&B2400, "2400"}, {&B4800, "4800"}, {&B9600, "9600"}}};
    int x = 585;
    for (auto [box, caption] : bauds) {
        *box = new QCheckBox(caption, Client);
        (*box)->setObjectName(QStringLiteral("B") + caption);
        (*box)->setGeometry(x, 532, 42, 20);
        x += 44;
    }
    B9600->setChecked(true);

    ConTimer = new QTimer(this);
    ConTimer->setObjectName("ConTimer");
    ConTimer->setInterval(100);
    connect(ConTimer, &QTimer::timeout, this, [this] { Guarded([this] { ConTimerTimer(); }); });
    ConTimer->start();
}

void UsbLinkPanel::createHidController(std::shared_ptr<HidServices> services, bool simulateMeter,
                                       std::shared_ptr<const std::vector<CaptureRecord>> replay,
                                       double replaySpeed) {
    if (!services) {
        services = makeLinuxHidServices();
        if (simulateMeter) {
            SimulatedHid = std::make_shared<SimulatedHidServices>(services);
            // Paced like a real cable: a report every 10 ms whether read or not.
            SimDeviceConfig cable;
            cable.paced = true;
            cable.reportInterval = std::chrono::milliseconds(10);
            SimulatedHid->addDevice(cable);
            services = SimulatedHid;
        }
    }
    if (!SimulatedHid) SimulatedHid = std::dynamic_pointer_cast<SimulatedHidServices>(services);
    if (replay) {
        // The captured cable is listed beside the others.
        auto replayed = std::make_shared<SimulatedHidServices>(services);
        SimDeviceConfig cable;
        cable.replay = std::move(replay);
        cable.replaySpeed = replaySpeed;
        replayed->addDevice(cable);
        replayed->setReplayEnded([this] {
            // The last reports may still wait for their batch: hand them over first.
            for (THidDevice* d : DevListObjects)
                if (d) d->HandOverReports();
            AddHistoryLine("Replay finished");
        });
        services = replayed;
    }
    HidCtl = new THidDeviceController(this, services);
    HidCtl->SetDevThreadSleepTime(100);
    // Every event runs under the window's error handling, like any other handler. The
    // bindings carry the handler's name, so binding the same handler again is no change.
    HidCtl->SetOnArrival(THidPlugEvent(
        this, "HidCtlArrival", [this](THidDevice* d) { Guarded([&] { HidCtlArrival(d); }); }));
    HidCtl->SetOnEnumerate(
        THidEnumerateEvent(this, "HidCtlEnumerate", [this](THidDevice* d, int32_t i) {
            bool goOn = true;
            Guarded([&] { goOn = HidCtlEnumerate(d, i); });
            return goOn;
        }));
    HidCtl->SetOnDeviceDataError(
        THidDataErrorEvent(this, "HidCtlDeviceDataError", [this](THidDevice* d, uint32_t e) {
            Guarded([&] { HidCtlDeviceDataError(d, e); });
        }));
    HidCtl->SetOnRemoval(THidPlugEvent(
        this, "HidCtlRemoval", [this](THidDevice* d) { Guarded([&] { HidCtlRemoval(d); }); }));
    // Bound last: this fires the first device change, which fills DevListBox.
    HidCtl->SetOnDeviceChange(TNotifyEvent(this, "HidCtlDeviceChange", [this](QObject* sender) {
        Guarded([&] { HidCtlDeviceChange(sender); });
    }));
}

void UsbLinkPanel::destroyHidController() {
    if (!HidCtl) return;
    // Give our devices back first: their read threads stop here, on the GUI thread.
    releaseDeviceList();
    delete HidCtl;
    HidCtl = nullptr;
}

void UsbLinkPanel::releaseDeviceList() {
    // Stop the readers while the list is intact: a delivery they run while stopping may
    // still poll the selected device.
    for (THidDevice* d : DevListObjects)
        if (d) d->StopReading();
    SelectedHidDevice = nullptr;
    std::vector<THidDevice*> devices;
    devices.swap(DevListObjects);
    for (THidDevice* d : devices)
        delete d; // check-in
    if (DevListBox) DevListBox->clear();
}

THidDevice* UsbLinkPanel::TakeSelectedDevice() {
    SelectedHidDevice = nullptr;
    if (!DevListBox || DevListBox->count() == 0) return nullptr;
    const int row = DevListBox->currentRow();
    if (row < 0 || !DevListBox->item(row)->isSelected()) return nullptr;
    if (row < static_cast<int>(DevListObjects.size())) SelectedHidDevice = DevListObjects[row];
    return SelectedHidDevice;
}

QString UsbLinkPanel::DescribeDevice(THidDevice* HidDev) {
    const std::u16string product = HidDev->ProductText();
    QString text = !product.empty() ? QString::fromStdU16String(product)
                                    : QString::asprintf("Device VID=%.4X PID=%.4X",
                                                        HidDev->VendorID(), HidDev->ProductID());
    const std::u16string serial = HidDev->SerialText();
    if (!serial.empty())
        text += QStringLiteral(" (Serial=%1)").arg(QString::fromStdU16String(serial));
    return text;
}

bool UsbLinkPanel::HidCtlEnumerate(THidDevice* HidDev, int32_t Idx) {
    if (DevListBox) {
        DevListBox->addItem(DescribeDevice(HidDev));
        THidDevice* out = nullptr;
        HidCtl->CheckOutAt(Idx, out);
        DevListObjects.push_back(out);
    }
    return true;
}

void UsbLinkPanel::HidCtlDeviceChange(QObject*) {
    // A change that leaves the cable in use present must not end the reading.
    const bool wasReading = USBCon->isChecked() && SelectedHidDevice &&
                            SelectedHidDevice->DataHandler() && SelectedHidDevice->PnPInfo();
    const std::uint32_t readingInstance = wasReading ? SelectedHidDevice->PnPInfo()->DevInst : 0;
    ReadBtn->setChecked(false);
    ReadBtnClick();
    if (DevListBox) {
        releaseDeviceList();
        HidCtl->EnumerateDevices();
    }
    int pick = -1;
    int same = -1;
    int awaited = -1;
    for (int i = 0; i < DevListBox->count(); ++i) {
        THidDevice* d = i < static_cast<int>(DevListObjects.size()) ? DevListObjects[i] : nullptr;
        if (!d) continue;
        if (UsbCable::isCable(*d)) pick = i;
        if (wasReading && d->PnPInfo() && d->PnPInfo()->DevInst == readingInstance) same = i;
        if (Watch.awaits(IdentityOf(d))) awaited = i;
    }
    if (same >= 0)
        pick = same;
    else if (awaited >= 0)
        pick = awaited;
    DevListBox->setCurrentRow(pick);
    if (pick < 0) DevListBox->clearSelection();

    if (same >= 0) {
        AttachUsbDataHandler();
    } else if (awaited >= 0) {
        // The same cable is back (a new connection): configure and poll as Connect does.
        AddHistoryLine("Cable back: reading resumed");
        USBCon->setChecked(true);
        USBConClick();
    }
}

void UsbLinkPanel::showUsbButton() {
    const bool on = USBCon->isChecked();
    USBCon->setText(on ? "Connected" : "Connect");
    USBCon->setToolTip(on ? "Connected to " + connectedDevice_
                          : QStringLiteral("USB Connect: not connected"));
}

LinkMonitor* UsbLinkPanel::monitor() {
    return Status ? &Status->Link : nullptr;
}

void UsbLinkPanel::linkProblem(const QString& text) {
    if (LinkMonitor* m = monitor()) {
        m->problem(text.toStdString());
        Status->refresh();
    }
}

void UsbLinkPanel::HidCtlArrival(THidDevice* HidDev) {
    AddHistoryLine("Arrival of " + DescribeDevice(HidDev));
}

void UsbLinkPanel::HidCtlRemoval(THidDevice* HidDev) {
    AddHistoryLine("Removal of " + DescribeDevice(HidDev));
    // Another device leaving does not concern the link.
    if (HidDev != SelectedHidDevice) return;
    USBCon->setChecked(false);
    if (Watch.cableGone(IdentityOf(HidDev))) {
        AddHistoryLine("Cable removed: reading stopped until it is plugged in again");
        ShowLinkState();
    }
}

CableIdentity UsbLinkPanel::IdentityOf(THidDevice* HidDev) {
    return {HidDev->VendorID(), HidDev->ProductID(), HidDev->ProductText(), HidDev->SerialText()};
}

void UsbLinkPanel::HidCtlDeviceDataError(THidDevice*, uint32_t Error) {
    const std::string text =
        HidCtl && HidCtl->Services() ? HidCtl->Services()->errorText(Error) : std::string();
    const QString line = QStringLiteral("READ ERROR: %1 (%2)")
                             .arg(QString::fromStdString(text))
                             .arg(QString::number(Error, 16).toUpper());
    AddHistoryLine(line);
    linkProblem(line);
}

void UsbLinkPanel::ClearBtnClick() {
    if (ClearHistory) ClearHistory();
}

void UsbLinkPanel::ReadBtnClick() {
    THidDevice* dev = TakeSelectedDevice();
    if (!dev) return;
    if (!dev->HasReadWriteAccess()) {
        ReadBtn->setChecked(false);
    } else if (!ReadBtn->isChecked()) {
        dev->SetDataHandler({});
    }
}

THidDevice* UsbLinkPanel::DeviceToSendTo() {
    THidDevice* dev = TakeSelectedDevice();
    if (!dev) {
        linkProblem(NotConnectedText);
        ShowMessage(NotConnectedText);
        USBCon->setChecked(false);
    }
    return dev;
}

void UsbLinkPanel::SetFeatureClick() {
    THidDevice* dev = DeviceToSendTo();
    if (!dev) return;
    // With several boxes ticked the slowest wins, as the boxes were always read.
    const std::uint32_t baud = B2400->isChecked()   ? 2400
                               : B4800->isChecked() ? 4800
                               : B9600->isChecked() ? 9600
                                                    : 0;
    std::vector<std::uint8_t> buf;
    UsbCable::configure(*dev, baud, &buf); // a failure is not reported; the bytes are listed
    AddHistoryLine(hexLine(buf.data() + 1, 10));
}

void UsbLinkPanel::SendDataClick() {
    THidDevice* dev = DeviceToSendTo();
    if (!dev) return;
    std::size_t written = 10;
    const std::vector<std::uint8_t> buf = UsbCable::poll(*dev, written);
    // The listing starts at position 1, so it shows at most the buffer's bytes after the ID.
    AddHistoryLine(hexLine(buf.data() + 1, std::min(written, buf.size() - 1)));
}

void UsbLinkPanel::USBConClick() {
    ReadBtnClick();
    SetFeatureClick();
    session_.usbRestart();
    THidDevice* dev = TakeSelectedDevice();
    if (!dev) {
        WatchDisconnected(LinkKind::Usb);
        return;
    }
    if (!dev->HasReadWriteAccess()) {
        // On Linux this is the usual state before the udev rule is installed: say so in the
        // history (no box) rather than leave the user with a button that does nothing.
        const QString hint = "No read/write access to " + DescribeDevice(dev) +
                             ": install the udev rule and re-plug the cable";
        if (USBCon->isChecked()) AddHistoryLine(hint);
        linkProblem(hint);
        if (monitor()) monitor()->disconnected();
        USBCon->setChecked(false);
        WatchDisconnected(LinkKind::Usb);
        return;
    }
    if (USBCon->isChecked()) {
        ReadBtnClick();
        SendDataClick();
        AttachUsbDataHandler();
        WatchConnected(LinkKind::Usb);
        connectedDevice_ = DescribeDevice(dev);
        showUsbButton();
        if (monitor()) monitor()->connectedUsb(connectedDevice_.toStdString());
    } else {
        dev->SetDataHandler({});
        WatchDisconnected(LinkKind::Usb);
        if (monitor()) monitor()->disconnected();
    }
    if (Status) Status->refresh();
}

void UsbLinkPanel::AttachUsbDataHandler() {
    // The read thread hands each report to HidDeviceData on this thread and waits until it
    // has run; the report's bytes belong to the thread, valid during the call.
    if (TakeSelectedDevice())
        SelectedHidDevice->SetDataHandler(
            THidDataEvent(this, "HidDeviceData",
                          [this](THidDevice* d, uint8_t id, const uint8_t* data, uint16_t size) {
                              Guarded([&] { HidDeviceData(d, id, data, size); });
                          }));
}

void UsbLinkPanel::ConTimerTimer() {
    // The link is judged on every report read so far, as if each had been handled on
    // arrival.
    if (SelectedHidDevice) SelectedHidDevice->HandOverReports();
    // The health, then the cable's idle rule; the lamp goes grey when the rule runs.
    const UsbCable::TickResult idle = session_.usbTick(SelectedHidDevice);
    if (!idle.checked) return;
    if (idle.repoll) SendDataClick();
    if (idle.giveUp) {
        USBCon->setChecked(false);
        if (SelectedHidDevice) SelectedHidDevice->SetDataHandler({});
        WatchDisconnected(LinkKind::Usb);
        linkProblem(MeterNotReadyText);
        if (monitor()) monitor()->disconnected();
        ShowMessage(MeterNotReadyText);
    }
}

void UsbLinkPanel::HidDeviceData(THidDevice*, uint8_t ReportID, const uint8_t* Data,
                                 uint16_t Size) {
    const HidReportOutcome out =
        session_.usbReport(ReportID, Data, Size, [this](const HidReportOutcome& report) {
            if (report.dataReport) AddHistoryLine(QString::fromStdString(report.reportText));
        });
    // Poll even after a failed decode: the meter's next frame may be fine.
    if (out.wholeFrame) SendDataClick();
}

} // namespace rd780
