// The link watch on a clock the test moves.
#include "link/LinkWatch.h"

#include <gtest/gtest.h>

using namespace rd780;
using namespace std::chrono_literals;

namespace {
struct FakeClock {
    LinkWatch::Clock::time_point now{};
    LinkWatch watch{[this] { return now; }};
};
const CableIdentity Cable{0x1A86, 0xE008, u"USB to Serial", u""};
} // namespace

TEST(LinkWatch, StallsWithoutAFrameOnceAndIsLiveWithTheNext) {
    FakeClock c;
    const auto almost = LinkWatch::StallAfter - 1ms;
    EXPECT_FALSE(c.watch.tick()) << "not connected: never stalled";
    EXPECT_TRUE(c.watch.connected(LinkKind::Serial));
    c.now += almost;
    EXPECT_FALSE(c.watch.tick());
    EXPECT_FALSE(c.watch.framesSeen());
    EXPECT_FALSE(c.watch.frame()) << "a frame while live changes nothing";
    EXPECT_TRUE(c.watch.framesSeen());
    c.now += almost;
    EXPECT_FALSE(c.watch.tick()) << "the frame restarted the stall time";
    c.now += 1ms;
    EXPECT_TRUE(c.watch.tick());
    EXPECT_EQ(c.watch.state(), LinkWatch::State::Stalled);
    c.now += 60s;
    EXPECT_FALSE(c.watch.tick()) << "said once";
    EXPECT_TRUE(c.watch.frame());
    EXPECT_EQ(c.watch.state(), LinkWatch::State::Live);
    EXPECT_FALSE(c.watch.frame());
    EXPECT_TRUE(c.watch.disconnected());
    c.now += 60s;
    EXPECT_FALSE(c.watch.tick());
    EXPECT_FALSE(c.watch.frame()) << "frames of a disconnected link revive nothing";
    EXPECT_EQ(c.watch.state(), LinkWatch::State::Off);
    EXPECT_EQ(c.watch.stalls(), 1);
    EXPECT_TRUE(c.watch.connected(LinkKind::Usb));
    EXPECT_FALSE(c.watch.framesSeen()) << "each connect waits for its own first frame";
}

TEST(LinkWatch, AGoneCableIsAwaitedByIdentityOnlyOnTheUsbLink) {
    FakeClock c;
    EXPECT_FALSE(c.watch.cableGone(Cable)) << "not connected: nothing to await";
    // A serial device that vanished shows as gone, but no USB cable resumes that link.
    c.watch.connected(LinkKind::Serial);
    EXPECT_TRUE(c.watch.cableGone(CableIdentity{}));
    EXPECT_EQ(c.watch.state(), LinkWatch::State::CableGone);
    EXPECT_FALSE(c.watch.awaits(CableIdentity{}));
    EXPECT_FALSE(c.watch.awaits(Cable));

    c.watch.connected(LinkKind::Usb);
    EXPECT_TRUE(c.watch.cableGone(Cable));
    EXPECT_FALSE(c.watch.cableGone(Cable)) << "said once";
    EXPECT_TRUE(c.watch.awaits(Cable));
    CableIdentity other = Cable;
    other.serial = u"0001A";
    EXPECT_FALSE(c.watch.awaits(other));
    other = Cable;
    other.productId = 0xE009;
    EXPECT_FALSE(c.watch.awaits(other));
    // No stall and no revival while the cable is away.
    c.now += 60s;
    EXPECT_FALSE(c.watch.tick());
    EXPECT_FALSE(c.watch.frame());
    EXPECT_EQ(c.watch.state(), LinkWatch::State::CableGone);

    // Reconnected: watched afresh, nothing awaited any more.
    EXPECT_TRUE(c.watch.connected(LinkKind::Usb));
    EXPECT_FALSE(c.watch.awaits(Cable));
    c.now += LinkWatch::StallAfter - 1s;
    EXPECT_FALSE(c.watch.tick());
    c.watch.cableGone(Cable);
    c.watch.disconnected();
    EXPECT_FALSE(c.watch.awaits(Cable)) << "a user's disconnect ends the waiting";
}
