#include "app/TFCOMM.h"

#include "app/Access.h"
#include "session/MeterSession.h"

#include "link/hid/UsbLinkPanel.h"
#include "link/serial/SerialLinkPanel.h"
#include "meter/LcdPanel.h"
#include "meter/MeterPanel.h"
#include "record/LimitPanel.h"
#include "record/RecordingPanel.h"
#include "record/RecordingSide.h"
#include "status/StatusFeed.h"
#include "view/ChartPanel.h"
#include "view/HistoryList.h"
#include "view/ScaleView.h"
#include "view/TrendPanel.h"
#include "view/WaveChart.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDateTime>
#include <QGuiApplication>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QSignalBlocker>
#include <QStatusBar>
#include <QTimer>
#include <QToolButton>

#include <algorithm>

namespace rd780 {

namespace {

// Days since 1899-12-30 with the time of day as fraction: the date-time of the tables.
double toDateTime(const QDateTime& t) {
    static const QDate epoch(1899, 12, 30);
    const QDate d = t.date();
    const QTime tm = t.time();
    return static_cast<double>(epoch.daysTo(d)) + tm.msecsSinceStartOfDay() / 86400000.0;
}

// The window's session: it opens no link itself (the panels choose and connect them), keeps
// recording when a row fails or the limit is reached, and lets readings wait for a table.
SessionOptions windowSession(const ProgramOptions& options, std::function<std::int32_t()> stamp) {
    SessionOptions s;
    s.driven = true;
    s.capture = options.capture;
    s.replay = options.replay;
    s.speed = options.replaySpeed;
    s.linkClock = options.linkClock;
    s.endAtLimit = false;
    s.limitGate = RecordingRule::LimitGate::StopPastLimit;
    s.recordError = SessionOptions::RecordError::Tell;
    s.waitForTable = true;
    s.timeOfDay = std::move(stamp);
    return s;
}

} // namespace

TFCOMM::TFCOMM(const ProgramOptions& options, QWidget* parent)
    : QMainWindow(parent), Options(options),
      Session(new MeterSession(windowSession(options, [this] { return Recording->RowTimeOfDay(); }),
                               this)),
      Watch(Session->health()), MessageHook(options.messageHook) {
    installPictureInterfaces();
    // The window as loaded from its design: every component first, the HID controller last
    // (its first device change fills the device list), then the create event.
    buildCore();
    buildPanels();
    // Reads the replay, if any; the links play it on Connect.
    std::string error;
    if (!Session->start(error)) ShowMessage(QString::fromStdString(error));
    Guarded([&] {
        Usb->createHidController(MakeHidServices ? MakeHidServices(Options) : nullptr,
                                 Options.simulateMeter, Session->usbReplay(), Options.replaySpeed);
    });
    Guarded([this] { FormCreate(); });
    // The status bar speaks only once the start-up has set what it describes.
    if (Recording->Status) Recording->Status->start();
    setUpAccess(*this);
}

TFCOMM::~TFCOMM() {
    Guarded([this] { Usb->destroyHidController(); });
    Guarded([this] { Serial->destroySerialSide(); });
    Guarded([this] { Recording->CloseReadingTable(); });
}

std::function<std::shared_ptr<HidServices>(const ProgramOptions&)> TFCOMM::MakeHidServices;

PanelContext TFCOMM::panelContext() {
    return {Client, [this](const QString& text) { ShowMessage(text); },
            [this](const QString& line) { AddHistoryLine(line); }};
}

void TFCOMM::buildCore() {
    setObjectName("FCOMM");
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);

    Client = new QWidget(this);
    Client->setObjectName("Client");
    QPalette pal = Client->palette();
    pal.setColor(QPalette::Window, QColor(0x80, 0x80, 0x80)); // clGray
    Client->setPalette(pal);
    Client->setAutoFillBackground(true);
    QFont font("MS Sans Serif");
    font.setStyleHint(QFont::SansSerif);
    font.setFamilies({"MS Sans Serif", "Liberation Sans", "Arial"});
    font.setPointSize(8);
    font.setBold(true);
    Client->setFont(font);
    setCentralWidget(Client);

