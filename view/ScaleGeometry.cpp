#include "view/ScaleGeometry.h"

#include <algorithm>
#include <cmath>

namespace rd780::view {

namespace {

constexpr float Pi = 3.14159265358979f;
// A face never needs more steps than this; larger settings would only stall the window.
constexpr std::int64_t MaxSteps = 100000;
// Where sin(theta) vanishes the pointer is vertical; its base is then put this far off.
constexpr float MinSine = 1e-4f;

} // namespace

ScaleGeometry scaleGeometry(int panelWidth, int panelHeight) {
    ScaleGeometry g;
    g.w = static_cast<float>(panelWidth - 40);
    g.h = static_cast<float>(panelHeight - 60);
    const float denom = 8.0f * g.h;
    // A flat face (no height) has an infinite radius; keep it finite so every later step
    // stays a number.
    g.R = denom != 0.0f ? (4.0f * g.h * g.h + g.w * g.w) / denom : 1e9f;
    const float below = g.R - g.h;
    const float half = g.w / 2.0f;
    // atan2 keeps the sweep right when the arc is more than a half circle (R < h), as on
    // an enlarged panel; for R > h it is the plain atan((w/2) / (R - h)).
    const float halfSweep = std::atan2(half, below);
    g.A = 2.0f * halfSweep * 180.0f / 3.1415f;
    g.S = (180.0f - g.A) / 2.0f;
    return g;
}

int roundPixel(float v) {
    if (std::isnan(v)) return 0;
    const float r = std::nearbyint(v);
    if (r > static_cast<float>(PixelLimit)) return PixelLimit;
    if (r < -static_cast<float>(PixelLimit)) return -PixelLimit;
    return static_cast<int>(r);
}

float scaleAngle(const ScaleGeometry& g, float t, float T) {
    const float step = T != 0.0f ? g.A / T : 0.0f;
    return (step * t + g.S) * Pi / 180.0f;
}

Pixel scalePoint(const ScaleGeometry& g, float r, float theta) {
    return {roundPixel(g.w / 2.0f - r * std::cos(theta) + 20.0f),
            roundPixel(g.R - r * std::sin(theta) + 30.0f)};
}

PointerLine pointerLine(const ScaleGeometry& g, int v, int divisions, bool fixedMode) {
    float T = static_cast<float>(static_cast<std::int64_t>(divisions) * 10);
    float t = static_cast<float>(v);
    if (fixedMode) {
        T = 1000.0f;
        t = static_cast<float>(static_cast<std::int64_t>(v) + 100);
    }
    const float theta = scaleAngle(g, t, T);
    const float c = std::cos(theta);
    float s = std::sin(theta);
    if (std::fabs(s) < MinSine) s = std::signbit(s) ? -MinSine : MinSine;

    PointerLine p;
    p.tip.x = roundPixel(g.w / 2.0f - g.R * c) + 20;
    p.tip.y = roundPixel(g.R - g.R * std::sin(theta) + 4.0f) + 30;
    p.base.y = roundPixel(280.0f + g.h) + 30;
    p.base.x = roundPixel(g.w / 2.0f - (g.R - g.h - 280.0f) * c / s) + 20;
    return p;
}

std::int64_t dotComparisonValue(int k, int zeroOffset) {
    return (static_cast<std::int64_t>(k) - zeroOffset) * 10;
}

FaceColour arcDotColour(int k, int zeroOffset, const LimitMarks& limits) {
    // Compared in double: exact for every float limit and every 64-bit value we make here.
    const double value = static_cast<double>(dotComparisonValue(k, zeroOffset));
    if (limits.highOn && value > static_cast<double>(limits.high)) return FaceColour::Red;
    if (limits.lowOn && value < static_cast<double>(limits.low)) return FaceColour::Red;
    return FaceColour::Black;
}

const std::vector<LabelPlace>& labelSet(const std::string& set, bool fixedMode) {
    static const std::vector<LabelPlace> four = {
        {0, "-40", -5, -7},   {10, "-30", -8, -6}, {20, "-20", -10, -5},
        {30, "-10", -10, -4}, {40, "0", -3, -4},   {50, "10", -5, -5},
        {60, "20", -8, -5},   {70, "30", -10, -6}, {80, "40", -12, -7}};
    static const std::vector<LabelPlace> six = {
        {0, "-60", -5, -7},   {15, "-45", -8, -6},  {30, "-30", -10, -5},
        {45, "-15", -10, -4}, {60, "0", -3, -4},    {75, "15", -5, -5},
        {90, "30", -8, -5},   {105, "45", -10, -6}, {120, "60", -11, -7}};
    static const std::vector<LabelPlace> two = {
        {0, "-20", -5, -7},  {5, "-15", -8, -6},  {10, "-10", -10, -5},
        {15, "-5", -10, -4}, {20, "0", -3, -4},   {25, "5", -5, -5},
        {30, "10", -8, -5},  {35, "15", -10, -6}, {40, "20", -12, -7}};
    static const std::vector<LabelPlace> thirtyFour = {
        {4, "-30", -8, -6}, {14, "-20", -10, -5}, {24, "-10", -10, -4}, {34, "0", -3, -4},
        {44, "10", -5, -5}, {54, "20", -8, -5},   {64, "30", -10, -6}};
    static const std::vector<LabelPlace> fixed = {
        {0, "-50", -5, -7},  {10, "-40", -8, -6}, {20, "-30", -10, -5}, {30, "-20", -10, -4},
        {40, "-10", -5, -4}, {50, "0", -3, -3},   {60, "10", -8, -5},   {70, "20", -8, -5},
        {80, "30", -9, -4},  {90, "40", -12, -9}, {100, "50", -14, -11}};
    static const std::vector<LabelPlace> none;
    if (fixedMode) return fixed;
    if (set == "4") return four;
    if (set == "6") return six;
    if (set == "2") return two;
    if (set == "34") return thirtyFour;
    return none;
}

bool divisionMark(const std::string& set, bool fixedMode, int i, FaceColour& colour) {
    if (fixedMode) {
        colour = FaceColour::Red;
        return i % 10 == 0;
    }
    if (set == "6") {
        colour = FaceColour::Red;
        return i % 15 == 0;
    }
    if (set == "34") {
        colour = FaceColour::Red;
        return i % 10 == 4;
    }
    if (set == "4") {
        // The tens of this set get a visible mark of their own.
        colour = FaceColour::Black;
        return i % 10 == 0;
    }
    return false;
}

FacePlan planFace(const ScaleGeometry& g, const FaceSettings& s) {
    FacePlan plan;
    const std::int64_t n = std::min<std::int64_t>(s.fixedMode ? 100 : s.divisions, MaxSteps);
    const auto& labels = labelSet(s.labelSet, s.fixedMode);
    for (std::int64_t i = 0; i <= n; ++i) {
        const float theta = scaleAngle(g, static_cast<float>(i), static_cast<float>(n));
        const Pixel mark = scalePoint(g, g.R + 6.0f, theta);
        const Pixel labelAt = scalePoint(g, g.R + 18.0f, theta);
        for (const auto& l : labels) {
            if (l.index == i) plan.labels.push_back({{labelAt.x + l.dx, labelAt.y + l.dy}, l.text});
        }
        FaceColour c = FaceColour::Black;
        if (divisionMark(s.labelSet, s.fixedMode, static_cast<int>(i), c))
            plan.marks.push_back({mark, 2, c});
    }
    const std::int64_t m =
        std::min<std::int64_t>(static_cast<std::int64_t>(s.divisions) * 10, MaxSteps);
    plan.arc.reserve(m >= 0 ? static_cast<size_t>(m + 1) : 0);
    for (std::int64_t k = 0; k <= m; ++k) {
        const float theta = scaleAngle(g, static_cast<float>(k), static_cast<float>(m));
        plan.arc.push_back({scalePoint(g, g.R + 3.0f, theta), 4,
                            arcDotColour(static_cast<int>(k), s.zeroOffset, s.limits)});
    }
    return plan;
}

} // namespace rd780::view
