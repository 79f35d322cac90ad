// The panels on their own: a bare client area, a context and hand-made wiring are all a
// panel needs, which is what lets the window compose them and later windows reuse them.
#include "meter/LcdPanel.h"
#include "meter/MeterPanel.h"
#include "record/LimitPanel.h"
#include "session/MeterSession.h"
#include "tests/meter/FrameBuilder.h"
#include "view/ScalePanel.h"
#include "view/ScaleView.h"

#include <QCheckBox>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QStringList>
#include <QTest>
#include <QWidget>

#include <chrono>

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace rd780;

namespace {

// A client area with the window's message box and history list written down.
struct Client {
    QWidget area;
    QStringList messages;
    QStringList history;
    Client() { area.resize(717, 596); }
    PanelContext context() {
        return {&area, [this](const QString& m) { messages << m; },
                [this](const QString& l) { history << l; }};
    }
};

// A call written down with what it carried. (Appended rather than concatenated to a
// literal: GCC 12's optimiser warns falsely about the latter.)
std::string said(const char* what, const std::string& with) {
    std::string s(what);
    s.append(with);
    return s;
}

ScaleState startScale() {
    ScaleState s;
    s.ScaleLabelSet = "4";
    s.OverloadValue = 60;
    s.ScaleZeroOffset = 400;
    s.BarOverloadPosition = 40;
    s.ScaleDivisions = 80;
    return s;
}

} // namespace

TEST(MeterPanelAlone, DecodedFrameFillsTheReadingThenCallsOutInOrder) {
    Client c;
    ReadingState reading;
    MeterSession session({});
    session.usbCounts().idleTicks = 2;
    MeterPanel m(c.context(), reading, session, nullptr);
    m.placeLamp(&c.area);
    std::vector<std::string> calls;
    m.PointerTo = [&](int v) { calls.push_back(said("pointer ", std::to_string(v))); };
    // What the recording sees when it is offered the reading: the new one, whole.
    m.OfferReading = [&] {
        calls.push_back(said("offer ", reading.ReadingText + reading.ReadingUnit));
    };
    m.ResetChart = [&] { calls.push_back("reset"); };
    m.PlotWaveform = [&](const std::string&) { calls.push_back("wave"); };
    QSignalSpy decoded(&m, &MeterPanel::readingDecoded);
    // What the frame changes is drawn in one repaint after it, not while it is decoded.
    c.area.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&c.area));
    struct Paints : QObject {
        int count = 0;
        bool eventFilter(QObject*, QEvent* e) override {
            count += e->type() == QEvent::Paint;
            return false;
        }
    };
    Paints barPaints;
    m.PBar2->installEventFilter(&barPaints);

    test::FrameSpec frame;
    frame.display = " 12.34 ";
    reading.FrameHex = test::frameText(frame);
    ASSERT_TRUE(m.LcdDisplay520());
    EXPECT_EQ(barPaints.count, 0);
    EXPECT_TRUE(QTest::qWaitFor([&] { return barPaints.count > 0; }, 5000));
    EXPECT_EQ(calls, (std::vector<std::string>{"pointer 523", "offer 12.34 V", "reset"}));
    EXPECT_EQ(decoded.count(), 1);
    EXPECT_EQ(m.PBar2->value(), 12);
    EXPECT_EQ(session.usbCounts().idleTicks, 0);
    EXPECT_TRUE(m.CONok->isVisibleTo(&c.area));
    EXPECT_FALSE(m.CONokN->isVisibleTo(&c.area));
    // The same reading again repaints nothing of the LCD.
    Paints lcdPaints;
    m.Panel1->installEventFilter(&lcdPaints);
    ASSERT_TRUE(m.LcdDisplay520());
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
    EXPECT_EQ(lcdPaints.count, 0);

    calls.clear();
    reading.FrameHex = test::frameText(frame, true);
    ASSERT_TRUE(m.LcdDisplay520());
    EXPECT_EQ(calls.back(), "wave") << "a long frame's waveform goes to the chart";
    EXPECT_EQ(decoded.count(), 3);
    EXPECT_TRUE(c.messages.isEmpty());
}

