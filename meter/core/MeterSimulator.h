#pragma once
// A stand-in for the meter: yields the display frames a real meter sends, so the USB
// cable simulation and the serial emulator can run the program without hardware.
// Plain C++ (no Qt) so tools, tests and fuzz builds can use it.
#include <cstddef>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace rd780 {

// What one frame shows, in the meter's own terms.
struct MeterDisplay {
    int function = 0;       // 0 volts, 1 current, 2 frequency, 3 capacitance, 4 ohms,
                            // 5 ohms with the mark, 6 diode
    int mode = 0;           // 0 DC; other digits AC (volts, current) or duty (frequency)
    bool autoRange = false; // range byte 1 = AUTO
    bool negative = false;  // sign byte '-'
    std::string field;      // the five display bytes 22..26, e.g. "00.66" or " 0.L "
    char prefix = ' ';      // unit prefix character: ' ', 'm', 'k', 'M', 'n', 'u', 'A'
    std::string unitTail;   // unit letters the meter puts after the prefix (bytes 28..)
};

class MeterSimulator {
public:
    static constexpr std::size_t ShortFrameSize = 41;
    static constexpr std::size_t WaveformSize = 320;
    static constexpr std::size_t LongFrameSize = ShortFrameSize + WaveformSize;

    explicit MeterSimulator(std::uint32_t seed = 780);

    // The next frame the meter sends: 41 bytes, or 361 with a waveform every few frames
    // (setLongFrameInterval).
    std::vector<std::uint8_t> nextFrame();

    // What the last frame of nextFrame() showed.
    const MeterDisplay& lastDisplay() const { return last_; }
    std::uint64_t framesSent() const { return frames_; }

    // Every n-th frame is long (0: never). Default 8.
    void setLongFrameInterval(int n) { longEvery_ = n < 0 ? 0 : n; }
    // How many frames each reading of the cycle is held before the next. Default 10.
    void setFramesPerReading(int n) { perReading_ = n < 1 ? 1 : n; }
    int scenesInCycle() const;

    // Builds the bytes of one frame. A waveform, when given, must hold WaveformSize
    // samples; offset is the signed shift the chart adds to every point.
    static std::vector<std::uint8_t> encode(const MeterDisplay& d,
                                            const std::vector<std::int8_t>* waveform = nullptr,
                                            std::int8_t offset = 0);
    // Lays out a reading of four digits with the point after `intDigits` digits
    // (1 to 3; 0 or 4 means no point), e.g. format(1.234, 1) -> "1.234".
    static std::string formatField(double magnitude, int intDigits);

private:
    MeterDisplay scene(int index);
    std::vector<std::int8_t> waveform(int function);

    std::mt19937 rng_;
    std::uint64_t frames_ = 0;
    int longEvery_ = 8;
    int perReading_ = 10;
    double dcVolts_ = 1.234;
    double acVolts_ = 229.6;
    double milliamps_ = 12.34;
    double phase_ = 0.0;
    MeterDisplay last_;
};

} // namespace rd780
