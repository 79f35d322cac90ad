#include "status/StatusFeed.h"

namespace rd780 {

StatusFeed::StatusFeed(StatusBar* bar, const RecordingRule& rule, const ReadingTable& table,
                       QObject* parent)
    : QObject(parent), bar_(bar), rule_(rule), table_(table) {
    tick_.setInterval(TickMs);
    connect(&tick_, &QTimer::timeout, this, &StatusFeed::refresh);
    tick_.start();
    refresh();
}

StatusTexts StatusFeed::texts() {
    return statusTexts(Link.status(LinkMonitor::Clock::now()), tableStatusOf(table_),
                       recordingStatusOf(rule_, table_));
}

void StatusFeed::refresh() {
    if (bar_) bar_->setTexts(texts());
}

} // namespace rd780
