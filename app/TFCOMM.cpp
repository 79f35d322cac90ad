#include "app/TFCOMM.h"

#include "meter/LcdPanel.h"
#include "meter/core/FrameAssembler.h"
#include "meter/core/FrameDecoder.h"
#include "view/HistoryList.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDateTime>
#include <QGuiApplication>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>

#include <algorithm>

namespace rd780 {

namespace {

const char* const TestFrame =
    "5A0003050559800101010006001000000B000400002030302E363620562000322E3031336B487A002E";

// Days since 1899-12-30 with the time of day as fraction: the date-time of the tables.
double toDateTime(const QDateTime& t) {
    static const QDate epoch(1899, 12, 30);
    const QDate d = t.date();
    const QTime tm = t.time();
    return static_cast<double>(epoch.daysTo(d)) + tm.msecsSinceStartOfDay() / 86400000.0;
}

// The link lamp: green with a plug when frames arrive, grey when none do; amber (stalled)
// and red (cable gone) carry the cross too.
QPixmap lampPixmap(bool ok, QColor fill = {}) {
    QPixmap pm(25, 24);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(Qt::black, 1));
    if (!fill.isValid()) fill = ok ? QColor(40, 200, 60) : QColor(170, 170, 170);
    p.setBrush(fill);
    p.drawEllipse(QRectF(1.5, 1.5, 21, 21));
    p.setPen(QPen(ok ? Qt::white : QColor(110, 110, 110), 2.2, Qt::SolidLine, Qt::RoundCap));
    if (ok) {
        p.drawLine(QPointF(7, 12), QPointF(18, 12));
        p.drawLine(QPointF(14, 8), QPointF(18, 12));
        p.drawLine(QPointF(14, 16), QPointF(18, 12));
    } else {
        p.drawLine(QPointF(8, 8), QPointF(17, 17));
        p.drawLine(QPointF(17, 8), QPointF(8, 17));
    }
    return pm;
}

// Routes the decode's panel steps and calls out to the window's components.
class WindowDecodeSink : public DecodeSink {
public:
    explicit WindowDecodeSink(TFCOMM& w) : w_(w) {}
    ~WindowDecodeSink() override { w_.Panel1->changed(); }

    void showConnection() override {
        w_.CONok->show();
        w_.CONokN->hide();
        w_.S.LinkIdleTicks = 0;
        w_.WatchFrame();
    }
    void showPointShape(int position) override { lcd().showPointShape(position); }
    void showSign(bool negative) override { lcd().showSign(negative); }
    void showDigits(char a, char b, char c, char d) override { lcd().showDigits(a, b, c, d); }
    void hideUnitGlyphs() override { lcd().hideUnitGlyphs(); }
    void showPrefix(char prefix) override { lcd().showPrefix(prefix); }
    void showFunction(int code, char mode, char prefix) override {
        lcd().showFunction(code, mode, prefix);
    }
    void showPointAgain(int position, bool hideThird) override {
        lcd().showPointAgain(position, hideThird);
    }
    void scalePointer(int value) override { w_.KDrun(value); }
    void offerForRecording() override { w_.INDataToTable(); }
    void setBar(int position) override {
        w_.BarPosition = position;
        // A position past the maximum shows a full bar.
        w_.PBar2->setValue(std::clamp(position, w_.PBar2->minimum(), w_.PBar2->maximum()));
    }
    void resetChart() override { w_.ResetChartSeries(); }
    void plotWaveform(const std::string& frame) override { w_.PlotFrameWaveform(frame); }

private:
    LcdPanelState& lcd() { return w_.Panel1->state(); }
    TFCOMM& w_;
};

} // namespace

