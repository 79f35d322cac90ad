#include "record/RecordingRule.h"

#include "base/Guard.h"

#include <cctype>
#include <limits>

namespace rd780 {

int32_t parseDecimal(const std::string& text) {
    auto fail = [&]() -> int32_t { throw AppError("'" + text + "' is not a valid integer value"); };
    size_t i = 0;
    bool neg = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) neg = text[i++] == '-';
    if (i == text.size()) return fail();
    int64_t v = 0;
    for (; i < text.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        if (!std::isdigit(c)) return fail();
        v = v * 10 + (c - '0');
        if (v > int64_t(std::numeric_limits<int32_t>::max()) + 1) return fail();
    }
    if (neg) v = -v;
    if (v > std::numeric_limits<int32_t>::max() || v < std::numeric_limits<int32_t>::min())
        return fail();
    return static_cast<int32_t>(v);
}

int32_t parseCountText(const std::string& text) {
    if (text.empty() || text == "-" || text == "+") return 0;
    return parseDecimal(text);
}

void RecordingRule::reloadCountdown() {
    SampleCountdown = parseCountText(IntervalText);
}

RecordingRule::Outcome RecordingRule::offer(const Reading& r, int32_t stampMs, ReadingSink& sink) {
    // The count is compared before it is raised.
    if (limitReached()) return note(Outcome::LimitReached);
    // A full table stops recording like the limit does; the window says so once.
    if (sink.isFull()) return note(Outcome::TableFull);
    if (IntervalOn && SampleCountdown != 0) return note(Outcome::Waiting);
    std::string t = r.Text + r.Coupling + r.Unit + r.Auto;
    if (RepeatOn && t == LastRecordedText) {
        ++RecordNo; // a dropped repeat uses up its number
        return note(Outcome::Repeat);
    }
    LastRecordedText = t;
    try {
        reloadCountdown();
        reportedBadText_.reset();
    } catch (const AppError&) {
        // Frames keep coming while the text is wrong: say so once per text, record nothing.
        if (reportedBadText_ == IntervalText) return note(Outcome::BadInterval);
        reportedBadText_ = IntervalText;
        note(Outcome::BadInterval);
        throw;
    }
    ReadingRow row;
    row.No = RecordNo;
    row.TimeMs = stampMs;
    row.Coupling = r.Coupling;
    row.Value = r.Text;
    row.Unit = r.Unit;
    row.Auto = r.Auto;
    row.Nval = r.Value;
    // Counted only once the row is in the table, so a failed append cannot eat into the limit.
    sink.appendReading(row);
    ++RecordCount;
    ++RecordNo;
    return note(Outcome::Recorded);
}

void RecordingRule::tick() {
    if (IntervalOn && SampleCountdown > 0) --SampleCountdown;
}

void RecordingRule::newRecording(ReadingSink& sink) {
    if (sink.rowCount() > 0) sink.emptyTable();
    RecordNo = 1;
    RecordCount = 0;
    lastOutcome_.reset();
}

} // namespace rd780
