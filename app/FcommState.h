#pragma once
// Module state of the main window's unit: everything that more than one part of the
// window reads or writes. Touched only on the GUI thread.
#include <string>

namespace rd780 {

struct FcommState {
    // Frame assembly and the current reading.
    std::string FrameHex;
    std::string ReadingText;
    float ReadingValue = 0.0f;
    std::string ReadingUnit;
    std::string ReadingCoupling;
    std::string ReadingAuto;

    // Link counters.
    int LinkIdleTicks = 0;
    std::string ReportChunk;
    bool ChunkPending = false;
    int UsbIdleReports = 0;
    int UsbPollReports = 0;

    // Recording.
    double RecallTime = 0.0; // days since 1899-12-30, fraction is the time of day
    int RecordNo = 0;
    int RecordLimit = 0;

    // Scale settings, set once by FormCreate.
    std::string ScaleLabelSet;
    int OverloadValue = 0;
    int ScaleZeroOffset = 0;
    int BarOverloadPosition = 0;
    int ScaleDivisions = 0;
    bool ScaleFixedMode = false;

    // Limit marks.
    float LimitHigh = 0.0f;
    float LimitLow = 0.0f;
};

} // namespace rd780
