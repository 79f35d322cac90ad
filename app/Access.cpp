#include "app/Access.h"

#include "app/TFCOMM.h"
#include "link/hid/UsbLinkPanel.h"
#include "link/serial/SerialLinkPanel.h"
#include "meter/LcdPanel.h"
#include "meter/MeterPanel.h"
#include "meter/core/UnitSymbols.h"
#include "record/LimitPanel.h"
#include "record/ReadingValue.h"
#include "record/RecordingPanel.h"
#include "view/ChartPanel.h"
#include "view/HistoryList.h"
#include "view/ScalePanel.h"
#include "view/ScaleView.h"
#include "view/TrendPanel.h"
#include "view/TrendWindow.h"
#include "view/WaveChart.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QShortcut>
#include <QStatusBar>
#include <QTableView>
#include <QToolButton>

#include <functional>

namespace rd780 {

namespace {

// A picture whose state a screen reader reads as text: the value alone, and the
// description with whatever else the picture shows.
class TextPicture : public QAccessibleWidget {
public:
    TextPicture(QWidget* w, QAccessible::Role role, std::function<QString()> value,
                std::function<QString()> description = {})
        : QAccessibleWidget(w, role), value_(std::move(value)),
          description_(std::move(description)) {}

    QString text(QAccessible::Text t) const override {
        if (t == QAccessible::Value) return value_();
        if (t == QAccessible::Description) return description_ ? description_() : value_();
        return QAccessibleWidget::text(t);
    }

private:
    std::function<QString()> value_;
    std::function<QString()> description_;
};

QAccessibleInterface* pictureFactory(const QString&, QObject* object) {
    if (auto* lcd = qobject_cast<LcdPanel*>(object))
        return new TextPicture(
            lcd, QAccessible::StaticText, [lcd] { return lcd->readingText(); },
            [lcd] {
                return lcd->alarmFrame() ? lcd->readingText() + ", beyond a limit"
                                         : lcd->readingText();
            });
    if (auto* image = qobject_cast<view::ScaleImage*>(object)) {
        auto* panel = static_cast<view::ScalePanel*>(image->parentWidget());
        return new TextPicture(image, QAccessible::Chart, [panel] { return panel->describe(); });
    }
    if (auto* plot = qobject_cast<view::TrendPlot*>(object))
        return new TextPicture(plot, QAccessible::Chart, [plot] { return plot->describe(); });
    return nullptr;
}

void name(QWidget* w, const QString& text) {
    if (w) w->setAccessibleName(text);
}

void nameControls(TFCOMM& w) {
    name(w.Meter->PBar2, "Bar graph");
    name(w.Meter->CONok, "Link: frames arriving");
    name(w.Meter->CONokN, "Link: no frames");
    name(w.Meter->CONalarm, "Link problem"); // the lamp's tooltip says which, once shown

    RecordingPanel& r = *w.Recording;
    name(r.RecordSITime, "Sampling interval in seconds");
    name(r.RecordNew, "New table");
    name(r.OpenDataFiles, "Open table");
    name(r.saveas, "Save table");
    name(r.BtPrint, "Print table");
    name(r.DBGrid1, "Reading table");
    name(r.TimeH, "Recall start hour");
    name(r.TimeM, "Recall start minute");
    name(r.TimeS, "Recall start second");
    name(r.TimeInt, "Recall interval in seconds");

    name(w.Limits->Setmax, "SetMax limit");
    name(w.Limits->SetMin, "SetMin limit");
    name(w.HistoryListBox, "History");

    ChartPanel& c = *w.Chart;
    name(c.Chtshow, "Waveform chart");
    name(c.ScopeNo, "No waveform");
    name(c.Scopeok, "Waveform shown");
    name(c.ComboBox1, "Chart background");
    name(c.Maxrecord, "Points per page");
    name(c.BtFirst, "First page");
    name(c.BTPrevious, "Previous page");
    name(c.Bt10, "Page number");
    name(c.BtNext, "Next page");
    name(c.BTlast, "Last page");
    name(c.BtNew, "New chart");
    name(c.BtSave, "Save chart picture");
    name(c.TbFd, "Enlarge the chart");
    name(c.TbSx, "Restore the chart");

    name(w.Usb->DevListBox, "USB devices");
}

// Keeps the focus in view: at the start height the lower strip of the window is cut
// off, and a control there that takes the focus brings the full height.
class FocusInView : public QObject {
public:
    explicit FocusInView(TFCOMM& w) : QObject(&w), w_(w) {
        connect(qApp, &QApplication::focusChanged, this,
                [this](QWidget*, QWidget* now) { follow(now); });
    }

private:
    void follow(QWidget* now) {
        if (!now || now->window() != &w_ || !w_.Client->isAncestorOf(now)) return;
        const int bottom = now->mapTo(w_.Client, QPoint(0, now->height())).y();
        const int shown = w_.Client->height();
        if (bottom <= shown) return;
        const int full = w_.MainMenu1->sizeHint().height() + 596 +
                         (w_.statusBar() ? w_.statusBar()->sizeHint().height() : 0);
        if (w_.height() < full) w_.resize(w_.width(), full);
    }
    TFCOMM& w_;
};

} // namespace

QString spokenReading(const ReadingState& r) {
    const QString text = QString::fromStdString(r.ReadingText).trimmed();
    if (text.isEmpty()) return "no reading yet";
    if (isOverloadText(r.ReadingText)) return "overload";
    QStringList words{text};
    for (const std::string& part :
         {readingUnitText(r.ReadingUnit), r.ReadingCoupling, r.ReadingAuto}) {
        const QString word = QString::fromStdString(part).trimmed();
        if (!word.isEmpty()) words << word;
    }
    return words.join(' ');
}

QList<QWidget*> tabOrder(TFCOMM& w) {
    RecordingPanel& r = *w.Recording;
    ChartPanel& c = *w.Chart;
    SerialLinkPanel& s = *w.Serial;
    UsbLinkPanel& u = *w.Usb;
    view::ScalePanel& k = *w.Scale->KdPanel;
    return {
        u.USBCon,
        w.Meter->Panel1,
        r.RepeatSet,
        r.RecordSI,
        r.RecordSITime,
        r.RecordNew,
        r.OpenDataFiles,
        r.saveas,
        r.BtPrint,
        r.DBGrid1,
        r.RecallCheck,
        r.TimeH,
        r.TimeM,
        r.TimeS,
        r.TimeInt,
        w.Limits->SetMaxB,
        w.Limits->Setmax,
        w.Limits->SetMinB,
        w.Limits->SetMin,
        w.HistoryListBox,
        k.KD1,
        k.KdFd,
        k.KdSx,
        c.Chtshow,
        c.Maxrecord,
        c.BtFirst,
        c.BTPrevious,
        c.Bt10,
        c.BtNext,
        c.BTlast,
        c.BtNew,
        c.BtSave,
        c.TbFd,
        c.TbSx,
        w.Trends->TrendBtn,
        c.ComboBox1,
        s.COMCon,
        s.BTCon,
        s.BtDiscon,
        s.BtExit,
        s.Button3,
        s.Button2,
        u.ReadBtn,
        u.SendData,
        u.ClearBtn,
        u.SetFeature,
        u.B2400,
        u.B4800,
        u.B9600,
        u.DevListBox,
        w.BitBtn1,
    };
}

void installPictureInterfaces() {
    static const bool installed = [] {
        QAccessible::installFactory(pictureFactory);
        return true;
    }();
    (void)installed;
}

void setUpAccess(TFCOMM& w) {
    nameControls(w);
    const QList<QWidget*> order = tabOrder(w);
    for (qsizetype i = 1; i < order.size(); ++i)
        QWidget::setTabOrder(order[i - 1], order[i]);
    // The start focus stays where it always was.
    w.BitBtn1->setFocus();
    new FocusInView(w);

    // The desktop's key for the menu bar: it opens the first menu.
    auto* f10 = new QShortcut(QKeySequence(Qt::Key_F10), &w);
    QObject::connect(f10, &QShortcut::activated, &w, [&w] {
        for (QAction* a : w.MainMenu1->actions())
            if (a->isVisible() && a->isEnabled() && a->menu()) {
                w.MainMenu1->setActiveAction(a);
                return;
            }
    });

    // The reading as words: set with each decoded frame, announced at most once a second.
    QObject::connect(w.Meter, &MeterPanel::readingDecoded, w.Meter->Panel1,
                     [&w] { w.Meter->Panel1->setReadingText(spokenReading(w.S)); });
}

} // namespace rd780
