#pragma once
// Keeps a status bar current: the window reports link events to Link and calls refresh()
// after a frame or a table operation; a one-second tick keeps the seconds left, a stalled
// link and the frame rate current between frames.
#include "status/StatusBar.h"
#include "status/StatusTexts.h"

#include <QObject>
#include <QTimer>

namespace rd780 {

class ReadingTable;
class RecordingRule;

class StatusFeed : public QObject {
    Q_OBJECT
public:
    // Not started, the feed shows nothing until start(): its owner is still setting up the
    // state the texts describe, and a text shown meanwhile would be false.
    StatusFeed(StatusBar* bar, const RecordingRule& rule, const ReadingTable& table,
               QObject* parent = nullptr, bool started = true);

    LinkMonitor Link;

    // Texts of the state as it is now (moves the frame rate's window on to now).
    StatusTexts texts();
    // Hands the texts to the bar (which shows them when the quiet interval allows).
    void refresh();
    void start();

    static constexpr int TickMs = 1000;

private:
    StatusBar* bar_;
    const RecordingRule& rule_;
    const ReadingTable& table_;
    QTimer tick_;
    bool started_ = true;
};

} // namespace rd780
