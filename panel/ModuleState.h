#pragma once
// The window's module state, cut into the parts its panels share. Each panel is handed
// only the parts it reads or writes; the window keeps them together in one FcommState.
// Touched only on the GUI thread.
#include <string>

namespace rd780 {

// The frame text last decoded and the reading the decoder took from it.
struct ReadingState {
    std::string FrameHex;
    std::string ReadingText;
    float ReadingValue = 0.0f;
    std::string ReadingUnit;
    std::string ReadingCoupling;
    std::string ReadingAuto;
};

struct RecordState {
    double RecallTime = 0.0; // days since 1899-12-30, fraction is the time of day
};

// Scale settings, set once at start; the decoder, the scale and the chart read them.
struct ScaleState {
    std::string ScaleLabelSet;
    int OverloadValue = 0;
    int ScaleZeroOffset = 0;
    int BarOverloadPosition = 0;
    int ScaleDivisions = 0;
    bool ScaleFixedMode = false;
};

struct LimitState {
    float LimitHigh = 0.0f;
    float LimitLow = 0.0f;
};

} // namespace rd780
