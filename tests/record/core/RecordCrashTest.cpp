// A recording process killed outright keeps every row it had posted, and its table opens.
#include "record/paradox/ParadoxTable.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <random>

namespace rd780 {
namespace {

TEST(RecordingCrash, KilledRecorderLosesAtMostTheRowInHand) {
    std::mt19937 rng(780);
    std::uniform_int_distribution<int> wait(30, 400);
    for (int round = 0; round < 6; ++round) {
        QTemporaryDir dir;
        const QString table = dir.filePath("Kv400db.DB");
        QProcess recorder;
        recorder.start(RECORD_CRASH_HELPER, {table});
        ASSERT_TRUE(recorder.waitForStarted());
        // Kill only once rows are flowing, at a random moment after that.
        ASSERT_TRUE(recorder.waitForReadyRead(10000));
        QThread::msleep(wait(rng));
        recorder.kill(); // SIGKILL
        recorder.waitForFinished();
        const QList<QByteArray> lines = recorder.readAllStandardOutput().split('\n');
        int lastPosted = 0;
        for (const QByteArray& l : lines)
            if (!l.isEmpty()) lastPosted = l.toInt();
        ASSERT_GT(lastPosted, 0);

        paradox::Table t = paradox::Table::open(table.toStdString(), paradox::OpenMode::ReadWrite);
        const uint32_t rows = t.rowCount();
        EXPECT_GE(rows, uint32_t(lastPosted)) << "round " << round;
        EXPECT_LE(rows, uint32_t(lastPosted) + 1) << "round " << round; // the row in hand
        const int no = t.requireField("No");
        for (uint32_t i = 0; i < rows; i += std::max<uint32_t>(1, rows / 200))
            ASSERT_EQ(std::get<int64_t>(t.readValue(i, no)), int64_t(i) + 1);
        ASSERT_EQ(std::get<int64_t>(t.readValue(rows - 1, no)), int64_t(rows));
    }
}

} // namespace
} // namespace rd780
