// The recording side driven through a whole main window in a scratch working folder.
#include "meter/MeterPanel.h"
#include "record/ReadingTable.h"
#include "record/RecordingPanel.h"
#include "record/RecordingSide.h"
#include "tests/TestSupport.h"
#include "tests/app/WindowFixture.h"

#include <QAction>
#include <QCheckBox>
#include <QFile>
#include <QLineEdit>
#include <QPrintPreviewDialog>
#include <QPrintPreviewWidget>
#include <QProgressDialog>
#include <QPushButton>
#include <QTableView>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include <gtest/gtest.h>

namespace rd780 {
namespace {

const char* const TestFrame =
    "5A0003050559800101010006001000000B000400002030302E363620562000322E3031336B487A002E";

struct RecordingWindow : ::testing::Test {
    test::WindowFixture f;
    TFCOMM& w = *f.w;
    void decode(int times = 1) {
        for (int i = 0; i < times; ++i) {
            w.S.FrameHex = TestFrame;
            w.Meter->LcdDisplay520();
        }
    }
    QString cell(int row, int column) {
        auto* m = w.Recording->DBGrid1->model();
        return m->data(m->index(row, column), Qt::DisplayRole).toString();
    }
    int gridRows() { return w.Recording->DBGrid1->model()->rowCount(); }
    QString path(const char* name) { return f.dir.filePath(name); }
};

TEST_F(RecordingWindow, DecodedFramesBecomeRowsOnDiskAndInTheGrid) {
    ASSERT_TRUE(QFile::exists(path("Kv400db.DB")));
    EXPECT_TRUE(f.messages.isEmpty()) << f.messages.join("|").toStdString();
    decode(2);
    ASSERT_EQ(gridRows(), 2);
    EXPECT_EQ(cell(1, 0), "2");
    EXPECT_EQ(cell(1, 2), "DC");
    EXPECT_EQ(cell(1, 3), "00.66");
    EXPECT_EQ(cell(1, 4), " V");
    EXPECT_EQ(w.Recording->DBGrid1->currentIndex().row(), 1); // the grid follows the new row
    auto* m = w.Recording->DBGrid1->model();
    EXPECT_EQ(m->headerData(1, Qt::Vertical, Qt::DisplayRole).toString(), QStringLiteral("▶"));
    EXPECT_EQ(m->headerData(0, Qt::Vertical, Qt::DisplayRole).toString(), QString());
    EXPECT_EQ(w.Session->rule().RecordNo, 3);
    paradox::Table disk =
        paradox::Table::open(path("Kv400db.DB").toStdString(), paradox::OpenMode::ReadOnly);
    EXPECT_EQ(disk.rowCount(), 2u);
    EXPECT_EQ(w.Recording->DBGrid1->columnWidth(0), 53);
    EXPECT_EQ(w.Recording->DBGrid1->columnWidth(4), 35);
}

TEST_F(RecordingWindow, LimitItemsCarryOneCheckMark) {
    EXPECT_TRUE(w.N100001->isChecked());
    w.N10001->trigger();
    EXPECT_EQ(w.Session->rule().RecordLimit, 1000);
    EXPECT_TRUE(w.N10001->isChecked());
    EXPECT_FALSE(w.N100001->isChecked());
    w.N10001->trigger(); // choosing the checked item again keeps its mark
    EXPECT_TRUE(w.N10001->isChecked());
    w.limitess->trigger();
    EXPECT_EQ(w.Session->rule().RecordLimit, 10'000'000);
    for (QAction* a : {w.N10001, w.N50001, w.N100001, w.N500001, w.N1000001})
        EXPECT_FALSE(a->isChecked());
}

TEST_F(RecordingWindow, LimitLetsOneRowPastIt) {
    w.N10001->trigger();
    w.Recording->Rec->Rule.RecordCount = 998;
    decode(4);
    EXPECT_EQ(gridRows(), 3); // rows 999, 1000 and 1001
    EXPECT_EQ(w.Recording->Rec->Rule.RecordCount, 1001);
    EXPECT_TRUE(f.messages.isEmpty()); // no message at the limit
}

TEST_F(RecordingWindow, NewEmptiesTheTableAndRestartsNumbering) {
    decode(3);
    w.New1->trigger();
    EXPECT_EQ(f.messages.value(0), " Record deleted ");
    EXPECT_EQ(gridRows(), 0);
    EXPECT_EQ(w.Session->rule().RecordNo, 1);
    decode();
    EXPECT_EQ(cell(0, 0), "1");
}

TEST_F(RecordingWindow, RecallStampsStepTheClock) {
    w.Recording->RecallCheck->click();
    EXPECT_EQ(w.Recording->TimeH->text(), "00");
    EXPECT_EQ(w.Recording->TimeS->text(), "00");
    decode(); // ReadingText etc. for the step's rows
    for (int i = 0; i < 3; ++i)
        w.Recording->RecallDataTest->click();
    ASSERT_EQ(gridRows(), 4);
    EXPECT_EQ(cell(1, 1), "00:00:01");
    EXPECT_EQ(cell(2, 1), "00:00:02");
    EXPECT_EQ(cell(3, 1), "00:00:03");
    EXPECT_EQ(cell(3, 0), "4");
    EXPECT_EQ(w.Recording->Rec->Rule.RecordCount, 1); // the step is outside the limit
    decode();                                         // recorded rows now carry the recall stamp
    EXPECT_EQ(cell(4, 1), "00:00:03");
    w.Recording->RecallCheck->click();
    EXPECT_EQ(w.Recording->TimeH->text(), "23");
    EXPECT_EQ(w.Recording->Rec->Recall.Hour, 23);
    EXPECT_TRUE(f.messages.isEmpty()) << f.messages.join("|").toStdString();
}

TEST_F(RecordingWindow, TimeEditsAboveTheirBoundAreRejected) {
    w.Recording->TimeH->setText("24");
    w.Recording->TimeM->setText("5");
    w.Recording->TimeS->setText("7");
    QTest::keyRelease(w.Recording->TimeS, Qt::Key_7);
    EXPECT_EQ(f.messages, QStringList{"Input error!"});
    EXPECT_EQ(w.Recording->TimeH->text(), "00");
    EXPECT_EQ(w.Recording->Rec->Recall.Hour, 0);
    EXPECT_EQ(w.Recording->Rec->Recall.Minute, 5);
    EXPECT_EQ(w.Recording->Rec->Recall.Second, 7);
}

TEST_F(RecordingWindow, IntervalEditTakesDigitsAndRestartsTheCountdown) {
    w.Recording->RecordSITime->setFocus();
    w.Recording->RecordSITime->selectAll();
    QTest::keyClicks(w.Recording->RecordSITime, "a3");
    EXPECT_EQ(w.Recording->RecordSITime->text(), "3");
    EXPECT_EQ(w.Recording->Rec->Rule.SampleCountdown, 3);
    w.Recording->RecordSI->setChecked(true);
    w.Session->tickRecording();
    EXPECT_EQ(w.Recording->Rec->Rule.SampleCountdown, 2);
    w.Recording->TimeM->setText("58"); // any of the shared edits reloads from the interval text
    EXPECT_EQ(w.Recording->Rec->Rule.SampleCountdown, 3);
    decode();
    EXPECT_EQ(gridRows(), 0);
}

TEST_F(RecordingWindow, WrongIntervalTextIsShownOnceNotPerFrame) {
    w.Recording->RecordSITime->setText("1x"); // pasted
    decode(5);
    EXPECT_EQ(gridRows(), 0);
    EXPECT_EQ(f.messages.size(), 2); // the edit's change, then the first frame
    EXPECT_EQ(f.messages.value(1), "'1x' is not a valid integer value");
    w.Recording->RecordSITime->setText("0");
    decode();
    EXPECT_EQ(gridRows(), 1);
}

TEST_F(RecordingWindow, SaveChoosesTheTypeByExtensionOrElseByFilter) {
    decode(2);
    QString target;
    w.Recording->SaveDialogHook = [&] { return target; };
    target = path("a.txt");
    w.Save1->trigger();
    EXPECT_EQ(f.messages.value(0), "save table to specified file: " + target + " Scuss!");
    QFile text(target);
    ASSERT_TRUE(text.open(QIODevice::ReadOnly));
    EXPECT_TRUE(text.readAll().startsWith("No\tTime\tDC/AC\tValue\tUnit\tAUTO\r\n1\t"));

    f.messages.clear();
    target = path("b.DB");
    w.Recording->saveas->click();
    EXPECT_EQ(f.messages, QStringList{"save table to specified file: " + target + " Scuss!"});
    paradox::Table copy = paradox::Table::open(target.toStdString(), paradox::OpenMode::ReadOnly);
    EXPECT_EQ(copy.rowCount(), 2u);

    // A name without an extension takes the chosen filter's; one with an extension keeps it.
    const struct {
        const char *name, *filter, *written, *starts;
    } choices[] = {{"c", "CSV (*.csv)", "c.csv", "Timestamp,No,Value,Unit,"},
                   {"d.txt", "CSV (*.csv)", "d.txt", "No\tTime\t"},
                   {"e", "Excel File(*.xls)", "e.xls", "No\tTime\t"},
                   {"g", "DB File(*.db)", "g.db", nullptr}};
    for (const auto& c : choices) {
        f.messages.clear();
        w.Recording->SaveDialogHook = [&] { return SaveChoice{path(c.name), c.filter}; };
        w.Recording->saveas->click();
        EXPECT_EQ(f.messages,
                  QStringList{"save table to specified file: " + path(c.written) + " Scuss!"});
        EXPECT_FALSE(QFile::exists(path(c.name)) && QString(c.name) != c.written) << c.name;
        if (!c.starts) {
            EXPECT_EQ(
                paradox::Table::open(path(c.written).toStdString(), paradox::OpenMode::ReadOnly)
                    .rowCount(),
                2u);
            continue;
        }
        QFile file(path(c.written));
        ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << c.written;
        EXPECT_TRUE(file.readAll().startsWith(c.starts)) << c.written;
    }
    // A table that cannot be written says so like the other types.
    f.messages.clear();
    w.Recording->SaveDialogHook = [&] { return path("no-such-folder/h.db"); };
    w.Recording->saveas->click();
    ASSERT_EQ(f.messages.size(), 1);
    EXPECT_TRUE(f.messages[0].startsWith("Could not save table to specified file: " +
                                         path("no-such-folder/h.db")))
        << f.messages[0].toStdString();
    w.Recording->SaveDialogHook = [&] { return target; };
    f.messages.clear();

    target = "/dev/full";
    w.Recording->saveas->click();
    EXPECT_EQ(f.messages, QStringList{"Could not save table to specified file: /dev/full"});

    f.messages.clear();
    target.clear(); // cancel
    w.Recording->saveas->click();
    EXPECT_TRUE(f.messages.isEmpty());
}

TEST_F(RecordingWindow, OpenSwitchesTheTableAndRecordingFollows) {
    decode(2);
    {
        ReadingTable other;
        other.openOrCreate(path("Older.DB").toStdString());
        ReadingRow r;
        r.No = 77;
        r.Value = "9.999";
        other.appendReading(r);
    }
    w.Recording->OpenDialogHook = [&] { return path("Older.DB"); };
    w.Recording->OpenDataFiles->click();
    EXPECT_TRUE(f.messages.isEmpty()) << f.messages.join("|").toStdString();
    ASSERT_EQ(gridRows(), 1);
    EXPECT_EQ(cell(0, 3), "9.999");
    decode();
    ASSERT_EQ(gridRows(), 2);
    EXPECT_EQ(cell(1, 0), "3");

    w.Recording->OpenDialogHook = [&] { return path("older.db"); }; // names are case-sensitive
    w.Recording->OpenDataFiles->click();
    EXPECT_EQ(f.messages.size(), 1);
    decode(); // the table we had is still the one recording
    EXPECT_EQ(gridRows(), 3);
}

TEST_F(RecordingWindow, SecondWindowInTheSameFolderIsRefusedTheTable) {
    QStringList second;
    ProgramOptions o;
    o.messageHook = [&](const QString& m) { second << m; };
    TFCOMM other(o);
    // (The second window is refused other single resources too; only the table matters here.)
    EXPECT_EQ(second.filter("Kv400db.DB").size(), 1) << second.join("|").toStdString();
    other.S.FrameHex = TestFrame;
    other.Meter->LcdDisplay520();
    EXPECT_EQ(gridRows(), 0); // nothing reached our table through the other window
}

TEST_F(RecordingWindow, ChartBitmapIsWrittenThenAnnounced) {
    w.findChild<QToolButton*>("BtSave")->click();
    const QString file = QDir::current().absoluteFilePath("databmp.bmp");
    EXPECT_EQ(f.messages, QStringList{"graphic has saved on " + file});
    QFile bmp(file);
    ASSERT_TRUE(bmp.open(QIODevice::ReadOnly));
    EXPECT_EQ(bmp.read(2), "BM");
}

TEST_F(RecordingWindow, ChartSaveButtonReportsAFailedWrite) {
    ASSERT_TRUE(QDir(f.dir.path()).mkdir("databmp.bmp")); // a folder where the file should go
    auto* button = w.findChild<QToolButton*>("BtSave");
    ASSERT_NE(button, nullptr);
    button->click();
    ASSERT_EQ(f.messages.size(), 1);
    EXPECT_FALSE(f.messages[0].startsWith("graphic has saved")) << f.messages[0].toStdString();
    EXPECT_TRUE(f.messages[0].contains("databmp.bmp"));
}

TEST_F(RecordingWindow, KeyedTableIsShownAndCopiedButNotAppendedTo) {
    const QString fixtures = test::fixtureDir();
    ASSERT_TRUE(QFile::copy(fixtures + "/long.db", path("long.db")));
    ASSERT_TRUE(QFile::copy(fixtures + "/long.px", path("long.px")));
    w.Recording->OpenDialogHook = [&] { return path("long.db"); };
    w.Recording->OpenDataFiles->click();
    ASSERT_TRUE(f.messages.isEmpty()) << f.messages.join("|").toStdString();
    ASSERT_EQ(gridRows(), 3);
    auto* m = w.Recording->DBGrid1->model();
    ASSERT_EQ(m->columnCount(), 2); // the table's own fields
    EXPECT_EQ(m->headerData(1, Qt::Horizontal, Qt::DisplayRole).toString(), "LONG");
    const QByteArray before = [&] {
        QFile file(path("long.db"));
        file.open(QIODevice::ReadOnly);
        return file.readAll();
    }();

    decode(3);
    ASSERT_EQ(f.messages.size(), 1); // said once, not once per frame
    EXPECT_TRUE(f.messages[0].contains("primary index")) << f.messages[0].toStdString();
    EXPECT_EQ(gridRows(), 3);
    QFile after(path("long.db"));
    ASSERT_TRUE(after.open(QIODevice::ReadOnly));
    EXPECT_EQ(after.readAll(), before);

    f.messages.clear();
    w.Recording->SaveDialogHook = [&] { return path("copy.db"); };
    w.Recording->saveas->click();
    EXPECT_EQ(f.messages,
              QStringList{"save table to specified file: " + path("copy.db") + " Scuss!"});
    paradox::Table copy =
        paradox::Table::open(path("copy.db").toStdString(), paradox::OpenMode::ReadOnly);
    EXPECT_EQ(copy.rowCount(), 3u);
    EXPECT_FALSE(copy.hasPrimaryIndex());
}

TEST_F(RecordingWindow, PrintOpensThePreviewOfTheReport) {
    struct {
        const char *text, *unit, *coupling, *autoFlag;
        float value;
    } readings[] = {{"00.66", " V", "DC", "", 66},
                    {"1.234", "k*", "", "AUTO", 1234},
                    {"-0.015", "mA", "AC", "AUTO", -15},
                    {"50.00", "kHz", "", "", 5000}};
    for (int i = 0; i < 40; ++i) {
        const auto& r = readings[i % 4];
        w.Session->record({r.text, r.value, r.unit, r.coupling, r.autoFlag});
    }
    ASSERT_EQ(gridRows(), 40);
    EXPECT_EQ(cell(1, 4), QStringLiteral("kΩ"));
    bool shown = false;
    int pages = -1;
    w.Recording->PreviewHook = [&](QWidget* preview) {
        shown = qobject_cast<QPrintPreviewDialog*>(preview) != nullptr;
        preview->resize(800, 1000);
        preview->show();
        QCoreApplication::processEvents();
        if (auto* pages_ = preview->findChild<QPrintPreviewWidget*>()) pages = pages_->pageCount();
        const QByteArray dir = qgetenv("RD780_SCREENSHOT_DIR");
        if (!dir.isEmpty())
            preview->grab().save(QString::fromLocal8Bit(dir) + "/report-preview.png");
        preview->close();
    };
    w.Recording->BtPrint->click();
    EXPECT_TRUE(shown);
    EXPECT_EQ(pages, 2); // 37 rows a page
    EXPECT_TRUE(f.messages.isEmpty()) << f.messages.join("|").toStdString();
}

TEST_F(RecordingWindow, LongReportShowsProgressAndCanBeStopped) {
    ReadingRow r;
    r.Value = "1.000";
    for (int i = 1; i <= 37 * 150; ++i) {
        r.No = i;
        w.Recording->Rec->Table.appendReading(r);
    }
    int pages = -1;
    w.Recording->PreviewHook = [&](QWidget* preview) {
        // Stop the layout from inside its own progress dialog, as the user would.
        QTimer::singleShot(0, preview, [preview] {
            if (auto* bar = preview->findChild<QProgressDialog*>()) bar->cancel();
        });
        preview->show();
        QCoreApplication::processEvents();
        if (auto* widget = preview->findChild<QPrintPreviewWidget*>()) pages = widget->pageCount();
        preview->close();
    };
    w.Recording->BtPrint->click();
    EXPECT_GT(pages, 0);
    EXPECT_LT(pages, 150);
    EXPECT_TRUE(f.messages.isEmpty()) << f.messages.join("|").toStdString();
}

} // namespace
} // namespace rd780
