#include "meter/core/MeterSimulator.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace rd780 {

namespace {

constexpr double kPi = 3.14159265358979323846;

// Random walk kept inside [lo, hi].
double drift(std::mt19937& rng, double value, double step, double lo, double hi) {
    std::uniform_real_distribution<double> d(-step, step);
    value += d(rng);
    return std::clamp(value, lo, hi);
}

MeterDisplay make(int function, int mode, bool autoRange, char prefix, std::string field,
                  std::string tail, bool negative = false) {
    MeterDisplay d;
    d.function = function;
    d.mode = mode;
    d.autoRange = autoRange;
    d.prefix = prefix;
    d.field = std::move(field);
    d.unitTail = std::move(tail);
    d.negative = negative;
    return d;
}

} // namespace

MeterSimulator::MeterSimulator(std::uint32_t seed) : rng_(seed) {}

int MeterSimulator::scenesInCycle() const {
    return 16;
}

std::string MeterSimulator::formatField(double magnitude, int intDigits) {
    magnitude = std::fabs(magnitude);
    const int decimals = (intDigits >= 1 && intDigits <= 3) ? 4 - intDigits : 0;
    long scaled = std::lround(magnitude * std::pow(10.0, decimals));
    scaled = std::clamp(scaled, 0L, 9999L);
    char digits[8];
    std::snprintf(digits, sizeof digits, "%04ld", scaled);
    std::string s(digits, 4);
    if (decimals == 0) return s + " "; // no point: the fifth byte is unused
    const auto at = static_cast<std::size_t>(intDigits);
    return s.substr(0, at) + "." + s.substr(at);
}

MeterDisplay MeterSimulator::scene(int index) {
    switch (index) {
    case 0: { // DC volts drifting through zero, AUTO
        dcVolts_ = drift(rng_, dcVolts_, 0.35, -3.9, 5.9);
        return make(0, 0, true, ' ', formatField(dcVolts_, 1), "V", dcVolts_ < 0);
    }
    case 1: // mains AC volts, AUTO
        acVolts_ = drift(rng_, acVolts_, 0.4, 226.0, 234.0);
        return make(0, 1, true, ' ', formatField(acVolts_, 3), "V");
    case 2: { // DC millivolts, manual range, negative
        std::uniform_real_distribution<double> d(44.0, 46.0);
        return make(0, 0, false, 'm', formatField(d(rng_), 2), "V", true);
    }
    case 3: // DC milliamps
        milliamps_ = drift(rng_, milliamps_, 0.05, 11.5, 13.5);
        return make(1, 0, true, 'm', formatField(milliamps_, 2), "A");
    case 4: { // AC microamps: the meter sends 'A' as the prefix for the micro range
        std::uniform_real_distribution<double> d(120.0, 125.0);
        return make(1, 1, false, 'A', formatField(d(rng_), 3), "A");
    }
    case 5: { // ohms without a prefix
        std::uniform_real_distribution<double> d(100.0, 100.4);
        return make(4, 0, true, ' ', formatField(d(rng_), 3), "Oh");
    }
    case 6: { // kilohms
        std::uniform_real_distribution<double> d(4.69, 4.71);
        return make(4, 0, true, 'k', formatField(d(rng_), 1), "Oh");
    }
    case 7: { // megohms, manual range
        std::uniform_real_distribution<double> d(1.001, 1.006);
        return make(4, 0, false, 'M', formatField(d(rng_), 1), "Oh");
    }
    case 8: { // kilohertz
        std::uniform_real_distribution<double> d(2.010, 2.016);
        return make(2, 0, true, 'k', formatField(d(rng_), 1), "Hz");
    }
    case 9: { // duty cycle
        std::uniform_real_distribution<double> d(49.8, 50.2);
        return make(2, 1, true, ' ', formatField(d(rng_), 2), "%");
    }
    case 10: { // nanofarads
        std::uniform_real_distribution<double> d(47.0, 47.3);
        return make(3, 0, true, 'n', formatField(d(rng_), 2), "F");
    }
    case 11: { // microfarads, manual
        std::uniform_real_distribution<double> d(10.02, 10.08);
        return make(3, 0, false, 'u', formatField(d(rng_), 2), "F");
    }
    case 12: { // diode forward voltage
        std::uniform_real_distribution<double> d(0.510, 0.514);
        return make(6, 0, false, ' ', formatField(d(rng_), 1), "V");
    }
    case 13: { // continuity: ohms with the beeper mark
        std::uniform_real_distribution<double> d(0.2, 0.6);
        return make(5, 0, false, ' ', formatField(d(rng_), 3), "Oh");
    }
    case 14: // open input on the megohm range: positive overload
        return make(4, 0, true, 'M', " 0.L ", "Oh");
    default: // negative overload on the volts range
        return make(0, 0, false, ' ', " 0.L ", "V", true);
    }
}

