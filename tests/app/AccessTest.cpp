// The window by keyboard alone and through its accessibility interfaces: names for every
// control and picture, the LCD's reading as words, the Tab order over the window's areas,
// and the Record and View menus reached with keys.
#include "app/Access.h"
#include "link/hid/UsbLinkPanel.h"
#include "link/serial/SerialLinkPanel.h"
#include "meter/LcdPanel.h"
#include "meter/MeterPanel.h"
#include "record/LimitPanel.h"
#include "record/RecordingPanel.h"
#include "status/StatusBar.h"
#include "tests/TestSupport.h"
#include "tests/app/WindowFixture.h"
#include "tests/meter/FrameBuilder.h"
#include "view/ChartPanel.h"
#include "view/HistoryList.h"
#include "view/ScalePanel.h"
#include "view/ScaleView.h"
#include "view/TrendPanel.h"
#include "view/TrendWindow.h"
#include "view/WaveChart.h"

#include <QAccessible>
#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QFrame>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QStatusBar>
#include <QTableView>
#include <QTest>
#include <QToolButton>

#include <algorithm>

#include <gtest/gtest.h>

namespace rd780::test {
namespace {

void decode(TFCOMM& w, const FrameSpec& frame) {
    w.S.FrameHex = frameText(frame);
    ASSERT_TRUE(w.Meter->LcdDisplay520()) << frame.display;
}

int fullHeight(TFCOMM& w) {
    return w.MainMenu1->sizeHint().height() + 596 + w.statusBar()->sizeHint().height();
}

void showActive(TFCOMM& w) {
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&w));
}

QString accessibleText(QObject* o, QAccessible::Text t) {
    QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(o);
    return iface ? iface->text(t) : QString();
}

// A picture that tells something: the lamps and scope icons, the bar graph, the LCD, the
// scale, the chart and the trend plot.
bool informationPicture(QWidget* w) {
    if (auto* l = qobject_cast<QLabel*>(w)) return !l->pixmap().isNull();
    return qobject_cast<QProgressBar*>(w) || qobject_cast<LcdPanel*>(w) ||
           qobject_cast<view::ScaleImage*>(w) || dynamic_cast<view::WaveChart*>(w) ||
           qobject_cast<view::TrendPlot*>(w);
}

// Every shown control that takes the focus and every shown picture that tells something
// has a name, and its interface hangs under the window's, where a screen reader finds it.
void expectNamed(QWidget* window, int& checked) {
    QAccessibleInterface* root = QAccessible::queryAccessibleInterface(window);
    ASSERT_NE(root, nullptr);
    for (QWidget* w : window->findChildren<QWidget*>()) {
        if (!w->isVisibleTo(window) || w->window() != window) continue;
        const bool control = w->focusPolicy() & Qt::TabFocus;
        if (!control && !informationPicture(w)) continue;
        if (qobject_cast<QAbstractItemView*>(w->parentWidget()) ||
            qobject_cast<QAbstractScrollArea*>(w->parentWidget()))
            continue; // a view's own parts: scroll bars and the viewport
        ++checked;
        QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(w);
        ASSERT_NE(iface, nullptr) << w->objectName().toStdString();
        EXPECT_FALSE(iface->text(QAccessible::Name).trimmed().isEmpty())
            << "no name: " << w->objectName().toStdString() << " (" << w->metaObject()->className()
            << ")";
        QAccessibleInterface* up = iface;
        for (int depth = 0; up && up != root && depth < 20; ++depth)
            up = up->parent();
        EXPECT_EQ(up, root) << w->objectName().toStdString() << " is not under the window";
    }
}

