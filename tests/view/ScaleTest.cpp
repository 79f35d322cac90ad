// The scale face and pointer at the stored panel size, and the drawing on the panel.
#include "view/ScaleGeometry.h"
#include "view/ScalePanel.h"

#include <QColor>
#include <QImage>
#include <QToolButton>

#include <gtest/gtest.h>

#include <climits>

using namespace rd780::view;

namespace {

ScaleGeometry stored() {
    return scaleGeometry(371, 143);
}

const FaceLabel* findLabel(const FacePlan& plan, const std::string& text) {
    for (const auto& l : plan.labels)
        if (l.text == text) return &l;
    return nullptr;
}

} // namespace

TEST(ScaleGeometry, StoredPanelSize) {
    const ScaleGeometry g = stored();
    EXPECT_FLOAT_EQ(g.w, 331.0f);
    EXPECT_FLOAT_EQ(g.h, 83.0f);
    EXPECT_NEAR(g.R, 206.50, 0.005);
    EXPECT_NEAR(g.A, 106.54, 0.005);
    EXPECT_NEAR(g.S, 36.73, 0.005);
    // The sweep uses 3.1415, so it is a little wider than with pi.
    EXPECT_GT(g.A, 2.0f * std::atan(165.5f / (g.R - 83.0f)) * 180.0f / 3.14159265f);
}

TEST(ScaleGeometry, PointerAtEndsAndQuarter) {
    const ScaleGeometry g = stored();
    EXPECT_EQ(pointerLine(g, 0, 80, false), (PointerLine{{20, 117}, {395, 393}}));
    EXPECT_EQ(pointerLine(g, 200, 80, false), (PointerLine{{93, 56}, {264, 393}}));
    EXPECT_EQ(pointerLine(g, 800, 80, false), (PointerLine{{351, 117}, {-24, 393}}));
    // Zero stands midway, straight up.
    const PointerLine zero = pointerLine(g, 400, 80, false);
    EXPECT_EQ(zero.tip.x, zero.base.x);
    EXPECT_EQ(zero.tip.y, 34);
}

TEST(ScaleGeometry, TallPanelGivesMoreThanHalfCircle) {
    // An enlarged panel: the arc's top lies higher above the chord than the radius.
    const ScaleGeometry g = scaleGeometry(713, 440);
    ASSERT_LT(g.R, g.h);
    EXPECT_GT(g.A, 180.0f);
    EXPECT_LT(g.S, 0.0f);
    FaceSettings s;
    const FacePlan plan = planFace(g, s);
    // Still read left to right, and the ends meet the chord's ends.
    EXPECT_LT(plan.arc.front().at.x, plan.arc.back().at.x);
    EXPECT_NEAR(plan.arc.front().at.x, 20 - 3, 2);
    EXPECT_NEAR(plan.arc.front().at.y, 30 + g.h, 3);
    EXPECT_LT(findLabel(plan, "-40")->at.x, findLabel(plan, "0")->at.x);
    EXPECT_LT(findLabel(plan, "0")->at.x, findLabel(plan, "40")->at.x);
    const PointerLine zero = pointerLine(g, 400, 80, false);
    EXPECT_EQ(zero.tip.x, zero.base.x);
    EXPECT_EQ(zero.tip.y, 34);
}

TEST(ScaleGeometry, FixedModeShiftsAndRescales) {
    const ScaleGeometry g = stored();
    // Fixed mode runs 0 to 1000 and adds 100: -100 is the left end, 900 the right one.
    EXPECT_EQ(pointerLine(g, -100, 80, true), pointerLine(g, 0, 80, false));
    EXPECT_EQ(pointerLine(g, 900, 80, true), pointerLine(g, 800, 80, false));
}

