#include "status/StatusFeed.h"

namespace rd780 {

StatusFeed::StatusFeed(StatusBar* bar, const RecordingRule& rule, const ReadingTable& table,
                       QObject* parent, bool started)
    : QObject(parent), bar_(bar), rule_(rule), table_(table), started_(started) {
    tick_.setInterval(TickMs);
    connect(&tick_, &QTimer::timeout, this, &StatusFeed::refresh);
    tick_.start();
    refresh();
}

void StatusFeed::start() {
    started_ = true;
    refresh();
}

StatusTexts StatusFeed::texts() {
    return statusTexts(Link.status(LinkMonitor::Clock::now()), tableStatusOf(table_),
                       recordingStatusOf(rule_, table_));
}

void StatusFeed::refresh() {
    // The tick only fills the gaps between refreshes: while frames refresh the texts it
    // never fires, so it never repaints the bar apart from them.
    tick_.start();
    if (bar_ && started_) bar_->setTexts(texts());
}

} // namespace rd780