TEST(Access, ControlsAndPicturesAreNamedAndTheLcdSpeaksTheReading) {
    WindowFixture f;
    TFCOMM& w = *f.w;
    w.resize(w.width(), fullHeight(w));
    w.show();
    QAccessibleInterface* lcd = QAccessible::queryAccessibleInterface(w.Meter->Panel1);
    ASSERT_NE(lcd, nullptr);
    EXPECT_EQ(lcd->text(QAccessible::Value), "no reading yet");

    // What goes to a screen reader, and when (the offscreen platform has no bridge to
    // watch the events themselves on).
    QElapsedTimer clock;
    clock.start();
    std::vector<std::pair<QString, qint64>> announced;
    QObject::connect(w.Meter->Panel1, &LcdPanel::announced, w.Meter->Panel1,
                     [&](const QString& text) { announced.emplace_back(text, clock.elapsed()); });
    w.Limits->SetMaxB->click(); // at 40000: only the overload lies beyond it
    auto* bar = qobject_cast<StatusBar*>(w.statusBar());
    ASSERT_NE(bar, nullptr);

    // Readings as words, unit symbols and all; the first change is announced at once.
    decode(w, {" 230.0V", 0, 1, 1}); // V AC, auto range
    EXPECT_EQ(lcd->text(QAccessible::Value), "230.0 V AC AUTO");
    decode(w, {" 4.700k", 4});
    EXPECT_EQ(lcd->text(QAccessible::Value), "4.700 kΩ");
    decode(w, {"  0L  k", 4});
    EXPECT_EQ(lcd->text(QAccessible::Value), "overload");
    w.Meter->Button4Click(); // the test frame
    EXPECT_EQ(lcd->text(QAccessible::Value), "00.66 V DC");

    // A fast meter is announced at most once a second: the first change now, the newest a
    // second later, nothing in between.
    ASSERT_EQ(announced.size(), 1u);
    EXPECT_EQ(announced[0].first, "230.0 V AC AUTO");
    ASSERT_TRUE(waitUntil([&] { return announced.size() == 2; }, 3000));
    EXPECT_EQ(announced[1].first, "00.66 V DC");
    EXPECT_GE(announced[1].second - announced[0].second, LcdPanel::AnnounceIntervalMs - 20);

    // The scale says where its pointer stands and which limits are ticked.
    const QString scale = accessibleText(w.Scale->KdPanel->KD1, QAccessible::Value);
    EXPECT_TRUE(scale.contains("pointer at 0.6 on a scale from -40.0 to 40.0"))
        << scale.toStdString();
    EXPECT_TRUE(scale.contains("SetMax 40000")) << scale.toStdString();
    EXPECT_TRUE(scale.contains("SetMin off")) << scale.toStdString();

    // A limit crossing is spoken by the alarm's status part; the LCD says it lies beyond.
    EXPECT_TRUE(accessibleText(bar->alarmPart(), QAccessible::Name).contains("above SetMax"))
        << "the overload crossed SetMax";
    EXPECT_FALSE(accessibleText(w.Meter->Panel1, QAccessible::Description).contains("beyond"));
    w.Limits->Setmax->setText("50");
    decode(w, {" 01.50 "});
    EXPECT_TRUE(accessibleText(bar->alarmPart(), QAccessible::Name).contains("01.50 V above"));
    EXPECT_TRUE(accessibleText(w.Meter->Panel1, QAccessible::Description).contains("beyond"));

    int checked = 0;
    expectNamed(&w, checked);

    // The trend window's plot describes its trace (the session's DC volt readings).
    w.Trends->TrendClick();
    decode(w, {" 01.20 "});
    decode(w, {" 01.40 "});
    view::TrendWindow* trend = w.Trends->Trend;
    ASSERT_NE(trend, nullptr);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(trend));
    const QString plot = accessibleText(trend->plot(), QAccessible::Value);
    EXPECT_TRUE(plot.startsWith("V trace, 4 points; in view from")) << plot.toStdString();
    EXPECT_TRUE(plot.contains("values from 0.66 to 1.5 V")) << plot.toStdString();
    expectNamed(trend, checked);
    EXPECT_GT(checked, 30) << "the walk reached the window's controls";
}

// Tab from Connect until the focus comes round again, noting each stop and each control
// whose look does not change when the focus leaves it.
QList<QWidget*> tabRound(TFCOMM& w, bool& focusShown, QStringList& unmarked) {
    QList<QWidget*> visited;
    // From EXIT, where the focus starts, the first Tab goes to Connect.
    w.BitBtn1->setFocus();
    QTest::keyClick(w.BitBtn1, Qt::Key_Tab);
    for (int i = 0; i < 100; ++i) {
        QWidget* now = QApplication::focusWidget();
        if (!now || (i > 0 && now == w.Usb->USBCon)) break;
        visited << now;
        // The focus is in view: within the window and not under the status bar.
        const QRect r(now->mapTo(&w, QPoint(0, 0)), now->size());
        if (!QRect(0, 0, w.width(), w.statusBar()->y()).contains(r.center())) focusShown = false;
        const QImage focused = now->grab().toImage();
        QTest::keyClick(now, Qt::Key_Tab);
        if (now->grab().toImage() == focused) unmarked << now->objectName();
    }
    return visited;
}

