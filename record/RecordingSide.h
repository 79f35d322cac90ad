#pragma once
// Everything the window's recording side keeps besides its widgets: the reading table and
// the recording rule (the session's, which records and flushes the rows), the recall clock
// and the grid's model. A QObject so the window owns it as a child and needs no complete
// type to destroy it.
#include "record/ReadingTable.h"
#include "record/ReadingTableModel.h"
#include "record/RecallClock.h"
#include "record/RecordingRule.h"

#include <QObject>
#include <QString>

#include <string>

namespace rd780 {

class RecordingSide : public QObject {
    Q_OBJECT
public:
    RecordingSide(ReadingTable& table, RecordingRule& rule, QObject* parent = nullptr);

    ReadingTable& Table;
    RecordingRule& Rule;
    RecallClock Recall;
    ReadingTableModel* Model = nullptr;

    // Recording errors already shown, so a stream of frames raises each one once.
    std::string LastError;
    bool FullReported = false;
    // Why no table is open, when opening one failed; shown on the grid until one opens.
    QString TableProblem;
};

} // namespace rd780