TFCOMM::TFCOMM(const ProgramOptions& options, QWidget* parent)
    : QMainWindow(parent), Options(options), MessageHook(options.messageHook),
      Watch(options.linkClock ? options.linkClock : &LinkWatch::Clock::now) {
    // The window as loaded from its design: every component first, the HID controller last
    // (its first device change fills the device list), then the create event.
    buildCore();
    buildScaleSide();
    CONok = new QLabel(KD);
    CONok->setObjectName("CONok");
    CONok->setPixmap(lampPixmap(true));
    CONok->setGeometry(5, 5, 25, 24);
    CONok->hide();
    CONokN = new QLabel(KD);
    CONokN->setObjectName("CONokN");
    CONokN->setPixmap(lampPixmap(false));
    CONokN->setGeometry(5, 5, 25, 24);
    CONalarm = new QLabel(KD);
    CONalarm->setObjectName("CONalarm");
    CONalarm->setGeometry(5, 5, 25, 24);
    CONalarm->hide();
    buildChartSide();
    buildRecordSide();
    buildLimitSide();
    buildSerialSide();
    buildUsbSide();
    Guarded([this] { createHidController(); });
    Guarded([this] { FormCreate(); });
}

TFCOMM::~TFCOMM() {
    Guarded([this] { destroyHidController(); });
    Guarded([this] { destroySerialSide(); });
    Guarded([this] { CloseReadingTable(); });
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
    STOP1 = Connect1->addAction("STOP");
    STOP1->setObjectName("STOP1");
    STOP1->setCheckable(true);
    Connect1->menuAction()->setVisible(false);
    MainMenu1->addAction(QString());
    Record1 = MainMenu1->addMenu("Record");
    Record1->setObjectName("Record1");
    New1 = Record1->addAction("New");
    New1->setObjectName("New1");
    Save1 = Record1->addAction("Save");
    Save1->setObjectName("Save1");
    Record1->addSeparator()->setObjectName("N3");
    auto limitItem = [this](const char* name, const char* caption) {
        QAction* a = Record1->addAction(caption);
        a->setObjectName(name);
        a->setCheckable(true);
        return a;
    };
    N10001 = limitItem("N10001", "1000");
    N50001 = limitItem("N50001", "5000");
    N100001 = limitItem("N100001", "10000");
    N100001->setChecked(true);
    N500001 = limitItem("N500001", "50000");
    N1000001 = limitItem("N1000001", "100000");
    limitess = limitItem("limitess", "limitless");
    MainMenu1->addAction(QString());
    EXIT1 = MainMenu1->addAction("Exit");
    EXIT1->setObjectName("EXIT1");
    connect(EXIT1, &QAction::triggered, this, [this] { Guarded([this] { BtExit1Click(); }); });

    BitBtn1 = new QPushButton("EXIT", Client);
    BitBtn1->setObjectName("BitBtn1");
    BitBtn1->setGeometry(643, 3, 68, 25);
    connect(BitBtn1, &QPushButton::clicked, this, [this] { Guarded([this] { BitBtn1Click(); }); });

    Panel1 = new LcdPanel(Client);
    Panel1->setGeometry(2, 31, LcdPanel::DesignWidth, LcdPanel::DesignHeight);

    PBar2 = new QProgressBar(Client);
    PBar2->setObjectName("PBar2");
    PBar2->setGeometry(2, 161, 333, 12);
    PBar2->setRange(0, 40);
    PBar2->setValue(1);
    PBar2->setTextVisible(false);

    HistoryListBox = new view::HistoryList(HistoryLimit, Client);
    HistoryListBox->setObjectName("HistoryListBox");
    HistoryListBox->setGeometry(3, 538, 334, 56); // below the limit panel

    Button4 = new QPushButton("Button4", Client);
    Button4->setObjectName("Button4");
    Button4->setGeometry(250, 466, 75, 25);
    Button4->hide();
    connect(Button4, &QPushButton::clicked, this, [this] { Guarded([this] { Button4Click(); }); });

    IFRD230 = new QCheckBox("RD230", Client);
    IFRD230->setObjectName("IFRD230");
    IFRD230->setChecked(true);
    IFRD230->hide();

    resize(717, 596);
}

