#include "link/serial/SerialLinkPanel.h"

#include "link/serial/SerialPortDriver.h"
#include "meter/core/SerialChunker.h"
#include "session/MeterSession.h"
#include "status/StatusFeed.h"

#include <QAction>
#include <QLabel>
#include <QPushButton>
#include <QSignalBlocker>
#include <QToolButton>

namespace rd780 {

// The chunker settles an open frame after its quiet ticks; the driver must still be ticking.
static_assert(TSerialPortDriver::IdleTicksKept > SerialChunker::SettleTicks);

namespace {

// "Connect"/"Disconnect"/"Exit": panels with a raised bevel, blue with yellow bold italic.
QPushButton* makePanelButton(QWidget* parent, const char* name, const char* caption,
                             int fontPixels) {
    auto* b = new QPushButton(caption, parent);
    b->setObjectName(name);
    b->setStyleSheet(QStringLiteral("QPushButton { background: rgb(0,128,255); color: yellow;"
                                    " font: bold italic %1px 'Arial';"
                                    " border: 2px outset rgb(110,180,255); }"
                                    "QPushButton:pressed { border-style: inset; }")
                         .arg(fontPixels));
    return b;
}

QLabel* makePortPanel(QWidget* parent, const char* name, const char* caption) {
    auto* p = new QLabel(caption, parent);
    p->setObjectName(name);
    p->setAlignment(Qt::AlignCenter);
    p->setFrameStyle(QFrame::Panel | QFrame::Raised);
    p->setGeometry(430, 470, 90, 22);
    p->hide();
    return p;
}

} // namespace

SerialLinkPanel::SerialLinkPanel(const PanelContext& context, MeterSession& session,
                                 QAction* START1, QAction* STOP1, const QString& portDevice,
                                 QObject* parent)
    : LinkPanel(context, session.health(), parent), session_(session), START1(START1),
      STOP1(STOP1) {
    COMM2 = new TSerialPortDriver(this);
    COMM2->setObjectName("COMM2");
    COMM2->SetComPort(pnCOM1);
    COMM2->SetComPortSpeed(br2400);
    if (!portDevice.isEmpty()) COMM2->SetPortDevice(pnCOM1, portDevice.toLocal8Bit().toStdString());

    // Hand-over: the driver's poll timer ticks on the GUI thread, so the bytes and the
    // session's frame finding are only ever touched here, one tick at a time. The bytes
    // belong to the driver and are copied during the call.
    COMM2->OnIdlePoll = [this] { H520RIdle(); };
    COMM2->OnReadError = [this](const std::string& why) {
        const bool waiting = COMM2->WaitingForDevice();
        const QString text = "Serial port read failed: " + QString::fromStdString(why) +
                             (waiting ? "; reading resumes when the device is back"
                                      : "; a pseudo-terminal does not come back");
        AddHistoryLine(text);
        if (SerialNote) SerialNote->setText(text);
        linkProblem(text);
        if (LinkLost) LinkLost();
        if (!waiting) {
            // Nothing to wait for: the panels say closed, and Connect opens the name anew.
            Guarded([this] { BtDiscon1Click(); });
            return;
        }
        if (Watch.kind() == LinkKind::Serial && Watch.cableGone(CableIdentity{})) ShowLinkState();
        // Half a frame from before the loss must not join the bytes after it.
        session_.serialClear();
    };
    COMM2->OnDeviceBack = [this] {
        session_.serialClear();
        const QString text = QStringLiteral("Serial port COM%1 back: %2, reading again")
                                 .arg(COMM2->ComPort() + 1)
                                 .arg(QString::fromStdString(COMM2->PortDevice(COMM2->ComPort())));
        AddHistoryLine(text);
        if (SerialNote) SerialNote->setText(text);
        WatchConnected(LinkKind::Serial);
    };

    BTCon = makePanelButton(Client, "BTCon", "Connect", 19);
    BTCon->setGeometry(527, 468, 105, 26);
    connect(BTCon, &QPushButton::clicked, this, [this] { Guarded([this] { BTCon1Click(); }); });
    BtDiscon = makePanelButton(Client, "BtDiscon", "Disconnect", 16);
    BtDiscon->setGeometry(527, 468, 105, 26);
    BtDiscon->hide();
    connect(BtDiscon, &QPushButton::clicked, this,
            [this] { Guarded([this] { BtDiscon1Click(); }); });
    connect(STOP1, &QAction::triggered, this, [this] { Guarded([this] { BtDiscon1Click(); }); });

    COMCon = new QToolButton(Client);
    COMCon->setObjectName("COMCon");
    COMCon->setText("KV310 COM");
    COMCon->setCheckable(true);
    COMCon->setGeometry(340, 470, 80, 24);
    COMCon->hide();
    connect(COMCon, &QToolButton::clicked, this, [this] { Guarded([this] { COMConClick(); }); });

    Button3 = new QPushButton("KV520 COM", Client);
    Button3->setObjectName("Button3");
    Button3->setGeometry(340, 500, 80, 24);
    Button3->hide();
    connect(Button3, &QPushButton::clicked, this, [this] { Guarded([this] { Button3Click(); }); });
    Button2 = new QPushButton("SET Baud Rate", Client);
    Button2->setObjectName("Button2");
    Button2->setGeometry(430, 500, 90, 24);
    Button2->hide();
    connect(Button2, &QPushButton::clicked, this, [this] { Guarded([this] { Button2Click(); }); });

    BtCOM1 = makePortPanel(Client, "BtCOM1", "COM 1");
    BtCOM2 = makePortPanel(Client, "BtCOM2", "COM 2");
    BtCOM3 = makePortPanel(Client, "BtCOM3", "COM 3");
    BtCOM4 = makePortPanel(Client, "BtCOM4", "COM 4");

    SerialNote = new QLabel(Client);
    SerialNote->setObjectName("SerialNote");
    // A failure names the device and the reason: two lines of a smaller font hold it.
    SerialNote->setGeometry(340, 497, 372, 32);
    SerialNote->setWordWrap(true);
    SerialNote->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    SerialNote->setStyleSheet("color: yellow; font: 10px 'Arial';");

    BtExit = makePanelButton(Client, "BtExit", "Exit", 16);
    BtExit->setGeometry(637, 468, 70, 26);
    BtExit->hide();
    connect(BtExit, &QPushButton::clicked, this, [this] {
        Guarded([this] {
            if (ExitClick) ExitClick();
        });
    });
}

void SerialLinkPanel::destroySerialSide() {
    if (replaying_) session_.stopSerialReplay();
    replaying_ = false;
    if (!COMM2) return;
    COMM2->Disconnect();
    // The driver outlives this body (the window's children go last): cut its calls back.
    COMM2->SetOnReceiveData({});
    COMM2->OnIdlePoll = nullptr;
    COMM2->OnReadError = nullptr;
    COMM2->OnDeviceBack = nullptr;
}

void SerialLinkPanel::BindSerialReceiveHandler() {
    COMM2->SetOnReceiveData({this, &SerialLinkPanel::H520RData});
}

void SerialLinkPanel::H520RData(void*, const uint8_t* DataPtr, int DataSize) {
    // Called from the driver's tick, outside any click handler: guard it here.
    Guarded([&] {
        if (DataPtr && DataSize > 0)
            session_.serialBytes(DataPtr, static_cast<std::size_t>(DataSize));
    });
}

void SerialLinkPanel::H520RIdle() {
    Guarded([this] { session_.serialIdle(); });
}

// Which device could not be opened and why. Said in the history, beside the panel and in
// the status bar, never in a box: the user may be away from the desk.
void SerialLinkPanel::tellOpenResult(bool opened) {
    TSerialPortDriver& d = *COMM2;
    const QString text = opened ? QStringLiteral("Serial port COM%1 open: %2, %3 baud")
                                      .arg(d.ComPort() + 1)
                                      .arg(QString::fromStdString(d.PortDevice(d.ComPort())))
                                      .arg(ComPortBaudTable[d.ComPortSpeed()])
                                : QStringLiteral("Serial port COM%1 could not be opened: %2")
                                      .arg(d.ComPort() + 1)
                                      .arg(QString::fromStdString(d.LastOpenError()));
    AddHistoryLine(text);
    SerialNote->setText(text);
    if (!Status) return;
    if (opened) {
        Status->Link.connectedSerial(d.PortDevice(d.ComPort()), ComPortBaudTable[d.ComPortSpeed()]);
        Status->refresh();
    } else {
        linkProblem(text);
        Status->Link.disconnected();
        Status->refresh();
    }
}

void SerialLinkPanel::linkProblem(const QString& text) {
    if (!Status) return;
    Status->Link.problem(text.toStdString());
    Status->refresh();
}

bool SerialLinkPanel::openSerial() {
    if (session_.replayLink() == LinkKind::Serial) {
        // The recorded reads take the port's place, into the same frame finding.
        session_.playSerialReplay([this] { AddHistoryLine("Replay finished"); });
        replaying_ = true;
        AddHistoryLine("Serial replay started");
        SerialNote->setText("Serial replay of a capture");
        return true;
    }
    const bool wasOpen = COMM2->Connected();
    const bool opened = COMM2->Connect();
    if (!wasOpen) {
        // A chunk left from an earlier session must not join the new line's bytes.
        session_.serialClear();
        tellOpenResult(opened);
    }
    return opened;
}

void SerialLinkPanel::BTCon1Click() {
    // A port that did not open leaves Connect showing: the panels switch only on success.
    if (!openSerial()) {
        START1->setChecked(false);
        if (COMCon) {
            const QSignalBlocker quiet(COMCon);
            COMCon->setChecked(false);
        }
        return;
    }
    WatchConnected(LinkKind::Serial);
    START1->setChecked(true);
    START1->setEnabled(false);
    STOP1->setEnabled(true);
    STOP1->setChecked(false);
    BTCon->hide();
    BtDiscon->show();
    for (QLabel* p : {BtCOM1, BtCOM2, BtCOM3, BtCOM4})
        p->setEnabled(false);
}

void SerialLinkPanel::BtDiscon1Click() {
    START1->setChecked(false);
    START1->setEnabled(true);
    STOP1->setEnabled(false);
    STOP1->setChecked(true);
    if (COMM2->Connected() || COMM2->WaitingForDevice()) SerialNote->setText("Serial port closed");
    if (replaying_) session_.stopSerialReplay();
    replaying_ = false;
    COMM2->Disconnect();
    WatchDisconnected(LinkKind::Serial);
    if (Status) {
        Status->Link.disconnected();
        Status->refresh();
    }
    session_.serialClear();
    BTCon->show();
    BtDiscon->hide();
    for (QLabel* p : {BtCOM1, BtCOM2, BtCOM3, BtCOM4})
        p->setEnabled(true);
}

void SerialLinkPanel::COMConClick() {
    if (COMCon->isChecked()) {
        // Toggle group 1, all may be up: pressing one down releases the others without
        // running their handlers.
        ReleaseOtherLink();
        BTCon1Click();
    } else {
        BtDiscon1Click();
    }
}

void SerialLinkPanel::Button3Click() {
    BindSerialReceiveHandler();
    openSerial();
}

void SerialLinkPanel::Button2Click() {
    // Five tests one after another, each on the speed the ones before it left; no later
    // test matches what an earlier one set, so one click is one step.
    struct Step {
        TComPortBaudRate from, to;
        const char* message;
    };
    static constexpr Step steps[] = {
        {br1200, br1200, "Baud Rate:1200"},   {br19200, br1200, "Baud Rate:1200"},
        {br9600, br19200, "Baud Rate:19200"}, {br4800, br9600, "Baud Rate:9600"},
        {br2400, br4800, "Baud Rate:4800"},
    };
    for (const Step& s : steps) {
        if (COMM2->ComPortSpeed() != s.from) continue;
        COMM2->SetComPortSpeed(s.to); // applied at once, with a purge, when open
        if (Status) Status->Link.speedChanged(ComPortBaudTable[s.to]);
        if (COMM2->Connected()) {
            session_.serialClear();
            SerialNote->setText(
                QStringLiteral("Serial port now at %1 baud").arg(ComPortBaudTable[s.to]));
        }
        ShowMessage(s.message);
    }
}

void SerialLinkPanel::FormResize(int windowWidth) {
    BtExit->move(windowWidth - 80, BtExit->y());
    BTCon->move(windowWidth - 190, BTCon->y());
    BtDiscon->move(windowWidth - 190, BtDiscon->y());
}

} // namespace rd780
