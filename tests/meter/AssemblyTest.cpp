#include "meter/core/FrameAssembler.h"
#include "tests/meter/FrameBuilder.h"

#include <gtest/gtest.h>

#include <vector>

using namespace rd780;

namespace {

struct Link {
    std::string FrameHex, ReportChunk;
    bool ChunkPending = false;
    int Idle = 0, Poll = 0;
    int wholeFrames = 0;
    std::vector<std::string> history;

    HidReportOutcome report(std::vector<uint8_t> data, uint8_t id = 0) {
        auto out = assembleHidReport({FrameHex, ReportChunk, ChunkPending, Idle, Poll}, id,
                                     data.data(), data.size());
        if (out.dataReport) history.push_back(out.reportText);
        if (out.wholeFrame) ++wholeFrames;
        return out;
    }
    // Sends bytes as data reports of at most `per` meter bytes in an 8-byte report.
    void send(const std::vector<uint8_t>& bytes, std::size_t per = 7, uint8_t reportLen = 8) {
        for (std::size_t i = 0; i < bytes.size(); i += per) {
            std::vector<uint8_t> r(reportLen, 0);
            const std::size_t n = std::min(per, bytes.size() - i);
            r[0] = static_cast<uint8_t>(n);
            std::copy(bytes.begin() + i, bytes.begin() + i + n, r.begin() + 1);
            report(r);
        }
    }
    void idle(uint8_t count = 0) { report({count, 0, 0, 0, 0, 0, 0, 0}); }
};

} // namespace

TEST(Assembly, ReportTextAndHistoryLines) {
    const uint8_t data[] = {0x03, 0x5A, 0x0d, 0xe2, 0xff};
    EXPECT_EQ(hidReportText(0x1f, data, 5), "R 1F  03 5A 0D E2 FF ");
    Link l;
    l.report({0x02, 0x5A, 0x00, 0x00});
    l.idle();
    l.idle(0x0C);
    ASSERT_EQ(l.history.size(), 1u) << "only data reports are listed";
    EXPECT_EQ(l.history[0], "R 00  02 5A 00 00 ");
    EXPECT_EQ(l.ReportChunk, "") << "the flush empties the chunk";
    EXPECT_EQ(l.FrameHex, "5A00");
}

TEST(Assembly, WholeFramesDecodeOnceAtTheFlush) {
    const auto frame = test::frameBytes({});
    Link l;
    l.send(frame, 9, 10);
    EXPECT_EQ(l.wholeFrames, 0) << "lengths are tested only at a flush";
    EXPECT_TRUE(l.ChunkPending);
    l.idle();
    EXPECT_EQ(l.wholeFrames, 1);
    EXPECT_EQ(l.FrameHex, test::frameText({}));
    l.idle();
    l.idle();
    EXPECT_EQ(l.wholeFrames, 1) << "reports without meter bytes flush nothing more";

    // A long frame assembles the same way.
    const auto longFrame = test::frameBytes({}, true);
    l.send(longFrame, 9, 10);
    l.idle();
    EXPECT_EQ(l.wholeFrames, 2);
    EXPECT_EQ(l.FrameHex.size(), LongFrameChars);
}

TEST(Assembly, FrameSplitOverSeveralFlushesIsJoined) {
    const auto frame = test::frameBytes({});
    Link l;
    l.FrameHex = "5A0102"; // an old frame start is replaced by the new one
    l.send({frame.begin(), frame.begin() + 20});
    l.idle();
    EXPECT_EQ(l.FrameHex.size(), 40u);
    EXPECT_EQ(l.wholeFrames, 0);
    l.send({frame.begin() + 20, frame.end()});
    l.idle(0x0F); // count digits A to F count as no meter bytes and flush
    EXPECT_EQ(l.wholeFrames, 1);
    EXPECT_EQ(l.FrameHex, test::frameText({}));
}

TEST(Assembly, CountersFollowReportsWithoutMeterBytes) {
    Link l;
    l.idle();
    l.idle(0x0A);
    l.report({0xF0}); // the high four bits are ignored: count 0
    EXPECT_EQ(l.Idle, 3);
    EXPECT_EQ(l.Poll, 3);
    l.report({}); // no data bytes at all: no count digit, counters untouched
    EXPECT_EQ(l.Idle, 3);
    l.report({0x31, 0x5A}); // count 1 despite the high bits
    EXPECT_EQ(l.Idle, 0);
    EXPECT_EQ(l.Poll, 0);
    EXPECT_EQ(l.ReportChunk, "5A");
    l.report({}); // an empty report flushes a pending chunk
    EXPECT_FALSE(l.ChunkPending);
    EXPECT_EQ(l.FrameHex, "5A");
}

TEST(Assembly, CountBeyondTheBytesPresentTakesOnlyThosePresent) {
    Link l;
    l.report({0x09, 0x5A, 0x01});
    EXPECT_EQ(l.ReportChunk, "5A01");
}

TEST(Assembly, FrameTextStaysBounded) {
    Link l;
    l.send(test::frameBytes({}));
    l.idle();
    ASSERT_EQ(l.wholeFrames, 1);
    // Chunks without a frame start keep appending until they can never make a frame.
    std::vector<uint8_t> tail(100, 0x11);
    for (int i = 0; i < 10; ++i) {
        l.send(tail);
        l.idle();
        EXPECT_LE(l.FrameHex.size(), LongFrameChars);
    }
    EXPECT_EQ(l.wholeFrames, 1);
    // A frame start still assembles after that.
    l.send(test::frameBytes({}));
    l.idle();
    EXPECT_EQ(l.wholeFrames, 2);
}

TEST(Assembly, FlushChunkNeedsTheFrameStart) {
    std::string f;
    std::string noStart(82, '0');
    EXPECT_FALSE(flushChunk(f, noStart)) << "82 characters without 5A are no frame";
    std::string frame = test::frameText({});
    EXPECT_TRUE(flushChunk(f, frame));
    EXPECT_EQ(f, frame);
}
