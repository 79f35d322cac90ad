#include "record/RecordingSide.h"

namespace rd780 {

RecordingSide::RecordingSide(RecordState& state, QObject* parent)
    : QObject(parent), Rule(state.RecordNo, state.RecordLimit) {
    // The window's gate is the original one: the limit 1000 lets a 1001st row in.
    Rule.Gate = RecordingRule::LimitGate::StopPastLimit;
    Model = new ReadingTableModel(Table, this);
    // Rows appended between two forced syncs are made durable here, at most a fifth of a
    // second after they were written.
    flushTimer_.setInterval(FlushIntervalMs);
    connect(&flushTimer_, &QTimer::timeout, this, &RecordingSide::flushPending);
    flushTimer_.start();
}

RecordingSide::~RecordingSide() {
    try {
        Table.close();
    } catch (const std::exception&) {
        // Nothing is left to tell at this point; every posted row was already written.
    }
}

void RecordingSide::flushPending() {
    try {
        Table.flush();
        lastFlushError_.clear();
    } catch (const std::exception& e) {
        if (e.what() == lastFlushError_) return;
        lastFlushError_ = e.what();
        if (OnFlushError) OnFlushError(lastFlushError_);
    }
}

} // namespace rd780
