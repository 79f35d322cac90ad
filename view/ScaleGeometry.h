#pragma once
// Geometry of the analog scale face, as plain functions so it can be checked without a
// window. All quantities are 32-bit floats; pixel coordinates are rounded half to even.
#include <cstdint>
#include <string>
#include <vector>

namespace rd780::view {

struct Pixel {
    int x = 0;
    int y = 0;
    friend bool operator==(const Pixel&, const Pixel&) = default;
};

// The face for a panel of the given size: margins 20 left and right, 30 top and bottom.
struct ScaleGeometry {
    float w = 0; // chord length
    float h = 0; // height of the arc above its chord
    float R = 0; // radius of the arc
    float A = 0; // sweep in degrees
    float S = 0; // start angle in degrees
};

ScaleGeometry scaleGeometry(int panelWidth, int panelHeight);

// Rounds half to even and saturates, so a huge or non-finite value never reaches an
// integer conversion.
int roundPixel(float v);
constexpr int PixelLimit = 1 << 20;

// Angle in radians of position t out of a full scale T.
float scaleAngle(const ScaleGeometry& g, float t, float T);

// The point at radius r and angle theta, in image pixels.
Pixel scalePoint(const ScaleGeometry& g, float r, float theta);

struct PointerLine {
    Pixel tip;
    Pixel base;
    friend bool operator==(const PointerLine&, const PointerLine&) = default;
};

// The pointer for position v (tenths of a division from the left end).
PointerLine pointerLine(const ScaleGeometry& g, int v, int divisions, bool fixedMode);

enum class FaceColour { Black, Red, White };

struct FaceLabel {
    Pixel at; // top left of the text
    std::string text;
};

struct FaceDot {
    Pixel at; // top left of the 2 by 2 ellipse
    int penWidth = 1;
    FaceColour colour = FaceColour::Black;
};

// What decides the colour of the arc dots.
struct LimitMarks {
    float high = 0;
    float low = 0;
    bool highOn = false;
    bool lowOn = false;
};

struct FaceSettings {
    std::string labelSet = "4";
    int divisions = 80;
    int zeroOffset = 400;
    bool fixedMode = false;
    LimitMarks limits;
};

// The reading a pointer standing on arc dot k would show, in the units of ReadingValue.
std::int64_t dotComparisonValue(int k, int zeroOffset);
FaceColour arcDotColour(int k, int zeroOffset, const LimitMarks& limits);

struct LabelPlace {
    int index;
    const char* text;
    int dx;
    int dy;
};
// The labels of a set at their division indexes; fixed mode has its own set.
const std::vector<LabelPlace>& labelSet(const std::string& set, bool fixedMode);
// The division mark at index i, if the set has one there.
bool divisionMark(const std::string& set, bool fixedMode, int i, FaceColour& colour);

struct FacePlan {
    std::vector<FaceLabel> labels;
    std::vector<FaceDot> marks; // division marks, pen width 2
    std::vector<FaceDot> arc;   // the arc dots, pen width 4
};

FacePlan planFace(const ScaleGeometry& g, const FaceSettings& s);

} // namespace rd780::view