TEST(ScaleGeometry, AnyPositionGivesFinitePixels) {
    const ScaleGeometry g = stored();
    // Positions where the pointer is horizontal (sin 0) or far beyond the ends.
    for (int v : {INT_MIN, -1000000, -1600, -2000, -400, 1200, 1600, 2000, 123456789, INT_MAX}) {
        const PointerLine p = pointerLine(g, v, 80, false);
        for (int c : {p.tip.x, p.tip.y, p.base.x, p.base.y}) {
            EXPECT_LE(c, PixelLimit) << v;
            EXPECT_GE(c, -PixelLimit) << v;
        }
    }
    // A flat or empty panel and a zero full scale still give pixels.
    for (auto [w, h] : {std::pair{371, 60}, std::pair{40, 143}, std::pair{0, 0}}) {
        const ScaleGeometry flat = scaleGeometry(w, h);
        const PointerLine p = pointerLine(flat, 400, 80, false);
        EXPECT_LE(std::abs(p.base.x), PixelLimit);
        EXPECT_LE(std::abs(pointerLine(flat, 400, 0, false).tip.y), PixelLimit);
    }
    EXPECT_EQ(roundPixel(std::numeric_limits<float>::infinity()), PixelLimit);
    EXPECT_EQ(roundPixel(-std::numeric_limits<float>::infinity()), -PixelLimit);
    EXPECT_EQ(roundPixel(std::numeric_limits<float>::quiet_NaN()), 0);
    // Ties go to the even neighbour.
    EXPECT_EQ(roundPixel(2.5f), 2);
    EXPECT_EQ(roundPixel(3.5f), 4);
    EXPECT_EQ(roundPixel(-0.5f), 0);
}

TEST(ScaleFace, ArcEndsAndLabelsOfSetFour) {
    FaceSettings s;
    const FacePlan plan = planFace(stored(), s);
    ASSERT_EQ(plan.arc.size(), 801u);
    EXPECT_EQ(plan.arc.front().at, (Pixel{18, 111}));
    EXPECT_EQ(plan.arc.back().at, (Pixel{353, 111}));
    ASSERT_EQ(plan.labels.size(), 9u);
    ASSERT_NE(findLabel(plan, "-40"), nullptr);
    EXPECT_EQ(findLabel(plan, "-40")->at, (Pixel{1, 95}));
    EXPECT_EQ(findLabel(plan, "-10")->at, (Pixel{124, 14}));
    EXPECT_EQ(findLabel(plan, "40")->at, (Pixel{353, 95}));
    // The tens carry a visible black mark.
    ASSERT_EQ(plan.marks.size(), 9u);
    for (const auto& m : plan.marks)
        EXPECT_EQ(m.colour, FaceColour::Black);
}

TEST(ScaleFace, OtherLabelSetsAndMarks) {
    FaceSettings s;
    s.labelSet = "6";
    s.divisions = 120;
    FacePlan plan = planFace(stored(), s);
    EXPECT_EQ(plan.labels.size(), 9u);
    EXPECT_EQ(plan.marks.size(), 9u); // every 15th of 0..120
    EXPECT_EQ(plan.marks.front().colour, FaceColour::Red);
    EXPECT_EQ(plan.arc.size(), 1201u);

    s.labelSet = "34";
    s.divisions = 80;
    plan = planFace(stored(), s);
    EXPECT_EQ(plan.labels.size(), 7u);
    EXPECT_EQ(plan.marks.size(), 8u); // 4, 14, ... 74

    s.labelSet = "2";
    plan = planFace(stored(), s);
    EXPECT_EQ(plan.labels.size(), 9u);
    EXPECT_TRUE(plan.marks.empty());

    s.fixedMode = true;
    plan = planFace(stored(), s);
    EXPECT_EQ(plan.labels.size(), 11u);
    EXPECT_EQ(plan.marks.size(), 11u);
    EXPECT_NE(findLabel(plan, "50"), nullptr);

    s.fixedMode = false;
    s.divisions = -1;
    plan = planFace(stored(), s);
    EXPECT_TRUE(plan.arc.empty());
    EXPECT_TRUE(plan.labels.empty());
}

TEST(ScaleFace, LimitColouring) {
    LimitMarks lim{1500, -2000, false, false};
    // Both switches off: every dot black whatever the limits.
    FaceSettings s;
    s.limits = {0, 0, false, false};
    for (const auto& d : planFace(stored(), s).arc)
        ASSERT_EQ(d.colour, FaceColour::Black);

    // Dot k shows the reading (k - 400) * 10: dot 550 is 1500, equal and so not beyond.
    EXPECT_EQ(dotComparisonValue(550, 400), 1500);
    lim.highOn = true;
    EXPECT_EQ(arcDotColour(550, 400, lim), FaceColour::Black);
    EXPECT_EQ(arcDotColour(551, 400, lim), FaceColour::Red);
    EXPECT_EQ(arcDotColour(200, 400, lim), FaceColour::Black); // low switch still off
    lim.lowOn = true;
    EXPECT_EQ(arcDotColour(200, 400, lim), FaceColour::Black); // -2000 equals the low limit
    EXPECT_EQ(arcDotColour(199, 400, lim), FaceColour::Red);
    lim.highOn = false;
    EXPECT_EQ(arcDotColour(800, 400, lim), FaceColour::Black);

    s.limits = {1500, -2000, true, true};
    const FacePlan plan = planFace(stored(), s);
    int red = 0;
    for (const auto& d : plan.arc)
        red += d.colour == FaceColour::Red;
    EXPECT_EQ(red, 250 + 200); // dots 551..800 and 0..199
}

