// The whole window: its start, the test frame, cable reports becoming readings and history
// lines, bad frames listed rather than boxed, the bounded history, and handler errors.
#include "link/hid/UsbLinkPanel.h"
#include "meter/LcdPanel.h"
#include "meter/MeterPanel.h"
#include "status/StatusBar.h"
#include "tests/TestSupport.h"
#include "tests/app/WindowFixture.h"
#include "tests/meter/FrameBuilder.h"
#include "view/HistoryList.h"
#include "view/ScaleView.h"

#include <QAction>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>

#include <gtest/gtest.h>

using namespace rd780;

namespace {

std::string lcdDigits(const LcdPanelState& p) {
    return p.caption(Lcd::LcdD0) + p.caption(Lcd::LcdDa) + p.caption(Lcd::LcdDb) +
           p.caption(Lcd::LcdDc);
}

// Feeds a frame as the cable does: data reports of up to nine meter bytes, then an empty one.
void feedFrame(TFCOMM& w, const std::vector<uint8_t>& frame) {
    for (std::size_t i = 0; i < frame.size(); i += 9) {
        uint8_t r[10] = {};
        const std::size_t n = std::min<std::size_t>(9, frame.size() - i);
        r[0] = static_cast<uint8_t>(n);
        std::copy(frame.begin() + i, frame.begin() + i + n, r + 1);
        w.Usb->HidDeviceData(nullptr, 0, r, sizeof r);
    }
    const uint8_t idle[10] = {};
    w.Usb->HidDeviceData(nullptr, 0, idle, sizeof idle);
}

} // namespace

TEST(Window, StartState) {
    test::WindowFixture f;
    TFCOMM& w = *f.w;
    EXPECT_EQ(w.windowTitle(), "RD780 Interface Program _Ver: 1.00");
    EXPECT_EQ(w.Session->rule().RecordNo, 1);
    EXPECT_EQ(w.Session->rule().RecordLimit, 10000);
    EXPECT_EQ(w.S.OverloadValue, 60);
    EXPECT_EQ(w.S.ScaleZeroOffset, 400);
    EXPECT_EQ(w.S.BarOverloadPosition, 40);
    EXPECT_EQ(w.S.ScaleDivisions, 80);
    EXPECT_EQ(w.S.ScaleLabelSet, "4");
    EXPECT_FALSE(w.S.ScaleFixedMode);
    EXPECT_GT(w.S.RecallTime, 40000.0) << "the start moment as a date-time";
    EXPECT_EQ(w.S.FrameHex, "");

    // The panel reads 3.999 V before the first frame.
    const LcdPanelState& p = w.Meter->Panel1->state();
    EXPECT_EQ(lcdDigits(p), "3999");
    EXPECT_TRUE(p.visible(Lcd::LcdP0));
    EXPECT_TRUE(p.visible(Lcd::LcdV));
    EXPECT_FALSE(p.visible(Lcd::LcdFH));
    EXPECT_FALSE(p.visible(Lcd::LcdAuto));
    EXPECT_EQ(w.Meter->PBar2->maximum(), 40);
    EXPECT_EQ(w.Meter->PBar2->value(), 1);
    EXPECT_TRUE(w.Meter->CONok->isHidden());
    EXPECT_FALSE(w.Meter->CONokN->isHidden());
    EXPECT_EQ(w.Meter->Panel1->geometry(), QRect(2, 31, 334, 129));
    EXPECT_EQ(w.Scale->KD->geometry(), QRect(339, 31, 371, 143));

    // The menu: a hidden Connect menu, the record limits with 10000 checked, View, Exit.
    EXPECT_FALSE(w.Connect1->menuAction()->isVisible());
    EXPECT_EQ(w.START1->shortcut(), QKeySequence("Ctrl+A"));
    EXPECT_TRUE(w.N100001->isChecked());
    EXPECT_FALSE(w.N10001->isChecked());
    EXPECT_EQ(w.limitess->text(), "&limitless");
    QStringList bar;
    for (QAction* a : w.MainMenu1->actions())
        bar << a->text();
    EXPECT_EQ(bar, (QStringList{"Connect", "", "&Record", "", "&View", "&Exit"}));
    EXPECT_TRUE(f.messages.isEmpty()) << f.messages.join("; ").toStdString();
}

