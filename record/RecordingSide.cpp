#include "record/RecordingSide.h"

namespace rd780 {

RecordingSide::RecordingSide(ReadingTable& table, RecordingRule& rule, QObject* parent)
    : QObject(parent), Table(table), Rule(rule) {
    Model = new ReadingTableModel(Table, this);
}

} // namespace rd780