class ScalePanelTest : public ::testing::Test {
protected:
    ScalePanel panel{nullptr};
    FaceSettings settings;
    QImage face() {
        panel.drawFace(settings);
        return panel.image().copy();
    }
};

TEST_F(ScalePanelTest, FaceDrawnAtImagePixels) {
    const QImage img = face();
    ASSERT_EQ(img.size(), QSize(367, 139));
    // Arc dots are black at both ends; the middle of the face stays white.
    EXPECT_EQ(QColor(img.pixel(19, 112)), QColor(Qt::black));
    EXPECT_EQ(QColor(img.pixel(354, 112)), QColor(Qt::black));
    EXPECT_EQ(QColor(img.pixel(183, 100)), QColor(Qt::white));
    EXPECT_FALSE(panel.pointerShown());

    settings.limits = {1500, -2000, true, false};
    const QImage limited = face();
    // The right end lies beyond the upper limit, the left end is not checked.
    EXPECT_EQ(QColor(limited.pixel(354, 112)), QColor(255, 0, 0));
    EXPECT_EQ(QColor(limited.pixel(19, 112)), QColor(Qt::black));
}

TEST_F(ScalePanelTest, PointerMovesWithoutTouchingTheFace) {
    const QImage bare = face();
    panel.movePointer(200, 80, false);
    const QImage at200 = panel.image().copy();
    EXPECT_EQ(QColor(at200.pixel(93, 56)), QColor(Qt::black)); // the tip
    panel.movePointer(200, 80, false);
    EXPECT_EQ(panel.image(), at200); // same value: erased and redrawn the same
    panel.movePointer(600, 80, false);
    panel.movePointer(400, 80, false);
    // Only the pointer at 400 differs from the bare face, and the face was drawn once.
    ScalePanel other(nullptr);
    other.drawFace(settings);
    other.movePointer(400, 80, false);
    EXPECT_EQ(panel.image(), other.image());
    EXPECT_EQ(panel.faceDraws(), 1);
    EXPECT_NE(panel.image(), bare);

    // A new face removes the pointer; the next move draws it again.
    panel.drawFace(settings);
    EXPECT_EQ(panel.image(), bare);
    panel.movePointer(400, 80, false);
    EXPECT_EQ(panel.image(), other.image());
}

TEST_F(ScalePanelTest, ExtremePositionsDrawWithoutFailing) {
    face();
    for (int v : {INT_MIN, -1600, 1200, 2000, INT_MAX})
        panel.movePointer(v, 80, false);
    panel.movePointer(400, 80, false);
    ScalePanel other(nullptr);
    other.drawFace(settings);
    other.movePointer(400, 80, false);
    EXPECT_EQ(panel.image(), other.image());
}

TEST_F(ScalePanelTest, EnlargeAndRestoreKeepBounds) {
    panel.setGeometry(339, 31, 371, 143);
    panel.enlargeTo(QRect(2, 28, 700, 440));
    EXPECT_TRUE(panel.enlarged());
    EXPECT_TRUE(panel.KdSx->isVisibleTo(&panel));
    EXPECT_FALSE(panel.KdFd->isVisibleTo(&panel));
    EXPECT_EQ(panel.KD1->size(), QSize(696, 436));
    // The face drawn now fills the larger image and the pointer stays on it.
    panel.drawFace(settings);
    panel.movePointer(400, 80, false);
    EXPECT_EQ(panel.image().size(), QSize(696, 436));
    panel.restore();
    EXPECT_FALSE(panel.enlarged());
    EXPECT_EQ(panel.geometry(), QRect(339, 31, 371, 143));
    EXPECT_EQ(panel.KD1->geometry(), QRect(2, 2, 367, 139));
}