TEST(Window, TestButtonDecodesTheTestFrame) {
    test::WindowFixture f;
    TFCOMM& w = *f.w;
    w.S.FrameHex = "5A01"; // whatever it held before
    w.Meter->Button4->click();
    EXPECT_EQ(w.S.ReadingText, "00.66");
    EXPECT_EQ(w.S.ReadingValue, 66.0f);
    EXPECT_EQ(w.S.ReadingUnit, " V");
    EXPECT_EQ(w.S.ReadingCoupling, "DC");
    const LcdPanelState& p = w.Meter->Panel1->state();
    EXPECT_EQ(lcdDigits(p), "0066");
    EXPECT_TRUE(p.visible(Lcd::LcdP1));
    EXPECT_TRUE(p.visible(Lcd::LcdV));
    EXPECT_TRUE(p.visible(Lcd::LcdDc1));
    EXPECT_FALSE(p.visible(Lcd::LcdFH));
    EXPECT_EQ(w.Meter->PBar2->value(), 1);
    EXPECT_FALSE(w.Meter->CONok->isHidden());
    EXPECT_TRUE(w.Meter->CONokN->isHidden());
    EXPECT_EQ(w.Session->usbCounts().idleTicks, 0);

    // A screenshot of the window after the test frame, for the documentation.
    w.show();
    QCoreApplication::processEvents();
    // The status bar shows changed texts at most every quarter second.
    auto* bar = qobject_cast<StatusBar*>(w.statusBar());
    ASSERT_NE(bar, nullptr);
    EXPECT_TRUE(test::waitUntil([&] { return !bar->pending(); }));
    EXPECT_TRUE(bar->tablePart()->fullText().contains("1 row")) << "the table's row shows";
    const QString shots = QStringLiteral(RD780_BINARY_DIR) + "/screenshots";
    QDir().mkpath(shots);
    EXPECT_TRUE(w.grab().save(shots + "/window-test-frame.png"));
}

TEST(Window, ReportsBecomeReadingsAndHistoryLines) {
    test::WindowFixture f;
    TFCOMM& w = *f.w;
    feedFrame(w, test::frameBytes({"-01.23m", 1, 1}));
    EXPECT_EQ(w.S.ReadingText, "-01.23");
    EXPECT_EQ(w.S.ReadingUnit, "mA");
    EXPECT_EQ(w.S.ReadingCoupling, "AC");
    EXPECT_EQ(w.HistoryListBox->count(), 5) << "one line per data report";
    EXPECT_TRUE(w.HistoryListBox->text(0).startsWith("R 00  09 5A "));
    EXPECT_EQ(w.HistoryListBox->currentRow(), 4);
    feedFrame(w, test::frameBytes({" 57.34 "}));
    EXPECT_EQ(w.Meter->BarPosition, 57);
    EXPECT_EQ(w.Meter->PBar2->value(), 40) << "a full bar past the maximum";
}

TEST(Window, BadFramesAreListedNotBoxed) {
    test::WindowFixture f;
    TFCOMM& w = *f.w;
    w.Meter->Button4->click();
    const int before = w.HistoryListBox->count();
    auto bad = test::frameBytes({" 1.2.3 "});
    for (int i = 0; i < 20; ++i)
        feedFrame(w, bad);
    // The only boxes are the poll's (there is no cable here), never one for a bad frame.
    for (const QString& m : f.messages)
        EXPECT_FALSE(m.contains("valid integer")) << m.toStdString();
    int errors = 0;
    for (int i = before; i < w.HistoryListBox->count(); ++i)
        errors += w.HistoryListBox->text(i).startsWith("Frame error: ");
    EXPECT_EQ(errors, 1) << "a repeated error is listed at most once a second";
    EXPECT_EQ(w.S.ReadingText, "1.2.3") << "the failed frame keeps what its earlier steps set";
    feedFrame(w, test::frameBytes({" 12.34k", 4}));
    EXPECT_EQ(w.S.ReadingText, "12.34");
    EXPECT_EQ(w.S.ReadingUnit, "k*");
}

TEST(Window, HistoryStaysBounded) {
    test::WindowFixture f;
    TFCOMM& w = *f.w;
    for (int i = 0; i < TFCOMM::HistoryLimit + 25; ++i)
        w.AddHistoryLine(QString::number(i));
    EXPECT_EQ(w.HistoryListBox->count(), TFCOMM::HistoryLimit);
    EXPECT_EQ(w.HistoryListBox->text(0), "25");
    EXPECT_EQ(w.HistoryListBox->currentRow(), TFCOMM::HistoryLimit - 1);
}

TEST(Window, HandlerErrorsAreShownAndTheProgramGoesOn) {
    test::WindowFixture f;
    TFCOMM& w = *f.w;
    bool after = false;
    EXPECT_FALSE(w.Guarded([&] {
        throw AppError("Table is busy");
        after = true;
    }));
    EXPECT_FALSE(after) << "the rest of the handler is abandoned";
    EXPECT_FALSE(w.Guarded([] { throw 42; }));
    EXPECT_EQ(f.messages, (QStringList{"Table is busy", "Unknown error"}));
    EXPECT_TRUE(w.Guarded([&] { after = true; }));
    EXPECT_TRUE(after);
}