TEST(Access, TabFollowsTheWindowsAreasAtEitherHeight) {
    QStringList rounds[2];
    for (int full = 0; full < 2; ++full) {
        WindowFixture f;
        TFCOMM& w = *f.w;
        for (int i = 0; i < 5; ++i)
            w.Meter->Button4Click(); // rows in the grid, which must not hold the Tab key
        if (full) w.resize(w.width(), fullHeight(w));
        showActive(w);
        bool focusShown = true;
        QStringList unmarked;
        const QList<QWidget*> visited = tabRound(w, focusShown, unmarked);
        EXPECT_TRUE(focusShown) << "the focus went out of view at " << (full ? "full" : "start")
                                << " height";
        EXPECT_TRUE(unmarked.isEmpty())
            << "the focus is not seen on " << unmarked.join(" ").toStdString();
        QStringList names;
        for (QWidget* v : visited)
            names << v->objectName();
        rounds[full] = names;

        // Areas: left column top to bottom, right column top to bottom, EXIT last.
        const std::vector<std::pair<const char*, QWidget*>> areas = {
            // clang-format off
            {"connect", w.Usb->USBCon}, {"reading", w.Meter->Panel1}, {"recording", nullptr},
            {"grid", w.Recording->DBGrid1}, {"recall", w.Recording->Panel2},
            {"limits", w.Limits->Panel3}, {"history", w.HistoryListBox},
            {"scale", w.Scale->KdPanel}, {"chart", w.Chart->Chtshow}, {"link", nullptr},
            {"exit", w.BitBtn1}};
        // clang-format on
        auto areaOf = [&](QWidget* v) -> int {
            for (std::size_t a = 0; a < areas.size(); ++a)
                if (areas[a].second && (v == areas[a].second || areas[a].second->isAncestorOf(v)))
                    return int(a);
            const QPoint at = v->mapTo(w.Client, QPoint(0, 0));
            if (at.x() < 338 && at.y() >= 176 && at.y() < 202) return 2;
            if (at.x() >= 338 && at.y() >= 466) return 9;
            return -1;
        };
        int lastArea = -1;
        QRect last;
        for (QWidget* v : visited) {
            const int area = areaOf(v);
            ASSERT_GE(area, 0) << v->objectName().toStdString() << " lies in no area";
            EXPECT_GE(area, lastArea) << names.join(" ").toStdString();
            const QRect r(v->mapTo(w.Client, QPoint(0, 0)), v->size());
            if (area == lastArea) {
                // Within an area: the next row down, or further right on the same row.
                const bool nextRow = r.top() >= last.center().y();
                const bool sameRowRight =
                    r.left() > last.left() && r.top() < last.bottom() && r.bottom() > last.top();
                EXPECT_TRUE(nextRow || sameRowRight)
                    << v->objectName().toStdString() << " after " << names.join(" ").toStdString();
            }
            lastArea = area, last = r;
        }
        for (const char* expected :
             {"USBCon", "Panel1", "RepeatSet", "RecordSITime", "DBGrid1", "TimeH", "SetMin",
              "HistoryListBox", "KD1", "TrendBtn", "BTCon", "ClearBtn", "BitBtn1"})
            EXPECT_TRUE(names.contains(expected))
                << expected << " not visited: " << names.join(" ").toStdString();
    }
    EXPECT_EQ(rounds[0], rounds[1]) << "the order is the same at the start and at full height";
}

QMenu* openPopup() {
    QMenu* m = nullptr;
    waitUntil([&] { return (m = qobject_cast<QMenu*>(QApplication::activePopupWidget())); }, 2000);
    return m;
}

TEST(Access, RecordLimitAndViewTrendWithKeysAlone) {
    WindowFixture f;
    TFCOMM& w = *f.w;
    showActive(w);
    ASSERT_EQ(w.Session->rule().RecordLimit, 10000);

    // Alt+R opens Record; down past New and Save to 1000, Return picks it.
    QTest::keyClick(&w, Qt::Key_R, Qt::AltModifier);
    QMenu* record = openPopup();
    ASSERT_EQ(record, w.Record1);
    while (record->activeAction() != w.N10001 && record->isVisible()) {
        QAction* before = record->activeAction();
        QTest::keyClick(record, Qt::Key_Down);
        ASSERT_NE(record->activeAction(), before) << "Down moves on";
        ASSERT_NE(record->activeAction(), w.N50001) << "1000 passed over";
    }
    QTest::keyClick(record, Qt::Key_Return);
    EXPECT_EQ(w.Session->rule().RecordLimit, 1000);
    EXPECT_TRUE(w.N10001->isChecked());
    EXPECT_FALSE(w.N100001->isChecked());
    ASSERT_TRUE(waitUntil([] { return !QApplication::activePopupWidget(); }));

    // Its mnemonic picks 5000 at once.
    QTest::keyClick(&w, Qt::Key_R, Qt::AltModifier);
    ASSERT_EQ(openPopup(), w.Record1);
    QTest::keyClick(w.Record1, Qt::Key_5);
    EXPECT_EQ(w.Session->rule().RecordLimit, 5000);
    ASSERT_TRUE(waitUntil([] { return !QApplication::activePopupWidget(); }));

    // F10 opens the menu bar at Record; Right goes on to View, over the blank spacers.
    QTest::keyClick(&w, Qt::Key_F10);
    ASSERT_EQ(openPopup(), w.Record1);
    QTest::keyClick(w.Record1, Qt::Key_Right);
    QMenu* view = openPopup();
    ASSERT_EQ(view, w.Trends->View1);
    for (int i = 0; i < 3 && view->activeAction() != w.Trends->Trend1; ++i)
        QTest::keyClick(view, Qt::Key_Down);
    ASSERT_EQ(view->activeAction(), w.Trends->Trend1);
    QTest::keyClick(view, Qt::Key_Return);
    ASSERT_NE(w.Trends->Trend, nullptr);
    EXPECT_TRUE(w.Trends->Trend->isVisible());

    // And Alt+V, T after the trend window was closed.
    w.Trends->Trend->close();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&w));
    QTest::keyClick(&w, Qt::Key_V, Qt::AltModifier);
    ASSERT_EQ(openPopup(), w.Trends->View1);
    QTest::keyClick(w.Trends->View1, Qt::Key_T);
    EXPECT_TRUE(w.Trends->Trend->isVisible());
    EXPECT_TRUE(f.messages.isEmpty()) << f.messages.join("; ").toStdString();
}

} // namespace
} // namespace rd780::test
