// The window's status bar, New's question, Ctrl+A, the serial Connect panel and the grid's
// follow, driven through a whole main window.
#include "link/hid/UsbLinkPanel.h"
#include "link/serial/SerialLinkPanel.h"
#include "meter/MeterPanel.h"
#include "record/GridFollow.h"
#include "record/ReadingTable.h"
#include "record/RecordingPanel.h"
#include "record/RecordingSide.h"
#include "status/StatusBar.h"
#include "status/StatusFeed.h"
#include "tests/TestSupport.h"
#include "tests/app/WindowFixture.h"
#include "view/HistoryList.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTableView>
#include <QTest>
#include <QToolButton>

#include <gtest/gtest.h>

namespace rd780 {
namespace {

const char* const TestFrame =
    "5A0003050559800101010006001000000B000400002030302E363620562000322E3031336B487A002E";

struct StatusWindow : ::testing::Test {
    explicit StatusWindow(ProgramOptions options = {}) : f(std::move(options)) {}
    test::WindowFixture f;
    TFCOMM& w = *f.w;
    void decode(int times = 1) {
        for (int i = 0; i < times; ++i) {
            w.S.FrameHex = TestFrame;
            w.Meter->LcdDisplay520();
        }
    }
    StatusTexts texts() { return w.Recording->Status->texts(); }
    int gridRows() { return w.Recording->DBGrid1->model()->rowCount(); }
    QByteArray tableBytes() {
        w.Recording->Rec->Table.flush();
        QFile file(f.dir.filePath("Kv400db.DB"));
        EXPECT_TRUE(file.open(QIODevice::ReadOnly));
        return file.readAll();
    }
    bool contains(const std::string& text, const std::string& part) {
        return text.find(part) != std::string::npos;
    }
};

TEST_F(StatusWindow, NewAsksFirstAndCancelLeavesTheFileAsItWas) {
    decode(3);
    const QByteArray before = tableBytes();
    ASSERT_FALSE(before.isEmpty());

    f.nextAnswer = QMessageBox::Cancel;
    w.New1->trigger();
    ASSERT_EQ(f.questions.size(), 1);
    EXPECT_TRUE(f.questions[0].contains(f.dir.filePath("Kv400db.DB")))
        << f.questions[0].toStdString();
    EXPECT_TRUE(f.questions[0].contains("3 rows")) << f.questions[0].toStdString();
    EXPECT_EQ(tableBytes(), before);
    EXPECT_EQ(gridRows(), 3);
    EXPECT_FALSE(f.messages.contains(" Record deleted "));
    decode(); // numbering goes on after a cancelled New
    EXPECT_EQ(w.Session->rule().RecordNo, 5);

    f.nextAnswer = QMessageBox::Ok;
    w.Recording->RecordNew->click(); // the speed button asks as the menu item does
    EXPECT_EQ(f.questions.size(), 2);
    EXPECT_EQ(f.messages, QStringList{" Record deleted "});
    EXPECT_EQ(gridRows(), 0);
    EXPECT_EQ(w.Recording->Rec->Table.rowCount(), 0);
    EXPECT_NE(tableBytes(), before);
    EXPECT_TRUE(contains(texts().table, "0 rows")) << texts().table;

    // An empty table has nothing to lose: no question.
    w.New1->trigger();
    EXPECT_EQ(f.questions.size(), 2);
}

TEST_F(StatusWindow, StatusShowsTheTableFileAndEachRecordingState) {
    const std::string path = f.dir.filePath("Kv400db.DB").toStdString();
    EXPECT_TRUE(contains(texts().table, path)) << texts().table;
    EXPECT_EQ(texts().link, "No link");
    decode(2);
    EXPECT_TRUE(contains(texts().table, "2 rows")) << texts().table;
    EXPECT_EQ(texts().recording, "Recording: 2 of 10000");

    // The interval box is read at once, not when the next reading comes.
    w.Recording->RecordSITime->setText("10");
    w.Recording->RecordSI->setChecked(true);
    decode(); // the edit restarted the countdown: this reading waits
    EXPECT_EQ(gridRows(), 2);
    EXPECT_EQ(texts().recording, "Waiting for the interval: 10 s left");
    w.Session->tickRecording();
    EXPECT_EQ(texts().recording, "Waiting for the interval: 9 s left");
    w.Recording->RecordSI->setChecked(false);
    EXPECT_EQ(texts().recording, "Recording: 2 of 10000");

    w.N10001->trigger();
    w.Recording->Rec->Rule.RecordCount = 999;
    decode();
    EXPECT_EQ(texts().recording, "Recording: row 1001, limit 1000");
    decode(2);
    EXPECT_EQ(gridRows(), 4); // the 1001st row is in, the reading after it is not
    EXPECT_EQ(texts().recording, "Limit 1000 reached with 1001 rows: recording stopped");

    w.Recording->CloseReadingTable();
    EXPECT_TRUE(contains(texts().table, "No table")) << texts().table;
    EXPECT_EQ(texts().recording, "Not recording");

    // The bar shows the same texts, and says them to screen readers.
    auto* bar = qobject_cast<StatusBar*>(w.statusBar());
    ASSERT_NE(bar, nullptr);
    w.Recording->Status->refresh();
    ASSERT_TRUE(test::waitUntil([&] { return bar->shownTexts() == texts(); }));
    EXPECT_EQ(bar->recordingPart()->accessibleName().toStdString(), "Not recording");
}

TEST_F(StatusWindow, FirstTextsShownAreTheStateAfterStartUp) {
    auto* bar = qobject_cast<StatusBar*>(w.statusBar());
    ASSERT_NE(bar, nullptr);
    // Shown once, at the end of the start-up, and true: no "Limit 0 reached" meanwhile.
    EXPECT_EQ(bar->applyCount(), 1);
    EXPECT_FALSE(bar->pending());
    EXPECT_EQ(bar->shownTexts().recording, "Recording: 0 of 10000");
    EXPECT_TRUE(contains(bar->shownTexts().table, "Kv400db.DB, 0 rows")) << bar->shownTexts().table;
}

TEST_F(StatusWindow, StartHeightKeepsTheUpperAreaAboveTheStatusBar) {
    w.show();
    auto* bar = w.statusBar();
    ASSERT_TRUE(bar->isVisible());
    EXPECT_EQ(w.height(), 466 + w.MainMenu1->sizeHint().height() + bar->sizeHint().height());
    EXPECT_GE(bar->y(), w.MainMenu1->sizeHint().height() + 466);
}

TEST_F(StatusWindow, CtrlAStartsTheUsbLinkFromAnywhere) {
    int started = 0;
    QObject::connect(w.START1, &QAction::triggered, &w, [&] { ++started; });
    w.show();
    QApplication::setActiveWindow(&w);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&w));
    for (QWidget* focus :
         std::initializer_list<QWidget*>{w.BitBtn1, w.Recording->DBGrid1, w.HistoryListBox}) {
        f.messages.clear();
        const int before = started;
        focus->setFocus();
        ASSERT_TRUE(test::waitUntil([&] { return focus->hasFocus(); }));
        QTest::keyClick(focus, Qt::Key_A, Qt::ControlModifier);
        EXPECT_EQ(started, before + 1) << focus->objectName().toStdString();
        // USBConClick ran: with no cable it says so, in a box and in the status bar.
        EXPECT_TRUE(f.messages.contains(
            "USB interface cable is not securely connected, please check and re-try."));
        EXPECT_TRUE(contains(texts().link, "not securely connected")) << texts().link;
    }
    // In an edit, Ctrl+A stays select-all.
    const int before = started;
    w.Recording->RecordSITime->setFocus();
    ASSERT_TRUE(test::waitUntil([&] { return w.Recording->RecordSITime->hasFocus(); }));
    QTest::keyClick(w.Recording->RecordSITime, Qt::Key_A, Qt::ControlModifier);
    EXPECT_EQ(started, before);
}

