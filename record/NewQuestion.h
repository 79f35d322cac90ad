#pragma once
// New empties the open table. Before it does, the user is asked, naming the file and its
// row count, with Cancel the default so that Enter loses nothing.
#include <QMessageBox>
#include <QString>

#include <cstdint>
#include <functional>

class QWidget;

namespace rd780 {

class ReadingTable;
class RecordingRule;

// Answers a question instead of a box (tests, headless runs): gets the text and the
// default button, returns the button pressed.
using QuestionHook =
    std::function<QMessageBox::StandardButton(const QString& text, QMessageBox::StandardButton)>;

QString newRecordingQuestion(const QString& file, int64_t rows);

// True when New may go on: the table holds no rows (or cannot be emptied anyway, which New
// reports itself), or the user chose OK.
bool confirmNewRecording(QWidget* parent, const ReadingTable& table, const QuestionHook& hook);

// Asks, and on OK starts a new recording (empties the table, numbering from 1). True when
// the new recording was started.
bool askAndStartNewRecording(QWidget* parent, RecordingRule& rule, ReadingTable& table,
                             const QuestionHook& hook);

} // namespace rd780
