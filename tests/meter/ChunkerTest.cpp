// Serial bytes into frames: found by their start byte, length and a decodable head, whatever
// the timing of the reads and pauses.
#include "meter/core/FrameAssembler.h"
#include "meter/core/MeterSimulator.h"
#include "meter/core/SerialChunker.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <string>
#include <vector>

namespace rd780 {
namespace {

using Bytes = std::vector<uint8_t>;

std::string hex(const Bytes& bytes) {
    std::string s;
    appendHex(s, bytes.data(), bytes.size());
    return s;
}

struct Finder {
    std::vector<std::string> frames;
    SerialChunker chunker{[this](const std::string& f) { frames.push_back(f); }};
    void bytes(const Bytes& b, std::size_t from, std::size_t to) {
        chunker.receive(b.data() + from, to - from);
    }
    void bytes(const Bytes& b) { bytes(b, 0, b.size()); }
    void silence(int ticks = 1) {
        for (int i = 0; i < ticks; ++i)
            chunker.idle();
    }
};

// A stream of frames back to back, and the frame texts it must give, in order.
struct Stream {
    Bytes bytes;
    std::vector<std::string> frames;
    void add(const Bytes& frame) {
        bytes.insert(bytes.end(), frame.begin(), frame.end());
        frames.push_back(hex(frame));
    }
    void noise(std::mt19937& rng, std::size_t n) {
        for (std::size_t i = 0; i < n; ++i)
            bytes.push_back(i % 7 == 0 ? SerialChunker::FrameStart : static_cast<uint8_t>(rng()));
    }
};

// Every scene of the meter, short and long frames in the pattern S S L L S L, so that
// short-short, short-long, long-long and long-short all meet.
Stream mixedStream(int frames, uint32_t seed = 780) {
    MeterSimulator shorts(seed), longs(seed + 1);
    shorts.setFramesPerReading(1);
    shorts.setLongFrameInterval(0);
    longs.setFramesPerReading(1);
    longs.setLongFrameInterval(1);
    static constexpr bool isLong[] = {false, false, true, true, false, true};
    Stream s;
    for (int i = 0; i < frames; ++i)
        s.add(isLong[i % 6] ? longs.nextFrame() : shorts.nextFrame());
    return s;
}

Bytes longFrameWithWaveform(const std::vector<int8_t>& wave) {
    MeterDisplay d;
    d.field = "1.234";
    d.unitTail = "V";
    return MeterSimulator::encode(d, &wave);
}

TEST(SerialFrameFinder, BackToBackMixedFramesSplitAtEveryByte) {
    const Stream s = mixedStream(10);
    ASSERT_GT(s.bytes.size(), 1000u);
    for (std::size_t cut = 0; cut <= s.bytes.size(); ++cut) {
        Finder f;
        f.bytes(s.bytes, 0, cut);
        f.bytes(s.bytes, cut, s.bytes.size());
        f.silence();
        ASSERT_EQ(f.frames, s.frames) << "cut at byte " << cut;
        EXPECT_EQ(f.chunker.pendingBytes(), 0u);
    }
}

TEST(SerialFrameFinder, EveryMeterSceneByteByByteWithShortPauses) {
    // Two whole cycles of the meter's scenes, one byte per read, and now and then a pause
    // shorter than the settling time, which may fall inside a frame.
    const Stream s = mixedStream(2 * 16);
    std::mt19937 rng(3);
    Finder f;
    for (std::size_t i = 0; i < s.bytes.size(); ++i) {
        f.bytes(s.bytes, i, i + 1);
        if (rng() % 17 == 0) f.silence(static_cast<int>(rng() % SerialChunker::SettleTicks));
    }
    f.silence();
    EXPECT_EQ(f.frames, s.frames);
    EXPECT_EQ(f.chunker.discardedBytes(), 0u);
}

TEST(SerialFrameFinder, NoiseBeforeFramesIsSkipped) {
    MeterSimulator sim(9);
    sim.setFramesPerReading(1);
    sim.setLongFrameInterval(4);
    std::mt19937 rng(5);
    Stream s;
    std::size_t noise = 0;
    for (int i = 0; i < 40; ++i) {
        const std::size_t n = 1 + rng() % 50; // noise carries frame-start bytes too
        s.noise(rng, n);
        noise += n;
        s.add(sim.nextFrame());
    }
    // Streamed without a pause, in reads of any size, or all at once.
    for (std::size_t piece : {std::size_t{1}, std::size_t{12}, std::size_t{97}, s.bytes.size()}) {
        Finder f;
        for (std::size_t at = 0; at < s.bytes.size(); at += piece)
            f.bytes(s.bytes, at, std::min(s.bytes.size(), at + piece));
        f.silence();
        EXPECT_EQ(f.frames, s.frames) << "reads of " << piece;
        EXPECT_EQ(f.chunker.discardedBytes(), noise) << "reads of " << piece;
    }
}

TEST(SerialFrameFinder, AStalledReaderGetsEveryFrameFromOneBigRead) {
    // Two seconds of a stalled GUI at 2400 baud: about 480 bytes wait in the port; at
    // 19200 baud several kilobytes. Each frame comes out once when the read finally runs.
    for (int frames : {12, 60}) {
        const Stream s = mixedStream(frames, static_cast<uint32_t>(frames));
        Finder f;
        f.bytes(s.bytes, 0, 100);
        f.silence(); // the tick before the stall
        f.bytes(s.bytes, 100, s.bytes.size());
        f.silence();
        EXPECT_EQ(f.frames, s.frames) << frames << " frames";
    }
}

TEST(SerialFrameFinder, SilenceSettlesOnlyWhatTheBytesLeaveOpen) {
    MeterSimulator sim;
    sim.setLongFrameInterval(0);
    const Bytes shortFrame = sim.nextFrame();
    const Bytes longFrame = longFrameWithWaveform(std::vector<int8_t>(320, 5));

    // A short frame alone: handed over at the first quiet tick, not before.
    Finder a;
    a.bytes(shortFrame);
    EXPECT_TRUE(a.frames.empty()) << "41 bytes may still be a long frame's head";
    a.silence();
    EXPECT_EQ(a.frames, std::vector<std::string>{hex(shortFrame)});

    // A long frame paused in its waveform for less than the settling time stays one long
    // frame. (Paused right after its 41st byte it would pass for a short frame.)
    Finder b;
    b.bytes(longFrame, 0, 42);
    b.silence();
    b.bytes(longFrame, 42, 60);
    b.silence(SerialChunker::SettleTicks - 1);
    b.bytes(longFrame, 60, 361);
    EXPECT_EQ(b.frames, std::vector<std::string>{hex(longFrame)});

    // A frame cut short by a pause longer than that is given up as a long frame: its head
    // still counts as a reading, and the frame that follows is found again.
    Finder c;
    c.bytes(longFrame, 0, 100);
    c.silence(SerialChunker::SettleTicks);
    ASSERT_EQ(c.frames.size(), 1u);
    EXPECT_EQ(c.frames[0], hex(Bytes(longFrame.begin(), longFrame.begin() + 41)));
    c.bytes(shortFrame);
    c.silence();
    ASSERT_EQ(c.frames.size(), 2u);
    EXPECT_EQ(c.frames[1], hex(shortFrame));

    // Half a frame never becomes one, however long the silence.
    Finder d;
    d.bytes(shortFrame, 0, 40);
    d.silence(50);
    EXPECT_TRUE(d.frames.empty());
    d.bytes(shortFrame, 40, 41);
    d.silence();
    EXPECT_EQ(d.frames.size(), 1u);
}

TEST(SerialFrameFinder, WaveformFrameStartBytesDoNotSplitALongFrame) {
    // 0x5A right after the head, and everywhere else in the waveform: not a frame start,
    // because what follows does not decode.
    const Bytes allStarts = longFrameWithWaveform(std::vector<int8_t>(320, 0x5A));
    // A sine whose peaks touch 0x5A (+90) eight times.
    std::vector<int8_t> wave(320);
    for (std::size_t i = 0; i < wave.size(); ++i)
        wave[i] = static_cast<int8_t>(std::lround(90.4 * std::sin(6.2831853 * i / 40.0)));
    ASSERT_EQ(std::count(wave.begin(), wave.end(), 0x5A), 8);
    const Bytes digits = longFrameWithWaveform(wave);
    MeterSimulator sim;
    const Bytes next = sim.nextFrame();
    Stream s;
    s.add(allStarts);
    s.add(digits);
    s.add(next);
    s.add(allStarts);
    Finder f;
    f.bytes(s.bytes);
    f.silence();
    EXPECT_EQ(f.frames, s.frames);

    // The documented wrong guess: a waveform that carries a whole decodable frame right
    // after the head is read as a short frame followed by that frame.
    Bytes mimic = longFrameWithWaveform(std::vector<int8_t>(320, 1));
    std::copy(next.begin(), next.end(), mimic.begin() + 41);
    Finder g;
    g.bytes(mimic);
    g.silence(SerialChunker::SettleTicks);
    ASSERT_EQ(g.frames.size(), 2u);
    EXPECT_EQ(g.frames[0], hex(Bytes(mimic.begin(), mimic.begin() + 41)));
    EXPECT_EQ(g.frames[1], hex(next));
}

TEST(SerialFrameFinder, BytesArrivingDuringADecodeAreKeptInOrder) {
    // The decode may run the event loop, and the next read can arrive inside it.
    const Stream s = mixedStream(8);
    std::vector<std::string> frames;
    std::size_t fed = 100;
    SerialChunker* self = nullptr;
    SerialChunker c([&](const std::string& f) {
        frames.push_back(f);
        if (fed < s.bytes.size()) {
            const std::size_t at = fed, n = std::min<std::size_t>(150, s.bytes.size() - fed);
            fed += n;
            self->receive(s.bytes.data() + at, n);
        }
    });
    self = &c;
    c.receive(s.bytes.data(), 100);
    while (fed < s.bytes.size()) {
        const std::size_t at = fed, n = std::min<std::size_t>(70, s.bytes.size() - fed);
        fed += n;
        c.receive(s.bytes.data() + at, n);
    }
    c.idle();
    EXPECT_EQ(frames, s.frames);
}

TEST(SerialFrameFinder, ClearForgetsAPartialFrame) {
    MeterSimulator sim;
    const Bytes a = sim.nextFrame(), b = sim.nextFrame();
    Finder f;
    f.bytes(a, 0, 30);
    f.chunker.clear();
    f.bytes(a, 30, 41); // the rest of a frame whose head was purged: only noise now
    f.bytes(b);
    f.silence();
    EXPECT_EQ(f.frames, std::vector<std::string>{hex(b)});
}

} // namespace
} // namespace rd780