TEST_F(StatusWindow, LampStaysLitWhileALongFrameArrivesInPieces) {
    QSignalSpy idle(w.Session, &MeterSession::linkIdle);
    // Reports carrying 3 meter bytes each: a frame on its way, not yet whole.
    const uint8_t piece[] = {0xF3, 0x5A, 0x00, 0x03, 0, 0, 0, 0};
    for (int i = 0; i < 10; ++i) {
        w.Usb->HidDeviceData(nullptr, 0, piece, sizeof piece);
        w.Usb->ConTimerTimer();
        w.Usb->ConTimerTimer();
    }
    EXPECT_EQ(idle.count(), 0);
    for (int i = 0; i < 3; ++i)
        w.Usb->ConTimerTimer(); // nothing comes: the lamp goes grey
    EXPECT_EQ(idle.count(), 1);
}

struct FailedSerial : StatusWindow {
    static ProgramOptions options() {
        ProgramOptions o;
        o.serialPort = "/nonexistent/ttyRD780";
        return o;
    }
    FailedSerial() : StatusWindow(options()) {}
};

TEST_F(FailedSerial, FailedOpenKeepsConnectShowing) {
    SerialLinkPanel& s = *w.Serial;
    s.BTCon1Click();
    EXPECT_FALSE(s.BTCon->isHidden());
    EXPECT_TRUE(s.BtDiscon->isHidden());
    EXPECT_FALSE(w.START1->isChecked());
    EXPECT_TRUE(w.START1->isEnabled());
    EXPECT_TRUE(s.BtCOM1->isEnabled());
    EXPECT_TRUE(s.SerialNote->text().contains("could not be opened"));
    // The note wraps: its two lines must hold the device and the reason.
    EXPECT_LE(s.SerialNote->heightForWidth(s.SerialNote->width()), s.SerialNote->height());
    EXPECT_TRUE(contains(texts().link, "No link")) << texts().link;
    EXPECT_TRUE(contains(texts().link, "could not be opened")) << texts().link;
    // The hidden toggle goes the same way.
    s.COMCon->setChecked(true);
    s.COMConClick();
    EXPECT_FALSE(s.COMCon->isChecked());
    EXPECT_FALSE(s.BTCon->isHidden());
}

