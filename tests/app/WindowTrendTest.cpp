// The trend window, limit alarms and CSV save as the window wires them.
#include "link/hid/UsbLinkPanel.h"
#include "meter/LcdPanel.h"
#include "meter/MeterPanel.h"
#include "record/LimitPanel.h"
#include "record/ReadingTable.h"
#include "record/RecordingPanel.h"
#include "record/RecordingSide.h"
#include "status/StatusBar.h"

#include "tests/app/WindowFixture.h"
#include "tests/meter/FrameBuilder.h"
#include "view/HistoryList.h"
#include "view/TrendPanel.h"
#include "view/TrendWindow.h"
#include <QDeadlineTimer>

#include <QAction>
#include <QCheckBox>
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QStatusBar>
#include <QToolButton>

#include <gtest/gtest.h>

using namespace rd780;

namespace {

void decode(TFCOMM& w, const std::string& display) {
    w.S.FrameHex = test::frameText({display});
    ASSERT_TRUE(w.Meter->LcdDisplay520()) << display;
}

int alarmLines(const TFCOMM& w) {
    int n = 0;
    for (int i = 0; i < w.HistoryListBox->count(); ++i)
        if (w.HistoryListBox->text(i).contains("Limit alarm")) ++n;
    return n;
}

QStringList fileLines(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return {};
    QStringList lines = QString::fromUtf8(f.readAll()).split("\r\n");
    if (!lines.isEmpty() && lines.last().isEmpty()) lines.removeLast();
    return lines;
}

QAction* viewItem(TFCOMM& w, const QString& caption) {
    for (QAction* a : w.MainMenu1->actions())
        if (a->menu() && a->text() == "&View")
            for (QAction* item : a->menu()->actions())
                if (QString(item->text()).remove('&') == caption) return item;
    return nullptr;
}

} // namespace

TEST(WindowTrend, TrendCollectsFromConnectWhetherOrNotTheWindowWasOpened) {
    test::WindowFixture f;
    TFCOMM& w = *f.w;
    decode(w, " 09.99 ");
    // Connect starts the statistics again; the plot keeps the session.
    w.Usb->Hooks.WatchConnected(LinkKind::Usb);
    decode(w, " 00.66 "); // before the window was ever opened
    QAction* trend = viewItem(w, "Trend");
    ASSERT_NE(trend, nullptr) << "View > Trend";
    trend->trigger();
    ASSERT_NE(w.Trends->Trend, nullptr);
    EXPECT_TRUE(w.Trends->Trend->isVisible());
    decode(w, " 01.50 ");
    const view::TrendTrace* volts = w.Trends->Trend->data().trace(" V");
    ASSERT_NE(volts, nullptr);
    EXPECT_EQ(volts->size(), 3u);
    ASSERT_EQ(w.Trends->Trend->statistics().units().size(), 1u);
    const UnitStatistics& since = w.Trends->Trend->statistics().units()[0];
    EXPECT_EQ(since.count, 2u);
    EXPECT_DOUBLE_EQ(since.min, 0.66);
    EXPECT_DOUBLE_EQ(since.max, 1.5);

    // The button beside the chart's opens the same window again, not a second one.
    view::TrendWindow* first = w.Trends->Trend;
    first->hide();
    w.Trends->TrendBtn->click();
    EXPECT_EQ(w.Trends->Trend, first);
    EXPECT_TRUE(first->isVisible());
}

TEST(WindowTrend, TickedLimitsReachTheTrendWindow) {
    test::WindowFixture f;
    TFCOMM& w = *f.w;
    w.Limits->Setmax->setText("150");
    w.Limits->SetMaxB->click();
    w.Trends->TrendClick();
    EXPECT_EQ(w.Limits->highLimit(), std::optional<double>(150));
    EXPECT_EQ(w.Limits->lowLimit(), std::nullopt);
    w.Limits->SetMaxB->click(); // untick
    EXPECT_EQ(w.Limits->highLimit(), std::nullopt);
}