    MainMenu1 = menuBar();
    MainMenu1->setObjectName("MainMenu1");
    Connect1 = MainMenu1->addMenu("Connect");
    Connect1->setObjectName("Connect1");
    START1 = Connect1->addAction("START");
    START1->setObjectName("START1");
    START1->setShortcut(QKeySequence("Ctrl+A"));
    START1->setCheckable(true);
    // Its menu is hidden, and Qt fires the shortcut only through a shown widget the action
    // sits on: the window itself makes Ctrl+A work from anywhere in it.
    addAction(START1);
    STOP1 = Connect1->addAction("STOP");
    STOP1->setObjectName("STOP1");
    STOP1->setCheckable(true);
    Connect1->menuAction()->setVisible(false);
    // The blank items only space the titles out; disabled, the arrow keys pass over them.
    MainMenu1->addAction(QString())->setEnabled(false);
    // Mnemonics: R, V and E on the bar; in Record N, S, 1, 5, 0 and L. 50000 and 100000
    // have no letter left that is not taken, and are reached with the arrow keys.
    Record1 = MainMenu1->addMenu("&Record");
    Record1->setObjectName("Record1");
    New1 = Record1->addAction("&New");
    New1->setObjectName("New1");
    Save1 = Record1->addAction("&Save");
    Save1->setObjectName("Save1");
    Record1->addSeparator()->setObjectName("N3");
    auto limitItem = [this](const char* name, const char* caption) {
        QAction* a = Record1->addAction(caption);
        a->setObjectName(name);
        a->setCheckable(true);
        return a;
    };
    N10001 = limitItem("N10001", "&1000");
    N50001 = limitItem("N50001", "&5000");
    N100001 = limitItem("N100001", "1&0000");
    N100001->setChecked(true);
    N500001 = limitItem("N500001", "50000");
    N1000001 = limitItem("N1000001", "100000");
    limitess = limitItem("limitess", "&limitless");
    MainMenu1->addAction(QString())->setEnabled(false);
    EXIT1 = MainMenu1->addAction("&Exit");
    EXIT1->setObjectName("EXIT1");
    connect(EXIT1, &QAction::triggered, this, [this] { Guarded([this] { BtExit1Click(); }); });

    BitBtn1 = new QPushButton("EXIT", Client);
    BitBtn1->setObjectName("BitBtn1");
    BitBtn1->setGeometry(643, 3, 68, 25);
    connect(BitBtn1, &QPushButton::clicked, this, [this] { Guarded([this] { BitBtn1Click(); }); });

    Meter = new MeterPanel(panelContext(), S, *Session, this);

    HistoryListBox = new view::HistoryList(HistoryLimit, Client);
    HistoryListBox->setObjectName("HistoryListBox");
    HistoryListBox->setGeometry(3, 538, 334, 56); // below the limit panel

    IFRD230 = new QCheckBox("RD230", Client);
    IFRD230->setObjectName("IFRD230");
    IFRD230->setChecked(true);
    IFRD230->hide();

    resize(717, 596);
}

void TFCOMM::buildPanels() {
    Scale = new ScaleView(panelContext(), S, S, this);
    Meter->placeLamp(Scale->KD);
    Chart = new ChartPanel(panelContext(), this);
    Recording = new RecordingPanel(
        panelContext(), S, S, *Session,
        {New1, Save1, N10001, N50001, N100001, N500001, N1000001, limitess}, this);
    Limits = new LimitPanel(panelContext(), S, this);
    Serial = new SerialLinkPanel(panelContext(), *Session, START1, STOP1, Options.serialPort, this);
    // The Connect panel sits in the strip the start-up height hides. Someone who named a
    // serial port on the command line came to use it: open the window at its full height.
    if (!Options.serialPort.isEmpty()) {
        QTimer::singleShot(0, this, [this] {
            resize(width(), std::max(height(), MainMenu1->sizeHint().height() + 596 +
                                                   statusBar()->sizeHint().height()));
        });
    }
    Usb = new UsbLinkPanel(panelContext(), *Session, START1, this);

    auto* bar = new StatusBar(this);
    setStatusBar(bar);
    auto* feed = new StatusFeed(bar, Recording->Rec->Rule, Recording->Rec->Table, this, false);
    for (Panel* p : std::initializer_list<Panel*>{Recording, Serial, Usb})
        p->Status = feed;
    // The status bar tells the health the lamp shows, and changes with it.
    feed->Link.follow(Watch);
    connect(Meter, &MeterPanel::linkStateShown, feed, &StatusFeed::refresh);
    // Every frame a link assembled counts for the status bar's rate.
    connect(Session, &MeterSession::frameAssembled, feed, [this, feed] {
        if (Watch.kind() != LinkKind::None) feed->Link.frame(LinkMonitor::Clock::now());
    });
    connect(Session, &MeterSession::linkIdle, Meter, [this] { Meter->showLinkLamp(false); });
    Recording->Question = Options.questionHook;

    // A decoded frame drives the scale, the trend, the alarms and the chart; the session
    // records it right after.
    Meter->PointerTo = [this](int value) { Scale->KDrun(value); };
    Trends = new TrendPanel(panelContext(), MainMenu1, EXIT1, Chart->Chtshow, this);
    Meter->OfferReading = [this] {
        Trends->addReading(S.ReadingText, S.ReadingUnit);
        Limits->OfferAlarm(S.ReadingValue, S.ReadingText, S.ReadingUnit);
    };
    Meter->ResetChart = [this] { Chart->ResetChartSeries(); };
    Meter->PlotWaveform = [this](const std::string& frame) { Chart->PlotFrameWaveform(frame); };
    Meter->TestFrameShown = [this] { Chart->ShowScope(false); };
    Scale->HighLimitOn = [this] { return Limits->highOn(); };
    Scale->LowLimitOn = [this] { return Limits->lowOn(); };
    Scale->VisibleArea = [this] { return visibleClientArea(); };
    Scale->ShowChart = [this](bool shown) { Chart->Chtshow->setVisible(shown); };
    Chart->VisibleArea = [this] { return visibleClientArea(); };
    Limits->LimitsChanged = [this] {
        Scale->KDsetup(1);
        Trends->limitsChanged();
    };
    Limits->ShowStatus = [bar](const QString& line) { bar->showAlarm(line); };
    Limits->AlarmFrame = [this](bool beyond) { Meter->Panel1->setAlarmFrame(beyond); };
    Trends->HighLimit = [this] { return Limits->highLimit(); };
    Trends->LowLimit = [this] { return Limits->lowLimit(); };
    Trends->AlarmSoundChanged = [this](bool on) { Limits->AlarmSound = on; };
    Trends->LoadTable = [this](view::TrendWindow& t) { Recording->PlotTable(t); };
    // Both links tell the watch, which the lamp shows.
    for (LinkHooks* link : {&Serial->Hooks, &Usb->Hooks}) {
        link->WatchConnected = [this](LinkKind kind) {
            Meter->WatchConnected(kind);
            Trends->resetStatistics(); // statistics run from Connect
        };
        link->WatchDisconnected = [this](LinkKind kind) { Meter->WatchDisconnected(kind); };
        link->ShowLinkState = [this] { Meter->ShowLinkState(); };
    }
    // Connect, Read and the serial link's toggle form one group.
    Usb->Hooks.ReleaseOtherLink = [this] { Serial->COMCon->setChecked(false); };
    Serial->Hooks.ReleaseOtherLink = [this] {
        for (QAbstractButton* other : {static_cast<QAbstractButton*>(Usb->USBCon),
                                       static_cast<QAbstractButton*>(Usb->ReadBtn)}) {
            const QSignalBlocker quiet(other);
            other->setChecked(false);
        }
    };
    Serial->LinkLost = [this] { Meter->showLinkLamp(false); };
    Serial->ExitClick = [this] { BitBtn1Click(); };
    Usb->ClearHistory = [this] { HistoryListBox->clear(); };
}