TEST_F(StatusWindow, GridStaysWhenScrolledUpAndFollowsAtTheEnd) {
    w.show();
    QTableView* grid = w.Recording->DBGrid1;
    QScrollBar* bar = grid->verticalScrollBar();
    decode(40);
    ASSERT_GT(bar->maximum(), 0);
    EXPECT_EQ(bar->value(), bar->maximum());
    EXPECT_EQ(grid->currentIndex().row(), 39);

    bar->setValue(0); // the user looks at the first rows
    decode(5);
    EXPECT_EQ(gridRows(), 45);
    EXPECT_EQ(bar->value(), 0);
    EXPECT_EQ(grid->currentIndex().row(), 39);
    EXPECT_TRUE(contains(texts().table, "45 rows")) << texts().table;

    bar->setValue(bar->maximum()); // back at the end: it follows again
    decode();
    EXPECT_EQ(bar->value(), bar->maximum());
    EXPECT_EQ(grid->currentIndex().row(), 45);
    EXPECT_TRUE(w.Recording->GridFollow->following());
}

TEST_F(StatusWindow, GridShowsEveryColumnWithoutScrollingSideways) {
    w.show();
    decode(20);
    QTableView* grid = w.Recording->DBGrid1;
    ASSERT_TRUE(test::waitUntil([&] { return grid->verticalScrollBar()->isVisible(); }));
    EXPECT_FALSE(grid->horizontalScrollBar()->isVisible());
    const int last = grid->model()->columnCount() - 1;
    EXPECT_LE(grid->columnViewportPosition(last) + grid->columnWidth(last),
              grid->viewport()->width());
}

} // namespace
} // namespace rd780
