#pragma once
// Everything the window's recording side keeps besides its widgets: the reading table,
// the recording rule, the recall clock and the grid's model. A QObject so the window owns
// it as a child and needs no complete type to destroy it.
#include "panel/ModuleState.h"
#include "record/ReadingTable.h"
#include "record/ReadingTableModel.h"
#include "record/RecallClock.h"
#include "record/RecordingRule.h"

#include <QObject>
#include <QString>
#include <QTimer>

#include <functional>
#include <string>

namespace rd780 {

class RecordingSide : public QObject {
    Q_OBJECT
public:
    RecordingSide(RecordState& state, QObject* parent = nullptr);
    ~RecordingSide() override;

    ReadingTable Table;
    RecordingRule Rule;
    RecallClock Recall;
    ReadingTableModel* Model = nullptr;

    // Recording errors already shown, so a stream of frames raises each one once.
    std::string LastError;
    bool FullReported = false;
    // Why no table is open, when opening one failed; shown on the grid until one opens.
    QString TableProblem;

    // Called on the GUI thread when pending rows could not be made durable.
    std::function<void(const std::string&)> OnFlushError;

    static constexpr int FlushIntervalMs = 200;

private:
    void flushPending();
    QTimer flushTimer_;
    std::string lastFlushError_;
};

} // namespace rd780
