#pragma once
// The readings of a session against time, one trace per unit, and their reduction to one
// minimum and maximum per pixel column. Plain C++: a million points draw in a few
// milliseconds because whole blocks of points are summarised as they arrive.
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

namespace rd780::view {

// What one pixel column shows.
struct TrendColumn {
    double min = 0;
    double max = 0;
    bool data = false; // at least one value lies in the column
    bool gap = false;  // an overload or a break lies in the column
};

class TrendTrace {
public:
    static constexpr std::size_t BlockSize = 256;

    explicit TrendTrace(std::string unit = {}) : unit_(std::move(unit)) {}
    const std::string& unit() const { return unit_; }

    // Times never go back: a clock set back is held at the last time.
    void append(int64_t timeMs, double value);
    // A point where the line is broken (an overload, or the unit changed meanwhile).
    void appendGap(int64_t timeMs) { append(timeMs, std::numeric_limits<double>::quiet_NaN()); }

    std::size_t size() const { return times_.size(); }
    bool empty() const { return times_.empty(); }
    int64_t firstTime() const { return times_.front(); }
    int64_t lastTime() const { return times_.back(); }
    const std::vector<int64_t>& times() const { return times_; }
    const std::vector<double>& values() const { return values_; }
    void reserve(std::size_t n);
    // Forgets the oldest whole blocks, so the summaries of the rest stay as they are.
    void dropFront(std::size_t blocks);

    // Splits [t0, t1) into `columns` equal columns and gives each its minimum and maximum.
    void reduce(int64_t t0, int64_t t1, int columns, std::vector<TrendColumn>& out) const;
    // Lowest and highest value in [t0, t1]; false when there is none.
    bool valueRange(int64_t t0, int64_t t1, double& lo, double& hi) const;

private:
    struct Block {
        double min = std::numeric_limits<double>::infinity();
        double max = -std::numeric_limits<double>::infinity();
        bool gap = false;
    };
    void collect(std::size_t a, std::size_t b, TrendColumn& c) const;

    std::string unit_;
    std::vector<int64_t> times_;
    std::vector<double> values_;
    std::vector<Block> blocks_; // one per BlockSize points; the last may be partial
};

// All traces of a session, within a bound: past MaxPoints points (16 bytes each, so
// about 64 MB; under 130 MB with the room the vectors keep to grow), the oldest quarter is
// forgotten, in whole blocks, oldest first whatever the unit. The statistics beside the
// plot are kept apart and still count every reading.
class TrendData {
public:
    static constexpr std::size_t MaxPoints = 4'000'000;
    explicit TrendData(std::size_t maxPoints = MaxPoints) : maxPoints_(maxPoints) {}

    // One reading: its display text and unit codes as the decoder sets them. An overload
    // is a gap; a text that is no number is ignored.
    void addReading(int64_t timeMs, const std::string& text, const std::string& unit);
    void clear();

    const std::vector<TrendTrace>& traces() const { return traces_; }
    const TrendTrace* trace(const std::string& unit) const;
    TrendTrace& traceFor(const std::string& unit);
    const std::string& newestUnit() const { return newestUnit_; }
    // Digits after the point of the newest reading in that unit (for drawing the limits,
    // which count displayed digits without the point).
    int decimals(const std::string& unit) const;
    std::size_t points() const;

private:
    void dropOldest(std::size_t atLeast);

    std::size_t maxPoints_;
    std::vector<TrendTrace> traces_;
    std::vector<int> decimals_;
    std::string newestUnit_;
};

// The time range shown. Following, it ends at the newest reading: the whole session, or,
// once zoomed, a window of the chosen span.
class TrendViewport {
public:
    static constexpr int64_t MinSpanMs = 100;

    int64_t t0() const { return t0_; }
    int64_t t1() const { return t1_; }
    bool following() const { return follow_; }
    bool zoomed() const { return zoomed_; }
    void setFollowing(bool on) { follow_ = on; }

    // The whole of [first, last].
    void showAll(int64_t first, int64_t last);
    // Called before each drawing with the data's time range.
    void update(int64_t first, int64_t last);
    // factor < 1 zooms in; anchor is the fraction of the width that stays in place.
    void zoom(double factor, double anchor);
    // Moves by a fraction of the span (negative: back in time, which stops following).
    void pan(double fraction);

private:
    int64_t t0_ = 0;
    int64_t t1_ = MinSpanMs;
    bool follow_ = true;
    bool zoomed_ = false;
};

} // namespace rd780::view
