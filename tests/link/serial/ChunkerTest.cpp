// Serial bytes into frames: chunks end at a pause or at a long frame's size, and the
// frame text is assembled from them as on the USB link.
#include "link/serial/SerialChunker.h"
#include "meter/core/FrameAssembler.h"
#include "meter/core/MeterSimulator.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace rd780 {
namespace {

std::string hex(const std::vector<uint8_t>& bytes) {
    std::string s;
    appendHex(s, bytes.data(), bytes.size());
    return s;
}

// The window's side of it: flushChunk into FrameHex, and a decode per whole frame.
struct Assembly {
    std::string FrameHex;
    std::vector<std::string> decoded;
    SerialChunker chunker{[this](const std::string& c) {
        if (flushChunk(FrameHex, c)) decoded.push_back(FrameHex);
    }};
    void bytes(const std::vector<uint8_t>& b) { chunker.receive(b.data(), b.size()); }
    void bytes(const std::vector<uint8_t>& b, std::size_t from, std::size_t to) {
        chunker.receive(b.data() + from, to - from);
    }
};

std::vector<uint8_t> shortFrame() {
    MeterSimulator sim;
    sim.setLongFrameInterval(0);
    return sim.nextFrame();
}

std::vector<uint8_t> longFrame() {
    MeterSimulator sim;
    sim.setLongFrameInterval(1);
    return sim.nextFrame();
}

TEST(SerialChunker, BytesWithoutAPauseFormOneChunk) {
    std::vector<std::string> chunks;
    SerialChunker c([&](const std::string& s) { chunks.push_back(s); });
    const uint8_t a[] = {0x5a, 0x0d}, b[] = {0xff, 0x00, 0x2e};
    c.receive(a, 2);
    c.receive(b, 3);
    EXPECT_TRUE(chunks.empty());
    EXPECT_EQ(c.pendingBytes(), 5u);
    c.idle();
    ASSERT_EQ(chunks.size(), 1u);
    EXPECT_EQ(chunks[0], "5A0DFF002E");
    c.idle(); // a second pause has nothing to end
    EXPECT_EQ(chunks.size(), 1u);
    c.receive(a, 2);
    c.clear();
    c.idle();
    EXPECT_EQ(chunks.size(), 1u) << "a cleared chunk is never flushed";
}

TEST(SerialChunker, AChunkEndsAtOnceAtALongFramesSize) {
    std::vector<std::string> chunks;
    SerialChunker c([&](const std::string& s) { chunks.push_back(s); });
    std::vector<uint8_t> run(400);
    for (std::size_t i = 0; i < run.size(); ++i)
        run[i] = static_cast<uint8_t>(i);
    c.receive(run.data(), run.size());
    ASSERT_EQ(chunks.size(), 1u);
    EXPECT_EQ(chunks[0].size(), 722u);
    EXPECT_EQ(chunks[0].substr(0, 6), "000102");
    EXPECT_EQ(c.pendingBytes(), 39u);
    c.idle();
    ASSERT_EQ(chunks.size(), 2u);
    EXPECT_EQ(chunks[1].substr(0, 4), "696A"); // the run goes on at its byte 361
}

TEST(SerialFrames, AShortFrameDecodesOnceWhereverItIsSplit) {
    const std::vector<uint8_t> frame = shortFrame();
    ASSERT_EQ(frame.size(), 41u);
    for (std::size_t cut = 1; cut < frame.size(); ++cut) {
        // Split over two reads of one run, and split by a pause: either way one frame.
        for (bool pause : {false, true}) {
            Assembly a;
            a.bytes(frame, 0, cut);
            if (pause) a.chunker.idle();
            a.bytes(frame, cut, frame.size());
            a.chunker.idle();
            a.chunker.idle();
            ASSERT_EQ(a.decoded.size(), 1u) << "cut " << cut << " pause " << pause;
            EXPECT_EQ(a.decoded[0], hex(frame));
        }
    }
}

TEST(SerialFrames, ALongFrameAtLineSpeedDecodesOnce) {
    const std::vector<uint8_t> frame = longFrame();
    ASSERT_EQ(frame.size(), 361u);
    Assembly a;
    // 2400 baud: about 12 bytes per 50 ms tick, never a tick without bytes mid-frame.
    for (std::size_t at = 0; at < frame.size(); at += 12)
        a.bytes(frame, at, std::min(frame.size(), at + 12));
    ASSERT_EQ(a.decoded.size(), 1u) << "decoded as soon as it reached 361 bytes";
    EXPECT_EQ(a.decoded[0], hex(frame));
    a.chunker.idle();
    EXPECT_EQ(a.decoded.size(), 1u);
    // The next short frame after a pause replaces it.
    const std::vector<uint8_t> next = shortFrame();
    a.bytes(next);
    a.chunker.idle();
    ASSERT_EQ(a.decoded.size(), 2u);
    EXPECT_EQ(a.decoded[1], hex(next));
}

} // namespace
} // namespace rd780
