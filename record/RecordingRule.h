#pragma once
// The recording rule: decides whether a decoded reading becomes a row of the reading
// table (limit, interval and repeat gates, in that order) and appends it. Plain C++; the
// window feeds it the control states and a sink that writes the rows.
#include <cstdint>
#include <optional>
#include <string>

namespace rd780 {

// A row of the reading table.
struct ReadingRow {
    int32_t No = 0;
    int32_t TimeMs = 0; // time of day, milliseconds since midnight
    std::string Coupling;
    std::string Value;
    std::string Unit;
    std::string Auto;
    double Nval = 0.0;
};

// The current reading as the decoder leaves it.
struct Reading {
    std::string Text;
    double Value = 0.0;
    std::string Unit;
    std::string Coupling;
    std::string Auto;
};

// Where recorded rows go. Errors are thrown (AppError or any std::exception).
class ReadingSink {
public:
    virtual ~ReadingSink() = default;
    virtual void appendReading(const ReadingRow& row) = 0;
    virtual int64_t rowCount() const = 0;
    virtual void emptyTable() = 0;
    // True when the table can take no further row.
    virtual bool isFull() const { return false; }
};

// A decimal integer as typed into an edit; throws AppError naming the text otherwise.
int32_t parseDecimal(const std::string& text);
// The interval and limit edits read "-", "+" and "" as 0.
int32_t parseCountText(const std::string& text);

// The six record limits of the Record menu.
constexpr int32_t RecordLimits[6] = {1000, 5000, 10000, 50000, 100000, 10000000};

class RecordingRule {
public:
    // RecordNo and RecordLimit live in the window's module state; the rule works on them.
    RecordingRule(int& recordNo, int& recordLimit) : RecordNo(recordNo), RecordLimit(recordLimit) {}

    enum class Outcome { Recorded, LimitReached, TableFull, Waiting, Repeat, BadInterval };

    // How the limit gate counts. The window's gate tests "RecordLimit < RecordCount" before
    // the count is raised, so a recording there holds RecordLimit + 1 rows (1001 with the
    // limit 1000); the logger's --limit N means exactly N rows.
    enum class LimitGate { StopAtLimit, StopPastLimit };
    LimitGate Gate = LimitGate::StopAtLimit;

    // Controls the rule reads.
    bool IntervalOn = false;         // RecordSI
    std::string IntervalText = "10"; // RecordSITime
    bool RepeatOn = false;           // RepeatSet

    int& RecordNo;
    int& RecordLimit;
    int32_t RecordCount = 0;
    int32_t SampleCountdown = 0;
    std::string LastRecordedText;

    // True when the limit gate lets no further row in.
    bool limitReached() const {
        return Gate == LimitGate::StopAtLimit ? RecordCount >= RecordLimit
                                              : RecordCount > RecordLimit;
    }

    // Offers one reading; stampMs is the time of day the row gets. Throws AppError when
    // the interval text does not convert (once per distinct text) and passes on sink errors.
    Outcome offer(const Reading& reading, int32_t stampMs, ReadingSink& sink);

    // SampleCountdown := the interval text; throws AppError (countdown unchanged) if it
    // does not convert.
    void reloadCountdown();
    // One second of the recording timer.
    void tick();
    // New: empties the table when it has rows and restarts the numbering.
    void newRecording(ReadingSink& sink);

    // What the last offer came to; empty before the first offer and after New.
    std::optional<Outcome> lastOutcome() const { return lastOutcome_; }

private:
    Outcome note(Outcome o) {
        lastOutcome_ = o;
        return o;
    }
    std::optional<std::string> reportedBadText_;
    std::optional<Outcome> lastOutcome_;
};

} // namespace rd780
