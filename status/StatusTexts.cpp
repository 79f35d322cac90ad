#include "status/StatusTexts.h"

#include "record/ReadingTable.h"
#include "record/RecordingRule.h"

#include <cstdio>
#include <filesystem>

namespace rd780 {

void LinkMonitor::connected(LinkStatus::Kind kind, const std::string& device, int baud) {
    status_.kind = kind;
    status_.device = device;
    status_.baud = baud;
    status_.health = LinkStatus::Health::Waiting;
    status_.problem.clear();
    rate_.reset();
}

void LinkMonitor::connectedUsb(const std::string& device) {
    connected(LinkStatus::Kind::Usb, device, 0);
}

void LinkMonitor::connectedSerial(const std::string& device, int baud) {
    connected(LinkStatus::Kind::Serial, device, baud);
}

void LinkMonitor::disconnected() {
    const std::string problem = status_.problem; // a failed connect keeps its reason
    status_ = LinkStatus{};
    status_.problem = problem;
    rate_.reset();
}

void LinkMonitor::frame(Clock::time_point now) {
    rate_.frame(now);
    status_.problem.clear();
}

LinkStatus LinkMonitor::status(Clock::time_point now) {
    LinkStatus s = status_;
    if (s.kind == LinkStatus::Kind::None) return s;
    s.framesPerSecond = rate_.perSecond(now);
    if (!watch_) return s;
    switch (watch_->state()) {
    case LinkWatch::State::CableGone:
        s.health = LinkStatus::Health::Unplugged;
        break;
    case LinkWatch::State::Stalled:
        s.health = LinkStatus::Health::Stalled;
        break;
    case LinkWatch::State::Live:
        s.health = watch_->framesSeen() ? LinkStatus::Health::Live : LinkStatus::Health::Waiting;
        break;
    case LinkWatch::State::Off:
        break;
    }
    return s;
}

TableStatus tableStatusOf(const ReadingTable& table) {
    TableStatus s;
    s.open = table.isOpen();
    if (!s.open) {
        s.notRecording = "no table is open";
        return s;
    }
    s.path = table.absolutePath().string();
    s.rows = table.rowCount();
    s.readOnly = !table.table().writable();
    // The same refusals, in the same order, as appending a row meets them.
    if (s.readOnly)
        s.notRecording = "the file cannot be written";
    else if (table.table().hasPrimaryIndex())
        s.notRecording = "the table has a primary index";
    else if (!table.hasRecordingFields())
        s.notRecording = "the table lacks the reading fields";
    return s;
}

RecordingStatus recordingStatusOf(const RecordingRule& rule, const ReadingTable& table) {
    using State = RecordingStatus::State;
    RecordingStatus s;
    s.recorded = rule.RecordCount;
    s.limit = rule.RecordLimit;
    const auto last = rule.lastOutcome();
    if (!tableStatusOf(table).notRecording.empty())
        s.state = State::NotRecording;
    else if (rule.limitReached())
        s.state = State::LimitReached;
    else if (table.isFull())
        s.state = State::TableFull;
    else if (last == RecordingRule::Outcome::BadInterval)
        s.state = State::BadInterval;
    else if (rule.IntervalOn && rule.SampleCountdown != 0) {
        s.state = State::Waiting;
        s.secondsLeft = rule.SampleCountdown;
    } else if (last == RecordingRule::Outcome::Repeat)
        s.state = State::RepeatFiltered;
    else
        s.state = State::Recording;
    return s;
}

namespace {
std::string count(int64_t n, const char* one, const char* many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
}
} // namespace

std::string linkText(const LinkStatus& s) {
    std::string t;
    switch (s.kind) {
    case LinkStatus::Kind::None:
        t = "No link";
        break;
    case LinkStatus::Kind::Usb:
        t = "USB: " + s.device;
        break;
    case LinkStatus::Kind::Serial:
        t = "Serial: " + s.device + ", " + std::to_string(s.baud) + " baud";
        break;
    }
    if (s.kind != LinkStatus::Kind::None) {
        switch (s.health) {
        case LinkStatus::Health::Waiting:
            t += " - no frames yet";
            break;
        case LinkStatus::Health::Live:
            t += " - live";
            break;
        case LinkStatus::Health::Stalled:
            t += " - stalled";
            break;
        case LinkStatus::Health::Unplugged:
            t += " - unplugged";
            break;
        }
        if (s.health != LinkStatus::Health::Waiting) {
            char fps[32];
            std::snprintf(fps, sizeof fps, ", %.1f frames/s", s.framesPerSecond);
            t += fps;
        }
    }
    if (!s.problem.empty()) t += "; " + s.problem;
    return t;
}

std::string tableText(const TableStatus& s) {
    if (!s.open) return "No table; not recording: " + s.notRecording;
    std::string t = s.path + ", " + count(s.rows, "row", "rows");
    if (s.readOnly) t += ", read only";
    if (!s.notRecording.empty()) t += "; not recording: " + s.notRecording;
    return t;
}

std::string recordingText(const RecordingStatus& s) {
    using State = RecordingStatus::State;
    const bool limitless = s.limit >= RecordLimits[5];
    switch (s.state) {
    case State::Recording:
        if (limitless) return "Recording: " + count(s.recorded, "row", "rows");
        // A gate that lets one row past the limit: name the row to come, not "1001 of 1000".
        if (s.recorded >= s.limit)
            return "Recording: row " + std::to_string(s.recorded + 1) + ", limit " +
                   std::to_string(s.limit);
        return "Recording: " + std::to_string(s.recorded) + " of " + std::to_string(s.limit);
    case State::Waiting:
        if (s.secondsLeft < 0) return "Not recording: the sampling interval is negative";
        return "Waiting for the interval: " + std::to_string(s.secondsLeft) + " s left";
    case State::RepeatFiltered:
        return "Repeat filtered: the same reading is not recorded again";
    case State::LimitReached:
        return "Limit " + std::to_string(s.limit) + " reached with " +
               count(s.recorded, "row", "rows") + ": recording stopped";
    case State::TableFull:
        return "Table full: recording stopped";
    case State::BadInterval:
        return "Not recording: the sampling interval is not a number";
    case State::NotRecording:
        return "Not recording";
    }
    return {};
}

StatusTexts statusTexts(const LinkStatus& link, const TableStatus& table,
                        const RecordingStatus& recording) {
    return {linkText(link), tableText(table), recordingText(recording)};
}

} // namespace rd780