TEST(MeterPanelAlone, BadFrameIsListedNotAnnouncedNorOffered) {
    Client c;
    ReadingState reading;
    MeterSession session({});
    MeterPanel m(c.context(), reading, session, nullptr);
    m.placeLamp(&c.area);
    int offers = 0;
    m.OfferReading = [&] { ++offers; };
    QSignalSpy decoded(&m, &MeterPanel::readingDecoded);

    test::FrameSpec frame;
    frame.display = " 1x.34 ";
    reading.FrameHex = test::frameText(frame);
    EXPECT_FALSE(m.LcdDisplay520());
    EXPECT_EQ(decoded.count(), 0);
    EXPECT_EQ(offers, 0);
    ASSERT_EQ(c.history.size(), 1);
    EXPECT_TRUE(c.history[0].startsWith("Frame error: ")) << c.history[0].toStdString();
    EXPECT_TRUE(c.messages.isEmpty()) << "never a box per frame";
}

TEST(MeterPanelAlone, TestFrameClearsTheScopeMarkThenShowsItsReading) {
    Client c;
    ReadingState reading;
    MeterSession session({});
    MeterPanel m(c.context(), reading, session, nullptr);
    m.placeLamp(&c.area);
    std::vector<std::string> calls;
    m.TestFrameShown = [&] { calls.push_back(said("scope off, text ", reading.ReadingText)); };
    m.OfferReading = [&] { calls.push_back(said("offer ", reading.ReadingText)); };
    m.Button4->click(); // hidden, but its click is still the handler
    EXPECT_EQ(calls, (std::vector<std::string>{"scope off, text ", "offer 00.66"}));
}

TEST(MeterPanelAlone, LampShowsTheWatchStalledThenLiveAgainOnTheNextFrame) {
    Client c;
    ReadingState reading;
    auto now = LinkWatch::Clock::time_point{} + std::chrono::hours(1);
    SessionOptions options;
    options.linkClock = [&] { return now; };
    MeterSession session(options);
    MeterPanel m(c.context(), reading, session, nullptr);
    m.placeLamp(&c.area);
    QSignalSpy shown(&m, &MeterPanel::linkStateShown);

    m.WatchConnected(LinkKind::Usb);
    EXPECT_FALSE(m.CONalarm->isVisibleTo(&c.area));
    now += LinkWatch::StallAfter;
    session.tickHealth();
    EXPECT_TRUE(m.CONalarm->isVisibleTo(&c.area));
    EXPECT_EQ(c.history, QStringList{"Link stalled: no frame for 3 s"});

    m.WatchDisconnected(LinkKind::Serial); // the other link's stop leaves this watch alone
    EXPECT_TRUE(m.CONalarm->isVisibleTo(&c.area));

    test::FrameSpec frame;
    reading.FrameHex = test::frameText(frame);
    ASSERT_TRUE(m.LcdDisplay520());
    EXPECT_FALSE(m.CONalarm->isVisibleTo(&c.area));
    EXPECT_EQ(c.history.last(), "Link live again");
    EXPECT_EQ(m.FramesDecoded, 1);
    EXPECT_EQ(shown.count(), 3); // connected, stalled, live again
}

TEST(LimitPanelAlone, EditsReachTheLimitsAndAskForTheMarks) {
    Client c;
    LimitState limits;
    LimitPanel p(c.context(), limits, nullptr);
    int redraws = 0;
    p.LimitsChanged = [&] { ++redraws; };

    p.Setmax->setText("1500");
    EXPECT_FLOAT_EQ(limits.LimitHigh, 1500.0f);
    EXPECT_EQ(redraws, 1);
    EXPECT_FALSE(p.highOn());
    p.SetMaxB->click();
    EXPECT_TRUE(p.highOn());
    EXPECT_EQ(redraws, 2);

    p.SetMin->setText("-2500");
    p.SetMinB->click();
    EXPECT_FLOAT_EQ(limits.LimitLow, -2500.0f);
    EXPECT_TRUE(p.lowOn());
    EXPECT_EQ(redraws, 4);

    // A text that does not convert is an error shown through the window's gate; the limit
    // and the marks stay as they were.
    p.Setmax->setText("15a");
    EXPECT_FLOAT_EQ(limits.LimitHigh, 1500.0f);
    EXPECT_EQ(redraws, 4);
    EXPECT_EQ(c.messages.size(), 1);
}