std::vector<std::int8_t> MeterSimulator::waveform(int function) {
    std::vector<std::int8_t> w(WaveformSize);
    std::normal_distribution<double> noise(0.0, 1.0);
    const double amplitude = function == 0 ? 48.0 : 30.0;
    for (std::size_t i = 0; i < WaveformSize; ++i) {
        const double t = 2.0 * kPi * 3.0 * static_cast<double>(i) / WaveformSize + phase_;
        const double v = amplitude * std::sin(t) + noise(rng_);
        w[i] = static_cast<std::int8_t>(std::clamp(std::lround(v), -127L, 127L));
    }
    phase_ += 0.7;
    return w;
}

std::vector<std::uint8_t> MeterSimulator::encode(const MeterDisplay& d,
                                                 const std::vector<std::int8_t>* waveform,
                                                 std::int8_t offset) {
    std::vector<std::uint8_t> f(ShortFrameSize, 0);
    // Header bytes the program does not interpret, as a meter sends them.
    static const std::uint8_t head[] = {0x5A, 0x00, 0x03, 0x05, 0x05, 0x59};
    std::copy(std::begin(head), std::end(head), f.begin());
    f[6] = static_cast<std::uint8_t>(0x80 | (d.function & 0x0F));
    f[7] = f[8] = f[9] = 0x01;
    f[10] = static_cast<std::uint8_t>(d.mode & 0x0F);
    f[11] = 0x06;
    f[12] = static_cast<std::uint8_t>(offset);
    f[13] = 0x10;
    f[16] = 0x0B;
    f[18] = 0x04;
    f[19] = d.autoRange ? 1 : 0;
    f[21] = d.negative ? '-' : ' ';
    for (std::size_t i = 0; i < 5; ++i)
        f[22 + i] = static_cast<std::uint8_t>(i < d.field.size() ? d.field[i] : ' ');
    f[27] = static_cast<std::uint8_t>(d.prefix);
    for (std::size_t i = 0; i < 2; ++i)
        f[28 + i] = static_cast<std::uint8_t>(i < d.unitTail.size() ? d.unitTail[i] : ' ');
    for (std::size_t i = 31; i <= 38; ++i)
        f[i] = ' ';
    std::uint8_t sum = 0;
    for (std::size_t i = 1; i < 40; ++i)
        sum = static_cast<std::uint8_t>(sum + f[i]);
    f[40] = sum;
    if (waveform && waveform->size() == WaveformSize)
        for (std::int8_t s : *waveform)
            f.push_back(static_cast<std::uint8_t>(s));
    return f;
}

std::vector<std::uint8_t> MeterSimulator::nextFrame() {
    const int index = static_cast<int>((frames_ / static_cast<std::uint64_t>(perReading_)) %
                                       static_cast<std::uint64_t>(scenesInCycle()));
    last_ = scene(index);
    ++frames_;
    if (longEvery_ > 0 && frames_ % static_cast<std::uint64_t>(longEvery_) == 0) {
        const auto w = waveform(last_.function);
        return encode(last_, &w, 0);
    }
    return encode(last_);
}

} // namespace rd780
