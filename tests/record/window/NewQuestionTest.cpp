// New asks before it empties a table: the question names the file and its rows, Cancel
// is the default, and Cancel leaves the file exactly as it was.
#include "record/NewQuestion.h"
#include "record/ReadingTable.h"
#include "record/RecordingRule.h"
#include "tests/TestSupport.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

namespace rd780 {
namespace {

std::string bytesOf(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

struct NewFixture : ::testing::Test {
    QTemporaryDir dir;
    std::filesystem::path file;
    int recordNo = 1;
    int recordLimit = 10000;
    RecordingRule rule{recordNo, recordLimit};
    ReadingTable table;
    QStringList asked;

    void SetUp() override {
        file = std::filesystem::path(dir.path().toStdString()) / "Kv400db.DB";
        table.openOrCreate(file);
    }
    void record(int rows) {
        for (int i = 0; i < rows; ++i)
            ASSERT_EQ(rule.offer(Reading{std::to_string(i), 1.0, "V", "DC", ""}, 0, table),
                      RecordingRule::Outcome::Recorded);
        table.flush();
    }
    QuestionHook answer(QMessageBox::StandardButton button) {
        return [this, button](const QString& text, QMessageBox::StandardButton def) {
            asked << text;
            EXPECT_EQ(def, QMessageBox::Cancel) << "Cancel is the default";
            return button;
        };
    }
};

TEST_F(NewFixture, CancelLeavesTheFileByteForByte) {
    record(3);
    const std::string before = bytesOf(file);
    ASSERT_FALSE(before.empty());

    EXPECT_FALSE(askAndStartNewRecording(nullptr, rule, table, answer(QMessageBox::Cancel)));
    ASSERT_EQ(asked.size(), 1);
    EXPECT_TRUE(asked[0].contains(QString::fromStdString(file.string()) + ", 3 rows"))
        << asked[0].toStdString();
    table.flush();
    EXPECT_EQ(bytesOf(file), before);
    EXPECT_EQ(table.rowCount(), 3);
    EXPECT_EQ(recordNo, 4) << "numbering goes on where it was";
    EXPECT_EQ(rule.RecordCount, 3);
}

TEST_F(NewFixture, OkEmptiesAndRestartsTheNumbering) {
    record(2);
    EXPECT_TRUE(askAndStartNewRecording(nullptr, rule, table, answer(QMessageBox::Ok)));
    ASSERT_EQ(asked.size(), 1);
    EXPECT_TRUE(asked[0].contains(", 2 rows"));
    EXPECT_EQ(table.rowCount(), 0);
    EXPECT_EQ(recordNo, 1);
    EXPECT_EQ(rule.RecordCount, 0);
    // The emptied table is on disk: a fresh open sees no rows.
    table.close();
    ReadingTable again;
    again.open(file);
    EXPECT_EQ(again.rowCount(), 0);
}

TEST_F(NewFixture, AnEmptyTableIsNotAskedAbout) {
    EXPECT_TRUE(askAndStartNewRecording(nullptr, rule, table, answer(QMessageBox::Cancel)));
    EXPECT_TRUE(asked.isEmpty());
    EXPECT_EQ(recordNo, 1);
}

TEST(NewQuestionText, OneRowAndManyRows) {
    EXPECT_EQ(newRecordingQuestion("/a/b.DB", 1),
              "Empty /a/b.DB, 1 row?\nThe rows cannot be brought back.");
    EXPECT_TRUE(newRecordingQuestion("/a/b.DB", 12345).startsWith("Empty /a/b.DB, 12345 rows?"));
}

TEST_F(NewFixture, TheRealBoxHasCancelAsDefaultSoEnterLosesNothing) {
    record(4);
    const std::string before = bytesOf(file);
    QString shownText;
    bool cancelWasDefault = false;
    bool seen = false;
    QTimer::singleShot(0, [&] {
        // The box runs its own loop; find it there and press Enter.
        seen = test::waitUntil([] {
            return qobject_cast<QMessageBox*>(QApplication::activeModalWidget()) != nullptr;
        });
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box) return;
        shownText = box->text();
        cancelWasDefault = box->defaultButton() == box->button(QMessageBox::Cancel);
        QTest::keyClick(box, Qt::Key_Return);
        if (box->isVisible()) box->reject(); // never leave the test hanging
    });
    const bool started = askAndStartNewRecording(nullptr, rule, table, {});
    ASSERT_TRUE(seen) << "no question box appeared";
    EXPECT_FALSE(started);
    EXPECT_TRUE(cancelWasDefault);
    EXPECT_TRUE(shownText.contains(", 4 rows")) << shownText.toStdString();
    table.flush();
    EXPECT_EQ(bytesOf(file), before);
}

} // namespace
} // namespace rd780