TEST(ScaleViewAlone, EnlargeFillsTheGivenAreaAndHidesTheChartUntilRestored) {
    Client c;
    const ScaleState scale = startScale();
    LimitState limits;
    limits.LimitHigh = 1500;
    ScaleView v(c.context(), scale, limits, nullptr);
    bool highOn = true;
    v.HighLimitOn = [&] { return highOn; };
    v.LowLimitOn = [] { return false; };
    v.VisibleArea = [] { return QSize(717, 466); };
    std::vector<bool> chartShown;
    v.ShowChart = [&](bool shown) { chartShown.push_back(shown); };
    v.KDsetup(1);
    v.KDrun(500);

    v.KdFdClick();
    EXPECT_EQ(v.KD->geometry(), QRect(2, 28, 713, 435)); // 3 px above the area's end, as the chart
    EXPECT_EQ(chartShown, std::vector<bool>{false});
    EXPECT_TRUE(v.KdPanel->pointerShown()) << "the pointer is drawn again at the new size";
    EXPECT_EQ(v.KdPanel->pointerValue(), 500);
    v.KdFdClick();
    EXPECT_EQ(v.KD->geometry(), QRect(339, 31, 371, 143));
    EXPECT_EQ(chartShown, (std::vector<bool>{false, true}));
    EXPECT_TRUE(c.messages.isEmpty());
}

// The window's folder is the top of the build: nothing but its own files, the tests and the
// benchmarks include a header of app/. A panel reaches the window and the other panels only
// through what it is handed, never by looking its widgets up.
TEST(PanelRules, NothingIncludesTheWindowOrAnotherPanel) {
    const QString root = QStringLiteral(RD780_SOURCE_DIR);
    const QStringList panels = {"meter/MeterPanel.h",      "view/ScaleView.h",
                                "view/ChartPanel.h",       "record/RecordingPanel.h",
                                "record/LimitPanel.h",     "link/serial/SerialLinkPanel.h",
                                "link/hid/UsbLinkPanel.h", "view/TrendPanel.h"};
    const QRegularExpression include(QStringLiteral("^#include \"([^\"]+)\""),
                                     QRegularExpression::MultilineOption);
    int scanned = 0;
    for (const QString& folder : QDir(root).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        if (folder == "app" || folder == "tests" || folder == "bench" || folder.startsWith('.') ||
            folder.startsWith("build"))
            continue;
        QDirIterator it(root + "/" + folder, {"*.h", "*.cpp"}, QDir::Files,
                        QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString path = it.next();
            const QString rel = QDir(root).relativeFilePath(path);
            QFile f(path);
            ASSERT_TRUE(f.open(QIODevice::ReadOnly)) << rel.toStdString();
            const QString text = QString::fromUtf8(f.readAll());
            ++scanned;
            // Looking widgets up by name would reach into another panel behind the window's back.
            EXPECT_FALSE(text.contains("findChild")) << rel.toStdString();
            for (auto m = include.globalMatch(text); m.hasNext();) {
                const QString inc = m.next().captured(1);
                EXPECT_FALSE(inc.startsWith("app/"))
                    << rel.toStdString() << " includes " << inc.toStdString();
                const bool own =
                    QFileInfo(inc).completeBaseName() == QFileInfo(rel).completeBaseName();
                EXPECT_FALSE(panels.contains(inc) && !own)
                    << rel.toStdString() << " includes " << inc.toStdString();
            }
        }
    }
    EXPECT_GT(scanned, 80) << "the source folders were found";
}