TEST(WindowAlarm, OneHistoryLinePerCrossingAndTheFrameFollowsTheReading) {
    test::WindowFixture f;
    TFCOMM& w = *f.w;
    w.Limits->Setmax->setText("100");
    decode(w, " 01.50 ");
    EXPECT_EQ(alarmLines(w), 0) << "no alarm while SetMax is not ticked";
    EXPECT_FALSE(w.Meter->Panel1->alarmFrame());

    w.Limits->SetMaxB->click();
    for (int i = 0; i < 5; ++i)
        decode(w, " 01.50 ");
    EXPECT_EQ(alarmLines(w), 1) << "one line per crossing, not per frame";
    EXPECT_TRUE(w.Meter->Panel1->alarmFrame());
    const QString line = w.HistoryListBox->text(w.HistoryListBox->count() - 1);
    EXPECT_TRUE(line.contains("01.50")) << line.toStdString();
    auto* bar = qobject_cast<StatusBar*>(w.statusBar());
    ASSERT_NE(bar, nullptr);
    EXPECT_EQ(bar->alarmPart()->fullText(), line);
    EXPECT_FALSE(bar->alarmPart()->isHidden());
    EXPECT_FALSE(bar->linkPart()->isHidden()) << "the link, table and recording stay in view";

    decode(w, " 00.50 ");
    EXPECT_FALSE(w.Meter->Panel1->alarmFrame()) << "back inside: the frame is plain again";
    decode(w, " 01.50 ");
    EXPECT_EQ(alarmLines(w), 2) << "a new crossing after coming back inside";
    EXPECT_TRUE(w.Meter->Panel1->alarmFrame());

    // A picture of the alarm for the documentation, at full height so the history shows.
    w.show();
    w.resize(w.width(), w.height() + 130);
    QCoreApplication::processEvents();
    // The status bar shows changed texts at most every quarter second.
    const QDeadlineTimer settle(5000);
    while (bar->pending() && !settle.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    EXPECT_FALSE(bar->pending());
    const QImage shot = w.grab().toImage();
    const QPoint corner = w.Meter->Panel1->mapTo(&w, QPoint(1, 1));
    EXPECT_EQ(shot.pixelColor(corner * shot.devicePixelRatio()).red(), 0xE0) << "red frame drawn";
    const QString shots = QStringLiteral(RD780_BINARY_DIR) + "/screenshots";
    QDir().mkpath(shots);
    EXPECT_TRUE(shot.save(shots + "/window-alarm.png"));

    w.Limits->SetMaxB->click(); // untick: no limit, no red frame
    EXPECT_FALSE(w.Meter->Panel1->alarmFrame());
}

TEST(WindowAlarm, SoundIsAnOptionOffAtStart) {
    test::WindowFixture f;
    TFCOMM& w = *f.w;
    QAction* sound = viewItem(w, "Alarm sound");
    ASSERT_NE(sound, nullptr);
    EXPECT_TRUE(sound->isCheckable());
    EXPECT_FALSE(sound->isChecked());
    EXPECT_FALSE(w.Limits->AlarmSound);
    sound->trigger();
    EXPECT_TRUE(w.Limits->AlarmSound);
    sound->trigger();
    EXPECT_FALSE(w.Limits->AlarmSound);
}

TEST(WindowSave, CsvNameWritesCsvAndTxtKeepsTheTextExport) {
    test::WindowFixture f;
    TFCOMM& w = *f.w;
    decode(w, "-45.05m");
    decode(w, " 01.50 ");
    ASSERT_EQ(w.Recording->Rec->Table.rowCount(), 2);

    const QString csv = f.dir.filePath("readings.CSV");
    w.Recording->SaveDialogHook = [&] { return csv; };
    w.Save1->trigger();
    const QStringList lines = fileLines(csv);
    ASSERT_EQ(lines.size(), 3) << "header and one line per row";
    EXPECT_EQ(lines[0], "Timestamp,No,Value,Unit,Coupling,Auto,SIValue,SIUnit");
    // The rows were recorded now, so they carry today's date.
    const QString today = QDate::currentDate().toString("yyyy-MM-dd");
    EXPECT_TRUE(lines[1].startsWith(today)) << lines[1].toStdString();
    EXPECT_TRUE(lines[1].contains(",-0.04505,V")) << lines[1].toStdString();
    EXPECT_TRUE(f.messages.last().contains("Scuss")) << f.messages.last().toStdString();

    const QString txt = f.dir.filePath("readings.txt");
    w.Recording->SaveDialogHook = [&] { return txt; };
    w.Save1->trigger();
    QFile t(txt);
    ASSERT_TRUE(t.open(QIODevice::ReadOnly));
    const QByteArray text = t.readAll();
    EXPECT_FALSE(text.isEmpty());
    EXPECT_FALSE(text.startsWith("Timestamp")) << "a .txt name keeps the text export";
    EXPECT_TRUE(text.contains("-45.05"));
}

TEST(WindowSave, CsvThatCannotBeWrittenSaysSo) {
    test::WindowFixture f;
    TFCOMM& w = *f.w;
    decode(w, " 01.50 ");
    const QString csv = f.dir.filePath("no-such-folder/readings.csv");
    w.Recording->SaveDialogHook = [&] { return csv; };
    w.Save1->trigger();
    ASSERT_FALSE(f.messages.isEmpty());
    EXPECT_TRUE(f.messages.last().startsWith("Could not save table"))
        << f.messages.last().toStdString();
}

TEST(WindowTrend, PlotTableShowsTheOpenTable) {
    test::WindowFixture f;
    TFCOMM& w = *f.w;
    decode(w, " 01.50 ");
    decode(w, " 01.60 ");
    QAction* plot = viewItem(w, "Plot table");
    ASSERT_NE(plot, nullptr);
    plot->trigger();
    view::TrendWindow& t = *w.Trends->Trend;
    EXPECT_TRUE(t.showingTable());
    EXPECT_EQ(t.data().points(), 2u);
    decode(w, " 01.70 "); // the session goes on while the table is shown
    EXPECT_EQ(t.data().points(), 2u);
    // The way back: the window's button, or View > Trend.
    auto* back = t.findChild<QPushButton*>("TrendSession");
    ASSERT_NE(back, nullptr);
    EXPECT_TRUE(back->isVisibleTo(&t));
    back->click();
    EXPECT_FALSE(t.showingTable());
    EXPECT_FALSE(back->isVisibleTo(&t));
    EXPECT_EQ(t.data().points(), 3u);
    EXPECT_EQ(t.statistics().units().at(0).count, 3u);
    EXPECT_TRUE(t.following());
    plot->trigger();
    viewItem(w, "Trend")->trigger();
    EXPECT_FALSE(t.showingTable());
    EXPECT_EQ(t.data().points(), 3u);
}

TEST(WindowSave, OlderRowsTakeTheTableFilesDateAndNewRowsToday) {
    test::WindowFixture f;
    decode(*f.w, " 01.50 ");
    decode(*f.w, " 01.60 ");
    f.w.reset(); // the table is closed; give it the look of one last written long ago
    const QString table = f.dir.filePath("Kv400db.DB");
    {
        QFile file(table);
        ASSERT_TRUE(file.open(QIODevice::ReadWrite));
        ASSERT_TRUE(file.setFileTime(QDateTime(QDate(2020, 3, 4), QTime(23, 0)),
                                     QFileDevice::FileModificationTime));
    }
    ProgramOptions options;
    options.messageHook = [&f](const QString& m) { f.messages << m; };
    options.questionHook = [&f](const QString& text, QMessageBox::StandardButton) {
        f.questions << text;
        return QMessageBox::Ok;
    };
    f.w = std::make_unique<TFCOMM>(options);
    TFCOMM& w = *f.w;
    decode(w, " 01.70 ");
    ASSERT_EQ(w.Recording->Rec->Table.rowCount(), 3);

    const QString csv = f.dir.filePath("dated.csv");
    w.Recording->SaveDialogHook = [&] { return csv; };
    w.Save1->trigger();
    const QStringList lines = fileLines(csv);
    ASSERT_EQ(lines.size(), 4);
    EXPECT_TRUE(lines[1].startsWith("2020-03-04T")) << lines[1].toStdString();
    EXPECT_TRUE(lines[2].startsWith("2020-03-04T")) << lines[2].toStdString();
    const QString today = QDate::currentDate().toString("yyyy-MM-dd");
    EXPECT_TRUE(lines[3].startsWith(today + "T")) << lines[3].toStdString();

    // New empties the table: every later row is of this run.
    w.Recording->RecordNewClick();
    ASSERT_EQ(f.questions.size(), 1) << "New asks first: the table holds rows";
    decode(w, " 01.80 ");
    w.Save1->trigger();
    const QStringList after = fileLines(csv);
    ASSERT_EQ(after.size(), 2);
    EXPECT_TRUE(after[1].startsWith(today + "T")) << after[1].toStdString();
}