void TFCOMM::FormCreate() {
    S.RecallTime = toDateTime(QDateTime::currentDateTime());
    // The design's outer height of 520 shows the upper area and hides the lowest strip
    // (from the link diagnostics down); keep that visible client height here.
    resize(width(), 466 + MainMenu1->sizeHint().height());
    if (B2400) B2400->hide();
    if (B4800) B4800->hide();
    if (B9600) B9600->hide();
    S.ScaleLabelSet = "4";
    S.OverloadValue = 60;
    S.ScaleZeroOffset = 400;
    S.BarOverloadPosition = 40;
    S.ScaleDivisions = 80;
    OpenReadingTableAtStart();
    S.RecordNo = 1;
    S.ScaleFixedMode = false;
    S.RecordLimit = 10000;
    ResetChartSeries();
    if (ComboBox1) ComboBox1->setCurrentIndex(0);
    if (IFRD230->isChecked()) {
        BindSerialReceiveHandler();
        setWindowTitle("RD780 Interface Program _Ver: 1.00");
    }
    SetChartLeftAxis(-S.OverloadValue - 1, S.OverloadValue);
    KDsetup(1);
    KDrun(S.ScaleZeroOffset);
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect avail = screen->availableGeometry();
        move(avail.center() - rect().center());
    }
}

void TFCOMM::BtExit1Click() {
    CloseReadingTable();
    QApplication::quit();
}

void TFCOMM::BitBtn1Click() {
    CloseReadingTable();
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

void TFCOMM::HidDeviceData(THidDevice*, uint8_t ReportID, const uint8_t* Data, uint16_t Size) {
    const HidReportOutcome out = assembleHidReport(
        {S.FrameHex, S.ReportChunk, S.ChunkPending, S.UsbIdleReports, S.UsbPollReports}, ReportID,
        Data, Size);
    if (out.dataReport) AddHistoryLine(QString::fromStdString(out.reportText));
    if (out.wholeFrame) {
        LcdDisplay520();
        // Poll even after a failed decode: the meter's next frame may be fine.
        SendDataClick();
    }
}

void TFCOMM::Button4Click() {
    if (ScopeNo) ScopeNo->show();
    if (Scopeok) Scopeok->hide();
    S.FrameHex = TestFrame;
    LcdDisplay520();
}

bool TFCOMM::LcdDisplay520() {
    const ScaleSettings settings{S.OverloadValue, S.ScaleZeroOffset, S.ScaleDivisions,
                                 S.BarOverloadPosition};
    WindowDecodeSink sink(*this);
    try {
        decodeFrame(
            S.FrameHex, settings,
            {S.ReadingText, S.ReadingValue, S.ReadingUnit, S.ReadingCoupling, S.ReadingAuto}, sink);
    } catch (const DecodeError& e) {
        // One bad frame ends its own decode only; never a box per frame.
        ReportFrameError(e.what());
        return false;
    }
    ++FramesDecoded;
    return true;
}

void TFCOMM::ReportFrameError(const std::string& text) {
    const auto now = std::chrono::steady_clock::now();
    if (text == LastFrameError && now - LastFrameErrorAt < std::chrono::seconds(1)) return;
    LastFrameError = text;
    LastFrameErrorAt = now;
    AddHistoryLine("Frame error: " + QString::fromStdString(text));
}

void TFCOMM::WatchConnected(LinkKind kind) {
    Watch.connected(kind);
    ShowLinkState();
}

void TFCOMM::WatchDisconnected(LinkKind kind) {
    // Stopping one link leaves the other's watch alone.
    if (Watch.kind() != kind) return;
    Watch.disconnected();
    ShowLinkState();
}

void TFCOMM::WatchFrame() {
    if (!Watch.frame()) return;
    AddHistoryLine("Link live again");
    ShowLinkState();
}

void TFCOMM::WatchTick() {
    if (!Watch.tick()) return;
    AddHistoryLine("Link stalled: no frame for 5 s");
    ShowLinkState();
}

void TFCOMM::ShowLinkState() {
    switch (Watch.state()) {
    case LinkWatch::State::Stalled:
        CONalarm->setPixmap(lampPixmap(false, QColor(240, 170, 30)));
        CONalarm->setToolTip("Link stalled: no frame for 5 s");
        break;
    case LinkWatch::State::CableGone:
        CONalarm->setPixmap(lampPixmap(false, QColor(220, 40, 40)));
        CONalarm->setToolTip("Cable removed");
        break;
    default:
        CONalarm->hide();
        return;
    }
    CONalarm->raise();
    CONalarm->show();
}

void TFCOMM::resizeEvent(QResizeEvent* event) {
    QMainWindow::resizeEvent(event);
    Guarded([this] { FormResize(); });
}

} // namespace rd780
