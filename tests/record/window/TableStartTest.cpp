// What the window does at start with whatever its folder holds under the reading table's
// name: an empty file, a symbolic link, a FIFO, a file that is no table.
#include "app/TFCOMM.h"
#include "meter/MeterPanel.h"
#include "record/ReadingTable.h"
#include "record/RecordingPanel.h"
#include "record/RecordingSide.h"
#include "record/paradox/ParadoxTable.h"
#include "session/MeterSession.h"
#include "view/HistoryList.h"

#include <QDir>
#include <QFile>
#include <QLabel>
#include <QListWidget>
#include <QTableView>
#include <QTemporaryDir>
#include <QToolButton>

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <fcntl.h>
#include <filesystem>
#include <memory>
#include <mutex>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace rd780 {
namespace {

const char* const TestFrame =
    "5A0003050559800101010006001000000B000400002030302E363620562000322E3031336B487A002E";

struct TableAtStart : ::testing::Test {
    QTemporaryDir dir;
    QString oldCwd = QDir::currentPath();
    QStringList messages;
    std::unique_ptr<TFCOMM> w;

    std::string path(const char* name) const { return dir.filePath(name).toStdString(); }
    std::string table() const { return path("Kv400db.DB"); }
    void start() {
        QDir::setCurrent(dir.path());
        ProgramOptions o;
        o.messageHook = [this](const QString& m) { messages << m; };
        w = std::make_unique<TFCOMM>(o);
    }
    void TearDown() override {
        w.reset();
        QDir::setCurrent(oldCwd);
    }
    void decode() {
        w->S.FrameHex = TestFrame;
        w->Meter->LcdDisplay520();
    }
    int gridRows() const { return w->Recording->DBGrid1->model()->rowCount(); }
    bool historyHas(const QString& text) const {
        for (int i = 0; i < w->HistoryListBox->count(); ++i)
            if (w->HistoryListBox->text(i).contains(text)) return true;
        return false;
    }
    // The rest of the start ran although the table did not open.
    void expectStartCompleted() const {
        EXPECT_EQ(w->Session->rule().RecordLimit, 10000);
        EXPECT_EQ(w->Session->rule().RecordNo, 1);
        EXPECT_EQ(w->S.ScaleZeroOffset, 400);
    }
};

TEST_F(TableAtStart, AZeroLengthTableIsReplacedAndRecords) {
    { QFile(QString::fromStdString(table())).open(QIODevice::WriteOnly); }
    ASSERT_EQ(std::filesystem::file_size(table()), 0u);
    start();
    EXPECT_TRUE(messages.isEmpty()) << messages.join("|").toStdString();
    EXPECT_TRUE(historyHas("was empty")) << "the replacement is said";
    EXPECT_TRUE(w->Recording->TableNote->isHidden());
    decode();
    decode();
    EXPECT_EQ(gridRows(), 2);
    w.reset();
    EXPECT_EQ(paradox::Table::open(table(), paradox::OpenMode::ReadOnly).rowCount(), 2u);
}

TEST_F(TableAtStart, ADanglingLinkIsRefusedAndTheGridSaysNothingIsRecorded) {
    std::filesystem::create_symlink(path("target.db"), table());
    start();
    EXPECT_FALSE(std::filesystem::exists(path("target.db"))) << "nothing where the link points";
    ASSERT_EQ(messages.size(), 1);
    EXPECT_TRUE(messages[0].contains("symbolic link")) << messages[0].toStdString();
    expectStartCompleted();
    ASSERT_FALSE(w->Recording->TableNote->isHidden());
    EXPECT_TRUE(w->Recording->TableNote->text().contains("not being recorded"));
    EXPECT_TRUE(w->Recording->TableNote->text().contains("symbolic link"));
    EXPECT_TRUE(historyHas("not being recorded"));

    // Live readings go on; recording waits, with no box per frame.
    decode();
    decode();
    EXPECT_EQ(w->S.ReadingText, "00.66");
    EXPECT_EQ(gridRows(), 0);
    EXPECT_EQ(messages.size(), 1) << messages.join("|").toStdString();
    EXPECT_FALSE(w->Recording->TableNote->isHidden()) << "still said after the frames";

    // Once a table is opened, the note goes and recording starts.
    {
        ReadingTable other;
        other.openOrCreate(path("other.db"));
    }
    w->Recording->OpenDialogHook = [&] { return QString::fromStdString(path("other.db")); };
    w->Recording->OpenDataFiles->click();
    EXPECT_TRUE(w->Recording->TableNote->isHidden());
    decode();
    EXPECT_EQ(gridRows(), 1);
    EXPECT_EQ(w->Session->rule().RecordNo, 2);
}

TEST_F(TableAtStart, AFifoIsRefusedAtOnce) {
    ASSERT_EQ(::mkfifo(table().c_str(), 0600), 0);
    // Watchdog: should the start block in open(), the far end is opened after a while so
    // that the test fails instead of hanging.
    std::mutex m;
    std::condition_variable cv;
    bool started = false;
    std::thread watchdog([&] {
        std::unique_lock lock(m);
        if (cv.wait_for(lock, std::chrono::seconds(10), [&] { return started; })) return;
        const int fd = ::open(table().c_str(), O_WRONLY);
        if (fd >= 0) ::close(fd);
    });
    const auto t0 = std::chrono::steady_clock::now();
    start();
    const auto took = std::chrono::steady_clock::now() - t0;
    {
        std::lock_guard lock(m);
        started = true;
    }
    cv.notify_all();
    watchdog.join();
    EXPECT_LT(took, std::chrono::seconds(5));
    ASSERT_EQ(messages.size(), 1);
    EXPECT_TRUE(messages[0].contains("not a regular file")) << messages[0].toStdString();
    EXPECT_FALSE(w->Recording->TableNote->isHidden());
    expectStartCompleted();
}

TEST_F(TableAtStart, AFileThatIsNoTableIsLeftAloneAndRefused) {
    const std::string junk = "not a table, but somebody's notes\n";
    {
        QFile f(QString::fromStdString(table()));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(junk.data(), static_cast<qint64>(junk.size()));
    }
    start();
    ASSERT_EQ(messages.size(), 1);
    EXPECT_FALSE(w->Recording->TableNote->isHidden());
    expectStartCompleted();
    decode();
    EXPECT_EQ(gridRows(), 0);
    QFile f(QString::fromStdString(table()));
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll().toStdString(), junk);
}

} // namespace
} // namespace rd780
