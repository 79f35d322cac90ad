// The status bar: its three parts carry the texts as accessible names, change only when a
// text does, and at most a few times a second however fast the texts come.
#include "status/StatusBar.h"
#include "tests/TestSupport.h"

#include <QElapsedTimer>
#include <QMainWindow>

#include <gtest/gtest.h>

namespace rd780 {
namespace {

StatusTexts texts(const std::string& rec) {
    return {"USB: USB to Serial - live, 2.0 frames/s", "/tmp/Kv400db.DB, 3 rows", rec};
}

TEST(StatusBar, PartsShowTheTextsAndNameThemForScreenReaders) {
    StatusBar bar;
    bar.resize(900, bar.sizeHint().height());
    bar.setTexts(texts("Recording: 3 of 10000"));
    EXPECT_EQ(bar.applyCount(), 1) << "the first texts show at once";
    EXPECT_EQ(bar.shownTexts(), texts("Recording: 3 of 10000"));
    const std::pair<StatusPart*, const char*> parts[] = {
        {bar.linkPart(), "USB: USB to Serial - live, 2.0 frames/s"},
        {bar.tablePart(), "/tmp/Kv400db.DB, 3 rows"},
        {bar.recordingPart(), "Recording: 3 of 10000"}};
    for (const auto& [part, text] : parts) {
        EXPECT_EQ(part->accessibleName(), text) << part->objectName().toStdString();
        EXPECT_EQ(part->fullText(), text);
        EXPECT_EQ(part->toolTip(), text);
    }
    EXPECT_EQ(bar.findChild<StatusPart*>("RecordingStatus"), bar.recordingPart());

    // The same texts again change nothing.
    bar.setTexts(texts("Recording: 3 of 10000"));
    EXPECT_EQ(bar.applyCount(), 1);
    EXPECT_FALSE(bar.pending());
}

TEST(StatusBar, AFloodOfTextsIsShownAFewTimesASecondAndEndsOnTheLast) {
    StatusBar bar;
    bar.setTexts(texts("Recording: 0 of 100000"));
    QElapsedTimer clock;
    clock.start();
    const int frames = 20000;
    for (int i = 1; i <= frames; ++i) {
        bar.setTexts(texts("Recording: " + std::to_string(i) + " of 100000"));
        if (i % 1000 == 0) QCoreApplication::processEvents();
    }
    const qint64 ms = clock.elapsed();
    // One show per quiet interval, plus the first and the one still to come.
    EXPECT_LE(bar.applyCount(), 2 + int(ms / StatusBar::MinIntervalMs) + 1)
        << frames << " texts in " << ms << " ms";
    const std::string last = "Recording: " + std::to_string(frames) + " of 100000";
    ASSERT_TRUE(test::waitUntil([&] { return bar.shownTexts() == texts(last); }, 5000))
        << "the last texts must show once the flood stops";
    EXPECT_EQ(bar.recordingPart()->accessibleName().toStdString(), last);
    EXPECT_FALSE(bar.pending());
}

TEST(StatusBar, AHeldChangeIsDroppedWhenUndoneAndGoesWithTheFirstAfterTheInterval) {
    StatusBar bar;
    bar.setTexts(texts("Recording: 1 of 10"));
    bar.setTexts(texts("Waiting for the interval: 9 s left"));
    EXPECT_TRUE(bar.pending()) << "the second change waits for the quiet interval";
    bar.setTexts(texts("Recording: 1 of 10"));
    EXPECT_FALSE(bar.pending()) << "back to what is shown: nothing left to show";
    EXPECT_EQ(bar.applyCount(), 1);

    // A change held back goes with the first one after the interval, at once, not on a
    // timer of its own: the next frame's repaint draws it. No events run meanwhile.
    bar.setTexts(texts("Recording: 2 of 10"));
    EXPECT_TRUE(bar.pending());
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() <= StatusBar::MinIntervalMs) {
    }
    bar.setTexts(texts("Recording: 3 of 10"));
    EXPECT_FALSE(bar.pending());
    EXPECT_EQ(bar.shownTexts(), texts("Recording: 3 of 10"));
    EXPECT_EQ(bar.applyCount(), 2);
}

TEST(StatusBar, ALongPathIsElidedNotWideningTheWindow) {
    QMainWindow w;
    auto* bar = new StatusBar(&w);
    w.setStatusBar(bar);
    w.resize(500, 300);
    const std::string path = "/home/user/" + std::string(300, 'd') + "/Kv400db.DB";
    bar->setTexts({"No link", path + ", 5 rows", "Not recording"});
    w.show();
    ASSERT_TRUE(test::waitUntil([&] { return w.isVisible() && bar->tablePart()->width() > 0; }));
    EXPECT_LE(w.minimumSizeHint().width(), 500);
    EXPECT_EQ(w.width(), 500);
    const QString shown = bar->tablePart()->shownText();
    EXPECT_LT(shown.size(), int(path.size())) << "elided to fit";
    EXPECT_TRUE(shown.contains(QChar(0x2026))) << shown.toStdString();
    EXPECT_TRUE(shown.endsWith("5 rows")) << "the end of the text stays readable";
    EXPECT_EQ(bar->tablePart()->accessibleName().toStdString(), path + ", 5 rows")
        << "screen readers get the whole text";
}

// Whatever the room, a part shows its text as eliding it to that room would, whole when
// it fits.
TEST(StatusBar, APartShowsItsTextElidedToItsRoomOrWhole) {
    QMainWindow w;
    auto* bar = new StatusBar(&w);
    w.setStatusBar(bar);
    const std::string texts[] = {"USB: USB to Serial - live, 5.7 frames/s",
                                 "/tmp/Kv400db.DB, 12345 rows", "Recording: 7 of 10000",
                                 "Serial: /dev/ttyUSB0 - stalled, no frame for 4 s", "\u00b5V"};
    StatusPart* part = bar->tablePart();
    int whole = 0, elided = 0;
    for (int width = 300; width <= 1500; width += 7) {
        w.resize(width, 300);
        w.show();
        QCoreApplication::processEvents();
        for (const std::string& text : texts) {
            part->setFullText(QString::fromStdString(text));
            const int room = std::max(0, part->contentsRect().width() - 2 * part->margin());
            const QString expected =
                part->fontMetrics().elidedText(part->fullText(), Qt::ElideMiddle, room);
            ASSERT_EQ(part->shownText(), expected) << text << " in " << room << " px";
            ++(expected == part->fullText() ? whole : elided);
        }
    }
    EXPECT_GT(whole, 20);
    EXPECT_GT(elided, 20);
}

// Layout requests a widget receives.
struct LayoutRequests : QObject {
    int count = 0;
    bool eventFilter(QObject*, QEvent* e) override {
        if (e->type() == QEvent::LayoutRequest) ++count;
        return false;
    }
};

// Texts come with each frame: one of the size of the last is drawn without laying the
// status bar and the window out again, and looks as the part would draw it afresh.
TEST(StatusBar, ATextOfTheSameSizeIsDrawnWithoutALayout) {
    QMainWindow w;
    auto* bar = new StatusBar(&w);
    w.setStatusBar(bar);
    w.resize(700, 300);
    bar->setTexts(texts("Recording: 10 of 100"));
    w.show();
    ASSERT_TRUE(
        test::waitUntil([&] { return w.isVisible() && bar->recordingPart()->width() > 0; }));
    QCoreApplication::processEvents();
    LayoutRequests requests;
    bar->installEventFilter(&requests);
    w.installEventFilter(&requests);
    for (int i = 11; i <= 13; ++i) {
        ASSERT_TRUE(test::waitUntil([&] { return !bar->pending(); }));
        bar->setTexts(texts("Recording: " + std::to_string(i) + " of 100"));
        ASSERT_TRUE(test::waitUntil([&] { return !bar->pending(); }));
        QCoreApplication::processEvents();
    }
    StatusPart* part = bar->recordingPart();
    EXPECT_EQ(part->shownText(), "Recording: 13 of 100");
    EXPECT_EQ(part->accessibleName(), "Recording: 13 of 100");
    EXPECT_EQ(requests.count, 0) << "digits of one width: nothing to lay out";

    const QImage drawn = part->grab().toImage();
    part->setText(part->shownText()); // the label's own drawing of the same text
    EXPECT_EQ(drawn, part->grab().toImage()) << "drawn as the label draws it";

    bar->setTexts(texts("Waiting for the interval: 9 s left"));
    ASSERT_TRUE(test::waitUntil([&] { return !bar->pending(); }));
    ASSERT_TRUE(test::waitUntil([&] { return requests.count > 0; }))
        << "a text of another size lays the bar out";
}

} // namespace
} // namespace rd780
