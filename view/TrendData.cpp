#include "view/TrendData.h"

#include "record/ReadingValue.h"

#include <algorithm>
#include <cmath>

namespace rd780::view {

void TrendTrace::reserve(std::size_t n) {
    times_.reserve(n);
    values_.reserve(n);
    blocks_.reserve(n / BlockSize + 1);
}

void TrendTrace::append(int64_t timeMs, double value) {
    if (!times_.empty()) timeMs = std::max(timeMs, times_.back());
    if (times_.size() % BlockSize == 0) blocks_.emplace_back();
    times_.push_back(timeMs);
    values_.push_back(value);
    Block& b = blocks_.back();
    if (std::isnan(value)) {
        b.gap = true;
    } else {
        b.min = std::min(b.min, value);
        b.max = std::max(b.max, value);
    }
}

void TrendTrace::dropFront(std::size_t blocks) {
    blocks = std::min(blocks, blocks_.size());
    const std::size_t points = std::min(blocks * BlockSize, times_.size());
    times_.erase(times_.begin(), times_.begin() + std::ptrdiff_t(points));
    values_.erase(values_.begin(), values_.begin() + std::ptrdiff_t(points));
    blocks_.erase(blocks_.begin(), blocks_.begin() + std::ptrdiff_t(blocks));
}

void TrendTrace::collect(std::size_t a, std::size_t b, TrendColumn& c) const {
    auto take = [&](double lo, double hi) {
        if (!c.data) {
            c.min = lo, c.max = hi, c.data = true;
        } else {
            c.min = std::min(c.min, lo), c.max = std::max(c.max, hi);
        }
    };
    auto raw = [&](std::size_t from, std::size_t to) {
        for (std::size_t i = from; i < to; ++i) {
            const double v = values_[i];
            if (std::isnan(v))
                c.gap = true;
            else
                take(v, v);
        }
    };
    std::size_t i = a;
    const std::size_t headEnd = std::min(b, (a + BlockSize - 1) / BlockSize * BlockSize);
    raw(i, headEnd);
    i = headEnd;
    for (; i + BlockSize <= b; i += BlockSize) {
        const Block& blk = blocks_[i / BlockSize];
        c.gap = c.gap || blk.gap;
        if (blk.min <= blk.max) take(blk.min, blk.max);
    }
    raw(i, b);
}

void TrendTrace::reduce(int64_t t0, int64_t t1, int columns, std::vector<TrendColumn>& out) const {
    out.assign(static_cast<std::size_t>(std::max(columns, 0)), TrendColumn{});
    if (columns <= 0 || t1 <= t0 || times_.empty()) return;
    const double span = static_cast<double>(t1 - t0);
    auto boundary = [&](int c) {
        return t0 + static_cast<int64_t>(std::floor(span * c / columns));
    };
    auto first = std::lower_bound(times_.begin(), times_.end(), t0);
    for (int c = 0; c < columns; ++c) {
        const int64_t end = c + 1 == columns ? t1 : boundary(c + 1);
        auto last = std::lower_bound(first, times_.end(), end);
        if (last != first)
            collect(static_cast<std::size_t>(first - times_.begin()),
                    static_cast<std::size_t>(last - times_.begin()), out[std::size_t(c)]);
        first = last;
    }
}

bool TrendTrace::valueRange(int64_t t0, int64_t t1, double& lo, double& hi) const {
    const auto a = std::lower_bound(times_.begin(), times_.end(), t0);
    const auto b = std::upper_bound(a, times_.end(), t1);
    TrendColumn c;
    collect(static_cast<std::size_t>(a - times_.begin()),
            static_cast<std::size_t>(b - times_.begin()), c);
    lo = c.min, hi = c.max;
    return c.data;
}

void TrendData::addReading(int64_t timeMs, const std::string& text, const std::string& unit) {
    const bool overload = isOverloadText(text);
    const auto value = displayNumber(text);
    if (!overload && !value) return;
    if (unit != newestUnit_ && !newestUnit_.empty()) {
        // The line of the unit left behind ends here; the one taken up again starts anew.
        for (auto& t : traces_)
            if (t.unit() == unit && !t.empty()) t.appendGap(timeMs);
    }
    newestUnit_ = unit;
    TrendTrace& t = traceFor(unit);
    if (overload) {
        t.appendGap(timeMs);
    } else {
        t.append(timeMs, *value);
        decimals_[static_cast<std::size_t>(&t - traces_.data())] = displayDecimals(text);
    }
    if (points() > maxPoints_) dropOldest(points() - maxPoints_ * 3 / 4);
}

void TrendData::dropOldest(std::size_t atLeast) {
    // Whole blocks before one moment in time, from every trace: the oldest go first
    // whatever their unit. Each trace keeps its newest point.
    using Trace = TrendTrace;
    auto droppable = [&](const Trace& t, int64_t before) {
        const auto n = std::size_t(std::lower_bound(t.times().begin(), t.times().end(), before) -
                                   t.times().begin());
        return std::min(n / Trace::BlockSize, (t.size() - 1) / Trace::BlockSize);
    };
    auto total = [&](int64_t before) {
        std::size_t n = 0;
        for (const Trace& t : traces_)
            if (!t.empty()) n += droppable(t, before) * Trace::BlockSize;
        return n;
    };
    int64_t lo = std::numeric_limits<int64_t>::max(), hi = std::numeric_limits<int64_t>::min();
    for (const Trace& t : traces_)
        if (!t.empty()) lo = std::min(lo, t.firstTime()), hi = std::max(hi, t.lastTime());
    if (lo > hi) return;
    ++hi;             // everything lies before hi
    while (lo < hi) { // the first moment before which enough can go
        const int64_t mid = lo + (hi - lo) / 2;
        if (total(mid) >= atLeast)
            hi = mid;
        else
            lo = mid + 1;
    }
    for (Trace& t : traces_)
        if (!t.empty()) t.dropFront(droppable(t, lo));
}

void TrendData::clear() {
    traces_.clear();
    decimals_.clear();
    newestUnit_.clear();
}

const TrendTrace* TrendData::trace(const std::string& unit) const {
    for (const auto& t : traces_)
        if (t.unit() == unit) return &t;
    return nullptr;
}

TrendTrace& TrendData::traceFor(const std::string& unit) {
    for (auto& t : traces_)
        if (t.unit() == unit) return t;
    traces_.emplace_back(unit);
    decimals_.push_back(0);
    return traces_.back();
}

int TrendData::decimals(const std::string& unit) const {
    for (std::size_t i = 0; i < traces_.size(); ++i)
        if (traces_[i].unit() == unit) return decimals_[i];
    return 0;
}

std::size_t TrendData::points() const {
    std::size_t n = 0;
    for (const auto& t : traces_)
        n += t.size();
    return n;
}

void TrendViewport::showAll(int64_t first, int64_t last) {
    zoomed_ = false;
    t0_ = first;
    t1_ = std::max(last, first + MinSpanMs);
}

void TrendViewport::update(int64_t first, int64_t last) {
    // Not zoomed is everything, as it grows, whether or not the newest unit is followed.
    if (!zoomed_) {
        showAll(first, last);
        return;
    }
    if (!follow_) return;
    const int64_t span = t1_ - t0_;
    t1_ = std::max(last, first + MinSpanMs);
    t0_ = t1_ - span;
}

void TrendViewport::zoom(double factor, double anchor) {
    anchor = std::clamp(anchor, 0.0, 1.0);
    const double span = static_cast<double>(t1_ - t0_);
    const double newSpan = std::clamp(span * factor, double(MinSpanMs), 1e13);
    const double at = static_cast<double>(t0_) + span * anchor;
    t0_ = static_cast<int64_t>(std::llround(at - newSpan * anchor));
    t1_ = t0_ + static_cast<int64_t>(std::llround(newSpan));
    zoomed_ = true;
}

void TrendViewport::pan(double fraction) {
    const auto shift =
        static_cast<int64_t>(std::llround(static_cast<double>(t1_ - t0_) * fraction));
    t0_ += shift;
    t1_ += shift;
    zoomed_ = true;
    // Looking back in time is looking away from the newest reading.
    if (shift < 0) follow_ = false;
}

} // namespace rd780::view
