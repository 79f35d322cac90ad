#include "record/NewQuestion.h"

#include "record/ReadingTable.h"
#include "record/RecordingRule.h"

#include <QApplication>

#include <filesystem>

namespace rd780 {

QString newRecordingQuestion(const QString& file, int64_t rows) {
    return QStringLiteral("Empty %1, %2 %3?\nThe rows cannot be brought back.")
        .arg(file)
        .arg(rows)
        .arg(rows == 1 ? QStringLiteral("row") : QStringLiteral("rows"));
}

bool confirmNewRecording(QWidget* parent, const ReadingTable& table, const QuestionHook& hook) {
    if (!table.isOpen() || table.rowCount() == 0 || !table.table().writable()) return true;
    const QString text = newRecordingQuestion(QString::fromStdString(table.absolutePath().string()),
                                              table.rowCount());
    const QMessageBox::StandardButton def = QMessageBox::Cancel;
    if (hook) return hook(text, def) == QMessageBox::Ok;
    QMessageBox box(QMessageBox::Question, QApplication::applicationName(), text,
                    QMessageBox::Ok | QMessageBox::Cancel, parent);
    box.setObjectName("NewQuestion");
    box.setDefaultButton(def);
    box.setEscapeButton(QMessageBox::Cancel);
    return box.exec() == QMessageBox::Ok;
}

bool askAndStartNewRecording(QWidget* parent, RecordingRule& rule, ReadingTable& table,
                             const QuestionHook& hook) {
    if (!confirmNewRecording(parent, table, hook)) return false;
    rule.newRecording(table);
    return true;
}

} // namespace rd780