QSize TFCOMM::visibleClientArea() const {
    // The window between its menu bar and its status bar; the lower strip of the design
    // lies outside it.
    const QStatusBar* bar = statusBar();
    const int barHeight = bar->isVisibleTo(this) ? bar->sizeHint().height() : 0;
    return {width(), height() - MainMenu1->sizeHint().height() - barHeight};
}

void TFCOMM::FormCreate() {
    S.RecallTime = toDateTime(QDateTime::currentDateTime());
    // The design's outer height of 520 shows the upper area and hides the lowest strip
    // (from the link diagnostics down); keep that visible client height here, with the
    // status bar below it.
    resize(width(), 466 + MainMenu1->sizeHint().height() + statusBar()->sizeHint().height());
    Usb->B2400->hide();
    Usb->B4800->hide();
    Usb->B9600->hide();
    S.ScaleLabelSet = std::string(1, '4');
    S.OverloadValue = 60;
    S.ScaleZeroOffset = 400;
    S.BarOverloadPosition = 40;
    S.ScaleDivisions = 80;
    Session->setScale(
        {S.OverloadValue, S.ScaleZeroOffset, S.ScaleDivisions, S.BarOverloadPosition});
    // The numbering and the limit are set before the table opens, so nothing that reads
    // them meanwhile sees the limit 0.
    Session->rule().RecordNo = 1;
    Session->rule().RecordLimit = 10000;
    Recording->OpenReadingTableAtStart();
    S.ScaleFixedMode = false;
    Chart->ResetChartSeries();
    Chart->ComboBox1->setCurrentIndex(0);
    if (IFRD230->isChecked()) {
        Serial->BindSerialReceiveHandler();
        setWindowTitle("RD780 Interface Program _Ver: 1.00");
    }
    Chart->SetChartLeftAxis(-S.OverloadValue - 1, S.OverloadValue);
    Scale->KDsetup(1);
    Scale->KDrun(S.ScaleZeroOffset);
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect avail = screen->availableGeometry();
        move(avail.center() - rect().center());
    }
}

void TFCOMM::BtExit1Click() {
    Recording->CloseReadingTable();
    QApplication::quit();
}

void TFCOMM::BitBtn1Click() {
    Recording->CloseReadingTable();
    QApplication::quit();
}

void TFCOMM::ShowMessage(const QString& text) {
    if (MessageHook) {
        MessageHook(text);
        return;
    }
    QMessageBox::information(this, QApplication::applicationName(), text, QMessageBox::Ok);
}

void TFCOMM::AddHistoryLine(const QString& line) {
    HistoryListBox->addLine(line);
}

void TFCOMM::resizeEvent(QResizeEvent* event) {
    QMainWindow::resizeEvent(event);
    Guarded([this] {
        if (Serial) Serial->FormResize(width());
    });
}

} // namespace rd780
