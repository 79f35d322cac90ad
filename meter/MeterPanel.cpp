#include "meter/MeterPanel.h"

#include "meter/LcdPanel.h"
#include "meter/core/FrameDecoder.h"
#include "session/MeterSession.h"
#include "view/Pictures.h"

#include <QLabel>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>

#include <algorithm>

namespace rd780 {

namespace {

const char* const TestFrame =
    "5A0003050559800101010006001000000B000400002030302E363620562000322E3031336B487A002E";

// The link lamp: green with a plug when frames arrive, grey when none do; amber (stalled)
// and red (cable gone) carry the cross too.
QPixmap lampPixmap(bool ok, QColor fill = {}) {
    QPixmap pm = view::screenPixmap(25, 24);
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

} // namespace

// Shows the session's decode steps: the LCD and the bar here, the rest through the wired
// hooks; an error a hook raises ends that frame's decode like a bad frame does.
class PanelDecodeView : public DecodeView {
public:
    explicit PanelDecodeView(MeterPanel& m) : m_(m) {}

    void showConnection() override { m_.showLinkLamp(true); }
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
    void scalePointer(int value) override {
        if (m_.PointerTo) m_.PointerTo(value);
    }
    void offerForRecording() override {
        keep(m_.session_.reading());
        if (m_.OfferReading) m_.OfferReading();
    }
    void setBar(int position) override {
        m_.BarPosition = position;
        QProgressBar* bar = m_.PBar2;
        // A position past the maximum shows a full bar.
        const int value = std::clamp(position, bar->minimum(), bar->maximum());
        if (value == bar->value()) return;
        // The bar would repaint itself at once, and with it all the frame had changed so
        // far, in a pass of the window's own: the frame's one repaint draws it instead.
        bar->setUpdatesEnabled(false);
        bar->setValue(value);
        bar->setUpdatesEnabled(true);
    }
    void resetChart() override {
        if (m_.ResetChart) m_.ResetChart();
    }
    void plotWaveform(const std::string& frame) override {
        if (m_.PlotWaveform) m_.PlotWaveform(frame);
    }
    void frameEnded(const Reading& reading, const std::string* error) override {
        keep(reading);
        m_.Panel1->changed();
        if (error) {
            // One bad frame ends its own decode only; never a box per frame.
            m_.ReportFrameError(*error);
            return;
        }
        ++m_.FramesDecoded;
        emit m_.readingDecoded();
    }

private:
    // The window's panels read the reading from its module state.
    void keep(const Reading& r) {
        ReadingState& s = m_.reading_;
        s.ReadingText = r.Text;
        s.ReadingValue = static_cast<float>(r.Value);
        s.ReadingUnit = r.Unit;
        s.ReadingCoupling = r.Coupling;
        s.ReadingAuto = r.Auto;
    }
    LcdPanelState& lcd() { return m_.Panel1->state(); }
    MeterPanel& m_;
};

MeterPanel::MeterPanel(const PanelContext& context, ReadingState& reading, MeterSession& session,
                       QObject* parent)
    : Panel(context, parent), Watch(session.health()), reading_(reading), session_(session),
      view_(std::make_unique<PanelDecodeView>(*this)) {
    session.setDecodeView(view_.get());
    // Whichever of the two goes first (the window deletes its children in the order made,
    // the session first), the session never shows a decode on a panel that is gone.
    connect(this, &QObject::destroyed, &session, [&session] { session.setDecodeView(nullptr); });
    connect(&session, &MeterSession::frameAssembled, this, [this](const std::string& frame) {
        if (&frame != &reading_.FrameHex) reading_.FrameHex = frame;
    });
    connect(&session, &MeterSession::linkHealthChanged, this,
            [this](LinkWatch::State state) { healthChanged(state); });

    Panel1 = new LcdPanel(Client);
    Panel1->setGeometry(2, 31, LcdPanel::DesignWidth, LcdPanel::DesignHeight);

    PBar2 = new QProgressBar(Client);
    PBar2->setObjectName("PBar2");
    PBar2->setGeometry(2, 161, 333, 12);
    PBar2->setRange(0, 40);
    PBar2->setValue(1);
    PBar2->setTextVisible(false);

    Button4 = new QPushButton("Button4", Client);
    Button4->setObjectName("Button4");
    Button4->setGeometry(250, 466, 75, 25);
    Button4->hide();
    connect(Button4, &QPushButton::clicked, this, [this] { Guarded([this] { Button4Click(); }); });
}

MeterPanel::~MeterPanel() = default;

void MeterPanel::placeLamp(QWidget* on) {
    CONok = new QLabel(on);
    CONok->setObjectName("CONok");
    CONok->setPixmap(lampPixmap(true));
    CONok->setGeometry(5, 5, 25, 24);
    CONok->hide();
    CONokN = new QLabel(on);
    CONokN->setObjectName("CONokN");
    CONokN->setPixmap(lampPixmap(false));
    CONokN->setGeometry(5, 5, 25, 24);
    CONalarm = new QLabel(on);
    CONalarm->setObjectName("CONalarm");
    CONalarm->setGeometry(5, 5, 25, 24);
    CONalarm->hide();
}

void MeterPanel::showLinkLamp(bool frames) {
    CONok->setVisible(frames);
    CONokN->setVisible(!frames);
}

void MeterPanel::Button4Click() {
    if (TestFrameShown) TestFrameShown();
    reading_.FrameHex = TestFrame;
    LcdDisplay520();
}

bool MeterPanel::LcdDisplay520() {
    return session_.frame(reading_.FrameHex);
}

void MeterPanel::ReportFrameError(const std::string& text) {
    const auto now = std::chrono::steady_clock::now();
    if (text == LastFrameError && now - LastFrameErrorAt < std::chrono::seconds(1)) return;
    LastFrameError = text;
    LastFrameErrorAt = now;
    AddHistoryLine("Frame error: " + QString::fromStdString(text));
}

void MeterPanel::WatchConnected(LinkKind kind) {
    Watch.connected(kind);
    ShowLinkState();
}

void MeterPanel::WatchDisconnected(LinkKind kind) {
    // Stopping one link leaves the other's watch alone.
    if (Watch.kind() != kind) return;
    Watch.disconnected();
    ShowLinkState();
}

void MeterPanel::healthChanged(LinkWatch::State state) {
    if (state == LinkWatch::State::Live) AddHistoryLine("Link live again");
    if (state == LinkWatch::State::Stalled)
        AddHistoryLine(QString::fromStdString(LinkWatch::stalledText()));
    ShowLinkState();
}

void MeterPanel::ShowLinkState() {
    switch (Watch.state()) {
    case LinkWatch::State::Stalled:
        CONalarm->setPixmap(lampPixmap(false, QColor(240, 170, 30)));
        CONalarm->setToolTip(QString::fromStdString(LinkWatch::stalledText()));
        CONalarm->setAccessibleName(CONalarm->toolTip());
        break;
    case LinkWatch::State::CableGone:
        CONalarm->setPixmap(lampPixmap(false, QColor(220, 40, 40)));
        CONalarm->setToolTip("Cable removed");
        CONalarm->setAccessibleName(CONalarm->toolTip());
        break;
    default:
        CONalarm->hide();
        emit linkStateShown();
        return;
    }
    CONalarm->raise();
    CONalarm->show();
    emit linkStateShown();
}

} // namespace rd780
